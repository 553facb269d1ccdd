// The fixed-size and end-marker formats: header fields that must hold (that a
// plain file of each type passes is checked for every row in tests/verify),
// size rules that are not a plain field (RIFF padding, mail-store versions,
// disc images, fonts), the end-marker cycle's markers, guard bytes, parts cut
// to what is readable, maxima and new headers, and the formats whose end is
// handed to the host even in folder mode.
#include <gtest/gtest.h>

#include <algorithm>

#include <memory>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/EndMarkerDocuments.h"
#include "formats/document/FixedSizeDocuments.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::Bytes;
using trtest::ReportRun;

namespace {
int32_t Verdict(std::vector<uint8_t> bytes, const char* extension, uint32_t length) {
  bytes.resize(std::max<size_t>(length, 512), 0x2E);
  return TypeRecovery_IsFileHeaderMatched(bytes.data(), length, trtest::U16(extension).c_str());
}

// A primary volume descriptor of blocks x blockSize bytes.
std::vector<uint8_t> VolumeDescriptor(uint32_t blocks, uint16_t blockSize) {
  Bytes b;
  b.U8(1).Text("CD001").U8(1).U8(0).Fill(32, ' ').Text("CRAFTED").Fill(25, ' ').Zeros(8);
  b.U32LE(blocks).U32BE(blocks).PadTo(128).U16LE(blockSize).U16BE(blockSize);  // volume space size at 80
  return b.PadTo(2048, 0x20);
}

// A TrueType offset table (with the search fields its count gives) whose
// records, tagged in ascending order, place the tables where given.
std::vector<uint8_t> TrueType(const std::vector<std::pair<uint32_t, uint32_t>>& tables, const char* firstTag = "DSIG") {
  Bytes b;
  uint16_t selector = 0;
  while ((2u << selector) <= tables.size()) ++selector;
  const uint16_t range = static_cast<uint16_t>(16u << selector);
  b.U32BE(0x00010000).U16BE(static_cast<uint16_t>(tables.size())).U16BE(range).U16BE(selector);
  b.U16BE(static_cast<uint16_t>(tables.size() * 16 - range));
  for (size_t i = 0; i < tables.size(); ++i)
    b.Text(i == 0 ? firstTag : (std::string("tb") + char('a' + i) + "x")).U32BE(0).U32BE(tables[i].first).U32BE(tables[i].second);
  return b.PadTo(std::max<size_t>(b.size(), 128), 0);
}

std::vector<uint8_t> Strip(std::vector<uint8_t> bytes, size_t size, uint8_t fill = 0x2E) {
  bytes.resize(size, fill);
  return bytes;
}

}  // namespace

