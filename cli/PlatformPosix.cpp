// POSIX side of the tool's platform layer (Linux).
#if !defined(_WIN32)
#include "Platform.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace trcli {
namespace platform {

int OpenForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }
int OpenForWriting(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}
int OpenForUpdate(const std::string& path) { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); }
int CreateForUpdate(const std::string& path, bool truncate) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0644);
}
bool Close(int fd) { return ::close(fd) == 0; }
int StandardInput() { return STDIN_FILENO; }

long long Read(int fd, void* data, size_t size) { return ::read(fd, data, size); }

bool WriteAll(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t done = ::write(fd, at, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

long long ReadAt(int fd, void* data, size_t size, uint64_t offset) {
  return ::pread(fd, data, size, static_cast<off_t>(offset));
}
long long WriteAt(int fd, const void* data, size_t size, uint64_t offset) {
  return ::pwrite(fd, data, size, static_cast<off_t>(offset));
}
bool FileSize(int fd, uint64_t* size) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}
bool SeekTo(int fd, uint64_t offset) { return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }
bool SeekToEnd(int fd) { return ::lseek(fd, 0, SEEK_END) >= 0; }
bool Truncate(int fd, uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }
bool Sync(int fd) { return ::fsync(fd) == 0; }
bool SyncLibraryFile(TypeRecoveryFile file) { return Sync(static_cast<int>(reinterpret_cast<intptr_t>(file))); }

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

bool TryLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }
TypeRecoveryFile LibraryFile(int fd) { return TYPERECOVERY_FILE_FROM_FD(fd); }

const uint8_t* MapIfResident(int fd, uint64_t offset, size_t size) {
  if (size == 0) return nullptr;
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset));
  if (view == MAP_FAILED) return nullptr;
  const size_t page = MapGranularity();
  std::vector<unsigned char> resident((size + page - 1) / page);
  bool all = ::mincore(view, size, resident.data()) == 0;
  for (size_t i = 0; all && i < resident.size(); ++i) all = (resident[i] & 1) != 0;
  if (!all) {
    ::munmap(view, size);
    return nullptr;
  }
#if defined(MADV_POPULATE_READ)
  // One call instead of a fault per few pages; a page that left memory
  // meanwhile and cannot be read again makes it fail (older kernels: EINVAL).
  if (::madvise(view, size, MADV_POPULATE_READ) != 0 && errno != EINVAL) {
    ::munmap(view, size);
    return nullptr;
  }
#endif
  return static_cast<const uint8_t*>(view);
}

void Unmap(const uint8_t* view, size_t size) {
  if (view != nullptr) ::munmap(const_cast<uint8_t*>(view), size);
}

size_t MapGranularity() {
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

bool Examine(int fd, SourceKind* kind, uint64_t* size) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return false;
  *size = 0;
  if (S_ISREG(info.st_mode)) {
    *kind = SourceKind::kRegularFile;
    *size = static_cast<uint64_t>(info.st_size);
  } else if (S_ISBLK(info.st_mode)) {
    *kind = SourceKind::kDevice;
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) *size = bytes;
  } else if (S_ISDIR(info.st_mode)) {
    *kind = SourceKind::kDirectory;
  } else {
    *kind = SourceKind::kStream;
  }
  return true;
}

FILE* OpenStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
FILE* StreamOf(int fd, const char* mode) { return ::fdopen(fd, mode); }

bool PathExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
bool IsFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool MakeFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (::mkdir(path.substr(0, i).c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return IsFolder(path);
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }
bool ReplaceFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool DiskFull(const std::string& folder) {
  struct statvfs info;
  return ::statvfs(folder.c_str(), &info) == 0 && info.f_bavail == 0;
}

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != 0 ? folder : "/tmp";
}
bool CanWaitForInput(int) { return true; }
bool InputReady(int fd, int waitMs) {
  struct pollfd entry = {fd, POLLIN, 0};
  return ::poll(&entry, 1, waitMs) != 0;
}
unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }
bool IsTerminal(FILE* stream) { return ::isatty(fileno(stream)) != 0; }
int TerminalColumns(FILE* stream) {
  struct winsize size;
  return ::ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}
std::string ErrorText(int error) { return std::strerror(error); }
bool SetModificationTime(const std::string& path, std::time_t when) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = when;
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}
bool UtcTime(std::time_t time, std::tm* parts) { return ::gmtime_r(&time, parts) != nullptr; }

bool GetResourceUsage(ResourceUsage* usage) {
  struct rusage used;
  if (::getrusage(RUSAGE_SELF, &used) != 0) return false;
  auto seconds = [](const struct timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  usage->userSeconds = seconds(used.ru_utime);
  usage->systemSeconds = seconds(used.ru_stime);
  usage->maxResidentKiB = static_cast<uint64_t>(used.ru_maxrss);
  usage->hasCounts = true;
  usage->minorFaults = static_cast<uint64_t>(used.ru_minflt);
  usage->majorFaults = static_cast<uint64_t>(used.ru_majflt);
  usage->swaps = static_cast<uint64_t>(used.ru_nswap);
  usage->blocksIn = static_cast<uint64_t>(used.ru_inblock);
  usage->blocksOut = static_cast<uint64_t>(used.ru_oublock);
  return true;
}

std::vector<std::string> StartProgram(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

namespace {
volatile sig_atomic_t g_stop = 0;
static_assert(sizeof(sig_atomic_t) == sizeof(int), "the reader takes the stop flag as an int");
struct sigaction g_oldInt, g_oldTerm;

extern "C" void TRStopHandler(int signal) { g_stop = signal; }
}  // namespace

// No SA_RESTART, so a read blocked on a stream returns EINTR.
StopRequests::StopRequests() {
  g_stop = 0;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = TRStopHandler;
  action.sa_flags = 0;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_oldInt);
  sigaction(SIGTERM, &action, &g_oldTerm);
}

StopRequests::~StopRequests() {
  sigaction(SIGINT, &g_oldInt, nullptr);
  sigaction(SIGTERM, &g_oldTerm, nullptr);
}

const volatile int* StopRequests::Flag() { return &g_stop; }

std::string StopRequests::Name() {
  if (g_stop == 0) return "";
  return g_stop == SIGTERM ? "SIGTERM" : "SIGINT";
}

}  // namespace platform
}  // namespace trcli

#endif
