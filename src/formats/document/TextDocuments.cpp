// HTML, RTF and MHT end searches and their shared strip cycle.
#include "formats/document/TextDocuments.h"

#include <cstring>

#include "framework/Charset.h"
#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

// Text units: 8-bit, UTF-16 little-endian or UTF-16 big-endian.
enum class Units { Byte, Little, Big };

uint64_t UnitSize(Units u) { return u == Units::Byte ? 1 : 2; }

char16_t UnitAt(const ByteView& v, uint64_t offset, Units u) {
  switch (u) {
    case Units::Byte: return ReadU8(v, offset);
    case Units::Little: return ReadU16LE(v, offset);
    case Units::Big: return ReadU16BE(v, offset);
  }
  return 0;
}

// The units at offset spell text (case of A to Z ignored); all must be readable.
bool UnitsEqualIgnoringCase(const ByteView& v, uint64_t offset, Units u, const char16_t* text) {
  const uint64_t size = UnitSize(u);
  for (uint64_t i = 0; text[i] != 0; ++i) {
    const uint64_t at = offset + i * size;
    if (!v.Has(at, size) || FoldCase(UnitAt(v, at, u)) != FoldCase(text[i])) return false;
  }
  return true;
}

bool IsWhiteSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// From start, skips white space and "<!...>" declarations and comments, then
// expects the start tag "<html". The view ends at the buffer's last byte.
bool StartsWithHtmlTag(const ByteView& v, uint64_t p, Units u, const char16_t* startTag) {
  const uint64_t size = UnitSize(u);
  for (;;) {
    while (v.Has(p, size) && IsWhiteSpace(UnitAt(v, p, u))) p += size;
    if (!v.Has(p, 2 * size) || UnitAt(v, p, u) != u'<' || UnitAt(v, p + size, u) != u'!') break;
    p += 2 * size;
    while (v.Has(p, size) && UnitAt(v, p, u) != u'>') p += size;
    if (!v.Has(p, size)) return false;
    p += size;
  }
  if (!v.Has(p, 5 * size)) return false;  // fewer units left than "<html"
  return UnitsEqualIgnoringCase(v, p, u, startTag);
}

constexpr uint32_t kHtmlMinimumLength = 32;
constexpr uint64_t kHtmlMaximumSize = 0x100000;  // 1 MiB
constexpr uint32_t kRtfMinimumLength = 33;
constexpr uint64_t kRtfMaximumSize = 0x4000000;  // 64 MiB
constexpr uint64_t kMhtMaximumSize = 0x4000000;  // 64 MiB
const char kBoundaryKey[] = "boundary=";
constexpr uint64_t kBoundaryKeyLength = 9;
constexpr uint64_t kBoundaryFromKey = 10;  // after "boundary=" and the opening quote
const char kCloseDelimiter[] = "--\r\n";

}  // namespace

// ---- shared cycle ----

uint32_t CTextEndCycle::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    StartFile(view, length);
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  uint64_t part = length;
  uint32_t complete = 1;
  bool ended = FindEnd(view, length, &part);
  if (part > view.size) part = view.size;
  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_bytesWritten;
  if (m_bytesWritten >= m_maxFileSize) {
    complete = 0;
    ended = true;
  }
  if (!ended) return count;

  OnFileEnded();
  return count + EndFile(complete, nullptr, true);  // reported in folder mode too
}

// ---- HTML ----

CTypeRecoveryHTML::CTypeRecoveryHTML(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTextEndCycle(kTypeCode, host, outputRoot), m_wide(0), m_bigEndian(0) {
  SetExtension(u"htm");
  m_maxFileSize = kHtmlMaximumSize;
  Char2WChar(m_startTag, "<html>");
  Char2WChar(m_endTag, "</html>");
}

uint32_t CTypeRecoveryHTML::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kHtmlMinimumLength) return 0;
  const ByteView view(buffer, length);
  char16_t startTag[6];  // "<html" without the closing bracket
  std::memcpy(startTag, m_startTag, 5 * sizeof(char16_t));
  startTag[5] = 0;
  if (buffer[0] == 0xFF && buffer[1] == 0xFE) {
    if (!StartsWithHtmlTag(view, 2, Units::Little, startTag)) return 0;
    m_wide = 1;
    m_bigEndian = 0;
    return kTypeCode;
  }
  if (buffer[0] == 0xFE && buffer[1] == 0xFF) {
    if (!StartsWithHtmlTag(view, 2, Units::Big, startTag)) return 0;
    m_wide = 1;
    m_bigEndian = 1;
    return kTypeCode;
  }
  const uint64_t start = (buffer[0] == 0xEF && buffer[1] == 0xBB && buffer[2] == 0xBF) ? 3 : 0;
  if (!StartsWithHtmlTag(view, start, Units::Byte, startTag)) return 0;
  m_wide = 0;
  m_bigEndian = 0;
  return kTypeCode;
}

