// POSIX backend of the platform layer: UTF-16 paths with "\" become UTF-8
// paths with "/"; a TypeRecoveryFile carries a file descriptor.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/FileSystem.h"

namespace typerecovery {
namespace {

std::string ToNativePath(const char16_t* path) {
  std::string out;
  for (const char16_t* p = path; *p != 0; ++p) {
    uint32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(p[1]) - 0xDC00);
      ++p;
    }
    if (c == u'\\') {
      out.push_back('/');
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      // A lone low surrogate stands for a byte of a path that is not UTF-8.
      out.push_back(static_cast<char>(c - 0xDC00));
    } else if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

FileSystem::CreateFailure FailureOf(int error) {
  return error == EEXIST || error == ENOTEMPTY ? FileSystem::CreateFailure::kExists
         : error == ENOENT                     ? FileSystem::CreateFailure::kNoFolder
                                               : FileSystem::CreateFailure::kOther;
}

int Fd(TypeRecoveryFile file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)); }

class PosixFileSystem final : public FileSystem {
 public:
  bool Exists(const char16_t* path) override {
    struct stat st;
    return ::stat(ToNativePath(path).c_str(), &st) == 0;
  }
  void CreateFolder(const char16_t* path) override { ::mkdir(ToNativePath(path).c_str(), 0777); }
  TypeRecoveryFile CreateForWriting(const char16_t* path) override {
    int fd = ::open(ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? TYPERECOVERY_INVALID_FILE : TYPERECOVERY_FILE_FROM_FD(fd);
  }
  TypeRecoveryFile CreateNew(const char16_t* path, CreateFailure* why) override {
    int fd = ::open(ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *why = CreateFailure::kNone;
      return TYPERECOVERY_FILE_FROM_FD(fd);
    }
    *why = FailureOf(errno);
    return TYPERECOVERY_INVALID_FILE;
  }
  bool Write(TypeRecoveryFile file, const void* data, uint32_t size, uint32_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(data);
    while (*done < size) {
      ssize_t n = ::write(Fd(file), p + *done, size - *done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      *done += static_cast<uint32_t>(n);
    }
    return true;
  }
  bool Read(TypeRecoveryFile file, void* data, uint32_t size, uint32_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(data);
    while (*done < size) {
      ssize_t n = ::read(Fd(file), p + *done, size - *done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      *done += static_cast<uint32_t>(n);
    }
    return true;
  }
  bool SizeOf(TypeRecoveryFile file, uint64_t* size) override {
    struct stat st;
    if (::fstat(Fd(file), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }
  void Close(TypeRecoveryFile file) override { ::close(Fd(file)); }
  void DeleteFile(const char16_t* path) override { ::unlink(ToNativePath(path).c_str()); }
  void MoveFile(const char16_t* from, const char16_t* to) override {
    // Like the Windows move: never replaces an existing file.
    std::string target = ToNativePath(to);
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) return;
    std::rename(ToNativePath(from).c_str(), target.c_str());
  }
  bool MoveToNew(const char16_t* from, const char16_t* to, CreateFailure* why) override {
    const std::string source = ToNativePath(from);
    const std::string target = ToNativePath(to);
#if defined(RENAME_NOREPLACE)
    // One call that refuses a taken name; file systems without it say EINVAL.
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      *why = CreateFailure::kNone;
      return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
      *why = FailureOf(errno);
      return false;
    }
#endif
    struct stat st;
    if (::stat(target.c_str(), &st) == 0) {
      *why = CreateFailure::kExists;
      return false;
    }
    if (std::rename(source.c_str(), target.c_str()) == 0) {
      *why = CreateFailure::kNone;
      return true;
    }
    *why = FailureOf(errno);
    return false;
  }
  void RemoveEmptyFolder(const char16_t* path) override { ::rmdir(ToNativePath(path).c_str()); }
};

}  // namespace

FileSystem& NativeFileSystem() {
  static PosixFileSystem native;
  return native;
}

}  // namespace typerecovery

#endif
