// CTypeRecoveryQXP: page-layout documents (type code 1556, "qxp") and their
// templates (1557, "qpt"), one prototype for both.
//
// The header names the kind: "XP" documents stay of the generic type, "XT"
// templates become "qpt". Neither states a size or an end, so a file is
// copied strip by strip until the manager's header pass finds another format
// at a strip's start (the file ended before that strip, which is not
// written) or until it reaches the maximum of its kind (16 MiB each; the
// templates keep their own maximum). A new header of this class cuts the file
// in progress, reported with the complete flag 1; the other ends report 0.
//
// Each kind has an enable flag (flag order: qxp, qpt), set by the registry
// through EnableSubType/EnableAllSubTypes. A template whose flag is off is
// dropped at its header; a document whose flag is off is followed and
// dropped at its end (a flush keeps it, as the base ends files). Files are
// created under "qxp" and closed by the renaming close, which moves a
// template to its "qpt" folder and name. Templates report with their own
// type-folder value, which clones copy and hand back to their prototype.
//
// Progress record: the base record, the qxp and qpt flags (one byte each),
// the template maximum (8 bytes), then, only with a file in progress, the
// type code of the file's kind (4 bytes).
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_QXP_H
#define TYPERECOVERY_FORMATS_DOCUMENT_QXP_H

#include <cstdint>

#include "framework/cycles/SubTypeSet.h"
#include "framework/TypeRecovery.h"

class CTypeRecoveryQXP : public CWithSubTypes<CTypeRecovery, 2> {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryQXP, 1556)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  static constexpr uint32_t kTemplateTypeCode = 1557;
  // Flag order of the registry.
  static constexpr uint32_t kCodes[2] = {kTypeCode, kTemplateTypeCode};

  // The template folder value goes back to the prototype like the base one.
  void HandBackToPrototype() override { HandBackWithFolderValues(); }
  void CloseOutputFile() override { CloseAndRenameOutputFile(); }

  uint32_t GetCurrentSubTypeCode() const { return m_isTemplate != 0 ? kTemplateTypeCode : kTypeCode; }
  uint32_t GetTemplateFolderValue() const { return GetSubTypeFolderValue(kTemplateTypeCode); }

 private:
  static constexpr size_t kDocumentRow = 0;
  static constexpr size_t kTemplateRow = 1;

  // The end of a file: the disabled-document rule, the report, the close.
  uint32_t EndQxpFile(uint32_t complete);
  void ReportQxpFile(uint32_t complete);

  uint64_t m_templateMaxSize;
  uint8_t m_isTemplate;  // the file in progress is a template
};

#endif
