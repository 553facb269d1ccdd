// End to end: every fixture of tests/data/image (made by the make_*.sh
// scripts there) placed at sector offsets in one synthetic disk image among
// random and zero filler, carved in folder mode, in report mode, in report
// mode paused and resumed inside each file, and with every type added. Two
// damaged JPEGs show the cuts: one truncated in its scan, one with garbage
// where a marker should follow its EXIF segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/Carving.h"

namespace {

using trtest::Report;
using trtest::U8;

constexpr uint64_t kToNextFile = ~uint64_t{0};

struct Placed {
  std::string fixture;
  std::string name;  // in folder mode
  uint64_t size;     // carved bytes: 0 for the whole file
  bool complete, picture;
  uint32_t width, height;
  size_t zerosAfter = 1;  // zero sectors after the file; a random one follows a single one
};

const std::vector<trtest::AddedType> kImageTypes = {
    513, 514, 515, 516, 517, 518, 519, 520, 521, 522, 523, 524, 525, 1537, 1538,
    1539, 1540, 1541, 1542, 1549, 1560, 1563, 1564, 1565, 1567};

struct Scene {
  std::vector<Placed> files = {
      {"jpeg_baseline.jpg", "jpg/00000.jpg", 0, true, true, 64, 48},
      {"jpeg_progressive.jpg", "jpg/00001.jpg", 0, true, true, 64, 48},  // a progressive frame
      {"jpeg_plain.jpg", "jpg/00002.jpg", 0, true, true, 48, 32},
      // Cut by the next JPEG's signature: no record.
      {"truncated", "jpg/00003.jpg", kToNextFile, false, false, 0, 0, 4},
      {"jpeg_progressive.jpg", "jpg/00004.jpg", 0, true, true, 64, 48},
      // The broken walk ends the file with its first strip.
      {"corrupted", "jpg/00005.jpg", 512, false, true, 0, 0},
      {"little.tif", "TIF/00000.TIF", 0, true, true, 0, 0},  // 64 x 40: too small to report
      {"big.tif", "TIF/00001.TIF", 0, true, true, 320, 272},
      {"large.tif", "TIF/00002.TIF", 0, true, true, 0, 0},  // directory past 64 KiB
      {"camera.nef", "NEF/00003.NEF", 0, true, true, 320, 272},
      {"camera.sr2", "SR2/00004.SR2", 0, true, true, 0, 0},
      {"lossless.bmp", "bmp/00000.bmp", 0, true, true, 30, 20},
      {"lossless.gif", "gif/00000.gif", 0, true, true, 40, 24},
      {"animated.gif", "gif/00001.gif", 0, true, true, 24, 24},
      {"lossless.png", "png/00000.png", 0, true, true, 48, 32},
      {"lossless.png", "png/00001.png", 0, true, true, 48, 32},
      {"layered.psd", "psd/00000.psd", 0, true, true, 40, 30},
      {"sample.psp", "psp/00000.psp", 0, true, false, 0, 0},
      {"icons.ico", "ico/00000.ico", 0, true, true, 32, 32},
      {"raw.psd", "psd/00001.psd", 0, true, true, 24, 20},
      {"sample.crw", "crw/00000.crw", 0, true, false, 0, 0},
      {"drawing.emf", "emf/00000.emf", 0, true, false, 0, 0},
      {"sample.x3f", "x3f/00000.x3f", 0, true, false, 0, 0},
      {"brushes.abr", "abr/00000.abr", 0, true, false, 0, 0},
      // The end scan stops at the first end-of-file record pattern; in this
      // metafile it stands in the header of the embedded copy of the drawing
      // that a comment record carries.
      {"drawing.wmf", "wmf/00000.wmf", 146, true, false, 0, 0},
      {"board.pcb", "pcb/00000.pcb", 0, true, false, 0, 0},
      {"design.tpf", "tpf/00000.tpf", 0, true, false, 0, 0},
      {"design.gjd", "gjd/00000.gjd", 0, true, false, 0, 0},
  };
  std::vector<std::vector<uint8_t>> carved;  // the expected bytes of each file
  trtest::DiskImage image{11};

