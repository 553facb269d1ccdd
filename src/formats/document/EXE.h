// CTypeRecoveryEXE: Windows portable executables (an MZ header whose PE
// header the MZ header points to), sorted by kind.
//
// Size: the headers (SizeOfHeaders) plus the raw data of every section, read
// from the section table as it streams past; data appended after the last
// section is not included. Until the last section header is read the size is
// unknown and the file runs on, ending only at the next PE header or a flush.
// Kind: the extension of the "OriginalFilename" entry of the version
// resource (UTF-16, case ignored) chooses com, ocx, dll, sys, drv or acm;
// any other name, or none, keeps the generic "exe". One prototype serves the
// seven type codes, each with an enable flag (all off after construction;
// the registry turns them on) and, for the six kinds, its own type-folder
// value. A file of a kind whose flag is off is discarded as soon as its kind
// is known; a generic one when it ends or is cut while the generic flag is
// off. Files close with the renaming close, so a file created as exe moves
// to the folder and name of its kind.
//
// Any exception inside Analyse is contained there: the call answers 0 and
// the fields stay as they were at the fault.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_EXE_H
#define TYPERECOVERY_FORMATS_DOCUMENT_EXE_H

#include "framework/ByteCarry.h"
#include "framework/cycles/SubTypeSet.h"
#include "framework/TypeRecovery.h"

class CTypeRecoveryEXE : public CWithSubTypes<CTypeRecovery, 7> {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryEXE, 2319)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr size_t kKinds = 6;     // rows with their own extension
  static constexpr size_t kGeneric = 6;   // row of the generic kind
  static constexpr size_t kRows = 7;
  static const uint32_t kCodes[kRows];    // flag order: com ocx dll sys drv acm exe
  // Bytes the kind scan reads from a position: the key and the name after it.
  static constexpr uint32_t kKindScanReach = 294;

  void CloseOutputFile() override { CloseAndRenameOutputFile(); }

 private:
  uint32_t AnalyseStrip(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                        uint32_t lookahead, uint32_t* errorFlag);
  // The strict MZ/PE test of the header pass and of Analyse.
  static bool IsStrictHeader(const uint8_t* buffer, uint32_t length);
  void Report(uint32_t complete);
  // Looks for "OriginalFilename" in the first part bytes of the strip, whose
  // first readable bytes may be read; final: the file ends with them.
  void ScanForKind(const uint8_t* buffer, uint64_t part, uint64_t readable, bool final);
  // The scan of positions [0, count) of a view; answers where it stopped.
  uint64_t ScanRange(const typerecovery::ByteView& view, uint64_t count, bool final);
  bool DiscardsGeneric() const {
    return !m_subTypes.IsOn(kGeneric) && m_subTypes.current == kGeneric;
  }

  uint64_t m_sectionCursor;             // next section header, from the current strip's start
  uint16_t m_sectionsRemaining;
  uint32_t m_headerSize;                // SizeOfHeaders
  uint64_t m_rawSizeSum;                // SizeOfRawData of the sections read
  uint32_t m_scanning;                  // 1 while no kind is decided
  // A section header split by a strip end, and the bytes at a strip's end
  // whose kind scan waits for the next strip.
  typerecovery::ByteCarry<40> m_sectionSplit;
  typerecovery::ByteCarry<2 * kKindScanReach> m_scanTail;
  char16_t m_kindExtension[kKinds][8];
  const char16_t* m_rowExtension[kRows];  // the kinds' and u"exe"
  char16_t m_versionKey[17];            // "OriginalFilename"
};

#endif
