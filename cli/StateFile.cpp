// The state file written and read back: its JSON description of the run and
// the library's progress record, checked as a whole before any of it is used.
#include "StateFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "Hasher.h"
#include "Platform.h"
#include "Text.h"

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

bool WriteAllBytes(int fd, const void* data, size_t size) { return platform::WriteAll(fd, data, size); }

// The SHA-256 of a state file of fileLength bytes read through read, with
// the checksum field taken as zeros.
bool Checksum(const ReadFunction& read, uint64_t fileLength, uint8_t out[kChecksumSize]) {
  auto digest = HashRead([&read](uint64_t at, uint8_t* into, size_t want) {
    if (!read(at, into, want)) return false;
    for (size_t i = 0; i < want; ++i)
      if (at + i >= kChecksumAt && at + i < kChecksumAt + kChecksumSize) into[i] = 0;
    return true;
  }, 0, fileLength, "sha256");
  if (!digest || digest->size() != 2 * kChecksumSize) return false;
  for (size_t i = 0; i < kChecksumSize; ++i) out[i] = static_cast<uint8_t>(std::stoi(digest->substr(2 * i, 2), nullptr, 16));
  return true;
}

bool ChecksumOfFile(int fd, uint64_t fileLength, uint8_t out[kChecksumSize]) {
  return Checksum([fd](uint64_t at, uint8_t* into, size_t want) { return PreadAll(fd, into, want, at); },
                  fileLength, out);
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

// Throws on a damaged hex text.
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
  if (info->is_discarded() || !info->is_object()) return false;
  try {
    *info = DecodeBytes(*info);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// Makes a rename in folder of path durable.
void SyncFolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  platform::SyncFolder(slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

namespace {

// Repeats a positioned read or write until all of it is done; a call
// interrupted by a signal is retried.
template <class Io, class Byte>
bool WholeAt(Io io, int fd, Byte* at, size_t size, uint64_t offset) {
  while (size > 0) {
    long long done = io(fd, at, size, offset);
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
  return WholeAt(platform::ReadAt, fd, static_cast<char*>(data), size, offset);
}

bool PwriteAll(int fd, const void* data, size_t size, uint64_t offset) {
  return WholeAt(platform::WriteAt, fd, static_cast<const char*>(data), size, offset);
}

bool WriteStateFile(const std::string& path, const nlohmann::json& info,
                    const std::function<bool(int fd)>& writeProgress, std::string* error) {
  std::string temporary = path + ".tmp";
  int fd = platform::CreateForUpdate(temporary, true);
  if (fd < 0) {
    *error = "cannot write the state file " + temporary + ": " + std::strerror(errno);
    return false;
  }
  std::string text = EncodeBytes(info).dump();
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
  uint64_t fileLength = 0;
  uint8_t checksum[kChecksumSize];
  if (ok) {
    ok = platform::FileSize(fd, &fileLength);
    if (ok) {
      uint8_t length[8];
      WriteLE(length, fileLength, 8);
      ok = PwriteAll(fd, length, 8, kFileLengthAt) && ChecksumOfFile(fd, fileLength, checksum) &&
           PwriteAll(fd, checksum, kChecksumSize, kChecksumAt);
    }
    if (!ok) savedErrno = errno != 0 ? errno : EIO;
  }
  if (ok && !platform::Sync(fd)) {
    ok = false;
    savedErrno = errno;
  }
  if (!platform::Close(fd) && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && !platform::ReplaceFile(temporary, path)) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    platform::RemoveFile(temporary);
    *error = "cannot write the state file " + path + ": " + std::strerror(savedErrno);
    return false;
  }
  SyncFolderOf(path);
  return true;
}

StateReader::~StateReader() {
  if (m_fd >= 0) platform::Close(m_fd);
}

bool StateReader::Open(const std::string& path, std::string* error, bool* damaged) {
  if (damaged != nullptr) *damaged = false;
  m_fd = platform::OpenForReading(path);
  uint64_t fileLength = 0;
  if (m_fd < 0 || !platform::FileSize(m_fd, &fileLength)) {
    *error = "cannot open the state file " + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t header[kHeaderSize];
  uint64_t infoLength = 0;
  uint8_t checksum[kChecksumSize];
  bool sound = fileLength >= kHeaderSize && PreadAll(m_fd, header, kHeaderSize, 0) &&
               HeaderHolds(header, fileLength, &infoLength) && ChecksumOfFile(m_fd, fileLength, checksum) &&
               std::memcmp(checksum, header + kChecksumAt, kChecksumSize) == 0;
  if (sound) {
    std::string text(static_cast<size_t>(infoLength), '\0');
    sound = PreadAll(m_fd, text.data(), text.size(), kHeaderSize) && ParseInfo(text.data(), text.size(), &m_info) &&
            platform::SeekTo(m_fd, kHeaderSize + infoLength);
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

// Each object of the list holds the fields (an absent list holds them).
bool EachHolds(const nlohmann::json& info, const char* list, std::initializer_list<Field> fields,
               std::string* which) {
  if (!info.contains(list)) return true;
  for (const nlohmann::json& item : info.at(list))
    if (!FieldsHold(item, fields, which, std::string(list) + ".")) return false;
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
  if (!EachHolds(info, "damaged_files",
                 {{"path", kString, true}, {"start", kUnsigned, true}, {"lead_in", kUnsigned, true},
                  {"size", kUnsigned, true}},
                 which) ||
      !EachHolds(info, "open_files",
                 {{"path", kString, true}, {"type", kUnsigned, true}, {"start", kUnsigned, true},
                  {"size", kUnsigned, true}},
                 which))
    return false;
  if (info.contains("open_files")) {
    for (const nlohmann::json& file : info["open_files"]) {
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
                   {"unhashed", kUnsigned, true}, {"faults", kUnsigned, false}, {"extensions", kObject, true}},
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
  uint8_t checksum[kChecksumSize];
  if (!Checksum([data](uint64_t at, uint8_t* into, size_t want) {
        std::memcpy(into, data + at, want);
        return true;
      }, size, checksum) ||
      std::memcmp(checksum, data + kChecksumAt, kChecksumSize) != 0)
    return false;
  std::string which;
  if (!ParseInfo(reinterpret_cast<const char*>(data) + kHeaderSize, static_cast<size_t>(infoLength), info) ||
      !CheckStateInfo(*info, &which))
    return false;
  *progressAt = kHeaderSize + static_cast<size_t>(infoLength);
  return true;
}

}  // namespace trcli
