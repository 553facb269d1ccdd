// HTML, RTF and MHT: header tests and end searches.
#include <gtest/gtest.h>

#include <tuple>

#include "formats/document/TextDocuments.h"
#include "support/Carving.h"

using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

Bytes Utf16(const std::string& text, bool bigEndian) {
  Bytes b;
  for (unsigned char c : text) bigEndian ? b.U16BE(c) : b.U16LE(c);
  return b;
}

std::string HtmlPage(const std::string& body) {
  return "<html>\r\n<head><title>t</title></head>\r\n<body>" + body + "</body>\r\n</html>\r\n";
}

}  // namespace

TEST(Html, ByteOrderMarkWhiteSpaceDoctypeAndCommentBeforeUpperCaseTag) {
  CTypeRecoveryHTML r(nullptr, nullptr);
  Bytes page;
  page.Raw({0xEF, 0xBB, 0xBF}).Text(" \r\n\t<!DOCTYPE html>\n<!-- saved copy -->\n<HTML lang=en>");
  page.PadTo(64, ' ');
  EXPECT_EQ(r.IsHeaderMatched(page.data(), 64, 0), 1281u);
  EXPECT_EQ(r.IsHeaderMatched(page.data(), 31, 0), 0u);
  Bytes plain;
  plain.Text("<head><title>no html tag first</title></head>").PadTo(64, ' ');
  EXPECT_EQ(r.IsHeaderMatched(plain.data(), 64, 0), 0u);
  Bytes unclosed;
  unclosed.Text("<!DOCTYPE html never closed").PadTo(40, ' ');
  EXPECT_EQ(r.IsHeaderMatched(unclosed.data(), 40, 0), 0u);
}

TEST(Html, EightBitFileEndsTwoBytesAfterItsClosingTag) {
  Bytes file;
  file.Text("<!DOCTYPE html>\n" + HtmlPage(std::string(700, 'a')));
  file.vec().resize(file.size() - 2);  // the tag is the file's last text
  const size_t expected = file.size() + 2;
  file.Text("ZZ").PadTo(2048, 0x20);
  const auto reports = ReportRun({{1281}}, file, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, expected);
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[0].extension, "htm");
}

TEST(Html, Utf16FilesOfBothByteOrdersEndTwoUnitsAfterTheTag) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
    Bytes file;
    bigEndian ? file.Raw({0xFE, 0xFF}) : file.Raw({0xFF, 0xFE});
    file.Raw(Utf16("\r\n<!-- c -->\r\n<Html>" + std::string(400, 'b') + "</HTML>", bigEndian));
    const size_t expected = file.size() + 4;
    file.Raw(Utf16("\r\n", bigEndian)).PadTo(2048, 0x41);

    CTypeRecoveryHTML r(nullptr, nullptr);
    EXPECT_EQ(r.IsHeaderMatched(file.data(), 512, 0), 1281u);
    const auto reports = ReportRun({{1281}}, file, 512, 512);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].size, expected);
  }
}

