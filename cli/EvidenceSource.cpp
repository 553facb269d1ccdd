// Opening a source as the command line asks: the kind of image told by its
// content, split segments found beside the first, one partition or the free
// space of the file systems picked through The Sleuth Kit.
#include "EvidenceSource.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Platform.h"

#include "SleuthKit.h"
#include "Sizes.h"

namespace trcli {
namespace {

bool ReadExactly(int fd, uint64_t offset, uint8_t* into, size_t size) {
  return platform::ReadAt(fd, into, size, offset) == static_cast<long long>(size);
}

bool StartsWith(const uint8_t* bytes, size_t have, const char* magic, size_t length) {
  return have >= length && std::memcmp(bytes, magic, length) == 0;
}

// A numbered segment name: stem, the digits and their count. "disk.001"
// gives ("disk.", 1, 3).
struct SegmentName {
  std::string stem;
  unsigned long number = 0;
  size_t width = 0;
};

std::optional<SegmentName> ParseSegmentName(const std::string& path) {
  size_t end = path.size();
  size_t digits = end;
  while (digits > 0 && path[digits - 1] >= '0' && path[digits - 1] <= '9') --digits;
  size_t width = end - digits;
  if (width < 2 || width > 6 || digits == 0 || (path[digits - 1] != '.' && path[digits - 1] != '_')) return {};
  return SegmentName{path.substr(0, digits), std::stoul(path.substr(digits)), width};
}

std::string SegmentPath(const SegmentName& name, unsigned long number) {
  std::string digits = std::to_string(number);
  if (digits.size() < name.width) digits.insert(0, name.width - digits.size(), '0');
  return name.stem + digits;
}

bool IsRegularFile(const std::string& path) { return platform::IsRegularFile(path); }

// A split raw image must be named by its first segment and have no gap: a
// missing segment would shift every later offset.
bool CheckSegments(const std::string& path, std::string* error) {
  auto name = ParseSegmentName(path);
  if (!name) return true;  // the library decides what belongs to other names
  bool zeroFirst = IsRegularFile(SegmentPath(*name, 0));
  if ((name->number > 1 && (zeroFirst || IsRegularFile(SegmentPath(*name, 1)))) ||
      (name->number == 1 && zeroFirst)) {
    *error = path + " is not the first segment of its split image; name the first one (" +
             SegmentPath(*name, zeroFirst ? 0 : 1) + ")";
    return false;
  }
  if (name->number > 1) return true;  // a single file whose name ends in a number
  unsigned long last = name->number;
  while (IsRegularFile(SegmentPath(*name, last + 1))) ++last;
  size_t slash = name->stem.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : name->stem.substr(0, slash);
  std::string base = slash == std::string::npos ? name->stem : name->stem.substr(slash + 1);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return true;
  unsigned long beyond = 0;
  while (dirent* entry = ::readdir(dir)) {
    std::string entryName = entry->d_name;
    if (entryName.size() != base.size() + name->width || entryName.compare(0, base.size(), base) != 0) continue;
    std::string digits = entryName.substr(base.size());
    if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
    unsigned long number = std::stoul(digits);
    if (number > last + 1 && (beyond == 0 || number < beyond)) beyond = number;
  }
  ::closedir(dir);
  if (beyond != 0) {
    *error = "segment " + SegmentPath(*name, last + 1) + " of the split image is missing (" +
             SegmentPath(*name, beyond) + " exists)";
    return false;
  }
  return true;
}

// Reads a free-space stream: the runs of the map, one after another.
class FreeSpaceMedium : public Medium {
 public:
  FreeSpaceMedium(std::unique_ptr<Medium> media, std::shared_ptr<const MediaMap> map)
      : m_media(std::move(media)), m_map(std::move(map)) {}
  uint64_t Size() const override { return m_map->StreamSize(); }
  bool ZeroUnreadable() const override { return m_media->ZeroUnreadable(); }
  bool ReadAt(uint64_t offset, uint8_t* into, size_t size, std::string* error) override {
    for (const MediaRun& piece : m_map->Pieces(offset, size)) {
      if (!m_media->ReadAt(piece.offset, into, static_cast<size_t>(piece.length), error)) return false;
      into += piece.length;
      size -= static_cast<size_t>(piece.length);
    }
    if (size != 0) {
      *error = "read past the end of the free space";
      return false;
    }
    return true;
  }

