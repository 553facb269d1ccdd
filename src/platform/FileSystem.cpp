// The backend switch and the exact-size helpers, the same on every platform.
#include "platform/FileSystem.h"

namespace typerecovery {
namespace {
FileSystem* g_installed = nullptr;  // null: the native backend
}  // namespace

FileSystem& CurrentFileSystem() { return g_installed != nullptr ? *g_installed : NativeFileSystem(); }

FileSystem* SetFileSystem(FileSystem* fileSystem) {
  FileSystem* previous = &CurrentFileSystem();
  g_installed = fileSystem;
  return previous;
}

TypeRecoveryFile FileSystem::CreateNew(const char16_t* path, CreateFailure* why) {
  if (Exists(path)) {
    *why = CreateFailure::kExists;
    return TYPERECOVERY_INVALID_FILE;
  }
  TypeRecoveryFile file = CreateForWriting(path);
  // Without the platform's answer a failure is taken for a missing folder:
  // the caller makes it and tries once more.
  *why = file == TYPERECOVERY_INVALID_FILE ? CreateFailure::kNoFolder : CreateFailure::kNone;
  return file;
}

bool FileSystem::MoveToNew(const char16_t* from, const char16_t* to, CreateFailure* why) {
  if (Exists(to)) {
    *why = CreateFailure::kExists;
    return false;
  }
  MoveFile(from, to);
  const bool moved = Exists(to) && !Exists(from);
  *why = moved ? CreateFailure::kNone : CreateFailure::kNoFolder;
  return moved;
}

bool WriteAll(TypeRecoveryFile file, const void* data, uint32_t size) {
  uint32_t done = 0;
  return CurrentFileSystem().Write(file, data, size, &done) && done == size;
}

bool ReadAll(TypeRecoveryFile file, void* data, uint32_t size) {
  uint32_t done = 0;
  return CurrentFileSystem().Read(file, data, size, &done) && done == size;
}

}  // namespace typerecovery
