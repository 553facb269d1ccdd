// ISO base-media recognizers: MP4, MOV, 3GPP, 3GPP2, M4A audio and M4V video.
//
// CTypeRecoveryFTYP does the work: a file starts at a strip whose first box
// passes the class's header test, and is carved by walking its top-level
// boxes (32-bit big-endian size, 4-byte type) across strips. The file ends
// at the first box of size 0 or of a type that the class does not allow at
// the top level (complete flag 1; the file is exactly the boxes walked), at a
// new header of the same class at a strip start (cut, complete flag 0), or at
// the flush. The six subclasses state only their header test, their list of
// top-level box types and their extension. The type of the first box is
// judged by the header test, never by the box list.
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

class CTypeRecoveryFTYP : public CMediaStripCycle {
 public:
  // First box of a file: size at 0, type at 4; the major brand of an "ftyp"
  // box at 8.
  static constexpr uint32_t kBoxSizeOffset = 0;
  static constexpr uint32_t kBoxTypeOffset = 4;
  static constexpr uint32_t kMajorBrandOffset = 8;
  static constexpr uint32_t kBoxHeaderSize = 8;
  static constexpr uint32_t kMinHeaderLength = 17;

  CTypeRecoveryFTYP(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot);

  uint32_t SaveProgress(TypeRecoveryFile file) override;
  uint32_t LoadProgress(TypeRecoveryFile file) override;
  // Non-zero when a box of these 4 type bytes may stand at the top level.
  virtual uint32_t IsBoxTypeAccepted(const uint8_t* type) = 0;

  uint32_t GetBoxCursor() const { return m_boxCursor; }

 protected:
  // What all six header tests share: a buffer of at least 17
  // bytes whose first box size is not zero.
  static bool HasFirstBox(const uint8_t* buffer, uint32_t length);
  // The first box's type is "ftyp" and its major brand begins with brand
  // (compared over the brand's length, at most 4 bytes).
  static bool IsFtypWithBrand(const uint8_t* buffer, const char* brand);
  static bool IsBoxType(const uint8_t* type, const char* name);

  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

 private:
  uint32_t m_boxCursor;
  typerecovery::ByteCarry<kBoxHeaderSize> m_split;  // a box header begun in an earlier strip
  uint8_t m_held[kBoxHeaderSize];                   // its bytes, handed to the cycle to write
};

class CTypeRecoveryMP4 : public CTypeRecoveryFTYP {
 public:
  CTypeRecoveryMP4(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
  uint32_t IsBoxTypeAccepted(const uint8_t* type) override;
};

class CTypeRecoveryM4V : public CTypeRecoveryFTYP {
 public:
  CTypeRecoveryM4V(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
  uint32_t IsBoxTypeAccepted(const uint8_t* type) override;
};

class CTypeRecoveryMOV : public CTypeRecoveryFTYP {
 public:
  CTypeRecoveryMOV(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
  uint32_t IsBoxTypeAccepted(const uint8_t* type) override;
};

class CTypeRecovery3GP : public CTypeRecoveryFTYP {
 public:
  CTypeRecovery3GP(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
  uint32_t IsBoxTypeAccepted(const uint8_t* type) override;
};

class CTypeRecovery3G2 : public CTypeRecoveryFTYP {
 public:
  CTypeRecovery3G2(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
  uint32_t IsBoxTypeAccepted(const uint8_t* type) override;
};

// MPEG-4 audio (M4A and M4R ringtones), written as "m4a".
class CTypeRecoveryM4R : public CTypeRecoveryFTYP {
 public:
  CTypeRecoveryM4R(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;
  uint32_t IsBoxTypeAccepted(const uint8_t* type) override;
};

#endif
