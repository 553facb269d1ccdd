// Helpers for the command-line tool's tests: parsers that read the tool's
// reports back (CSV with quoting, the DFXML fileobjects), a runner for the
// built tool, the carved files of an output folder and a small disk to fill.
#ifndef TYPERECOVERY_TESTS_CLI_CLITESTSUPPORT_H
#define TYPERECOVERY_TESTS_CLI_CLITESTSUPPORT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trclitest {

// RFC 4180 rows: quoted fields may hold commas, quotes and newlines.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text);

// Each <fileobject>: child elements' text by name, attributes as
// "element@attribute" (e.g. "byte_run@img_offset"), entities decoded.
std::vector<std::map<std::string, std::string>> ParseDfxmlFileObjects(const std::string& xml);

struct ToolResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  long peakKb = 0;  // the most memory it held (resident, KiB)
};

// Runs the built tool with arguments; stdin from a file ("" for /dev/null).
ToolResult RunTool(const std::vector<std::string>& args, const std::string& stdinPath = "");

// Starts the tool on the given descriptors (fork and exec, or CreateProcess
// with a command line quoted for Windows); WaitTool answers its status.
int StartTool(const std::vector<std::string>& args, int in, int out, int err);
int WaitTool(int pid, long* peakKb = nullptr);
// Asks it to stop as a user would: SIGINT, or Ctrl-Break on Windows.
void StopTool(int pid);
// Runs the tool with the first `head` bytes of image on a pipe and stops it
// once it waits for more: when waitFor names a file, soon after that file
// appears (a state file: the run saved before it waited), else after two
// seconds. The stop is StopTool's, or on POSIX the given signal.
ToolResult RunFedThenStopped(const std::vector<std::string>& args, const std::vector<uint8_t>& image, size_t head,
                             const std::string& waitFor = "", int signal = 0);

// The null device, a fresh temporary file (its path in *path) and a pipe,
// as descriptors on both systems.
int OpenNull(bool forWriting);
int TemporaryFile(std::string* path);
bool MakePipe(int fds[2]);
#ifdef TYPERECOVERY_READ_ERROR_SHIM
// The tool over a disk whose regions ("offset+length,...") cannot be read:
// a preloaded shim fails every read that touches one, and with stopAt sends
// the tool SIGINT when it first reads the disk at or past that offset.
ToolResult RunOnBadDisk(const std::vector<std::string>& args, const std::string& disk, const std::string& regions,
                        const std::string& stopAt = "");
#endif

std::string ReadText(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path, uint64_t offset = 0, uint64_t size = UINT64_MAX);

// Every file below a carve's output folder but the audit and run summary
// (report*.xml, report*.json, which name the folder), by its '/'-separated
// path there, with its bytes. A finished run leaves nothing else of its own.
std::map<std::string, std::vector<uint8_t>> CarvedTree(const std::string& root);

#if !defined(_WIN32)
// A tmpfs of the given size mounted at path (made if missing), to be filled
// up; unmounted when it goes. Mounted() is false where that is not allowed
// (not root), and the caller skips.
class SmallDisk {
 public:
  SmallDisk(const std::string& path, const char* size);
  ~SmallDisk();
  bool Mounted() const { return m_mounted; }
  // Remounted with room to spare (the files stay).
  bool Grow(const char* size);

 private:
  std::string m_path;
  bool m_mounted = false;
};
#endif

}  // namespace trclitest

#endif
