// Report-mode runs of one image type over crafted bytes, with a first strip
// of its own length (large enough for the header test) and short strips
// after it, so that records and fields fall across strip ends.
#ifndef TYPERECOVERY_TESTS_FORMATS_IMAGE_IMAGESTRIPS_H
#define TYPERECOVERY_TESTS_FORMATS_IMAGE_IMAGESTRIPS_H

#include <algorithm>
#include <vector>

#include "formats/image/PictureCarving.h"

namespace imgtest {

inline std::vector<trtest::Report> Run(uint32_t code, const std::vector<uint8_t>& image,
                                       uint32_t first, uint32_t strip, uint32_t lookahead,
                                       uint64_t maxSize = ~uint64_t{0}) {
  pictest::ReportScan scan(std::vector<doctest::AddedType>{{code, maxSize}});
  uint32_t length = first;
  for (size_t pos = 0; pos < image.size(); pos += length, length = strip) {
    length = static_cast<uint32_t>(std::min<size_t>(length, image.size() - pos));
    scan.Strip(image, pos, length, lookahead);
  }
  scan.Flush();
  return scan.log.reports;
}

// Bytes followed by zero filler.
inline std::vector<uint8_t> Padded(std::vector<uint8_t> bytes, size_t filler) {
  bytes.insert(bytes.end(), filler, 0);
  return bytes;
}

}  // namespace imgtest

#endif
