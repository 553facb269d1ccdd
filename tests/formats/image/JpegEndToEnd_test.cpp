// Real JPEG files (made by make_jpeg.sh in tests/data/image) carved out of a
// synthetic disk image in folder and report mode.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "formats/image/JPG.h"
#include "support/Carving.h"
#include "support/TestSupport.h"

namespace {

using trtest::Fixture;
using trtest::Report;


std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t to) {
  return std::vector<uint8_t>(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(to));
}

// First position of a marker segment in a JPEG's header walk.
size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at + 1] != marker) at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
  return at;
}

class JpegEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline = Fixture("image", "jpeg_baseline.jpg");
    progressive = Fixture("image", "jpeg_progressive.jpg");
    plain = Fixture("image", "jpeg_plain.jpg");
    ASSERT_GT(baseline.size(), 600u);
    ASSERT_GT(progressive.size(), 4000u);
    ASSERT_GT(plain.size(), 100u);
    // Cut in the middle of the scan: zeros follow until the next file.
    truncated = Slice(progressive, 0, progressive.size() - 900);
    // Garbage where the marker after the EXIF segment is expected (inside
    // the first sector).
    corrupted = baseline;
    garbageAt = FindMarker(baseline, 0xDB);
    ASSERT_LT(garbageAt, 512u);
    corrupted[garbageAt] = 0x5A;

    disk.Random(3).File(baseline).Zeros(2).File(progressive).Random(2).File(plain).Zeros(1)
        .File(truncated).Zeros(4).File(progressive).Random(1).File(corrupted).Random(2);
  }

  std::vector<uint8_t> baseline, progressive, plain, truncated, corrupted;
  size_t garbageAt = 0;
  trtest::DiskImage disk{11};
};

constexpr uint64_t kJpegMax = CTypeRecoveryJPG::kDefaultMaxFileSize;

TEST_F(JpegEndToEnd, FolderModeGivesByteIdenticalNumberedFiles) {
  trtest::TempDir dir;
  uint32_t error = 0;
  EXPECT_EQ(trtest::FolderRun(dir, {{513, kJpegMax}}, disk.bytes(), 512, 16, &error), 6u);
  EXPECT_EQ(error, 0u);
  const std::vector<uint64_t>& at = disk.offsets();
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"jpg/00000.jpg", "jpg/00001.jpg", "jpg/00002.jpg",
                                                   "jpg/00003.jpg", "jpg/00004.jpg",
                                                   "jpg/00005.jpg"}));
  EXPECT_EQ(dir.Read("jpg/00000.jpg"), baseline);
  EXPECT_EQ(dir.Read("jpg/00001.jpg"), progressive);
  EXPECT_EQ(dir.Read("jpg/00002.jpg"), plain);
  // The truncated file runs on until the next file's signature cuts it.
  EXPECT_EQ(dir.Read("jpg/00003.jpg"), Slice(disk.bytes(), at[3], at[4]));
  EXPECT_EQ(dir.Read("jpg/00004.jpg"), progressive);
  // The broken marker walk ends the file with its first strip.
  EXPECT_EQ(dir.Read("jpg/00005.jpg"), Slice(disk.bytes(), at[5], at[5] + 512));
}

