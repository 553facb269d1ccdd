// Helpers for the PNG, GIF, BMP and TIFF recognizer tests: fixtures of
// tests/data/image, strips fed one by one, and a scan interrupted by a
// progress file and resumed in a fresh manager.
#ifndef TYPERECOVERY_TESTS_FORMATS_IMAGE_PICTURECARVING_H
#define TYPERECOVERY_TESTS_FORMATS_IMAGE_PICTURECARVING_H

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "formats/document/DocumentCarving.h"
#include "support/TestSupport.h"
#include "typerecovery.h"

namespace pictest {

inline std::vector<uint8_t> Fixture(const std::string& name) {
  return trtest::ReadFile(trtest::DataPath("image/" + name));
}

// A report-mode manager with these types, fed strip by strip by the test.
class ReportScan {
 public:
  explicit ReportScan(const std::vector<doctest::AddedType>& types) {
    m_manager = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport,
                                           nullptr);
    doctest::AddTypes(m_manager, types);
  }
  explicit ReportScan(uint32_t code) : ReportScan(std::vector<doctest::AddedType>{{code}}) {}
  ~ReportScan() { TypeRecovery_CloseManager(m_manager); }
  // Analyses bytes [from, from + length) of image with up to lookahead more.
  uint32_t Strip(const std::vector<uint8_t>& image, size_t from, uint32_t length,
                 uint32_t lookahead) {
    std::vector<uint8_t> buffer(image.begin() + static_cast<long>(from),
                                image.begin() + static_cast<long>(std::min(
                                                    image.size(), from + length + lookahead)));
    const uint32_t ahead = static_cast<uint32_t>(buffer.size() - length);
    buffer.resize(std::max<size_t>(buffer.size(), 16), 0);
    return TypeRecovery_Analyse(m_manager, from, buffer.data(), length, ahead, &errorFlag);
  }
  uint32_t Flush() { return TypeRecovery_Flush(m_manager); }
  CTypeRecoveryManager* manager() const { return m_manager; }

  trtest::ReportLog log;
  uint32_t errorFlag = 0;

 private:
  CTypeRecoveryManager* m_manager;
};

// Scans image in report mode with strips of stripSize, saving progress after
// the strip that ends at stopAt and continuing in a new manager loaded from
// it; answers every report of both managers in order.
inline std::vector<trtest::Report> ResumedRun(const std::vector<doctest::AddedType>& types,
                                              const std::vector<uint8_t>& image,
                                              uint32_t stripSize, uint32_t lookahead,
                                              size_t stopAt) {
  std::vector<trtest::Report> all;
  FILE* progress = std::tmpfile();
  size_t pos = 0;
  {
    ReportScan first(types);
    for (; pos < stopAt && pos < image.size(); pos += stripSize) {
      first.Strip(image, pos, static_cast<uint32_t>(std::min<size_t>(stripSize, image.size() - pos)),
                  lookahead);
    }
    if (TypeRecovery_SaveProgress(first.manager(), TYPERECOVERY_FILE_FROM_FD(fileno(progress))) != 1) {
      all.push_back(trtest::Report{});  // makes the comparison fail visibly
    }
    all.insert(all.end(), first.log.reports.begin(), first.log.reports.end());
  }
  ::lseek(fileno(progress), 0, SEEK_SET);
  ReportScan second(types);
  if (TypeRecovery_LoadProgress(second.manager(), TYPERECOVERY_FILE_FROM_FD(fileno(progress))) != 1) {
    all.push_back(trtest::Report{});
  }
  std::fclose(progress);
  for (; pos < image.size(); pos += stripSize) {
    second.Strip(image, pos, static_cast<uint32_t>(std::min<size_t>(stripSize, image.size() - pos)),
                 lookahead);
  }
  second.Flush();
  all.insert(all.end(), second.log.reports.begin(), second.log.reports.end());
  return all;
}

}  // namespace pictest

#endif
