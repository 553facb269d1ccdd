// The tool tests' helpers: report parsers, running the built tool (fork and
// exec, or CreateProcess), carved trees and a small disk to fill.
#include "cli/CliTestSupport.h"

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <psapi.h>
#else
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "Platform.h"
#include "Text.h"

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
  std::vector<std::map<std::string, std::string>> objects;
  EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
  size_t open = xml.find("<dfxml");
  size_t close = xml.rfind("</dfxml>");
  EXPECT_NE(open, std::string::npos);
  EXPECT_NE(close, std::string::npos);
  if (open == std::string::npos || close == std::string::npos) return objects;
  const std::string kOpen = "<fileobject>", kClose = "</fileobject>";
  for (size_t at = xml.find(kOpen, open); at != std::string::npos && at < close; at = xml.find(kOpen, at + 1)) {
    size_t finish = xml.find(kClose, at);
    EXPECT_NE(finish, std::string::npos) << "unclosed fileobject";
    if (finish == std::string::npos) break;
    std::string inner = xml.substr(at + kOpen.size(), finish - at - kOpen.size());
    std::map<std::string, std::string> fields;
    // Each element: <name attr="v" ...>text</name> or <name attr="v"/>.
    for (size_t p = inner.find('<'); p != std::string::npos; p = inner.find('<', p + 1)) {
      if (inner[p + 1] == '/') continue;
      size_t tagEnd = inner.find('>', p);
      EXPECT_NE(tagEnd, std::string::npos);
      if (tagEnd == std::string::npos) break;
      std::string tag = inner.substr(p + 1, tagEnd - p - 1);
      bool selfClosing = !tag.empty() && tag.back() == '/';
      if (selfClosing) tag.pop_back();
      size_t space = tag.find(' ');
      std::string name = tag.substr(0, space);
      for (size_t q = space; q != std::string::npos && q < tag.size();) {
        size_t eq = tag.find("=\"", q);
        if (eq == std::string::npos) break;
        size_t nameStart = tag.find_last_of(' ', eq) + 1;
        size_t valueEnd = tag.find('"', eq + 2);
        EXPECT_NE(valueEnd, std::string::npos);
        if (valueEnd == std::string::npos) break;
        fields[name + "@" + tag.substr(nameStart, eq - nameStart)] = Decode(tag.substr(eq + 2, valueEnd - eq - 2));
        q = valueEnd + 1;
      }
      if (selfClosing) continue;
      size_t textEnd = inner.find('<', tagEnd);
      if (textEnd != std::string::npos && inner.compare(textEnd, name.size() + 3, "</" + name + ">") == 0)
        fields[name] = Decode(inner.substr(tagEnd + 1, textEnd - tagEnd - 1));
    }
    objects.push_back(fields);
    at = finish;
  }
  return objects;
}

#if defined(_WIN32)
namespace {
// Quoted as CommandLineToArgvW reads it back.
std::wstring QuoteArgument(const std::string& word) {
  std::u16string units = trcli::Utf8ToUtf16(word);
  std::wstring arg(units.begin(), units.end());
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::map<int, HANDLE>& Processes() {
  static std::map<int, HANDLE> processes;
  return processes;
}

HANDLE Inheritable(int fd) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}
}  // namespace

int StartTool(const std::vector<std::string>& args, int in, int out, int err) {
  std::wstring commandLine = QuoteArgument(TYPERECOVERY_CLI_EXE);
  for (const std::string& arg : args) commandLine += L" " + QuoteArgument(arg);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(in);
  startup.hStdOutput = Inheritable(out);
  startup.hStdError = Inheritable(err);
  PROCESS_INFORMATION process{};
  // A process group of its own, so that StopTool's Ctrl-Break reaches only it.
  BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP,
                                  nullptr, nullptr, &startup, &process);
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  if (!started) return -1;
  ::CloseHandle(process.hThread);
  Processes()[static_cast<int>(process.dwProcessId)] = process.hProcess;
  return static_cast<int>(process.dwProcessId);
}

int WaitTool(int pid, long* peakKb) {
  auto found = Processes().find(pid);
  if (found == Processes().end()) return -1;
  DWORD status = 0;
  ::WaitForSingleObject(found->second, INFINITE);
  ::GetExitCodeProcess(found->second, &status);
  PROCESS_MEMORY_COUNTERS memory = {};
  if (peakKb != nullptr && ::GetProcessMemoryInfo(found->second, &memory, sizeof memory))
    *peakKb = static_cast<long>(memory.PeakWorkingSetSize / 1024);
  ::CloseHandle(found->second);
  Processes().erase(found);
  return static_cast<int>(status);
}

void StopTool(int pid) { ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid)); }

int OpenNull(bool forWriting) { return ::_open("NUL", (forWriting ? _O_WRONLY : _O_RDONLY) | _O_NOINHERIT); }

int TemporaryFile(std::string* path) {
  static int counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *path = trcli::platform::TemporaryFolder() + "/trcli-" + std::to_string(trcli::platform::ProcessId()) + "-" +
            std::to_string(++counter);
    int fd = ::_open(path->c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd >= 0) return fd;
  }
  return -1;
}