TEST_F(JpegEndToEnd, ReportModeGivesOffsetsSizesFlagsAndPictureRecords) {
  const std::vector<Report> reports = trtest::ReportRun({{513, kJpegMax}}, disk.bytes(), 512, 16);
  const std::vector<uint64_t>& at = disk.offsets();
  ASSERT_EQ(reports.size(), 6u);
  const uint64_t sizes[] = {baseline.size(), progressive.size(), plain.size(), at[4] - at[3],
                            progressive.size(), 512};
  const uint32_t complete[] = {1, 1, 1, 0, 1, 0};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(reports[i].start, at[i]) << i;
    EXPECT_EQ(reports[i].size, sizes[i]) << i;
    EXPECT_EQ(reports[i].complete, complete[i]) << i;
    EXPECT_EQ(reports[i].extension, "jpg");
    EXPECT_EQ(reports[i].hasPicture, i != 3) << i;  // a cut file has no record
  }

  const tag_PictureInfo& b = reports[0].picture;
  EXPECT_EQ(b.size, 456u);
  EXPECT_EQ(b.typeCode, 513u);
  EXPECT_EQ(b.width, 64u);
  EXPECT_EQ(b.height, 48u);
  EXPECT_EQ(trtest::U8(b.make), "Fixture Optics");
  EXPECT_EQ(trtest::U8(b.model), "FX-64 Compact");
  EXPECT_EQ(trtest::U8(b.software), "make_jpeg 1.0");
  EXPECT_EQ(trtest::U8(b.dateTime), "2024:05:06 07:08:09");
  EXPECT_EQ(trtest::U8(b.dateTimeOriginal), "2024:05:06 07:08:00");
  EXPECT_EQ(trtest::U8(b.exifVersion), "0232");
  EXPECT_EQ(trtest::U8(b.gpsLatitudeRef), "N");
  EXPECT_NEAR(b.gpsLatitude, 48.858370, 1e-6);
  EXPECT_EQ(trtest::U8(b.gpsLongitudeRef), "E");
  EXPECT_NEAR(b.gpsLongitude, 2.294481, 1e-6);
  EXPECT_EQ(b.gpsAltitudeRef[0], 0);  // the byte 0 (above sea level) as text
  EXPECT_FLOAT_EQ(b.gpsAltitude, 35.5f);

  // Progressive: no baseline frame, so no dimensions; the XMP segment that
  // follows the EXIF one changes nothing.
  const tag_PictureInfo& p = reports[1].picture;
  EXPECT_EQ(p.width, 0u);
  EXPECT_EQ(p.height, 0u);
  EXPECT_EQ(trtest::U8(p.model), "FX-48 Pro");
  EXPECT_EQ(trtest::U8(p.dateTimeOriginal), "2023:11:12 13:14:15");
  EXPECT_EQ(p.dateTime[0], 0);
  EXPECT_EQ(trtest::U8(p.gpsLatitudeRef), "S");
  EXPECT_NEAR(p.gpsLatitude, 33.856784, 1e-6);
  EXPECT_EQ(trtest::U8(p.gpsLongitudeRef), "W");
  EXPECT_NEAR(p.gpsLongitude, 151.215297, 1e-6);
  EXPECT_EQ(p.gpsAltitudeRef[0], 1);  // below sea level
  EXPECT_EQ(p.gpsAltitudeRef[1], 0);
  EXPECT_FLOAT_EQ(p.gpsAltitude, 12.0f);

  // Plain JFIF: dimensions only.
  const tag_PictureInfo& j = reports[2].picture;
  EXPECT_EQ(j.width, 48u);
  EXPECT_EQ(j.height, 32u);
  EXPECT_EQ(j.make[0], 0);
  EXPECT_EQ(j.exifVersion[0], 0);
  EXPECT_EQ(j.gpsLatitude, 0.0);

  // The broken file: its EXIF segment was walked before the garbage, its
  // frame was not.
  const tag_PictureInfo& c = reports[5].picture;
  EXPECT_EQ(trtest::U8(c.make), "Fixture Optics");
  EXPECT_EQ(c.width, 0u);
}

TEST_F(JpegEndToEnd, AllTypesAddedFindTheSameJpegs) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  TypeRecovery_AddAllTypes(m);
  trtest::FeedImage(m, disk.bytes(), 512, 16);
  TypeRecovery_CloseManager(m);
  std::vector<uint64_t> jpegStarts;
  for (const Report& r : log.reports) {
    if (r.extension == "jpg") jpegStarts.push_back(r.start);
  }
  EXPECT_EQ(jpegStarts, disk.offsets());
}

}  // namespace
