// PDF end search over "%%EOF" and "endobj", streamed byte by byte.
#include "formats/document/AI.h"

#include <cstring>
#include <iterator>

#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 17;
constexpr uint64_t kMaximumSize = 0x20000000;  // 512 MiB
constexpr char kEndobj[] = "endobj";
constexpr char kEof[] = "%%EOF";

// Line ends, spaces and the digits of object and generation numbers.
bool IsFiller(uint8_t b) { return b == '\r' || b == '\n' || b == ' ' || (b >= '0' && b <= '9'); }
bool IsLineEnd(uint8_t b) { return b == '\r' || b == '\n'; }

// The words that continue the document behind each marker.
const char* const kAfterEofWords[] = {"obj"};
const char* const kAfterEndobjWords[] = {"obj", "xref", "startxref"};

}  // namespace

CTypeRecoveryAI::CTypeRecoveryAI(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot) {
  SetExtension(u"pdf");
  m_maxFileSize = kMaximumSize;
  ResetScanner();
}

void CTypeRecoveryAI::ResetScanner() {
  std::memset(&m_state, 0, sizeof m_state);
  m_held.Clear();
}

uint32_t CTypeRecoveryAI::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  return BytesEqual(ByteView(buffer, length), 0, "%PDF-") ? kTypeCode : 0;
}

CTypeRecoveryAI::Follow CTypeRecoveryAI::FollowByte(uint8_t b) {
  if (m_state.inComment != 0) {
    if (IsLineEnd(b)) m_state.inComment = 0;
    return kFiller;
  }
  if (m_state.wordLength == 0) {
    if (IsFiller(b)) return kFiller;
    if (b == '%') {
      m_state.inComment = 1;
      return kFiller;
    }
  }
  if (b < 'a' || b > 'z' || m_state.wordLength >= sizeof m_state.word) return kForeign;
  m_state.word[m_state.wordLength++] = b;
  const bool afterEof = m_state.phase == kAfterEof;
  const char* const* words = afterEof ? kAfterEofWords : kAfterEndobjWords;
  const size_t count = afterEof ? std::size(kAfterEofWords) : std::size(kAfterEndobjWords);
  bool prefix = false;
  for (size_t i = 0; i < count; ++i) {
    const size_t n = std::strlen(words[i]);
    if (n < m_state.wordLength || std::memcmp(words[i], m_state.word, m_state.wordLength) != 0) continue;
    if (n == m_state.wordLength) return kStructure;
    prefix = true;
  }
  return prefix ? kFiller : kForeign;
}

uint32_t CTypeRecoveryAI::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                  uint32_t, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    BeginFile(stripPosition, errorFlag);
    ResetScanner();
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  const uint64_t writtenBefore = m_bytesWritten;
  uint64_t part = length;
  uint32_t complete = 1;
  bool ended = false;
  // Behind "%%EOF" and its line ends: strip bytes from here on are held.
  int64_t heldFrom = (m_state.phase == kAfterEof && m_state.inLineEnd == 0) ? 0 : -1;
  for (uint64_t p = 0; p < length && !ended; ++p) {
    const uint8_t b = buffer[p];
    if (m_state.phase == kScanning) {
      if (m_state.matched > 0) {
        const char* marker = m_state.marker == 'e' ? kEndobj : kEof;
        if (b == static_cast<uint8_t>(marker[m_state.matched])) {
          if (marker[++m_state.matched] != 0) continue;
          m_state.matched = 0;
          m_state.wordLength = 0;
          m_state.inComment = 0;
          m_state.phase = m_state.marker == 'e' ? kAfterEndobj : kAfterEof;
          m_state.inLineEnd = m_state.phase == kAfterEof ? 1 : 0;
          continue;
        }
        // "%%%EOF": the last two percent signs may still begin the marker.
        if (m_state.marker == '%' && m_state.matched == 2 && b == '%') continue;
        m_state.matched = 0;
      }
      if (b == 'e' || b == '%') {
        m_state.marker = b;
        m_state.matched = 1;
      }
      continue;
    }
    if (m_state.phase == kAfterEof && m_state.inLineEnd != 0) {
      if (IsLineEnd(b)) continue;
      m_state.inLineEnd = 0;
      heldFrom = static_cast<int64_t>(p);
    }
    const Follow follow = FollowByte(b);
    if (follow == kFiller) continue;
    if (follow == kStructure) {
      // The document goes on: what was held belongs to it.
      if (heldFrom >= 0) {
        TakeBytes(m_held.Data(), m_held.Size(), errorFlag);
        m_held.Clear();
        heldFrom = -1;
      }
      m_state.phase = kScanning;
      continue;
    }
    ended = true;
    if (m_state.phase == kAfterEof) {
      // The document ended with the line ends behind "%%EOF".
      part = static_cast<uint64_t>(heldFrom);
      m_held.Clear();
    } else {
      complete = 0;
      if (writtenBefore == 0) DiscardOutputFile();
    }
  }
  if (!ended && heldFrom >= 0) {
    part = static_cast<uint64_t>(heldFrom);
    if (!m_held.Append(buffer + part, length - part)) {
      // Too much between "%%EOF" and the next word for an update: the
      // document ended at its line ends.
      ended = true;
      m_held.Clear();
    }
  }

  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_bytesWritten;  // what a flush reports
  const uint32_t result = EndOfStrip(ended, complete);
  if (m_fileInProgress == 0) ResetScanner();
  return count + result;
}

void CTypeRecoveryAI::ProgressFields(ProgressRecord& record) {
  if (record.Loading()) ResetScanner();
  static_assert(sizeof(State) == 16, "the scanner state is saved as 16 bytes");
  record.FileFields().Bytes(&m_state, sizeof m_state).Nested(m_held);
  if (!record.Loading() || !record.FileInProgress() || !record.Ok()) return;
  // A loaded state must be one the scanner can reach.
  const bool marker = m_state.matched == 0 ||
                      (m_state.marker == 'e' && m_state.matched < sizeof kEndobj - 1) ||
                      (m_state.marker == '%' && m_state.matched < sizeof kEof - 1);
  if (m_state.phase > kAfterEndobj || !marker || m_state.wordLength > sizeof m_state.word) record.Fail();
}

TYPERECOVERY_FORMAT(CTypeRecoveryAI, {276}, u".pdf;.ai", {u"ai", u"pdf"})
