// Paths in any language: the tool carves from and into folders with
// non-ASCII names on every system (wide-character calls on Windows), and on
// Linux a path that is not UTF-8 is used byte for byte, saved in the state
// file without loss and shown escaped in reports.
#include <gtest/gtest.h>

#include "Text.h"
#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

using namespace trclitest;

namespace {

const std::string kSample = std::string(TYPERECOVERY_SAMPLES) + "/sample.img";

}  // namespace

TEST(CliPaths, NonAsciiSourceOutputAndReportNamesCarveTheSameFiles) {
  trtest::TempDir dir;
  ASSERT_EQ(RunTool({"carve", kSample, "-o", dir.path() + "/plain", "-q"}).status, 0);

  const std::string source = dir.path() + "/Käse-日本語 образ.img";
  const std::string output = dir.path() + "/выход/ü 😀";
  const std::string report = dir.path() + "/отчёт.csv";
  dir.Write("Käse-日本語 образ.img", ReadBytes(kSample));
  ToolResult carve = RunTool({"carve", source, "-o", output, "--report", report, "--format", "csv", "--hash", "md5", "-q"});
  ASSERT_EQ(carve.status, 0) << carve.err;
  auto carved = CarvedTree(output);
  EXPECT_FALSE(carved.empty());
  EXPECT_EQ(carved, CarvedTree(dir.path() + "/plain"));
  EXPECT_NE(carve.out.find("output: " + output), std::string::npos) << carve.out;
  auto rows = ParseCsv(ReadText(report));
  EXPECT_EQ(rows.size(), carved.size() + 1);  // header and one row per file

  // Reading back through the tool: a carved file under a non-ASCII path.
  ToolResult check = RunTool({"check", output + "/" + carved.begin()->first});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
}

TEST(CliPaths, StrayBytesAreEscapedForDisplayAndKeptForTheLibrary) {
  const std::string stray = std::string("a\xFF") + "\xC3\xA9" + "\xE2\x82" + "/\xC0\xAF\xED\xA0\x80";
  EXPECT_FALSE(trcli::IsValidUtf8(stray));
  EXPECT_TRUE(trcli::IsValidUtf8("Käse 日本 😀"));
  EXPECT_EQ(trcli::EscapeInvalidUtf8(stray), "a\\xFF\xC3\xA9\\xE2\\x82/\\xC0\\xAF\\xED\\xA0\\x80");
  std::u16string wide = trcli::PathToUtf16(stray);
  EXPECT_EQ(wide, (std::u16string{u'a', 0xDCFF, 0xE9, 0xDCE2, 0xDC82, u'/', 0xDCC0, 0xDCAF, 0xDCED, 0xDCA0, 0xDC80}));
}

#if !defined(_WIN32)
TEST(CliPaths, OutputFolderThatIsNotUtf8IsWrittenAndReportedEscaped) {
  trtest::TempDir dir;
  ASSERT_EQ(RunTool({"carve", kSample, "-o", dir.path() + "/plain", "-q"}).status, 0);
  const std::string output = dir.path() + "/out\xFF\xFE";
  ToolResult carve = RunTool({"carve", kSample, "-o", output, "--report", dir.path() + "/r.xml", "--format", "dfxml", "-q"});
  ASSERT_EQ(carve.status, 0) << carve.err;
  EXPECT_EQ(CarvedTree(output), CarvedTree(dir.path() + "/plain"));
  EXPECT_NE(carve.out.find("output: " + dir.path() + "/out\\xFF\\xFE"), std::string::npos) << carve.out;
  std::string xml = ReadText(dir.path() + "/r.xml");
  EXPECT_TRUE(trcli::IsValidUtf8(xml));
  EXPECT_NE(xml.find("-o " + dir.path() + "/out\\xFF\\xFE"), std::string::npos);
}
#endif
