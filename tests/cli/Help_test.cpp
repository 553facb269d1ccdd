// What a newcomer types to learn the tool: no arguments, help, version, and
// each command's --help with its examples and exit statuses; then every
// example of the help texts and of the README runs, read from them so that
// they cannot drift from what the tool does.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "Text.h"
#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

namespace {

using trclitest::RunTool;
using trclitest::ToolResult;

const char* const kCommands[] = {"carve", "scan", "merge", "partitions", "types", "check"};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(CliHelp, NoArgumentsHelpAndVersionAnswerAsPeopleExpect) {
  for (const std::vector<std::string>& words : {std::vector<std::string>{}, {"help"}, {"--help"}}) {
    const ToolResult help = RunTool(words);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Has(help.out, "Usage: typerecovery ")) << help.out;  // the name, not the path
    EXPECT_TRUE(Has(help.out, "Exit status:"));
  }
  for (const char* version : {"version", "-V", "--version"}) {
    const ToolResult answer = RunTool({version});
    EXPECT_EQ(answer.status, 0) << version;
    EXPECT_EQ(answer.out.rfind("typerecovery " TYPERECOVERY_TOOL_VERSION, 0), 0u) << version;
  }
  EXPECT_EQ(RunTool({"help", "nosuchcommand"}).status, 2);
  for (const char* command : kCommands) {
    const ToolResult help = RunTool({"help", command});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_TRUE(Has(help.out, "Examples:")) << command;
    EXPECT_TRUE(Has(help.out, "130 interrupted")) << command;
    EXPECT_EQ(RunTool({command, "--help"}).out, help.out) << command;
  }
}

// The example command lines of a text: lines that start with the tool's
// name (after indentation), without placeholders (words in capitals,
// optional parts in brackets) and without a trailing comment.
std::vector<std::string> Examples(const std::string& text) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos || line.compare(start, 13, "typerecovery ") != 0) continue;
    line = line.substr(start, line.find(" #") == std::string::npos ? std::string::npos : line.find(" #") - start);
    bool placeholder = false;
    for (const std::string& word : trcli::SplitList(line, " "))
      placeholder = placeholder || word[0] == '[' ||
                    (word.size() > 1 && word.find_first_of("abcdefghijklmnopqrstuvwxyz0123456789") == std::string::npos);
    if (!placeholder) found.push_back(line);
  }
  return found;
}

// Each example runs in a folder of its own that holds the sample under the
// names the examples use; one that resumes has no run to resume, and one
// that picks a partition meets the sample's lack of a partition table.
TEST(CliHelp, EveryExampleOfTheHelpAndTheReadmeRuns) {
  std::string help = RunTool({"--help"}).out;
  for (const char* command : kCommands) help += RunTool({command, "--help"}).out;
  const std::string readme = trclitest::ReadText(std::string(TYPERECOVERY_SAMPLES) + "/../README.md");
  std::vector<std::string> examples = Examples(help);
  const size_t fromHelp = examples.size();
  std::istringstream blocks(readme);
  bool inShell = false;
  std::string shell;
  for (std::string line; std::getline(blocks, line);) {
    if (line.rfind("```", 0) == 0) inShell = !inShell && line == "```sh";
    else if (inShell) shell += line + "\n";
  }
  for (const std::string& example : Examples(shell)) examples.push_back(example);
  ASSERT_GE(fromHelp, 10u);
  ASSERT_GE(examples.size(), fromHelp + 8);

  const std::string sample = std::string(TYPERECOVERY_SAMPLES) + "/sample.img";
  const std::vector<uint8_t> image = trclitest::ReadBytes(sample);
  const std::filesystem::path home = std::filesystem::current_path();
  for (const std::string& example : examples) {
    trtest::TempDir dir;
    for (const char* name : {"disk.img", "disk.E01", "evidence.E01"}) dir.Write(name, image);
    dir.Write("photo.jpg", trclitest::ReadBytes(sample, 32768, 15743));
    dir.Write("recovered.bin", trclitest::ReadBytes(sample, 103936, 2404));  // the sample's PDF
    std::vector<std::string> words;
    for (std::string word : trcli::SplitList(example, " ")) {
      if (word == "/dev/sdb1") word = "disk.img";
      if (word == "samples/sample.img") word = sample;
      words.push_back(word);
    }
    words.erase(words.begin());
    std::filesystem::current_path(dir.path());
    if (words[0] == "merge") {  // after the segments that the example's parallel line runs
      for (const char* segment : {"1/4", "2/4", "3/4", "4/4"})
        EXPECT_EQ(RunTool({"carve", "disk.img", "-q", "--segment", segment, "-o", words[1]}).status, 0);
    }
    const ToolResult result = RunTool(words);
    std::filesystem::current_path(home);
#if !defined(TYPERECOVERY_HAVE_TSK)
    if (Has(result.err, "built without The Sleuth Kit")) continue;  // evidence formats and partitions
#endif
    int expected = 0;
    if (Has(example, "--resume")) expected = 5;
    else if (Has(example, "--partition ")) expected = 3;
    EXPECT_EQ(result.status, expected) << example << "\n" << result.err;
    if (expected != 0) continue;
    std::string keyLine;  // what the command's answer must hold
    if (words[0] == "carve" || words[0] == "merge") keyLine = "\ntotal ";
    if (words[0] == "check") keyLine = "begins like a";
    if (words[0] == "scan" && !Has(example, " -o ")) keyLine = "\"extension\":\"jpg\"";
    if (words[0] == "types") keyLine = "jpg";
    EXPECT_TRUE(Has(result.out, keyLine)) << example << "\n" << result.out;
  }
}

}  // namespace
