// CTypeRecoveryGIF: GIF87a and GIF89a pictures (type 1538, "gif").
//
// A file starts at a strip that begins with "GIF87a" or "GIF89a". The
// recognizer skips the logical screen descriptor and global colour table,
// then walks the block list across strips: extensions ("!") and images (","
// with their descriptor, local colour table and LZW sub-blocks). Any other
// byte between blocks ends the file just after it; the file is complete only
// when that byte is the trailer ";". Only the strip's own bytes are examined.
// GIF has no size limit; a new GIF signature at a strip start cuts the open
// file (reported incomplete). The picture record carries the logical screen
// width and height.
#ifndef TYPERECOVERY_FORMATS_IMAGE_GIF_H
#define TYPERECOVERY_FORMATS_IMAGE_GIF_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryGIF : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryGIF, 1538)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  ~CTypeRecoveryGIF() override;

 private:
  // Walks the blocks inside the strip; answers true when the file ends, with
  // *end just after its last byte and *complete set for the trailer.
  bool WalkBlocks(const uint8_t* strip, uint32_t length, uint32_t* end, bool* complete);

  uint32_t m_position;  // next byte of the walk, counted from the current strip's first byte
  uint8_t m_inExtension;
  uint8_t m_descriptorPending;
  uint8_t m_inImageData;
  uint32_t m_width;
  uint32_t m_height;
};

#endif
