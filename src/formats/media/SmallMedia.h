// Small media formats followed a little beyond a size field: Flash movies
// (SWF), AMR speech (AMR) and standard MIDI files (MID). Each follows the
// media strip cycle (MediaStripCycle.h); a new header of the same class at a
// strip start cuts a file in progress (reported incomplete with the bytes
// taken).
//
// - SWF: an uncompressed movie ("FWS") is exactly its FileLength long; a
//   compressed one ("CWS") ends before the first run of 8 zero bytes. Either
//   ends, incomplete, at the end of the strip in which it reaches the
//   maximum size (128 MiB by default). The compressed flag is in the
//   progress record.
// - AMR: narrow-band only (the magic with its line feed); the stream ends
//   before the first run of 8 zero bytes, or, incomplete, at the end of the
//   strip in which it reaches the maximum size (16 MiB by default).
// - MID: the header chunk, then as many track chunks as the header counts;
//   the file ends behind the last track. A chunk that is not a track before
//   all tracks are met ends the file before it, incomplete. The tracks left,
//   the walked end and the chunk cursor are in the progress record.
//
// A zero run or chunk header is examined only where it is readable (strip
// plus lookahead). Until a file's end is known its size is the bytes taken.
#ifndef TYPERECOVERY_FORMATS_MEDIA_SMALLMEDIA_H
#define TYPERECOVERY_FORMATS_MEDIA_SMALLMEDIA_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"

class CTypeRecoverySWF : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoverySWF, 1283)
  TYPERECOVERY_PROGRESS_FIELDS

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

 private:
  uint8_t m_compressed = 0;
};

class CTypeRecoveryAMR : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryAMR, 774)

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;
};

class CTypeRecoveryMID : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryMID, 773)
  void ProgressFields(typerecovery::ProgressRecord& record) override;

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

 private:
  uint16_t m_tracksLeft = 0;
  uint64_t m_walkedEnd = 0;    // file offset behind the last chunk walked
  uint64_t m_chunkCursor = 0;  // next chunk header, from the current strip's start
};

#endif
