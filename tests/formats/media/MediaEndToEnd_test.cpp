// End to end: real files made by ffmpeg, sox, lame and abc2midi
// (tests/data/media, see make_media.sh and make_streams_and_declared.sh)
// carved out of synthetic disk images in folder mode (byte-identical files
// under the right names) and reported in report mode (offsets, sizes,
// complete flags).
#include <gtest/gtest.h>

#include <algorithm>

#include "support/Carving.h"

namespace {

using trtest::Fixture;
using trtest::RandomImage;

struct Placed {
  const char* fixture;
  std::vector<trtest::AddedType> types;
  const char* output;       // relative to the root; its folder is the report's extension
  int64_t extra = 0;        // size minus the fixture's size
  bool complete = true;
  bool zerosAfter = false;  // else a byte that is neither 0 nor 0xFF, then random filler
  size_t offset = 0;        // where it lies in the image
  std::vector<uint8_t> carved{};
};

// Every fixture at a 4096-byte boundary. Sub-types share their class's file
// counter: the WAV after the AVI is number 1, the WMA after the WMV too.
class MediaImage {
 public:
  MediaImage() {
    placed = {
        {"clip.mp4", {1028}, "mp4/00000.mp4"}, {"clip.mov", {1030}, "mov/00000.mov"},
        {"clip.m4v", {1029}, "m4v/00000.m4v"}, {"tone.m4a", {778}, "m4a/00000.m4a"},
        {"clip.3gp", {1032}, "3gp/00000.3gp"}, {"clip.3g2", {1033}, "3g2/00000.3g2"},
        {"clip.avi", {1025, 1037, 1566}, "avi/00000.avi"}, {"tone.wav", {770}, "wav/00001.wav"},
        // The MP3 walk keeps one trailing zero byte.
        {"plain.mp3", {769}, "mp3/00000.mp3", 1, true, true},
        {"id3v2.mp3", {}, "mp3/00001.mp3"}, {"tagged.mp3", {}, "mp3/00002.mp3"},
        // ASF: the File Properties Object's File Size; without a video stream, audio.
        {"video.wmv", {1027, 772}, "wmv/00000.wmv"}, {"audio.wma", {}, "wma/00001.wma"},
        {"stream.asf", {}, "wmv/00002.wmv"},
        {"video.mkv", {1034}, "mkv/00000.mkv"}, {"video.webm", {}, "mkv/00001.mkv"},
        // Transport streams end at the last whole packet; the lost sync makes them incomplete.
        {"stream.ts", {1035}, "mts/00000.mts", 0, false, true},
        {"stream.m2ts", {}, "mts/00001.mts", 0, false, true},
        {"audio.ogg", {775}, "ogg/00000.ogg"}, {"audio.opus", {}, "ogg/00001.ogg"},
        {"video.flv", {1036}, "flv/00000.flv", 0, true, true},
        // The DATA chunk states 10 bytes more than the muxer wrote; the walk
        // ends at the unknown ID behind it.
        {"video.rm", {1031, 776}, "rmvb/00000.rmvb", 10},
        {"movie.swf", {1283}, "swf/00000.swf"}, {"video.wtv", {1039}, "wtv/00000.wtv"},
        {"ringtone.mmf", {780}, "mmf/00000.mmf"}, {"sound.aiff", {779}, "aif/00000.aif"},
        {"sound.au", {777}, "au/00000.au"}, {"speech.amr", {774}, "amr/00000.amr", 0, true, true},
        {"tune.mid", {773}, "mid/00000.mid"},
    };
    size_t at = 4096;
    for (Placed& p : placed) {
      types.insert(types.end(), p.types.begin(), p.types.end());
      p.offset = at;
      at += (Fixture("media", p.fixture).size() / 4096 + 2) * 4096;
    }
    RandomImage image(at + 4096, 7);
    for (Placed& p : placed) {
      const std::vector<uint8_t> file = Fixture("media", p.fixture);
      image.Put(p.offset, file);
      if (p.zerosAfter) {
        image.Zero(p.offset + file.size(), 1000);
      } else {
        image.PutByte(p.offset + file.size(), 0x5A);
      }
    }
    bytes = image.bytes();
    for (Placed& p : placed) {
      const auto from = bytes.begin() + static_cast<long>(p.offset);
      p.carved.assign(from, from + static_cast<long>(Fixture("media", p.fixture).size() + p.extra));
    }
  }

