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

// Sets *picture to the record of the file of that extension found at the
// start of the size bytes at start (read with read), with the run's type
// selection and strip size: nothing when that file carries none. False,
// with *picture as it was, when the bytes cannot be read or the file is
// not found again.
bool PictureOfBytes(const ReadFunction& read, uint64_t start, uint64_t size, const std::string& extension,
                    const TypeSelection& selection, uint32_t block, std::optional<PictureData>* picture);

// The same over a file written to the output folder.
bool PictureOfWrittenFile(const std::string& path, const std::string& extension, const TypeSelection& selection,
                          uint32_t block, std::optional<PictureData>* picture);

}  // namespace trcli

#endif
