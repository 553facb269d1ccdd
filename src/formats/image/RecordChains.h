// Recognizers of files made of a chain of self-sized records, walked from
// the file's start to where the chain stops (RecordWalk.h):
//
// - CTypeRecoveryPSP (1549, "psp"): PSP image files, a 36-byte file header
//   and "~BK" blocks; the file ends, complete, where a block marker is
//   missing.
// - CTypeRecoveryEMF (1560, "emf"): enhanced metafiles, records from the
//   header record on; the end-of-file record ends the file complete, an
//   unknown record type ends it incomplete at that record, and a record that
//   claims no size makes the whole file a false find that is discarded.
// - CTypeRecoveryABR (1542, "abr"): brush sets, "8BIM" sections after the
//   four version bytes; the file ends, complete, where no section follows.
//
// All three run on the media strip cycle: a new header at a strip start cuts
// the open file (reported incomplete with its bytes taken); a file ends
// inside the strip where the walk stops, and reports its start, its size and
// the complete flag, never a picture record. (With less than 12 bytes of
// lookahead the record where the chain stops may begin in the previous
// strip's last bytes, which were already written: the reported size is still
// where the chain stops.) None has a size limit. A record
// size that wraps around in 32 bits would not move the walk forward: PSP and
// ABR end the file there, incomplete. Reads stay inside the strip and its
// lookahead.
#ifndef TYPERECOVERY_FORMATS_IMAGE_RECORDCHAINS_H
#define TYPERECOVERY_FORMATS_IMAGE_RECORDCHAINS_H

#include "formats/image/RecordWalk.h"
#include "framework/cycles/MediaStripCycle.h"

// The shared cycle: the walk from the first record, the end where it stops,
// and the progress record (next record's file offset, its strip offset and,
// where the format keeps one, the walk flag).
class CRecordChainCycle : public CMediaStripCycle {
 public:
  uint32_t SaveProgress(TypeRecoveryFile file) override;
  uint32_t LoadProgress(TypeRecoveryFile file) override;

 protected:
  CRecordChainCycle(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot,
                    uint32_t firstRecord, bool savesWalkFlag);

  // What the walk does with the record whose header starts the view (an
  // empty view: a header whose first bytes were lost).
  virtual typerecovery::RecordWalk::Step VisitRecord(const typerecovery::ByteView& header) = 0;
  // Called by VisitRecord: the file is a false find, dropped unreported.
  void DiscardFile() { m_discard = true; }

 private:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

  typerecovery::RecordWalk m_records;
  uint32_t m_firstRecord;
  bool m_savesWalkFlag;
  bool m_discard;
};

class CTypeRecoveryPSP : public CRecordChainCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryPSP, 1549)

 private:
  typerecovery::RecordWalk::Step VisitRecord(const typerecovery::ByteView& header) override;
};

class CTypeRecoveryEMF : public CRecordChainCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryEMF, 1560)

 private:
  typerecovery::RecordWalk::Step VisitRecord(const typerecovery::ByteView& header) override;
};

class CTypeRecoveryABR : public CRecordChainCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryABR, 1542)

 private:
  typerecovery::RecordWalk::Step VisitRecord(const typerecovery::ByteView& header) override;
};

#endif
