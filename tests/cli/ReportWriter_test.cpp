// The three report formats carry the same facts and read back cleanly,
// whatever text the picture metadata holds.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ReportWriter.h"
#include "Text.h"
#include "cli/CliTestSupport.h"

using namespace trcli;

namespace {

std::vector<FoundFile> Files() {
  FoundFile photo;
  photo.offset = 32768;
  photo.size = 15743;
  photo.typeCode = 513;
  photo.extension = "jpg";
  photo.complete = true;
  PictureData picture;
  picture.width = 320;
  picture.height = 240;
  picture.make = "Maker, \"Quoted\" & <Co>";
  picture.model = "line\nbreak";
  picture.dateTimeOriginal = "2024:05:17 10:32:08";
  picture.latitudeRef = "N";
  picture.latitude = 48.8584;
  picture.longitudeRef = "E";
  picture.longitude = 2.2945;
  photo.picture = picture;
  photo.hash = "ab12";
  FoundFile cut;
  cut.offset = 1ull << 40;  // beyond 32 bits
  cut.size = 512;
  cut.typeCode = 1793;
  cut.extension = "zip";
  cut.complete = false;
  return {photo, cut};
}

std::string Render(ReportFormat format, const std::string& hash) {
  ReportContext context;
  context.sourcePath = "disk & image.img";
  context.hashName = hash;
  auto writer = MakeReportWriter(format, context);
  std::string text = writer->Header();
  for (const FoundFile& file : Files()) text += writer->Record(file);
  return text + writer->Footer();
}

}  // namespace

TEST(CliReportWriter, JsonLinesHoldOneObjectPerFile) {
  std::string text = Render(ReportFormat::kJsonLines, "sha256");
  std::vector<std::string> lines = SplitList(text, "\n");
  ASSERT_EQ(lines.size(), 2u);
  auto photo = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(photo["offset"], 32768);
  EXPECT_EQ(photo["size"], 15743);
  EXPECT_EQ(photo["type_code"], 513);
  EXPECT_EQ(photo["group"], "photos");
  EXPECT_EQ(photo["complete"], true);
  EXPECT_EQ(photo["picture"]["make"], "Maker, \"Quoted\" & <Co>");
  EXPECT_EQ(photo["picture"]["model"], "line\nbreak");
  EXPECT_DOUBLE_EQ(photo["picture"]["gps"]["latitude"].get<double>(), 48.8584);
  EXPECT_EQ(photo["sha256"], "ab12");
  auto cut = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(cut["offset"].get<uint64_t>(), 1ull << 40);
  EXPECT_EQ(cut["complete"], false);
  EXPECT_FALSE(cut.contains("picture"));
  EXPECT_TRUE(cut["sha256"].is_null());  // asked for, not available
}

TEST(CliReportWriter, CsvRowsMatchTheHeaderAndSurviveQuoting) {
  auto rows = trclitest::ParseCsv(Render(ReportFormat::kCsv, "md5"));
  ASSERT_EQ(rows.size(), 3u);
  const auto& header = rows[0];
  EXPECT_EQ(header.back(), "md5");
  for (const auto& row : rows) EXPECT_EQ(row.size(), header.size());
  auto column = [&](const std::string& name) {
    return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  EXPECT_EQ(rows[1][column("offset")], "32768");
  EXPECT_EQ(rows[1][column("make")], "Maker, \"Quoted\" & <Co>");
  EXPECT_EQ(rows[1][column("model")], "line\nbreak");
  EXPECT_EQ(rows[1][column("gps_latitude")], "48.8584");
  EXPECT_EQ(rows[1][column("md5")], "ab12");
  EXPECT_EQ(rows[2][column("offset")], "1099511627776");
  EXPECT_EQ(rows[2][column("complete")], "0");
  EXPECT_EQ(rows[2][column("width")], "");
}

TEST(CliReportWriter, DfxmlHasFileObjectsWithByteRunsAndDigests) {
  std::string xml = Render(ReportFormat::kDfxml, "sha1");
  EXPECT_NE(xml.find("<image_filename>disk &amp; image.img</image_filename>"), std::string::npos);
  auto objects = trclitest::ParseDfxmlFileObjects(xml);
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0]["filesize"], "15743");
  EXPECT_EQ(objects[0]["byte_run@img_offset"], "32768");
  EXPECT_EQ(objects[0]["byte_run@len"], "15743");
  EXPECT_EQ(objects[0]["hashdigest@type"], "sha1");
  EXPECT_EQ(objects[0]["hashdigest"], "ab12");
  EXPECT_EQ(objects[0]["filename"], "000000032768.jpg");
  EXPECT_EQ(objects[1]["byte_run@img_offset"], "1099511627776");
  EXPECT_EQ(objects[1].count("hashdigest"), 0u);
}

TEST(CliReportWriter, PictureRecordTextsAreBoundedByTheirFields) {
  tag_PictureInfo info{};
  info.size = sizeof info;
  info.typeCode = 513;
  info.width = 4000;
  for (char16_t& unit : info.make) unit = u'M';  // no terminator in the field
  info.model[0] = u'\u00e9';
  PictureData picture = FromPictureInfo(info);
  EXPECT_EQ(picture.make, std::string(32, 'M'));
  EXPECT_EQ(picture.model, "\xC3\xA9");
  EXPECT_EQ(picture.width, 4000u);
  EXPECT_FALSE(picture.HasGps());
  ReportFormat format;
  EXPECT_TRUE(ParseReportFormat("DFXML", &format));
  EXPECT_EQ(format, ReportFormat::kDfxml);
  EXPECT_FALSE(ParseReportFormat("xlsx", &format));
}
