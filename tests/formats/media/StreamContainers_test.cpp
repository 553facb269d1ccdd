// Matroska, transport-stream, Ogg and FLV recognizers: header tests, the
// sizes and walks that end their files, cuts and progress records.
#include "formats/media/StreamContainers.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

constexpr uint32_t kMKV = 1034, kMTS = 1035, kOGG = 775, kFLV = 1036;

// EBML header of 0x23 bytes (one-byte size 0xA3) holding a DocType, then the
// Segment with the size bytes given.
Bytes Matroska(const std::vector<uint8_t>& segmentSize) {
  Bytes b;
  b.U8(0x1A).U8(0x45).U8(0xDF).U8(0xA3).U8(0xA3);
  b.U8(0x42).U8(0x82).U8(0x88).Text("matroska").PadTo(5 + 0x23, 0xEC);
  return b.U8(0x18).U8(0x53).U8(0x80).U8(0x67).Raw(segmentSize);
}

TEST(Mkv, HeaderNeedsTheDocTypeAndSegmentIdsWithinItsFirst512Bytes) {
  CTypeRecoveryMKV mkv(nullptr, nullptr);
  Bytes header = Matroska({0x81});
  header.PadTo(512, 0x11);
  EXPECT_EQ(mkv.IsHeaderMatched(header.data(), 512, 0), kMKV);
  EXPECT_EQ(mkv.IsHeaderMatched(header.data(), 511, 0), 0u);
  Bytes late;  // the Segment ID begins at 508
  late.U8(0x1A).U8(0x45).U8(0xDF).U8(0xA3).U8(0x42).U8(0x82).PadTo(508, 0x11);
  late.U8(0x18).U8(0x53).U8(0x80).U8(0x67);
  EXPECT_EQ(mkv.IsHeaderMatched(late.data(), 512, 0), 0u);
  late.vec()[507] = 0x18, late.vec()[508] = 0x53, late.vec()[509] = 0x80, late.vec()[510] = 0x67;
  EXPECT_EQ(mkv.IsHeaderMatched(late.data(), 512, 0), kMKV);
}

TEST(Mkv, SegmentSizeGivesTheExactFileAndUnknownSizeTheHeadersOnly) {
  struct Case { std::vector<uint8_t> size; uint64_t expected; };
  const Case cases[] = {
      {{0x80 | 100}, 4 + 1 + 35 + 4 + 1 + 100},
      {{0x40 | 0x07, 0xD0}, 4 + 1 + 35 + 4 + 2 + 2000},
      {{0xFF}, 4 + 1 + 35 + 4 + 1},              // unknown size
      {{0x7F, 0xFF}, 4 + 1 + 35 + 4 + 2},        // unknown size, two bytes
  };
  for (const Case& c : cases) {
    Bytes file = Matroska(c.size);
    file.PadTo(4096, 0x37);
    Scan scan({kMKV});
    EXPECT_EQ(scan.Feed(file, 512, 64), 1u);
    ASSERT_EQ(scan.log.reports.size(), 1u);
    EXPECT_EQ(scan.log.reports[0].size, c.expected);
    EXPECT_EQ(scan.log.reports[0].complete, 1u);
  }
}

