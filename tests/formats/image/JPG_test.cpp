#include "formats/image/JPG.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "support/Carving.h"
#include "support/TestSupport.h"

namespace {

using trtest::Bytes;
using trtest::Report;

constexpr uint64_t kJpegMax = CTypeRecoveryJPG::kDefaultMaxFileSize;

std::vector<uint8_t> Segment(uint8_t marker, const std::vector<uint8_t>& payload) {
  return Bytes{0xFF, marker}.U16BE(static_cast<uint16_t>(payload.size() + 2)).Raw(payload);
}

// APP1 payload: "Exif\0\0" and a little-endian TIFF whose IFD0 holds Make.
std::vector<uint8_t> ExifPayload(const std::string& make) {
  return Bytes()
      .Text(std::string("Exif\0\0", 6))
      .Text("II").U16LE(42).U32LE(8)
      .U16LE(1).U16LE(0x010F).U16LE(2).U32LE(static_cast<uint32_t>(make.size() + 1)).U32LE(26)
      .U32LE(0)
      .Text(make).U8(0);
}

// Entropy-coded bytes without markers: every 0xFF is followed by a stuffed 0.
std::vector<uint8_t> ScanData(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < n) {
    const uint8_t b = static_cast<uint8_t>(random());
    out.U8(b);
    if (b == 0xFF) out.U8(0x00);
  }
  return out;
}

struct JpegOptions {
  std::vector<std::vector<uint8_t>> appSegments{Segment(0xE0, Bytes().Text(std::string("JFIF\0", 5)).U16BE(0x0101).Zeros(7))};
  uint8_t frameMarker = 0xC0;
  uint16_t width = 64;
  uint16_t height = 48;
  size_t scanBytes = 300;
  uint32_t seed = 1;
};

// SOI, the APPn segments, DQT, SOFn, DHT, SOS header, scan data, EOI.
std::vector<uint8_t> MakeJpeg(const JpegOptions& o = JpegOptions()) {
  Bytes out{0xFF, 0xD8};
  for (const auto& s : o.appSegments) out.Raw(s);
  out.Raw(Segment(0xDB, Bytes().U8(0).Fill(64, 1)));
  out.Raw(Segment(o.frameMarker, Bytes().U8(8).U16BE(o.height).U16BE(o.width).U8(1).U8(1).U8(0x11).U8(0)));
  out.Raw(Segment(0xC4, Bytes().U8(0).Fill(16, 0).U8(1).U8(0)));
  out.Raw(Segment(0xDA, Bytes{0x01, 0x01, 0x00, 0x00, 0x3F, 0x00}));
  out.Raw(ScanData(o.scanBytes, o.seed));
  out.U8(0xFF).U8(0xD9);
  return out;
}

std::vector<Report> Carve(const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead = 16,
                          uint64_t max = kJpegMax) {
  return trtest::ReportRun({{CTypeRecoveryJPG::kTypeCode, max}}, image, strip, lookahead);
}

std::vector<uint8_t> WithoutEoi(JpegOptions o) {
  std::vector<uint8_t> jpeg = MakeJpeg(o);
  jpeg.resize(jpeg.size() - 2);
  return jpeg;
}

TEST(Jpeg, HeaderTestWantsSoiAndOneOfSevenMarkers) {
  CTypeRecoveryJPG jpg(nullptr, nullptr);
  std::vector<uint8_t> strip = Bytes{0xFF, 0xD8, 0xFF, 0xE0}.Zeros(13);
  for (int fourth = 0; fourth < 256; ++fourth) {
    strip[3] = static_cast<uint8_t>(fourth);
    const bool accepted = fourth == 0xDB || fourth == 0xE0 || fourth == 0xE1 || fourth == 0xEB ||
                          fourth == 0xEE || fourth == 0xFE || fourth == 0xC4;
    EXPECT_EQ(jpg.IsHeaderMatched(strip.data(), 17, 0), accepted ? 513u : 0u) << fourth;
  }
  strip[3] = 0xE1;
  EXPECT_EQ(jpg.IsHeaderMatched(strip.data(), 16, 0), 0u);  // shorter than 17 bytes
  strip[2] = 0xFE;
  EXPECT_EQ(jpg.IsHeaderMatched(strip.data(), 17, 0), 0u);
  EXPECT_EQ(jpg.IsHeaderMatched(nullptr, 17, 0), 0u);
}

