// The Sleuth Kit behind EvidenceSource: images of every format it reads,
// their volume systems, and the free blocks of their file systems.
#include "SleuthKit.h"

#include <tsk/libtsk.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "Sizes.h"

namespace trcli {
namespace {

std::string LibraryError(const char* fallback) {
  const char* text = tsk_error_get();
  std::string message = text != nullptr && *text != 0 ? text : fallback;
  tsk_error_reset();
  // The library's messages stack one line per layer: keep them on one line.
  for (char& c : message)
    if (c == '\n') c = ' ';
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

// Every EWF segment file ends with a section descriptor (16-byte type,
// next offset, size, padding, checksum: 76 bytes) that says whether another
// segment follows ("next") or the set ends here ("done"). A set whose last
// file says "next" lacks segments; a file that ends in neither was cut.
bool CheckEwfSegments(const TSK_IMG_INFO* image, std::string* error) {
  constexpr size_t kDescriptorSize = 76;
  for (int i = 0; i < image->num_img; ++i) {
    const char* name = image->images[i];
    char type[16] = {};
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    off_t end = fd >= 0 ? ::lseek(fd, 0, SEEK_END) : -1;
    bool read = end >= static_cast<off_t>(kDescriptorSize) &&
                ::pread(fd, type, sizeof type, end - static_cast<off_t>(kDescriptorSize)) == sizeof type;
    if (fd >= 0) ::close(fd);
    bool last = i + 1 == image->num_img;
    if (read && std::strncmp(type, last ? "done" : "next", sizeof type) == 0) continue;
    if (read && last && std::strncmp(type, "next", sizeof type) == 0)
      *error = std::string("the EWF segment after ") + name + " is missing";
    else
      *error = std::string("the EWF segment ") + name + " is damaged or cut short";
    return false;
  }
  return true;
}

struct VolumeSystemCloser {
  void operator()(TSK_VS_INFO* vs) const { tsk_vs_close(vs); }
};
struct FileSystemCloser {
  void operator()(TSK_FS_INFO* fs) const { tsk_fs_close(fs); }
};
using VolumeSystem = std::unique_ptr<TSK_VS_INFO, VolumeSystemCloser>;
using FileSystem = std::unique_ptr<TSK_FS_INFO, FileSystemCloser>;

class ImageMedium : public Medium {
 public:
  ImageMedium(TSK_IMG_INFO* image, bool container) : m_image(image), m_container(container) {}
  ~ImageMedium() override { tsk_img_close(m_image); }
  uint64_t Size() const override { return static_cast<uint64_t>(m_image->size); }
  bool ZeroUnreadable() const override { return !m_container; }
  bool ReadAt(uint64_t offset, uint8_t* into, size_t size, std::string* error) override {
    while (size > 0) {
      ssize_t got = tsk_img_read(m_image, static_cast<TSK_OFF_T>(offset), reinterpret_cast<char*>(into), size);
      if (got <= 0) {
        *error = "cannot read the image at offset " + std::to_string(offset) + ": " +
                 LibraryError("the image ends early");
        return false;
      }
      offset += static_cast<uint64_t>(got);
      into += got;
      size -= static_cast<size_t>(got);
    }
    return true;
  }
  TSK_IMG_INFO* Image() const { return m_image; }

 private:
  TSK_IMG_INFO* m_image;
  bool m_container;
};

TSK_IMG_INFO* ImageOf(Medium& medium) {
  auto* image = dynamic_cast<ImageMedium*>(&medium);
  return image != nullptr ? image->Image() : nullptr;
}

TSK_IMG_TYPE_ENUM ImageType(SourceFormat format) {
  switch (format) {
    case SourceFormat::kEwf: return TSK_IMG_TYPE_EWF_EWF;
    case SourceFormat::kAff: return TSK_IMG_TYPE_AFF_ANY;
    case SourceFormat::kVhd: return TSK_IMG_TYPE_VHD_VHD;
    case SourceFormat::kVmdk: return TSK_IMG_TYPE_VMDK_VMDK;
    default: return TSK_IMG_TYPE_RAW;
  }
}

// The file system at a byte offset of the image, or of a partition.
FileSystem OpenFileSystem(TSK_IMG_INFO* image, const TSK_VS_PART_INFO* part) {
  TSK_FS_INFO* fs = part != nullptr ? tsk_fs_open_vol(part, TSK_FS_TYPE_DETECT)
                                    : tsk_fs_open_img(image, 0, TSK_FS_TYPE_DETECT);
  return FileSystem(fs);
}

std::string FileSystemName(const TSK_FS_INFO* fs) {
  const char* name = tsk_fs_type_toname(fs->ftype);
  return name != nullptr ? name : "unknown";
}

// The allocated partitions in table order: the ones `partitions` numbers.
std::vector<const TSK_VS_PART_INFO*> Partitions(const TSK_VS_INFO* vs) {
  std::vector<const TSK_VS_PART_INFO*> parts;
  for (TSK_PNUM_T i = 0; i < vs->part_count; ++i) {
    const TSK_VS_PART_INFO* part = tsk_vs_part_get(vs, i);
    if (part != nullptr && (part->flags & TSK_VS_PART_FLAG_ALLOC) != 0) parts.push_back(part);
  }
  return parts;
}

VolumeSystem OpenVolumeSystem(TSK_IMG_INFO* image) {
  // GPT first: a GPT disk also holds a protective MBR, and the library's
  // own detection, finding both, loses the MBR's partition list.
  VolumeSystem vs(tsk_vs_open(image, 0, TSK_VS_TYPE_GPT));
  if (!vs) vs.reset(tsk_vs_open(image, 0, TSK_VS_TYPE_DETECT));
  tsk_error_reset();  // no table is not an error: the media may hold a file system
  return vs;
}

struct FreeWalk {
  MediaMap* map;
  uint64_t base;       // byte offset of the file system in the media
  uint64_t blockSize;
  uint64_t mediaSize;
  uint64_t bytes = 0;
};

TSK_WALK_RET_ENUM OnFreeBlock(const TSK_FS_BLOCK* block, void* context) {
  FreeWalk& walk = *static_cast<FreeWalk*>(context);
  uint64_t offset = walk.base + static_cast<uint64_t>(block->addr) * walk.blockSize;
  // Blocks that a truncated image does not hold cannot be read back.
  if (offset >= walk.mediaSize) return TSK_WALK_STOP;
  uint64_t length = std::min(walk.blockSize, walk.mediaSize - offset);
  walk.map->Add(offset, length);
  walk.bytes += length;
  return TSK_WALK_CONT;
}

// Adds the free blocks of one file system; a note says what they came to.
bool AddFreeBlocks(TSK_FS_INFO* fs, uint64_t mediaSize, const std::string& where, MediaMap* map,
                   std::vector<std::string>* notes, std::string* error) {
  FreeWalk walk{map, static_cast<uint64_t>(fs->offset), fs->block_size, mediaSize};
  size_t runsBefore = map->Runs().size();
  auto flags = static_cast<TSK_FS_BLOCK_WALK_FLAG_ENUM>(TSK_FS_BLOCK_WALK_FLAG_UNALLOC |
                                                        TSK_FS_BLOCK_WALK_FLAG_AONLY);
  if (tsk_fs_block_walk(fs, fs->first_block, fs->last_block, flags, OnFreeBlock, &walk) != 0) {
    *error = "cannot read the free blocks of " + where + ": " + LibraryError("block walk failed");
    return false;
  }
  uint64_t total = static_cast<uint64_t>(fs->block_count) * fs->block_size;
  notes->push_back(where + ": " + FileSystemName(fs) + ", " + FormatBytes(walk.bytes) + " free of " +
                   FormatBytes(total) + " in " + std::to_string(map->Runs().size() - runsBefore) + " run(s)");
  return true;
}

}  // namespace

bool EvidenceSupportBuilt() { return true; }

std::unique_ptr<Medium> OpenImage(const std::string& path, SourceFormat format, std::string* error) {
  tsk_error_reset();
  TSK_IMG_INFO* image = tsk_img_open_utf8_sing(path.c_str(), ImageType(format), 0);
  if (image == nullptr) {
    *error = "cannot open " + path + " as a " + SourceFormatName(format) + " image: " +
             LibraryError("not readable");
    return nullptr;
  }
  if (format == SourceFormat::kEwf && !CheckEwfSegments(image, error)) {
    tsk_img_close(image);
    return nullptr;
  }
  bool container = format != SourceFormat::kRaw && format != SourceFormat::kSplit;
  auto medium = std::make_unique<ImageMedium>(image, container);
  // A missing or cut segment shows at the end of the media at the latest.
  uint8_t last[512];
  uint64_t size = medium->Size();
  size_t tail = static_cast<size_t>(std::min<uint64_t>(sizeof last, size));
  if (size == 0 || !medium->ReadAt(size - tail, last, tail, error)) {
    *error = path + " is damaged or incomplete (a segment missing or cut short?): " +
             (size == 0 ? std::string("it describes no data") : *error);
    return nullptr;
  }
  return medium;
}

bool ReadLayout(Medium& medium, VolumeLayout* layout, std::string* error) {
  TSK_IMG_INFO* image = ImageOf(medium);
  if (image == nullptr) {
    *error = "not an image opened through The Sleuth Kit";
    return false;
  }
  layout->mediaSize = medium.Size();
  VolumeSystem vs = OpenVolumeSystem(image);
  if (!vs) {
    FileSystem fs = OpenFileSystem(image, nullptr);
    tsk_error_reset();
    if (fs) layout->fileSystem = FileSystemName(fs.get());
    return true;
  }
  const char* system = tsk_vs_type_toname(vs->vstype);
  layout->system = system != nullptr ? system : "unknown";
  layout->sectorSize = vs->block_size;
  unsigned index = 0;
  for (const TSK_VS_PART_INFO* part : Partitions(vs.get())) {
    PartitionEntry entry;
    entry.index = ++index;
    entry.start = static_cast<uint64_t>(part->start) * vs->block_size + static_cast<uint64_t>(vs->offset);
    entry.length = static_cast<uint64_t>(part->len) * vs->block_size;
    entry.type = part->desc != nullptr ? part->desc : "";
    FileSystem fs = OpenFileSystem(image, part);
    tsk_error_reset();
    if (fs) entry.fileSystem = FileSystemName(fs.get());
    layout->partitions.push_back(entry);
  }
  return true;
}

bool CollectFreeSpace(Medium& medium, std::optional<unsigned> partition, MediaMap* map,
                      std::vector<std::string>* notes, std::string* error) {
  TSK_IMG_INFO* image = ImageOf(medium);
  if (image == nullptr) {
    *error = "not an image opened through The Sleuth Kit";
    return false;
  }
  VolumeSystem vs = OpenVolumeSystem(image);
  if (!vs) {
    if (partition) {
      *error = "the source has no partition table, so there is no partition " + std::to_string(*partition);
      return false;
    }
    FileSystem fs = OpenFileSystem(image, nullptr);
    if (!fs) {
      *error = "--unallocated needs a file system, and none that can be read was found in the source (" +
               LibraryError("unknown file system") + ")";
      return false;
    }
    return AddFreeBlocks(fs.get(), medium.Size(), "the whole media", map, notes, error);
  }
  std::vector<const TSK_VS_PART_INFO*> parts = Partitions(vs.get());
  if (partition && (*partition == 0 || *partition > parts.size())) {
    *error = "there is no partition " + std::to_string(*partition) + " (the table lists " +
             std::to_string(parts.size()) + ")";
    return false;
  }
  unsigned readable = 0;
  for (unsigned index = 1; index <= parts.size(); ++index) {
    if (partition && index != *partition) continue;
    std::string where = "partition " + std::to_string(index);
    FileSystem fs = OpenFileSystem(image, parts[index - 1]);
    if (!fs) {
      std::string why = LibraryError("unknown file system");
      if (partition) {
        *error = "--unallocated needs a file system, and " + where + " holds none that can be read (" + why + ")";
        return false;
      }
      notes->push_back(where + ": no file system that can be read (" + why + "); not scanned");
      continue;
    }
    if (!AddFreeBlocks(fs.get(), medium.Size(), where, map, notes, error)) return false;
    ++readable;
  }
  if (readable == 0) {
    *error = "--unallocated needs a file system, and no partition holds one that can be read";
    return false;
  }
  if (!partition) notes->push_back("space outside the partitions is not scanned");
  return true;
}

}  // namespace trcli
