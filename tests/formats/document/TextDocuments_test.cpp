// HTML, RTF and MHT: header tests, end searches and progress. The UTF-16 end
// offsets are checked on real files in Carving_test.cpp.
#include <gtest/gtest.h>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/TextDocuments.h"
#include "support/Carving.h"

using trtest::Bytes;

namespace {

uint32_t Matches(CTypeRecovery& r, const std::vector<uint8_t>& bytes, size_t length = 0) {
  return r.IsHeaderMatched(bytes.data(), static_cast<uint32_t>(length ? length : bytes.size()), 0);
}

Bytes Mht(const std::string& boundary) {
  return Bytes().Text("From: <x>\r\nContent-Type: multipart/related; boundary=\"" + boundary + "\"\r\n");
}

}  // namespace

TEST(TextDocuments, HeaderTests) {
  CTypeRecoveryHTML html(nullptr, nullptr);
  const std::vector<uint8_t> page =
      Bytes{0xEF, 0xBB, 0xBF}.Text(" \r\n\t<!DOCTYPE html>\n<!-- saved copy -->\n<HTML lang=en>").PadTo(64, ' ');
  EXPECT_EQ(Matches(html, page), 1281u);
  EXPECT_EQ(Matches(html, page, 31), 0u);
  EXPECT_EQ(Matches(html, Bytes().Text("<head><title>no html tag first</title></head>").PadTo(64, ' ')), 0u);
  EXPECT_EQ(Matches(html, Bytes().Text("<!DOCTYPE html never closed").PadTo(40, ' ')), 0u);

  CTypeRecoveryRTF rtf(nullptr, nullptr);
  std::vector<uint8_t> doc = Bytes().Text("{\\rtf1\\ansi\\deff0 {\\fonttbl}}").PadTo(40, ' ');
  EXPECT_EQ(Matches(rtf, doc, 33), 280u);
  EXPECT_EQ(Matches(rtf, doc, 32), 0u);
  doc[5] = '2';
  EXPECT_EQ(Matches(rtf, doc), 0u);

  CTypeRecoveryMHT mht(nullptr, nullptr);
  EXPECT_EQ(Matches(mht, Mht("abc")), 282u);
  EXPECT_EQ(Matches(mht, Bytes().Text("From: <x>\r\nSubject: no multipart here at all\r\n")), 0u);
}

TEST(TextDocuments, CraftedFilesEndWhereTheirRulesSay) {
  const Bytes rtf = Bytes().Text("{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}").PadTo(900, 'w').Text("\\par }");
  // A backslash ending a strip escapes the next strip's first byte.
  const Bytes escaped = Bytes().Text("{\\rtf1 text").PadTo(511, 't').Text("\\} still inside").PadTo(700, 'u').Text("}");
  const Bytes shortMht = Mht("short").Text("\r\n--short\r\n").PadTo(700, 'm').Text("\r\n--short--\r\n");
  // Forty-one boundary bytes fill the field, no closing quote inside.
  const std::string longBoundary(41, 'B');
  const Bytes longMht = Mht(longBoundary).PadTo(800, 'm').Text("\r\n--" + longBoundary + "--\r\n");
  crafted::ExpectRuns({
      {"html that never closes", {{1281, 2000}}, Bytes().Text("<html>").PadTo(6000, 'x'), 512, 0, {{0, 2048, 0, "htm"}}},
      {"rtf: the outermost group's close", {{280}}, Bytes(rtf).Text("}}}}").PadTo(1536, 'q'), 512, 0, {{0, rtf.size(), 1}}},
      {"rtf: escape across strips", {{280}}, Bytes(escaped).PadTo(1536, 'v'), 512, 0, {{0, escaped.size(), 1}}},
      // A short boundary never recurs: the zero byte and 44 after it.
      {"mht: first zero byte", {{282}}, Bytes(shortMht).Zeros(1).PadTo(1536, 'n'), 512, 512, {{0, shortMht.size() + 45, 1}}},
      {"mht: 41-byte boundary", {{282}}, Bytes(longMht).PadTo(1536, 'n'), 512, 512, {{0, longMht.size(), 1}}},
  });
}

TEST(TextDocuments, ProgressRecordsKeepUtf16FlagsBraceDepthAndBoundary) {
  const Bytes html = Bytes{0xFF, 0xFE}.Raw(crafted::Wide("<html>" + std::string(900, 'c') + "</html>"));
  const Bytes rtf = Bytes().Text("{\\rtf1{").PadTo(1500, 'r').Text("}}");
  const std::string boundary(41, 'K');
  const Bytes mht = Bytes().Text("From: x\r\nContent-Type: multipart/related; boundary=\"" + boundary + "\"\r\n")
                        .PadTo(1400, 'm').Text("--" + boundary + "--\r\n");
  const std::tuple<uint32_t, std::vector<uint8_t>, size_t> cases[] = {
      {1281, Bytes(html).PadTo(2048, 0x61), html.size() + 4},
      {280, Bytes(rtf).PadTo(2048, '{'), rtf.size()},
      {282, Bytes(mht).PadTo(2048, 'z'), mht.size()}};
  for (const auto& [code, image, size] : cases) {
    crafted::ExpectResumed({"text", {{code}}, image, 512, 0, {{0, size, 1}}}, 1024);
  }
}
