#include <gtest/gtest.h>

#include <utility>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::Padded;
using trtest::ShortStripRun;

constexpr uint32_t kIco = 1540, kTpf = 1564;

struct IconImage {
  uint8_t width, height;
  uint32_t size;
};

std::vector<uint8_t> Icon(const std::vector<IconImage>& images, uint16_t bitCount = 32,
                          uint8_t reserved = 0) {
  Bytes b{0, 0};
  b.U16LE(1).U16LE(static_cast<uint16_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (const IconImage& i : images) {
    b.U8(i.width).U8(i.height).U8(0).U8(reserved).U16LE(1).U16LE(bitCount).U32LE(i.size).U32LE(
        offset);
    offset += i.size;
  }
  for (const IconImage& i : images) b.Fill(i.size, 0x77);
  return b;
}

int32_t IsIcon(const std::vector<uint8_t>& b) {
  return TypeRecovery_IsFileHeaderMatched(b.data(), static_cast<uint32_t>(b.size()), u"ico");
}

TEST(Ico, SizeIsTheDirectoryPlusEveryImageAndTheRecordNamesTheLargestImage) {
  const std::vector<uint8_t> icon = Icon({{16, 16, 1128}, {32, 32, 4264}, {32, 32, 300}});
  const auto reports = ShortStripRun(kIco, Padded(icon, 900), 512, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 6u + 3 * 16 + 1128 + 4264 + 300);
  EXPECT_EQ(reports[0].complete, 1u);
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.typeCode, kIco);
  EXPECT_EQ(reports[0].picture.width, 32u);
  EXPECT_EQ(reports[0].picture.height, 32u);
}

TEST(Ico, NewHeaderCutsTheOpenFileIncompleteWithoutARecord) {
  std::vector<uint8_t> image = Icon({{48, 48, 9000}});
  image.resize(1024);
  const std::vector<uint8_t> second = Icon({{16, 16, 200}});
  image.insert(image.end(), second.begin(), second.end());
  const auto reports = ShortStripRun(kIco, Padded(image, 600), 512, 512, 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].size, 222u);
  EXPECT_TRUE(reports[1].hasPicture);
}

TEST(Ico, HeaderTestRefusesImplausibleDirectories) {
  EXPECT_EQ(IsIcon(Icon({{16, 16, 100}, {32, 32, 200}})), 1);
  EXPECT_EQ(IsIcon(Icon({{32, 16, 100}})), -1);           // not square
  EXPECT_EQ(IsIcon(Icon({{16, 16, 100}}, 3)), -1);        // bit count
  EXPECT_EQ(IsIcon(Icon({{16, 16, 100}}, 32, 0xFF)), 1);  // reserved byte 0xFF
  EXPECT_EQ(IsIcon(Icon({{16, 16, 100}}, 32, 0x01)), -1);
  EXPECT_EQ(IsIcon(Icon({{16, 16, 100}, {16, 16, 0}})), -1);      // an empty image
  EXPECT_EQ(IsIcon(Icon({{16, 16, 10 * 1024 * 1024 + 1}})), -1);  // over 10 MiB
  EXPECT_EQ(IsIcon(Icon(std::vector<IconImage>(31, {16, 16, 8}))), 1);
  EXPECT_EQ(IsIcon(Icon(std::vector<IconImage>(32, {16, 16, 8}))), -1);
  std::vector<uint8_t> early = Icon({{16, 16, 100}});
  early[18] = 21;  // the first image would overlap the directory
  EXPECT_EQ(IsIcon(early), -1);
  // Only the bytes given are examined: the first nine decide a short buffer.
  const std::vector<uint8_t> icon = Icon({{16, 16, 100}});
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(icon.data(), 9, u"ico"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(icon.data(), 8, u"ico"), -1);
}

std::vector<uint8_t> Tpf(uint32_t part, uint32_t rest) {
  Bytes b{'T', 'P', 'F', '3'};
  b.U32LE(0x00050001).PadTo(0xB4, 0x20).U32LE(part).U32LE(rest);
  return b.PadTo(part + rest, 0x66);
}

TEST(Tpf, SizeIsTheSumOfTheTwoHeaderFields) {
  const auto reports = ShortStripRun(kTpf, Padded(Tpf(0xBC, 1000), 800), 512, 100, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 0xBCu + 1000);
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_FALSE(reports[0].hasPicture);

  // A file cut by the next header is reported with the bytes taken so far.
  std::vector<uint8_t> image = Tpf(0xBC, 5000);
  image.resize(512);
  const std::vector<uint8_t> next = Tpf(0xBC, 100);
  image.insert(image.end(), next.begin(), next.end());
  const auto cut = ShortStripRun(kTpf, Padded(image, 600), 512, 512, 512);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].size, 512u);
  EXPECT_EQ(cut[0].complete, 0u);
  EXPECT_EQ(cut[1].size, 0xBCu + 100);
}

}  // namespace
