// --dedup's index of the digests of kept files, kept on disk beside them so
// that a resumed carve knows them again.
#include "Duplicates.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "Platform.h"
#include "StateFile.h"

namespace trcli {

DuplicateIndex::~DuplicateIndex() {
  if (m_fd >= 0) platform::Close(m_fd);
}

bool DuplicateIndex::Open(const std::string& path, uint64_t keepLength, std::string* error) {
  m_path = path;
  m_fd = platform::CreateForUpdate(path, false);
  uint64_t length = 0;
  if (m_fd < 0 || !platform::FileSize(m_fd, &length)) {
    *error = "cannot write the list of carved files' digests " + path + ": " + std::strerror(errno);
    return false;
  }
  if (length < keepLength) {
    *error = "cannot continue: the digest list " + path + " is shorter than the saved state says";
    return false;
  }
  std::string kept(static_cast<size_t>(keepLength), '\0');
  if (!PreadAll(m_fd, kept.data(), kept.size(), 0) || !platform::Truncate(m_fd, keepLength)) {
    *error = "cannot continue the digest list " + path + ": " + std::strerror(errno);
    return false;
  }
  // One line per kept file: digest, size, path below the output folder.
  std::istringstream lines(kept);
  std::string digest, rest;
  uint64_t size = 0;
  while (lines >> digest >> size && std::getline(lines, rest))
    m_first.emplace(std::make_pair(digest, size), rest.empty() ? rest : rest.substr(1));
  m_length = keepLength;
  return true;
}

std::string DuplicateIndex::FirstWith(const std::string& sha256, uint64_t size, const std::string& path) {
  auto found = m_first.find({sha256, size});
  if (found != m_first.end()) return found->second;
  m_first.emplace(std::make_pair(sha256, size), path);
  const std::string line = sha256 + " " + std::to_string(size) + " " + path + "\n";
  // A line that cannot be written only costs a resume this file's digest.
  if (m_fd >= 0 && PwriteAll(m_fd, line.data(), line.size(), m_length)) m_length += line.size();
  return "";
}

uint64_t DuplicateIndex::Sync() {
  if (m_fd >= 0) platform::Sync(m_fd);
  return m_length;
}

void DuplicateIndex::Remove() {
  if (m_fd < 0) return;
  platform::Close(m_fd);
  m_fd = -1;
  platform::RemoveFile(m_path);
}

}  // namespace trcli
