// Helpers for the document recognizer tests: run an image through a manager
// in report or folder mode with chosen types, and build synthetic disk images
// with files at sector offsets among random and zero filler.
#ifndef TYPERECOVERY_TESTS_FORMATS_DOCUMENT_DOCUMENTCARVING_H
#define TYPERECOVERY_TESTS_FORMATS_DOCUMENT_DOCUMENTCARVING_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "typerecovery.h"

namespace doctest {

struct AddedType {
  uint32_t code;
  uint64_t maxSize = ~uint64_t{0};
};

inline void AddTypes(CTypeRecoveryManager* m, const std::vector<AddedType>& types) {
  for (const AddedType& t : types) TypeRecovery_AddType(m, t.code, t.maxSize);
}

// Report mode: every found file, in order.
inline std::vector<trtest::Report> ReportRun(const std::vector<AddedType>& types,
                                             const std::vector<uint8_t>& image, uint32_t strip,
                                             uint32_t lookahead, uint32_t* ended = nullptr) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  AddTypes(m, types);
  const uint32_t n = trtest::FeedImage(m, image, strip, lookahead);
  if (ended != nullptr) *ended = n;
  TypeRecovery_CloseManager(m);
  return log.reports;
}

// Folder mode into dir.
inline uint32_t FolderRun(const trtest::TempDir& dir, const std::vector<AddedType>& types,
                          const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead,
                          uint32_t* errorFlag = nullptr) {
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  AddTypes(m, types);
  const uint32_t n = trtest::FeedImage(m, image, strip, lookahead, errorFlag);
  TypeRecovery_CloseManager(m);
  return n;
}

// A disk image: each file placed at the next sector boundary after random or
// zero filler; offsets of the placed files in order.
class DiskImage {
 public:
  explicit DiskImage(uint32_t seed = 7) : m_random(seed) {}
  DiskImage& Random(size_t sectors) {
    for (size_t i = 0; i < sectors * 512; ++i) m_bytes.push_back(static_cast<uint8_t>(m_random()));
    return *this;
  }
  DiskImage& Zeros(size_t sectors) {
    m_bytes.insert(m_bytes.end(), sectors * 512, 0);
    return *this;
  }
  // Places a file at a sector start and pads its last sector with zeros.
  DiskImage& File(const std::vector<uint8_t>& file) {
    Align();
    m_offsets.push_back(m_bytes.size());
    m_bytes.insert(m_bytes.end(), file.begin(), file.end());
    Align();
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  const std::vector<uint64_t>& offsets() const { return m_offsets; }

 private:
  void Align() {
    while (m_bytes.size() % 512 != 0) m_bytes.push_back(0);
  }
  std::mt19937 m_random;
  std::vector<uint8_t> m_bytes;
  std::vector<uint64_t> m_offsets;
};

// Report mode with a pause: the strips before splitAt go to one manager,
// whose progress is saved and loaded into a second manager that gets the rest.
std::vector<trtest::Report> ResumeRun(const std::vector<AddedType>& types,
                                      const std::vector<uint8_t>& image, size_t splitAt,
                                      uint32_t strip, uint32_t lookahead);

inline std::vector<uint8_t> Fixture(const std::string& name) {
  return trtest::ReadFile(trtest::DataPath("document/" + name));
}

inline std::vector<uint8_t> Prefix(const std::vector<uint8_t>& v, size_t n) {
  return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<long>(std::min(n, v.size())));
}

}  // namespace doctest

#endif
