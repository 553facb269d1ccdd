// The fifteen formats that state their whole size in their header.
#include <gtest/gtest.h>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/FixedSizeDocuments.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

std::vector<uint8_t> Padded(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size, 0x2E);
  return bytes;
}

// A primary volume descriptor of blocks x blockSize bytes.
std::vector<uint8_t> VolumeDescriptor(uint32_t blocks, uint16_t blockSize) {
  Bytes b;
  b.U8(1).Text("CD001").U8(1).U8(0).Fill(32, ' ').Text("CRAFTED").Fill(25, ' ').Zeros(8);
  b.U32LE(blocks).U32BE(blocks);  // volume space size at 80
  b.PadTo(128).U16LE(blockSize).U16BE(blockSize);
  return b.PadTo(2048, 0x20);
}

// A TrueType offset table whose records end where given.
std::vector<uint8_t> TrueType(const std::vector<std::pair<uint32_t, uint32_t>>& tables,
                              const char* firstTag = "DSIG") {
  Bytes b;
  b.U32BE(0x00010000).U16BE(static_cast<uint16_t>(tables.size())).U16BE(64).U16BE(2).U16BE(0);
  for (size_t i = 0; i < tables.size(); ++i) {
    b.Text(i == 0 ? firstTag : (std::string("tb") + char('a' + i) + "x"));
    b.U32BE(0).U32BE(tables[i].first).U32BE(tables[i].second);
  }
  return b.PadTo(128, 0);
}

}  // namespace

TEST(FixedSizeDocuments, HeaderTestsCheckEveryField) {
  auto verdict = [](std::vector<uint8_t> bytes, const char* ext, size_t at, uint8_t value) {
    bytes = Padded(bytes, 512);
    bytes[at] = value;
    return TypeRecovery_IsFileHeaderMatched(bytes.data(), 512, trtest::U16(ext).c_str());
  };
  EXPECT_EQ(verdict(crafted::Cdr(600), "cdr", 8, 'c'), 1);   // form type case ignored
  EXPECT_EQ(verdict(crafted::Chm(600), "chm", 120, 'X'), -1);
  EXPECT_EQ(verdict(crafted::MaxPp(600), "max", 5, 0x1B), -1);
  EXPECT_EQ(verdict(crafted::Hlp(600), "hlp", 8, 0), -1);
  EXPECT_EQ(verdict(crafted::One(600), "one", 15, 0), -1);
  EXPECT_EQ(verdict(crafted::Pst(23, 600), "pst", 15, 2), -1);
  EXPECT_EQ(verdict(crafted::Wpd(600), "wpd", 9, 0x2C), 1);
  EXPECT_EQ(verdict(crafted::Wpd(600), "wpd", 9, 0x0B), -1);
  EXPECT_EQ(verdict(crafted::Dex(600), "dex", 3, 0), -1);
  EXPECT_EQ(verdict(crafted::Dat(600), "dat", 26, '1'), -1);  // version 5.2 only
  EXPECT_EQ(verdict(crafted::Mb(600), "mb", 12, 'f'), 1);     // "mayafor4" case ignored
  EXPECT_EQ(verdict(crafted::Mb(600), "mb", 15, '5'), -1);
  // Sizes that must not be zero.
  EXPECT_EQ(verdict(crafted::Dex(0x10000), "dex", 34, 0), -1);
  EXPECT_EQ(verdict(crafted::Dat(0x10000), "dat", 30, 0), -1);
}

TEST(FixedSizeDocuments, OddRiffSizeIsCutWithoutPadByte) {
  const std::vector<uint8_t> file = crafted::Cdr(1001);
  DiskImage image;
  image.File(file).Random(4);
  trtest::TempDir dir;
  FolderRun(dir, {{1544}}, image.bytes(), 512, 0);
  EXPECT_EQ(dir.Read("cdr/00000.cdr").size(), 1009u);
}

TEST(FixedSizeDocuments, WordProcessorMajorVersionMustBeZeroTwoThreeOrFour) {
  for (uint8_t major = 0; major < 6; ++major) {
    const std::vector<uint8_t> header = Padded(crafted::Wpd(600, major), 128);
    const bool accepted = major == 0 || major == 2 || major == 3 || major == 4;
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 128, u"wpd"), accepted ? 1 : -1)
        << int{major};
  }
}

TEST(FixedSizeDocuments, MailStoreVersionSelectsTheSizeField) {
  for (uint16_t version : {14, 15, 23, 36}) {
    SCOPED_TRACE(version);
    const std::vector<uint8_t> file = crafted::Pst(version, 1500);
    CTypeRecoveryPST r(nullptr, nullptr);
    uint32_t error = 0;
    r.Analyse(0, file.data(), 512, 512, 0, &error);
    EXPECT_EQ(r.GetExpectedSize(), 1500u);
  }
  // The newer format's size is 64-bit.
  std::vector<uint8_t> big = Padded(crafted::Pst(23, 1500), 600);
  crafted::PutU64LE(big, 184, 0x123456789ULL);
  CTypeRecoveryPST r(nullptr, nullptr);
  uint32_t error = 0;
  r.Analyse(0, big.data(), 512, 88, 0, &error);
  EXPECT_EQ(r.GetExpectedSize(), 0x123456789ULL);
}

