// End to end: real files made by ffmpeg, sox and lame (tests/data/media,
// see make_media.sh) carved out of a synthetic disk image in folder mode and
// reported in report mode.
#include <gtest/gtest.h>

#include <random>

#include "support/Carving.h"

namespace {

using trtest::Fixture;
using trtest::RandomImage;
using trtest::Scan;

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
// number 1. The plain MP3 is followed by zeros: its walk keeps one trailing zero byte.
// The other MP3s are followed by a byte that is neither 0 nor 0xFF.
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
    for (const auto& f : files) {
      Placed p;
      p.fixture = f.first;
      p.output = f.second;
      p.offset = at;
      p.carved = Fixture("media", f.first);
      at += (p.carved.size() / 4096 + 2) * 4096;
      placed.push_back(p);
    }
    RandomImage image(at + 4096, 7);
    for (Placed& p : placed) {
      image.Put(p.offset, p.carved);
      const size_t end = p.offset + p.carved.size();
      if (p.fixture == "plain.mp3") {
        image.Zero(end, 1000);
        p.carved.push_back(0);
      } else {
        image.PutByte(end, 0x5A);
      }
    }
    bytes = image.bytes();
  }

  std::vector<Placed> placed;
  std::vector<uint8_t> bytes;
};

TEST(MediaEndToEnd, FixturesAreWhatTheirScriptMade) {
  const MediaImage image;
  for (const Placed& p : image.placed) {
    ASSERT_GT(p.carved.size(), 1000u) << p.fixture;
    EXPECT_LT(p.carved.size(), 100000u) << p.fixture;
  }
}

TEST(MediaEndToEnd, FolderModeWritesEveryFileByteForByte) {
  const MediaImage image;
  for (const auto& [strip, lookahead] : {std::pair<uint32_t, uint32_t>{512, 64}, {4096, 4096}}) {
    trtest::TempDir dir;
    {
      Scan scan(kMediaTypes, &dir);
      scan.Feed(image.bytes, strip, lookahead);
      EXPECT_EQ(scan.errorFlag, 0u);
    }
    std::vector<std::string> expected;
    for (const Placed& p : image.placed) expected.push_back(p.output);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Files(), expected) << strip;
    for (const Placed& p : image.placed) {
      EXPECT_EQ(dir.Read(p.output), p.carved) << p.fixture << " strip " << strip;
    }
  }
}

TEST(MediaEndToEnd, ReportModeGivesOffsetsSizesAndCompleteFlags) {
  const MediaImage image;
  Scan scan(kMediaTypes);
  EXPECT_EQ(scan.Feed(image.bytes, 512, 64), image.placed.size());
  ASSERT_EQ(scan.log.reports.size(), image.placed.size());
  for (size_t i = 0; i < image.placed.size(); ++i) {
    const Placed& p = image.placed[i];
    const trtest::Report& r = scan.log.reports[i];
    EXPECT_EQ(r.extension, p.output.substr(0, p.output.find('/'))) << p.fixture;
    EXPECT_EQ(r.start, p.offset) << p.fixture;
    EXPECT_EQ(r.size, p.carved.size()) << p.fixture;
    EXPECT_EQ(r.complete, 1u) << p.fixture;
    EXPECT_FALSE(r.hasPicture);
  }
}

TEST(MediaEndToEnd, ScanResumedFromAProgressFileReportsTheSame) {
  const MediaImage image;
  Scan whole(kMediaTypes);
  whole.Feed(image.bytes, 512, 64);
  // Stop inside the AVI, inside the ID3v2-tagged MP3 and inside the MOV.
  for (const char* inside : {"clip.avi", "id3v2.mp3", "clip.mov"}) {
    size_t stopAt = 0;
    for (const Placed& p : image.placed) {
      if (p.fixture == inside) stopAt = p.offset + 1024;
    }
    const std::vector<trtest::Report> resumed =
        trtest::ResumedRun(kMediaTypes, image.bytes, 512, 64, stopAt);
    ASSERT_EQ(resumed.size(), whole.log.reports.size()) << inside;
    for (size_t i = 0; i < resumed.size(); ++i) {
      EXPECT_EQ(resumed[i].extension, whole.log.reports[i].extension) << inside;
      EXPECT_EQ(resumed[i].start, whole.log.reports[i].start) << inside;
      EXPECT_EQ(resumed[i].size, whole.log.reports[i].size) << inside;
      EXPECT_EQ(resumed[i].complete, whole.log.reports[i].complete) << inside;
    }
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
    Scan scan(kMediaTypes);
    scan.Feed(image, strip, lookahead);
    for (const trtest::Report& r : scan.log.reports) {
      if (r.complete == 1) {
        EXPECT_LE(r.start + r.size, image.size()) << round << " " << r.extension;
      }
    }
  }
}

}  // namespace
