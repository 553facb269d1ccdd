// The EXIF reader on crafted TIFF data in APP1 and TIFF mode: both byte
// orders, header and bound checks, GPS and text rules, numbers by format,
// and hostile offsets and links, each read from an exact heap copy.
#include "formats/image/Exif.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace {

using trtest::Bytes;

struct Entry {
  uint16_t tag, format;
  uint32_t count;
  std::vector<uint8_t> value;  // in the file's byte order
  int directory = -1;          // index of the directory this entry points to
};
struct Directory {
  std::vector<Entry> entries;
  int next = -1;  // index of the next directory
};

// Lays out TIFF data: header, the directories one after another from offset
// 8, then the out-of-line values.
class TiffWriter {
 public:
  explicit TiffWriter(bool bigEndian) : m_be(bigEndian) {}
  Bytes& Put16(Bytes& b, uint16_t v) const { return m_be ? b.U16BE(v) : b.U16LE(v); }
  Bytes& Put32(Bytes& b, uint32_t v) const { return m_be ? b.U32BE(v) : b.U32LE(v); }
  std::vector<uint8_t> U16(uint16_t v) const { Bytes b; return Put16(b, v); }
  std::vector<uint8_t> U32(uint32_t v) const { Bytes b; return Put32(b, v); }
  Entry Text(uint16_t tag, const std::string& text) const {
    return {tag, 2, static_cast<uint32_t>(text.size() + 1), Bytes().Text(text).U8(0)};
  }
  Entry Short(uint16_t tag, uint16_t v) const { return {tag, 3, 1, U16(v)}; }
  Entry Long(uint16_t tag, uint32_t v) const { return {tag, 4, 1, U32(v)}; }
  Entry Rationals(uint16_t tag, const std::vector<std::pair<int32_t, int32_t>>& values,
                  uint16_t format = 5) const {
    Bytes v;
    for (const auto& [n, d] : values) {
      Put32(Put32(v, static_cast<uint32_t>(n)), static_cast<uint32_t>(d));
    }
    return {tag, format, static_cast<uint32_t>(values.size()), v};
  }
  Entry Pointer(uint16_t tag, int directory) const { return {tag, 4, 1, U32(0), directory}; }

  std::vector<uint8_t> Build(const std::vector<Directory>& dirs, uint32_t firstOffsetField = 8,
                             uint16_t magic = 42) const {
    std::vector<uint32_t> at{8};
    for (const Directory& d : dirs) {
      at.push_back(at.back() + 6 + 12 * static_cast<uint32_t>(d.entries.size()));
    }
    Bytes out, data;
    Put32(Put16(out.Text(m_be ? "MM" : "II"), magic), firstOffsetField);
    for (const Directory& d : dirs) {
      Put16(out, static_cast<uint16_t>(d.entries.size()));
      for (const Entry& e : d.entries) {
        Put32(Put16(Put16(out, e.tag), e.format), e.count);
        if (e.directory >= 0) {
          Put32(out, at[e.directory]);
        } else if (e.value.size() <= 4) {
          out.Raw(e.value).Zeros(4 - e.value.size());
        } else {
          Put32(out, at.back() + static_cast<uint32_t>(data.size()));
          data.Raw(e.value);
        }
      }
      Put32(out, d.next >= 0 ? at[d.next] : 0);
    }
    return out.Raw(data);
  }

 private:
  bool m_be;
};

// A JPEG start with one APP1 segment around the TIFF data; the payload
// starts at offset 6.
std::vector<uint8_t> App1Jpeg(const std::vector<uint8_t>& tiff) {
  return Bytes{0xFF, 0xD8, 0xFF, 0xE1}.U16BE(static_cast<uint16_t>(tiff.size() + 8))
      .Text(std::string("Exif\0\0", 6)).Raw(tiff).U8(0xFF).U8(0xD9);
}

