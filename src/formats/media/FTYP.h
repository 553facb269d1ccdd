// ISO base-media recognizers: MP4, MOV, 3GPP, 3GPP2, M4A audio and M4V video.
//
// CTypeRecoveryFTYP does the work: a file starts at a strip whose first box
// passes the class's header test, and is carved by walking its top-level
// boxes (32-bit big-endian size, 4-byte type) across strips. The file ends
// at the first box of size 0 or of a type that the class does not allow at
// the top level (complete flag 1; the file is exactly the boxes walked), at a
// new header of the same class at a strip start (cut, complete flag 0), or at
// the flush. The six classes differ only in a row (IsoMediaRow): type code,
// extension, the major brands of their first "ftyp" box and the top-level
// box types they allow. The type of the first box is judged by the header
// test, never by the box list.
//
// Box sizes are 32-bit only: a size of 1 (a 64-bit size in the format) is a
// 1-byte box, after which the walk normally meets an unknown type and ends.
// The box cursor (the next box header, counted from the current strip's first
// byte) is the state kept beyond the base, with the first bytes of a box
// header that a strip end splits: those are kept (and not yet written) until
// the next strip completes the header, so that the walk decides the same
// whatever the lookahead. The progress record adds both while a file is in
// progress. Box headers are read only inside the strip plus lookahead.
#ifndef TYPERECOVERY_FORMATS_MEDIA_FTYP_H
#define TYPERECOVERY_FORMATS_MEDIA_FTYP_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"
#include "framework/ByteCarry.h"

// What one ISO-media class is: numbers and names, read by CTypeRecoveryFTYP.
struct IsoMediaRow {
  uint32_t typeCode;
  const char16_t* extension;
  // Major brands of a first "ftyp" box that make the file this class's, each
  // compared over its own length (a 3-byte brand takes any fourth byte);
  // null ends the list.
  const char* brands[5];
  // A brand that the list would take but that belongs to another class.
  const char* excludedBrand;
  // A file may also open with its "mdat" box (no "ftyp").
  bool opensWithMediaData;
  // The box types allowed at the top level; null ends the list.
  const char* boxes[7];
};

class CTypeRecoveryFTYP : public CMediaStripCycle {
 public:
  TYPERECOVERY_PROGRESS_FIELDS
  // First box of a file: size at 0, type at 4; the major brand of an "ftyp"
  // box at 8.
  static constexpr uint32_t kBoxSizeOffset = 0;
  static constexpr uint32_t kBoxTypeOffset = 4;
  static constexpr uint32_t kMajorBrandOffset = 8;
  static constexpr uint32_t kBoxHeaderSize = 8;
  static constexpr uint32_t kMinHeaderLength = 17;

  CTypeRecoveryFTYP(const IsoMediaRow& row, CTypeRecoveryManager* host, const char16_t* outputRoot);

  // A first box of at least 17 bytes, of non-zero size, whose type or major
  // brand the row names.
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  // Non-zero when a box of these 4 type bytes may stand at the top level.
  uint32_t IsBoxTypeAccepted(const uint8_t* type) const;

  uint32_t GetBoxCursor() const { return m_boxCursor; }

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

 private:
  const IsoMediaRow& m_row;
  uint32_t m_boxCursor;
  typerecovery::ByteCarry<kBoxHeaderSize> m_split;  // a box header begun in an earlier strip
  uint8_t m_held[kBoxHeaderSize];                   // its bytes, handed to the cycle to write
};

// One named class per row; the rows are in FTYP.cpp.
#define TYPERECOVERY_ISO_MEDIA_CLASS(Class)                                     \
  class Class : public CTypeRecoveryFTYP {                                     \
   public:                                                                     \
    static const IsoMediaRow kRow;                                             \
    Class(CTypeRecoveryManager* host, const char16_t* outputRoot)              \
        : CTypeRecoveryFTYP(kRow, host, outputRoot) {}                         \
    CTypeRecovery* Clone() override;                                           \
  };

TYPERECOVERY_ISO_MEDIA_CLASS(CTypeRecoveryMP4)
TYPERECOVERY_ISO_MEDIA_CLASS(CTypeRecoveryM4V)
TYPERECOVERY_ISO_MEDIA_CLASS(CTypeRecoveryMOV)
TYPERECOVERY_ISO_MEDIA_CLASS(CTypeRecovery3GP)
TYPERECOVERY_ISO_MEDIA_CLASS(CTypeRecovery3G2)
// MPEG-4 audio (M4A and M4R ringtones), written as "m4a".
TYPERECOVERY_ISO_MEDIA_CLASS(CTypeRecoveryM4R)

#undef TYPERECOVERY_ISO_MEDIA_CLASS

#endif
