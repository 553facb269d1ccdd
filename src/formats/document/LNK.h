// CTypeRecoveryLNK: shell-link (shortcut) files.
//
// A shell link is a fixed 76-byte header followed by optional parts whose
// presence the header's link flags announce: the target ID list, the link
// info, the counted strings (name, relative path, working directory,
// arguments, icon location and two more), and the extra-data blocks closed by
// a terminal block. The recognizer steps over the parts in that order,
// across strips, adding up their sizes; a part's size field is read where it
// begins inside the strip or its lookahead. The file ends in the strip where
// the bytes taken pass the summed size (one that ends exactly at a strip's end
// is ended in the next strip, with nothing more written), at a zero link-info
// size (cut, with the strip written whole), at 1 MiB, at its own next header,
// at a flush, or before the first strip in which the manager's header pass
// found another format (a strip that begins with an MP3 frame sync byte 0xFF
// does not count, it is too common inside data).
//
// The summed size counts the link info's size field twice and leaves out the
// terminal block, so a shortcut with link info ends at its terminal block's
// end and one without it 4 bytes short of it.
//
// Progress record: the base record, then, only with a file in progress, the
// size so far (8 bytes), the part cursor (8), the link flags (4) and the
// pending parts (2).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_LNK_H
#define TYPERECOVERY_FORMATS_DOCUMENT_LNK_H

#include <cstdint>

#include "framework/TypeRecovery.h"

class CTypeRecoveryLNK : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryLNK, 2309)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint32_t kHeaderSize = 76;
  static constexpr uint16_t kAllParts = 0xC0FF;

  uint64_t GetSizeSoFar() const { return m_sizeSoFar; }
  uint16_t GetPendingParts() const { return m_pendingParts; }

 private:
  // Steps over the parts that begin before limit; false when a zero link-info
  // size ends the file.
  bool WalkParts(const typerecovery::ByteView& view);

  uint64_t m_sizeSoFar;
  uint64_t m_partCursor;  // from the current strip's first byte
  uint32_t m_linkFlags;
  uint16_t m_pendingParts;
};

#endif
