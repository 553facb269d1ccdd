// RecordWalk: the cursor of a walk over a chain of records that each state
// their own length (PNG chunks, PSP blocks, EMF records, ABR sections),
// followed across strips without seeking back.
//
// The cursor holds the next record's offset in the file and the same offset
// counted from the current strip's first byte. Walk() examines every record
// whose first 13 bytes can be read (its offset plus 12 lies below the strip's
// length plus lookahead) and asks the format's visitor what the record is: a
// record to step over (its size), the last record (step over it, then stop),
// a place where the chain stops, or a header to read again in the next strip.
// The record the walk stops at is where the file ends (formats add their own
// trailer). A record header cut by a strip end with too little lookahead is
// kept (at most 16 bytes) and finished from the next strip's first bytes; the
// visitor then sees a window assembled from both. A header whose start was
// lost (after a progress load) is shown as an empty view.
//
// The walk reads only through the bounded view it is given; it never writes.
#ifndef TYPERECOVERY_FORMATS_IMAGE_RECORDWALK_H
#define TYPERECOVERY_FORMATS_IMAGE_RECORDWALK_H

#include <cstdint>

#include "framework/Bytes.h"
#include "typerecovery.h"

namespace typerecovery {

class RecordWalk {
 public:
  // The walk flag as kept in progress records: walking, or stopped with the
  // file complete or incomplete at the stopping record.
  enum : uint8_t { kStoppedComplete = 0, kWalking = 1, kStoppedIncomplete = 2 };
  // Bytes of a record header that must be readable beyond its first (12 + 1).
  static constexpr uint32_t kHeaderGuard = 12;
  static constexpr uint32_t kWindowSize = 16;

  // The visitor's answer for one record.
  struct Step {
    enum Kind : uint8_t { kNext, kLast, kStop, kWait } kind;
    uint64_t size;     // kNext, kLast: bytes the record occupies
    uint8_t stopFlag;  // kLast, kStop: kStoppedComplete or kStoppedIncomplete

    static Step Next(uint64_t size) { return {kNext, size, kWalking}; }
    static Step Last(uint64_t size) { return {kLast, size, kStoppedComplete}; }
    static Step Stop(bool complete) {
      return {kStop, 0, complete ? kStoppedComplete : kStoppedIncomplete};
    }
    static Step Wait() { return {kWait, 0, kWalking}; }
  };

  // A file began at the current strip's first byte; its first record is at
  // fileOffset.
  void Start(uint64_t fileOffset) {
    m_fileOffset = fileOffset;
    m_stripOffset = static_cast<int64_t>(fileOffset);
    m_flag = kWalking;
    m_carryLength = 0;
  }

  // Walks the records of this strip (data: strip plus lookahead). visit(header)
  // answers a Step for the record whose header starts the view.
  template <class Visitor>
  void Walk(const ByteView& data, uint32_t length, Visitor&& visit) {
    const int64_t available = static_cast<int64_t>(data.size);
    while (m_flag == kWalking) {
      if (m_stripOffset + static_cast<int64_t>(kHeaderGuard) >= available) {
        KeepCutHeader(data, length);
        return;
      }
      uint8_t window[kWindowSize];
      ByteView header = Header(data, window);
      if (!header.Has(0, kHeaderGuard + 1)) header = ByteView();
      const Step step = visit(header);
      if (step.kind == Step::kWait) {
        KeepCutHeader(data, length);
        return;
      }
      if (step.kind == Step::kStop) {
        m_flag = step.stopFlag;
        return;
      }
      m_fileOffset += step.size;
      m_stripOffset += static_cast<int64_t>(step.size);
      if (step.kind == Step::kLast) m_flag = step.stopFlag;
    }
  }

  // After the strip: offsets count from the next strip's first byte.
  void EndStrip(uint32_t length) { m_stripOffset -= length; }

  bool IsWalking() const { return m_flag == kWalking; }
  bool StoppedComplete() const { return m_flag == kStoppedComplete; }
  uint64_t FileOffset() const { return m_fileOffset; }

  // Progress fields: file offset (8), strip offset (8), and the walk flag (1)
  // when withFlag. A loaded walk without its flag walks again from the
  // saved record, which gives the same answer.
  bool Save(TypeRecoveryFile file, bool withFlag) const;
  bool Load(TypeRecoveryFile file, bool withFlag);

 private:
  ByteView Header(const ByteView& data, uint8_t* window) const;
  void KeepCutHeader(const ByteView& data, uint32_t length);

  uint64_t m_fileOffset = 0;
  int64_t m_stripOffset = 0;  // negative: the header began in the previous strip
  uint8_t m_flag = kWalking;
  uint8_t m_carry[kWindowSize] = {};
  uint32_t m_carryLength = 0;
};

}  // namespace typerecovery

#endif