TEST(DocumentHeaders, FieldsThatMustHoldAndThoseThatMayVary) {
  // The byte at "at" is set to value.
  struct Case { const char* extension; std::vector<uint8_t> file; size_t at; uint8_t value; int32_t verdict; };
  const Case cases[] = {
      {"cdr", crafted::Cdr(600), 8, 'c', 1},  // form type case ignored
      {"chm", crafted::Chm(600), 120, 'X', -1}, {"max", crafted::MaxPp(600), 5, 0x1B, -1},
      {"hlp", crafted::Hlp(600), 8, 0, -1}, {"one", crafted::One(600), 15, 0, -1},
      {"pst", crafted::Pst(23, 600), 15, 2, -1}, {"wpd", crafted::Wpd(600), 9, 0x2C, 1},
      {"wpd", crafted::Wpd(600), 9, 0x0B, -1},
      // The major version must be 0, 2, 3 or 4.
      {"wpd", crafted::Wpd(600), 10, 0, 1}, {"wpd", crafted::Wpd(600), 10, 1, -1},
      {"wpd", crafted::Wpd(600), 10, 3, 1}, {"wpd", crafted::Wpd(600), 10, 4, 1},
      {"wpd", crafted::Wpd(600), 10, 5, -1}, {"dex", crafted::Dex(600), 3, 0, -1},
      {"dex", crafted::Dex(0x10000), 34, 0, -1},  // a zero size
      {"dat", crafted::Dat(600), 26, '1', -1},    // version 5.2 only
      {"dat", crafted::Dat(0x10000), 30, 0, -1},  // a zero size
      {"mb", crafted::Mb(600), 12, 'f', 1},       // "mayafor4" case ignored
      {"mb", crafted::Mb(600), 15, '5', -1},
      {"drw", crafted::Drw(), 13, 'X', -1}, {"gho", crafted::Gho(), 12, 1, -1},  // "NG" at 12; u32 at 12 is 0
      {"qcd", crafted::Qcd(), 9, 'x', -1}, {"qcd", crafted::Qcd(), 15, 1, -1},  // version digits; byte 15 zero
      {"swi", crafted::Swi(), 22, 'y', -1}, {"gp5", crafted::Gp5(), 21, '4', -1},  // the "x" after the name; version 5 only
      {"exb", crafted::Exb(), 17, '!', -1}, {"vfb", crafted::Vfb(), 4, 0x32, -1},  // "s." at 16; version word
      {"dxf", crafted::Dxf(), 0, '1', -1}, {"dwg", crafted::Dwg(64), 5, '0', -1},  // "9" or space first; version digits
      {"oci", trtest::Bytes().Text("OPIM").U32LE(49), 0, 'O', -1},  // a 48-byte first body only
      // Other spellings of accepted headers.
      {"url", trtest::Bytes().Text("[{000214A0-0000-0000-C000-000000000046}]\r\nURL=x"), 0, '[', 1},
      {"dxf", trtest::Bytes().Text("999\ndxflib 3.17\n  0\nSECTION"), 0, '9', 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = c.file;
    bytes.resize(std::max<size_t>(bytes.size(), c.at + 1), 0x2E);
    bytes[c.at] = c.value;
    EXPECT_EQ(Verdict(bytes, c.extension, 512), c.verdict) << c.extension << " " << c.at << " " << int{c.value};
  }
}

TEST(DocumentHeaders, ShortestBuffersAccepted) {
  const std::vector<uint8_t> dbx = {0xCF, 0xAD, 0x12, 0xFE, 0x00};
  EXPECT_EQ(Verdict(dbx, "dbx", 5), 1);
  EXPECT_EQ(Verdict(dbx, "dbx", 4), -1);
  EXPECT_EQ(Verdict(crafted::Cdr(600), "cdr", 12), 1);
  EXPECT_EQ(Verdict(crafted::Oci({}), "oci", 56), 1);
}

TEST(FixedSizeDocuments, OddRiffSizeIsCutWithoutPadByte) {
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{1544}}, trtest::DiskImage().File(crafted::Cdr(1001)).Random(4).bytes(), 512, 0);
  EXPECT_EQ(dir.Read("cdr/00000.cdr").size(), 1009u);
}

TEST(FixedSizeDocuments, MailStoreVersionSelectsTheSizeField) {
  // The newer format's size is 64-bit.
  std::vector<uint8_t> big = crafted::Pst(23, 600);
  const std::vector<uint8_t> size = Bytes().U64LE(0x123456789ULL);
  std::copy(size.begin(), size.end(), big.begin() + 184);
  const std::pair<std::vector<uint8_t>, uint64_t> cases[] = {
      {crafted::Pst(14, 1500), 1500}, {crafted::Pst(15, 1500), 1500}, {crafted::Pst(23, 1500), 1500},
      {crafted::Pst(36, 1500), 1500}, {big, 0x123456789ULL}};
  for (const auto& [file, expected] : cases) {
    CTypeRecoveryPST r(nullptr, nullptr);
    uint32_t error = 0;
    r.Analyse(0, file.data(), 512, 88, 0, &error);
    EXPECT_EQ(r.GetExpectedSize(), expected);
  }
}

