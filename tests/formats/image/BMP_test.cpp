// BMP: the header test's bounds, the size taken from the header, the cut by
// a new header, progress, and a real file carved from a disk image.
#include <gtest/gtest.h>

#include "formats/image/BMP.h"
#include "support/Carving.h"

using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

constexpr uint32_t kBmp = 1537;

struct BmpFields {
  uint32_t fileSize = 0;
  uint32_t pixelOffset = 54;
  uint32_t infoSize = 40;
  uint32_t width = 16;
  uint32_t height = 8;
  uint16_t bitCount = 24;
  uint32_t imageSize = 0;
  uint32_t reserved = 0;
};

// Headers of a BMP and `total` bytes in all.
std::vector<uint8_t> Bmp(const BmpFields& f, size_t total) {
  Bytes b{'B', 'M'};
  b.U32LE(f.fileSize).U32LE(f.reserved).U32LE(f.pixelOffset);
  b.U32LE(f.infoSize).U32LE(f.width).U32LE(f.height).U16LE(1).U16LE(f.bitCount);
  b.U32LE(0).U32LE(f.imageSize).Zeros(16);
  b.PadTo(total, 0x6B);
  return b;
}

}  // namespace

TEST(Bmp, SizeIsTheLargerOfFileSizeFieldAndPixelOffsetPlusImageSize) {
  BmpFields f;
  f.fileSize = 700;
  f.imageSize = 1000;  // 54 + 1000 > 700
  Bytes image = Bytes().Raw(Bmp(f, 1054)).Fill(1000, 0x42);
  auto reports = ReportRun({{kBmp}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1054u);
  EXPECT_EQ(reports[0].complete, 1u);

  f.fileSize = 1500;  // now the file-size field is the larger
  image = Bytes().Raw(Bmp(f, 1500)).Fill(1000, 0x42);
  reports = ReportRun({{kBmp}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1500u);

  trtest::TempDir dir;
  FolderRun(dir, {{kBmp}}, image, 512, 0);
  EXPECT_EQ(dir.Read("bmp/00000.bmp"), trtest::Prefix(image, 1500));
}

TEST(Bmp, HeaderTestRefusesOutOfBoundFieldsAndTopDownHeight) {
  CTypeRecoveryBMP bmp(nullptr, nullptr);
  auto matches = [&](const BmpFields& f, uint32_t length = 64) {
    const std::vector<uint8_t> b = Bmp(f, 64);
    return bmp.IsHeaderMatched(b.data(), length, 0) == kBmp;
  };
  BmpFields f;
  EXPECT_TRUE(matches(f));
  EXPECT_FALSE(matches(f, 54));
  BmpFields g = f;
  g.height = static_cast<uint32_t>(-8);  // top-down
  EXPECT_FALSE(matches(g));
  g = f, g.width = 30001;
  EXPECT_FALSE(matches(g));
  g = f, g.height = 30000;
  EXPECT_TRUE(matches(g));
  g = f, g.infoSize = 124;  // BITMAPV5HEADER
  EXPECT_FALSE(matches(g));
  g = f, g.pixelOffset = 1079;
  EXPECT_FALSE(matches(g));
  g = f, g.bitCount = 33;
  EXPECT_FALSE(matches(g));
  g = f, g.reserved = 1;
  EXPECT_FALSE(matches(g));
}

TEST(Bmp, RecordCarriesWidthFromByte18AndHeightFromByte22) {
  BmpFields f;
  f.width = 1234;
  f.height = 567;
  f.fileSize = 300;
  Bytes image = Bytes().Raw(Bmp(f, 300)).Fill(300, 0x11);
  const auto reports = ReportRun({{kBmp}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.size, 456u);
  EXPECT_EQ(reports[0].picture.typeCode, kBmp);
  EXPECT_EQ(reports[0].picture.width, 1234u);
  EXPECT_EQ(reports[0].picture.height, 567u);
  EXPECT_EQ(reports[0].extension, "bmp");
}

TEST(Bmp, NewHeaderCutsTheOpenFileWithItsBytesTaken) {
  BmpFields f;
  f.fileSize = 4000;
  Bytes image = Bytes().Raw(Bmp(f, 1024));
  f.fileSize = 600;
  image.Raw(Bmp(f, 600)).Fill(424, 0x11);
  const auto reports = ReportRun({{kBmp}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].start, 1024u);
  EXPECT_EQ(reports[1].size, 600u);
  EXPECT_EQ(reports[1].complete, 1u);
}

TEST(Bmp, ScanResumedFromProgressFileEndsAsAnUninterruptedOne) {
  BmpFields f;
  f.fileSize = 2000;
  f.width = 99;
  DiskImage image;
  image.File(Bmp(f, 2000)).Random(2);
  const auto resumed = trtest::ResumedRun({{kBmp}}, image.bytes(), 512, 0, 1024);
  ASSERT_EQ(resumed.size(), 1u);
  EXPECT_EQ(resumed[0].size, 2000u);
  EXPECT_EQ(resumed[0].complete, 1u);
  EXPECT_EQ(resumed[0].picture.width, 99u);
}

TEST(Bmp, RealFileIsCarvedByteIdenticallyFromADiskImage) {
  const std::vector<uint8_t> bmp = trtest::Fixture("image", "lossless.bmp");
  ASSERT_FALSE(bmp.empty());
  DiskImage image;
  image.Random(1).File(bmp).Random(4);

  trtest::TempDir dir;
  FolderRun(dir, {{kBmp}}, image.bytes(), 512, 0);
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"bmp/00000.bmp"});
  EXPECT_EQ(dir.Read("bmp/00000.bmp"), bmp);

  const auto reports = ReportRun({{kBmp}}, image.bytes(), 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 512u);
  EXPECT_EQ(reports[0].size, bmp.size());
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[0].picture.width, 30u);
  EXPECT_EQ(reports[0].picture.height, 20u);
}