TEST(Mkv, HeaderThatCannotBeReadStartsNoFileButStillCuts) {
  // The second header's EBML size (a four-byte integer of 0x0FFFFFF) puts
  // its Segment far beyond the strip.
  Bytes bad;
  bad.U8(0x1A).U8(0x45).U8(0xDF).U8(0xA3).U8(0x1F).U8(0xFF).U8(0xFF).U8(0xFF);
  bad.U8(0x42).U8(0x82).U8(0x18).U8(0x53).U8(0x80).U8(0x67).PadTo(512, 0x37);
  Bytes image;
  image.Raw(Matroska({0x10, 0x00, 0x10, 0x00})).PadTo(512, 0x37).Raw(bad).PadTo(2048, 0x37);
  Scan scan({kMKV});
  EXPECT_EQ(scan.Feed(image, 512, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 512u);
  EXPECT_EQ(scan.log.reports[0].complete, 0u);
}

// Transport stream packets: sync byte, then filler; prefixed packets carry
// a 4-byte arrival time in front of it.
Bytes Packets(uint32_t count, uint32_t packetSize) {
  Bytes b;
  for (uint32_t i = 0; i < count; ++i) {
    if (packetSize == 192) b.U32BE(i * 300);
    b.U8(0x47).Fill(187, static_cast<uint8_t>(0x10 + i % 16));
  }
  return b;
}

TEST(Mts, HeaderTakesThreeSyncPatterns) {
  CTypeRecoveryMTS mts(nullptr, nullptr);
  Bytes plain = Packets(3, 188);
  plain.PadTo(512, 0);
  Bytes prefixed = Packets(3, 192);
  prefixed.PadTo(512, 0);
  Bytes shifted;
  shifted.Zeros(4).Raw(Packets(3, 188)).PadTo(512, 0);
  EXPECT_EQ(mts.IsHeaderMatched(plain.data(), 512, 0), kMTS);
  EXPECT_EQ(mts.IsHeaderMatched(prefixed.data(), 512, 0), kMTS);
  EXPECT_EQ(mts.IsHeaderMatched(shifted.data(), 512, 0), kMTS);
  EXPECT_EQ(mts.IsHeaderMatched(plain.data(), 511, 0), 0u);
  plain.vec()[376] = 0x48;
  EXPECT_EQ(mts.IsHeaderMatched(plain.data(), 512, 0), 0u);
}

TEST(Mts, PrefixedStreamEndsAtItsLastWholePacketWithoutTheNextPrefix) {
  // 8 packets of 192 bytes (1536 bytes: three strips of 512), then a
  // prefix-sized gap and no sync byte.
  Bytes image = Packets(8, 192);
  image.PadTo(4096, 0x00);
  for (uint32_t lookahead : {16u, 512u}) {
    Scan scan({kMTS});
    scan.Feed(image, 512, lookahead);
    ASSERT_EQ(scan.log.reports.size(), 1u);
    EXPECT_EQ(scan.log.reports[0].size, 1536u);
    EXPECT_EQ(scan.log.reports[0].complete, 0u);  // the sync was lost
    trtest::TempDir dir;
    {
      Scan folder({kMTS}, &dir);
      folder.Feed(image, 512, lookahead);
    }
    EXPECT_EQ(dir.Read("mts/00000.mts").size(), 1536u) << lookahead;
  }
}

TEST(Mts, HeaderInsideAStreamDoesNotCutIt) {
  Bytes image = Packets(20, 188);
  image.PadTo(4096, 0x00);
  Scan scan({kMTS});
  EXPECT_EQ(scan.Feed(image, 752, 64), 1u);  // strips of four packets
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 20u * 188);
}