TEST(Jpeg, FileEndsAfterEoiAtItsLimitOrAtTheEndOfTheSource) {
  JpegOptions eoiSplit;  // the 0xFF of the end marker is a 128-byte strip's last byte
  for (eoiSplit.scanBytes = 300; MakeJpeg(eoiSplit).size() % 128 != 1; ++eoiSplit.scanBytes) {
  }
  // A 0xFFFF segment (65,537 bytes from its marker) full of end markers and
  // signatures is skipped, not searched.
  std::vector<uint8_t> filler;
  while (filler.size() < 0xFFFD) filler.insert(filler.end(), {0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xDB});
  filler.resize(0xFFFD);
  JpegOptions longSegment;
  longSegment.appSegments.push_back(Segment(0xEB, filler));
  JpegOptions longScan;
  longScan.scanBytes = 20000;
  const std::vector<uint8_t> plain = MakeJpeg(), split = MakeJpeg(eoiSplit),
                             skipped = MakeJpeg(longSegment), large = MakeJpeg(longScan);
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    uint32_t strip, lookahead;
    uint64_t max, size;
    uint32_t complete;
  } cases[] = {
      {"eoi", Bytes().Raw(plain).Fill(3000, 0xA5), 17, 16, kJpegMax, plain.size(), 1},
      {"eoi", Bytes().Raw(plain).Fill(3000, 0xA5), 100, 16, kJpegMax, plain.size(), 1},
      {"eoi", Bytes().Raw(plain).Fill(3000, 0xA5), 4096, 16, kJpegMax, plain.size(), 1},
      {"eoi split", Bytes().Raw(split).Fill(256, 0x11), 128, 16, kJpegMax, split.size(), 1},
      // Without lookahead the 0xD9 is not seen: the file runs on to the flush.
      {"eoi split, no lookahead", Bytes().Raw(split).Fill(256, 0x11), 128, 0, kJpegMax,
       split.size() + 256, 0},
      {"long segment", Bytes().Raw(skipped).Fill(600, 0x33), 512, 16, kJpegMax, skipped.size(), 1},
      {"long segment", Bytes().Raw(skipped).Fill(600, 0x33), 70000, 16, kJpegMax, skipped.size(), 1},
      // The limit ends the file complete at the first strip end at or past it.
      {"limit", large, 1000, 16, 4096, 5000, 1},
      {"default limit of 64 MiB", Bytes().Raw(WithoutEoi({})).PadTo(65u << 20), 1u << 20, 16,
       kJpegMax, 64u << 20, 1},
      {"cut by the end of the source", trtest::Prefix(large, 2000), 512, 16, kJpegMax, 2000, 0},
  };
  for (const Case& c : cases) {
    const std::vector<Report> reports = Carve(c.image, c.strip, c.lookahead, c.max);
    ASSERT_EQ(reports.size(), 1u) << c.what << " " << c.strip;
    EXPECT_EQ(reports[0].start, 0u);
    EXPECT_EQ(reports[0].size, c.size) << c.what << " " << c.strip;
    EXPECT_EQ(reports[0].complete, c.complete) << c.what << " " << c.strip;
    // A file cut before its end sends no record.
    EXPECT_EQ(reports[0].hasPicture, c.complete == 1u) << c.what;
    if (reports[0].hasPicture) {
      EXPECT_EQ(reports[0].picture.width, 64u) << c.what;
    }
  }
}

TEST(Jpeg, SignatureInsideAFileCutsItOnlyWithAnAppMarker) {
  // The first file's scan has no end marker; a strip inside it starts with
  // FF D8 FF DB (an embedded stream) and a later one with FF D8 FF E0.
  JpegOptions o;
  o.scanBytes = 2000;
  const std::vector<uint8_t> first = trtest::Prefix(WithoutEoi(o), 1024);
  std::vector<uint8_t> embedded = Bytes{0xFF, 0xD8, 0xFF, 0xDB}.Raw(ScanData(508, 3));
  embedded.resize(512);
  const std::vector<uint8_t> second = MakeJpeg();  // cut and ended in one strip
  std::vector<Report> reports = Carve(Bytes().Raw(first).Raw(embedded).Raw(second), 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 1536u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].start, 1536u);
  EXPECT_EQ(reports[1].size, second.size());
  EXPECT_EQ(reports[1].complete, 1u);
}

TEST(Jpeg, ExifOfTheFirstApp1FillsThePictureRecordWhenReadable) {
  JpegOptions o;
  o.appSegments = {Segment(0xE1, ExifPayload("First Maker")),
                   Segment(0xE1, Bytes().Text("http://ns.adobe.com/xap/1.0/").U8(0).Text("<x/>")),
                   Segment(0xE1, ExifPayload("Second Maker"))};
  std::vector<uint8_t> image = Bytes().Zeros(512).Raw(MakeJpeg(o)).Fill(100, 0x55);
  // Small strips put the EXIF segment across several strips.
  for (uint32_t strip : {32u, 64u, 512u}) {
    std::vector<Report> reports = Carve(image, strip);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(trtest::U8(reports[0].picture.make), "First Maker") << strip;
    EXPECT_EQ(reports[0].picture.width, 64u);
  }
  // Neither II nor MM: only the dimensions are sent.
  std::vector<uint8_t> payload = ExifPayload("Maker");
  payload[6] = 'X';
  o.appSegments = {Segment(0xE1, payload)};
  std::vector<Report> reports = Carve(MakeJpeg(o), 512);
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.make[0], 0);
  EXPECT_EQ(reports[0].picture.height, 48u);
}

TEST(Jpeg, ProgressSavedMidFileResumes) {
  JpegOptions o;
  o.scanBytes = 3000;
  const std::vector<uint8_t> jpeg = MakeJpeg(o);
  std::vector<uint8_t> image = Bytes().Raw(jpeg).Fill(700, 0x66);
  // A pause inside the header walk (the frame comes after it) and one in
  // the scan (the frame was read before it).
  for (const auto& [strip, split] : {std::pair<uint32_t, size_t>{64, 64}, {512, 1024}}) {
    std::vector<Report> reports = trtest::ResumedRun({{513, kJpegMax}}, image, strip, 16, split);
    ASSERT_EQ(reports.size(), 1u) << split;
    EXPECT_EQ(reports[0].size, jpeg.size()) << split;
    EXPECT_EQ(reports[0].complete, 1u);
    EXPECT_EQ(reports[0].picture.width, 64u);
  }
}

}  // namespace
