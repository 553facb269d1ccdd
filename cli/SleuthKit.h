// The Sleuth Kit behind EvidenceSource: opening a disk image of any format
// it reads, its volume system, and the free blocks of its file systems.
// SleuthKitAbsent.cpp answers every call with an error in builds without it.
#ifndef TYPERECOVERY_CLI_SLEUTHKIT_H
#define TYPERECOVERY_CLI_SLEUTHKIT_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EvidenceSource.h"

namespace trcli {

// The image at path in the given format (never kAuto); for EWF and split
// raw the other segments are found beside the first.
std::unique_ptr<Medium> OpenImage(const std::string& path, SourceFormat format, std::string* error);

// The volume system of an image from OpenImage (partitions numbered from 1
// in table order, allocated ones only), or the file system of the whole
// image when it has no table.
bool ReadLayout(Medium& image, VolumeLayout* layout, std::string* error);

// Appends to map, in block order, the blocks that the file system of the
// partition (or of every partition with one it can read, or of the whole
// image when there is no table) marks free. notes say what each file system
// gave and what was left out; false when nothing asked for can be read.
bool CollectFreeSpace(Medium& image, std::optional<unsigned> partition, MediaMap* map,
                      std::vector<std::string>* notes, std::string* error);

}  // namespace trcli

#endif
