#include "StateFile.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace trcli {
namespace {

const char kMagic[8] = {'T', 'R', 'S', 'T', 'A', 'T', 'E', '2'};
constexpr uint32_t kVersion = 2;
constexpr size_t kVersionAt = 8, kInfoLengthAt = 12, kFileLengthAt = 16, kChecksumAt = 24, kHeaderSize = 56;
constexpr size_t kChecksumSize = 32;
constexpr uint64_t kMaxInfoBytes = 256u << 20;

uint64_t ReadLE(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

void WriteLE(uint8_t* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool WriteAllBytes(int fd, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t done = ::write(fd, at, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

struct DigestContext {
  DigestContext() : context(EVP_MD_CTX_new()) {
    ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  }
  ~DigestContext() { EVP_MD_CTX_free(context); }
  void Add(const void* data, size_t size) { ok = ok && EVP_DigestUpdate(context, data, size) == 1; }
  bool Finish(uint8_t out[kChecksumSize]) {
    unsigned size = 0;
    return ok && EVP_DigestFinal_ex(context, out, &size) == 1 && size == kChecksumSize;
  }
  EVP_MD_CTX* context;
  bool ok;
};

// The checksum of a state file of fileLength bytes on fd: everything but
// the checksum field.
bool ChecksumOfFile(int fd, uint64_t fileLength, uint8_t out[kChecksumSize]) {
  DigestContext digest;
  std::vector<uint8_t> buffer(1u << 16);
  for (uint64_t at = 0; at < fileLength;) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), fileLength - at));
    if (!PreadAll(fd, buffer.data(), want, at)) return false;
    for (size_t i = 0; i < want; ++i)
      if (at + i >= kChecksumAt && at + i < kChecksumAt + kChecksumSize) buffer[i] = 0;
    digest.Add(buffer.data(), want);
    at += want;
  }
  return digest.Finish(out);
}

// The header's fields, checked against the file's length.
bool HeaderHolds(const uint8_t* header, uint64_t fileLength, uint64_t* infoLength) {
  if (fileLength < kHeaderSize || std::memcmp(header, kMagic, sizeof kMagic) != 0) return false;
  if (ReadLE(header + kVersionAt, 4) != kVersion) return false;
  if (ReadLE(header + kFileLengthAt, 8) != fileLength) return false;
  *infoLength = ReadLE(header + kInfoLengthAt, 4);
  return *infoLength <= kMaxInfoBytes && *infoLength <= fileLength - kHeaderSize;
}

bool ParseInfo(const char* text, size_t size, nlohmann::json* info) {
  *info = nlohmann::json::parse(text, text + size, nullptr, false);
  return !info->is_discarded() && info->is_object();
}

// Makes a rename in folder of path durable.
void SyncFolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

namespace {

// Repeats a positioned read or write until all of it is done; a call
// interrupted by a signal is retried.
template <class Io, class Byte>
bool WholeAt(Io io, int fd, Byte* at, size_t size, uint64_t offset) {
  while (size > 0) {
    ssize_t done = io(fd, at, size, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    at += done;
    size -= static_cast<size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
  return true;
}

}  // namespace

bool PreadAll(int fd, void* data, size_t size, uint64_t offset) {
  return WholeAt(::pread, fd, static_cast<char*>(data), size, offset);
}

bool PwriteAll(int fd, const void* data, size_t size, uint64_t offset) {
  return WholeAt(::pwrite, fd, static_cast<const char*>(data), size, offset);
}

bool WriteStateFile(const std::string& path, const nlohmann::json& info,
                    const std::function<bool(int fd)>& writeProgress, std::string* error) {
  std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = "cannot write the state file " + temporary + ": " + std::strerror(errno);
    return false;
  }
  std::string text = info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, kMagic, sizeof kMagic);
  WriteLE(header + kVersionAt, kVersion, 4);
  WriteLE(header + kInfoLengthAt, text.size(), 4);
  errno = 0;
  bool ok = text.size() <= kMaxInfoBytes && WriteAllBytes(fd, header, sizeof header) &&
            WriteAllBytes(fd, text.data(), text.size());
  int savedErrno = errno != 0 ? errno : EIO;
  if (ok && !writeProgress(fd)) {
    ok = false;
    savedErrno = errno != 0 ? errno : EIO;
  }
  // The whole length and the checksum go in last, over what is on disk.
  struct stat status;
  uint8_t checksum[kChecksumSize];
  if (ok) {
    ok = ::fstat(fd, &status) == 0;
    if (ok) {
      uint8_t length[8];
      WriteLE(length, static_cast<uint64_t>(status.st_size), 8);
      ok = ::pwrite(fd, length, 8, kFileLengthAt) == 8 &&
           ChecksumOfFile(fd, static_cast<uint64_t>(status.st_size), checksum) &&
           ::pwrite(fd, checksum, kChecksumSize, kChecksumAt) == static_cast<ssize_t>(kChecksumSize);
    }
    if (!ok) savedErrno = errno != 0 ? errno : EIO;
  }
  if (ok && ::fsync(fd) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    *error = "cannot write the state file " + path + ": " + std::strerror(savedErrno);
    return false;
  }
  SyncFolderOf(path);
  return true;
}

StateReader::~StateReader() {
  if (m_fd >= 0) ::close(m_fd);
}

bool StateReader::Open(const std::string& path, std::string* error, bool* damaged) {
  if (damaged != nullptr) *damaged = false;
  m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat status;
  if (m_fd < 0 || ::fstat(m_fd, &status) != 0) {
    *error = "cannot open the state file " + path + ": " + std::strerror(errno);
    return false;
  }
  const uint64_t fileLength = static_cast<uint64_t>(status.st_size);
  uint8_t header[kHeaderSize];
  uint64_t infoLength = 0;
  uint8_t checksum[kChecksumSize];
  bool sound = fileLength >= kHeaderSize && PreadAll(m_fd, header, kHeaderSize, 0) &&
               HeaderHolds(header, fileLength, &infoLength) && ChecksumOfFile(m_fd, fileLength, checksum) &&
               std::memcmp(checksum, header + kChecksumAt, kChecksumSize) == 0;
  if (sound) {
    std::string text(static_cast<size_t>(infoLength), '\0');
    sound = PreadAll(m_fd, text.data(), text.size(), kHeaderSize) && ParseInfo(text.data(), text.size(), &m_info) &&
            ::lseek(m_fd, static_cast<off_t>(kHeaderSize + infoLength), SEEK_SET) >= 0;
  }
  if (!sound) {
    if (damaged != nullptr) *damaged = true;
    *error = "damaged state file " + path + " (its length, version or checksum is wrong); nothing was changed";
    return false;
  }
  std::string which;
  if (!CheckStateInfo(m_info, &which)) {
    if (damaged != nullptr) *damaged = true;
    *error = "damaged state file " + path + " (the field '" + which + "' is missing or of the wrong type); nothing was changed";
    return false;
  }
  return true;
}

namespace {

enum Kind { kString, kUnsigned, kNumber, kBool, kObject, kArray, kStrings, kOptUnsigned, kOptString };

bool IsKind(const nlohmann::json& value, Kind kind) {
  switch (kind) {
    case kString: return value.is_string();
    case kUnsigned: return value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0);
    case kNumber: return value.is_number();
    case kBool: return value.is_boolean();
    case kObject: return value.is_object();
    case kArray: return value.is_array();
    case kStrings:
      if (!value.is_array()) return false;
      for (const auto& item : value)
        if (!item.is_string()) return false;
      return true;
    case kOptUnsigned: return value.is_null() || IsKind(value, kUnsigned);
    case kOptString: return value.is_null() || value.is_string();
  }
  return false;
}

struct Field {
  const char* name;
  Kind kind;
  bool required;
};

bool FieldsHold(const nlohmann::json& object, std::initializer_list<Field> fields, std::string* which,
                const std::string& where) {
  if (!object.is_object()) {
    *which = where;
    return false;
  }
  for (const Field& field : fields) {
    auto it = object.find(field.name);
    if (it == object.end() ? field.required : !IsKind(*it, field.kind)) {
      *which = where + field.name;
      return false;
    }
  }
  return true;
}

}  // namespace

