// JPEG: the header test, where a file ends (end marker split across a strip
// end, long segments skipped whole, limits, the end of the source, paused
// scans), the cut by a signature with an APPn marker only, and the EXIF
// reader filling the picture record from the first APP1 segment.
#include "formats/image/JPG.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/CarvingCases.h"

namespace {

using trtest::Bytes;
using trtest::Report;
using Buffer = std::vector<uint8_t>;

constexpr uint64_t kJpegMax = CTypeRecoveryJPG::kDefaultMaxFileSize;

Buffer Segment(uint8_t marker, const Buffer& payload) {
  return Bytes{0xFF, marker}.U16BE(static_cast<uint16_t>(payload.size() + 2)).Raw(payload);
}

const Buffer kJfif = Segment(0xE0, Bytes().Text(std::string("JFIF\0", 5)).U16BE(0x101).Zeros(7));

// APP1 payload: "Exif\0\0" and a little-endian TIFF whose IFD0 holds Make.
Buffer ExifPayload(const std::string& make) {
  return Bytes().Text(std::string("Exif\0\0II", 8)).U16LE(42).U32LE(8).U16LE(1).U16LE(0x010F)
      .U16LE(2).U32LE(static_cast<uint32_t>(make.size() + 1)).U32LE(26).U32LE(0).Text(make).U8(0);
}

// Entropy-coded bytes without markers: every 0xFF is followed by a stuffed 0.
Buffer ScanData(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < n) {
    const uint8_t b = static_cast<uint8_t>(random());
    out.U8(b);
    if (b == 0xFF) out.U8(0x00);
  }
  return out;
}

// SOI, the APPn segments, DQT, a 64 x 48 baseline frame, DHT, the SOS
// header, scan data and, if asked, EOI.
Buffer MakeJpeg(size_t scanBytes = 300, const std::vector<Buffer>& app = {kJfif},
                bool eoi = true) {
  Bytes out{0xFF, 0xD8};
  for (const Buffer& s : app) out.Raw(s);
  out.Raw(Segment(0xDB, Bytes().U8(0).Fill(64, 1)));
  out.Raw(Segment(0xC0, Bytes().U8(8).U16BE(48).U16BE(64).U8(1).U8(1).U8(0x11).U8(0)));
  out.Raw(Segment(0xC4, Bytes().U8(0).Fill(16, 0).U8(1).U8(0)));
  out.Raw(Segment(0xDA, Bytes{0x01, 0x01, 0x00, 0x00, 0x3F, 0x00})).Raw(ScanData(scanBytes, 1));
  return eoi ? out.U8(0xFF).U8(0xD9) : out;
}

std::vector<Report> Carve(const Buffer& image, uint32_t strip, uint32_t lookahead = 16,
                          uint64_t max = kJpegMax) {
  return trtest::ReportRun({{CTypeRecoveryJPG::kTypeCode, max}}, image, strip, lookahead);
}

