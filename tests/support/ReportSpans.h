// Found-file reports in one comparable line, so that a table of crafted
// inputs can state its expected outcome as text: "wav@0+1024~ wav@1024+708"
// is two files, the first of 1024 bytes at offset 0 reported incomplete (~).
#ifndef TYPERECOVERY_TESTS_SUPPORT_REPORTSPANS_H
#define TYPERECOVERY_TESTS_SUPPORT_REPORTSPANS_H

#include <string>
#include <vector>

#include "support/Carving.h"

namespace trtest {

inline std::string Spans(const std::vector<Report>& reports) {
  std::string out;
  for (const Report& r : reports) {
    if (!out.empty()) out += ' ';
    out += r.extension + "@" + std::to_string(r.start) + "+" + std::to_string(r.size);
    if (r.complete != 1) out += '~';
  }
  return out;
}

// Report mode over the whole image, as Spans.
inline std::string CarvedSpans(const std::vector<AddedType>& types, const std::vector<uint8_t>& image,
                               uint32_t strip = 512, uint32_t lookahead = 64) {
  return Spans(ReportRun(types, image, strip, lookahead));
}

// Folder mode over the whole image: the files written, as TempDir::Files.
inline std::vector<std::string> CarvedFiles(const std::vector<AddedType>& types,
                                            const std::vector<uint8_t>& image, uint32_t strip = 512,
                                            uint32_t lookahead = 64) {
  TempDir dir;
  FolderRun(dir, types, image, strip, lookahead);
  return dir.Files();
}

}  // namespace trtest

#endif
