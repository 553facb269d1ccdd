#include "StateFile.h"

#include <cerrno>
#include <cstring>

#include "Platform.h"
#include "Text.h"

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

// JSON holds only UTF-8 text, but a Linux path is any bytes: a string that
// is not valid UTF-8 is saved as {"bytes": "<hex>"} and read back byte for
// byte, so a run whose paths are not UTF-8 resumes with the same paths.
constexpr const char* kBytesKey = "bytes";

nlohmann::json EncodeBytes(const nlohmann::json& value) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (IsValidUtf8(text)) return value;
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : text) {
      hex += kDigits[c >> 4];
      hex += kDigits[c & 15];
    }
    return nlohmann::json{{kBytesKey, hex}};
  }
  if (!value.is_structured()) return value;
  nlohmann::json out = value.is_array() ? nlohmann::json::array() : nlohmann::json::object();
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (value.is_array()) out.push_back(EncodeBytes(*it));
    else out[it.key()] = EncodeBytes(it.value());  // keys are the tool's own names and extensions
  }
  return out;
}

nlohmann::json DecodeBytes(const nlohmann::json& value) {
  if (value.is_object() && value.size() == 1 && value.contains(kBytesKey) && value[kBytesKey].is_string()) {
    const std::string& hex = value[kBytesKey].get_ref<const std::string&>();
    std::string text;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return text;
  }
  if (!value.is_structured()) return value;
  nlohmann::json out = value.is_array() ? nlohmann::json::array() : nlohmann::json::object();
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (value.is_array()) out.push_back(DecodeBytes(*it));
    else out[it.key()] = DecodeBytes(it.value());
  }
  return out;
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
  std::string text = EncodeBytes(info).dump();
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
  if (!m_info.is_discarded()) {
    try {
      m_info = DecodeBytes(m_info);
    } catch (const std::exception&) {  // a damaged hex text
      m_info = nlohmann::json::value_t::discarded;
    }
  }
  if (m_info.is_discarded() || !m_info.is_object()) {
    *error = "the state file " + path + " is damaged";
    return false;
  }
  return true;
}

}  // namespace trcli
