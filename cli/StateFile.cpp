#include "StateFile.h"

#include <cerrno>
#include <cstring>

#include "Platform.h"

namespace trcli {
namespace {

const char kMagic[8] = {'T', 'R', 'S', 'T', 'A', 'T', 'E', '1'};
constexpr uint32_t kMaxInfoBytes = 16u << 20;

bool ReadAllBytes(int fd, void* data, size_t size) {
  char* at = static_cast<char*>(data);
  while (size > 0) {
    long long done = platform::Read(fd, at, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

}  // namespace

bool WriteStateFile(const std::string& path, const nlohmann::json& info,
                    const std::function<bool(int fd)>& writeProgress, std::string* error) {
  std::string temporary = path + ".tmp";
  int fd = platform::OpenForWriting(temporary);
  if (fd < 0) {
    *error = "cannot write the state file " + temporary + ": " + std::strerror(errno);
    return false;
  }
  std::string text = info.dump();
  unsigned char length[4];
  for (int i = 0; i < 4; ++i) length[i] = static_cast<unsigned char>(text.size() >> (8 * i));
  bool ok = platform::WriteAll(fd, kMagic, sizeof kMagic) && platform::WriteAll(fd, length, 4) &&
            platform::WriteAll(fd, text.data(), text.size());
  int savedErrno = errno;
  if (ok && !writeProgress(fd)) {
    ok = false;
    savedErrno = errno != 0 ? errno : EIO;
  }
  if (ok && !platform::Sync(fd)) {
    ok = false;
    savedErrno = errno;
  }
  platform::Close(fd);
  if (ok && !platform::ReplaceFile(temporary, path)) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    platform::RemoveFile(temporary);
    *error = "cannot write the state file " + path + ": " + std::strerror(savedErrno);
  }
  return ok;
}

StateReader::~StateReader() {
  if (m_fd >= 0) platform::Close(m_fd);
}

bool StateReader::Open(const std::string& path, std::string* error) {
  m_fd = platform::OpenForReading(path);
  if (m_fd < 0) {
    *error = "cannot open the state file " + path + ": " + std::strerror(errno);
    return false;
  }
  char magic[8];
  unsigned char length[4];
  if (!ReadAllBytes(m_fd, magic, 8) || std::memcmp(magic, kMagic, 8) != 0 ||
      !ReadAllBytes(m_fd, length, 4)) {
    *error = path + " is not a typerecovery state file";
    return false;
  }
  uint32_t size = length[0] | (length[1] << 8) | (length[2] << 16) | (static_cast<uint32_t>(length[3]) << 24);
  std::string text(size, '\0');
  if (size > kMaxInfoBytes || !ReadAllBytes(m_fd, text.data(), size)) {
    *error = "the state file " + path + " is damaged";
    return false;
  }
  m_info = nlohmann::json::parse(text, nullptr, false);
  if (m_info.is_discarded() || !m_info.is_object()) {
    *error = "the state file " + path + " is damaged";
    return false;
  }
  return true;
}

}  // namespace trcli
