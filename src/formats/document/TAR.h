// CTypeRecoveryTAR: tar archives, walked block by block.
//
// A member is a 512-byte header (name, octal mode, owner, group, size, time
// and a checksum over the header) followed by its data in 512-byte blocks.
// The walk examines every block at which a member header is due, in order,
// as the strips arrive: a header whose checksum holds moves the walk on by
// its member. The archive ends with zero blocks: tar writes two and then
// pads with zeros to the end of its record (10 KiB by default), so the walk
// takes the zero blocks that follow the last member, after the second of
// them up to the first 10 KiB boundary, and the archive ends before the
// first block that is neither a member header nor such a zero block (an
// archive written with a smaller record and followed by zeros is taken with
// zeros up to the next 10 KiB boundary). A header that begins in a strip
// but ends in a later one is kept (ByteCarry) and examined when its last
// byte arrives; its bytes are written only once they are known to belong to
// the archive. The lookahead is never read, so the result is the same
// whatever the host gives. A tar header inside an archive in progress is a
// member, not a new archive. The archive also ends at the maximum (1 GiB,
// complete flag 0) or a flush.
//
// Progress record: the base record, then, only with a file in progress, the
// block cursor (8 bytes), the archive size so far (8 bytes), the zero blocks
// seen (4 bytes) and the kept bytes of a split block (a 32-bit count and the
// bytes).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_TAR_H
#define TYPERECOVERY_FORMATS_DOCUMENT_TAR_H

#include <cstdint>

#include "framework/ByteCarry.h"
#include "framework/TypeRecovery.h"

class CTypeRecoveryTAR : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryTAR, 1796)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint32_t kBlockSize = 512;
  static constexpr uint32_t kRecordSize = 20 * kBlockSize;  // tar's default blocking

  uint64_t GetArchiveSize() const { return m_archiveSize; }

 private:
  // The bytes from the block's start to the next block the walk examines,
  // or 0 when the archive ends before this block.
  uint64_t Examine(const uint8_t* block);

  uint64_t m_blockCursor;  // next block to examine, from the current strip's first byte
  uint64_t m_archiveSize;  // blocks walked so far
  uint32_t m_zeroBlocks;   // end-of-archive blocks walked
  typerecovery::ByteCarry<kBlockSize> m_split;  // a block begun in an earlier strip
};

#endif
