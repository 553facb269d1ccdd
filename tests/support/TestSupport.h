// Helpers shared by the tests: a byte builder for crafted strips, a
// temporary folder, UTF-16 conversions and a recorder for found-file reports.
#ifndef TYPERECOVERY_TESTS_SUPPORT_TESTSUPPORT_H
#define TYPERECOVERY_TESTS_SUPPORT_TESTSUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "typerecovery.h"

namespace trtest {

// Builds byte strings field by field: Bytes().U32LE(5).Text("RIFF").Zeros(12).
class Bytes {
 public:
  Bytes() = default;
  Bytes(std::initializer_list<uint8_t> bytes) : m_bytes(bytes) {}
  Bytes& U8(uint8_t v) { m_bytes.push_back(v); return *this; }
  Bytes& U16LE(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  Bytes& U16BE(uint16_t v) { return U8(v >> 8).U8(v & 0xFF); }
  Bytes& U32LE(uint32_t v) { return U16LE(v & 0xFFFF).U16LE(v >> 16); }
  Bytes& U32BE(uint32_t v) { return U16BE(v >> 16).U16BE(v & 0xFFFF); }
  Bytes& U64LE(uint64_t v) { return U32LE(static_cast<uint32_t>(v)).U32LE(static_cast<uint32_t>(v >> 32)); }
  Bytes& U64BE(uint64_t v) { return U32BE(static_cast<uint32_t>(v >> 32)).U32BE(static_cast<uint32_t>(v)); }
  Bytes& Text(const std::string& s) { m_bytes.insert(m_bytes.end(), s.begin(), s.end()); return *this; }
  Bytes& Raw(const std::vector<uint8_t>& v) { m_bytes.insert(m_bytes.end(), v.begin(), v.end()); return *this; }
  Bytes& Fill(size_t n, uint8_t v) { m_bytes.insert(m_bytes.end(), n, v); return *this; }
  Bytes& Zeros(size_t n) { return Fill(n, 0); }
  // Pads with zeros up to a total size.
  Bytes& PadTo(size_t n, uint8_t v = 0) { if (m_bytes.size() < n) Fill(n - m_bytes.size(), v); return *this; }
  size_t size() const { return m_bytes.size(); }
  const uint8_t* data() const { return m_bytes.data(); }
  std::vector<uint8_t>& vec() { return m_bytes; }
  operator std::vector<uint8_t>() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

std::u16string U16(const std::string& s);
std::string U8(const char16_t* s);

// A fresh temporary folder, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return m_path; }
  std::u16string root() const { return U16(m_path); }
  std::vector<std::string> Files() const;  // relative paths, sorted
  std::vector<uint8_t> Read(const std::string& relative) const;
  void Write(const std::string& relative, const std::vector<uint8_t>& bytes) const;

 private:
  std::string m_path;
};

struct Report {
  uint32_t typeFolder;
  uint32_t counter;
  std::string extension;
  uint64_t start;
  uint64_t size;
  uint32_t complete;
  bool hasPicture;
  tag_PictureInfo picture;
};

// The found-file callback for report-mode managers: pass the address of a
// ReportLog as the user value. Answers answerFolder for every report.
struct ReportLog {
  std::vector<Report> reports;
  uint32_t answerFolder = 0;
};
uint32_t RecordReport(uintptr_t user, uint32_t typeFolder, uint32_t* counter,
                      const char16_t* extension, uint64_t start, uint64_t size, uint32_t complete,
                      const tag_PictureInfo* picture);

// Feeds a whole image to a manager strip by strip (strip bytes plus up to
// lookahead bytes of what follows, at least 16 readable bytes per call) and
// flushes at the end. Answers the files ended by Analyse and Flush.
uint32_t FeedImage(CTypeRecoveryManager* m, const std::vector<uint8_t>& image, uint32_t strip,
                   uint32_t lookahead, uint32_t* errorFlag = nullptr);

std::vector<uint8_t> ReadFile(const std::string& path);
std::string DataPath(const std::string& relative);

}  // namespace trtest

#endif
