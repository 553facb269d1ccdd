// CAD drawing: header test and the copy until another format's header.
#include "formats/document/DWG.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 17;
constexpr uint64_t kMaximumSize = 0x4000000;  // 64 MiB

// Header codes of other formats that do not end a drawing.
constexpr uint32_t kMp3TypeCode = 769;
constexpr uint8_t kFrameSyncByte = 0xFF;
constexpr uint32_t kSwfTypeCode = 1283;
constexpr uint32_t kIcoTypeCode = 1540;

// The strip at whose start the header pass found headerTypeCode still
// belongs to the drawing.
bool BelongsToDrawing(uint32_t headerTypeCode, uint8_t firstByte) {
  switch (headerTypeCode) {
    case 0:
    case CTypeRecoveryDWG::kTypeCode:
    case kSwfTypeCode:
    case kIcoTypeCode:
      return true;
    case kMp3TypeCode:
      return firstByte == kFrameSyncByte;
    default:
      return false;
  }
}

}  // namespace

CTypeRecoveryDWG::CTypeRecoveryDWG(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot) {
  SetExtension(u"dwg");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryDWG::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView v(buffer, length);
  if (!BytesEqual(v, 0, "AC10")) return 0;
  const uint8_t major = ReadU8(v, 4);
  const uint8_t minor = ReadU8(v, 5);
  return (major == '1' || major == '2') && minor >= '1' && minor <= '9' ? kTypeCode : 0;
}

uint32_t CTypeRecoveryDWG::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t headerTypeCode,
                                   uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  uint32_t count = 0;
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  if (!BelongsToDrawing(headerTypeCode, ReadU8(ByteView(buffer, uint64_t{length} + lookahead), 0))) {
    m_expectedSize = m_bytesWritten;
    return count + EndFile(1);
  }
  TakeBytes(buffer, length, errorFlag);
  m_expectedSize = m_bytesWritten;
  if (m_bytesWritten >= m_maxFileSize) count += EndFile(0);  // cut at the size limit
  return count;
}

TYPERECOVERY_FORMAT(CTypeRecoveryDWG, {1545}, u".dwg", {u"dwg"})