TEST(Html, TextThatNeverClosesIsCutAtTheMaximumSize) {
  Bytes file;
  file.Text("<html>").PadTo(6000, 'x');
  const auto reports = ReportRun({{1281, 2000}}, file, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_EQ(CTypeRecoveryHTML(nullptr, nullptr).GetMaxFileSize(), 0x100000u);
}

TEST(Rtf, HeaderNeedsVersionOneAndThirtyThreeBytes) {
  CTypeRecoveryRTF r(nullptr, nullptr);
  Bytes good;
  good.Text("{\\rtf1\\ansi\\deff0 {\\fonttbl}}").PadTo(40, ' ');
  EXPECT_EQ(r.IsHeaderMatched(good.data(), 33, 0), 280u);
  EXPECT_EQ(r.IsHeaderMatched(good.data(), 32, 0), 0u);
  std::vector<uint8_t> other = good;
  other[5] = '2';
  EXPECT_EQ(r.IsHeaderMatched(other.data(), 40, 0), 0u);
}

TEST(Rtf, OutermostGroupClosingEndsTheFile) {
  Bytes file;
  file.Text("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}").PadTo(900, 'w').Text("\\par }");
  const size_t size = file.size();
  file.Text("}}}}").PadTo(1536, 'q');
  trtest::TempDir dir;
  FolderRun(dir, {{280}}, file, 512, 0);
  EXPECT_EQ(dir.Read("rtf/00000.rtf"), trtest::Prefix(file, size));
}

TEST(Rtf, BackslashEndingAStripEscapesTheNextStripsFirstByte) {
  Bytes file;
  file.Text("{\\rtf1 text").PadTo(511, 't').Text("\\");
  file.Text("} still inside").PadTo(700, 'u').Text("}");
  const size_t size = file.size();
  file.PadTo(1536, 'v');
  const auto reports = ReportRun({{280}}, file, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, size);
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Mht, HeaderNeedsFromAndABoundary) {
  CTypeRecoveryMHT r(nullptr, nullptr);
  Bytes good;
  good.Text("From: <x>\r\nContent-Type: multipart/related; boundary=\"abc\"\r\n");
  EXPECT_EQ(r.IsHeaderMatched(good.data(), static_cast<uint32_t>(good.size()), 0), 282u);
  Bytes none;
  none.Text("From: <x>\r\nSubject: no multipart here at all\r\n");
  EXPECT_EQ(r.IsHeaderMatched(none.data(), static_cast<uint32_t>(none.size()), 0), 0u);
}

TEST(Mht, ShortBoundaryNeverRecursSoTheFirstZeroByteEndsTheFile) {
  Bytes file;
  file.Text("From: <x>\r\nContent-Type: multipart/related; boundary=\"short\"\r\n\r\n--short\r\n");
  file.PadTo(700, 'm').Text("\r\n--short--\r\n");
  const size_t zeroAt = file.size();
  file.Zeros(1).PadTo(1536, 'n');
  const auto reports = ReportRun({{282}}, file, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, zeroAt + 45);  // the zero byte and 44 after it
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Mht, FortyOneBoundaryBytesFollowedByTheCloseEndTheFile) {
  const std::string boundary(41, 'B');  // fills the 41 bytes, no closing quote inside
  Bytes file;
  file.Text("From: <x>\r\nContent-Type: multipart/related; boundary=\"" + boundary + "\"\r\n");
  file.PadTo(800, 'm').Text("\r\n--" + boundary + "--\r\n");
  const size_t size = file.size();
  file.PadTo(1536, 'n');
  trtest::TempDir dir;
  FolderRun(dir, {{282}}, file, 512, 512);
  EXPECT_EQ(dir.Read("mht/00000.mht"), trtest::Prefix(file, size));
}

TEST(TextDocuments, ProgressRecordsKeepUtf16FlagsBraceDepthAndBoundary) {
  Bytes html;
  html.Raw({0xFF, 0xFE}).Raw(Utf16("<html>" + std::string(900, 'c') + "</html>", false));
  const size_t htmlSize = html.size() + 4;
  html.PadTo(2048, 0x61);
  Bytes rtf;
  rtf.Text("{\\rtf1{").PadTo(1500, 'r').Text("}}");
  const size_t rtfSize = rtf.size();
  rtf.PadTo(2048, '{');
  const std::string boundary(41, 'K');
  Bytes mht;
  mht.Text("From: x\r\nContent-Type: multipart/related; boundary=\"" + boundary + "\"\r\n");
  mht.PadTo(1400, 'm').Text("--" + boundary + "--\r\n");
  const size_t mhtSize = mht.size();
  mht.PadTo(2048, 'z');
  for (const auto& c : {std::make_tuple(1281u, &html, htmlSize), std::make_tuple(280u, &rtf, rtfSize),
                        std::make_tuple(282u, &mht, mhtSize)}) {
    const auto reports = trtest::ResumedRun({{std::get<0>(c)}}, *std::get<1>(c), 512, 0, 1024);
    ASSERT_EQ(reports.size(), 1u) << std::get<0>(c);
    EXPECT_EQ(reports[0].size, std::get<2>(c)) << std::get<0>(c);
    EXPECT_EQ(reports[0].complete, 1u) << std::get<0>(c);
  }
}
