// Page-layout documents and templates: header test, the copy until another
// format's header, the kind's enable flag.
#include "formats/document/QXP.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 17;
const uint8_t kMagic[] = {0x00, 0x00, 'I', 'I', 'X', 'P', 'R', '3', 'D', ' ', 'D', ' '};
constexpr uint64_t kKindAt = 12;  // "XP" document, "XT" template
constexpr uint64_t kMaximumSize = 0x1000000;  // 16 MiB, for each kind
const char16_t* const kSubTypeExtensions[] = {u"qxp", u"qpt"};

}  // namespace

CTypeRecoveryQXP::CTypeRecoveryQXP(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CWithSubTypes(kCodes, kSubTypeExtensions, kDocumentRow, kTypeCode, host, outputRoot),
      m_templateMaxSize(kMaximumSize),
      m_isTemplate(0) {
  SetExtension(u"qxp");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryQXP::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView v(buffer, length);
  if (!BytesEqual(v, 0, kMagic, sizeof kMagic)) return 0;
  return BytesEqual(v, kKindAt, "XP") || BytesEqual(v, kKindAt, "XT") ? kTypeCode : 0;
}

void CTypeRecoveryQXP::ReportQxpFile(uint32_t complete) {
  ReportFileTo(&m_subTypes.FolderValue(m_isTemplate != 0 ? kTemplateRow : kDocumentRow, m_typeFolderValue),
               complete);
}

uint32_t CTypeRecoveryQXP::EndQxpFile(uint32_t complete) {
  if (!m_subTypes.IsOn(kDocumentRow) && m_isTemplate == 0) DiscardOutputFile();
  uint32_t ended = 0;
  if (m_fileInProgress != 0) {
    ReportQxpFile(complete);
    ended = 1;
  }
  m_fileInProgress = 0;
  CloseOutputFile();
  return ended;
}

uint32_t CTypeRecoveryQXP::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t headerTypeCode,
                                   uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    // The file in progress ends here, complete as far as it could be followed.
    if (!m_subTypes.IsOn(kDocumentRow) && m_isTemplate == 0) DiscardOutputFile();
    if (m_fileInProgress != 0) {
      m_expectedSize = m_bytesWritten;
      ReportQxpFile(1);
      ++count;
    }
    CloseOutputFile();
    SetExtension(u"qxp");
    m_isTemplate = 0;
    BeginFile(stripPosition, errorFlag);
    if (BytesEqual(view, kKindAt, "XT")) {
      if (m_subTypes.IsOn(kTemplateRow)) {
        SetExtension(u"qpt");
        m_isTemplate = 1;
      } else {
        DiscardOutputFile();
      }
    }
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  // Another format begins here: the file ended before this strip.
  if (headerTypeCode != 0 && headerTypeCode != kTypeCode && headerTypeCode != kTemplateTypeCode) {
    m_expectedSize = m_bytesWritten;
    return count + EndQxpFile(0);
  }
  TakeBytes(buffer, length, errorFlag);
  m_expectedSize = m_bytesWritten;
  const uint64_t maximum = m_isTemplate != 0 ? m_templateMaxSize : m_maxFileSize;
  if (m_bytesWritten >= maximum) count += EndQxpFile(0);
  return count;
}

void CTypeRecoveryQXP::ProgressFields(ProgressRecord& record) {
  record.Nested(m_subTypes.Flags())(m_templateMaxSize);
  if (record.Loading() && record.Ok()) RefetchFolderValues();
  uint32_t code = GetCurrentSubTypeCode();
  record.FileFields()(code);
  if (record.Loading() && record.FileInProgress() && record.Ok()) {
    m_isTemplate = code == kTemplateTypeCode ? 1 : 0;
  }
}

TYPERECOVERY_FORMAT(CTypeRecoveryQXP, {1556, 1557}, u".qxp;.qpt", {u"qxp", u"qpt"})
