// The library's only door to the file system: exactly the operations it uses
// for output files, output folders and the progress file. Paths are UTF-16
// with "\" as the separator, as the library builds them; each backend turns
// them into its platform's form at this boundary.
//
// The current backend is process-wide. Tests may install their own (to make
// writes fail, for example) and must put the previous one back.
#ifndef TYPERECOVERY_PLATFORM_FILESYSTEM_H
#define TYPERECOVERY_PLATFORM_FILESYSTEM_H

#include <cstdint>

#include "typerecovery.h"

namespace typerecovery {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual bool Exists(const char16_t* path) = 0;
  virtual void CreateFolder(const char16_t* path) = 0;
  // Creates or truncates a file for writing; TYPERECOVERY_INVALID_FILE on failure.
  virtual TypeRecoveryFile CreateForWriting(const char16_t* path) = 0;
  // Creates a file that does not exist yet, in one call: never replaces one.
  // On failure *why tells whether the name was taken or its folder missing.
  // The native backends answer with one system call; the default does it
  // with Exists and CreateForWriting, for backends that have no such call.
  enum class CreateFailure { kNone, kExists, kNoFolder, kOther };
  virtual TypeRecoveryFile CreateNew(const char16_t* path, CreateFailure* why);
  // Moves a file to a name that does not exist yet, never replacing one;
  // false with *why set as for CreateNew when it did not move.
  virtual bool MoveToNew(const char16_t* from, const char16_t* to, CreateFailure* why);
  // Both answer false on an error; *done receives the bytes moved.
  virtual bool Write(TypeRecoveryFile file, const void* data, uint32_t size, uint32_t* done) = 0;
  virtual bool Read(TypeRecoveryFile file, void* data, uint32_t size, uint32_t* done) = 0;
  virtual bool SizeOf(TypeRecoveryFile file, uint64_t* size) = 0;
  virtual void Close(TypeRecoveryFile file) = 0;
  virtual void DeleteFile(const char16_t* path) = 0;
  virtual void MoveFile(const char16_t* from, const char16_t* to) = 0;
  virtual void RemoveEmptyFolder(const char16_t* path) = 0;
};

// The platform's own backend (POSIX or Win32), built into the library.
FileSystem& NativeFileSystem();
FileSystem& CurrentFileSystem();
// Installs a backend (null restores the native one); returns the previous one.
FileSystem* SetFileSystem(FileSystem* fileSystem);

// Writes or reads exactly size bytes at the handle's current position.
bool WriteAll(TypeRecoveryFile file, const void* data, uint32_t size);
bool ReadAll(TypeRecoveryFile file, void* data, uint32_t size);

}  // namespace typerecovery

#endif