// Parses a heap copy of exactly the given bytes, so that a read past the end
// shows under the sanitizer.
uint32_t ParseExact(CExif::Mode mode, uint32_t offset, uint32_t length,
                    const std::vector<uint8_t>& bytes, tag_ExifInfo* info = nullptr) {
  CExif exif;
  exif.SetInput(mode, offset, length);
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes.size() + 1));
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  const uint32_t result = exif.Parse(copy, static_cast<uint32_t>(bytes.size()));
  std::free(copy);
  if (info != nullptr) exif.GetInfo(info);
  return result;
}
uint32_t ParseApp1(const std::vector<uint8_t>& tiff, tag_ExifInfo* info) {
  const uint32_t length = static_cast<uint32_t>(tiff.size() + 8);
  return ParseExact(CExif::kModeApp1, 6, length, App1Jpeg(tiff), info);
}
uint32_t ParseTiff(const std::vector<uint8_t>& tiff, tag_ExifInfo* info) {
  return ParseExact(CExif::kModeTiff, 0, static_cast<uint32_t>(tiff.size()), tiff, info);
}

// A camera file: IFD0 (make, model, software, date, EXIF and GPS pointers),
// the EXIF directory, the GPS directory and IFD1 (the thumbnail's).
std::vector<uint8_t> CameraTiff(bool bigEndian) {
  TiffWriter w(bigEndian);
  return w.Build({{{w.Text(0x010F, "Maker"), w.Text(0x0110, "Model X100"),
                    w.Text(0x0131, "Firmware 1.0"), w.Text(0x0132, "2024:01:02 03:04:05"),
                    w.Pointer(0x8769, 1), w.Pointer(0x8825, 2)},
                   3},
                  {{{0x9000, 7, 4, {'0', '2', '3', '0'}}, w.Text(0x9003, "2023:12:31 23:59:58"),
                    w.Long(0xA002, 640), w.Short(0xA003, 480)}},
                  {{w.Text(0x0001, "N"), w.Rationals(0x0002, {{48, 1}, {51, 1}, {2975, 100}}),
                    w.Text(0x0003, "W"), w.Rationals(0x0004, {{2, 1}, {17, 1}, {4014, 100}}),
                    {0x0005, 1, 1, {1}}, w.Rationals(0x0006, {{12345, 100}})}},
                  {{w.Short(0x0100, 160), w.Short(0x0101, 120)}}});
}

TEST(Exif, EveryDirectoryIsReadInBothByteOrdersAndModes) {
  for (bool bigEndian : {false, true}) {
    for (auto parse : {ParseApp1, ParseTiff}) {
      tag_ExifInfo info;
      ASSERT_EQ(parse(CameraTiff(bigEndian), &info), 1u) << bigEndian;
      EXPECT_STREQ(info.make, "Maker");
      EXPECT_STREQ(info.model, "Model X100");
      EXPECT_STREQ(info.software, "Firmware 1.0");
      EXPECT_STREQ(info.dateTime, "2024:01:02 03:04:05");
      EXPECT_STREQ(info.dateTimeOriginal, "2023:12:31 23:59:58");
      EXPECT_STREQ(info.exifVersion, "0230");
      EXPECT_STREQ(info.latitudeRef, "N");
      EXPECT_STREQ(info.longitudeRef, "W");
      EXPECT_STREQ(info.altitudeRef, "\x01");
      EXPECT_DOUBLE_EQ(info.latitude, double(48.0f) + double(51.0f) / 60 + double(29.75f) / 3600);
      EXPECT_DOUBLE_EQ(info.longitude, double(2.0f) + double(17.0f) / 60 + double(40.14f) / 3600);
      EXPECT_FLOAT_EQ(info.altitude, 123.45f);
      // The next directory (the thumbnail's) is read last and overrides.
      EXPECT_EQ(info.width, 160);
      EXPECT_EQ(info.height, 120);
    }
  }
}

