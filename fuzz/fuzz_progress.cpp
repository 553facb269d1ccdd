// Loads random bytes as a progress file into a manager with every type
// added, then lets the loaded recognizers see a few strips, saves again and
// flushes: a hostile progress file must neither crash nor leak.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "typerecovery.h"

namespace {
uint32_t Found(uintptr_t, uint32_t folder, uint32_t*, const char16_t*, uint64_t, uint64_t, uint32_t,
               const tag_PictureInfo*) {
  return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = ::memfd_create("progress", 0);
  if (fd < 0) return 0;
  if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
    ::close(fd);
    return 0;
  }
  ::lseek(fd, 0, SEEK_SET);
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, Found, nullptr);
  TypeRecovery_AddAllTypes(m);
  TypeRecovery_LoadProgress(m, TYPERECOVERY_FILE_FROM_FD(fd));

  std::vector<uint8_t> strip(1024);
  for (size_t i = 0; i < strip.size(); ++i) strip[i] = size ? data[i % size] : 0;
  uint32_t error = 0;
  for (uint64_t k = 0; k < 3; ++k) TypeRecovery_Analyse(m, k * 512, strip.data(), 512, 512, &error);
  ::lseek(fd, 0, SEEK_SET);
  TypeRecovery_SaveProgress(m, TYPERECOVERY_FILE_FROM_FD(fd));
  TypeRecovery_Flush(m);
  TypeRecovery_CloseManager(m);
  ::close(fd);
  return 0;
}
