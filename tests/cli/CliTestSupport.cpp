#include "cli/CliTestSupport.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

namespace trclitest {

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      field += text[i++];
    } else if (c == '"') {
      quoted = !quoted;
    } else if (quoted || (c != ',' && c != '\n' && c != '\r')) {
      field += c;
    } else if (c != '\r') {
      row.push_back(field);
      field.clear();
      if (c == '\n') rows.push_back(std::move(row)), row.clear();
    }
  }
  EXPECT_FALSE(quoted) << "unterminated quoted field";
  if (!field.empty() || !row.empty()) { row.push_back(field); rows.push_back(row); }
  return rows;
}

namespace {
std::string Decode(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& entity : kEntities) {
    for (size_t at = text.find(entity.first); at != std::string::npos; at = text.find(entity.first, at + 1))
      text.replace(at, strlen(entity.first), entity.second);
  }
  return text;
}
}  // namespace

std::vector<std::map<std::string, std::string>> ParseDfxmlFileObjects(const std::string& xml) {
  EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
  EXPECT_NE(xml.find("<dfxml"), std::string::npos);
  EXPECT_NE(xml.rfind("</dfxml>"), std::string::npos);
  static const std::regex kObject("<fileobject>([\\s\\S]*?)</fileobject>");
  static const std::regex kElement("<(\\w+)([^>]*?)(?:/>|>([^<]*)</\\1>)");  // leaf elements only
  static const std::regex kAttribute("(\\w+)=\"([^\"]*)\"");
  const std::sregex_iterator end;
  std::vector<std::map<std::string, std::string>> objects;
  for (std::sregex_iterator object(xml.begin(), xml.end(), kObject); object != end; ++object) {
    std::map<std::string, std::string>& fields = objects.emplace_back();
    std::string inner = (*object)[1];
    for (std::sregex_iterator e(inner.begin(), inner.end(), kElement); e != end; ++e) {
      std::string name = (*e)[1], attributes = (*e)[2];
      if ((*e)[3].matched) fields[name] = Decode((*e)[3]);
      for (std::sregex_iterator a(attributes.begin(), attributes.end(), kAttribute); a != end; ++a)
        fields[name + "@" + (*a)[1].str()] = Decode((*a)[2]);
    }
  }
  return objects;
}

int StartTool(const std::vector<std::string>& args, int in, int out, int err) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<std::string> copy = args;
    std::string tool = TYPERECOVERY_CLI_EXE;
    std::vector<char*> argv{tool.data()};
    for (std::string& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(tool.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int WaitTool(int pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

ToolResult RunTool(const std::vector<std::string>& args, const std::string& stdinPath) {
  char outName[] = "/tmp/trcli-out-XXXXXX", errName[] = "/tmp/trcli-err-XXXXXX";
  int outFd = ::mkstemp(outName), errFd = ::mkstemp(errName);
  int in = ::open(stdinPath.empty() ? "/dev/null" : stdinPath.c_str(), O_RDONLY);
  ToolResult result;
  result.status = WaitTool(StartTool(args, in, outFd, errFd));
  for (int fd : {in, outFd, errFd}) ::close(fd);
  result.out = ReadText(outName);
  result.err = ReadText(errName);
  ::unlink(outName);
  ::unlink(errName);
  return result;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset, uint64_t size) {
  std::string text = ReadText(path);
  if (offset >= text.size()) return {};
  size = std::min<uint64_t>(size, text.size() - offset);
  return std::vector<uint8_t>(text.begin() + static_cast<long>(offset), text.begin() + static_cast<long>(offset + size));
}

}  // namespace trclitest
