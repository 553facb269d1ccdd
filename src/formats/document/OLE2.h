// CTypeRecoveryOLE2: compound documents (structured storage beginning with
// D0 CF 11 E0 A1 B1 1A E1) and the twenty application formats that live in
// them: word-processor, spreadsheet and presentation files, drawings,
// installer databases and others.
//
// One prototype serves the class code 2305 and every sub-type code; the
// registry turns on the sub-types the host asked for. A file is cut at the
// size its header gives (the capacity its FAT sectors can address: FAT
// sectors x sector size / 4 x sector size; no FAT or directory walk) and is
// written as "ole2" until a stream name in its data shows its sub-type; it is
// then renamed at close to that sub-type's extension. A file of a sub-type
// that is not enabled, or one that shows no sub-type while the generic type
// is not enabled, is discarded. The maximum file size is not consulted.
//
// The header test reads at most the first 48 bytes; the sub-type scan reads
// the strip and its lookahead only. Not thread-safe (one manager, one thread).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_OLE2_H
#define TYPERECOVERY_FORMATS_DOCUMENT_OLE2_H

#include "formats/document/MultiFormat.h"

class CTypeRecoveryOLE2 : public CMultiFormatRecovery<21> {
 public:
  static constexpr uint32_t kTypeCode = 2305;

  CTypeRecoveryOLE2(CTypeRecoveryManager* host, const char16_t* outputRoot);

  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  uint32_t SaveProgress(TypeRecoveryFile file) override;
  uint32_t LoadProgress(TypeRecoveryFile file) override;
  CTypeRecovery* Clone() override;

  bool IsScanning() const { return m_scanning != 0; }
  uint8_t GetDatabaseMask() const { return m_databaseMask; }

 private:
  // Looks for the first sub-type name in the part of the strip that belongs
  // to the file; readable is the strip plus its lookahead.
  void ScanForSubType(const typerecovery::ByteView& readable, uint32_t part, uint32_t lookahead);

  // The six stream names of a message database still unseen, one bit each.
  uint8_t m_databaseMask = 0;
};

#endif
