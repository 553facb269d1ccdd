// RIFF recognizer: header, sub-type choice, declared size and renaming close.
#include "formats/media/RIFF.h"

#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;
using typerecovery::BytesEqual;
using typerecovery::ReadU32LE;

namespace {

constexpr uint32_t kRiffCode = 1025;
constexpr char kRiff[] = "RIFF";
constexpr char kFormAvi[] = "AVI ";
constexpr char kFormWave[] = "WAVE";
constexpr char kFormCdxa[] = "CDXA";
constexpr char kFormAcon[] = "ACON";
// An animated cursor is the size field long, not the size plus the 8 bytes
// of "RIFF" and the size.
constexpr uint32_t kChunkHeaderSize = 8;

// A new header cuts a file, which is reported complete; the size is the
// header's.
CMediaStripCycle::Rules RiffRules() {
  CMediaStripCycle::Rules rules;
  rules.cutComplete = 1;
  rules.sizeIsBytesTaken = false;
  return rules;
}

}  // namespace

constexpr uint32_t CTypeRecoveryRIFF::kSubTypeCodes[];

CTypeRecoveryRIFF::CTypeRecoveryRIFF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kRiffCode, host, outputRoot, RiffRules()),
      m_current(kAvi),
      m_folderValues{} {
  SetExtension(u"riff");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryRIFF::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinHeaderLength) return 0;
  const ByteView header(buffer, length);
  if (!BytesEqual(header, 0, kRiff) || ReadU32LE(header, kSizeOffset) == 0) return 0;
  return (BytesEqual(header, kFormTypeOffset, kFormAvi) ||
          BytesEqual(header, kFormTypeOffset, kFormCdxa) ||
          BytesEqual(header, kFormTypeOffset, kFormWave) ||
          BytesEqual(header, kFormTypeOffset, kFormAcon))
             ? kRiffCode
             : 0;
}

void CTypeRecoveryRIFF::DropUnwantedDefault() {
  if (!m_enabled.IsOn(kAvi) && m_current == kAvi) DiscardOutputFile();
}

bool CTypeRecoveryRIFF::StartFile(const Strip& strip) {
  m_current = kAvi;
  SetExtension(u"avi");
  // 32-bit addition: a size field near 4 GiB wraps and ends the file early.
  const uint32_t size = ReadU32LE(strip.readable, kSizeOffset) + kChunkHeaderSize;
  m_expectedSize = size;
  return true;
}

void CTypeRecoveryRIFF::TakeSubType(SubType subType, const char16_t* extension) {
  if (!m_enabled.IsOn(subType)) {
    DiscardOutputFile();
    return;
  }
  SetExtension(extension);
  m_current = subType;
}

void CTypeRecoveryRIFF::AfterOutputCreated(const Strip& strip) {
  if (BytesEqual(strip.readable, kFormTypeOffset, kFormWave)) {
    TakeSubType(kWav, u"wav");
  } else if (BytesEqual(strip.readable, kFormTypeOffset, kFormCdxa)) {
    TakeSubType(kCdxa, u"dat");
  } else if (BytesEqual(strip.readable, kFormTypeOffset, kFormAcon)) {
    TakeSubType(kAni, u"ani");
    if (m_current == kAni) {
      m_expectedSize = static_cast<uint32_t>(m_expectedSize) - kChunkHeaderSize;  // 32-bit, as the sum
    }
  }
  // Any other form stays an AVI, even when AVI is not enabled: it is then
  // dropped when it ends.
}

CMediaStripCycle::Walk CTypeRecoveryRIFF::WalkStrip(const Strip& strip) {
  if (m_bytesWritten + strip.length >= m_expectedSize) {
    return Walk::EndAt(static_cast<uint32_t>(m_expectedSize - m_bytesWritten));
  }
  return Walk::WholeStrip(strip);
}

uint32_t* CTypeRecoveryRIFF::FileTypeFolderValue() {
  return m_current == kAvi ? &m_typeFolderValue : &m_folderValues[m_current - 1];
}

uint32_t CTypeRecoveryRIFF::GetSubTypeFolderValue(SubType subType) const {
  return subType == kAvi ? m_typeFolderValue : m_folderValues[subType - 1];
}

void CTypeRecoveryRIFF::CloseOutputFile() { CloseAndRenameOutputFile(); }

bool CTypeRecoveryRIFF::EnableSubType(uint32_t code, uint64_t) {
  return m_enabled.Enable(kSubTypeCodes, code);
}

void CTypeRecoveryRIFF::EnableAllSubTypes(uint32_t exceptCode) {
  m_enabled.EnableAll(kSubTypeCodes, exceptCode);
}

void CTypeRecoveryRIFF::CopyStateFrom(const CTypeRecovery* prototype) {
  CMediaStripCycle::CopyStateFrom(prototype);
  const CTypeRecoveryRIFF& from = static_cast<const CTypeRecoveryRIFF&>(*prototype);
  m_enabled.CopyFrom(from.m_enabled);
  for (uint32_t i = 0; i < kSubTypeCount - 1; ++i) m_folderValues[i] = from.m_folderValues[i];
}

uint32_t CTypeRecoveryRIFF::SaveProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::SaveProgress(file) == 0 || !m_enabled.Save(file)) return 0;
  if (m_fileInProgress != 0 && !WriteU32(file, kSubTypeCodes[m_current])) return 0;
  return 1;
}

uint32_t CTypeRecoveryRIFF::LoadProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::LoadProgress(file) == 0 || !m_enabled.Load(file)) return 0;
  if (m_fileInProgress != 0) {
    uint32_t code = 0;
    if (!ReadU32(file, &code)) return 0;
    const int row = typerecovery::SubTypeRow(kSubTypeCodes, code);
    if (row >= 0) m_current = static_cast<SubType>(row);
  }
  static const char16_t* const kExtensions[kSubTypeCount - 1] = {u"wav", u"dat", u"ani"};
  for (uint32_t i = 0; i < kSubTypeCount - 1; ++i) {
    if (!AskFolderValue(kExtensions[i], &m_folderValues[i])) break;
  }
  return 1;
}

TYPERECOVERY_FORMAT(CTypeRecoveryRIFF,
    {1025, 770, 1037, 1566},
    u".avi;.wav;.dat;.ani",
    {u"avi", u"wav", u"ani", u"dat"})
