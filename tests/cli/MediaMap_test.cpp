// Free-space streams: the map from stream offsets back to media pieces, and
// the reader cutting strips out of a medium (a free-space stream or an
// evidence image) with the same contract as out of a file.
#include <gtest/gtest.h>

#include <cstring>

#include "MediaMap.h"
#include "SourceReader.h"

using namespace trcli;

namespace {

// A disk in memory; reads of bytes in `bad` fail.
class MemoryMedium : public Medium {
 public:
  MemoryMedium(std::vector<uint8_t> bytes, bool zeroUnreadable, std::vector<MediaRun> bad = {})
      : m_bytes(std::move(bytes)), m_zero(zeroUnreadable), m_bad(std::move(bad)) {}
  uint64_t Size() const override { return m_bytes.size(); }
  bool ZeroUnreadable() const override { return m_zero; }
  bool ReadAt(uint64_t offset, uint8_t* into, size_t size, std::string* error) override {
    for (const MediaRun& run : m_bad) {
      if (offset < run.offset + run.length && run.offset < offset + size) {
        *error = "bad block";
        return false;
      }
    }
    std::memcpy(into, m_bytes.data() + offset, size);
    return true;
  }

 private:
  std::vector<uint8_t> m_bytes;
  bool m_zero;
  std::vector<MediaRun> m_bad;
};

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 13 + i / 509) & 0xFF);
  return bytes;
}

// All strips of a reader, joined, with the positions they claimed.
std::vector<uint8_t> ReadAll(SourceReader& reader, std::string* error) {
  std::vector<uint8_t> bytes;
  Strip strip;
  while (reader.Next(&strip, error)) {
    EXPECT_EQ(strip.position, reader.Start() + bytes.size());
    bytes.insert(bytes.end(), strip.data, strip.data + strip.length);
  }
  return bytes;
}

}  // namespace

TEST(CliMediaMap, StreamRangesMapToTheMediaPiecesThatHoldThem) {
  MediaMap map;
  map.Add(1000, 100);
  map.Add(1100, 50);  // touches the run before: one run
  map.Add(5000, 0);   // empty: ignored
  map.Add(4000, 200);
  map.Add(9000, 10);
  ASSERT_EQ(map.Runs(), (std::vector<MediaRun>{{1000, 150}, {4000, 200}, {9000, 10}}));
  EXPECT_EQ(map.StreamSize(), 360u);

  EXPECT_EQ(map.Pieces(0, 150), (std::vector<MediaRun>{{1000, 150}}));
  EXPECT_EQ(map.Pieces(140, 20), (std::vector<MediaRun>{{1140, 10}, {4000, 10}}));
  EXPECT_EQ(map.Pieces(100, 1000), (std::vector<MediaRun>{{1100, 50}, {4000, 200}, {9000, 10}}));  // cut at the end
  EXPECT_EQ(map.Pieces(150, 200), (std::vector<MediaRun>{{4000, 200}}));
  EXPECT_EQ(map.Pieces(355, 5), (std::vector<MediaRun>{{9005, 5}}));
  EXPECT_TRUE(map.Pieces(360, 1).empty());
  EXPECT_TRUE(MediaMap().Pieces(0, 1).empty());
}

TEST(CliMediaMap, ReaderCutsAMediumIntoStripsAndResumesInIt) {
  std::vector<uint8_t> disk = Pattern(70000);
  for (uint64_t offset : {uint64_t{0}, uint64_t{1536}}) {
    SourceReader reader;
    std::string error;
    ASSERT_TRUE(reader.OpenMedium(std::make_unique<MemoryMedium>(disk, true), offset, 60000, &error)) << error;
    reader.SetGeometry(512, 4096, 3000);
    EXPECT_TRUE(reader.Seekable());
    std::vector<uint8_t> read = ReadAll(reader, &error);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(read, std::vector<uint8_t>(disk.begin() + offset, disk.begin() + offset + 60000));
  }
  // Resume: skip to a saved position, the first bytes still identify the source.
  SourceReader reader;
  std::string error;
  ASSERT_TRUE(reader.OpenMedium(std::make_unique<MemoryMedium>(disk, true), 0, std::nullopt, &error));
  ASSERT_TRUE(reader.SkipTo(40960, &error)) << error;
  Strip strip;
  ASSERT_TRUE(reader.Next(&strip, &error));
  EXPECT_EQ(strip.position, 40960u);
  EXPECT_EQ(0, std::memcmp(strip.data, disk.data() + 40960, strip.length));
  EXPECT_EQ(reader.Prefix(), std::vector<uint8_t>(disk.begin(), disk.begin() + 65536));
  uint8_t back[8];
  EXPECT_TRUE(reader.ReadAt(69992, back, 8));
  EXPECT_FALSE(reader.ReadAt(69993, back, 8));
}

TEST(CliMediaMap, UnreadableBlocksOfADiskReadAsZerosButStopADamagedImage) {
  std::vector<uint8_t> disk = Pattern(8192);
  std::vector<MediaRun> bad = {{2100, 10}};
  SourceReader reader;
  std::string error;
  ASSERT_TRUE(reader.OpenMedium(std::make_unique<MemoryMedium>(disk, true, bad), 0, std::nullopt, &error));
  std::vector<uint8_t> read = ReadAll(reader, &error);
  EXPECT_TRUE(error.empty()) << error;
  std::vector<uint8_t> expected = disk;
  std::fill(expected.begin() + 2048, expected.begin() + 2560, 0);  // the one 512-byte block
  EXPECT_EQ(read, expected);
  EXPECT_EQ(reader.Unreadable(), (std::vector<MediaRun>{{2048, 512}}));

  SourceReader image;
  ASSERT_TRUE(image.OpenMedium(std::make_unique<MemoryMedium>(disk, false, bad), 0, std::nullopt, &error));
  ReadAll(image, &error);
  EXPECT_NE(error.find("bad block"), std::string::npos) << error;
}
