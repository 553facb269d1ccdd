#include "formats/document/DocumentCarving.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace doctest {

namespace {

void Feed(CTypeRecoveryManager* m, const std::vector<uint8_t>& image, size_t from, size_t to,
          uint32_t strip, uint32_t lookahead) {
  uint32_t error = 0;
  for (size_t pos = from; pos < to; pos += strip) {
    const size_t length = std::min<size_t>(strip, image.size() - pos);
    const size_t ahead = std::min<size_t>(lookahead, image.size() - pos - length);
    TypeRecovery_Analyse(m, pos, image.data() + pos, static_cast<uint32_t>(length),
                         static_cast<uint32_t>(ahead), &error);
  }
}

}  // namespace

std::vector<trtest::Report> ResumeRun(const std::vector<AddedType>& types,
                                      const std::vector<uint8_t>& image, size_t splitAt,
                                      uint32_t strip, uint32_t lookahead) {
  trtest::ReportLog log;
  const uintptr_t user = reinterpret_cast<uintptr_t>(&log);
  CTypeRecoveryManager* first = TypeRecovery_CreateManager(user, trtest::RecordReport, nullptr);
  AddTypes(first, types);
  Feed(first, image, 0, splitAt, strip, lookahead);
  char path[] = "/tmp/typerecovery-progress-XXXXXX";
  const int fd = mkstemp(path);
  const bool saved = fd >= 0 && TypeRecovery_SaveProgress(first, TYPERECOVERY_FILE_FROM_FD(fd)) == 1;
  TypeRecovery_CloseManager(first);
  CTypeRecoveryManager* second = TypeRecovery_CreateManager(user, trtest::RecordReport, nullptr);
  AddTypes(second, types);
  const bool loaded = saved && lseek(fd, 0, SEEK_SET) == 0 &&
                      TypeRecovery_LoadProgress(second, TYPERECOVERY_FILE_FROM_FD(fd)) == 1;
  if (fd >= 0) {
    close(fd);
    unlink(path);
  }
  if (loaded) {
    Feed(second, image, splitAt, image.size(), strip, lookahead);
    TypeRecovery_Flush(second);
  } else {
    log.reports.clear();
  }
  TypeRecovery_CloseManager(second);
  return log.reports;
}

}  // namespace doctest
