// Pictures whose whole size their header states, on the fixed-size copy
// cycle (FixedSizeCycle.h): a new header at a strip start cuts the open file
// (reported incomplete with its bytes taken); a file ends, complete, at its
// declared size. Neither type has a size limit.
//
// - CTypeRecoveryICO (1540, "ico"): icon files. The size is the 6-byte
//   directory header plus, for each image, its 16-byte directory entry and
//   its image size. In report mode the end carries a picture record with the
//   width and height of the largest image.
// - CTypeRecoveryTPF (1564, "tpf"): TPF3 design files, sized by two header
//   fields at 0xB4 and 0xB8 (read only where the strip and its lookahead hold
//   them; missing fields count 0).
#ifndef TYPERECOVERY_FORMATS_IMAGE_DECLAREDSIZEPICTURES_H
#define TYPERECOVERY_FORMATS_IMAGE_DECLAREDSIZEPICTURES_H

#include "framework/cycles/DeclaredSizeRow.h"
#include "framework/cycles/FixedSizeCycle.h"

class CTypeRecoveryICO : public CFixedSizeCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryICO, 1540)
  TYPERECOVERY_PROGRESS_FIELDS

 private:
  uint64_t DeclaredSize(const typerecovery::ByteView& header) const override;
  void OnFileBegun(const typerecovery::ByteView& header, uint32_t* errorFlag) override;
  bool PictureRecord(tag_PictureInfo* record) const override;

  uint32_t m_width;  // of the largest image
  uint32_t m_height;
};

// class, type code, extension, the bytes the header test needs.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryTPF, 1564, u"tpf", 17)

#endif
