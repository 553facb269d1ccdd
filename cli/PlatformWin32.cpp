// Windows side of the tool's platform layer: wide-character calls for every
// path, 64-bit offsets, binary descriptors, the console's Ctrl events.
#if defined(_WIN32)
#include "Platform.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

// <windows.h> maps this name to ReplaceFileW; here it is our own function.
#undef ReplaceFile

#include "Text.h"

namespace trcli {
namespace platform {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string Narrow(const wchar_t* wide) {
  std::u16string units;
  for (; *wide != 0; ++wide) units.push_back(static_cast<char16_t>(*wide));
  return Utf16ToUtf8(units.c_str(), units.size());
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// errno for the last Win32 error, for messages through ErrorText.
void SetErrnoFromWin32() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_OPERATION_ABORTED: errno = EINTR; break;
    default: errno = EIO; break;
  }
}

// CreateFileW rather than _wopen: shared for deleting too, so a file still
// open here (the lock note, a journal) can be removed as on POSIX. The handle
// is not inherited by child processes.
int Open(const std::string& path, DWORD access, DWORD disposition, int flags) {
  HANDLE handle = ::CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetErrnoFromWin32();
    return -1;
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) ::CloseHandle(handle);
  return fd;
}

}  // namespace

int OpenForReading(const std::string& path) { return Open(path, GENERIC_READ, OPEN_EXISTING, _O_RDONLY); }
int OpenForWriting(const std::string& path) { return Open(path, GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY); }
int OpenForUpdate(const std::string& path) {
  return Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, _O_RDWR);
}
int CreateForUpdate(const std::string& path, bool truncate) {
  return Open(path, GENERIC_READ | GENERIC_WRITE, truncate ? CREATE_ALWAYS : OPEN_ALWAYS, _O_RDWR);
}
bool Close(int fd) { return ::_close(fd) == 0; }
int StandardInput() { return 0; }

// ReadFile rather than _read: a console or pipe read that a Ctrl event
// cancels (CancelSynchronousIo) must come back as EINTR.
long long Read(int fd, void* data, size_t size) {
  HANDLE handle = HandleOf(fd);
  DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  DWORD got = 0;
  if (::ReadFile(handle, data, want, &got, nullptr)) return got;
  DWORD error = ::GetLastError();
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
  SetErrnoFromWin32();
  if (*StopRequests::Flag() != 0) errno = EINTR;
  return -1;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    int done = ::_write(fd, at, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
    if (done <= 0) return false;
    at += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

namespace {

// A read or write at an offset. An OVERLAPPED offset also moves a
// synchronous handle's file pointer: it is put back, so the sequential reads
// of the same descriptor go on unaffected. The end of the file reads as 0.
template <typename Transfer>
long long AtOffset(int fd, uint64_t offset, Transfer transfer) {
  HANDLE handle = HandleOf(fd);
  LARGE_INTEGER zero{}, position{};
  if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) {
    SetErrnoFromWin32();
    return -1;
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD done = 0;
  BOOL ok = transfer(handle, &done, &at);
  DWORD error = ::GetLastError();
  ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
  if (ok) return done;
  if (error == ERROR_HANDLE_EOF) return 0;
  ::SetLastError(error);
  SetErrnoFromWin32();
  return -1;
}

DWORD Piece(size_t size) { return static_cast<DWORD>(std::min<size_t>(size, 1u << 30)); }

}  // namespace

long long ReadAt(int fd, void* data, size_t size, uint64_t offset) {
  return AtOffset(fd, offset, [&](HANDLE handle, DWORD* done, OVERLAPPED* at) {
    return ::ReadFile(handle, data, Piece(size), done, at);
  });
}

long long WriteAt(int fd, const void* data, size_t size, uint64_t offset) {
  return AtOffset(fd, offset, [&](HANDLE handle, DWORD* done, OVERLAPPED* at) {
    return ::WriteFile(handle, data, Piece(size), done, at);
  });
}

bool FileSize(int fd, uint64_t* size) {
  LARGE_INTEGER bytes;
  if (!::GetFileSizeEx(HandleOf(fd), &bytes)) {
    SetErrnoFromWin32();
    return false;
  }
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return true;
}

bool SeekTo(int fd, uint64_t offset) { return ::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) >= 0; }
bool SeekToEnd(int fd) { return ::_lseeki64(fd, 0, SEEK_END) >= 0; }

bool Truncate(int fd, uint64_t size) {
  HANDLE handle = HandleOf(fd);
  LARGE_INTEGER end, position;
  end.QuadPart = static_cast<LONGLONG>(size);
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(handle, zero, &position, FILE_CURRENT) ||
      !::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle)) {
    SetErrnoFromWin32();
    return false;
  }
  return ::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) != 0;
}

