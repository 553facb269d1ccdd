// End to end: files made by real tools (ffmpeg, sox, abc2midi; see
// tests/data/media/make_streams_and_declared.sh) carved from synthetic disk
// images in report mode (offsets, sizes, complete flags) and folder mode
// (byte-identical outputs under the right names).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/ReportSpans.h"

namespace {

using trtest::Fixture;
using trtest::RandomImage;

constexpr uint32_t kSector = 512;
constexpr size_t kAt = 3 * kSector;

struct Case {
  const char* fixture;
  std::vector<trtest::AddedType> codes;
  const char* extension;
  uint64_t size;      // what the format's own rule gives
  uint32_t complete;  // complete flag of the report
  bool zeroAfter;     // zero filler behind the file (random otherwise)
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      // ASF: the File Properties Object's File Size; a file without a video
      // stream becomes audio.
      {"video.wmv", {1027, 772}, "wmv", 2773, 1, false},
      {"audio.wma", {1027, 772}, "wma", 1568, 1, false},
      {"stream.asf", {1027, 772}, "wmv", 3451, 1, false},
      // Matroska and WebM: the Segment size.
      {"video.mkv", {1034}, "mkv", 5102, 1, false},
      {"video.webm", {1034}, "mkv", 2015, 1, false},
      // Transport streams end at the last whole packet; the lost sync makes
      // the report incomplete.
      {"stream.ts", {1035}, "mts", 2068, 0, true},
      {"stream.m2ts", {1035}, "mts", 6144, 0, true},
      // Pages and tags.
      {"audio.ogg", {775}, "ogg", 3706, 1, false},
      {"audio.opus", {775}, "ogg", 412, 1, false},
      {"video.flv", {1036}, "flv", 3538, 1, true},
      // RealMedia: the DATA chunk states 10 bytes more than the muxer wrote,
      // and the walk ends at the unknown ID behind it.
      {"video.rm", {1031, 776}, "rmvb", 2335, 1, false},
      // Declared sizes.
      {"movie.swf", {1283}, "swf", 1826, 1, false},
      {"video.wtv", {1039}, "wtv", 28672, 1, false},
      {"ringtone.mmf", {780}, "mmf", 1116, 1, false},
      {"sound.aiff", {779}, "aif", 2488, 1, false},
      {"sound.au", {777}, "au", 2444, 1, false},
      // AMR ends before the zeros behind it; MIDI behind its last track.
      {"speech.amr", {774}, "amr", 175, 1, true},
      {"tune.mid", {773}, "mid", 244, 1, false},
  };
  return cases;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  return std::vector<uint8_t>(bytes.begin() + static_cast<long>(from),
                              bytes.begin() + static_cast<long>(from + count));
}

TEST(StreamsAndDeclaredCarving, EachFixtureIsReportedAndWrittenByItsOwnRule) {
  for (const Case& c : Cases()) {
    const std::vector<uint8_t> file = Fixture("media", c.fixture);
    ASSERT_FALSE(file.empty()) << c.fixture;
    RandomImage image(kAt + file.size() + 8 * kSector, 7);
    image.Put(kAt, file);
    if (c.zeroAfter) image.Zero(kAt + file.size(), 8 * kSector);
    const std::string ext = c.extension;
    EXPECT_EQ(trtest::CarvedSpans(c.codes, image.bytes(), kSector, kSector),
              ext + "@" + std::to_string(kAt) + "+" + std::to_string(c.size) + (c.complete ? "" : "~"));
    trtest::TempDir dir;
    uint32_t error = 0;
    trtest::FolderRun(dir, c.codes, image.bytes(), kSector, kSector, &error);
    EXPECT_EQ(error, 0u) << c.fixture;
    ASSERT_EQ(dir.Files(), std::vector<std::string>{ext + "/00000." + ext}) << c.fixture;
    EXPECT_EQ(dir.Read(ext + "/00000." + ext), Slice(image.bytes(), kAt, c.size)) << c.fixture;
  }
}

TEST(StreamsAndDeclaredCarving, MxfIsTakenToItsFooterOffsetPlus224) {
  // Strips larger than the file: its body partition packs, 512-byte
  // aligned, would otherwise cut it at a strip start.
  constexpr uint32_t kStrip = 16384;
  const std::vector<uint8_t> file = Fixture("media", "video.mxf");
  const std::vector<uint8_t> image = RandomImage(kStrip + file.size() + kStrip, 3).Put(kStrip, file).bytes();
  const uint64_t size = ((uint64_t{file[48]} << 24) | (file[49] << 16) | (file[50] << 8) | file[51]) + 224;
  EXPECT_EQ(trtest::CarvedSpans({1038}, image, kStrip, kStrip), "mxf@16384+" + std::to_string(size));
  trtest::TempDir dir;
  trtest::FolderRun(dir, {1038}, image, kStrip, kStrip);
  EXPECT_EQ(dir.Read("mxf/00000.mxf"), Slice(image, kStrip, size));
}