TEST(Mts, StreamWhoseNextSyncIsNoLongerReadableIsComplete) {
  // Two bytes follow the last packet at the end of the source: the next
  // sync byte cannot be examined, and the stream ends complete.
  Bytes image = Packets(6, 188);
  image.Fill(2, 0x00);
  Scan scan({kMTS});
  scan.Feed(image, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
  EXPECT_EQ(scan.log.reports[0].size, 6u * 188);
}

// An Ogg page with the header type given and segments of these lengths.
Bytes OggPage(uint8_t headerType, const std::vector<uint8_t>& segments, uint32_t serial = 1) {
  Bytes b;
  b.Text("OggS").U8(0).U8(headerType).U64LE(0).U32LE(serial).U32LE(0).U32LE(0);
  b.U8(static_cast<uint8_t>(segments.size()));
  for (uint8_t s : segments) b.U8(s);
  for (uint8_t s : segments) b.Fill(s, 0x4F);
  return b;
}

TEST(Ogg, HeaderIsABeginningOfStreamPageOnly) {
  CTypeRecoveryOGG ogg(nullptr, nullptr);
  for (uint8_t type : {0, 1, 2, 4, 6}) {
    Bytes page = OggPage(type, {30});
    EXPECT_EQ(ogg.IsHeaderMatched(page.data(), static_cast<uint32_t>(page.size()), 0),
              type == 2 ? kOGG : 0u)
        << int(type);
  }
  Bytes page = OggPage(2, {});
  EXPECT_EQ(ogg.IsHeaderMatched(page.data(), 9, 0), kOGG);
  EXPECT_EQ(ogg.IsHeaderMatched(page.data(), 8, 0), 0u);
}

TEST(Ogg, ChainedStreamsAreOneFileEndingBehindTheLastPage) {
  Bytes file;
  file.Raw(OggPage(2, {255, 255, 10})).Raw(OggPage(0, {200})).Raw(OggPage(4, {50}));
  file.Raw(OggPage(2, {255, 100}, 2)).Raw(OggPage(4, {255, 255, 255, 40}, 2));
  const size_t length = file.size();
  file.PadTo(length + 2048, 0x00);
  Scan scan({kOGG});
  EXPECT_EQ(scan.Feed(file, 512, 512), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, length);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
}

TEST(Ogg, BeginningOfStreamAtAStripStartCutsTheFile) {
  // The first file's second page runs past 1024, where a new stream begins.
  Bytes image;
  image.Raw(OggPage(2, {255, 255})).Raw(OggPage(0, {255, 255, 255}));
  image.vec().resize(1024);
  image.Raw(OggPage(2, {255, 255, 255, 255, 255})).PadTo(3072, 0x00);
  Scan scan({kOGG});
  EXPECT_EQ(scan.Feed(image, 1024, 512), 2u);
  ASSERT_EQ(scan.log.reports.size(), 2u);
  EXPECT_EQ(scan.log.reports[0].size, 1024u);
  EXPECT_EQ(scan.log.reports[0].complete, 0u);
  EXPECT_EQ(scan.log.reports[1].start, 1024u);
  EXPECT_EQ(scan.log.reports[1].size, 27u + 5 + 5 * 255);
  EXPECT_EQ(scan.log.reports[1].complete, 1u);
}

// FLV: header with the type flags given, then tags and their PreviousTagSize.
Bytes Flv(uint8_t flags, const std::vector<std::pair<uint8_t, uint32_t>>& tags) {
  Bytes b;
  b.Text("FLV").U8(1).U8(flags).U32BE(9);
  uint32_t previous = 0;
  for (const auto& [type, size] : tags) {
    b.U32BE(previous).U8(type).U8(size >> 16).U16BE(size & 0xFFFF).U32BE(0).U8(0).U16BE(0);
    b.Fill(size, 0x2A);
    previous = size + 11;
  }
  return b.U32BE(previous);
}

TEST(Flv, HeaderTakesTypeFlags0_1And5) {
  CTypeRecoveryFLV flv(nullptr, nullptr);
  for (uint8_t flags : {0, 1, 4, 5}) {
    Bytes header = Flv(flags, {});
    header.PadTo(10);
    EXPECT_EQ(flv.IsHeaderMatched(header.data(), 10, 0), flags == 4 ? 0u : kFLV) << int(flags);
  }
  Bytes header = Flv(5, {});
  EXPECT_EQ(flv.IsHeaderMatched(header.data(), 9, 0), 0u);
}

TEST(Flv, FileKeepsThePreviousTagSizeBehindItsLastTag) {
  Bytes file = Flv(5, {{18, 300}, {9, 700}, {8, 120}, {9, 900}});
  const size_t length = file.size();
  EXPECT_EQ(length, 9u + 4 * 15 + 300 + 700 + 120 + 900 + 4);
  file.PadTo(length + 1024, 0x00);
  Scan scan({kFLV});
  EXPECT_EQ(scan.Feed(file, 512, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, length);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
}

TEST(StreamContainers, ProgressRecordsResumeTheWalks) {
  Bytes ogg;
  ogg.Raw(OggPage(2, {255, 255, 255})).Raw(OggPage(0, {255, 255, 200})).Raw(OggPage(4, {90}));
  const size_t oggLength = ogg.size();
  ogg.PadTo(4096, 0x00);
  Bytes flv = Flv(5, {{9, 700}, {8, 120}, {9, 900}});
  const size_t flvLength = flv.size();
  flv.PadTo(4096, 0x00);
  Bytes mts = Packets(12, 192);
  mts.PadTo(4096, 0x00);
  struct Case { uint32_t code; std::vector<uint8_t> image; uint64_t size; };
  for (const Case& c : {Case{kOGG, ogg, oggLength}, Case{kFLV, flv, flvLength},
                        Case{kMTS, mts, 12 * 192}}) {
    const auto reports = trtest::ResumedRun({c.code}, c.image, 512, 64, 1024);
    ASSERT_EQ(reports.size(), 1u) << c.code;
    EXPECT_EQ(reports[0].size, c.size) << c.code;
  }
}

}  // namespace
