// End to end: files made by real tools (ffmpeg, sox, abc2midi; see
// tests/data/media/make_streams_and_declared.sh) carved from synthetic disk
// images in report mode (offsets, sizes, complete flags) and folder mode
// (byte-identical outputs under the right names).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/Carving.h"

namespace {

using trtest::Fixture;
using trtest::RandomImage;
using trtest::Scan;

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

RandomImage ImageWith(const std::vector<uint8_t>& file, bool zeroAfter, size_t tail = 8 * kSector) {
  RandomImage image(kAt + file.size() + tail, 7);
  image.Put(kAt, file);
  if (zeroAfter) image.Zero(kAt + file.size(), tail);
  return image;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  return std::vector<uint8_t>(bytes.begin() + static_cast<long>(from),
                              bytes.begin() + static_cast<long>(from + count));
}

TEST(StreamsAndDeclaredCarving, ReportModeGivesOffsetSizeAndCompleteFlag) {
  for (const Case& c : Cases()) {
    const std::vector<uint8_t> file = Fixture("media", c.fixture);
    ASSERT_FALSE(file.empty()) << c.fixture;
    RandomImage image = ImageWith(file, c.zeroAfter);
    Scan scan(c.codes);
    scan.Feed(image.bytes(), kSector, kSector);
    ASSERT_EQ(scan.log.reports.size(), 1u) << c.fixture;
    const trtest::Report& r = scan.log.reports[0];
    EXPECT_EQ(r.start, kAt) << c.fixture;
    EXPECT_EQ(r.size, c.size) << c.fixture;
    EXPECT_EQ(r.complete, c.complete) << c.fixture;
    EXPECT_EQ(r.extension, c.extension) << c.fixture;
  }
}

TEST(StreamsAndDeclaredCarving, FolderModeWritesExactlyTheFormatsBytes) {
  for (const Case& c : Cases()) {
    const std::vector<uint8_t> file = Fixture("media", c.fixture);
    RandomImage image = ImageWith(file, c.zeroAfter);
    trtest::TempDir dir;
    {
      Scan scan(c.codes, &dir);
      scan.Feed(image.bytes(), kSector, kSector);
      EXPECT_EQ(scan.errorFlag, 0u) << c.fixture;
    }
    const std::string name = std::string(c.extension) + "/00000." + c.extension;
    ASSERT_EQ(dir.Files(), std::vector<std::string>{name}) << c.fixture;
    EXPECT_EQ(dir.Read(name), Slice(image.bytes(), kAt, c.size)) << c.fixture;
  }
}

TEST(StreamsAndDeclaredCarving, MxfIsTakenToItsFooterOffsetPlus224) {
  // Strips larger than the file: its body partition packs, 512-byte
  // aligned, would otherwise cut it at a strip start.
  constexpr uint32_t kStrip = 16384;
  const std::vector<uint8_t> file = Fixture("media", "video.mxf");
  RandomImage image(kStrip + file.size() + kStrip, 3);
  image.Put(kStrip, file);
  trtest::TempDir dir;
  {
    Scan scan({1038}, &dir);
    scan.Feed(image.bytes(), kStrip, kStrip);
  }
  Scan report({1038});
  report.Feed(image.bytes(), kStrip, kStrip);
  const uint64_t footer = (uint64_t{file[48]} << 24) | (file[49] << 16) | (file[50] << 8) | file[51];
  ASSERT_EQ(report.log.reports.size(), 1u);
  const trtest::Report& r = report.log.reports[0];
  EXPECT_EQ(r.start, kStrip);
  EXPECT_EQ(r.size, footer + 224);
  EXPECT_EQ(r.complete, 1u);
  EXPECT_EQ(dir.Read("mxf/00000.mxf"), Slice(image.bytes(), kStrip, footer + 224));
}

TEST(StreamsAndDeclaredCarving, ProgramStreamsEndWhereAnotherFormatBegins) {
  // The muxer writes no end code: an Ogg file at the next sector ends each
  // program stream before it.
  for (const char* name : {"program.mpg", "program.vob"}) {
    const std::vector<uint8_t> mpeg = Fixture("media", name);
    const std::vector<uint8_t> ogg = Fixture("media", "audio.ogg");
    const size_t next = kAt + (mpeg.size() + kSector - 1) / kSector * kSector;
    RandomImage image(next + ogg.size() + 4 * kSector, 11);
    image.Put(kAt, mpeg).Put(next, ogg);
    Scan scan({1026, 775});
    scan.Feed(image.bytes(), kSector, kSector);
    ASSERT_EQ(scan.log.reports.size(), 2u) << name;
    EXPECT_EQ(scan.log.reports[0].extension, "mpg");
    EXPECT_EQ(scan.log.reports[0].start, kAt);
    EXPECT_EQ(scan.log.reports[0].size, next - kAt) << name;
    EXPECT_EQ(scan.log.reports[0].complete, 1u);
    EXPECT_EQ(scan.log.reports[1].start, next);
    EXPECT_EQ(scan.log.reports[1].size, ogg.size());
  }
}

TEST(StreamsAndDeclaredCarving, SubTypesNotAskedForLeaveNoFile) {
  struct Drop { const char* fixture; uint32_t code; };
  for (const Drop& d : {Drop{"video.wmv", 772}, Drop{"audio.wma", 1027}, Drop{"video.rm", 776}}) {
    RandomImage image = ImageWith(Fixture("media", d.fixture), false);
    trtest::TempDir dir;
    {
      Scan scan({d.code}, &dir);
      scan.Feed(image.bytes(), kSector, kSector);
    }
    EXPECT_TRUE(dir.Files().empty()) << d.fixture;
    Scan report({d.code});
    report.Feed(image.bytes(), kSector, kSector);
    EXPECT_TRUE(report.log.reports.empty()) << d.fixture;
  }
}

TEST(StreamsAndDeclaredCarving, OneImageWithEveryFixture) {
  // All the fixtures in one image, each at a sector start with random filler
  // between them, every class of these formats added.
  std::vector<trtest::AddedType> codes;
  for (const Case& c : Cases()) codes.insert(codes.end(), c.codes.begin(), c.codes.end());
  std::vector<size_t> starts;
  size_t at = kAt;
  for (const Case& c : Cases()) {
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
  {
    Scan scan(codes, &dir);
    scan.Feed(image.bytes(), kSector, 4 * kSector);
  }
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
  std::vector<trtest::AddedType> codes;
  for (const Case& c : Cases()) codes.insert(codes.end(), c.codes.begin(), c.codes.end());
  codes.push_back(1026);
  codes.push_back(1038);
  std::mt19937 random(3);
  for (const char* name : {"video.wmv", "audio.wma", "video.mkv", "stream.m2ts", "audio.ogg",
                           "video.flv", "video.rm", "program.mpg", "movie.swf", "tune.mid",
                           "video.mxf", "speech.amr"}) {
    std::vector<uint8_t> file = Fixture("media", name);
    for (int round = 0; round < 6; ++round) {
      std::vector<uint8_t> damaged = file;
      for (int i = 0; i < 40; ++i) damaged[random() % damaged.size()] = static_cast<uint8_t>(random());
      damaged.resize(damaged.size() - random() % (damaged.size() / 2));
      for (uint32_t strip : {517u, 64u}) {
        for (uint32_t lookahead : {0u, 7u, 300u}) {
          Scan scan(codes);
          scan.Feed(damaged, strip, lookahead);
          for (const trtest::Report& r : scan.log.reports) {
            EXPECT_LE(r.start, damaged.size()) << name;
          }
        }
      }
    }
  }
}

}  // namespace