TEST(StreamsAndDeclaredCarving, ProgramStreamsEndWhereAnotherFormatBegins) {
  // The muxer writes no end code: an Ogg file at the next sector ends each
  // program stream before it.
  const std::vector<uint8_t> ogg = Fixture("media", "audio.ogg");
  for (const char* name : {"program.mpg", "program.vob"}) {
    const std::vector<uint8_t> mpeg = Fixture("media", name);
    const size_t next = kAt + (mpeg.size() + kSector - 1) / kSector * kSector;
    const std::vector<uint8_t> image = RandomImage(next + ogg.size() + 4 * kSector, 11).Put(kAt, mpeg).Put(next, ogg).bytes();
    EXPECT_EQ(trtest::CarvedSpans({1026, 775}, image, kSector, kSector),
              "mpg@" + std::to_string(kAt) + "+" + std::to_string(next - kAt) + " ogg@" + std::to_string(next) +
                  "+" + std::to_string(ogg.size())) << name;
  }
}

TEST(StreamsAndDeclaredCarving, SubTypesNotAskedForLeaveNoFile) {
  for (const auto& [fixture, code] : {std::pair<const char*, uint32_t>{"video.wmv", 772}, {"audio.wma", 1027}, {"video.rm", 776}}) {
    const std::vector<uint8_t> file = Fixture("media", fixture);
    const std::vector<uint8_t> image = RandomImage(kAt + file.size() + 8 * kSector, 7).Put(kAt, file).bytes();
    EXPECT_EQ(trtest::CarvedSpans({code}, image, kSector, kSector), "") << fixture;
    EXPECT_TRUE(trtest::CarvedFiles({code}, image, kSector, kSector).empty()) << fixture;
  }
}

TEST(StreamsAndDeclaredCarving, OneImageWithEveryFixture) {
  // All the fixtures in one image, each at a sector start with random filler
  // between them, every class of these formats added.
  std::vector<trtest::AddedType> codes;
  std::vector<size_t> starts;
  size_t at = kAt;
  for (const Case& c : Cases()) {
    codes.insert(codes.end(), c.codes.begin(), c.codes.end());
    starts.push_back(at);
    at += (Fixture("media", c.fixture).size() + 16 + 2 * kSector) / kSector * kSector;
  }
  RandomImage image(at + 2 * kSector, 5);
  for (size_t i = 0; i < Cases().size(); ++i) {
    const std::vector<uint8_t> file = Fixture("media", Cases()[i].fixture);
    image.Put(starts[i], file);
    if (Cases()[i].zeroAfter) image.Zero(starts[i] + file.size(), 16);
  }
  trtest::TempDir dir;
  trtest::FolderRun(dir, codes, image.bytes(), kSector, 4 * kSector);
  for (size_t i = 0; i < Cases().size(); ++i) {
    const Case& c = Cases()[i];
    // Files are numbered per class; a renamed file keeps its number.
    size_t index = 0;
    for (size_t j = 0; j < i; ++j) index += Cases()[j].codes[0].code == c.codes[0].code;
    char name[64];
    std::snprintf(name, sizeof name, "%s/%05zu.%s", c.extension, index, c.extension);
    EXPECT_EQ(dir.Read(name), Slice(image.bytes(), starts[i], c.size)) << c.fixture;
  }
}

TEST(StreamsAndDeclaredCarving, DamagedFilesInOddStripsStayInsideTheirBytes) {
  // Every fixture with bytes overwritten and cut short, fed in strips that
  // end anywhere with little or no lookahead (the sanitizer build catches a
  // read outside the buffer). Every file found must lie inside the image.
  std::vector<trtest::AddedType> codes = {1026, 1038};
  for (const Case& c : Cases()) codes.insert(codes.end(), c.codes.begin(), c.codes.end());
  std::mt19937 random(3);
  for (const char* name : {"video.wmv", "audio.wma", "video.mkv", "stream.m2ts", "audio.ogg",
                           "video.flv", "video.rm", "program.mpg", "movie.swf", "tune.mid",
                           "video.mxf", "speech.amr"}) {
    const std::vector<uint8_t> file = Fixture("media", name);
    for (int round = 0; round < 6; ++round) {
      std::vector<uint8_t> damaged = file;
      for (int i = 0; i < 40; ++i) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
      damaged.resize(damaged.size() - random() % (damaged.size() / 2));
      for (uint32_t strip : {517u, 64u}) {
        for (uint32_t lookahead : {0u, 7u, 300u}) {
          for (const trtest::Report& r : trtest::ReportRun(codes, damaged, strip, lookahead)) {
            EXPECT_LE(r.start, damaged.size()) << name;
          }
        }
      }
    }
  }
}

}  // namespace