bool CheckStateInfo(const nlohmann::json& info, std::string* which) {
  if (!FieldsHold(info,
                  {{"format", kUnsigned, true}, {"command", kString, true}, {"settings", kObject, true},
                   {"codes", kArray, true}, {"source", kObject, true}, {"position", kUnsigned, true},
                   {"report_length", kUnsigned, true}, {"start_time", kString, false}, {"stats", kObject, true},
                   {"pending", kArray, true}, {"audit_name", kString, false}, {"audit_length", kUnsigned, false},
                   {"open_files", kArray, false}, {"journal_length", kUnsigned, false},
                   {"damaged_files", kArray, false}, {"unreadable", kArray, false},
                   {"incomplete_files", kStrings, false}, {"unwritten", kArray, false}},
                  which, ""))
    return false;
  if (info.contains("unreadable")) {
    for (const nlohmann::json& run : info["unreadable"]) {
      if (!run.is_array() || run.size() != 2 || !IsKind(run[0], kUnsigned) || !IsKind(run[1], kUnsigned)) {
        *which = "unreadable";
        return false;
      }
    }
  }
  if (info.contains("damaged_files")) {
    for (const nlohmann::json& file : info["damaged_files"]) {
      if (!FieldsHold(file, {{"path", kString, true}, {"start", kUnsigned, true}, {"lead_in", kUnsigned, true},
                             {"size", kUnsigned, true}},
                      which, "damaged_files."))
        return false;
    }
  }
  if (info.contains("open_files")) {
    for (const nlohmann::json& file : info["open_files"]) {
      if (!FieldsHold(file, {{"path", kString, true}, {"type", kUnsigned, true}, {"start", kUnsigned, true},
                             {"size", kUnsigned, true}},
                      which, "open_files."))
        return false;
      if (file["type"].get<uint64_t>() > UINT32_MAX) {
        *which = "open_files.type";
        return false;
      }
    }
  }
  if (info["format"] != 2) {
    *which = "format";
    return false;
  }
  if (!FieldsHold(info["settings"],
                  {{"types", kStrings, false}, {"max-size", kStrings, false}, {"skip-larger", kOptUnsigned, false},
                   {"min-size", kOptUnsigned, false}, {"min-resolution", kOptString, false},
                   {"block", kUnsigned, false}, {"offset", kUnsigned, false}, {"length", kOptUnsigned, false},
                   {"hash", kString, false}, {"format", kString, false}, {"output", kString, false},
                   {"report", kString, false}},
                  which, "settings.") ||
      !FieldsHold(info["source"],
                  {{"path", kString, true}, {"size", kUnsigned, true}, {"prefix_length", kUnsigned, true},
                   {"prefix_sha256", kString, true}},
                  which, "source.") ||
      !FieldsHold(info["stats"],
                  {{"bytes_scanned", kUnsigned, true}, {"seconds", kNumber, true}, {"sessions", kUnsigned, true},
                   {"unhashed", kUnsigned, true}, {"extensions", kObject, true}},
                  which, "stats."))
    return false;
  for (const auto& item : info["stats"]["extensions"].items()) {
    const nlohmann::json& counts = item.value();
    bool sound = counts.is_array() && counts.size() == 6;
    for (size_t i = 0; sound && i < counts.size(); ++i) sound = IsKind(counts[i], kUnsigned);
    if (!sound) {
      *which = "stats.extensions." + item.key();
      return false;
    }
  }
  for (const nlohmann::json& record : info["pending"]) {
    if (!FieldsHold(record,
                    {{"offset", kUnsigned, true}, {"size", kUnsigned, true}, {"type", kUnsigned, true},
                     {"ext", kString, true}, {"complete", kBool, true}, {"path", kString, true},
                     {"lead_in", kUnsigned, true}, {"stream", kUnsigned, true}, {"picture", kArray, false}},
                    which, "pending."))
      return false;
    if (record.contains("picture")) {
      const nlohmann::json& p = record["picture"];
      static const Kind kPicture[] = {kUnsigned, kUnsigned, kUnsigned, kString, kString, kString, kString, kString,
                                      kString,   kString,   kString,   kString, kNumber, kNumber, kNumber};
      bool sound = p.size() == sizeof kPicture / sizeof kPicture[0];
      for (size_t i = 0; sound && i < p.size(); ++i) sound = IsKind(p[i], kPicture[i]);
      if (!sound || p[1].get<uint64_t>() > UINT32_MAX ||
          p[2].get<uint64_t>() > UINT32_MAX || p[0].get<uint64_t>() > UINT32_MAX) {
        *which = "pending.picture";
        return false;
      }
    }
    if (record["type"].get<uint64_t>() > UINT32_MAX) {
      *which = "pending.type";
      return false;
    }
  }
  return true;
}

bool ParseStateBytes(const uint8_t* data, size_t size, nlohmann::json* info, size_t* progressAt) {
  uint64_t infoLength = 0;
  if (size < kHeaderSize || !HeaderHolds(data, size, &infoLength)) return false;
  DigestContext digest;
  static const uint8_t kZeros[kChecksumSize] = {};
  digest.Add(data, kChecksumAt);
  digest.Add(kZeros, kChecksumSize);
  digest.Add(data + kChecksumAt + kChecksumSize, size - kChecksumAt - kChecksumSize);
  uint8_t checksum[kChecksumSize];
  if (!digest.Finish(checksum) || std::memcmp(checksum, data + kChecksumAt, kChecksumSize) != 0) return false;
  std::string which;
  if (!ParseInfo(reinterpret_cast<const char*>(data) + kHeaderSize, static_cast<size_t>(infoLength), info) ||
      !CheckStateInfo(*info, &which))
    return false;
  *progressAt = kHeaderSize + static_cast<size_t>(infoLength);
  return true;
}

}  // namespace trcli
