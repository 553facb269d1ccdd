// CTypeRecoveryPNG: Portable Network Graphics files (type 1539, "png").
//
// A file starts at a strip that begins with the eight-byte PNG signature. The
// recognizer walks the chunk list (big-endian length, four-letter type, data,
// CRC) across strips; the walk stops at IEND, at a chunk type it does not
// know, or at a corrupt chunk length, and the file ends 12 bytes after the
// start of that chunk (the size of an empty IEND chunk). Only IEND ends a
// file complete. IHDR gives the width and height of the picture record sent
// in report mode. PNG has no size limit; a new PNG signature at a strip start
// cuts the open file (reported incomplete).
//
// The recognizer reads only the strip and its lookahead. A chunk header cut
// by a strip end with too little lookahead is finished from a copy of its
// first bytes (at most 15) kept until the next strip.
#ifndef TYPERECOVERY_FORMATS_IMAGE_PNG_H
#define TYPERECOVERY_FORMATS_IMAGE_PNG_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryPNG : public CTypeRecovery {
 public:
  static constexpr uint32_t kTypeCode = 1539;

  CTypeRecoveryPNG(CTypeRecoveryManager* host, const char16_t* outputRoot);
  ~CTypeRecoveryPNG() override;

  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  uint32_t SaveProgress(TypeRecoveryFile file) override;
  uint32_t LoadProgress(TypeRecoveryFile file) override;
  CTypeRecovery* Clone() override;

 private:
  // Chunk-walk flag values: walking, or stopped at the chunk the file ends from.
  enum : uint8_t { kStoppedAtIend = 0, kWalking = 1, kStoppedAtOther = 2 };

  void WalkChunks(const typerecovery::ByteView& data, uint32_t length);
  // Keeps the part of the next chunk's header that lies in this strip.
  void KeepCutHeader(const typerecovery::ByteView& data, uint32_t length);
  // The next chunk's first bytes (up to 16) as far as they can be read.
  typerecovery::ByteView ChunkHeader(const typerecovery::ByteView& data, uint8_t* window) const;

  uint64_t m_chunkFileOffset;   // next chunk's offset in the file
  int64_t m_chunkStripOffset;   // the same, counted from the current strip's first byte
  uint8_t m_walk;
  uint32_t m_width;
  uint32_t m_height;
  uint8_t m_carry[16];          // first bytes of a chunk header cut by the last strip end
  uint32_t m_carryLength;
};

#endif
