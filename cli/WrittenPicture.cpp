// A picture record made again from a found file's bytes, by a report-mode
// pass over them.
#include "WrittenPicture.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Platform.h"
#include "StateFile.h"
#include "Text.h"
#include "typerecovery.h"

namespace trcli {
namespace {

struct Probe {
  std::string extension;
  std::optional<PictureData> picture;
  bool found = false;
};

uint32_t TRProbeFound(uintptr_t userValue, uint32_t typeFolderValue, uint32_t*, const char16_t* extension,
                      uint64_t fileStart, uint64_t, uint32_t, const tag_PictureInfo* picture) {
  Probe* probe = reinterpret_cast<Probe*>(userValue);
  if (!probe->found && fileStart == 0 && ToLower(Utf16ToUtf8(extension, 8)) == probe->extension) {
    probe->found = true;
    if (picture != nullptr && picture->size == sizeof(tag_PictureInfo)) probe->picture = FromPictureInfo(*picture);
  }
  return typeFolderValue;
}

constexpr size_t kWindow = 1u << 20;
constexpr size_t kLookahead = 64u << 10;
constexpr size_t kPadding = 16;

}  // namespace

bool PictureOfBytes(const ReadFunction& read, uint64_t start, uint64_t size, const std::string& extension,
                    const TypeSelection& selection, uint32_t block, std::optional<PictureData>* picture) {
  Probe probe;
  probe.extension = ToLower(extension);
  std::unique_ptr<CTypeRecoveryManager, void (*)(CTypeRecoveryManager*)> manager(
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&probe), &TRProbeFound, nullptr),
      [](CTypeRecoveryManager* m) { TypeRecovery_CloseManager(m); });
  if (!manager) return false;
  selection.ApplyTo(manager.get());
  // A window of strips, each with its lookahead within the file.
  std::vector<uint8_t> buffer(kWindow + kLookahead + kPadding);
  uint32_t analyseError = 0;
  for (uint64_t at = 0; at < size && !probe.found; at += kWindow) {
    const size_t have = static_cast<size_t>(std::min<uint64_t>(kWindow + kLookahead, size - at));
    if (!read(start + at, buffer.data(), have)) return false;
    std::memset(buffer.data() + have, 0, kPadding);
    for (size_t p = 0; p < std::min(kWindow, have) && !probe.found; p += block) {
      const uint32_t length = static_cast<uint32_t>(std::min<size_t>(block, have - p));
      const uint32_t lookahead = static_cast<uint32_t>(std::min(kLookahead, have - p - length));
      TypeRecovery_Analyse(manager.get(), at + p, buffer.data() + p, length, lookahead, &analyseError);
    }
  }
  if (!probe.found) TypeRecovery_Flush(manager.get());
  if (probe.found) *picture = probe.picture;
  return probe.found;
}

bool PictureOfWrittenFile(const std::string& path, const std::string& extension, const TypeSelection& selection,
                          uint32_t block, std::optional<PictureData>* picture) {
  int fd = platform::OpenForReading(path);
  uint64_t size = 0;
  if (fd < 0 || !platform::FileSize(fd, &size)) {
    if (fd >= 0) platform::Close(fd);
    return false;
  }
  const bool found = PictureOfBytes(
      [fd](uint64_t position, uint8_t* into, size_t want) { return PreadAll(fd, into, want, position); }, 0, size,
      extension, selection, block, picture);
  platform::Close(fd);
  return found;
}

}  // namespace trcli
