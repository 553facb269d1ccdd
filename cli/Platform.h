// The tool's door to the operating system, for the few things POSIX and
// Windows do differently: opening files by path, positioned reads, 64-bit
// offsets, device sizes, replacing renames, the disk-full test, the stop
// request (SIGINT/SIGTERM, or the console's Ctrl events), binary standard
// streams and the command line.
//
// Paths are UTF-8 on both systems; on Windows they become wide-character
// calls here, so a name in any language works whatever the ANSI code page.
// Files are C runtime descriptors on both systems (binary, never inherited
// by child processes). Functions answer -1 or false on failure with errno
// set, like the POSIX calls they stand for.
#ifndef TYPERECOVERY_CLI_PLATFORM_H
#define TYPERECOVERY_CLI_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "typerecovery.h"

namespace trcli {
namespace platform {

int OpenForReading(const std::string& path);
// Creates or truncates.
int OpenForWriting(const std::string& path);
// An existing file, for reading and writing.
int OpenForUpdate(const std::string& path);
// For reading and writing, created when missing; emptied when truncate.
int CreateForUpdate(const std::string& path, bool truncate);
// False when the last writes could not be completed.
bool Close(int fd);
int StandardInput();

// Plain read at the current position; -1 with errno EINTR when a stop
// request cut it short.
long long Read(int fd, void* data, size_t size);
// True when a read of the stream would not wait: data, its end or an error
// is there, now or within waitMs milliseconds (a signal may end the wait
// early).
bool InputReady(int fd, int waitMs = 0);
// True when InputReady tells of the stream (so a read made only after it
// never waits long): any stream on POSIX, a pipe on Windows.
bool CanWaitForInput(int fd);
// Writes everything (retrying short writes); false on an error.
bool WriteAll(int fd, const void* data, size_t size);
// Reads or writes at an absolute offset without moving the descriptor's
// position.
long long ReadAt(int fd, void* data, size_t size, uint64_t offset);
long long WriteAt(int fd, const void* data, size_t size, uint64_t offset);
// The length of an open file.
bool FileSize(int fd, uint64_t* size);
bool SeekTo(int fd, uint64_t offset);
bool SeekToEnd(int fd);
bool Truncate(int fd, uint64_t size);
// Flushes the file's data to the disk.
bool Sync(int fd);
bool SyncLibraryFile(TypeRecoveryFile file);
// Makes the names last created, renamed or removed in the folder durable.
void SyncFolder(const std::string& folder);
// An exclusive lock on the whole open file, without waiting; false when
// another process holds it. It ends when the descriptor is closed or the
// process ends, however it ends. Other processes can still read the file.
bool TryLock(int fd);
// The handle the library takes for this descriptor.
TypeRecoveryFile LibraryFile(int fd);

enum class SourceKind { kRegularFile, kDevice, kDirectory, kStream };
// What the descriptor is, and its size for files and devices (0 when the
// device does not tell).
bool Examine(int fd, SourceKind* kind, uint64_t* size);

// A read-only view of size bytes of a regular file from offset (a multiple
// of MapGranularity()), given only when every byte of it is in memory
// already: then no access to it can fail or wait for the disk, and the scan
// reads it without a copy. Null otherwise (and on systems without views),
// and the caller reads as usual.
const uint8_t* MapIfResident(int fd, uint64_t offset, size_t size);
void Unmap(const uint8_t* view, size_t size);
size_t MapGranularity();

FILE* OpenStream(const std::string& path, const char* mode);
// A stream over a descriptor (takes ownership).
FILE* StreamOf(int fd, const char* mode);

bool PathExists(const std::string& path);
bool IsFolder(const std::string& path);
bool IsRegularFile(const std::string& path);
// Creates the folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);
// Also a file still open here (on Windows it goes when the last
// descriptor is closed).
bool RemoveFile(const std::string& path);
// Renames, replacing a file already at the target.
bool ReplaceFile(const std::string& from, const std::string& to);
// True when the volume holding the folder has no space left for us.
bool DiskFull(const std::string& folder);
// A folder for files that must not go to the output disk.
std::string TemporaryFolder();
unsigned long ProcessId();
bool IsTerminal(FILE* stream);
// Columns of the terminal behind the stream, 0 when unknown.
int TerminalColumns(FILE* stream);
std::string ErrorText(int error);
// Sets the file's time of last change, leaving its time of last access.
bool SetModificationTime(const std::string& path, std::time_t when);
// The calendar time in UTC, thread-safe.
bool UtcTime(std::time_t time, std::tm* parts);

// What the process has used so far. Windows counts no page faults apart
// from the total, no swaps and no block operations: hasCounts is false there.
struct ResourceUsage {
  double userSeconds = 0, systemSeconds = 0;
  uint64_t maxResidentKiB = 0;
  bool hasCounts = false;
  uint64_t minorFaults = 0, majorFaults = 0, swaps = 0, blocksIn = 0, blocksOut = 0;
};
bool GetResourceUsage(ResourceUsage* usage);

// The command line as UTF-8 words (on Windows read back as wide characters:
// the narrow argv holds only what the ANSI code page can show). Also puts
// the standard streams in binary mode, so reports are byte for byte the
// same on both systems, and the console in UTF-8.
std::vector<std::string> StartProgram(int argc, char** argv);

// While it lives, SIGINT and SIGTERM (on Windows: Ctrl-C, Ctrl-Break and
// closing the console) ask the run to stop after the current strip: Flag()
// becomes non-zero and a read blocked on a stream gives up. Further
// requests change nothing, so the state being saved is saved whole (SIGKILL
// or ending the process from outside still ends it at once).
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;
  static const volatile int* Flag();
  // "SIGINT", "SIGTERM", "Ctrl-C", ...; empty while no stop was asked.
  static std::string Name();
};

}  // namespace platform
}  // namespace trcli

#endif
