// RealMedia recognizer: the chunk walk, its ends, the RA and RMVB sub-types
// and the progress record.
#include "formats/media/RMVB.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

constexpr uint32_t kRMVB = 1031, kRA = 776;

Bytes& Chunk(Bytes& b, const std::string& id, uint32_t size) {
  return b.Text(id).U32BE(size).U16BE(0).Fill(size - 10, 0x52);
}

// ".RMF", PROP, MDPR, CONT, (RMMD), DATA, INDX; the length in *length.
Bytes RealMedia(bool audio, size_t* length) {
  Bytes b;
  Chunk(b, ".RMF", 18);
  Chunk(b, "PROP", 50);
  Chunk(b, "MDPR", 300);
  Chunk(b, "CONT", 40);
  if (audio) Chunk(b, "RMMD", 60);
  Chunk(b, "DATA", 1500);
  Chunk(b, "INDX", 120);
  *length = b.size();
  return b;
}

TEST(Rmvb, FileEndsExactlyBehindItsIndexWhenZerosFollow) {
  size_t length = 0;
  Bytes file = RealMedia(false, &length);
  file.PadTo(length + 1024, 0x00);
  Scan scan({kRMVB});
  EXPECT_EQ(scan.Feed(file, 512, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].extension, "rmvb");
  EXPECT_EQ(scan.log.reports[0].size, length);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
}

TEST(Rmvb, AudioChunkMakesARaFileWhenAudioIsWanted) {
  size_t length = 0;
  Bytes file = RealMedia(true, &length);
  file.PadTo(length + 1024, 0x00);
  trtest::TempDir dir;
  {
    Scan folder({kRA}, &dir);
    folder.Feed(file, 512, 64);
  }
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"ra/00000.ra"});
  EXPECT_EQ(dir.Read("ra/00000.ra").size(), length);
  // Only video wanted: the audio file leaves nothing.
  trtest::TempDir none;
  {
    Scan folder({kRMVB}, &none);
    folder.Feed(file, 512, 64);
  }
  EXPECT_TRUE(none.Files().empty());
}

TEST(Rmvb, VideoFileIsDroppedWhenOnlyAudioIsWanted) {
  size_t length = 0;
  Bytes file = RealMedia(false, &length);
  file.PadTo(length + 1024, 0x00);
  trtest::TempDir dir;
  {
    Scan folder({kRA}, &dir);
    folder.Feed(file, 512, 64);
  }
  EXPECT_TRUE(dir.Files().empty());
  Scan scan({kRA});
  scan.Feed(file, 512, 64);
  EXPECT_TRUE(scan.log.reports.empty());
}

TEST(Rmvb, ZeroSizeChunkDropsTheFile) {
  Bytes file;
  Chunk(file, ".RMF", 18);
  Chunk(file, "PROP", 50);
  file.Text("DATA").U32BE(0).PadTo(2048, 0x52);
  trtest::TempDir dir;
  {
    Scan folder({kRMVB, kRA}, &dir);
    folder.Feed(file, 512, 64);
  }
  EXPECT_TRUE(dir.Files().empty());
}

TEST(Rmvb, NewHeaderCutsTheFileReportedComplete) {
  size_t length = 0;
  Bytes image = RealMedia(false, &length);
  image.vec().resize(1024);  // the DATA chunk runs on past the next header
  Bytes second = RealMedia(false, &length);
  image.Raw(second).PadTo(1024 + length + 512, 0x00);
  Scan scan({kRMVB});
  scan.Feed(image, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 2u);
  EXPECT_EQ(scan.log.reports[0].size, 1024u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
  EXPECT_EQ(scan.log.reports[1].start, 1024u);
  EXPECT_EQ(scan.log.reports[1].size, length);
}

TEST(Rmvb, ProgressRecordKeepsTheCursorAndSubType) {
  size_t length = 0;
  Bytes file = RealMedia(true, &length);
  file.PadTo(length + 1024, 0x00);
  const auto reports = trtest::ResumedRun({kRA, kRMVB}, file, 512, 64, 1024);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "ra");
  EXPECT_EQ(reports[0].size, length);
}

}  // namespace
