// Sources beyond plain raw bytes: evidence containers (EWF, AFF, VHD, VMDK),
// raw images split into numbered segments, one partition of a volume system,
// and the free space of a file system. The Sleuth Kit reads all of these;
// when the tool is built without it, only raw files, devices and standard
// input can be read and asking for more is an error, never a fallback to
// scanning the container's own bytes.
//
// PrepareSource decides what a run reads. A raw file or device (whole or one
// partition of it) stays with the tool's own reader, which opens the path;
// anything else comes back as a Medium, random access to the bytes of the
// disk the image describes, so that offsets in reports are offsets in that
// disk. A free-space run reads a Medium that is the free blocks one after
// another; its map turns stream offsets back into pieces of the disk.
#ifndef TYPERECOVERY_CLI_EVIDENCESOURCE_H
#define TYPERECOVERY_CLI_EVIDENCESOURCE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MediaMap.h"

namespace trcli {

// Random access to the bytes of a disk. Not shared between threads.
class Medium {
 public:
  virtual ~Medium() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly size bytes at offset (offset + size <= Size()); false with
  // a message when any of them cannot be read.
  virtual bool ReadAt(uint64_t offset, uint8_t* into, size_t size, std::string* error) = 0;
  // True when a read error is a bad spot of a disk, read as zeros and
  // counted; false when it means a damaged image, which stops the run.
  virtual bool ZeroUnreadable() const = 0;
};

enum class SourceFormat { kAuto, kRaw, kSplit, kEwf, kAff, kVhd, kVmdk };
// auto, raw, split, ewf (or e01), aff, vhd, vmdk.
bool ParseSourceFormat(const std::string& name, SourceFormat* format);
const char* SourceFormatName(SourceFormat format);

// The container a file's own bytes show (kRaw when none), and kSplit for the
// first segment of a numbered series (name.001 with a name.002 beside it).
SourceFormat DetectSourceFormat(const std::string& path);

// True when this build reads evidence formats, partitions and file systems.
bool EvidenceSupportBuilt();

struct SourceRequest {
  std::string path;  // "-" is standard input
  SourceFormat format = SourceFormat::kAuto;
  std::optional<unsigned> partition;  // 1-based, as `partitions` lists them
  bool unallocated = false;
  uint64_t offset = 0;
  std::optional<uint64_t> length;
};

struct PreparedSource {
  SourceFormat format = SourceFormat::kRaw;
  std::unique_ptr<Medium> medium;  // null: the reader opens the path itself
  uint64_t offset = 0;             // the scanned range, in the medium
  std::optional<uint64_t> length;
  // Free-space runs: the medium is their concatenation.
  std::shared_ptr<const MediaMap> freeSpace;
  uint64_t mediaSize = 0;          // the whole disk, 0 when unknown
  // What the run reads and what it leaves out, in words, one line each.
  std::vector<std::string> notes;
};

// False with a message when the source cannot be read as asked.
bool PrepareSource(const SourceRequest& request, PreparedSource* prepared, std::string* error);

struct PartitionEntry {
  unsigned index = 0;   // 1-based among the allocated partitions
  uint64_t start = 0;   // bytes, in the media
  uint64_t length = 0;
  std::string type;        // as the volume system describes it
  std::string fileSystem;  // "" when none can be read
};

struct VolumeLayout {
  SourceFormat format = SourceFormat::kRaw;
  uint64_t mediaSize = 0;
  std::string system;      // e.g. "dos", "gpt"; "" when there is no table
  uint32_t sectorSize = 512;
  std::vector<PartitionEntry> partitions;
  std::string fileSystem;  // of the whole media when there is no table
};

bool ReadVolumeLayout(const std::string& path, SourceFormat format, VolumeLayout* layout, std::string* error);

}  // namespace trcli

#endif
