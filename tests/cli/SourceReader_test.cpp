// The source is cut into contiguous strips, each followed by as much
// lookahead as the source has, from files and streams alike.
#include <gtest/gtest.h>

#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "Platform.h"
#include "SourceReader.h"
#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

using namespace trcli;

namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

// Reads every strip, checks each against the source; answers the positions.
std::vector<uint64_t> CheckAllStrips(SourceReader& reader, const std::vector<uint8_t>& source, uint32_t block,
                                     uint32_t lookahead, uint64_t end) {
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
    for (uint32_t i = strip.length + strip.lookahead; i < 16; ++i) EXPECT_EQ(strip.data[i], 0);  // 16 readable
    positions.push_back(strip.position);
    expected += strip.length;
  }
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(expected, end);
  return positions;
}

}  // namespace

// Files in memory are viewed in place and the rest read: a file with some
// pages dropped from memory goes back and forth between the two.
TEST(CliSourceReader, FileStripsAreContiguousWithinTheRangeAcrossRefills) {
  struct Case { size_t size; uint64_t offset; std::optional<uint64_t> length; uint32_t block, chunk, lookahead; bool drop; };
  for (const Case& c : {Case{100300, 0, std::nullopt, 512, 4096, 3000, false}, Case{20000, 1000, 5000, 1024, 2048, 1500, false},
                        Case{5, 0, std::nullopt, 512, 0, SourceReader::kDefaultLookahead, false},
                        Case{300000, 700, std::nullopt, 512, 16384, 3000, true}}) {
    trtest::TempDir dir;
    std::vector<uint8_t> source = Pattern(c.size);
    dir.Write("image.bin", source);
#if !defined(_WIN32)
    if (c.drop) {
      // Every other 64 KiB leaves the page cache (once written out).
      int fd = ::open((dir.path() + "/image.bin").c_str(), O_RDONLY);
      ASSERT_GE(fd, 0);
      ::fdatasync(fd);
      for (off_t at = 0; at < static_cast<off_t>(c.size); at += 2 << 16) ::posix_fadvise(fd, at, 1 << 16, POSIX_FADV_DONTNEED);
      ::close(fd);
    }
#endif
    SourceReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(dir.path() + "/image.bin", c.offset, c.length, &error)) << error;
    if (c.chunk != 0) reader.SetGeometry(c.block, c.chunk, c.lookahead);
    uint64_t end = c.length ? c.offset + *c.length : c.size;
    EXPECT_EQ(CheckAllStrips(reader, source, c.block, c.lookahead, end).size(), (end - c.offset + c.block - 1) / c.block);
    const size_t prefix = std::min<size_t>(SourceReader::kPrefixBytes, end - c.offset);
    ASSERT_EQ(reader.Prefix().size(), prefix);
    EXPECT_EQ(0, memcmp(reader.Prefix().data(), source.data() + c.offset, prefix));
    SourceReader beyond;
    EXPECT_FALSE(beyond.Open(dir.path() + "/image.bin", c.size + 1, std::nullopt, &error));
  }
}

TEST(CliSourceReader, StreamGivesTheSameStripsAndSkipsByReading) {
  std::vector<uint8_t> source = Pattern(70000);
  for (uint64_t skipTo : {uint64_t{0}, uint64_t{33280}}) {
    int fds[2];
    ASSERT_TRUE(trclitest::MakePipe(fds));
    std::thread writer([&] {
      for (size_t done = 0; done < source.size(); done += 777) {  // dribble in small pieces
        if (!trcli::platform::WriteAll(fds[1], source.data() + done, std::min<size_t>(777, source.size() - done)))
          break;
      }
      trcli::platform::Close(fds[1]);
    });
    SourceReader reader;
    std::string error;
    ASSERT_TRUE(reader.OpenFd(fds[0], true, 512, std::nullopt, &error)) << error;
    reader.SetGeometry(512, 8192, 2000);
    EXPECT_FALSE(reader.Seekable());
    if (skipTo != 0) {
      EXPECT_TRUE(reader.SkipTo(skipTo, &error)) << error;
    }
    std::vector<uint64_t> positions = CheckAllStrips(reader, source, 512, 2000, source.size());
    writer.join();
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.front(), skipTo != 0 ? skipTo : 512);
    // The identifying first bytes of the range are kept even when skipped.
    ASSERT_EQ(reader.Prefix().size(), SourceReader::kPrefixBytes);
    EXPECT_EQ(0, memcmp(reader.Prefix().data(), source.data() + 512, reader.Prefix().size()));
  }
}