  std::vector<Placed> placed;
  std::vector<trtest::AddedType> types;
  std::vector<uint8_t> bytes;
};

// Lookahead, strip size and pauses are every fixture's concern in
// AllFixtures_test; here the names, counters, sizes and flags of each kind.
TEST(MediaEndToEnd, EveryFileIsWrittenUnderItsNameAndReportedWithItsSizeAndFlag) {
  const MediaImage image;
  std::vector<std::string> names;
  std::string spans;
  for (const Placed& p : image.placed) {
    const std::string output = p.output;
    names.push_back(output);
    spans += (spans.empty() ? "" : " ") + output.substr(0, output.find('/')) + "@" +
             std::to_string(p.offset) + "+" + std::to_string(p.carved.size()) + (p.complete ? "" : "~");
  }
  std::sort(names.begin(), names.end());
  trtest::TempDir dir;
  uint32_t error = 0;
  trtest::FolderRun(dir, image.types, image.bytes, 512, 64, &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(dir.Files(), names);
  for (const Placed& p : image.placed) EXPECT_EQ(dir.Read(p.output), p.carved) << p.fixture;

  uint32_t ended = 0;
  const auto reports = trtest::ReportRun(image.types, image.bytes, 512, 512, &ended);
  EXPECT_EQ(trtest::Spans(reports), spans);
  EXPECT_EQ(ended, image.placed.size());
  for (const trtest::Report& r : reports) EXPECT_FALSE(r.hasPicture);
}

// A fixture at kAt in random filler.
constexpr uint32_t kSector = 512;
constexpr size_t kAt = 3 * kSector;
std::vector<uint8_t> Alone(const std::vector<uint8_t>& file) {
  return RandomImage(kAt + file.size() + 8 * kSector, 7).Put(kAt, file).bytes();
}

TEST(MediaEndToEnd, ProgramStreamsEndWhereAnotherFormatBegins) {
  // The muxer writes no end code: an Ogg file at the next sector ends each
  // program stream before it.
  const std::vector<uint8_t> ogg = Fixture("media", "audio.ogg");
  for (const char* name : {"program.mpg", "program.vob"}) {
    const std::vector<uint8_t> mpeg = Fixture("media", name);
    const size_t next = kAt + (mpeg.size() + kSector - 1) / kSector * kSector;
    const std::vector<uint8_t> image = RandomImage(next + ogg.size() + 4 * kSector, 11).Put(kAt, mpeg).Put(next, ogg).bytes();
    EXPECT_EQ(trtest::CarvedSpans({1026, 775}, image, kSector, kSector),
              "mpg@1536+" + std::to_string(next - kAt) + " ogg@" + std::to_string(next) + "+" + std::to_string(ogg.size()))
        << name;
  }
}

TEST(MediaEndToEnd, SubTypesNotAskedForLeaveNoFile) {
  for (const auto& [fixture, code] : {std::pair<const char*, uint32_t>{"video.wmv", 772}, {"audio.wma", 1027}, {"video.rm", 776}}) {
    const std::vector<uint8_t> image = Alone(Fixture("media", fixture));
    EXPECT_EQ(trtest::CarvedSpans({code}, image, kSector, kSector), "") << fixture;
    EXPECT_TRUE(trtest::CarvedFiles({code}, image, kSector, kSector).empty()) << fixture;
  }
}

}  // namespace
