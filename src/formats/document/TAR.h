// CTypeRecoveryTAR: tar archives, walked member header by member header.
//
// A member is a 512-byte header (name, octal mode, owner, group, size, time
// and a checksum over the header) followed by its data in 512-byte blocks.
// The recognizer keeps a cursor on the next member header, counted from the
// current strip's first byte, and examines one header per strip, when the
// cursor lies inside the strip or its lookahead: a header whose checksum
// holds moves the cursor and the archive size on by its member; the first
// block that is no header (the zero blocks that close an archive) ends the
// archive at the members walked (nothing walked: the file is dropped). The
// strip in which that happens is still written whole. A header that starts
// in the lookahead but runs past the readable bytes is examined in the next
// strip. Since only one header is examined per strip, the walk keeps pace
// only while no strip holds more than one member header; once the cursor is
// left behind the file runs to the maximum (1 GiB, complete flag 0) or a
// flush. A tar header inside an archive in progress is a member, not a new
// archive.
//
// Progress record: the base record, then, only with a file in progress, the
// member cursor (8 bytes) and the archive size so far (8 bytes).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_TAR_H
#define TYPERECOVERY_FORMATS_DOCUMENT_TAR_H

#include <cstdint>

#include "framework/TypeRecovery.h"

class CTypeRecoveryTAR : public CTypeRecovery {
 public:
  static constexpr uint32_t kTypeCode = 1796;
  static constexpr uint32_t kBlockSize = 512;

  CTypeRecoveryTAR(CTypeRecoveryManager* host, const char16_t* outputRoot);
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  uint32_t SaveProgress(TypeRecoveryFile file) override;
  uint32_t LoadProgress(TypeRecoveryFile file) override;
  CTypeRecovery* Clone() override;

  uint64_t GetArchiveSize() const { return m_archiveSize; }

 private:
  uint64_t m_memberCursor;  // next member header, from the current strip's first byte
  uint64_t m_archiveSize;   // members walked so far
};

#endif