TEST(Jpeg, HeaderTestWantsSoiAndOneOfSevenMarkers) {
  CTypeRecoveryJPG jpg(nullptr, nullptr);
  Buffer strip = Bytes{0xFF, 0xD8, 0xFF, 0xE0}.Zeros(13);
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
  size_t splitScan = 300;  // the 0xFF of the end marker is a 128-byte strip's last byte
  while (MakeJpeg(splitScan).size() % 128 != 1) ++splitScan;
  // A 0xFFFF segment (65,537 bytes from its marker) full of end markers and
  // signatures is skipped, not searched.
  Buffer filler;
  while (filler.size() < 0xFFFD) filler.insert(filler.end(), {0xFF, 0xD9, 0xFF, 0xD8, 0xFF, 0xDB});
  filler.resize(0xFFFD);
  const Buffer plain = MakeJpeg(), split = MakeJpeg(splitScan), large = MakeJpeg(20000),
               skipped = MakeJpeg(300, {kJfif, Segment(0xEB, filler)}), resumed = MakeJpeg(3000);
  struct Case {
    const char* what;
    Buffer image;
    uint32_t strip, lookahead;
    uint64_t max, size;
    uint32_t complete;
    size_t pauseAt = 0;  // where the scan saves its progress and a new one resumes
  } cases[] = {
      {"eoi", Bytes().Raw(plain).Fill(3000, 0xA5), 17, 16, kJpegMax, plain.size(), 1},
      {"eoi", Bytes().Raw(plain).Fill(3000, 0xA5), 100, 16, kJpegMax, plain.size(), 1},
      {"eoi", Bytes().Raw(plain).Fill(3000, 0xA5), 4096, 16, kJpegMax, plain.size(), 1},
      {"eoi split", Bytes().Raw(split).Fill(256, 0x11), 128, 16, kJpegMax, split.size(), 1},
      // Without lookahead the 0xD9 is not seen: the file runs on to the flush.
      {"eoi split, no lookahead", Bytes().Raw(split).Fill(256, 0x11), 128, 0, kJpegMax,
       split.size() + 256, 0},
      {"long segment", Bytes().Raw(skipped).Fill(600, 0x33), 512, 16, kJpegMax, skipped.size(), 1},
      {"long segment", Bytes().Raw(skipped).Fill(600, 0x33), 70000, 16, kJpegMax, skipped.size(),
       1},
      // The limit cuts the file at the first strip end at or past it.
      {"limit", large, 1000, 16, 4096, 5000, 0},
      {"default limit of 64 MiB", Bytes().Raw(MakeJpeg(300, {kJfif}, false)).PadTo(65u << 20),
       1u << 20, 16, kJpegMax, 64u << 20, 0},
      {"cut by the end of the source", trtest::Prefix(large, 2000), 512, 16, kJpegMax, 2000, 0},
      // Paused inside the header walk (the frame comes after it) and in the
      // scan (the frame was read before it).
      {"resumed", Bytes().Raw(resumed).Fill(700, 0x66), 64, 16, kJpegMax, resumed.size(), 1, 64},
      {"resumed", Bytes().Raw(resumed).Fill(700, 0x66), 512, 16, kJpegMax, resumed.size(), 1, 1024},
  };
  for (const Case& c : cases) {
    // A file the end of the source cuts sends no picture record; one the
    // limit cuts does.
    const int64_t side = (c.complete || c.size >= c.max) ? 64 : 0;
    trtest::ExpectCarving({c.what, {{513, c.max}}, c.image,
                           {{c.size, c.complete, side, side * 3 / 4}}, c.strip, c.strip,
                           c.lookahead, c.pauseAt});
  }
}

TEST(Jpeg, SignatureInsideAFileCutsItOnlyWithAnAppMarker) {
  // The first file's scan has no end marker; a strip inside it starts with
  // FF D8 FF DB (an embedded stream) and a later one with FF D8 FF E0.
  const Buffer first = trtest::Prefix(MakeJpeg(2000, {kJfif}, false), 1024);
  const Buffer embedded = trtest::Prefix(Bytes{0xFF, 0xD8, 0xFF, 0xDB}.Raw(ScanData(508, 3)), 512);
  const Buffer second = MakeJpeg();  // cut and ended in one strip
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
  const Buffer xmp = Bytes().Text("http://ns.adobe.com/xap/1.0/").U8(0).Text("<x/>");
  const Buffer image = Bytes().Zeros(512).Raw(MakeJpeg(
      300, {Segment(0xE1, ExifPayload("First Maker")), Segment(0xE1, xmp),
            Segment(0xE1, ExifPayload("Second Maker"))})).Fill(100, 0x55);
  // Small strips put the EXIF segment across several strips.
  for (uint32_t strip : {32u, 64u, 512u}) {
    std::vector<Report> reports = Carve(image, strip);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(trtest::U8(reports[0].picture.make), "First Maker") << strip;
    EXPECT_EQ(reports[0].picture.width, 64u);
  }
  // Neither II nor MM: only the dimensions are sent.
  Buffer payload = ExifPayload("Maker");
  payload[6] = 'X';
  std::vector<Report> reports = Carve(MakeJpeg(300, {Segment(0xE1, payload)}), 512);
  ASSERT_EQ(reports.size(), 1u);
  ASSERT_TRUE(reports[0].hasPicture);
  EXPECT_EQ(reports[0].picture.make[0], 0);
  EXPECT_EQ(reports[0].picture.height, 48u);
}

}  // namespace
