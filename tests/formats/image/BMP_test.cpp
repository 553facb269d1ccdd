// BMP: the header test's bounds, the size taken from the header with its
// picture record, and the cut by a new header.
#include <gtest/gtest.h>

#include "formats/image/BMP.h"
#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::ReportRun;

constexpr uint32_t kBmp = 1537;

struct BmpFields {
  uint32_t fileSize = 0, pixelOffset = 54, infoSize = 40, width = 16, height = 8;
  uint16_t bitCount = 24;
  uint32_t imageSize = 0, reserved = 0;
};

// Headers of a BMP and `total` bytes in all.
std::vector<uint8_t> Bmp(const BmpFields& f, size_t total) {
  Bytes b{'B', 'M'};
  b.U32LE(f.fileSize).U32LE(f.reserved).U32LE(f.pixelOffset);
  b.U32LE(f.infoSize).U32LE(f.width).U32LE(f.height).U16LE(1).U16LE(f.bitCount);
  return b.U32LE(0).U32LE(f.imageSize).Zeros(16).PadTo(total, 0x6B);
}

TEST(Bmp, HeaderTestRefusesOutOfBoundFieldsAndTopDownHeight) {
  CTypeRecoveryBMP bmp(nullptr, nullptr);
  struct Case {
    const char* what;
    void (*edit)(BmpFields&);
    uint32_t length;
    bool matches;
  } cases[] = {
      {"plain", [](BmpFields&) {}, 64, true},
      {"54 bytes", [](BmpFields&) {}, 54, false},
      {"top-down", [](BmpFields& f) { f.height = static_cast<uint32_t>(-8); }, 64, false},
      {"width 30001", [](BmpFields& f) { f.width = 30001; }, 64, false},
      {"height 30000", [](BmpFields& f) { f.height = 30000; }, 64, true},
      {"V5 info header", [](BmpFields& f) { f.infoSize = 124; }, 64, false},
      {"pixel offset 1079", [](BmpFields& f) { f.pixelOffset = 1079; }, 64, false},
      {"33 bits", [](BmpFields& f) { f.bitCount = 33; }, 64, false},
      {"reserved", [](BmpFields& f) { f.reserved = 1; }, 64, false},
  };
  for (const Case& c : cases) {
    BmpFields f;
    c.edit(f);
    EXPECT_EQ(bmp.IsHeaderMatched(Bmp(f, 64).data(), c.length, 0) == kBmp, c.matches) << c.what;
  }
}

TEST(Bmp, SizeIsTheLargerOfFileSizeFieldAndPixelOffsetPlusImageSize) {
  for (const auto& [fileSize, size] : {std::pair<uint32_t, size_t>{700, 1054}, {1500, 1500}}) {
    BmpFields f;
    f.fileSize = fileSize;
    f.imageSize = 1000;
    f.width = 1234;
    f.height = 567;
    const std::vector<uint8_t> image = Bytes().Raw(Bmp(f, size)).Fill(1000, 0x42);
    const auto reports = ReportRun({{kBmp}}, image, 512, 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].size, size);
    EXPECT_EQ(reports[0].complete, 1u);
    ASSERT_TRUE(reports[0].hasPicture);
    EXPECT_EQ(reports[0].picture.typeCode, kBmp);
    EXPECT_EQ(reports[0].picture.width, 1234u);  // from byte 18
    EXPECT_EQ(reports[0].picture.height, 567u);  // from byte 22
    trtest::TempDir dir;
    trtest::FolderRun(dir, {{kBmp}}, image, 512, 0);
    EXPECT_EQ(dir.Read("bmp/00000.bmp"), trtest::Prefix(image, size));
  }
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

}  // namespace
