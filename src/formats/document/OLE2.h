// CTypeRecoveryOLE2: compound documents (structured storage beginning with
// D0 CF 11 E0 A1 B1 1A E1) and the twenty application formats that live in
// them: word-processor, spreadsheet and presentation files, drawings,
// installer databases and others.
//
// One prototype serves the class code 2305 and every sub-type code; the
// registry turns on the sub-types the host asked for. A file ends with its
// last used sector: the header lists where its FAT sectors lie (up to 109 of
// them), and as their bytes stream past the highest sector the FAT marks as
// used gives the file's size (header sector plus sectors 0 to that one).
// Until the whole FAT has been seen, and for files whose FAT does not fit
// the header's list, the size is the capacity the FAT sectors can address
// (FAT sectors x sector size / 4 x sector size), which is larger than the
// file by the free sectors at the FAT's end: writers (LibreOffice, msitools)
// leave most of the last FAT sector free, so that capacity alone would take
// tens of kilobytes of whatever follows a small document. A file is written
// as "ole2" until its data shows its sub-type (a stream name, an application
// signature, or the class ID an installer database or patch gives its root
// storage); it is then renamed at close to that sub-type's extension. A file of a sub-type
// that is not enabled, or one that shows no sub-type while the generic type
// is not enabled, is discarded. The maximum file size is not consulted.
//
// The header test reads at most the first 48 bytes; the sub-type scan reads
// the strip and its lookahead only. Not thread-safe (one manager, one thread).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_OLE2_H
#define TYPERECOVERY_FORMATS_DOCUMENT_OLE2_H

#include "framework/cycles/MultiFormat.h"
#include "framework/ByteCarry.h"

class CTypeRecoveryOLE2 : public CMultiFormatRecovery<21> {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryOLE2, 2305)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  bool IsScanning() const { return m_scanning != 0; }
  uint8_t GetDatabaseMask() const { return m_databaseMask; }

 private:
  // Looks for the first sub-type name in the part of the strip that belongs
  // to the file; readable is the strip plus its lookahead.
  void ScanForSubType(const typerecovery::ByteView& readable, uint32_t part, uint32_t lookahead);

  // Notes the FAT entries whose bytes lie in this strip (file offset base).
  void WalkFat(const uint8_t* buffer, uint32_t length, uint64_t base);

  // The six stream names of a message database still unseen, one bit each.
  uint8_t m_databaseMask = 0;
  // The FAT walk: sector size, the FAT sectors in order (0 when the header
  // does not list them all), the FAT bytes seen, the highest used sector + 1
  // (0: none yet) and the bytes of an entry split by a strip end.
  static constexpr uint32_t kListedFatSectors = 109;
  uint64_t m_sectorSize = 0;
  uint32_t m_fatCount = 0;
  uint32_t m_fatSectors[kListedFatSectors] = {};
  uint64_t m_fatBytesSeen = 0;
  uint32_t m_usedSectors = 0;
  typerecovery::ByteCarry<4> m_entrySplit;
};

#endif
