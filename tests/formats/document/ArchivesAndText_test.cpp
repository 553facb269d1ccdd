// PDF end search ("%%EOF", incremental updates, broken "endobj"), the RAR 4
// block walk, the fixed-size copy cycle through the 7-Zip and cabinet
// classes, and the HTML, RTF and MHT end searches. The UTF-16 end offsets of
// HTML are checked on real files in Carving_test.cpp.
#include <gtest/gtest.h>

#include "formats/document/7Z.h"
#include "formats/document/AI.h"
#include "formats/document/CAB.h"
#include "formats/document/CraftedDocuments.h"
#include "formats/document/RAR.h"
#include "formats/document/TextDocuments.h"
#include "support/Carving.h"

using crafted::Found;
using trtest::Bytes;

namespace {
Bytes Pdf() {
  Bytes b;
  b.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<</Type/Catalog>>\nendobj\n2 0 obj\n<<>>\nendobj\n");
  return b.Text("3 0 obj\n<</Length 99999>>stream\n");  // content follows
}
const std::string kEnd = "\nendstream\nendobj\nstartxref\n9\n%%EOF\n";

// Marker block and a 13-byte archive header.
Bytes Rar() { return Bytes().Text("Rar!").Raw({0x1A, 0x07, 0x00}).U16LE(0x90CF).U8(0x73).U16LE(0).U16LE(13).Zeros(6); }
// A stored file block: 32-byte header (name included) and its data.
Bytes& FileBlock(Bytes& b, uint32_t dataSize) {
  return b.U16LE(0).U8(0x74).U16LE(0x8000).U16LE(32).U32LE(dataSize).Zeros(21).Fill(dataSize, 0xAB);
}
Bytes& EndBlock(Bytes& b) { return b.U16LE(0x3DC4).U8(0x7B).U16LE(0x4000).U16LE(7); }

std::vector<uint8_t> Cabinet(uint32_t size) { return Bytes().Text("MSCF").U32LE(0).U32LE(size).PadTo(size, 0xC5); }
std::vector<uint8_t> SevenZip(uint64_t nextOffset, uint64_t nextSize) {
  return Bytes{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4}.U32LE(0x12345678).U64LE(nextOffset).U64LE(nextSize)
      .U32LE(0).PadTo(32 + nextOffset + nextSize, 0x5A);
}


Bytes Mht(const std::string& boundary) {
  return Bytes().Text("From: <x>\r\nContent-Type: multipart/related; boundary=\"" + boundary + "\"\r\n");
}

}  // namespace

TEST(ArchivesAndText, HeaderTests) {
  CTypeRecoveryAI pdf(nullptr, nullptr);
  CTypeRecoveryRAR rar(nullptr, nullptr);
  CTypeRecovery7Z seven(nullptr, nullptr);
  CTypeRecoveryCAB cab(nullptr, nullptr);
  CTypeRecoveryHTML html(nullptr, nullptr);
  CTypeRecoveryRTF rtf(nullptr, nullptr);
  CTypeRecoveryMHT mht(nullptr, nullptr);
  const std::vector<uint8_t> page =
      Bytes{0xEF, 0xBB, 0xBF}.Text(" \r\n\t<!DOCTYPE html>\n<!-- saved copy -->\n<HTML lang=en>").PadTo(64, ' ');
  const std::vector<uint8_t> doc = Bytes().Text("{\\rtf1\\ansi\\deff0 {\\fonttbl}}").PadTo(40, ' ');
  std::vector<uint8_t> otherVersion = doc;
  otherVersion[5] = '2';
  std::vector<uint8_t> noArchiveHeader = Rar().PadTo(64);
  noArchiveHeader[9] = 0x74;
  const std::vector<uint8_t> wraps = Bytes{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4}.U32LE(0)
      .U64LE(~uint64_t{0} - 40).U64LE(9).PadTo(64);  // offset + size + 32 == 0
  const std::tuple<CTypeRecovery*, std::vector<uint8_t>, uint32_t, uint32_t> cases[] = {
      {&pdf, Pdf(), 17, 276}, {&pdf, Pdf(), 16, 0}, {&pdf, Bytes().Text("%PDF1.4 and more text here"), 26, 0},
      {&rar, Rar().PadTo(64), 21, 1794}, {&rar, Rar().PadTo(64), 20, 0}, {&rar, noArchiveHeader, 64, 0},
      {&rar, Bytes().Text("Rar!").Raw({0x1A, 0x07, 0x01, 0x00}).PadTo(64, 0x73), 64, 0},  // RAR 5
      // The 7-Zip start header alone (an empty next header) is a whole archive.
      {&seven, Bytes().Raw(SevenZip(0, 0)).PadTo(64), 37, 1795}, {&seven, Bytes().Raw(SevenZip(0, 0)).PadTo(64), 36, 0},
      {&seven, wraps, 64, 0}, {&cab, Cabinet(64), 17, 1797}, {&cab, Cabinet(64), 16, 0},
      // A byte-order mark, white space, a doctype and a comment may come before an upper-case tag.
      {&html, page, 64, 1281}, {&html, page, 31, 0},
      {&html, Bytes().Text("<head><title>no html tag first</title></head>").PadTo(64, ' '), 64, 0},
      {&html, Bytes().Text("<!DOCTYPE html never closed").PadTo(40, ' '), 40, 0},
      {&rtf, doc, 33, 280}, {&rtf, doc, 32, 0}, {&rtf, otherVersion, 40, 0},
      {&mht, Mht("abc"), 60, 282}, {&mht, Bytes().Text("From: <x>\r\nSubject: no multipart here at all\r\n"), 46, 0}};
  for (const auto& [r, bytes, length, code] : cases) EXPECT_EQ(r->IsHeaderMatched(bytes.data(), length, 0), code) << code << " " << length;
  EXPECT_EQ(seven.IsHeaderMatched(nullptr, 64, 0), 0u);
}