TEST(Exif, HeaderChecks) {
  TiffWriter w(true);
  const Directory ifd0{{w.Text(0x010F, "Maker")}};
  std::vector<uint8_t> mixed = w.Build({ifd0});
  mixed[0] = 'M', mixed[1] = 'I';  // neither "II" nor "MM"
  const uint32_t size = static_cast<uint32_t>(mixed.size());
  struct Case {
    const char* what;
    std::vector<uint8_t> tiff;
    uint32_t app1;
    int tiffMode;  // -1: not asked
  } cases[] = {
      // First-directory offsets 8 to 16 are accepted in APP1 mode, and the
      // directory is read at 8 whatever the value.
      {"offset 16", w.Build({ifd0}, 16), 1, -1},
      {"offset 20", w.Build({ifd0}, 20), 0, -1},
      {"offset 7", w.Build({ifd0}, 7), 0, -1},
      // APP1 mode wants the magic 42; TIFF mode does not (raw formats differ).
      {"magic", w.Build({ifd0}, 8, 0x4F52), 0, 1},
      {"byte order", mixed, 0, 0},
      // Negative, past-the-end and at-the-end offsets.
      {"negative offset", w.Build({ifd0}, 0x80000008u), 0, 0},
      {"offset past the end", w.Build({ifd0}, size + 1), 0, 0},
      {"offset at the end", w.Build({ifd0}, size), 0, 0},
  };
  for (const Case& c : cases) {
    tag_ExifInfo info;
    EXPECT_EQ(ParseApp1(c.tiff, &info), c.app1) << c.what;
    if (c.app1 == 1) {
      EXPECT_STREQ(info.make, "Maker");
    }
    if (c.tiffMode >= 0) {
      EXPECT_EQ(ParseTiff(c.tiff, &info), uint32_t(c.tiffMode)) << c.what;
    }
  }
}

TEST(Exif, App1DataEndsWithTheSegmentAndTheBuffer) {
  const std::vector<uint8_t> jpeg = App1Jpeg(CameraTiff(false));
  // A length field longer than the buffer is bounded by the buffer.
  EXPECT_EQ(ParseExact(CExif::kModeApp1, 6, 0xFFFF, jpeg), 1u);
  // A segment too short for the first directory, no segment, one past the buffer.
  EXPECT_EQ(ParseExact(CExif::kModeApp1, 6, 8 + 12, jpeg), 0u);
  EXPECT_EQ(ParseExact(CExif::kModeApp1, 0, 0, jpeg), 0u);
  EXPECT_EQ(ParseExact(CExif::kModeApp1, 0xFFFFFFF0u, 0xFFFF, jpeg), 0u);
}

TEST(Exif, GpsTagsCountOnlyInTheGpsDirectory) {
  TiffWriter w(false);
  // An interoperability directory holds tag 1 ("R98"); there is no GPS
  // directory.
  tag_ExifInfo info;
  ASSERT_EQ(ParseApp1(w.Build({{{w.Pointer(0x8769, 1)}}, {{w.Pointer(0xA005, 2)}},
                               {{w.Text(0x0001, "R98"), w.Text(0x010F, "Interop make")}}}),
                      &info),
            1u);
  EXPECT_STREQ(info.latitudeRef, "");
  // Other tags count in every directory.
  EXPECT_STREQ(info.make, "Interop make");
}

TEST(Exif, TextsAreCutToTheirCapacityNotTheirCount) {
  TiffWriter w(false);
  Entry shortCount = w.Text(0x0110, "Model with a short count");
  shortCount.count = 5;  // the text still runs to its zero byte
  tag_ExifInfo info;
  ASSERT_EQ(ParseApp1(w.Build({{{w.Text(0x010F, std::string(100, 'M')), shortCount,
                                  w.Text(0x0131, std::string(80, 'S'))}}}), &info), 1u);
  EXPECT_EQ(std::string(info.make), std::string(31, 'M'));
  EXPECT_STREQ(info.model, "Model with a short count");
  EXPECT_EQ(std::string(info.software), std::string(63, 'S'));
}

TEST(Exif, BadFormatStopsThatDirectoryOnly) {
  TiffWriter w(false);
  for (uint16_t badFormat : {uint16_t{0}, uint16_t{13}}) {
    const Entry bad{0xA420, badFormat, 1, w.U32(0)};
    tag_ExifInfo info;
    ASSERT_EQ(ParseApp1(w.Build({{{w.Text(0x010F, "Maker"), w.Pointer(0x8769, 1),
                                   w.Text(0x0110, "After the sub-directory")}},
                                 {{w.Text(0x9003, "2020:01:01 00:00:00"), bad,
                                   w.Long(0xA002, 99)}}}),
                        &info),
              1u) << badFormat;
    EXPECT_STREQ(info.dateTimeOriginal, "2020:01:01 00:00:00");
    EXPECT_EQ(info.width, 0);  // after the bad entry: not read
    EXPECT_STREQ(info.model, "After the sub-directory");
    // In the first directory the same entry fails the whole read.
    EXPECT_EQ(ParseApp1(w.Build({{{w.Text(0x010F, "Maker"), bad}}}), &info), 0u);
  }
}