  Scene() {
    const std::vector<uint8_t> progressive = trtest::Fixture("image", "jpeg_progressive.jpg");
    std::vector<uint8_t> corrupted = trtest::Fixture("image", "jpeg_baseline.jpg");
    // The marker after the EXIF segment (the quantization table's) becomes garbage.
    size_t at = 2;
    while (corrupted[at + 1] != 0xDB) at += 2 + (corrupted[at + 2] << 8 | corrupted[at + 3]);
    EXPECT_LT(at, 512u);
    corrupted[at] = 0x5A;

    image.Random(3);
    std::vector<size_t> sizes;
    for (const Placed& p : files) {
      const std::vector<uint8_t> bytes =
          p.fixture == "truncated"   ? trtest::Prefix(progressive, progressive.size() - 900)
          : p.fixture == "corrupted" ? corrupted
                                     : trtest::Fixture("image", p.fixture);
      EXPECT_FALSE(bytes.empty()) << p.fixture;
      sizes.push_back(bytes.size());
      image.File(bytes).Zeros(p.zerosAfter).Random(p.zerosAfter > 1 ? 0 : 1);
    }
    for (size_t i = 0; i < files.size(); ++i) {
      const std::vector<uint64_t>& at = image.offsets();
      if (files[i].size == kToNextFile) files[i].size = at[i + 1] - at[i];
      if (files[i].size == 0) files[i].size = sizes[i];
      const auto from = image.bytes().begin() + static_cast<long>(at[i]);
      carved.emplace_back(from, from + static_cast<long>(files[i].size));
    }
  }
};

TEST(ImageFixtures, CarvedInEveryModeWithOffsetsSizesFlagsAndPictureRecords) {
  const Scene scene;
  const std::vector<uint64_t>& at = scene.image.offsets();

  trtest::TempDir dir;
  uint32_t errorFlag = 0;
  EXPECT_EQ(trtest::FolderRun(dir, kImageTypes, scene.image.bytes(), 512, 16, &errorFlag),
            scene.files.size());
  EXPECT_EQ(errorFlag, 0u);
  std::vector<std::string> names;
  for (size_t i = 0; i < scene.files.size(); ++i) {
    names.push_back(scene.files[i].name);
    EXPECT_EQ(dir.Read(scene.files[i].name), scene.carved[i]) << scene.files[i].name;
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(dir.Files(), names);

  for (uint32_t lookahead : {16u, 0u, 512u}) {
    const std::vector<Report> reports =
        trtest::ReportRun(kImageTypes, scene.image.bytes(), 512, lookahead);
    ASSERT_EQ(reports.size(), scene.files.size()) << lookahead;
    for (size_t i = 0; i < reports.size(); ++i) {
      const Placed& p = scene.files[i];
      SCOPED_TRACE(p.name + " lookahead " + std::to_string(lookahead));
      EXPECT_EQ(reports[i].extension, p.name.substr(0, p.name.find('/')));
      EXPECT_EQ(reports[i].start, at[i]);
      EXPECT_EQ(reports[i].size, p.size);
      EXPECT_EQ(reports[i].complete, p.complete ? 1u : 0u);
      ASSERT_EQ(reports[i].hasPicture, p.picture);
      if (!p.picture) continue;
      EXPECT_EQ(reports[i].picture.size, 456u);
      EXPECT_EQ(reports[i].picture.width, p.width);
      EXPECT_EQ(reports[i].picture.height, p.height);
    }
    if (lookahead != 16) continue;

    // The EXIF fields: the progressive file's XMP segment after its EXIF one
    // changes nothing; the broken file's EXIF segment was walked before the
    // garbage; the plain JFIF file has dimensions only.
    const tag_PictureInfo &b = reports[0].picture, &p = reports[1].picture, &j = reports[2].picture,
                          &nef = reports[9].picture;
    const std::pair<const char16_t*, const char*> texts[] = {
        {b.make, "Fixture Optics"}, {b.model, "FX-64 Compact"}, {b.software, "make_jpeg 1.0"},
        {b.dateTime, "2024:05:06 07:08:09"}, {b.dateTimeOriginal, "2024:05:06 07:08:00"},
        {b.exifVersion, "0232"}, {b.gpsLatitudeRef, "N"}, {b.gpsLongitudeRef, "E"},
        {b.gpsAltitudeRef, ""},  // the byte 0 (above sea level) as text
        {p.model, "FX-48 Pro"}, {p.dateTimeOriginal, "2023:11:12 13:14:15"}, {p.dateTime, ""},
        {p.gpsLatitudeRef, "S"}, {p.gpsLongitudeRef, "W"}, {p.gpsAltitudeRef, "\x01"},
        {j.make, ""}, {j.exifVersion, ""}, {reports[5].picture.make, "Fixture Optics"},
        {nef.make, "NIKON CORPORATION"}, {nef.model, "NIKON D90"}, {nef.gpsLatitudeRef, "N"},
        {nef.dateTimeOriginal, "2021:06:01 10:20:30"}, {reports[10].picture.make, "SONY"}};
    for (const auto& [got, want] : texts) EXPECT_EQ(U8(got), want);
    const std::pair<double, double> numbers[] = {
        {b.gpsLatitude, 48.858370}, {b.gpsLongitude, 2.294481}, {b.gpsAltitude, 35.5},
        {p.gpsLatitude, 33.856784}, {p.gpsLongitude, 151.215297}, {p.gpsAltitude, 12.0},
        {j.gpsLatitude, 0.0}, {nef.gpsLatitude, 48.5}, {nef.gpsLongitude, 9.25}};
    for (const auto& [got, want] : numbers) EXPECT_NEAR(got, want, 1e-6);
    EXPECT_EQ(b.typeCode, 513u);
    EXPECT_EQ(nef.typeCode, 514u);
  }
}

}  // namespace
