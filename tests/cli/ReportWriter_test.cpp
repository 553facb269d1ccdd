// Hostile metadata texts, 64-bit offsets and missing hashes read back
// intact from all three report formats.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ReportWriter.h"
#include "Text.h"
#include "cli/CliTestSupport.h"

using namespace trcli;

namespace {

const char kMake[] = "Maker, \"Quoted\" & <Co>";

std::string Render(ReportFormat format, const std::string& hash) {
  FoundFile photo, cut;
  photo.offset = 32768;
  photo.size = 15743;
  photo.typeCode = 513;
  photo.extension = "jpg";
  photo.complete = true;
  PictureData picture;
  picture.make = kMake;
  picture.model = "line\nbreak";
  picture.latitudeRef = "N";
  picture.latitude = 48.8584;
  picture.longitudeRef = "E";
  picture.longitude = 2.2945;
  photo.picture = picture;
  photo.hash = "ab12";
  cut.offset = 1ull << 40;
  cut.size = 512;
  cut.typeCode = 1793;
  cut.extension = "zip";
  ReportContext context;
  context.sourcePath = "disk & image.img";
  context.hashName = hash;
  auto writer = MakeReportWriter(format, context);
  return writer->Header() + writer->Record(photo) + writer->Record(cut) + writer->Footer();
}

}  // namespace

TEST(CliReportWriter, EveryFormatReadsBackQuotedTextsLargeOffsetsAndMissingHashes) {
  std::vector<std::string> lines = SplitList(Render(ReportFormat::kJsonLines, "sha256"), "\n");
  ASSERT_EQ(lines.size(), 2u);
  auto photo = nlohmann::json::parse(lines[0]), cut = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(photo["picture"]["model"], "line\nbreak");
  EXPECT_EQ(cut["offset"].get<uint64_t>(), 1ull << 40);
  EXPECT_FALSE(cut.contains("picture"));
  EXPECT_TRUE(cut["sha256"].is_null());  // asked for, not available

  auto rows = trclitest::ParseCsv(Render(ReportFormat::kCsv, "md5"));
  ASSERT_EQ(rows.size(), 3u);
  const auto& header = rows[0];
  for (const auto& row : rows) EXPECT_EQ(row.size(), header.size());
  auto column = [&](const char* name) { return std::find(header.begin(), header.end(), name) - header.begin(); };
  EXPECT_EQ(rows[1][column("make")], kMake);
  EXPECT_EQ(rows[1][column("model")], "line\nbreak");
  EXPECT_EQ(rows[1][column("gps_latitude")], "48.8584");
  EXPECT_EQ(rows[2][column("offset")], "1099511627776");
  EXPECT_EQ(rows[2][column("md5")], "");

  std::string xml = Render(ReportFormat::kDfxml, "sha1");
  EXPECT_NE(xml.find("<image_filename>disk &amp; image.img</image_filename>"), std::string::npos);
  auto objects = trclitest::ParseDfxmlFileObjects(xml);
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0]["filename"], "000000032768.jpg");
  EXPECT_EQ(objects[1]["byte_run@img_offset"], "1099511627776");
  EXPECT_EQ(objects[1].count("hashdigest"), 0u);
}

TEST(CliReportWriter, PictureRecordTextsAreBoundedByTheirFields) {
  tag_PictureInfo info{};
  info.size = sizeof info;
  info.typeCode = 513;
  for (char16_t& unit : info.make) unit = u'M';  // no terminator in the field
  info.model[0] = u'\u00e9';
  info.model[1] = 0xD800;  // a lone surrogate
  info.model[2] = u'x';
  PictureData picture = FromPictureInfo(info);
  EXPECT_EQ(picture.make, std::string(32, 'M'));
  EXPECT_EQ(picture.model, "\xC3\xA9\xEF\xBF\xBDx");
  EXPECT_FALSE(picture.HasGps());
}
