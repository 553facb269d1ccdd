// Helpers for the media recognizer tests: managers in report and folder mode
// with chosen types, strips fed one at a time or a whole image at once, a
// synthetic disk image with fixtures at sector offsets, and a scan
// interrupted by a progress file and resumed in a fresh manager.
#ifndef TYPERECOVERY_TESTS_FORMATS_MEDIA_MEDIACARVING_H
#define TYPERECOVERY_TESTS_FORMATS_MEDIA_MEDIACARVING_H

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "typerecovery.h"

namespace mediatest {

inline std::vector<uint8_t> Fixture(const std::string& name) {
  return trtest::ReadFile(trtest::DataPath("media/" + name));
}

inline void AddTypes(CTypeRecoveryManager* m, const std::vector<uint32_t>& codes) {
  for (uint32_t code : codes) TypeRecovery_AddType(m, code, ~uint64_t{0});
}

// A manager with these types; report mode without a root, else folder mode.
class Scan {
 public:
  explicit Scan(const std::vector<uint32_t>& codes, const trtest::TempDir* folder = nullptr) {
    if (folder != nullptr) {
      m_root = folder->root();
      m_manager = TypeRecovery_CreateManager(0, nullptr, m_root.c_str());
    } else {
      m_manager = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log),
                                             trtest::RecordReport, nullptr);
    }
    AddTypes(m_manager, codes);
  }
  ~Scan() { TypeRecovery_CloseManager(m_manager); }
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  // Analyses bytes [from, from + length) of image with up to lookahead more.
  uint32_t Strip(const std::vector<uint8_t>& image, size_t from, uint32_t length,
                 uint32_t lookahead) {
    const size_t end = std::min(image.size(), from + length + lookahead);
    std::vector<uint8_t> buffer(image.begin() + static_cast<long>(from),
                                image.begin() + static_cast<long>(end));
    const uint32_t ahead = static_cast<uint32_t>(buffer.size() - length);
    buffer.resize(std::max<size_t>(buffer.size(), 16), 0);
    return TypeRecovery_Analyse(m_manager, from, buffer.data(), length, ahead, &errorFlag);
  }
  // Every strip of image in turn, then the flush.
  uint32_t Feed(const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead) {
    return trtest::FeedImage(m_manager, image, strip, lookahead, &errorFlag);
  }
  uint32_t Flush() { return TypeRecovery_Flush(m_manager); }
  CTypeRecoveryManager* manager() const { return m_manager; }

  trtest::ReportLog log;
  uint32_t errorFlag = 0;

 private:
  std::u16string m_root;
  CTypeRecoveryManager* m_manager;
};

// A synthetic disk image: filler (random or zero) with pieces at chosen
// offsets.
class Image {
 public:
  explicit Image(size_t size, uint32_t seed = 1) : m_bytes(size) {
    std::mt19937 random(seed);
    for (uint8_t& b : m_bytes) b = static_cast<uint8_t>(random());
  }
  Image& Zero(size_t from, size_t count) {
    std::fill_n(m_bytes.begin() + static_cast<long>(from), count, 0);
    return *this;
  }
  Image& Put(size_t at, const std::vector<uint8_t>& piece) {
    std::copy(piece.begin(), piece.end(), m_bytes.begin() + static_cast<long>(at));
    return *this;
  }
  Image& PutByte(size_t at, uint8_t value) {
    m_bytes[at] = value;
    return *this;
  }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

// Scans image in report mode with strips of stripSize, saving progress after
// the strips before stopAt and going on in a new manager loaded from it;
// answers every report of both managers in order.
inline std::vector<trtest::Report> ResumedRun(const std::vector<uint32_t>& codes,
                                              const std::vector<uint8_t>& image,
                                              uint32_t stripSize, uint32_t lookahead,
                                              size_t stopAt) {
  std::vector<trtest::Report> all;
  FILE* progress = std::tmpfile();
  size_t pos = 0;
  {
    Scan first(codes);
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
  Scan second(codes);
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

// Reads a whole progress file written by a manager (for layout checks).
inline std::vector<uint8_t> SavedProgress(CTypeRecoveryManager* m) {
  FILE* progress = std::tmpfile();
  std::vector<uint8_t> bytes;
  if (TypeRecovery_SaveProgress(m, TYPERECOVERY_FILE_FROM_FD(fileno(progress))) == 1) {
    ::lseek(fileno(progress), 0, SEEK_SET);
    uint8_t chunk[256];
    for (ssize_t n; (n = ::read(fileno(progress), chunk, sizeof chunk)) > 0;) {
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
  }
  std::fclose(progress);
  return bytes;
}

}  // namespace mediatest

#endif