TEST(ArchivesAndText, CraftedFilesEndWhereTheirRulesSay) {
  const Bytes pdf = Pdf();
  Bytes twoPdfs = Bytes(pdf).PadTo(1024, ' ');
  const Bytes second = Bytes(pdf).PadTo(700, ' ').Text(kEnd);
  twoPdfs.Raw(second).PadTo(2048, 0);

  Bytes rar = Rar();
  EndBlock(FileBlock(FileBlock(rar, 1500), 10));
  Bytes unknown = Rar();
  FileBlock(unknown, 100).U16LE(0).U8(0x20).U16LE(0).U16LE(7);  // not a RAR block
  Bytes zeroStep = Rar();
  zeroStep.U16LE(0).U8(0x74).U16LE(0).U16LE(0).U32LE(0);  // header size 0, data 0

  std::vector<uint8_t> cut7z = crafted::Slice(Bytes().Raw(SevenZip(4000, 100)), 0, 1024);  // stated 4132 bytes
  const std::vector<uint8_t> next7z = SevenZip(1000, 10);
  cut7z.insert(cut7z.end(), next7z.begin(), next7z.end());
  cut7z.resize(4096, 0x11);

  const auto pdfWith = [&](const std::string& tail, size_t padTo, uint8_t fill) {
    return Bytes(pdf).Text(tail).PadTo(padTo, fill);
  };
  const std::string eofCrLf = "\nendstream\nendobj\nxref\n0 3\ntrailer\n<<>>\nstartxref\n9\n%%EOF\r\n";
  const std::string update = kEnd + "5 0 obj\n<<>>\nendobj\nxref\n3 1\ntrailer\n<<>>\nstartxref\n99\n%%EOF\n";
  crafted::ExpectRuns({
      {"pdf: EOF, CR LF and zeros", {{276}}, pdfWith(eofCrLf, 1024, 0), 512, 512, {{0, pdf.size() + eofCrLf.size(), 1}}},
      {"pdf: incremental update to the last EOF", {{276}}, pdfWith(update, 512, 0), 512, 0, {{0, pdf.size() + update.size(), 1}}},
      {"pdf: endobj then trailer is broken, cut with the whole strip", {{276}},
       Bytes(pdf).PadTo(600, ' ').Text("\nendstream\nendobj\ntrailer\n<<>>\n").PadTo(1536, 'x'), 512, 0, {{0, 1024, 0}}},
      {"pdf: broken endobj in the first strip discards it", {{276}},
       pdfWith("\nendstream\nendobj\n%garbage\n", 1024, 'x'), 512, 0, {}},
      {"pdf: second header cuts the first", {{276}}, twoPdfs, 512, 0, {{0, 1024, 0}, {1024, second.size(), 1}}},
      {"pdf: size limit", {{276, 1500}}, Bytes(pdf).PadTo(4096, ' '), 512, 0, {{0, 1536, 0}}},
      {"rar: blocks larger than strips", {{1794}}, Bytes(rar).Fill(700, 0x33), 512, 0, {{0, rar.size(), 1}}},
      {"rar: unknown block ends at the walked size", {{1794}}, Bytes(unknown).PadTo(1024, 0x66), 512, 0,
       {{0, unknown.size() - 7, 1}}},
      {"rar: zero step is a broken chain", {{1794}}, Bytes(zeroStep).PadTo(2048, 0x77), 512, 0, {}},
      {"cab: ends inside its first strip", {{1797}}, trtest::DiskImage().File(Cabinet(300)).Random(4).bytes(), 512, 512,
       {{0, 300, 1, "cab"}}},
      {"7z: start header alone", {{1795}}, Bytes().Raw(SevenZip(0, 0)).PadTo(64), 64, 0, {{0, 32, 1}}},
      {"7z: new header cuts the file in progress", {{1795}}, cut7z, 512, 512, {{0, 1024, 0}, {1024, 1042, 1}}},
  });
  // On disk: the cabinet cut in its first strip, the strip holding an
  // unknown RAR block written whole.
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{1797}, {1794}}, Bytes().Raw(Cabinet(300)).PadTo(512, 0x21).Raw(unknown).PadTo(1536, 0x66), 512, 0);
  EXPECT_EQ(dir.Read("cab/00000.cab"), Cabinet(300));
  EXPECT_EQ(dir.Read("rar/00000.rar"), crafted::Slice(Bytes().Raw(unknown).PadTo(512, 0x66), 0, 512));
}

