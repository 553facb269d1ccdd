// Every type the library has is described, under an extension its family
// lists; the types table is sorted by group and extension and filters by
// group.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "Commands.h"
#include "Text.h"
#include "TypeCatalog.h"
#include "TypeDescriptions.h"
#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

namespace {

TEST(TypeDescriptions, EveryLibraryCodeHasOneUnderAnExtensionOfItsFamily) {
  const trcli::TypeCatalog catalog = trcli::TypeCatalog::FromLibrary();
  ASSERT_EQ(catalog.Types().size(), 142u);
  for (const trcli::TypeInfo& type : catalog.Types()) {
    const trcli::TypeDescription* d = trcli::DescribeType(type.code);
    ASSERT_NE(d, nullptr) << type.code;
    EXPECT_GT(std::string(d->text).size(), 3u) << type.code;
    const trcli::TypeInfo* head = catalog.Find(type.familyCode);
    ASSERT_NE(head, nullptr);
    EXPECT_TRUE(std::any_of(head->extensions.begin(), head->extensions.end(),
                            [&](const std::string& e) { return trcli::ToLower(e) == trcli::ToLower(d->extension); }))
        << type.code << " " << d->extension;
  }
}

TEST(TypeDescriptions, TableIsSortedByGroupThenExtensionAndFiltersByGroup) {
  const trcli::TypeCatalog catalog = trcli::TypeCatalog::FromLibrary();
  std::istringstream table(trcli::FormatTypesTable(catalog));
  std::string line, previous;
  std::getline(table, line);  // the heading
  std::vector<std::string> groups;
  int rows = 0;
  while (std::getline(table, line) && line.find(" types") == std::string::npos) {
    std::istringstream fields(line);
    std::string group, extension;
    fields >> group >> extension;
    const std::string key = std::to_string(trcli::TypeCatalog::GroupFromName(group)) + " " + trcli::ToLower(extension);
    EXPECT_LE(previous, key) << line;
    previous = key;
    ++rows;
  }
  EXPECT_EQ(rows, 142);
  const std::string photos = trcli::FormatTypesTable(catalog, trcli::TypeCatalog::GroupFromName("photos"));
  EXPECT_NE(photos.find("NEF"), std::string::npos);  // spelt as its folder is
  EXPECT_NE(photos.find("png"), std::string::npos);
  EXPECT_EQ(photos.find("docx"), std::string::npos);
  EXPECT_EQ(trclitest::RunTool({"types", "--group", "nosuch"}).status, 2);
  const trclitest::ToolResult audio = trclitest::RunTool({"types", "--group", "audio"});
  EXPECT_EQ(audio.status, 0);
  EXPECT_NE(audio.out.find("WAVE audio"), std::string::npos);
}

// A presentation and a spreadsheet, both compound documents (LibreOffice):
// each extension selects its own kind and reports its own code.
TEST(TypeDescriptions, AnExtensionOfACompoundDocumentSelectsThatKindAlone) {
  const std::string data = std::string(TYPERECOVERY_TEST_DATA) + "/document/";
  std::vector<uint8_t> image = trclitest::ReadBytes(data + "slides.ppt");
  image.resize((image.size() + 4095) / 512 * 512, 0);
  const size_t sheetAt = image.size();
  const std::vector<uint8_t> sheet = trclitest::ReadBytes(data + "table.xls");
  image.insert(image.end(), sheet.begin(), sheet.end());
  image.resize(image.size() + 4096, 0);
  trtest::TempDir dir;
  dir.Write("disk.img", image);
  const trclitest::ToolResult both = trclitest::RunTool({"scan", dir.path() + "/disk.img", "-q"});
  EXPECT_NE(both.out.find("\"type_code\":262"), std::string::npos) << both.out;
  EXPECT_NE(both.out.find("\"type_code\":261"), std::string::npos) << both.out;
  const trclitest::ToolResult sheets = trclitest::RunTool({"scan", dir.path() + "/disk.img", "-q", "--types", "xls"});
  ASSERT_EQ(std::count(sheets.out.begin(), sheets.out.end(), '\n'), 1) << sheets.out;
  EXPECT_NE(sheets.out.find("\"offset\":" + std::to_string(sheetAt) + ",\"size\":" + std::to_string(sheet.size())),
            std::string::npos) << sheets.out;
  EXPECT_NE(sheets.out.find("\"type_code\":261"), std::string::npos) << sheets.out;
}

}  // namespace
