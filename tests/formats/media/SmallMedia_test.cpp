// SWF, AMR and MIDI recognizers: their ends, maxima, header tests and
// progress records.
#include "formats/media/SmallMedia.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

constexpr uint32_t kSWF = 1283, kAMR = 774, kMID = 773;

TEST(Swf, UncompressedMovieIsExactlyItsFileLength) {
  Bytes image;
  image.Text("FWS").U8(10).U32LE(1234).PadTo(1234, 0x33).PadTo(3000, 0x00);
  Scan scan({kSWF});
  EXPECT_EQ(scan.Feed(image, 512, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 1234u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
}

TEST(Swf, CompressedMovieEndsRightBeforeEightZeroBytes) {
  for (size_t end : {700u, 1020u}) {  // inside a strip; zeros across the strip end
    Bytes image;
    image.Text("CWS").U8(10).U32LE(99999).PadTo(end, 0x33).Zeros(8).PadTo(3000, 0x44);
    image.vec()[300] = 0;  // shorter zero runs do not end it
    image.vec()[301] = 0;
    Scan scan({kSWF});
    scan.Feed(image, 512, 64);
    ASSERT_EQ(scan.log.reports.size(), 1u);
    EXPECT_EQ(scan.log.reports[0].size, end);
    EXPECT_EQ(scan.log.reports[0].complete, 1u);
  }
}

TEST(Swf, MovieEndsAtTheStripThatReachesTheMaximum) {
  Bytes image;
  image.Text("FWS").U8(10).U32LE(100000).PadTo(6000, 0x33);
  trtest::ReportLog log;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log),
                                                      trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, kSWF, 1500);
  trtest::FeedImage(m, image, 512, 64);
  TypeRecovery_CloseManager(m);
  ASSERT_EQ(log.reports.size(), 1u);
  EXPECT_EQ(log.reports[0].size, 1536u);
  EXPECT_EQ(log.reports[0].complete, 0u);
  CTypeRecoverySWF swf(nullptr, nullptr);
  EXPECT_EQ(swf.GetMaxFileSize(), 134217728u);
  EXPECT_EQ(swf.GetTypePropertyFlag(), 1u);
}

TEST(Amr, NarrowBandOnly) {
  CTypeRecoveryAMR amr(nullptr, nullptr);
  Bytes narrow;
  narrow.Text("#!AMR\n").PadTo(17, 0x3C);
  Bytes wide;
  wide.Text("#!AMR-WB\n").PadTo(17, 0x3C);
  EXPECT_EQ(amr.IsHeaderMatched(narrow.data(), 17, 0), kAMR);
  EXPECT_EQ(amr.IsHeaderMatched(narrow.data(), 16, 0), 0u);
  EXPECT_EQ(amr.IsHeaderMatched(wide.data(), 17, 0), 0u);
}

TEST(Amr, StreamEndsBeforeZerosOrAtTheStripThatReaches16MiB) {
  Bytes shortStream;
  shortStream.Text("#!AMR\n").PadTo(900, 0x3C).Zeros(16).PadTo(2048, 0x3C);
  Scan scan({kAMR});
  scan.Feed(shortStream, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 900u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);

  constexpr uint32_t kStrip = 1 << 20;
  Bytes longStream;
  longStream.Text("#!AMR\n").PadTo(16 * kStrip + kStrip / 2, 0x3C);
  CTypeRecoveryAMR amr(nullptr, nullptr);
  EXPECT_EQ(amr.GetMaxFileSize(), 16u * kStrip);
  trtest::ReportLog log;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log),
                                                      trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, kAMR, amr.GetMaxFileSize());
  trtest::FeedImage(m, longStream, kStrip / 3, 64);  // strips that do not divide 16 MiB
  TypeRecovery_CloseManager(m);
  ASSERT_EQ(log.reports.size(), 1u);
  const uint64_t strip = kStrip / 3;
  const uint64_t reached = (16 * uint64_t{kStrip} + strip - 1) / strip * strip;
  EXPECT_EQ(log.reports[0].size, reached);
  EXPECT_EQ(log.reports[0].complete, 0u);
}

// A MIDI file of format 1 with tracks of these data lengths.
Bytes Midi(const std::vector<uint32_t>& tracks) {
  Bytes b;
  b.Text("MThd").U32BE(6).U16BE(1).U16BE(static_cast<uint16_t>(tracks.size())).U16BE(480);
  for (uint32_t length : tracks) b.Text("MTrk").U32BE(length).Fill(length, 0x90);
  return b;
}

TEST(Mid, HeaderTest) {
  CTypeRecoveryMID mid(nullptr, nullptr);
  Bytes good = Midi({10});
  EXPECT_EQ(mid.IsHeaderMatched(good.data(), 15, 0), kMID);
  EXPECT_EQ(mid.IsHeaderMatched(good.data(), 14, 0), 0u);
  struct Change { size_t at; uint8_t value; const char* what; };
  for (const Change& c : {Change{7, 7, "header length 7"}, Change{9, 3, "format 3"},
                          Change{11, 0, "no tracks"}, Change{3, 'D', "MThD"}}) {
    std::vector<uint8_t> bad = good;
    bad[c.at] = c.value;
    EXPECT_EQ(mid.IsHeaderMatched(bad.data(), 15, 0), 0u) << c.what;
  }
}

TEST(Mid, FileEndsBehindItsLastTrack) {
  // 14 + 108 + 208, and a larger file whose tracks cross strips.
  struct Case { std::vector<uint32_t> tracks; uint64_t size; };
  for (const Case& c : {Case{{100, 200}, 14 + 108 + 208}, Case{{700, 30, 1500}, 14 + 708 + 38 + 1508}}) {
    Bytes image = Midi(c.tracks);
    image.PadTo(c.size + 1024, 0x55);
    Scan scan({kMID});
    EXPECT_EQ(scan.Feed(image, 512, 64), 1u);
    ASSERT_EQ(scan.log.reports.size(), 1u);
    EXPECT_EQ(scan.log.reports[0].size, c.size);
    EXPECT_EQ(scan.log.reports[0].complete, 1u);
  }
}

TEST(Mid, ForeignChunkBeforeTheLastTrackEndsTheFileIncomplete) {
  Bytes image = Midi({100, 600});
  image.vec()[14 + 108] = 'X';  // the second track's ID
  image.PadTo(2048, 0x55);
  Scan scan({kMID});
  scan.Feed(image, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 14u + 108);
  EXPECT_EQ(scan.log.reports[0].complete, 0u);
}

TEST(SmallMedia, ProgressRecordsResumeTheFiles) {
  Bytes midi = Midi({700, 30, 1500});
  midi.PadTo(4096, 0x55);
  Bytes swf;
  swf.Text("CWS").U8(10).U32LE(1).PadTo(1800, 0x33).Zeros(8).PadTo(4096, 0x33);
  struct Case { uint32_t code; std::vector<uint8_t> image; uint64_t size; };
  for (const Case& c : {Case{kMID, midi, 14 + 708 + 38 + 1508}, Case{kSWF, swf, 1800}}) {
    const auto reports = trtest::ResumedRun({c.code}, c.image, 512, 64, 1024);
    ASSERT_EQ(reports.size(), 1u) << c.code;
    EXPECT_EQ(reports[0].size, c.size) << c.code;
    EXPECT_EQ(reports[0].complete, 1u) << c.code;
  }
}

}  // namespace
