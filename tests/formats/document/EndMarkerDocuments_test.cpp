// The end-marker cycle and its fourteen format rows.
#include <gtest/gtest.h>

#include <functional>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/EndMarkerDocuments.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

struct Row {
  const char* name;
  uint32_t code;
  const char* extension;
  std::function<std::vector<uint8_t>()> make;
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"VCF", 2306, "vcf", [] { return crafted::Vcard(); }},
      {"VNT", 2307, "vnt", crafted::Vnote},
      {"DRW", 2329, "drw", crafted::Drw},
      {"GHO", 1799, "gho", crafted::Gho},
      {"DXF", 1546, "dxf", crafted::Dxf},
      {"SDR", 1558, "sdr", crafted::Sdr},
      {"PZF", 1559, "pzf", crafted::Pzf},
      {"PFB", 2318, "pfb", crafted::Pfb},
      {"VFB", 1568, "vfb", crafted::Vfb},
      {"GP5", 2327, "gp5", crafted::Gp5},
      {"QCD", 1554, "qcd", crafted::Qcd},
      {"SWI", 1041, "swi", crafted::Swi},
      {"EXB", 1551, "exb", crafted::Exb},
      {"URL", 1282, "url", crafted::Url},
  };
  return rows;
}

std::vector<uint8_t> Strip(std::vector<uint8_t> bytes, size_t size, uint8_t fill = 0x2E) {
  bytes.resize(size, fill);
  return bytes;
}

}  // namespace

TEST(EndMarker, HeaderTestsNeedTheirMinimumLengthAndEveryField) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> header = Strip(row.make(), 128);
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 128, trtest::U16(row.extension).c_str()), 1);
    // Too short for the row's minimum: 12 bytes never pass.
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 12, trtest::U16(row.extension).c_str()), -1);
  }
  // Single fields that must hold.
  auto rejects = [](std::vector<uint8_t> bytes, size_t at, uint8_t value, const char* ext) {
    bytes = Strip(bytes, 128);
    if (TypeRecovery_IsFileHeaderMatched(bytes.data(), 128, trtest::U16(ext).c_str()) != 1) return false;
    bytes[at] = value;
    return TypeRecovery_IsFileHeaderMatched(bytes.data(), 128, trtest::U16(ext).c_str()) == -1;
  };
  EXPECT_TRUE(rejects(crafted::Drw(), 13, 'X', "drw"));           // "NG" at 12
  EXPECT_TRUE(rejects(crafted::Gho(), 12, 1, "gho"));             // u32 at 12 is 0
  EXPECT_TRUE(rejects(crafted::Qcd(), 9, 'x', "qcd"));            // version digits
  EXPECT_TRUE(rejects(crafted::Qcd(), 15, 1, "qcd"));             // byte 15 zero
  EXPECT_TRUE(rejects(crafted::Swi(), 22, 'y', "swi"));           // the "x" after the name
  EXPECT_TRUE(rejects(crafted::Gp5(), 21, '4', "gp5"));           // version 5 only
  EXPECT_TRUE(rejects(crafted::Exb(), 17, '!', "exb"));           // "s." at 16
  EXPECT_TRUE(rejects(crafted::Vfb(), 4, 0x32, "vfb"));           // version word
  EXPECT_TRUE(rejects(crafted::Dxf(), 0, '1', "dxf"));            // "9" or space first
  // The other spellings of the accepted headers.
  const std::vector<uint8_t> classId =
      Strip(Bytes().Text("[{000214A0-0000-0000-C000-000000000046}]\r\nURL=x"), 64);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(classId.data(), 64, u"url"), 1);
  const std::vector<uint8_t> comment = Strip(Bytes().Text("999\ndxflib 3.17\n  0\nSECTION"), 64);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(comment.data(), 64, u"dxf"), 1);
}

