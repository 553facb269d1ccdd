// Camera-raw files whose size is known only at their end, where the format
// places a directory: the recognizer tries every byte position of every
// strip for that closing directory and ends the file right after it. Both
// run on the media strip cycle: a new header at a strip start cuts the open
// file (reported incomplete with its bytes taken); a file whose directory
// never comes ends, incomplete, in the strip where its bytes reach the
// maximum file size. A directory's last bytes may lie in the lookahead; the
// file then ends inside it. No picture record is sent.
//
// - CTypeRecoveryCRW (524, "crw", 16 MiB): CIFF raw images. The root heap
//   starts at the header length (u32 at 2) and closes with its record table:
//   a u16 count N, N 10-byte records (u16 type, u32 length, u32 offset) and
//   the u32 offset of the table in the heap. A table is taken as the closing
//   one when its offset plus the header length is its own file offset and
//   the last record ends where the table begins.
// - CTypeRecoveryX3F (525, "x3f", 64 MiB): raw images that end with their
//   "SECd" directory section (a 12-byte header whose u32 at 8 is the entry
//   count, 12-byte entries, and the 4-byte pointer to the directory). Only
//   the first "SECd" of a strip is tried; one that does not end within the
//   strip and its lookahead is passed over.
#ifndef TYPERECOVERY_FORMATS_IMAGE_RAWDIRECTORYSCANS_H
#define TYPERECOVERY_FORMATS_IMAGE_RAWDIRECTORYSCANS_H

#include "framework/cycles/MediaStripCycle.h"

class CTypeRecoveryCRW : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryCRW, 524)
  TYPERECOVERY_PROGRESS_FIELDS

 private:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

  uint32_t m_headerLength;  // file offset of the root heap
};

class CTypeRecoveryX3F : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryX3F, 525)

 private:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;
};

#endif