TEST(ArchivesAndText, EndsJudgedAtTheLookaheadsEdge) {
  uint32_t error = 0;
  // "%%EOF" CR LF at the strip's end: whatever the lookahead shows, the end
  // is judged when the next strip brings the bytes behind it, and lies
  // exactly after the line end, also when that runs into the next strip.
  for (uint32_t lookahead : {0u, 88u}) {
    const std::vector<uint8_t> more = Bytes(Pdf().PadTo(512 - 7, ' ').Text("%%EOF\r\n")).Text("\x01\x02").PadTo(1024, 0);
    CTypeRecoveryAI q(nullptr, nullptr);
    EXPECT_EQ(q.Analyse(0, more.data(), 512, lookahead, 276, &error), 0u);
    EXPECT_EQ(q.Analyse(512, more.data() + 512, 512, 0, 0, &error), 1u);
    EXPECT_EQ(q.GetBytesWritten(), 512u);
    const std::vector<uint8_t> into = Pdf().PadTo(512 - 5, ' ').Text("%%EOF\r\n\r\n").PadTo(1024, 0);
    CTypeRecoveryAI s(nullptr, nullptr);
    EXPECT_EQ(s.Analyse(0, into.data(), 512, lookahead, 276, &error), 0u);
    EXPECT_EQ(s.Analyse(512, into.data() + 512, 512, 0, 0, &error), 1u);
    EXPECT_EQ(s.GetBytesWritten(), 516u);
  }
  // A RAR end block beginning 3 bytes before the strip's end.
  Bytes rar = Rar();
  EndBlock(FileBlock(rar, 512 - 3 - 20 - 32));
  ASSERT_EQ(rar.size(), 516u);
  rar.PadTo(1024, 0x44);
  CTypeRecoveryRAR r(nullptr, nullptr);
  EXPECT_EQ(r.Analyse(0, rar.data(), 512, 512, 1794, &error), 1u);
  EXPECT_EQ(r.GetBytesWritten(), 516u);
  EXPECT_EQ(r.GetExpectedSize(), 516u);
}

TEST(ArchivesAndText, TextEndsWhereTheirRulesSay) {
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

TEST(ArchivesAndText, ProgressRecordsKeepRarCursorUtf16FlagsBraceDepthAndBoundary) {
  Bytes rar = Rar();
  EndBlock(FileBlock(rar, 2000));
  const size_t total = rar.size();
  crafted::ExpectResumed({"rar", {{1794}}, rar.PadTo(3072, 0x12), 1024, 0, {{0, total, 1}}}, 1024);
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
