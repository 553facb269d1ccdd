// Feeds random sources through the library as strips of random lengths and
// lookaheads, with every type added, in report mode and in folder mode.
//
// Input layout: byte 0 picks the mode and the strip pattern; the rest is the
// source. Strip lengths and lookaheads are drawn from a small generator
// seeded by the first bytes, so one input always replays the same way.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "typerecovery.h"

namespace {

uint32_t Found(uintptr_t, uint32_t folder, uint32_t* counter, const char16_t* extension,
               uint64_t, uint64_t, uint32_t, const tag_PictureInfo* picture) {
  // Touch what a host would read, so the sanitizers check it.
  volatile uint32_t sink = *counter + extension[0];
  if (picture != nullptr) sink += picture->size + picture->make[0];
  (void)sink;
  return folder + 1;
}

void RemoveTree(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::string child = path + "/" + e->d_name;
    struct stat st;
    if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      RemoveTree(child);
      ::rmdir(child.c_str());
    } else {
      ::unlink(child.c_str());
    }
  }
  ::closedir(dir);
}

const std::string& OutputRoot() {
  static std::string root = [] {
    char tmpl[] = "/tmp/typerecovery-fuzz-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    return std::string(made != nullptr ? made : "/tmp/typerecovery-fuzz");
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t control = data[0];
  const uint8_t* source = data + 1;
  const size_t sourceSize = size - 1;

  const bool folderMode = (control & 1) != 0;
  CTypeRecoveryManager* m;
  if (folderMode) {
    std::u16string root(OutputRoot().begin(), OutputRoot().end());
    m = TypeRecovery_CreateManager(0, nullptr, root.c_str());
  } else {
    m = TypeRecovery_CreateManager(1, Found, nullptr);
  }
  TypeRecovery_AddAllTypes(m);
  if (control & 2) TypeRecovery_SetRestrictedSize(m, 4096);

  uint32_t state = 0x9E3779B9u ^ control;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  std::vector<uint8_t> buffer;
  uint32_t error = 0;
  size_t position = 0;
  while (position < sourceSize) {
    // Mostly sector-sized strips, sometimes odd ones; lookahead 0 to the rest.
    static const uint32_t kLengths[] = {512, 512, 1024, 4096, 16, 1, 17, 300};
    uint32_t length = kLengths[next() % 8];
    if (length > sourceSize - position) length = static_cast<uint32_t>(sourceSize - position);
    const size_t rest = sourceSize - position - length;
    uint32_t lookahead = (control & 4) ? static_cast<uint32_t>(rest) : next() % 600;
    if (lookahead > rest) lookahead = static_cast<uint32_t>(rest);
    // An exact-size copy so that the sanitizers see any read past the end.
    const size_t held = length + lookahead < 16 ? 16 : length + lookahead;
    buffer.assign(held, 0);
    std::memcpy(buffer.data(), source + position, length + lookahead);
    TypeRecovery_Analyse(m, position, buffer.data(), length, lookahead, &error);
    error = 0;
    position += length;
  }
  TypeRecovery_Flush(m);
  TypeRecovery_CloseManager(m);
  if (folderMode) RemoveTree(OutputRoot());
  return 0;
}
