// A failing disk for the tool's tests, preloaded into the tool: reads of the
// file named by TR_TEST_BAD_FILE fail with EIO where they touch a region of
// TR_TEST_BAD_REGIONS ("offset+length,..."), the whole read, as a disk
// fails a request with one bad sector in it. TR_TEST_STOP_AT makes the
// first sequential read (read, not pread) at or past that offset send the
// process SIGINT first: a Ctrl-C at a known place of the scan. The file is
// never viewed (mmap fails), so every byte of it comes through these reads.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Region {
  uint64_t offset, length;
};

Region g_regions[16];
int g_count = -1;
dev_t g_device;
ino_t g_inode;
bool g_have = false;
uint64_t g_stopAt = UINT64_MAX;

void Load() {
  if (g_count >= 0) return;
  g_count = 0;
  struct stat info;
  const char* file = std::getenv("TR_TEST_BAD_FILE");
  if (file != nullptr && ::stat(file, &info) == 0) {
    g_device = info.st_dev;
    g_inode = info.st_ino;
    g_have = true;
  }
  if (const char* stop = std::getenv("TR_TEST_STOP_AT")) g_stopAt = std::strtoull(stop, nullptr, 10);
  const char* list = std::getenv("TR_TEST_BAD_REGIONS");
  while (list != nullptr && *list != 0 && g_count < 16) {
    char* end = nullptr;
    uint64_t offset = std::strtoull(list, &end, 10);
    if (*end != '+') break;
    uint64_t length = std::strtoull(end + 1, &end, 10);
    g_regions[g_count++] = {offset, length};
    list = *end == ',' ? end + 1 : end;
  }
}

bool Watched(int fd) {
  Load();
  struct stat info;
  return g_have && ::fstat(fd, &info) == 0 && info.st_dev == g_device && info.st_ino == g_inode;
}

// False when the read touches a bad region.
bool Readable(uint64_t position, size_t size, bool sequential) {
  if (sequential && position >= g_stopAt) {
    g_stopAt = UINT64_MAX;
    ::kill(::getpid(), SIGINT);
  }
  for (int i = 0; i < g_count; ++i) {
    const Region& r = g_regions[i];
    if (r.offset < position + size && position < r.offset + r.length) return false;
  }
  return true;
}

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t read(int fd, void* into, size_t size) {
  static auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
  if (size == 0 || !Watched(fd)) return real(fd, into, size);
  off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position >= 0 && !Readable(static_cast<uint64_t>(position), size, true)) {
    errno = EIO;
    return -1;
  }
  return real(fd, into, size);
}

extern "C" ssize_t pread(int fd, void* into, size_t size, off_t position) {
  static auto real = Next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
  if (size == 0 || !Watched(fd)) return real(fd, into, size, position);
  if (!Readable(static_cast<uint64_t>(position), size, false)) {
    errno = EIO;
    return -1;
  }
  return real(fd, into, size, position);
}

extern "C" ssize_t pread64(int fd, void* into, size_t size, off_t position) { return pread(fd, into, size, position); }

// A failing disk's pages are never all in memory: the tool cannot view the
// file and reads it, as it would from such a disk.
extern "C" void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  static auto real = Next<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
  if (fd >= 0 && Watched(fd)) {
    errno = ENODEV;
    return MAP_FAILED;
  }
  return real(address, length, protection, flags, fd, offset);
}

extern "C" void* mmap64(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  return mmap(address, length, protection, flags, fd, offset);
}
