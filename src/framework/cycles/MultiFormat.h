// CMultiFormatRecovery<N>: the shared part of a recognizer that serves several
// type codes with one prototype and learns a file's sub-type while copying it
// (compound documents, the ZIP family).
//
// The class names its N rows in flag order: codes and extensions, the last
// row being the generic type. Every row has an enable flag (off until the
// registry turns it on); every row but the generic one has its own
// type-folder value, the generic row uses the base field. A file starts
// generic and scanning; when the data shows a row's name, DecideRow adopts
// that row's extension and folder value, or discards the file when the row
// is not enabled. At its end a file that stayed generic while the generic
// type is not enabled is discarded; a kept file is reported (report mode)
// with its row's folder value and closed by the renaming close, which moves
// it to the folder and numbered name of its final extension.
//
// The class tables must outlive every object (they are constants).
#ifndef TYPERECOVERY_FRAMEWORK_CYCLES_MULTIFORMAT_H
#define TYPERECOVERY_FRAMEWORK_CYCLES_MULTIFORMAT_H

#include <cstddef>
#include <cstdint>

#include "framework/SubTypeFlags.h"
#include "framework/TypeRecovery.h"

template <size_t N>
class CMultiFormatRecovery : public CTypeRecovery {
 public:
  static constexpr size_t kGenericRow = N - 1;

  bool EnableSubType(uint32_t code, uint64_t) override { return m_enabled.Enable(m_codes, code); }
  void EnableAllSubTypes(uint32_t exceptCode) override { m_enabled.EnableAll(m_codes, exceptCode); }
  void CloseOutputFile() override { CloseAndRenameOutputFile(); }

  // Read access for the registry's tests and the recognizers' own.
  bool IsSubTypeEnabled(uint32_t code) const {
    const int row = typerecovery::SubTypeRow(m_codes, code);
    return row >= 0 && m_enabled.IsOn(static_cast<size_t>(row));
  }
  uint32_t GetCurrentSubTypeCode() const { return m_codes[m_currentRow]; }
  uint32_t GetSubTypeFolderValue(uint32_t code) const {
    const int row = typerecovery::SubTypeRow(m_codes, code);
    if (row < 0) return 0;
    return static_cast<size_t>(row) == kGenericRow ? m_typeFolderValue : m_folderValues[row];
  }

 protected:
  CMultiFormatRecovery(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot,
                       const uint32_t (&codes)[N], const char16_t* const (&extensions)[N])
      : CTypeRecovery(typeCode, host, outputRoot), m_codes(codes), m_extensions(extensions) {
    SetExtension(m_extensions[kGenericRow]);
  }

  uint32_t& FolderValueOf(size_t row) {
    return row == kGenericRow ? m_typeFolderValue : m_folderValues[row];
  }

  // A new file: generic row, generic extension, scanning.
  void StartGeneric() {
    m_currentRow = kGenericRow;
    SetExtension(m_extensions[kGenericRow]);
    m_scanning = 1;
  }

  // The data showed row's name: adopt it when enabled, else drop the file.
  void DecideRow(size_t row) {
    if (m_enabled.IsOn(row)) {
      SetExtension(m_extensions[row]);
      m_currentRow = row;
      m_scanning = 0;
    } else {
      DiscardOutputFile();
    }
  }

  // A file that never showed a sub-type is kept only when the generic type is.
  void DiscardIfGenericNotKept() {
    if (!m_enabled.IsOn(kGenericRow) && m_currentRow == kGenericRow) DiscardOutputFile();
  }

  // The end of a file (its format's end, a limit or a new header): the
  // generic-type rule, the report with the row's folder value, the renaming
  // close. Returns 1 when a kept file ended.
  uint32_t EndSubTypeFile(uint32_t complete) {
    DiscardIfGenericNotKept();
    uint32_t ended = 0;
    if (m_fileInProgress != 0) {
      if (IsReportMode()) {
        uint32_t& folder = FolderValueOf(m_currentRow);
        folder = ReportToHost(folder, complete, nullptr);
      } else {
        NoteFileEnd(complete, nullptr);
      }
      ended = 1;
    }
    m_fileInProgress = 0;
    CloseOutputFile();
    return ended;
  }

  // Clone: the flags (normalised) and the per-row folder values.
  void CopySubTypesFrom(const CMultiFormatRecovery& prototype) {
    m_enabled.CopyFrom(prototype.m_enabled);
    for (size_t i = 0; i < kGenericRow; ++i) m_folderValues[i] = prototype.m_folderValues[i];
  }

  // Progress: the current row as its type code; a code of no row leaves it.
  bool SaveCurrentCode(TypeRecoveryFile file) const {
    return WriteU32(file, m_codes[m_currentRow]);
  }
  bool LoadCurrentCode(TypeRecoveryFile file) {
    uint32_t code = 0;
    if (!ReadU32(file, &code)) return false;
    const int row = typerecovery::SubTypeRow(m_codes, code);
    if (row >= 0) m_currentRow = static_cast<size_t>(row);
    return true;
  }
  // After a load, the folder-ID callback gives each row's value anew, rows
  // asked in the order given.
  void RefetchFolderValues(const uint8_t (&order)[N - 1]) {
    for (uint8_t row : order) {
      if (!AskFolderValue(m_extensions[row], &m_folderValues[row])) return;
    }
  }

  static bool WriteByte(TypeRecoveryFile file, uint8_t value) {
    return typerecovery::WriteAll(file, &value, 1);
  }
  static bool ReadByte(TypeRecoveryFile file, uint8_t* value) {
    return typerecovery::ReadAll(file, value, 1);
  }

  const uint32_t (&m_codes)[N];
  const char16_t* const (&m_extensions)[N];
  typerecovery::SubTypeFlags<N> m_enabled;
  size_t m_currentRow = kGenericRow;
  uint32_t m_folderValues[N - 1] = {};
  uint32_t m_scanning = 1;
};

#endif