bool CanWaitForInput(int fd) { return ::GetFileType(HandleOf(fd)) == FILE_TYPE_PIPE; }
bool InputReady(int fd, int waitMs) {
  // A pipe says how much it holds; anything else (a console, a file) is
  // taken as ready, so no state is saved before its reads.
  HANDLE handle = HandleOf(fd);
  if (::GetFileType(handle) != FILE_TYPE_PIPE) return true;
  for (int round = 0;; ++round) {
    DWORD available = 0;
    if (::PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) == 0 || available > 0) return true;
    if (round * 10 >= waitMs) return false;
    ::Sleep(10);
  }
}
bool Sync(int fd) { return ::_commit(fd) == 0; }
bool SyncLibraryFile(TypeRecoveryFile file) { return ::FlushFileBuffers(static_cast<HANDLE>(file)) != 0; }

// Nothing to do: a folder cannot be flushed through a handle an ordinary
// user may open, and the renames that matter (ReplaceFile) already wait
// until the move is on the disk (MOVEFILE_WRITE_THROUGH).
void SyncFolder(const std::string&) {}

// A lock on one byte far beyond any data, not on the contents: a Windows
// lock bars others from the bytes it covers, and a second run must still
// read who holds the output.
bool TryLock(int fd) {
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFEu;
  at.OffsetHigh = 0x7FFFFFFFu;
  if (::LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
  SetErrnoFromWin32();
  return false;
}
TypeRecoveryFile LibraryFile(int fd) { return TYPERECOVERY_FILE_FROM_FD(fd); }

// A disk or volume (\\.\PhysicalDrive0, \\.\C:) answers the length query;
// a file of a file system has a size; pipes and consoles are streams.
// Views of files are not used here: the scan reads.
const uint8_t* MapIfResident(int, uint64_t, size_t) { return nullptr; }
void Unmap(const uint8_t*, size_t) {}
size_t MapGranularity() { return 65536; }

bool Examine(int fd, SourceKind* kind, uint64_t* size) {
  HANDLE handle = HandleOf(fd);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return false;
  }
  *size = 0;
  GET_LENGTH_INFORMATION length;
  DWORD returned = 0;
  if (::DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                        nullptr)) {
    *kind = SourceKind::kDevice;
    *size = static_cast<uint64_t>(length.Length.QuadPart);
    return true;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    *kind = SourceKind::kStream;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileInformationByHandle(handle, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *kind = SourceKind::kDirectory;
    return true;
  }
  LARGE_INTEGER bytes;
  if (!::GetFileSizeEx(handle, &bytes)) {
    SetErrnoFromWin32();
    return false;
  }
  *kind = SourceKind::kRegularFile;
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return true;
}

FILE* OpenStream(const std::string& path, const char* mode) {
  // Always binary: the reports carry "\n" line ends on every system.
  std::wstring wideMode = Wide(mode);
  if (wideMode.find(L'b') == std::wstring::npos) wideMode += L'b';
  wideMode += L'N';  // not inherited
  return ::_wfopen(Wide(path).c_str(), wideMode.c_str());
}

FILE* StreamOf(int fd, const char* mode) {
  std::string binary = mode;
  if (binary.find('b') == std::string::npos) binary += 'b';
  return ::_fdopen(fd, binary.c_str());
}

bool PathExists(const std::string& path) {
  if (::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  SetErrnoFromWin32();
  return false;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Either separator; the parts of a path that are no folder of their own
// ("C:", "\\server") simply fail to be created on the way.
bool MakeFolders(const std::string& path) {
  DWORD lastError = ERROR_PATH_NOT_FOUND;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i != path.size() && path[i] != '/' && path[i] != '\\') continue;
    std::string partial = path.substr(0, i);
    if (IsFolder(partial)) continue;
    if (!::CreateDirectoryW(Wide(partial).c_str(), nullptr)) lastError = ::GetLastError();
  }
  if (IsFolder(path)) return true;
  ::SetLastError(lastError);
  SetErrnoFromWin32();
  return false;
}

