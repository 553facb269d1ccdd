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
  EXPECT_EQ(jpg.IsHeaderMatched(strip.data(), 17, 1), 513u);
  strip[2] = 0xFE;
  EXPECT_EQ(jpg.IsHeaderMatched(strip.data(), 17, 0), 0u);
  EXPECT_EQ(jpg.IsHeaderMatched(nullptr, 17, 0), 0u);
  EXPECT_EQ(jpg.GetMaxFileSize(), 64u * 1024 * 1024);
  EXPECT_EQ(trtest::U8(jpg.GetExtension()), "jpg");
}

TEST(Jpeg, EndsJustAfterEoiWhateverTheStripSize) {
  const std::vector<uint8_t> jpeg = MakeJpeg();
  std::vector<uint8_t> image = Bytes().Raw(jpeg).Fill(3000, 0xA5);
  for (uint32_t strip : {17u, 64u, 100u, 512u, 4096u}) {
    std::vector<Report> reports = Carve(image, strip);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(reports[0].start, 0u);
    EXPECT_EQ(reports[0].size, jpeg.size()) << strip;
    EXPECT_EQ(reports[0].complete, 1u);
    ASSERT_TRUE(reports[0].hasPicture);
    EXPECT_EQ(reports[0].picture.size, 456u);
    EXPECT_EQ(reports[0].picture.typeCode, 513u);
    EXPECT_EQ(reports[0].picture.width, 64u);
    EXPECT_EQ(reports[0].picture.height, 48u);
    EXPECT_EQ(reports[0].picture.make[0], 0);  // no EXIF data
  }
}

TEST(Jpeg, EoiSplitAcrossStripEndsOneBytePast) {
  std::vector<uint8_t> jpeg = MakeJpeg();
  // Pad the scan so that the 0xFF of the end marker is a strip's last byte.
  const size_t strip = 128;
  JpegOptions o;
  for (o.scanBytes = 300; MakeJpeg(o).size() % strip != 1; ++o.scanBytes) {
  }
  jpeg = MakeJpeg(o);
  std::vector<uint8_t> image = Bytes().Raw(jpeg).Fill(strip * 2, 0x11);
  std::vector<Report> reports = Carve(image, strip);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, jpeg.size());
  EXPECT_EQ(reports[0].complete, 1u);
  // Without lookahead the 0xD9 is not seen in that strip; the pair is only
  // found when the 0xFF lies inside a strip, so the file runs on.
  reports = Carve(image, strip, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Jpeg, LongSegmentsAreSkippedWholeAcrossStrips) {
  // A 0xFFFF segment (65,537 bytes from its marker) full of end markers and
  // signatures is skipped, not searched.
  std::vector<uint8_t> filler;
  while (filler.size() < 0xFFFD) {
    for (uint8_t b : {0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xDB}) filler.push_back(b);
  }
  filler.resize(0xFFFD);
  JpegOptions o;
  o.appSegments.push_back(Segment(0xEB, filler));
  const std::vector<uint8_t> jpeg = MakeJpeg(o);
  ASSERT_EQ(o.appSegments[1].size(), 65537u);
  std::vector<uint8_t> image = Bytes().Raw(jpeg).Fill(600, 0x33);
  for (uint32_t strip : {512u, 4096u, 70000u}) {
    std::vector<Report> reports = Carve(image, strip);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(reports[0].size, jpeg.size()) << strip;
    EXPECT_EQ(reports[0].picture.width, 64u);
  }
}

TEST(Jpeg, MissingMarkerEndsAtStripEndIncomplete) {
  std::vector<uint8_t> jpeg = MakeJpeg();
  jpeg[2 + 18] = 0x00;  // where the marker after the APP0 segment is expected
  std::vector<uint8_t> image = Bytes().Raw(jpeg).Fill(1000, 0x44);
  std::vector<Report> reports = Carve(image, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 512u);
  EXPECT_EQ(reports[0].complete, 0u);
  ASSERT_TRUE(reports[0].hasPicture);

  // In folder mode the strip stays on disk as the whole file.
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{513, kJpegMax}}, image, 512, 16);
  EXPECT_EQ(dir.Read("jpg/00000.jpg"), std::vector<uint8_t>(image.begin(), image.begin() + 512));
}

TEST(Jpeg, SignatureInsideAFileCutsItOnlyWithAnAppMarker) {
  // The first file's scan has no end marker; a strip inside it starts with
  // FF D8 FF DB (an embedded stream) and a later one with FF D8 FF E0.
  JpegOptions o;
  o.scanBytes = 2000;
  std::vector<uint8_t> first = MakeJpeg(o);
  first.resize(first.size() - 2);  // no end marker
  first.resize(1024);
  std::vector<uint8_t> embedded = Bytes{0xFF, 0xD8, 0xFF, 0xDB}.Raw(ScanData(508, 3));
  embedded.resize(512);
  const std::vector<uint8_t> second = MakeJpeg();  // cut and ended in one strip
  std::vector<uint8_t> image = Bytes().Raw(first).Raw(embedded).Raw(second);
  std::vector<Report> reports = Carve(image, 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].start, 0u);
  EXPECT_EQ(reports[0].size, 1536u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].start, 1536u);
  EXPECT_EQ(reports[1].size, second.size());
  EXPECT_EQ(reports[1].complete, 1u);
}