TEST(Exif, NumbersByFormat) {
  TiffWriter w(true);
  struct Case {
    Entry entry;
    int32_t width;
  } cases[] = {
      {{0x0100, 1, 1, {200}}, 200},
      {{0x0100, 6, 1, {0xFE}}, -2},
      {{0x0100, 8, 1, w.U16(0xFFFE)}, -2},
      {{0x0100, 9, 1, w.U32(0xFFFFFFF0u)}, -16},
      {w.Long(0x0100, 70000), 70000},
      {w.Rationals(0x0100, {{7, 2}}), 3},        // 3.5 truncated
      {w.Rationals(0x0100, {{-7, 2}}, 10), -3},  // signed fraction
      {w.Rationals(0x0100, {{5, 0}}), 0},        // zero denominator
      {w.Text(0x0100, "12"), 0},                 // text is no number
      {{0x0100, 11, 1, {0x00, 0x00, 0x48, 0x42}}, 50},  // float, little-endian as it lies
      {{0x0100, 12, 1, Bytes().U64LE(0x4059000000000000ull)}, 100},  // double 100.0
  };
  for (const Case& c : cases) {
    tag_ExifInfo info;
    ASSERT_EQ(ParseTiff(w.Build({{{c.entry}}}), &info), 1u) << c.entry.format;
    EXPECT_EQ(info.width, c.width) << c.entry.format;
  }
}

TEST(Exif, OffsetsPastTheDataFailTheirDirectory) {
  TiffWriter w(false);
  // A value whose bytes run past the data: the sub-directory fails, IFD0
  // keeps what it read.
  std::vector<uint8_t> tiff =
      w.Build({{{w.Text(0x010F, "Maker"), w.Pointer(0x8769, 1)}},
               {{w.Long(0xA002, 5), w.Text(0x0110, "Model name"), w.Long(0xA003, 6)}}});
  // Point the Model value far away: the EXIF directory's second entry.
  const size_t valueField = (8 + 2 + 12 * 2 + 4) + 2 + 12 * 1 + 8;
  tiff[valueField] = 0xF0, tiff[valueField + 1] = 0xFF;
  tag_ExifInfo info;
  ASSERT_EQ(ParseApp1(tiff, &info), 1u);
  EXPECT_STREQ(info.make, "Maker");
  EXPECT_EQ(info.width, 5);
  EXPECT_EQ(info.height, 0);
  // A sub-directory pointer past the data fails the directory holding it.
  tiff = w.Build({{{w.Pointer(0x8769, 0), w.Text(0x010F, "Maker")}}});
  tiff[8 + 2 + 8] = 0xFF, tiff[8 + 2 + 9] = 0xFF;
  EXPECT_EQ(ParseTiff(tiff, &info), 0u);
  // An entry count that runs past the data fails.
  tiff = w.Build({Directory{{w.Text(0x010F, "Maker")}}});
  tiff[8] = 0xFF;
  EXPECT_EQ(ParseTiff(tiff, &info), 0u);
}

TEST(Exif, CyclicLinksEnd) {
  TiffWriter w(false);
  // IFD0 links to itself and its EXIF directory points back to IFD0 and to
  // itself.
  Directory ifd0{{w.Text(0x010F, "Maker"), w.Pointer(0x8769, 1)}, 0};
  Directory exif{{w.Pointer(0x8769, 0), w.Pointer(0xA005, 1), w.Long(0xA002, 7)}, 1};
  tag_ExifInfo info;
  ASSERT_EQ(ParseApp1(w.Build({ifd0, exif}), &info), 1u);
  EXPECT_STREQ(info.make, "Maker");
  EXPECT_EQ(info.width, 7);
  // A long chain of next links ends at the depth bound.
  std::vector<Directory> chain;
  for (uint32_t i = 0; i < 200; ++i) chain.push_back({{w.Long(0x0100, i)}, int(i) + 1});
  chain.back().next = -1;
  ASSERT_EQ(ParseTiff(w.Build(chain), &info), 1u);
  EXPECT_EQ(info.width, static_cast<int32_t>(CExif::kMaxDepth));
}

}  // namespace
