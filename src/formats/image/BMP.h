// CTypeRecoveryBMP: Windows bitmap files (type 1537, "bmp").
//
// A file starts at a strip that begins with a plausible BITMAPFILEHEADER and
// info header ("BM", zero reserved field, an info-header size that writers
// use (12, 16, 40, 52, 56 or 64, and the 108 and 124 of versions 4 and 5,
// which ImageMagick writes for 32-bit pictures), a pixel data offset no
// further than the headers and a 256-entry palette, width, height and bit
// depth within bounds; a negative, top-down height is refused). Its size is taken from the header once, as the larger of the
// file-size field and pixel data offset plus image size, and the file ends
// complete when that many bytes have been taken; the data itself is not
// checked. BMP has no size limit; a new BMP header at a strip start cuts the
// open file (reported incomplete, with the bytes taken so far). The picture
// record carries the header's width and height.
#ifndef TYPERECOVERY_FORMATS_IMAGE_BMP_H
#define TYPERECOVERY_FORMATS_IMAGE_BMP_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryBMP : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryBMP, 1537)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  ~CTypeRecoveryBMP() override;

 private:
  uint32_t m_width;
  uint32_t m_height;
};

#endif