TEST(FixedSizeDocuments, DiscImageOutputBeginsWithTheZeroSystemArea) {
  std::vector<uint8_t> image = VolumeDescriptor(20, 2048);  // 40960-byte image
  image.resize(12000, 0x61);
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{1798}}, image, 2048, 512);
  const std::vector<uint8_t> out = dir.Read("iso/00000.iso");
  ASSERT_EQ(out.size(), 40960u);
  EXPECT_EQ(crafted::Slice(out, 0, 32768), std::vector<uint8_t>(32768, 0));
  EXPECT_EQ(crafted::Slice(out, 32768, 8192), trtest::Prefix(image, 8192));
  // Report mode writes nothing and reports the whole image size from the descriptor on.
  image.resize(45000, 0x61);
  const auto reports = trtest::ReportRun({{1798}}, image, 2048, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 0u);
  EXPECT_EQ(reports[0].size, 40960u);
  EXPECT_EQ(reports[0].complete, 1u);
  // With no output open the size is the whole product.
  CTypeRecoveryISO r(nullptr, nullptr);
  uint32_t error = 0;
  r.Analyse(0, VolumeDescriptor(1000, 2048).data(), 2048, 0, 0, &error);
  EXPECT_EQ(r.GetExpectedSize(), 2048000u);
}

TEST(FixedSizeDocuments, TrueTypeNeedsAWellFormedDirectoryAndEndsWithItsLastTablePadded) {
  for (const auto& [end, size] : {std::pair<uint32_t, uint64_t>{1000, 1000}, {1001, 1004}}) {
    CTypeRecoveryTTF r(nullptr, nullptr);
    const std::vector<uint8_t> font = TrueType({{300, 100}, {400, end - 400}, {128, 20}});
    uint32_t error = 0;
    r.Analyse(0, font.data(), 128, 0, 0, &error);
    EXPECT_EQ(r.GetExpectedSize(), size) << end;
  }
  // Any first table will do (most fonts have no signature table).
  const std::vector<uint8_t> other = TrueType({{44, 100}, {148, 8}}, "GDEF");
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(other.data(), 128, u"ttf"), 1);
  // What a font directory cannot be: unsorted or unprintable tags, wrong
  // search fields, a table inside the directory or off its 4-byte boundary.
  const std::pair<size_t, uint8_t> breaks[] = {{28, 'A'}, {12, 1}, {7, 0x30}, {11, 1}, {23, 40}, {23, 45}};
  for (const auto& [at, value] : breaks) {
    std::vector<uint8_t> bad = other;
    bad[at] = value;
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(bad.data(), 128, u"ttf"), -1) << at;
  }
  // Every table record must lie inside the buffer.
  const std::vector<uint8_t> many = TrueType({{200, 1}, {204, 2}, {208, 3}, {212, 4}, {216, 5}, {220, 6}, {224, 7}});
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(many.data(), 124, u"ttf"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(many.data(), 123, u"ttf"), -1);
}

