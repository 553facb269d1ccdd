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

namespace {
// The folder-ID question of each sub-type; CDXA tracks are written as "dat".
const char16_t* const kSubTypeExtensions[] = {u"avi", u"wav", u"dat", u"ani"};
}  // namespace

CTypeRecoveryRIFF::CTypeRecoveryRIFF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CWithSubTypes(kSubTypeCodes, kSubTypeExtensions, kAvi, kRiffCode, host, outputRoot,
                    RiffRules()) {
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
  if (!m_subTypes.IsOn(kAvi) && m_subTypes.current == kAvi) DiscardOutputFile();
}

bool CTypeRecoveryRIFF::StartFile(const Strip& strip) {
  m_subTypes.current = kAvi;
  SetExtension(u"avi");
  // 32-bit addition: a size field near 4 GiB wraps and ends the file early.
  const uint32_t size = ReadU32LE(strip.readable, kSizeOffset) + kChunkHeaderSize;
  m_expectedSize = size;
  return true;
}

void CTypeRecoveryRIFF::TakeSubType(SubType subType, const char16_t* extension) {
  if (!m_subTypes.IsOn(subType)) {
    DiscardOutputFile();
    return;
  }
  SetExtension(extension);
  m_subTypes.current = subType;
}

void CTypeRecoveryRIFF::AfterOutputCreated(const Strip& strip) {
  if (BytesEqual(strip.readable, kFormTypeOffset, kFormWave)) {
    TakeSubType(kWav, u"wav");
  } else if (BytesEqual(strip.readable, kFormTypeOffset, kFormCdxa)) {
    TakeSubType(kCdxa, u"dat");
  } else if (BytesEqual(strip.readable, kFormTypeOffset, kFormAcon)) {
    TakeSubType(kAni, u"ani");
    if (m_subTypes.current == kAni) {
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

void CTypeRecoveryRIFF::CloseOutputFile() { CloseAndRenameOutputFile(); }

void CTypeRecoveryRIFF::ProgressFields(typerecovery::ProgressRecord& record) {
  record.Nested(m_subTypes.Flags()).FileFields();
  m_subTypes.CurrentCodeField(record);
  if (record.Loading() && record.Ok()) RefetchFolderValues();
}

TYPERECOVERY_FORMAT(CTypeRecoveryRIFF,
    {1025, 770, 1037, 1566},
    u".avi;.wav;.dat;.ani",
    {u"avi", u"wav", u"ani", u"dat"})