// Nothing is inherited unless StartTool hands it over: a child holding the
// pipe's writing end would never see the stream end.
bool MakePipe(int fds[2]) { return ::_pipe(fds, 1 << 16, _O_BINARY | _O_NOINHERIT) == 0; }
#else
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

int WaitTool(int pid, long* peakKb) {
  int status = 0;
  struct rusage usage = {};
  ::wait4(pid, &status, 0, &usage);
  if (peakKb != nullptr) *peakKb = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void StopTool(int pid) { ::kill(pid, SIGINT); }

int OpenNull(bool forWriting) { return ::open("/dev/null", forWriting ? O_WRONLY : O_RDONLY); }

int TemporaryFile(std::string* path) {
  char name[] = "/tmp/trcli-XXXXXX";
  int fd = ::mkstemp(name);
  *path = name;
  return fd;
}

bool MakePipe(int fds[2]) { return ::pipe(fds) == 0; }
#endif

ToolResult RunTool(const std::vector<std::string>& args, const std::string& stdinPath) {
  std::string outName, errName;
  int outFd = TemporaryFile(&outName), errFd = TemporaryFile(&errName);
  int in = stdinPath.empty() ? OpenNull(false) : trcli::platform::OpenForReading(stdinPath);
  ToolResult result;
  result.status = WaitTool(StartTool(args, in, outFd, errFd), &result.peakKb);
  for (int fd : {in, outFd, errFd}) trcli::platform::Close(fd);
  result.out = ReadText(outName);
  result.err = ReadText(errName);
  trcli::platform::RemoveFile(outName);
  trcli::platform::RemoveFile(errName);
  return result;
}

ToolResult RunFedThenStopped(const std::vector<std::string>& args, const std::vector<uint8_t>& image, size_t head,
                             const std::string& waitFor, int signal) {
  int pipeFds[2];
  EXPECT_TRUE(MakePipe(pipeFds));
  std::string outName, errName;
  int outFd = TemporaryFile(&outName), errFd = TemporaryFile(&errName);
  int pid = StartTool(args, pipeFds[0], outFd, errFd);
  trcli::platform::Close(pipeFds[0]);
  trcli::platform::WriteAll(pipeFds[1], image.data(), head);
  if (waitFor.empty()) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
  } else {
    for (int waited = 0; waited < 200 && !trcli::platform::PathExists(waitFor); ++waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
#if defined(_WIN32)
  (void)signal;
  StopTool(pid);
  // Should the stop not arrive, the end of the stream ends the run and the
  // test fails instead of waiting forever.
  trcli::platform::Close(pipeFds[1]);
  pipeFds[1] = -1;
#else
  if (signal != 0) ::kill(pid, signal);
  else StopTool(pid);
#endif
  ToolResult result;
  result.status = WaitTool(pid);
  for (int fd : {pipeFds[1], outFd, errFd})
    if (fd >= 0) trcli::platform::Close(fd);
  result.out = ReadText(outName);
  result.err = ReadText(errName);
  trcli::platform::RemoveFile(outName);
  trcli::platform::RemoveFile(errName);
  return result;
}

#ifdef TYPERECOVERY_READ_ERROR_SHIM
ToolResult RunOnBadDisk(const std::vector<std::string>& args, const std::string& disk, const std::string& regions,
                        const std::string& stopAt) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = asan != nullptr ? asan : "";
  ::setenv("LD_PRELOAD", TYPERECOVERY_READ_ERROR_SHIM, 1);
  ::setenv("ASAN_OPTIONS", (asanOptions + ":verify_asan_link_order=0").c_str(), 1);
  ::setenv("TR_TEST_BAD_FILE", disk.c_str(), 1);
  ::setenv("TR_TEST_BAD_REGIONS", regions.c_str(), 1);
  ::setenv("TR_TEST_STOP_AT", stopAt.empty() ? "18446744073709551615" : stopAt.c_str(), 1);
  ToolResult result = RunTool(args);
  ::unsetenv("LD_PRELOAD");
  if (asan != nullptr) ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
  else ::unsetenv("ASAN_OPTIONS");
  return result;
}
#endif

std::string ReadText(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
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

std::map<std::string, std::vector<uint8_t>> CarvedTree(const std::string& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  std::error_code failed;
  const std::filesystem::path top = std::filesystem::u8path(root);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(top, failed)) {
    const std::string relative = entry.path().lexically_relative(top).generic_u8string();
    const bool audit = relative.find('/') == std::string::npos && relative.rfind("report", 0) == 0;
    if (entry.is_regular_file() && !audit) files[relative] = ReadBytes(entry.path().u8string());
  }
  return files;
}

#if !defined(_WIN32)
SmallDisk::SmallDisk(const std::string& path, const char* size) : m_path(path) {
  ::mkdir(path.c_str(), 0755);
  m_mounted = ::geteuid() == 0 && ::mount("tmpfs", path.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (m_mounted) ::umount(m_path.c_str());
}

bool SmallDisk::Grow(const char* size) {
  return ::mount("tmpfs", m_path.c_str(), "tmpfs", MS_REMOUNT, (std::string("size=") + size).c_str()) == 0;
}
#endif

}  // namespace trclitest
