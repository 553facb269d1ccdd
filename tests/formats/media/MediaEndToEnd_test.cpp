// End to end: real files made by ffmpeg, sox and lame (tests/data/media,
// see make_media.sh) carved out of a synthetic disk image in folder mode and
// reported in report mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/ReportSpans.h"

namespace {

const std::vector<trtest::AddedType> kMediaTypes = {1028, 1029, 1030, 1032, 1033, 778,
                                                    1025, 770,  1037, 1566, 769};

struct Placed {
  std::string fixture;
  std::string output;           // expected output file, relative to the root
  size_t offset = 0;            // where it lies in the image
  std::vector<uint8_t> carved;  // the bytes the recognizer takes
};

// Every fixture at a 4096-byte boundary, with random filler between them.
// The RIFF sub-types share one file counter, so the WAV after the AVI is
// number 1. The plain MP3 is followed by zeros: its walk keeps one trailing
// zero byte. The other files are followed by a byte that is neither 0 nor 0xFF.
class MediaImage {
 public:
  MediaImage() {
    const std::pair<const char*, const char*> files[] = {
        {"clip.mp4", "mp4/00000.mp4"},  {"clip.mov", "mov/00000.mov"},
        {"clip.m4v", "m4v/00000.m4v"},  {"tone.m4a", "m4a/00000.m4a"},
        {"clip.3gp", "3gp/00000.3gp"},  {"clip.3g2", "3g2/00000.3g2"},
        {"clip.avi", "avi/00000.avi"},  {"tone.wav", "wav/00001.wav"},
        {"plain.mp3", "mp3/00000.mp3"}, {"id3v2.mp3", "mp3/00001.mp3"},
        {"tagged.mp3", "mp3/00002.mp3"},
    };
    size_t at = 4096;
    for (const auto& [fixture, output] : files) {
      placed.push_back({fixture, output, at, trtest::Fixture("media", fixture)});
      at += (placed.back().carved.size() / 4096 + 2) * 4096;
    }
    trtest::RandomImage image(at + 4096, 7);
    for (Placed& p : placed) {
      image.Put(p.offset, p.carved);
      if (p.fixture == "plain.mp3") {
        image.Zero(p.offset + p.carved.size(), 1000);
        p.carved.push_back(0);
      } else {
        image.PutByte(p.offset + p.carved.size(), 0x5A);
      }
    }
    bytes = image.bytes();
  }

  std::vector<Placed> placed;
  std::vector<uint8_t> bytes;
};

TEST(MediaEndToEnd, FolderModeWritesEveryFileByteForByte) {
  const MediaImage image;
  std::vector<std::string> expected;
  for (const Placed& p : image.placed) expected.push_back(p.output);
  std::sort(expected.begin(), expected.end());
  for (const auto& [strip, lookahead] : {std::pair<uint32_t, uint32_t>{512, 64}, {4096, 4096}}) {
    trtest::TempDir dir;
    uint32_t error = 0;
    trtest::FolderRun(dir, kMediaTypes, image.bytes, strip, lookahead, &error);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(dir.Files(), expected) << strip;
    for (const Placed& p : image.placed) EXPECT_EQ(dir.Read(p.output), p.carved) << p.fixture << " strip " << strip;
  }
}

TEST(MediaEndToEnd, ReportModeGivesOffsetsSizesAndCompleteFlags) {
  const MediaImage image;
  std::string expected;
  for (const Placed& p : image.placed) {
    expected += (expected.empty() ? "" : " ") + p.output.substr(0, p.output.find('/')) + "@" +
                std::to_string(p.offset) + "+" + std::to_string(p.carved.size());
  }
  uint32_t ended = 0;
  const auto reports = trtest::ReportRun(kMediaTypes, image.bytes, 512, 64, &ended);
  EXPECT_EQ(trtest::Spans(reports), expected);
  EXPECT_EQ(ended, image.placed.size());
  for (const trtest::Report& r : reports) EXPECT_FALSE(r.hasPicture);
  // Stopped inside the AVI, the ID3v2-tagged MP3 and the MOV, a scan resumed
  // from its progress file reports the same.
  for (const char* inside : {"clip.avi", "id3v2.mp3", "clip.mov"}) {
    const auto p = std::find_if(image.placed.begin(), image.placed.end(), [&](const Placed& x) { return x.fixture == inside; });
    EXPECT_EQ(trtest::Spans(trtest::ResumedRun(kMediaTypes, image.bytes, 512, 64, p->offset + 1024)), expected) << inside;
  }
}

TEST(MediaEndToEnd, DamagedImagesAreFollowedWithoutReadingPastTheStrip) {
  // Each strip is copied into a buffer of exactly strip plus lookahead bytes,
  // so a read past them is caught by the sanitizer build.
  const MediaImage clean;
  std::mt19937 random(99);
  const std::pair<uint32_t, uint32_t> strips[] = {{17, 0}, {100, 7}, {512, 64}, {4096, 0}};
  for (int round = 0; round < 24; ++round) {
    std::vector<uint8_t> image = clean.bytes;
    for (int i = 0; i < 400; ++i) image[random() % image.size()] = static_cast<uint8_t>(random());
    const auto& [strip, lookahead] = strips[round % 4];
    for (const trtest::Report& r : trtest::ReportRun(kMediaTypes, image, strip, lookahead)) {
      if (r.complete == 1) {
        EXPECT_LE(r.start + r.size, image.size()) << round << " " << r.extension;
      }
    }
  }
}

}  // namespace