bool RemoveFile(const std::string& path) {
  if (::DeleteFileW(Wide(path).c_str())) return true;
  SetErrnoFromWin32();
  return false;
}

// rename() on Windows never replaces; MoveFileEx does when asked to, in
// one step on the same volume.
bool ReplaceFile(const std::string& from, const std::string& to) {
  if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  SetErrnoFromWin32();
  return false;
}

bool DiskFull(const std::string& folder) {
  ULARGE_INTEGER available;
  return ::GetDiskFreeSpaceExW(Wide(folder).c_str(), &available, nullptr, nullptr) && available.QuadPart == 0;
}

std::string TemporaryFolder() {
  wchar_t folder[MAX_PATH + 2];
  DWORD length = ::GetTempPathW(MAX_PATH + 2, folder);
  if (length == 0 || length > MAX_PATH + 1) return ".";
  while (length > 1 && (folder[length - 1] == L'\\' || folder[length - 1] == L'/')) folder[--length] = 0;
  return Narrow(folder);
}

unsigned long ProcessId() { return ::GetCurrentProcessId(); }
bool IsTerminal(FILE* stream) { return ::_isatty(_fileno(stream)) != 0; }

int TerminalColumns(FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(HandleOf(_fileno(stream)), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string ErrorText(int error) { return std::strerror(error); }
// A FILETIME counts 100 ns from 1601; time_t seconds from 1970.
bool SetModificationTime(const std::string& path, std::time_t when) {
  HANDLE handle = ::CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetErrnoFromWin32();
    return false;
  }
  const uint64_t ticks = (static_cast<uint64_t>(when) + 11644473600ull) * 10000000ull;
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(ticks);
  written.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  const bool ok = ::SetFileTime(handle, nullptr, nullptr, &written) != 0;
  if (!ok) SetErrnoFromWin32();
  ::CloseHandle(handle);
  return ok;
}
bool UtcTime(std::time_t time, std::tm* parts) { return ::gmtime_s(parts, &time) == 0; }

bool GetResourceUsage(ResourceUsage* usage) {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return false;
  auto seconds = [](const FILETIME& t) {  // 100 ns units
    return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  usage->userSeconds = seconds(user);
  usage->systemSeconds = seconds(kernel);
  PROCESS_MEMORY_COUNTERS memory{};
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory))
    usage->maxResidentKiB = static_cast<uint64_t>(memory.PeakWorkingSetSize) / 1024;
  usage->hasCounts = false;
  return true;
}

std::vector<std::string> StartProgram(int argc, char** argv) {
  ::_setmode(0, _O_BINARY);
  ::_setmode(1, _O_BINARY);
  ::_setmode(2, _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> words;
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  for (int i = 0; i < count; ++i) words.push_back(Narrow(wide[i]));
  ::LocalFree(wide);
  return words;
}

namespace {
volatile int g_stop = 0;
DWORD g_event = 0;
HANDLE g_mainThread = nullptr;

// Runs on a thread of its own. Ctrl-C and Ctrl-Break stop the run like
// SIGINT; closing the console, logging off or shutting down like SIGTERM,
// and the system ends the process a few seconds after this returns, so it
// waits that long for the state to be saved. Further events change
// nothing while the first is being handled.
BOOL WINAPI StopHandler(DWORD event) {
  if (g_stop != 0) return TRUE;
  g_event = event;
  g_stop = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 2 : 15;
  if (g_mainThread != nullptr) ::CancelSynchronousIo(g_mainThread);
  if (g_stop == 15) ::Sleep(4500);
  return TRUE;
}
}  // namespace

StopRequests::StopRequests() {
  g_stop = 0;
  g_event = 0;
  ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &g_mainThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  ::SetConsoleCtrlHandler(StopHandler, TRUE);
}

StopRequests::~StopRequests() {
  ::SetConsoleCtrlHandler(StopHandler, FALSE);
  if (g_mainThread != nullptr) ::CloseHandle(g_mainThread);
  g_mainThread = nullptr;
}

const volatile int* StopRequests::Flag() { return &g_stop; }

std::string StopRequests::Name() {
  if (g_stop == 0) return "";
  switch (g_event) {
    case CTRL_C_EVENT: return "Ctrl-C";
    case CTRL_BREAK_EVENT: return "Ctrl-Break";
    case CTRL_CLOSE_EVENT: return "closing the console";
    default: return "the end of the session";
  }
}

}  // namespace platform
}  // namespace trcli

#endif
