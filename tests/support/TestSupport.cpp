#include "support/TestSupport.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

namespace trtest {

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

TempDir::TempDir() {
  char tmpl[] = "/tmp/typerecovery-test-XXXXXX";
  char* made = ::mkdtemp(tmpl);
  m_path = made != nullptr ? made : "/tmp";
}

namespace {
void RemoveTree(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    ::unlink(path.c_str());
    return;
  }
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    RemoveTree(path + "/" + e->d_name);
  }
  ::closedir(dir);
  ::rmdir(path.c_str());
}

void ListTree(const std::string& base, const std::string& rel, std::vector<std::string>* out) {
  DIR* dir = ::opendir((base + "/" + rel).c_str());
  if (dir == nullptr) return;
  while (dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::string child = rel.empty() ? e->d_name : rel + "/" + e->d_name;
    struct stat st;
    if (::stat((base + "/" + child).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      ListTree(base, child, out);
    } else {
      out->push_back(child);
    }
  }
  ::closedir(dir);
}
}  // namespace

TempDir::~TempDir() {
  if (m_path != "/tmp") RemoveTree(m_path);
}

std::vector<std::string> TempDir::Files() const {
  std::vector<std::string> out;
  ListTree(m_path, "", &out);
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<uint8_t> TempDir::Read(const std::string& relative) const {
  return ReadFile(m_path + "/" + relative);
}

void TempDir::Write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
  std::string full = m_path + "/" + relative;
  for (size_t i = m_path.size() + 1; i < full.size(); ++i) {
    if (full[i] == '/') ::mkdir(full.substr(0, i).c_str(), 0777);
  }
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
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string DataPath(const std::string& relative) {
  return std::string(TYPERECOVERY_TEST_DATA) + "/" + relative;
}

}  // namespace trtest
