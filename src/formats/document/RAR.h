// CTypeRecoveryRAR: RAR 4 archives, carved by walking their chain of blocks
// from strip to strip until the end-of-archive block.
//
// Every block begins with a 7-byte header base (CRC, type, flags, header
// size) usually followed by a 32-bit data size; a block's step is header size
// plus data size. The walk keeps a block cursor counted from the current
// strip's first byte and the archive size so far; a block header that begins
// inside a strip is read there, its 11 bytes possibly from the lookahead. The
// archive ends at the end-of-archive block (complete), at a block of unknown
// type (the archive is taken as the blocks walked, complete; the file on disk
// holds the whole strip), at a zero step (broken chain, cut), at 10 GiB or at
// the next RAR header. Nothing walked yet at such an end discards the file.
// RAR 5 archives (a different signature) are not recognised.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_RAR_H
#define TYPERECOVERY_FORMATS_DOCUMENT_RAR_H

#include "framework/TypeRecovery.h"

class CTypeRecoveryRAR : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryRAR, 1794)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

 private:
  uint64_t m_blockCursor;   // next block header, from the current strip's first byte
  uint64_t m_archiveSize;   // marker, archive header and every block stepped over
};

#endif
