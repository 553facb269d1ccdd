// PDF end search over "%%EOF" and "endobj".
#include "formats/document/AI.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 17;
constexpr uint64_t kMaximumSize = 0x20000000;  // 512 MiB

// Line ends, spaces and the digits of object and generation numbers.
bool IsFiller(uint8_t b) { return b == '\r' || b == '\n' || b == ' ' || (b >= '0' && b <= '9'); }

uint64_t SkipFiller(const ByteView& view, uint64_t q) {
  while (q < view.size && IsFiller(view.data[q])) ++q;
  return q;
}

}  // namespace

CTypeRecoveryAI::CTypeRecoveryAI(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot) {
  SetExtension(u"pdf");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryAI::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  return BytesEqual(ByteView(buffer, length), 0, "%PDF-") ? kTypeCode : 0;
}

uint32_t CTypeRecoveryAI::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                  uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  const uint64_t limit = view.size;
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  uint64_t part = length;
  uint32_t complete = 1;
  bool ended = false;
  uint64_t p = 0;
  while (!ended && p < length && p + 5 < limit) {
    const uint8_t first = view.data[p];
    if (first != 'e' && first != '%') {
      ++p;
    } else if (BytesEqual(view, p, "endobj")) {
      const uint64_t q = SkipFiller(view, p + 6);
      if (q + 4 >= limit || BytesEqual(view, q, "obj") || BytesEqual(view, q, "xref") ||
          BytesEqual(view, q, "startxref")) {
        p = q + 1;
        continue;
      }
      // Something other than the document's own structure follows.
      ended = true;
      complete = 0;
      if (m_bytesWritten == 0) DiscardOutputFile();
    } else if (BytesEqual(view, p, "%%EOF")) {
      const uint64_t q = SkipFiller(view, p + 5);
      if (q + 3 > limit || BytesEqual(view, q, "obj")) {  // an appended update follows
        p = q + 1;
        continue;
      }
      uint64_t r = p + 5;
      while (r < limit && (view.data[r] == '\r' || view.data[r] == '\n')) ++r;
      part = r;
      ended = true;
    } else {
      ++p;
    }
  }

  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_bytesWritten;  // what a flush reports
  return count + EndOfStrip(ended, complete);
}

CTypeRecovery* CTypeRecoveryAI::Clone() { return CloneRecognizer(this, m_host, m_outputPath); }

TYPERECOVERY_REGISTER_RECOGNIZER(CTypeRecoveryAI)