bool CTypeRecoveryHTML::FindEnd(const ByteView& view, uint32_t length, uint64_t* part) {
  const uint64_t limit = view.size;
  if (m_wide == 0) {
    // The tag and the two bytes after it (usually CR LF).
    for (uint64_t p = 0; p < length && p + 7 < limit; ++p) {
      if (view.data[p] == '<' && UnitsEqualIgnoringCase(view, p, Units::Byte, m_endTag)) {
        *part = p + 9;
        return true;
      }
    }
    return false;
  }
  // UTF-16: the tag and the two units after it.
  const Units units = m_bigEndian != 0 ? Units::Big : Units::Little;
  for (uint64_t p = 0; p + 14 < limit; p += 2) {
    if (UnitAt(view, p, units) == u'<' && UnitsEqualIgnoringCase(view, p, units, m_endTag)) {
      *part = p + 18;
      return true;
    }
  }
  return false;
}

void CTypeRecoveryHTML::ProgressFields(ProgressRecord& record) {
  record.FileFields().Flag(m_wide).Flag(m_bigEndian);
}

// ---- RTF ----

CTypeRecoveryRTF::CTypeRecoveryRTF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTextEndCycle(kTypeCode, host, outputRoot), m_depth(0), m_escapePending(0) {
  SetExtension(u"rtf");
  m_maxFileSize = kRtfMaximumSize;
}

uint32_t CTypeRecoveryRTF::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kRtfMinimumLength) return 0;
  return BytesEqual(ByteView(buffer, length), 0, "{\\rtf1") ? kTypeCode : 0;
}

bool CTypeRecoveryRTF::FindEnd(const ByteView& view, uint32_t length, uint64_t* part) {
  uint64_t p = 0;
  if (m_escapePending != 0) {  // the escaped byte opens this strip
    m_escapePending = 0;
    p = 1;
  }
  for (; p < length; ++p) {
    const uint8_t b = view.data[p];
    if (b == '{') {
      ++m_depth;
    } else if (b == '}') {
      --m_depth;
    } else if (b == '\\') {
      if (p + 1 < length) {
        ++p;
      } else {
        m_escapePending = 1;
      }
    }
    if (m_depth == 0) {
      *part = p + 1;
      return true;
    }
  }
  return false;
}

void CTypeRecoveryRTF::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_depth)(m_escapePending);
}

// ---- MHT ----

CTypeRecoveryMHT::CTypeRecoveryMHT(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTextEndCycle(kTypeCode, host, outputRoot), m_boundary{} {
  SetExtension(u"mht");
  m_maxFileSize = kMhtMaximumSize;
}

uint32_t CTypeRecoveryMHT::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length <= kBoundaryKeyLength) return 0;
  const ByteView view(buffer, length);
  if (!BytesEqual(view, 0, "From:")) return 0;
  return FindBytes(view, 0, length - 1, kBoundaryKey, kBoundaryKeyLength) >= 0 ? kTypeCode : 0;
}

void CTypeRecoveryMHT::StartFile(const ByteView& view, uint32_t length) {
  std::memset(m_boundary, 0, sizeof m_boundary);
  if (length <= kBoundaryKeyLength) return;
  const int64_t key = FindBytes(view, 0, length - 1, kBoundaryKey, kBoundaryKeyLength);
  if (key < 0) return;
  const uint64_t from = static_cast<uint64_t>(key) + kBoundaryFromKey;
  for (uint64_t i = 0; i < kBoundaryBytes && from + i < view.size; ++i) {
    m_boundary[i] = view.data[from + i];
  }
}

bool CTypeRecoveryMHT::FindEnd(const ByteView& view, uint32_t length, uint64_t* part) {
  for (uint64_t p = 0; p < length && p + kBoundaryBytes < view.size; ++p) {
    if (view.data[p] == 0 ||
        (BytesEqual(view, p, m_boundary, kBoundaryBytes) &&
         BytesEqual(view, p + kBoundaryBytes, kCloseDelimiter))) {
      *part = p + kBoundaryBytes + 4;
      return true;
    }
  }
  return false;
}

void CTypeRecoveryMHT::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_boundary);
}

TYPERECOVERY_FORMAT(CTypeRecoveryHTML, {1281}, u".htm;.html", {u"html", u"htm"})
TYPERECOVERY_FORMAT(CTypeRecoveryRTF, {280}, u".rtf", {u"rtf"})
TYPERECOVERY_FORMAT(CTypeRecoveryMHT, {282}, u".mht", {u"mht"})