 private:
  std::unique_ptr<Medium> m_media;
  std::shared_ptr<const MediaMap> m_map;
};

}  // namespace

bool ParseSourceFormat(const std::string& name, SourceFormat* format) {
  static const struct {
    const char* name;
    SourceFormat format;
  } kNames[] = {{"auto", SourceFormat::kAuto}, {"raw", SourceFormat::kRaw},   {"split", SourceFormat::kSplit},
                {"ewf", SourceFormat::kEwf},   {"e01", SourceFormat::kEwf},   {"aff", SourceFormat::kAff},
                {"vhd", SourceFormat::kVhd},   {"vhdx", SourceFormat::kVhd},  {"vmdk", SourceFormat::kVmdk}};
  std::string lower;
  for (char c : name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const auto& entry : kNames) {
    if (lower == entry.name) {
      *format = entry.format;
      return true;
    }
  }
  return false;
}

const char* SourceFormatName(SourceFormat format) {
  switch (format) {
    case SourceFormat::kAuto: return "auto";
    case SourceFormat::kSplit: return "split raw";
    case SourceFormat::kEwf: return "EWF";
    case SourceFormat::kAff: return "AFF";
    case SourceFormat::kVhd: return "VHD";
    case SourceFormat::kVmdk: return "VMDK";
    default: return "raw";
  }
}

SourceFormat DetectSourceFormat(const std::string& path) {
  int fd = platform::OpenForReading(path);
  if (fd < 0) return SourceFormat::kRaw;
  platform::SourceKind kind;
  uint64_t fileSize = 0;
  uint8_t head[32] = {};
  long long got = -1;
  if (platform::Examine(fd, &kind, &fileSize) && kind == platform::SourceKind::kRegularFile)
    got = platform::ReadAt(fd, head, sizeof head, 0);
  size_t have = got > 0 ? static_cast<size_t>(got) : 0;
  SourceFormat format = SourceFormat::kRaw;
  // Segment signatures: EWF ("EVF" and the EWF2 "EVF2"), AFF, VMDK sparse
  // extents and descriptors, dynamic VHD (footer copy first) and VHDX.
  if (StartsWith(head, have, "EVF\x09\x0d\x0a\xff\x00", 8) || StartsWith(head, have, "EVF2\x0d\x0a\x81\x00", 8))
    format = SourceFormat::kEwf;
  else if (StartsWith(head, have, "AFF10\x0d\x0a", 8))
    format = SourceFormat::kAff;
  else if (StartsWith(head, have, "KDMV", 4) || StartsWith(head, have, "COWD", 4) ||
           StartsWith(head, have, "# Disk DescriptorFile", 21))
    format = SourceFormat::kVmdk;
  else if (StartsWith(head, have, "conectix", 8) || StartsWith(head, have, "vhdxfile", 8))
    format = SourceFormat::kVhd;
  else if (have > 0 && fileSize >= 512) {
    // A fixed VHD is the raw disk followed by a 512-byte footer.
    uint8_t footer[8];
    if (ReadExactly(fd, fileSize - 512, footer, sizeof footer) &&
        std::memcmp(footer, "conectix", 8) == 0)
      format = SourceFormat::kVhd;
  }
  platform::Close(fd);
  if (format == SourceFormat::kRaw) {
    auto name = ParseSegmentName(path);
    if (name && name->number <= 1 && IsRegularFile(SegmentPath(*name, name->number + 1))) format = SourceFormat::kSplit;
  }
  return format;
}

bool PrepareSource(const SourceRequest& request, PreparedSource* prepared, std::string* error) {
  prepared->offset = request.offset;
  prepared->length = request.length;
  SourceFormat format = request.format;
  bool needsImage = request.partition || request.unallocated;
  if (request.path == "-") {
    if (needsImage || (format != SourceFormat::kAuto && format != SourceFormat::kRaw)) {
      *error = "standard input is read as raw bytes; evidence formats, --partition and --unallocated need a file";
      return false;
    }
    prepared->format = SourceFormat::kRaw;
    return true;
  }
  if (!platform::PathExists(request.path)) {
    *error = "cannot open source " + request.path + ": " + std::strerror(errno);
    return false;
  }
  const bool regular = platform::IsRegularFile(request.path);
  if (format == SourceFormat::kAuto) format = regular ? DetectSourceFormat(request.path) : SourceFormat::kRaw;
  if (format == SourceFormat::kRaw && regular && !CheckSegments(request.path, error)) return false;
  if (format == SourceFormat::kSplit && !CheckSegments(request.path, error)) return false;
  prepared->format = format;
  if (format == SourceFormat::kRaw && !needsImage) {
    std::error_code failed;
    uintmax_t bytes = regular ? std::filesystem::file_size(std::filesystem::u8path(request.path), failed) : 0;
    prepared->mediaSize = regular && !failed ? static_cast<uint64_t>(bytes) : 0;
    return true;
  }
  std::unique_ptr<Medium> image = OpenImage(request.path, format, error);
  if (!image) return false;
  prepared->mediaSize = image->Size();
  if (format != SourceFormat::kRaw)
    prepared->notes.push_back(std::string(SourceFormatName(format)) + " image of a " +
                              FormatBytes(image->Size()) + " disk");

  if (request.unallocated) {
    auto map = std::make_shared<MediaMap>();
    if (!CollectFreeSpace(*image, request.partition, map.get(), &prepared->notes, error)) return false;
    prepared->notes.push_back("free space scanned: " + FormatBytes(map->StreamSize()) + " of the " +
                              FormatBytes(image->Size()) + " media, in " + std::to_string(map->Runs().size()) +
                              " run(s)");
    prepared->freeSpace = map;
    prepared->medium = std::make_unique<FreeSpaceMedium>(std::move(image), map);
    return true;
  }
  if (request.partition) {
    VolumeLayout layout;
    if (!ReadLayout(*image, &layout, error)) return false;
    if (layout.system.empty()) {
      *error = "the source has no partition table, so there is no partition " + std::to_string(*request.partition);
      return false;
    }
    if (*request.partition == 0 || *request.partition > layout.partitions.size()) {
      *error = "there is no partition " + std::to_string(*request.partition) + " (the table lists " +
               std::to_string(layout.partitions.size()) + ")";
      return false;
    }
    const PartitionEntry& entry = layout.partitions[*request.partition - 1];
    prepared->offset = entry.start;
    prepared->length = std::min(entry.length, image->Size() > entry.start ? image->Size() - entry.start : 0);
    prepared->notes.push_back("partition " + std::to_string(entry.index) + ": " + FormatBytes(entry.length) +
                              " at offset " + std::to_string(entry.start) +
                              (entry.fileSystem.empty() ? "" : ", " + entry.fileSystem));
  }
  // A raw file keeps the tool's own reader: only the range changes.
  if (format != SourceFormat::kRaw) prepared->medium = std::move(image);
  return true;
}

bool ReadVolumeLayout(const std::string& path, SourceFormat format, VolumeLayout* layout, std::string* error) {
  if (path == "-") {
    *error = "partitions are read from a file or device, not from standard input";
    return false;
  }
  if (!platform::PathExists(path)) {
    *error = "cannot open source " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool regular = platform::IsRegularFile(path);
  if (format == SourceFormat::kAuto) format = regular ? DetectSourceFormat(path) : SourceFormat::kRaw;
  if ((format == SourceFormat::kRaw && regular) || format == SourceFormat::kSplit)
    if (!CheckSegments(path, error)) return false;
  std::unique_ptr<Medium> image = OpenImage(path, format, error);
  if (!image) return false;
  layout->format = format;
  return ReadLayout(*image, layout, error);
}

}  // namespace trcli
