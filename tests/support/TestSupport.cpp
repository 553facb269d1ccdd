#include "support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace trtest {

namespace fs = std::filesystem;

std::u16string U16(const std::string& s) {
  std::u16string out;
  for (unsigned char c : s) out.push_back(c);
  return out;
}

std::string U8(const char16_t* s) {
  std::string out;
  for (; s != nullptr && *s != 0; ++s) out.push_back(static_cast<char>(*s));
  return out;
}

// Made and walked with std::filesystem, so the same code runs on Windows.
TempDir::TempDir() {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) base = ".";
  std::random_device random;
  for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "typerecovery-test-%08x", static_cast<unsigned>(random()));
    fs::path candidate = base / name;
    if (fs::create_directory(candidate, error)) m_path = candidate.generic_u8string();
  }
}

TempDir::~TempDir() {
  std::error_code error;
  if (!m_path.empty()) fs::remove_all(fs::u8path(m_path), error);
}

std::vector<std::string> TempDir::Files() const {
  std::vector<std::string> out;
  std::error_code error;
  const fs::path root = fs::u8path(m_path);
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_directory(error)) out.push_back(it->path().lexically_relative(root).generic_u8string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<uint8_t> TempDir::Read(const std::string& relative) const {
  return ReadFile(m_path + "/" + relative);
}

void TempDir::Write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
  const fs::path full = fs::u8path(m_path + "/" + relative);
  std::error_code error;
  fs::create_directories(full.parent_path(), error);
  std::ofstream(full, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

uint32_t RecordReport(uintptr_t user, uint32_t typeFolder, uint32_t* counter,
                      const char16_t* extension, uint64_t start, uint64_t size, uint32_t complete,
                      const tag_PictureInfo* picture) {
  ReportLog* log = reinterpret_cast<ReportLog*>(user);
  Report r{};
  r.typeFolder = typeFolder;
  r.counter = *counter;
  r.extension = U8(extension);
  r.start = start;
  r.size = size;
  r.complete = complete;
  r.hasPicture = picture != nullptr;
  if (picture != nullptr) r.picture = *picture;
  log->reports.push_back(r);
  return log->answerFolder;
}

uint32_t FeedImage(CTypeRecoveryManager* m, const std::vector<uint8_t>& image, uint32_t strip,
                   uint32_t lookahead, uint32_t* errorFlag) {
  uint32_t localError = 0;
  if (errorFlag == nullptr) errorFlag = &localError;
  uint32_t ended = 0;
  std::vector<uint8_t> buffer;
  for (size_t pos = 0; pos < image.size(); pos += strip) {
    const size_t length = std::min<size_t>(strip, image.size() - pos);
    const size_t ahead = std::min<size_t>(lookahead, image.size() - pos - length);
    buffer.assign(image.begin() + static_cast<long>(pos),
                  image.begin() + static_cast<long>(pos + length + ahead));
    buffer.resize(std::max<size_t>(buffer.size(), 16), 0);
    ended += TypeRecovery_Analyse(m, pos, buffer.data(), static_cast<uint32_t>(length),
                                  static_cast<uint32_t>(ahead), errorFlag);
  }
  return ended + TypeRecovery_Flush(m);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string DataPath(const std::string& relative) {
  return std::string(TYPERECOVERY_TEST_DATA) + "/" + relative;
}

}  // namespace trtest