TEST(EndMarker, CraftedFilesEndWhereTheirRulesSay) {
  Bytes entity;
  entity.Text("  0\r\nSECTION\r\n  1\r\nTEXT WITH EOF INSIDE\r\n");
  const std::vector<uint8_t> dxf = crafted::FillTo(entity, 900).Text("  0\r\nEOF\r\n");
  // "EOF" needs 5 bytes from its first byte; here it stands 3 bytes before
  // the strip's end: judged with the next strip, whatever the lookahead.
  std::vector<uint8_t> guarded = Strip(Bytes().Text("  0\r\nSECTION\r\n"), 2048, 'd');
  std::copy_n("EOF", 3, guarded.begin() + 509);
  std::vector<crafted::Run> runs = {
      {"dxf: five bytes after the first EOF, even inside an entity", {{1546}},
       trtest::DiskImage().File(dxf).Random(2).bytes(), 512, 512, {{0, std::string(dxf.begin(), dxf.end()).find("EOF") + 5, 1}}},
      {"guard bytes beyond the strip", {{1546}}, guarded, 512, 0, {{0, 514, 1}}},
      {"guard bytes in the lookahead", {{1546}}, guarded, 512, 16, {{0, 514, 1}}},
      {"no marker: cut at the first strip at the maximum", {{1559, 2000}}, Strip(Strip(crafted::Pzf(), 600), 6000, 'p'),
       512, 512, {{0, 2048, 0}}},
  };
  // A new header cuts the file in progress, complete only for fonts and
  // projects.
  const std::tuple<uint32_t, std::vector<uint8_t>, uint32_t> cut[] = {
      {2318, crafted::Pfb(), 1}, {1041, crafted::Swi(), 1}, {1546, crafted::Dxf(), 0}, {1568, crafted::Vfb(), 0}};
  for (const auto& [code, file, cutComplete] : cut) {
    std::vector<uint8_t> image = Strip(Strip(file, 700), 1024, 'q');  // cut before its marker
    image.insert(image.end(), file.begin(), file.end());
    runs.push_back({"new header", {{code}}, Strip(image, 4096, 0), 512, 512, {{0, 1024, cutComplete}, {1024, file.size(), 1}}});
  }
  crafted::ExpectRuns(runs);
}

TEST(EndMarker, PartReachingPastTheStripIsTakenFromTheNextOne) {
  // The disk-image closing record is taken with 28 bytes but found with 12;
  // at 480 in a 490-byte strip it ends the file in the next strip, at 508,
  // whatever the lookahead shows.
  std::vector<uint8_t> strip = Strip(crafted::Gho(), 480, 'g');
  const std::vector<uint8_t> close = Bytes{0x2F, 0x01, 0x18, 0x00}.Zeros(8).Fill(20, 0x77);
  strip.insert(strip.end(), close.begin(), close.end());  // marker at 480
  strip.resize(600, 0x55);
  for (uint32_t lookahead : {0u, 2u, 13u, 110u}) {
    uint32_t error = 0;
    CTypeRecoveryGHO r(nullptr, nullptr);
    EXPECT_EQ(r.Analyse(0, strip.data(), 490, lookahead, 0, &error), 0u) << lookahead;
    EXPECT_TRUE(r.IsFileInProgress());
    EXPECT_EQ(r.Analyse(490, strip.data() + 490, 110, 0, 0, &error), 1u) << lookahead;
    EXPECT_EQ(r.GetBytesWritten(), 508u) << lookahead;
  }
}

TEST(EndMarker, SomeEndsAreHandedToTheHostEvenInFolderMode) {
  // The host has no callback and answers 0 to the formats that report.
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  const std::u16string rootText = dir.root();
  struct Case { std::unique_ptr<CTypeRecovery> recognizer; std::vector<uint8_t> file; uint32_t folderValue; };
  Case cases[] = {{std::make_unique<CTypeRecoveryCHM>(m, rootText.c_str()), crafted::Chm(300), 0},
                  {std::make_unique<CTypeRecoveryHLP>(m, rootText.c_str()), crafted::Hlp(300), 9},
                  {std::make_unique<CTypeRecoveryGHO>(m, rootText.c_str()), crafted::Gho(), 0},
                  {std::make_unique<CTypeRecoveryVFB>(m, rootText.c_str()), crafted::Vfb(), 9}};
  for (Case& c : cases) {
    const std::vector<uint8_t> strip = Strip(c.file, 2048, 0);
    uint32_t error = 0;
    c.recognizer->SetTypeFolderValue(9);
    EXPECT_EQ(c.recognizer->Analyse(0, strip.data(), 2048, 0, 0, &error), 1u);
    EXPECT_EQ(c.recognizer->GetTypeFolderValue(), c.folderValue);
    EXPECT_EQ(error, 0u);
  }
  for (Case& c : cases) c.recognizer.reset();
  TypeRecovery_CloseManager(m);
}
