// The manual page and the tool's --help name the same options, so that the
// installed manual cannot drift from the tool.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/CliTestSupport.h"

namespace {

// Every "--name" in the text, where a dash is written as `dash` (the manual
// writes "\-"); names are lower-case words joined by single dashes.
std::set<std::string> LongOptions(const std::string& text, const std::string& dash) {
  std::set<std::string> names;
  const std::string lead = dash + dash;
  auto word = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
  for (size_t at = text.find(lead); at != std::string::npos; at = text.find(lead, at + 1)) {
    size_t p = at + lead.size();
    if (p >= text.size() || text[p] < 'a' || text[p] > 'z') continue;
    std::string name;
    while (p < text.size()) {
      if (word(text[p])) {
        name += text[p++];
      } else if (text.compare(p, dash.size(), dash) == 0 && p + dash.size() < text.size() &&
                 word(text[p + dash.size()])) {
        name += '-';
        p += dash.size();
      } else {
        break;
      }
    }
    names.insert(name);
  }
  return names;
}

TEST(ManPage, NamesExactlyTheOptionsTheToolsHelpShows) {
  const std::string page = trclitest::ReadText(std::string(TYPERECOVERY_SAMPLES) + "/../cli/typerecovery.1");
  ASSERT_FALSE(page.empty());
  const std::set<std::string> inPage = LongOptions(page, "\\-");
  std::set<std::string> inHelp = LongOptions(trclitest::RunTool({"--help"}).out, "-");
  for (const char* command : {"carve", "scan", "merge", "partitions", "types", "check"}) {
    const trclitest::ToolResult help = trclitest::RunTool({command, "--help"});
    ASSERT_EQ(help.status, 0) << command;
    for (const std::string& name : LongOptions(help.out, "-")) {
      inHelp.insert(name);
      EXPECT_TRUE(inPage.count(name)) << "the manual does not describe " << command << " --" << name;
    }
  }
  for (const std::string& name : inPage)
    EXPECT_TRUE(inHelp.count(name)) << "the manual names --" << name << ", which the tool lacks";
}

}  // namespace
