// RealMedia recognizer: the chunk walk, its ends, the RA and RMVB sub-types
// and the progress record.
#include "formats/media/RMVB.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;

constexpr uint32_t kRMVB = 1031, kRA = 776;

// Chunks of these IDs and sizes, then zeros up to total bytes.
Bytes Chunks(std::initializer_list<std::pair<const char*, uint32_t>> chunks, size_t total = 0) {
  Bytes b;
  for (const auto& [id, size] : chunks) b.Text(id).U32BE(size).U16BE(0).Fill(size < 10 ? 0 : size - 10, 0x52);
  return b.PadTo(total, 0);
}

// 2028 bytes of video; 2088 with the audio chunk (RMMD).
Bytes RealMedia(bool audio, size_t total = 0) {
  if (audio) return Chunks({{".RMF", 18}, {"PROP", 50}, {"MDPR", 300}, {"CONT", 40}, {"RMMD", 60}, {"DATA", 1500}, {"INDX", 120}}, total);
  return Chunks({{".RMF", 18}, {"PROP", 50}, {"MDPR", 300}, {"CONT", 40}, {"DATA", 1500}, {"INDX", 120}}, total);
}

TEST(Rmvb, ChunkWalkEndsAndSubTypes) {
  struct Case { const char* what; std::vector<trtest::AddedType> types; std::vector<uint8_t> image; const char* spans; };
  const Case cases[] = {
      {"ends behind its index when zeros follow", {kRMVB}, RealMedia(false, 3072), "rmvb@0+2028"},
      {"an audio chunk makes an RA file", {kRA}, RealMedia(true, 3072), "ra@0+2088"},
      {"an RA file when only video is wanted", {kRMVB}, RealMedia(true, 3072), ""},
      {"a zero-size chunk drops the file", {kRMVB, kRA}, Chunks({{".RMF", 18}, {"PROP", 50}, {"DATA", 0}}, 2048), ""},
      {"a new header cuts the file complete", {kRMVB},
       Bytes().Raw(trtest::Prefix(RealMedia(false), 1024)).Raw(RealMedia(false, 2540)), "rmvb@0+1024 rmvb@1024+2028"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trtest::CarvedSpans(c.types, c.image), c.spans) << c.what;
    if (*c.spans == 0) {
      EXPECT_TRUE(trtest::CarvedFiles(c.types, c.image).empty()) << c.what;
    }
  }
}

TEST(Rmvb, ProgressRecordKeepsTheCursorAndSubType) {
  EXPECT_EQ(trtest::Spans(trtest::ResumedRun({kRA, kRMVB}, RealMedia(true, 3072), 512, 64, 1024)), "ra@0+2088");
}

}  // namespace