TEST(FixedSizeDocuments, DiscImageOutputBeginsWithTheZeroSystemArea) {
  std::vector<uint8_t> descriptor = VolumeDescriptor(20, 2048);  // 40960-byte image
  std::vector<uint8_t> image = descriptor;
  image.resize(12000, 0x61);
  trtest::TempDir dir;
  FolderRun(dir, {{1798}}, image, 2048, 512);
  const std::vector<uint8_t> out = dir.Read("iso/00000.iso");
  ASSERT_EQ(out.size(), 40960u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 32768), std::vector<uint8_t>(32768, 0));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 32768, out.end()), trtest::Prefix(image, 8192));
  // Report mode writes nothing and reports the whole image size from the descriptor on.
  image.resize(45000, 0x61);
  const auto reports = ReportRun({{1798}}, image, 2048, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 0u);
  EXPECT_EQ(reports[0].size, 40960u);
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(FixedSizeDocuments, DiscImageOfAThousandBlocksGivesTheFullSize) {
  CTypeRecoveryISO r(nullptr, nullptr);
  const std::vector<uint8_t> descriptor = VolumeDescriptor(1000, 2048);
  uint32_t error = 0;
  r.Analyse(0, descriptor.data(), 2048, 0, 0, &error);
  EXPECT_EQ(r.GetExpectedSize(), 2048000u);  // no output open: the whole product
}

TEST(FixedSizeDocuments, TrueTypeSizeIsTheLastTableEndWithItsLowBitsSet) {
  for (uint32_t end : {1000u, 1001u}) {
    CTypeRecoveryTTF r(nullptr, nullptr);
    const std::vector<uint8_t> font = TrueType({{300, 100}, {400, end - 400}, {128, 20}});
    uint32_t error = 0;
    r.Analyse(0, font.data(), 128, 0, 0, &error);
    EXPECT_EQ(r.GetExpectedSize(), 1003u) << end;
  }
  const std::vector<uint8_t> other = TrueType({{300, 100}}, "GDEF");
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(other.data(), 128, u"ttf"), -1);
  // Every table record must lie inside the buffer.
  const std::vector<uint8_t> many = TrueType({{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}});
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(many.data(), 125, u"ttf"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(many.data(), 124, u"ttf"), -1);
}

TEST(FixedSizeDocuments, ShortestHeadersAccepted) {
  const std::vector<uint8_t> dbx = {0xCF, 0xAD, 0x12, 0xFE, 0x00};
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(dbx.data(), 5, u"dbx"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(dbx.data(), 4, u"dbx"), -1);
  const std::vector<uint8_t> cdr = Padded(crafted::Cdr(600), 12);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(cdr.data(), 12, u"cdr"), 1);
}

TEST(FixedSizeDocuments, CompiledHelpEndIsHandedToTheHostEvenInFolderMode) {
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  const std::vector<uint8_t> chm = Padded(crafted::Chm(300), 512);
  const std::vector<uint8_t> hlp = Padded(crafted::Hlp(300), 512);
  CTypeRecoveryCHM c(m, dir.root().c_str());
  CTypeRecoveryHLP h(m, dir.root().c_str());
  c.SetTypeFolderValue(9);
  h.SetTypeFolderValue(9);
  uint32_t error = 0;
  EXPECT_EQ(c.Analyse(0, chm.data(), 512, 0, 0, &error), 1u);
  EXPECT_EQ(h.Analyse(0, hlp.data(), 512, 0, 0, &error), 1u);
  EXPECT_EQ(c.GetTypeFolderValue(), 0u);
  EXPECT_EQ(h.GetTypeFolderValue(), 9u);
  TypeRecovery_CloseManager(m);
}

TEST(FixedSizeDocuments, RealFontProfileKeyStoreAndDiscImageAreCarved) {
  const std::vector<uint8_t> ttf = trtest::Fixture("document", "sample.ttf");
  const std::vector<uint8_t> icc = trtest::Fixture("document", "sample.icc");
  const std::vector<uint8_t> pfx = trtest::Fixture("document", "sample.pfx");
  const std::vector<uint8_t> iso = trtest::Fixture("document", "sample.iso");
  ASSERT_GT(ttf.size(), 1000u);
  DiskImage image(9);
  image.Random(2).File(ttf).Random(1).File(icc).Zeros(2).File(pfx).Random(3).File(iso).Random(70);
  const std::vector<trtest::AddedType> types = {{2317}, {1562}, {2315}, {1798}};
  trtest::TempDir dir;
  FolderRun(dir, types, image.bytes(), 512, 512);
  // The font is taken to its last table's end with the two low bits set:
  // three bytes past the file, from the zeros that follow it.
  std::vector<uint8_t> ttfCarved = ttf;
  ttfCarved.resize(ttf.size() | 3, 0);
  EXPECT_EQ(dir.Read("ttf/00000.ttf"), ttfCarved);
  EXPECT_EQ(dir.Read("icc/00000.icc"), icc);
  EXPECT_EQ(dir.Read("pfx/00000.pfx"), pfx);
  EXPECT_EQ(dir.Read("iso/00000.iso"), iso);  // its system area is all zeros

  const auto reports = ReportRun(types, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 4u);
  const auto& at = image.offsets();
  EXPECT_EQ(reports[0].start, at[0]);
  EXPECT_EQ(reports[0].size, ttfCarved.size());
  EXPECT_EQ(reports[1].start, at[1]);
  EXPECT_EQ(reports[1].size, icc.size());
  EXPECT_EQ(reports[2].start, at[2]);
  EXPECT_EQ(reports[2].size, pfx.size());
  EXPECT_EQ(reports[3].start, at[3] + 32768);
  EXPECT_EQ(reports[3].size, iso.size());
  for (const auto& r : reports) EXPECT_EQ(r.complete, 1u);
}
