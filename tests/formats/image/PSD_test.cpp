#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::Padded;
using trtest::ShortStripRun;

constexpr uint32_t kPsd = 1541;

Bytes Header(uint16_t channels, uint32_t height, uint32_t width, uint16_t depth) {
  Bytes b{'8', 'B', 'P', 'S'};
  b.U16BE(1).Zeros(6).U16BE(channels).U32BE(height).U32BE(width).U16BE(depth).U16BE(3);
  return b;
}

// Empty colour mode data, image resources and layer information.
Bytes& EmptySections(Bytes& b) { return b.U32BE(0).U32BE(0).U32BE(0); }

std::vector<uint8_t> Raw(uint16_t channels, uint32_t height, uint32_t width, uint16_t depth,
                         size_t pixelBytes) {
  Bytes b = Header(channels, height, width, depth);
  EmptySections(b).U16BE(0).Fill(pixelBytes, 0x5A);
  return b;
}

// Run-length image: every row of every channel packs to rowBytes bytes.
std::vector<uint8_t> Rle(uint16_t channels, uint32_t height, uint16_t rowBytes) {
  Bytes b = Header(channels, height, 8, 8);
  b.U32BE(6).Fill(6, 1).U32BE(10).Fill(10, 2).U32BE(0).U16BE(1);
  for (uint32_t i = 0; i < channels * height; ++i) b.U16BE(rowBytes);
  return b.Fill(size_t{channels} * height * rowBytes, 0x81);
}

TEST(Psd, RawImageEndsItsPixelBytesAfterTheCompressionField) {
  // 3 channels of 100 x 100 at 8 bits: 30,000 bytes after the field at 38.
  const auto reports =
      ShortStripRun(kPsd, Padded(Raw(3, 100, 100, 8, 30000), 3000), 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 38u + 2 + 30000);
  EXPECT_EQ(reports[0].complete, 1u);
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.typeCode, kPsd);
  EXPECT_EQ(reports[0].picture.width, 100u);
  EXPECT_EQ(reports[0].picture.height, 100u);
}

TEST(Psd, DepthsBelowEightPackSeveralPixelsInAByte) {
  // 1 bit: 2 x 40 x 40 / 8 = 400 bytes; 4 bits: 2 x 40 x 40 / 2 = 1600.
  for (const auto& [depth, pixels] : {std::pair<uint16_t, size_t>{1, 400}, {4, 1600}, {16, 6400}}) {
    const auto reports =
        ShortStripRun(kPsd, Padded(Raw(2, 40, 40, depth, pixels), 2000), 512, 512, 512);
    ASSERT_EQ(reports.size(), 1u) << depth;
    EXPECT_EQ(reports[0].size, 40u + pixels) << depth;
  }
}

TEST(Psd, RunLengthTableCrossingStripEndsIsReadWholeEvenWithoutLookahead) {
  // Sections 10 + 14 + 4, compression at 54, a 2 x 30 entry table, 60 rows of
  // 5 bytes: 56 + 120 + 300 = 476 bytes. Seven-byte strips cut table entries
  // and section lengths in two.
  const std::vector<uint8_t> file = Rle(2, 30, 5);
  ASSERT_EQ(file.size(), 476u);
  for (uint32_t lookahead : {0u, 3u, 64u}) {
    const auto reports = ShortStripRun(kPsd, Padded(file, 700), 40, 7, lookahead);
    ASSERT_EQ(reports.size(), 1u) << lookahead;
    EXPECT_EQ(reports[0].size, 476u) << lookahead;
    EXPECT_EQ(reports[0].complete, 1u) << lookahead;
  }
}

TEST(Psd, SectionLengthThatCannotMoveTheWalkEndsTheFileIncomplete) {
  Bytes b = Header(1, 4, 4, 8);
  b.U32BE(0).U32BE(0xFFFFFFFC).Zeros(600);
  const auto reports = ShortStripRun(kPsd, b, 512, 512, 64);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 512u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Psd, NewHeaderCutsTheOpenFileReportedCompleteWithItsBytesTaken) {
  std::vector<uint8_t> image = Raw(3, 100, 100, 8, 1000);  // truncated
  image.resize(1024, 0);
  const std::vector<uint8_t> second = Raw(1, 10, 10, 8, 100);
  image.insert(image.end(), second.begin(), second.end());
  const auto reports = ShortStripRun(kPsd, Padded(image, 1000), 512, 512, 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].start, 1024u);
  EXPECT_EQ(reports[1].size, 140u);
  EXPECT_TRUE(reports[1].hasPicture);
}

TEST(Psd, ReachingTheMaximumEndsTheFileIncompleteWithItsBytesTaken) {
  const auto reports = ShortStripRun({kPsd, 2048}, Raw(3, 100, 100, 8, 30000), 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Psd, HeaderNeedsVersionOneAndPlausibleDimensions) {
  auto accepts = [](const std::vector<uint8_t>& b) {
    return TypeRecovery_IsFileHeaderMatched(b.data(), static_cast<uint32_t>(b.size()), u"psd");
  };
  EXPECT_EQ(accepts(Raw(3, 30000, 30000, 8, 10)), 1);
  EXPECT_EQ(accepts(Raw(3, 30001, 10, 8, 10)), -1);
  EXPECT_EQ(accepts(Raw(3, 10, 30001, 8, 10)), -1);
  std::vector<uint8_t> large = Raw(3, 10, 10, 8, 10);
  large[5] = 2;  // the large-document version
  EXPECT_EQ(accepts(large), -1);
  const std::vector<uint8_t> shortest = Raw(3, 10, 10, 8, 10);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(shortest.data(), 26, u"psd"), -1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(shortest.data(), 27, u"psd"), 1);
}

}  // namespace
