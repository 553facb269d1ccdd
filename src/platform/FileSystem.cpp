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

bool WriteAll(TypeRecoveryFile file, const void* data, uint32_t size) {
  uint32_t done = 0;
  return CurrentFileSystem().Write(file, data, size, &done) && done == size;
}

bool ReadAll(TypeRecoveryFile file, void* data, uint32_t size) {
  uint32_t done = 0;
  return CurrentFileSystem().Read(file, data, size, &done) && done == size;
}

}  // namespace typerecovery
