// The formats that state their whole size in their header: the size rules
// that are not a plain field (RIFF padding, mail-store versions, disc images,
// fonts).
#include <gtest/gtest.h>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/FixedSizeDocuments.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::Bytes;

namespace {

// A primary volume descriptor of blocks x blockSize bytes.
std::vector<uint8_t> VolumeDescriptor(uint32_t blocks, uint16_t blockSize) {
  Bytes b;
  b.U8(1).Text("CD001").U8(1).U8(0).Fill(32, ' ').Text("CRAFTED").Fill(25, ' ').Zeros(8);
  b.U32LE(blocks).U32BE(blocks).PadTo(128).U16LE(blockSize).U16BE(blockSize);  // volume space size at 80
  return b.PadTo(2048, 0x20);
}

// A TrueType offset table whose records end where given.
std::vector<uint8_t> TrueType(const std::vector<std::pair<uint32_t, uint32_t>>& tables, const char* firstTag = "DSIG") {
  Bytes b;
  b.U32BE(0x00010000).U16BE(static_cast<uint16_t>(tables.size())).U16BE(64).U16BE(2).U16BE(0);
  for (size_t i = 0; i < tables.size(); ++i)
    b.Text(i == 0 ? firstTag : (std::string("tb") + char('a' + i) + "x")).U32BE(0).U32BE(tables[i].first).U32BE(tables[i].second);
  return b.PadTo(128, 0);
}

}  // namespace

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
