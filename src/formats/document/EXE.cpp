// Portable executables: section-table walk and the version-resource kind.
#include "formats/document/EXE.h"

#include <algorithm>

#include "framework/Charset.h"
#include "framework/PairSet.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

const uint32_t CTypeRecoveryEXE::kCodes[kRows] = {2320, 2321, 2322, 2323, 2324, 2316, 2319};

namespace {

const char* const kKindExtensions[CTypeRecoveryEXE::kKinds] = {"com", "ocx", "dll",
                                                               "sys", "drv", "acm"};

// MZ header (little-endian words).
constexpr uint16_t kMzSignature = 0x5A4D;       // e_magic "MZ"
constexpr uint64_t kLastPageBytesAt = 2;        // e_cblp
constexpr uint16_t kLastPageBytes = 0x0090;
constexpr uint64_t kMinExtraParagraphsAt = 10;  // e_minalloc
constexpr uint64_t kMaxExtraParagraphsAt = 12;  // e_maxalloc
constexpr uint64_t kChecksumAt = 18;            // e_csum
constexpr uint64_t kPeHeaderOffsetAt = 60;      // e_lfanew
constexpr uint32_t kLooseMinimumLength = 65;

// PE header, from its "PE" signature.
constexpr uint64_t kNumberOfSectionsAt = 6;
constexpr uint64_t kSizeOfOptionalHeaderAt = 20;
constexpr uint64_t kOptionalHeaderAt = 24;
constexpr uint64_t kSizeOfHeadersAt = 84;

// Section header.
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSizeOfRawDataAt = 16;

// Version resource scan: the key and its terminator in UTF-16, then within
// 250 bytes a name ending in a dot, three units and a terminator.
constexpr uint64_t kKeyBytes = 34;
constexpr uint64_t kNameWindow = 250;
constexpr uint64_t kScanReach = CTypeRecoveryEXE::kKindScanReach;

char16_t FoldCase(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool UnitsEqualIgnoringCase(const ByteView& v, uint64_t at, const char16_t* text, size_t units) {
  for (size_t i = 0; i < units; ++i) {
    if (!v.Has(at + 2 * i, 2) || FoldCase(ReadU16LE(v, at + 2 * i)) != FoldCase(text[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

CTypeRecoveryEXE::CTypeRecoveryEXE(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CWithSubTypes(kCodes, m_rowExtension, kGeneric, kTypeCode, host, outputRoot),
      m_sectionCursor(0),
      m_sectionsRemaining(0),
      m_headerSize(0),
      m_rawSizeSum(0),
      m_scanning(1) {
  SetExtension(u"exe");
  m_typePropertyFlag = 0;
  for (size_t row = 0; row < kKinds; ++row) {
    Char2WChar(m_kindExtension[row], kKindExtensions[row]);
    m_rowExtension[row] = m_kindExtension[row];
  }
  m_rowExtension[kGeneric] = u"exe";
  Char2WChar(m_versionKey, "OriginalFilename");
}

bool CTypeRecoveryEXE::IsStrictHeader(const uint8_t* buffer, uint32_t length) {
  const ByteView v(buffer, length);
  if (ReadU16LE(v, 0) != kMzSignature || ReadU16LE(v, kLastPageBytesAt) != kLastPageBytes ||
      !v.Has(kChecksumAt, 2) || ReadU16LE(v, kMinExtraParagraphsAt) != 0 ||
      ReadU16LE(v, kMaxExtraParagraphsAt) != 0xFFFF || ReadU16LE(v, kChecksumAt) != 0) {
    return false;
  }
  const uint64_t e = ReadU32LE(v, kPeHeaderOffsetAt);
  if (e > length || uint64_t{length} <= e + ReadU16LE(v, e + kSizeOfOptionalHeaderAt)) return false;
  return BytesEqual(v, e, "PE");
}

uint32_t CTypeRecoveryEXE::IsHeaderMatched(const uint8_t* buffer, uint32_t length,
                                           uint32_t verification) {
  if (buffer == nullptr) return 0;
  if (verification != 0 && length >= kLooseMinimumLength) {
    const ByteView v(buffer, length);
    if (ReadU16LE(v, 0) == kMzSignature && ReadU16LE(v, kMaxExtraParagraphsAt) == 0xFFFF &&
        ReadU16LE(v, kChecksumAt) == 0) {
      return kTypeCode;
    }
  }
  return IsStrictHeader(buffer, length) ? kTypeCode : 0;
}

void CTypeRecoveryEXE::Report(uint32_t complete) { ReportFileTo(&CurrentFolderValue(), complete); }

uint32_t CTypeRecoveryEXE::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  // A fault in the walk loses only the strip's result, never the run: the
  // file in progress is kept and the next strip goes on.
  try {
    return AnalyseStrip(stripPosition, buffer, length, lookahead, errorFlag);
  } catch (...) {
    return 0;
  }
}

uint32_t CTypeRecoveryEXE::AnalyseStrip(uint64_t stripPosition, const uint8_t* buffer,
                                        uint32_t length, uint32_t lookahead, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t count = 0;
  bool ended = false;

  if (IsStrictHeader(buffer, length)) {
    if (DiscardsGeneric()) DiscardOutputFile();
    if (m_fileInProgress != 0) {
      m_expectedSize = m_bytesWritten;
      Report(1);
      count = 1;
    }
    CloseOutputFile();
    m_fileInProgress = 1;
    m_subTypes.current = kGeneric;
    SetExtension(u"exe");
    m_scanning = 1;
    const uint64_t e = ReadU32LE(view, kPeHeaderOffsetAt);
    m_sectionsRemaining = ReadU16LE(view, e + kNumberOfSectionsAt);
    m_headerSize = ReadU32LE(view, e + kSizeOfHeadersAt);
    m_sectionCursor = e + kOptionalHeaderAt + ReadU16LE(view, e + kSizeOfOptionalHeaderAt);
    m_rawSizeSum = 0;
    m_sectionSplit.Clear();
    m_scanTail.Clear();
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  // Section table; a header not yet readable whole waits for the next strip,
  // and one that begins in this strip but runs past the readable bytes is
  // kept and completed from the next.
  const uint64_t limit = view.size;
  if (m_sectionsRemaining != 0 && !m_sectionSplit.Empty()) {
    const uint64_t need = kSectionHeaderSize - m_sectionSplit.Size();
    m_sectionSplit.Append(buffer, std::min<uint64_t>(need, length));
    m_sectionCursor = need;
    if (m_sectionSplit.Size() == kSectionHeaderSize) {
      m_rawSizeSum += ReadU32LE(m_sectionSplit.View(), kSizeOfRawDataAt);
      m_sectionSplit.Clear();
      if (--m_sectionsRemaining == 0) m_expectedSize = m_headerSize + m_rawSizeSum;
    }
  }
  while (m_sectionsRemaining != 0 && m_sectionSplit.Empty()) {
    if (m_sectionCursor + kSectionHeaderSize > limit) {
      if (m_sectionCursor < length) {
        m_sectionSplit.Append(buffer + m_sectionCursor, length - m_sectionCursor);
        m_sectionCursor = length;
      }
      break;
    }
    m_rawSizeSum += ReadU32LE(view, m_sectionCursor + kSizeOfRawDataAt);
    m_sectionCursor += kSectionHeaderSize;
    if (--m_sectionsRemaining == 0) m_expectedSize = m_headerSize + m_rawSizeSum;
  }

  uint64_t part = length;
  if (m_expectedSize != 0 && m_bytesWritten + length >= m_expectedSize) {
    part = m_expectedSize > m_bytesWritten ? m_expectedSize - m_bytesWritten : 0;
    ended = true;
  }
  m_sectionCursor -= part;
  m_bytesWritten += part;

  if (m_scanning != 0) ScanForKind(buffer, part, ended ? part : part + lookahead, ended);
  WriteOutput(buffer, static_cast<uint32_t>(part), errorFlag);

  if (!ended) return count;
  if (DiscardsGeneric()) DiscardOutputFile();
  if (m_fileInProgress != 0) {
    Report(1);
    ++count;
  }
  m_fileInProgress = 0;
  CloseOutputFile();
  return count;
}

void CTypeRecoveryEXE::ScanForKind(const uint8_t* buffer, uint64_t part, uint64_t readable,
                                   bool final) {
  // Positions near the end of the readable bytes wait for the next strip
  // (their bytes are kept), so that the kind does not depend on the
  // lookahead; at the file's end only its own bytes are read.
  if (!m_scanTail.Empty()) {
    uint8_t joined[3 * kScanReach + 1];
    const uint32_t kept = m_scanTail.Size();
    const uint64_t more = std::min<uint64_t>(readable, sizeof joined - kept);
    std::copy(m_scanTail.Data(), m_scanTail.Data() + kept, joined);
    std::copy(buffer, buffer + more, joined + kept);
    if (!final && more < kScanReach && m_scanTail.Append(buffer, part)) return;
    m_scanTail.Clear();
    ScanRange(ByteView(joined, kept + more), kept, true);
  }
  const uint64_t stop = ScanRange(ByteView(buffer, readable), part, final);
  if (m_scanning != 0 && m_fileInProgress != 0 && stop < part) {
    m_scanTail.Append(buffer + stop, part - stop);
  }
}

namespace {
// The version key's first UTF-16 unit, either case.
const PairSet kKeyOpenings = [] {
  PairSet pairs;
  pairs.Add('O', 0);
  pairs.Add('o', 0);
  return pairs;
}();
}  // namespace

uint64_t CTypeRecoveryEXE::ScanRange(const ByteView& view, uint64_t count, bool final) {
  // Positions p < count, and unless final with p + kScanReach < view.size.
  const uint64_t limit =
      final ? count : std::min<uint64_t>(count, view.size > kScanReach ? view.size - kScanReach : 0);
  // The last readable byte cannot begin the 32-byte key: the sifting stops before it.
  const uint64_t siftEnd = std::min<uint64_t>(limit, view.size > 0 ? view.size - 1 : 0);
  uint64_t p = 0;
  while (m_scanning != 0 && m_fileInProgress != 0 && p < limit) {
    p = kKeyOpenings.Next(view.data, p, siftEnd);
    if (p >= siftEnd) {
      p = limit;
      break;
    }
    if (!UnitsEqualIgnoringCase(view, p, m_versionKey, 16)) {
      ++p;
      continue;
    }
    const uint64_t q = p + kKeyBytes;
    for (uint64_t r = q; r - q < kNameWindow; ++r) {
      if (ReadU8(view, r) != '.' || ReadU8(view, r + 1) != 0 || !view.Has(r + 8, 2) ||
          ReadU8(view, r + 8) != 0 || ReadU8(view, r + 9) != 0) {
        continue;
      }
      const char16_t first = FoldCase(ReadU16LE(view, r + 2));
      size_t row = 0;
      for (; row < kKinds; ++row) {
        if (first == m_kindExtension[row][0] &&
            UnitsEqualIgnoringCase(view, r + 2, m_kindExtension[row], 3)) {
          break;
        }
      }
      if (row == kKinds) continue;
      if (m_subTypes.IsOn(row)) {
        SetExtension(m_kindExtension[row]);
        m_subTypes.current = row;
        m_scanning = 0;
      } else {
        DiscardOutputFile();
      }
      break;
    }
    p = q + 1;
  }
  return p;
}

void CTypeRecoveryEXE::ProgressFields(ProgressRecord& record) {
  record.Nested(m_subTypes.Flags())(m_sectionCursor)(m_sectionsRemaining)(m_headerSize)(m_rawSizeSum)(
      m_scanning);
  record.Nested(m_sectionSplit).Nested(m_scanTail);
  if (record.Loading()) m_subTypes.current = kGeneric;
  record.FileFields();
  m_subTypes.CurrentCodeField(record);
  if (record.Loading() && record.Ok()) RefetchFolderValues();
}

TYPERECOVERY_FORMAT(CTypeRecoveryEXE,
    {2319, 2320, 2321, 2322, 2323, 2324, 2316},
    u".exe;.com;.ocx;.dll;.sys;.drv;.acm",
    {u"exe", u"ocx", u"dll", u"sys", u"drv", u"acm"})