TEST(EndMarker, VcardOfSeveralCardsEndsAfterTheLastOne) {
  const std::vector<uint8_t> file = crafted::Vcard(3);  // cards cross strip ends
  DiskImage image;
  image.File(file).Random(3);
  const auto reports = ReportRun({{2306}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, file.size());
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(EndMarker, DxfEndsFiveBytesAfterTheFirstEofEvenInsideAnEntity) {
  Bytes b;
  b.Text("  0\r\nSECTION\r\n  1\r\nTEXT WITH EOF INSIDE\r\n");
  crafted::FillTo(b, 900).Text("  0\r\nEOF\r\n");
  const std::vector<uint8_t> file = b;
  const std::string text(file.begin(), file.end());
  DiskImage image;
  image.File(file).Random(2);
  const auto reports = ReportRun({{1546}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, text.find("EOF") + 5);
  EXPECT_LT(reports[0].size, 100u);
}

TEST(EndMarker, MarkerIsFoundOnlyWithItsGuardBytesReadable) {
  // "EOF" needs 5 readable bytes from its first byte; it stands 3 bytes
  // before the strip's end and there is no lookahead, so the file goes on.
  std::vector<uint8_t> strip = Strip(Bytes().Text("  0\r\nSECTION\r\n"), 512, 'd');
  strip[509] = 'E';
  strip[510] = 'O';
  strip[511] = 'F';
  std::vector<uint8_t> image = strip;
  image.resize(2048, 'd');
  const auto reports = ReportRun({{1546}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);  // flushed
  // With lookahead the same marker ends the file in that strip.
  const auto withLookahead = ReportRun({{1546}}, image, 512, 16);
  ASSERT_EQ(withLookahead.size(), 1u);
  EXPECT_EQ(withLookahead[0].size, 514u);
  EXPECT_EQ(withLookahead[0].complete, 1u);
}

TEST(EndMarker, PartReachingPastTheLookaheadIsCutToWhatIsReadable) {
  // The disk-image closing record is taken with 28 bytes but found with 12.
  std::vector<uint8_t> strip = Strip(crafted::Gho(), 512, 'g');
  strip.resize(480);  // drop the crafted close
  Bytes close;
  close.Raw({0x2F, 0x01, 0x18, 0x00}).Zeros(8).Fill(20, 0x77);
  strip.insert(strip.end(), close.vec().begin(), close.vec().end());  // marker at 480
  CTypeRecoveryGHO r(nullptr, nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, strip.data(), 490, 2, 0, &error), 0u);  // p + 12 < 492 fails
  EXPECT_TRUE(r.IsFileInProgress());
  EXPECT_EQ(r.GetBytesWritten(), 490u);
  CTypeRecoveryGHO s(nullptr, nullptr);
  EXPECT_EQ(s.Analyse(0, strip.data(), 490, 13, 0, &error), 1u);
  EXPECT_EQ(s.GetBytesWritten(), 503u);  // 480 + 28, cut to the 503 readable bytes
  EXPECT_FALSE(s.IsFileInProgress());
}

TEST(EndMarker, FileWithoutMarkerIsCutAtTheFirstStripAtItsMaximum) {
  std::vector<uint8_t> image = Strip(crafted::Pzf(), 600);  // no closing record in reach
  image.resize(6000, 'p');
  const auto reports = ReportRun({{1559, 2000}}, image, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(EndMarker, NewHeaderCutsTheFileInProgressCompleteOnlyForFontsAndProjects) {
  struct Case {
    uint32_t code;
    std::vector<uint8_t> header;
    uint32_t cutComplete;
  };
  const std::vector<Case> cases = {{2318, crafted::Pfb(), 1},
                                   {1041, crafted::Swi(), 1},
                                   {1546, crafted::Dxf(), 0},
                                   {1568, crafted::Vfb(), 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::vector<uint8_t> image = Strip(c.header, 700);  // cut before its marker
    const std::vector<uint8_t> second = c.header;
    image.resize(1024, 'q');
    image.insert(image.end(), second.begin(), second.end());
    image.resize(4096, 0);
    const auto reports = ReportRun({{c.code}}, image, 512, 512);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].size, 1024u);
    EXPECT_EQ(reports[0].complete, c.cutComplete);
    EXPECT_EQ(reports[1].start, 1024u);
    EXPECT_EQ(reports[1].size, second.size());
    EXPECT_EQ(reports[1].complete, 1u);
  }
}

TEST(EndMarker, DiskImageEndIsHandedToTheHostEvenInFolderMode) {
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  std::vector<uint8_t> strip = crafted::Gho();
  strip.resize(2048, 0);
  uint32_t error = 0;
  CTypeRecoveryGHO gho(m, dir.root().c_str());
  CTypeRecoveryVFB vfb(m, dir.root().c_str());
  gho.SetTypeFolderValue(7);
  vfb.SetTypeFolderValue(7);
  EXPECT_EQ(gho.Analyse(0, strip.data(), 2048, 0, 0, &error), 1u);
  EXPECT_EQ(gho.GetTypeFolderValue(), 0u);  // the missing callback answered 0
  std::vector<uint8_t> font = crafted::Vfb();
  font.resize(2048, 0);
  EXPECT_EQ(vfb.Analyse(0, font.data(), 2048, 0, 0, &error), 1u);
  EXPECT_EQ(vfb.GetTypeFolderValue(), 7u);
  EXPECT_EQ(error, 0u);
  TypeRecovery_CloseManager(m);
}

TEST(EndMarker, RealTypeOneFontIsCarvedWhole) {
  const std::vector<uint8_t> font = trtest::Fixture("document", "sample.pfb");
  DiskImage image(3);
  image.Random(8).File(font).Random(3);
  trtest::TempDir dir;
  FolderRun(dir, {{2318}}, image.bytes(), 4096, 512);
  EXPECT_EQ(dir.Read("pfb/00000.pfb"), font);
  const auto reports = ReportRun({{2318}}, image.bytes(), 512, 64);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 4096u);
  EXPECT_EQ(reports[0].size, font.size());
  EXPECT_EQ(reports[0].complete, 1u);
}
