// The end-marker copy cycle shared by the formats that close with a fixed
// byte pattern.
#include "formats/document/EndMarkerCycle.h"

#include <algorithm>

#include "interface/Manager.h"

using typerecovery::ByteView;

int64_t FindEndMarker(const ByteView& view, uint32_t length, const EndMarker& marker) {
  if (view.size <= marker.guard) return -1;
  // Positions p < pastLast satisfy both p < length and p + guard < limit.
  const uint64_t pastLast = std::min<uint64_t>(length, view.size - marker.guard);
  if (pastLast == 0) return -1;
  const uint64_t searchEnd = pastLast - 1 + marker.count;
  uint64_t from = 0;
  for (;;) {
    const int64_t hit = typerecovery::FindBytes(view, from, searchEnd, marker.bytes, marker.count);
    if (hit < 0) return -1;
    if (marker.accepts == nullptr || marker.accepts(view, static_cast<uint64_t>(hit))) return hit;
    from = static_cast<uint64_t>(hit) + 1;
  }
}

CEndMarkerCycle::CEndMarkerCycle(const EndMarkerFormat& format, CTypeRecoveryManager* host,
                                 const char16_t* outputRoot)
    : CTypeRecovery(format.typeCode, host, outputRoot), m_format(format) {
  SetExtension(format.extension);
  m_maxFileSize = format.maximumSize;
}

uint32_t CEndMarkerCycle::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < m_format.minimumLength) return 0;
  return m_format.isHeader(ByteView(buffer, length)) ? m_typeCode : 0;
}

uint32_t CEndMarkerCycle::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                  uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(m_format.cutComplete);
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  uint64_t part = length;
  bool ended = false;
  uint32_t complete = 1;
  const int64_t marker = FindEndMarker(view, length, m_format.marker);
  if (marker >= 0) {
    part = std::min<uint64_t>(EndAfterMarker(view, static_cast<uint64_t>(marker)), view.size);
    ended = true;
  }
  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_bytesWritten;
  if (m_bytesWritten >= m_maxFileSize) {
    complete = CompleteAtMaximum();
    ended = true;
  }
  if (!ended) return count;
  return count + EndFile(complete, nullptr, m_format.reportsWheneverHostExists);
}
