// Win32 backend of the platform layer: the library's UTF-16 paths with "\"
// are already Windows paths and go to the wide-character calls unchanged; a
// TypeRecoveryFile is the HANDLE itself.
#if defined(_WIN32)
#include "platform/FileSystem.h"

#include <windows.h>

// <windows.h> maps these names to their A/W variants; here they are the
// backend's own member names.
#undef DeleteFile
#undef MoveFile

namespace typerecovery {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

const wchar_t* Wide(const char16_t* path) { return reinterpret_cast<const wchar_t*>(path); }
HANDLE Handle(TypeRecoveryFile file) { return static_cast<HANDLE>(file); }

// ReadFile and WriteFile move at most a DWORD per call; one strip fits.
class Win32FileSystem final : public FileSystem {
 public:
  bool Exists(const char16_t* path) override { return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES; }
  void CreateFolder(const char16_t* path) override { ::CreateDirectoryW(Wide(path), nullptr); }
  TypeRecoveryFile CreateForWriting(const char16_t* path) override {
    HANDLE file = ::CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? TYPERECOVERY_INVALID_FILE : static_cast<TypeRecoveryFile>(file);
  }
  TypeRecoveryFile CreateNew(const char16_t* path, CreateFailure* why) override {
    HANDLE file = ::CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      *why = CreateFailure::kNone;
      return static_cast<TypeRecoveryFile>(file);
    }
    const DWORD error = ::GetLastError();
    *why = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateFailure::kExists
           : error == ERROR_PATH_NOT_FOUND                             ? CreateFailure::kNoFolder
                                                                       : CreateFailure::kOther;
    return TYPERECOVERY_INVALID_FILE;
  }
  bool Write(TypeRecoveryFile file, const void* data, uint32_t size, uint32_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(data);
    while (*done < size) {
      DWORD n = 0;
      if (!::WriteFile(Handle(file), p + *done, size - *done, &n, nullptr) || n == 0) return false;
      *done += n;
    }
    return true;
  }
  bool Read(TypeRecoveryFile file, void* data, uint32_t size, uint32_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(data);
    while (*done < size) {
      DWORD n = 0;
      if (!::ReadFile(Handle(file), p + *done, size - *done, &n, nullptr)) return false;
      if (n == 0) break;
      *done += n;
    }
    return true;
  }
  bool SizeOf(TypeRecoveryFile file, uint64_t* size) override {
    LARGE_INTEGER bytes;
    if (!::GetFileSizeEx(Handle(file), &bytes)) return false;
    *size = static_cast<uint64_t>(bytes.QuadPart);
    return true;
  }
  void Close(TypeRecoveryFile file) override { ::CloseHandle(Handle(file)); }
  void DeleteFile(const char16_t* path) override { ::DeleteFileW(Wide(path)); }
  // Without MOVEFILE_REPLACE_EXISTING the move never replaces a file.
  void MoveFile(const char16_t* from, const char16_t* to) override { ::MoveFileExW(Wide(from), Wide(to), 0); }
  bool MoveToNew(const char16_t* from, const char16_t* to, CreateFailure* why) override {
    if (::MoveFileExW(Wide(from), Wide(to), 0)) {
      *why = CreateFailure::kNone;
      return true;
    }
    const DWORD error = ::GetLastError();
    *why = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? CreateFailure::kExists
           : error == ERROR_PATH_NOT_FOUND                             ? CreateFailure::kNoFolder
                                                                       : CreateFailure::kOther;
    return false;
  }
  void RemoveEmptyFolder(const char16_t* path) override { ::RemoveDirectoryW(Wide(path)); }
};

}  // namespace

FileSystem& NativeFileSystem() {
  static Win32FileSystem native;
  return native;
}

}  // namespace typerecovery

#endif
