// Stream containers: Matroska and WebM (MKV), MPEG-2 transport streams
// (MTS), Ogg (OGG) and Flash video (FLV). Each follows the media strip cycle
// (MediaStripCycle.h) and states only its header test, what it reads when a
// file starts, and its walk.
//
// - MKV is sized by its header: the EBML header, then the Segment element
//   whose size ends the file (a Segment of unknown size gives the headers
//   only). A header that cannot be read inside the first strip starts no
//   file. A new header at a strip start cuts a file in progress.
// - MTS follows sync bytes at the packet spacing (188, or 192 with a 4-byte
//   prefix) for as long as they continue; the file ends at the last whole
//   packet. Headers inside a stream never cut it.
// - OGG follows pages (and so chained streams and directly following Ogg
//   files) until the bytes at the next page are not a page.
// - FLV follows tags until a tag of an unknown type or a non-zero stream ID;
//   the file keeps the PreviousTagSize field behind its last tag.
//
// Files that end by their structure are reported complete; a cut or the
// flush reports the bytes taken as incomplete, and a transport stream whose
// sync is lost is reported incomplete too. None has a maximum size. Walks
// read only the strip plus its lookahead; cursors are strip-relative and
// rebased after every strip, ends file-relative.
#ifndef TYPERECOVERY_FORMATS_MEDIA_STREAMCONTAINERS_H
#define TYPERECOVERY_FORMATS_MEDIA_STREAMCONTAINERS_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"

class CTypeRecoveryMKV : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryMKV, 1034)

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;
};

class CTypeRecoveryMTS : public CMediaStripCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryMTS, 1035)
  TYPERECOVERY_PROGRESS_FIELDS

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

 private:
  uint16_t m_packetSize = 188;
  uint16_t m_lead = 0;            // offset of the sync byte inside a packet
  uint64_t m_nextSyncInFile = 0;  // next expected sync byte, from the file's start
  uint64_t m_nextSyncInStrip = 0; // the same byte, from the current strip's start
  uint8_t m_walking = 0;          // 0 once the sync is lost
};

// A chain of units (Ogg pages, FLV tags) that each state their length: the
// walk steps from unit to unit, across strips, until the bytes at the cursor
// are not a unit; the file then ends behind the last unit (plus a tail the
// format keeps). The walked end and the cursor are in the progress record.
class CUnitChainCycle : public CMediaStripCycle {
 public:
  void ProgressFields(typerecovery::ProgressRecord& record) override;

 protected:
  CUnitChainCycle(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot);

  // The unit at offset at of the readable bytes: its length, or 0 when the
  // bytes there are not a unit. *readable is false when the unit's header
  // cannot be read within the readable bytes.
  virtual uint64_t UnitLength(const typerecovery::ByteView& bytes, uint64_t at,
                              bool* readable) const = 0;
  // Bytes behind the last unit that still belong to the file.
  virtual uint32_t TailBytes() const { return 0; }
  // Starts the chain: the first unit begins at firstUnit.
  void StartChain(uint64_t firstUnit);
  Walk WalkStrip(const Strip& strip) override;

  uint64_t m_walkedEnd = 0;  // file offset behind the last whole unit
  uint64_t m_cursor = 0;     // next unit, from the current strip's start
};

class CTypeRecoveryOGG : public CUnitChainCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryOGG, 775)

 protected:
  bool StartFile(const Strip& strip) override;
  uint64_t UnitLength(const typerecovery::ByteView& bytes, uint64_t at,
                      bool* readable) const override;
};

class CTypeRecoveryFLV : public CUnitChainCycle {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryFLV, 1036)

 protected:
  bool StartFile(const Strip& strip) override;
  uint64_t UnitLength(const typerecovery::ByteView& bytes, uint64_t at,
                      bool* readable) const override;
  uint32_t TailBytes() const override;
};

#endif
