// The picture record of the recognizers that know only a picture's size: a
// zero-filled tag_PictureInfo carrying its record size, type code, width and
// height. Recognizers build it on their stack at a file's end in report mode
// and hand its address to the found-file callback.
#ifndef TYPERECOVERY_FORMATS_IMAGE_BASICPICTURERECORD_H
#define TYPERECOVERY_FORMATS_IMAGE_BASICPICTURERECORD_H

#include <cstdint>

#include "typerecovery.h"

namespace typerecovery {

inline tag_PictureInfo MakeBasicPictureRecord(uint32_t typeCode, uint32_t width, uint32_t height) {
  tag_PictureInfo record{};
  record.size = sizeof(tag_PictureInfo);
  record.typeCode = typeCode;
  record.width = width;
  record.height = height;
  return record;
}

}  // namespace typerecovery

#endif
