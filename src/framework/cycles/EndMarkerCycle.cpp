// The end-marker copy cycle shared by the formats that close with a fixed
// byte pattern.
#include "framework/cycles/EndMarkerCycle.h"

#include <algorithm>

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

uint32_t CEndMarkerCycle::HoldLength() const {
  // The guard, or the part when it reaches further, and a line end more
  // (the most a format's own end rule adds).
  constexpr uint32_t kEndRuleSlack = 2;
  return std::min(std::max(m_format.marker.guard, m_format.marker.partLength) + kEndRuleSlack, kLongestHold);
}

void CEndMarkerCycle::WriteHeld(uint32_t* errorFlag) {
  TakeBytes(m_held.Data(), m_held.Size(), errorFlag);
  m_held.Clear();
  m_expectedSize = m_bytesWritten;
}

uint32_t CEndMarkerCycle::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                  uint32_t, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    WriteHeld(errorFlag);
    count += CutAtNewHeader(m_format.cutComplete);
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  const uint32_t hold = HoldLength();
  uint64_t part = 0;
  bool ended = false;
  uint32_t complete = 1;
  if (!m_held.Empty()) {
    // The held positions, judged with this strip's first bytes.
    uint8_t joined[3 * kLongestHold];
    const uint32_t kept = m_held.Size();
    const uint32_t more = std::min<uint32_t>(length, hold);
    std::copy(m_held.Data(), m_held.Data() + kept, joined);
    std::copy(buffer, buffer + more, joined + kept);
    const ByteView view(joined, uint64_t{kept} + more);
    const int64_t marker = FindEndMarker(view, kept, m_format.marker);
    if (marker >= 0) {
      const uint64_t end = std::min<uint64_t>(EndAfterMarker(view, static_cast<uint64_t>(marker)), view.size);
      TakeBytes(m_held.Data(), static_cast<uint32_t>(std::min<uint64_t>(end, kept)), errorFlag);
      m_held.Clear();
      part = end > kept ? end - kept : 0;
      ended = true;
    } else {
      WriteHeld(errorFlag);
    }
  }
  if (!ended) {
    if (length > hold) {
      // Positions whose bytes all lie in this strip.
      const ByteView view(buffer, length);
      const int64_t marker = FindEndMarker(view, length - hold, m_format.marker);
      if (marker >= 0) {
        part = std::min<uint64_t>(EndAfterMarker(view, static_cast<uint64_t>(marker)), length);
        ended = true;
      } else {
        part = length - hold;
        m_held.Append(buffer + part, hold);
      }
    } else if (!m_held.Append(buffer, length)) {
      part = length;  // strips this small are taken without a search
    }
  }
  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_bytesWritten;
  if (m_bytesWritten + m_held.Size() >= m_maxFileSize) {
    WriteHeld(errorFlag);
    complete = CompleteAtMaximum();
    ended = true;
  }
  if (!ended) return count;
  m_held.Clear();
  return count + EndFile(complete, nullptr, m_format.reportsWheneverHostExists);
}

uint32_t CEndMarkerCycle::FinishFile() {
  if (m_fileInProgress != 0) WriteHeld(nullptr);
  m_held.Clear();
  return CTypeRecovery::FinishFile();
}

void CEndMarkerCycle::ProgressFields(typerecovery::ProgressRecord& record) {
  if (record.Loading()) m_held.Clear();
  record.FileFields().Nested(m_held);
}
