// CTypeRecoveryOCI: chunked image documents. A file is a chain of chunks,
// each a 4-byte tag ("O" and three capital letters) and a little-endian
// 32-bit size, stepped over as size + 8; the first chunk is "OPIM" with size
// 48. The chain ends at the first position that holds no such tag.
//
// The walk keeps a chunk cursor (from the current strip's first byte), the
// chain size so far and a walking flag, and reads a chunk header wherever 8
// bytes are readable at the cursor in the strip or its lookahead; a header
// that starts in the lookahead and is cut off there is read in the next
// strip. These choices are this recognizer's own:
// - End: when the chain has ended, the expected size is the chain size and
//   the file is cut at exactly that size in the strip where the bytes taken
//   reach it (a chain that ends at a strip's end ends with that strip),
//   reported with the complete flag 1.
// - A chunk header that begins inside the strip but cannot be read whole (no
//   lookahead to hold it) is taken as the end of the chain: the bytes would
//   be gone by the next strip.
// - A chunk size whose step wraps to zero in 32 bits cannot move the cursor:
//   the file is cut with this strip taken whole (complete flag 0), or dropped
//   when it breaks in its first strip.
// - A maximum file size set by the host ends the file with the complete flag
//   0; the class itself sets none. A new OPIM header cuts the file in
//   progress (complete flag 0). Reports are made in report mode only; the
//   expected size follows the bytes taken until the chain's end is known.
//
// Progress record: the base record, then, only with a file in progress, the
// chunk cursor (8 bytes), the chain size so far (8) and the walking flag (1).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_OCI_H
#define TYPERECOVERY_FORMATS_DOCUMENT_OCI_H

#include <cstdint>

#include "framework/TypeRecovery.h"

class CTypeRecoveryOCI : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryOCI, 1561)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

 private:
  enum class Walk { Going, ChainEnded, Broken };
  Walk WalkChunks(const typerecovery::ByteView& view, uint32_t length);

  uint64_t m_chunkCursor;  // from the current strip's first byte
  uint64_t m_chainSize;    // chunks stepped over so far
  uint8_t m_walking;       // the chain's end is not found yet
};

#endif
