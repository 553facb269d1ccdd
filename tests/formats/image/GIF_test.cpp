// GIF block walk: colour tables, extensions and image data across strips,
// the trailer and stray bytes, and the cut by a new signature.
#include <gtest/gtest.h>

#include "formats/image/GIF.h"
#include "support/Carving.h"

using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

constexpr uint32_t kGif = 1538;

// Header and logical screen descriptor; a global colour table of 2^(n+1)
// entries when n >= 0.
Bytes Screen(uint16_t width, uint16_t height, int n) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a'};
  b.U16LE(width).U16LE(height);
  b.U8(n >= 0 ? static_cast<uint8_t>(0x80 | n) : 0).U8(0).U8(0);
  if (n >= 0) b.Fill(3u << (n + 1), 0x2C);  // table bytes that look like separators
  return b;
}

Bytes& GraphicControl(Bytes& b) { return b.Raw({0x21, 0xF9, 4, 0, 10, 0, 0, 0}); }

// An image with an optional local colour table and data sub-blocks.
Bytes& Image(Bytes& b, int localN, const std::vector<uint8_t>& subBlocks) {
  b.U8(0x2C).U16LE(0).U16LE(0).U16LE(4).U16LE(4);
  b.U8(localN >= 0 ? static_cast<uint8_t>(0x80 | localN) : 0);
  if (localN >= 0) b.Fill(3u << (localN + 1), 0x3B);  // table bytes that look like trailers
  b.U8(2);  // LZW minimum code size
  for (uint8_t size : subBlocks) b.U8(size).Fill(size, 0x21);
  return b.U8(0);
}

}  // namespace

TEST(Gif, WithoutGlobalColourTableTheWalkStartsAtByte13AndTrailerCompletes) {
  Bytes b = Screen(320, 200, -1);
  Image(b, -1, {5, 3}).U8(0x3B);
  const std::vector<uint8_t> gif = b;
  Bytes image = b;
  image.Fill(600, 0x3B);

  const auto reports = ReportRun({{kGif}}, image, 512, 16);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, gif.size());
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[0].extension, "gif");
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.typeCode, kGif);
  EXPECT_EQ(reports[0].picture.width, 320u);
  EXPECT_EQ(reports[0].picture.height, 200u);

  trtest::TempDir dir;
  FolderRun(dir, {{kGif}}, image, 512, 16);
  EXPECT_EQ(dir.Read("gif/00000.gif"), gif);
}

TEST(Gif, ColourTablesExtensionsAndSubBlocksAcrossSmallStripsEndExactly) {
  Bytes b = Screen(7, 9, 2);
  GraphicControl(b);
  b.Raw({0x21, 0xFE, 3, 'a', 'b', 'c', 0});  // comment extension
  Image(b, 1, {255, 17, 1});
  GraphicControl(b);
  Image(b, 7, {40});
  b.U8(0x3B);
  const std::vector<uint8_t> gif = b;
  Bytes image = b;
  image.Fill(100, 0x2C);

  for (uint32_t strip : {17u, 64u, 512u}) {
    const auto reports = ReportRun({{kGif}}, image, strip, 0);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(reports[0].size, gif.size()) << strip;
    EXPECT_EQ(reports[0].complete, 1u) << strip;
  }
}

TEST(Gif, StrayByteAfterTheLastImageEndsTheFileJustAfterItIncomplete) {
  Bytes b = Screen(10, 10, 0);
  Image(b, -1, {4});
  b.U8(0x00);
  const size_t size = b.size();
  b.Fill(700, 0x3B);

  const auto reports = ReportRun({{kGif}}, b, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, size);
  EXPECT_EQ(reports[0].complete, 0u);
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.width, 10u);
}

TEST(Gif, NewSignatureCutsTheOpenFileWithItsBytesCounted) {
  Bytes first = Screen(1, 1, -1);
  Image(first, -1, std::vector<uint8_t>(10, 255));  // runs past the first strip
  first.vec().resize(512);
  Bytes second = Screen(2, 2, -1);
  Image(second, -1, std::vector<uint8_t>(3, 255)).U8(0x3B);
  Bytes image = first;
  image.Raw(second);

  const auto reports = ReportRun({{kGif}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 512u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].start, 512u);
  EXPECT_EQ(reports[1].size, second.size());
  EXPECT_EQ(reports[1].complete, 1u);
}

TEST(Gif, HeaderNeedsGif87aOrGif89aAnd17Bytes) {
  CTypeRecoveryGIF gif(nullptr, nullptr);
  std::vector<uint8_t> b = Bytes(Screen(1, 1, -1)).Zeros(8);
  EXPECT_EQ(gif.IsHeaderMatched(b.data(), 16, 0), 0u);
  for (const auto& [version, code] : {std::pair<char, uint32_t>{'7', kGif}, {'8', 0}, {'9', kGif}}) {
    b[4] = static_cast<uint8_t>(version);
    EXPECT_EQ(gif.IsHeaderMatched(b.data(), 17, 0), code) << version;
  }
}

TEST(Gif, ScanResumedFromProgressFileEndsAsAnUninterruptedOne) {
  Bytes b = Screen(21, 22, 3);
  GraphicControl(b);
  Image(b, -1, std::vector<uint8_t>(12, 200)).U8(0x3B);
  trtest::DiskImage image;
  image.File(b).Random(2);
  const auto resumed = trtest::ResumedRun({{kGif}}, image.bytes(), 512, 0, 1024);
  ASSERT_EQ(resumed.size(), 1u);
  EXPECT_EQ(resumed[0].size, b.size());
  EXPECT_EQ(resumed[0].complete, 1u);
  EXPECT_EQ(resumed[0].picture.width, 21u);
}