TEST(Jpeg, SizeLimitEndsTheFileCompleteAtThatStrip) {
  JpegOptions o;
  o.scanBytes = 20000;
  std::vector<uint8_t> jpeg = MakeJpeg(o);
  std::vector<Report> reports = Carve(jpeg, 1000, 16, 4096);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 5000u);  // the first strip end at or past 4096
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Jpeg, DefaultLimitIs64MiB) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  CTypeRecoveryJPG jpg(m, nullptr);
  const uint32_t strip = 1 << 20;
  std::vector<uint8_t> buffer = MakeJpeg();
  buffer.resize(buffer.size() - 2);
  buffer.resize(strip + 16, 0);
  uint32_t error = 0;
  uint32_t ended = 0;
  uint32_t strips = 0;
  for (; strips < 70 && ended == 0; ++strips) {
    ended = jpg.Analyse(uint64_t{strips} * strip, buffer.data(), strip, 16, 0, &error);
    if (strips == 0) std::fill(buffer.begin(), buffer.end(), 0);
  }
  EXPECT_EQ(strips, 64u);
  ASSERT_EQ(log.reports.size(), 1u);
  EXPECT_EQ(log.reports[0].size, 64u << 20);
  EXPECT_EQ(log.reports[0].complete, 1u);
  EXPECT_TRUE(jpg.IsIdle());
  TypeRecovery_CloseManager(m);
}

TEST(Jpeg, ExifOfTheFirstApp1FillsThePictureRecord) {
  JpegOptions o;
  o.appSegments = {Segment(0xE1, ExifPayload("First Maker")),
                   Segment(0xE1, Bytes().Text("http://ns.adobe.com/xap/1.0/").U8(0).Text("<x/>")),
                   Segment(0xE1, ExifPayload("Second Maker"))};
  const std::vector<uint8_t> jpeg = MakeJpeg(o);
  std::vector<uint8_t> image = Bytes().Zeros(512).Raw(jpeg).Fill(100, 0x55);
  // Small strips put the EXIF segment across several strips.
  for (uint32_t strip : {32u, 64u, 512u}) {
    std::vector<Report> reports = Carve(image, strip);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(reports[0].start, 512u);
    ASSERT_TRUE(reports[0].hasPicture);
    EXPECT_EQ(trtest::U8(reports[0].picture.make), "First Maker") << strip;
    EXPECT_EQ(reports[0].picture.width, 64u);
  }
}

TEST(Jpeg, UnreadableExifSendsOnlyTheDimensions) {
  std::vector<uint8_t> payload = ExifPayload("Maker");
  payload[6] = 'X';  // neither II nor MM
  JpegOptions o;
  o.appSegments = {Segment(0xE1, payload)};
  std::vector<Report> reports = Carve(MakeJpeg(o), 512);
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.make[0], 0);
  EXPECT_EQ(reports[0].picture.width, 64u);
  EXPECT_EQ(reports[0].picture.height, 48u);
}

TEST(Jpeg, CutByTheEndOfTheSourceIsReportedIncompleteOnFlush) {
  JpegOptions o;
  o.scanBytes = 3000;
  std::vector<uint8_t> jpeg = MakeJpeg(o);
  jpeg.resize(2000);
  std::vector<Report> reports = Carve(jpeg, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2000u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
}

TEST(Jpeg, ProgressSavedMidFileResumes) {
  JpegOptions o;
  o.scanBytes = 3000;
  const std::vector<uint8_t> jpeg = MakeJpeg(o);
  std::vector<uint8_t> image = Bytes().Raw(jpeg).Fill(700, 0x66);
  // A pause inside the header walk (the frame comes after it) and one in
  // the scan (the frame was read before it).
  for (size_t split : {64u, 1024u}) {
    const uint32_t strip = split == 64 ? 64 : 512;
    std::vector<Report> reports =
        trtest::ResumedRun({{513, kJpegMax}}, image, strip, 16, split);
    ASSERT_EQ(reports.size(), 1u) << split;
    EXPECT_EQ(reports[0].start, 0u);
    EXPECT_EQ(reports[0].size, jpeg.size()) << split;
    EXPECT_EQ(reports[0].complete, 1u);
    EXPECT_EQ(reports[0].picture.width, 64u);
  }
}

}  // namespace
