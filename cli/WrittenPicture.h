// The picture record of a found file made again from its bytes, as a
// report-mode pass over them gives it. A file continued after a stop is
// ended by a recognizer that saw only its later strips; its EXIF fields
// (taken from the file's first bytes) come from here instead.
#ifndef TYPERECOVERY_CLI_WRITTENPICTURE_H
#define TYPERECOVERY_CLI_WRITTENPICTURE_H

#include <cstdint>
#include <optional>
#include <string>

#include "Hasher.h"
#include "ReportWriter.h"
#include "TypeCatalog.h"

namespace trcli {

// The record of the file of that extension found at the start of the size
// bytes at start (read with read), with the run's type selection and strip
// size; nothing when none is found or the bytes cannot be read.
std::optional<PictureData> PictureOfBytes(const ReadFunction& read, uint64_t start, uint64_t size,
                                          const std::string& extension, const TypeSelection& selection,
                                          uint32_t block);

// The same over a file written to the output folder.
std::optional<PictureData> PictureOfWrittenFile(const std::string& path, const std::string& extension,
                                                const TypeSelection& selection, uint32_t block);

}  // namespace trcli

#endif
