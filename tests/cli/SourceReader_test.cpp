// The source is cut into contiguous strips, each followed by as much
// lookahead as the source has, with bounded buffering, from files and
// streams alike.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <thread>

#include "SourceReader.h"
#include "support/TestSupport.h"

using namespace trcli;

namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

// Reads every strip and checks each against the source bytes; answers the
// strip positions.
std::vector<uint64_t> CheckAllStrips(SourceReader& reader, const std::vector<uint8_t>& source,
                                     uint32_t block, uint32_t lookahead, uint64_t end) {
  std::vector<uint64_t> positions;
  Strip strip;
  std::string error;
  uint64_t expected = reader.NextPosition();
  while (reader.Next(&strip, &error)) {
    EXPECT_EQ(strip.position, expected);
    uint64_t left = end - strip.position;
    EXPECT_EQ(strip.length, std::min<uint64_t>(block, left));
    EXPECT_EQ(strip.lookahead, std::min<uint64_t>(lookahead, left - strip.length));
    EXPECT_EQ(0, memcmp(strip.data, source.data() + strip.position, strip.length + strip.lookahead));
    // At least 16 readable bytes, zeros past the data.
    for (uint32_t i = strip.length + strip.lookahead; i < 16; ++i) EXPECT_EQ(strip.data[i], 0);
    positions.push_back(strip.position);
    expected += strip.length;
  }
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(expected, end);
  return positions;
}

}  // namespace

TEST(CliSourceReader, FileStripsAreContiguousWithFullLookaheadAcrossChunks) {
  trtest::TempDir dir;
  std::vector<uint8_t> source = Pattern(100000 + 300);  // not a multiple of the block
  dir.Write("image.bin", source);
  SourceReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir.path() + "/image.bin", 0, std::nullopt, &error)) << error;
  reader.SetGeometry(512, 4096, 3000);  // small chunks: many refills
  EXPECT_TRUE(reader.Seekable());
  EXPECT_EQ(reader.End(), source.size());
  std::vector<uint64_t> positions = CheckAllStrips(reader, source, 512, 3000, source.size());
  EXPECT_EQ(positions.size(), (source.size() + 511) / 512);
  EXPECT_EQ(reader.Prefix().size(), SourceReader::kPrefixBytes);
}

TEST(CliSourceReader, OffsetAndLengthBoundStripsAndLookahead) {
  trtest::TempDir dir;
  std::vector<uint8_t> source = Pattern(20000);
  dir.Write("image.bin", source);
  SourceReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir.path() + "/image.bin", 1000, 5000, &error)) << error;
  reader.SetGeometry(1024, 2048, 1500);
  CheckAllStrips(reader, source, 1024, 1500, 6000);

  SourceReader beyond;
  EXPECT_FALSE(beyond.Open(dir.path() + "/image.bin", 30000, std::nullopt, &error));
  SourceReader missing;
  EXPECT_FALSE(missing.Open(dir.path() + "/absent.bin", 0, std::nullopt, &error));
  EXPECT_NE(error.find("absent.bin"), std::string::npos);
}

TEST(CliSourceReader, TinySourceStillGivesSixteenReadableBytes) {
  trtest::TempDir dir;
  std::vector<uint8_t> source = {1, 2, 3, 4, 5};
  dir.Write("tiny.bin", source);
  SourceReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(dir.path() + "/tiny.bin", 0, std::nullopt, &error));
  CheckAllStrips(reader, source, 512, SourceReader::kDefaultLookahead, 5);
}

TEST(CliSourceReader, StreamGivesTheSameStripsAndSkipsByReading) {
  std::vector<uint8_t> source = Pattern(70000);
  for (uint64_t skipTo : {uint64_t{0}, uint64_t{33280}}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
      size_t done = 0;
      while (done < source.size()) {  // dribble in small pieces
        ssize_t put = ::write(fds[1], source.data() + done, std::min<size_t>(777, source.size() - done));
        if (put <= 0) break;
        done += static_cast<size_t>(put);
      }
      ::close(fds[1]);
    });
    SourceReader reader;
    std::string error;
    ASSERT_TRUE(reader.OpenFd(fds[0], true, 512, std::nullopt, &error)) << error;
    reader.SetGeometry(512, 8192, 2000);
    EXPECT_FALSE(reader.Seekable());
    EXPECT_FALSE(reader.End());
    if (skipTo != 0) {
      ASSERT_TRUE(reader.SkipTo(skipTo, &error)) << error;
    }
    std::vector<uint64_t> positions = CheckAllStrips(reader, source, 512, 2000, source.size());
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.front(), skipTo != 0 ? skipTo : 512);
    // The identifying first bytes of the range are kept even when skipped.
    ASSERT_EQ(reader.Prefix().size(), SourceReader::kPrefixBytes);
    EXPECT_EQ(0, memcmp(reader.Prefix().data(), source.data() + 512, reader.Prefix().size()));
    writer.join();
  }
}
