// PNG chunk walk: the end at IEND or at a chunk it does not know, chunk
// headers cut by strip ends, the cut by a new signature, progress, and real
// files carved from a disk image.
#include <gtest/gtest.h>

#include "formats/image/PNG.h"
#include "support/Carving.h"

using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Scan;
using trtest::Bytes;

namespace {

constexpr uint32_t kPng = 1539;

Bytes& Chunk(Bytes& b, const std::string& type, const std::vector<uint8_t>& data) {
  return b.U32BE(static_cast<uint32_t>(data.size())).Text(type).Raw(data).U32BE(0xC0FFEE00);
}

// Signature, IHDR, one IDAT of idatSize bytes, then IEND.
Bytes Png(uint32_t width, uint32_t height, size_t idatSize, bool withIend = true) {
  Bytes b;
  b.Raw({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
  Chunk(b, "IHDR", Bytes().U32BE(width).U32BE(height).Raw({8, 2, 0, 0, 0}));
  Chunk(b, "IDAT", std::vector<uint8_t>(idatSize, 0x5C));
  if (withIend) Chunk(b, "IEND", {});
  return b;
}

std::vector<uint8_t> Then(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(Png, IendEndingExactlyAtStripEndIsFinishedByTheNextCallWithNothingMoreWritten) {
  const std::vector<uint8_t> png = Png(640, 480, 512 - 57);
  ASSERT_EQ(png.size(), 512u);
  const std::vector<uint8_t> image = Then(png, std::vector<uint8_t>(1024, 0xA7));

  Scan scan({kPng});
  EXPECT_EQ(scan.Strip(image, 0, 512, 64), 0u);
  EXPECT_EQ(scan.Strip(image, 512, 512, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  const trtest::Report& r = scan.log.reports[0];
  EXPECT_EQ(r.size, 512u);
  EXPECT_EQ(r.complete, 1u);
  EXPECT_EQ(r.extension, "png");
  ASSERT_TRUE(r.hasPicture);
  EXPECT_EQ(r.picture.size, 456u);
  EXPECT_EQ(r.picture.typeCode, kPng);
  EXPECT_EQ(r.picture.width, 640u);
  EXPECT_EQ(r.picture.height, 480u);

  trtest::TempDir dir;
  FolderRun(dir, {{kPng}}, image, 512, 64);
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"png/00000.png"});
  EXPECT_EQ(dir.Read("png/00000.png"), png);
}

TEST(Png, ChunkTypeOutsideTheListEndsTwelveBytesAfterItsStartIncomplete) {
  // tIME is a valid ancillary chunk, but the walk does not know it.
  Bytes b = Png(16, 16, 40, false);
  const size_t stop = b.size();
  Chunk(b, "tIME", {7, 0xE5, 1, 2, 3, 4, 5});
  Chunk(b, "IEND", {});
  const std::vector<uint8_t> image = Then(b, std::vector<uint8_t>(700, 0x33));

  const auto reports = ReportRun({{kPng}}, image, 512, 32);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, stop + 12);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_EQ(reports[0].picture.width, 16u);

  trtest::TempDir dir;
  FolderRun(dir, {{kPng}}, image, 512, 32);
  EXPECT_EQ(dir.Read("png/00000.png"), trtest::Prefix(image, stop + 12));
}

TEST(Png, ChunkHeadersCutByStripEndsWithoutLookaheadAreStillRead) {
  // Strips of 20 bytes and no lookahead: IHDR's width and height straddle
  // the first strip end and every later chunk header can be cut.
  Bytes b;
  b.Raw({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
  Chunk(b, "IHDR", Bytes().U32BE(0x01020304).U32BE(0x0A0B0C0D).Raw({8, 2, 0, 0, 0}));
  for (size_t n : {1, 7, 19, 0, 33}) Chunk(b, "IDAT", std::vector<uint8_t>(n, 0x11));
  Chunk(b, "tEXt", {'a', 0, 'b'});
  Chunk(b, "IEND", {});
  const std::vector<uint8_t> png = b;
  const std::vector<uint8_t> image = Then(png, std::vector<uint8_t>(100, 0x99));

  for (uint32_t strip : {17u, 20u, 23u}) {
    const auto reports = ReportRun({{kPng}}, image, strip, 0);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(reports[0].size, png.size()) << strip;
    EXPECT_EQ(reports[0].complete, 1u) << strip;
    EXPECT_EQ(reports[0].picture.width, 0x01020304u) << strip;
    EXPECT_EQ(reports[0].picture.height, 0x0A0B0C0Du) << strip;
  }
}

TEST(Png, CorruptChunkLengthEndsTheFileInsteadOfStallingTheWalk) {
  Bytes b = Png(8, 8, 10, false);
  const size_t stop = b.size();
  b.U32BE(0xFFFFFFF4).Text("IDAT").Zeros(600);
  const auto reports = ReportRun({{kPng}}, b, 512, 16);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, stop + 12);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Png, NewSignatureAtStripStartCutsTheOpenFileWithItsBytesTaken) {
  Bytes first = Png(4, 4, 5000, false);  // no end within the first strip
  first.vec().resize(1024);
  // The new file outlasts the strip: one that ended inside it would also be
  // found again by the clone the driver makes for the strip's header.
  const std::vector<uint8_t> second = Png(9, 7, 1000);
  const std::vector<uint8_t> image = Then(first, Then(second, std::vector<uint8_t>(400, 1)));

  uint32_t ended = 0;
  const auto reports = ReportRun({{kPng}}, image, 512, 16, &ended);
  EXPECT_EQ(ended, 2u);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].start, 0u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].start, 1024u);
  EXPECT_EQ(reports[1].size, second.size());
  EXPECT_EQ(reports[1].complete, 1u);
  EXPECT_EQ(reports[1].picture.width, 9u);
}

TEST(Png, ShortStripOrOtherSignatureIsNoHeader) {
  CTypeRecoveryPNG png(nullptr, nullptr);
  const std::vector<uint8_t> header = Png(1, 1, 0);
  EXPECT_EQ(png.IsHeaderMatched(header.data(), 17, 0), kPng);
  EXPECT_EQ(png.IsHeaderMatched(header.data(), 16, 0), 0u);
  std::vector<uint8_t> bad = header;
  bad[7] = 0x0B;
  EXPECT_EQ(png.IsHeaderMatched(bad.data(), static_cast<uint32_t>(bad.size()), 0), 0u);
}

TEST(Png, ScanResumedFromProgressFileEndsAsAnUninterruptedOne) {
  DiskImage image;
  image.Random(1).File(Png(33, 44, 3000)).Random(2);
  const auto straight = ReportRun({{kPng}}, image.bytes(), 512, 20);
  // Stop where the next chunk header lies beyond the strip and where it is cut.
  for (size_t stopAt : {1024u, 3584u}) {
    const auto resumed = trtest::ResumedRun({{kPng}}, image.bytes(), 512, 20, stopAt);
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(resumed[0].size, straight[0].size);
    EXPECT_EQ(resumed[0].complete, 1u);
    EXPECT_EQ(resumed[0].picture.width, 33u);
  }
}
