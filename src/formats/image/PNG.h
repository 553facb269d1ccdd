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
// The recognizer reads only the strip and its lookahead. The chunk walk is
// the shared record walk (RecordWalk.h): a chunk header cut by a strip end
// with too little lookahead is finished from a copy of its first bytes kept
// until the next strip.
#ifndef TYPERECOVERY_FORMATS_IMAGE_PNG_H
#define TYPERECOVERY_FORMATS_IMAGE_PNG_H

#include "formats/image/RecordWalk.h"
#include "framework/TypeRecovery.h"

class CTypeRecoveryPNG : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryPNG, 1539)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_RECORD

  ~CTypeRecoveryPNG() override;

 private:
  // What the walk does with the chunk whose header starts the view.
  typerecovery::RecordWalk::Step VisitChunk(const typerecovery::ByteView& header);

  typerecovery::RecordWalk m_chunks;  // the next chunk; stops at IEND or an unknown type
  uint32_t m_width;
  uint32_t m_height;
};

#endif
