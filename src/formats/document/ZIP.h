// CTypeRecoveryZIP: ZIP archives and the formats that are ZIP archives
// inside (office and OpenDocument files, fixed-layout documents, Android
// packages, jar archives, application bundles and others).
//
// One prototype serves the class code 1793 and every sub-type code; the
// registry turns on the sub-types the host asked for and gives each its own
// maximum size (1793's is the class maximum, 10 GiB by default; the others
// 128 MiB by default). A file begins at a local file header at a strip start
// and is written as "zip" until an entry name in its data shows its
// sub-type; at close it is renamed to that sub-type's extension. Its end is
// the end-of-central-directory record, found by searching for it (archives
// whose first entry has the common flags) or by walking the records one by
// one; the output stops after the record's 22 fixed bytes, the reported size
// counts its comment. A file also ends at its sub-type's maximum size (cut at
// the strip that reaches it) or at an unknown record in the walk. A file of a
// sub-type that is not enabled, or one that shows no sub-type while the
// generic type is not enabled, is discarded. A local header at a strip start
// inside an archive being followed starts nothing new.
//
// The walk examines a record once 46 of its bytes are readable in the strip
// plus its lookahead. Where it cannot step over a record (an entry whose
// sizes follow its data, or a record so near the strip's end that the
// lookahead does not show it whole) the end is searched for instead. All
// reads stay inside the strip plus its lookahead. Not thread-safe (one
// manager, one thread).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_ZIP_H
#define TYPERECOVERY_FORMATS_DOCUMENT_ZIP_H

#include "framework/cycles/MultiFormat.h"

class CTypeRecoveryZIP : public CMultiFormatRecovery<17> {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryZIP, 1793)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint64_t kDefaultMaximum = 0x280000000ull;       // 10 GiB
  static constexpr uint64_t kDefaultSubTypeMaximum = 0x8000000ull;  // 128 MiB
  enum WalkMode : uint8_t { kSearchEnd = 0, kWalkRecords = 1 };

  // Hands on the enabled sub-types, their folder values and maxima.
  void CopyStateFrom(const CTypeRecovery* prototype) override;
  // Turns on the code's flag and stores the size as its maximum (1793: the
  // class maximum file size).
  bool EnableSubType(uint32_t code, uint64_t maxFileSize) override;

  uint64_t GetSubTypeMaximum(uint32_t code) const;
  WalkMode GetWalkMode() const { return static_cast<WalkMode>(m_walkMode); }
  bool IsScanning() const { return m_scanning != 0; }

 private:
  struct EndSearch {
    uint64_t part;  // bytes of the buffer that belong to the file
    bool end = false;
    uint32_t complete = 1;
  };
  // Finds the end record in [from, length) of this strip.
  void SearchEnd(const typerecovery::ByteView& readable, uint64_t from, uint32_t length,
                 EndSearch* result);
  void WalkRecords(const typerecovery::ByteView& readable, uint32_t length, EndSearch* result);
  // Where the walk cannot go on: the end is searched for from the cursor on.
  void SearchFromCursor(const typerecovery::ByteView& readable, uint32_t length, EndSearch* result);
  void ScanForSubType(const typerecovery::ByteView& readable, uint64_t part, uint32_t lookahead);
  uint64_t MaximumOfCurrentRow() const;

  uint8_t m_walkMode = kSearchEnd;
  uint64_t m_firstRecordSize = 0;
  typerecovery::SubTypeMaxima<16> m_subTypeMaxima{kDefaultSubTypeMaximum};
  // Position of the next record, counted from the current strip's first byte.
  uint64_t m_recordCursor = 0;
  uint64_t m_recordsTotal = 0;
};

#endif
