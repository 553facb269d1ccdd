// SWF, AMR and MIDI recognizers: their ends, maxima, header tests and
// progress records.
#include "formats/media/SmallMedia.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;

constexpr uint32_t kSWF = 1283, kAMR = 774, kMID = 773;

// A MIDI file of format 1 with tracks of these data lengths.
Bytes Midi(std::initializer_list<uint32_t> tracks) {
  Bytes b;
  b.Text("MThd").U32BE(6).U16BE(1).U16BE(static_cast<uint16_t>(tracks.size())).U16BE(480);
  for (uint32_t length : tracks) b.Text("MTrk").U32BE(length).Fill(length, 0x90);
  return b;
}

// A compressed movie that ends before the eight zero bytes at end.
Bytes Cws(size_t end) {
  Bytes b = Bytes().Text("CWS").U8(10).U32LE(99999).PadTo(end, 0x33).Zeros(8).PadTo(3000, 0x44);
  b.vec()[300] = b.vec()[301] = 0;  // shorter zero runs do not end it
  return b;
}

TEST(SmallMedia, HeaderTests) {
  CTypeRecoveryAMR amr(nullptr, nullptr);  // narrow band only
  const Bytes narrow = Bytes().Text("#!AMR\n").PadTo(17, 0x3C), wide = Bytes().Text("#!AMR-WB\n").PadTo(17, 0x3C);
  EXPECT_EQ(amr.IsHeaderMatched(narrow.data(), 17, 0), kAMR);
  EXPECT_EQ(amr.IsHeaderMatched(narrow.data(), 16, 0), 0u);
  EXPECT_EQ(amr.IsHeaderMatched(wide.data(), 17, 0), 0u);

  CTypeRecoveryMID mid(nullptr, nullptr);
  const Bytes good = Midi({10});
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

TEST(SmallMedia, FilesEndWhereTheirFormatSays) {
  Bytes foreignChunk = Midi({100, 600}).PadTo(2048, 0x55);
  foreignChunk.vec()[14 + 108] = 'X';  // the second track's ID
  struct Case { const char* what; uint32_t code; std::vector<uint8_t> image; const char* spans; };
  const Case cases[] = {
      {"uncompressed movie: its file length", kSWF, Bytes().Text("FWS").U8(10).U32LE(1234).PadTo(1234, 0x33).PadTo(3000),
       "swf@0+1234"},
      {"compressed movie: before eight zeros", kSWF, Cws(700), "swf@0+700"},
      {"eight zeros across the strip end", kSWF, Cws(1020), "swf@0+1020"},
      {"MIDI behind its last track", kMID, Midi({100, 200}).PadTo(1346, 0x55), "mid@0+330"},
      {"MIDI tracks across strips", kMID, Midi({700, 30, 1500}).PadTo(3292, 0x55), "mid@0+2268"},
      {"a foreign chunk before the last track", kMID, foreignChunk, "mid@0+122~"},
  };
  for (const Case& c : cases) EXPECT_EQ(trtest::CarvedSpans({c.code}, c.image), c.spans) << c.what;
}

TEST(SmallMedia, MaximaEndTheFileAtTheStripThatReachesThem) {
  EXPECT_EQ(CTypeRecoverySWF(nullptr, nullptr).GetMaxFileSize(), 134217728u);
  EXPECT_EQ(trtest::CarvedSpans({{kSWF, 1500}}, Bytes().Text("FWS").U8(10).U32LE(100000).PadTo(6000, 0x33)),
            "swf@0+1536~");
  // AMR: 16 MiB, in strips that do not divide it.
  constexpr uint32_t kMiB = 1 << 20, kStrip = kMiB / 3;
  const uint64_t max = CTypeRecoveryAMR(nullptr, nullptr).GetMaxFileSize();
  EXPECT_EQ(max, 16u * kMiB);
  const std::vector<uint8_t> stream = Bytes().Text("#!AMR\n").PadTo(16 * kMiB + kMiB / 2, 0x3C);
  EXPECT_EQ(trtest::CarvedSpans({{kAMR, max}}, stream, kStrip),
            "amr@0+" + std::to_string((max + kStrip - 1) / kStrip * kStrip) + "~");
}

TEST(SmallMedia, ProgressRecordsResumeTheFiles) {
  const std::vector<uint8_t> midi = Midi({700, 30, 1500}).PadTo(4096, 0x55);
  const std::vector<uint8_t> swf = Bytes().Text("CWS").U8(10).U32LE(1).PadTo(1800, 0x33).Zeros(8).PadTo(4096, 0x33);
  EXPECT_EQ(trtest::Spans(trtest::ResumedRun({kMID}, midi, 512, 64, 1024)), "mid@0+2268");
  EXPECT_EQ(trtest::Spans(trtest::ResumedRun({kSWF}, swf, 512, 64, 1024)), "swf@0+1800");
}

}  // namespace
