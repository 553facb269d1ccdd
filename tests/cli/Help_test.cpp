// What a newcomer types to learn the tool: no arguments, help, version, and
// each command's --help with its examples and exit statuses; the examples
// themselves run.
#include <gtest/gtest.h>

#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

namespace {

using trclitest::RunTool;
using trclitest::ToolResult;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CliHelp, NoArgumentsHelpAndVersionAnswerAsPeopleExpect) {
  for (const std::vector<std::string>& words : {std::vector<std::string>{}, {"help"}, {"--help"}}) {
    const ToolResult help = RunTool(words);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Has(help.out, "Usage: typerecovery ")) << help.out;  // the name, not the path
    EXPECT_TRUE(Has(help.out, "carve disk.img -o recovered"));
    EXPECT_TRUE(Has(help.out, "Exit status:"));
  }
  for (const char* version : {"version", "-V", "--version"}) {
    const ToolResult answer = RunTool({version});
    EXPECT_EQ(answer.status, 0) << version;
    EXPECT_EQ(answer.out.rfind("typerecovery " TYPERECOVERY_TOOL_VERSION, 0), 0u) << version;
  }
  EXPECT_EQ(RunTool({"help", "nosuchcommand"}).status, 2);
}

TEST(CliHelp, EachCommandShowsExamplesAndExitStatusesAndTheExamplesRun) {
  for (const char* command : {"carve", "scan", "partitions", "types", "check"}) {
    const ToolResult help = RunTool({"help", command});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_TRUE(Has(help.out, "Examples:")) << command;
    EXPECT_TRUE(Has(help.out, "130 interrupted")) << command;
    EXPECT_EQ(RunTool({command, "--help"}).out, help.out) << command;
  }
  // The short option for types, and the examples that need only the sample.
  const std::string sample = std::string(TYPERECOVERY_SAMPLES) + "/sample.img";
  trtest::TempDir dir;
  EXPECT_EQ(RunTool({"scan", sample, "-t", "photos", "-o", dir.path() + "/found.csv", "--format", "csv", "-q"}).status, 0);
  EXPECT_TRUE(Has(trclitest::ReadText(dir.path() + "/found.csv"), ",jpg,"));
  EXPECT_EQ(RunTool({"types", "--group", "photos", "--json"}).status, 0);
  EXPECT_EQ(RunTool({"carve", sample, "-o", dir.path() + "/recovered", "-q"}).status, 0);
  EXPECT_EQ(RunTool({"check", dir.path() + "/recovered/jpg/00000.jpg"}).status, 0);
}

}  // namespace
