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
// The flags, folder values and current row are the class's SubTypeSet
// (SubTypeSet.h). The class tables must outlive every object (they are
// constants).
#ifndef TYPERECOVERY_FRAMEWORK_CYCLES_MULTIFORMAT_H
#define TYPERECOVERY_FRAMEWORK_CYCLES_MULTIFORMAT_H

#include <cstddef>
#include <cstdint>

#include "framework/TypeRecovery.h"
#include "framework/cycles/SubTypeSet.h"

template <size_t N>
class CMultiFormatRecovery : public CWithSubTypes<CTypeRecovery, N> {
  using Base = CWithSubTypes<CTypeRecovery, N>;

 public:
  static constexpr size_t kGenericRow = N - 1;

  void CloseOutputFile() override { this->CloseAndRenameOutputFile(); }
  uint32_t GetCurrentSubTypeCode() const { return this->m_subTypes.CurrentCode(); }

 protected:
  CMultiFormatRecovery(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot,
                       const uint32_t (&codes)[N], const char16_t* const (&extensions)[N])
      : Base(codes, extensions, kGenericRow, typeCode, host, outputRoot), m_extensions(extensions) {
    this->SetExtension(m_extensions[kGenericRow]);
  }

  // A new file: generic row, generic extension, scanning.
  void StartGeneric() {
    this->m_subTypes.current = kGenericRow;
    this->SetExtension(m_extensions[kGenericRow]);
    m_scanning = 1;
  }

  // The data showed row's name: adopt it when enabled, else drop the file.
  void DecideRow(size_t row) {
    if (this->m_subTypes.IsOn(row)) {
      this->SetExtension(m_extensions[row]);
      this->m_subTypes.current = row;
      m_scanning = 0;
    } else {
      this->DiscardOutputFile();
    }
  }

  // A file that never showed a sub-type is kept only when the generic type is.
  void DiscardIfGenericNotKept() {
    if (!this->m_subTypes.IsOn(kGenericRow) && this->m_subTypes.current == kGenericRow) {
      this->DiscardOutputFile();
    }
  }

  // The end of a file (its format's end, a limit or a new header): the
  // generic-type rule, the report with the row's folder value, the renaming
  // close. Returns 1 when a kept file ended.
  uint32_t EndSubTypeFile(uint32_t complete) {
    DiscardIfGenericNotKept();
    uint32_t ended = 0;
    if (this->m_fileInProgress != 0) {
      if (this->IsReportMode()) {
        uint32_t& folder = this->CurrentFolderValue();
        folder = this->ReportToHost(folder, complete, nullptr);
      } else {
        this->NoteFileEnd(complete, nullptr);
      }
      ended = 1;
    }
    this->m_fileInProgress = 0;
    this->CloseOutputFile();
    return ended;
  }

  // After a load, the folder-ID callback gives each row its value anew,
  // rows asked in the order given.
  void RefetchFolderValuesInOrder(const uint8_t (&order)[N - 1]) {
    this->m_subTypes.RefetchFolderValues(order, [this](const char16_t* extension, uint32_t* value) {
      return this->AskFolderValue(extension, value);
    });
  }

  const char16_t* const (&m_extensions)[N];
  uint32_t m_scanning = 1;
};

#endif
