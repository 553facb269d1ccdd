// The closing-directory searches of the CRW and X3F camera-raw files.
#include "formats/image/RawDirectoryScans.h"

#include <algorithm>

#include "registry/RecognizerFactory.h"

using typerecovery::BytesEqual;
using typerecovery::ByteView;
using typerecovery::FindBytes;
using typerecovery::ReadU16LE;
using typerecovery::ReadU32LE;

namespace {

CMediaStripCycle::Rules ScanRules() {
  CMediaStripCycle::Rules rules;
  rules.cutComplete = 0;
  rules.sizeIsBytesTaken = true;
  rules.endsAtMaximumSize = true;
  rules.takeMayReachLookahead = true;
  return rules;
}

constexpr uint64_t kMiB = 1024 * 1024;

// ---- CIFF ----
constexpr uint32_t kCrwMinimumHeaderLength = 257;
constexpr uint32_t kCrwHeaderLengthOffset = 2;
constexpr uint32_t kCrwSignatureOffset = 6;
constexpr uint32_t kCountSize = 2;
constexpr uint32_t kRecordSize = 10;
constexpr uint32_t kRecordLengthField = 2;
constexpr uint32_t kRecordOffsetField = 6;
constexpr uint32_t kTableOffsetSize = 4;

// ---- X3F ----
constexpr uint32_t kX3fMinimumHeaderLength = 512;
constexpr uint32_t kX3fPropertiesSearchFrom = 4;
constexpr uint32_t kDirectoryHeaderSize = 12;  // "SECd", version, entry count
constexpr uint32_t kEntryCountOffset = 8;
constexpr uint32_t kDirectoryEntrySize = 12;
constexpr uint32_t kDirectoryFixedPart = 16;  // header and the closing pointer

}  // namespace

// ---- CRW ----

CTypeRecoveryCRW::CTypeRecoveryCRW(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, ScanRules()), m_headerLength(0) {
  SetExtension(u"crw");
  m_maxFileSize = 16 * kMiB;
}

uint32_t CTypeRecoveryCRW::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kCrwMinimumHeaderLength || buffer[0] != 'I') return 0;
  const ByteView v(buffer, length);
  return BytesEqual(v, 0, "II") && BytesEqual(v, kCrwSignatureOffset, "HEAPCCDR") ? kTypeCode : 0;
}

bool CTypeRecoveryCRW::StartFile(const Strip& strip) {
  m_headerLength = ReadU32LE(strip.readable, kCrwHeaderLengthOffset);
  return true;
}

CMediaStripCycle::Walk CTypeRecoveryCRW::WalkStrip(const Strip& strip) {
  const ByteView& v = strip.readable;
  for (uint64_t i = 0; i < strip.length && i + kCountSize <= v.size; ++i) {
    const uint32_t count = ReadU16LE(v, i);
    if (count == 0) continue;
    const uint64_t tableOffsetAt = i + kCountSize + uint64_t{kRecordSize} * count;
    if (!v.Has(tableOffsetAt, kTableOffsetSize)) continue;
    const uint32_t tableOffset = ReadU32LE(v, tableOffsetAt);
    if (uint64_t{tableOffset} + m_headerLength != m_bytesWritten + i) continue;
    const uint64_t last = tableOffsetAt - kRecordSize;
    if (uint64_t{ReadU32LE(v, last + kRecordLengthField)} +
            ReadU32LE(v, last + kRecordOffsetField) !=
        tableOffset) {
      continue;
    }
    return Walk::EndAt(static_cast<uint32_t>(tableOffsetAt + kTableOffsetSize), 1);
  }
  return Walk::WholeStrip(strip);
}

void CTypeRecoveryCRW::ProgressFields(typerecovery::ProgressRecord& record) {
  record.FileFields()(m_headerLength);
}

// ---- X3F ----

CTypeRecoveryX3F::CTypeRecoveryX3F(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, ScanRules()) {
  SetExtension(u"x3f");
  m_maxFileSize = 64 * kMiB;
}

uint32_t CTypeRecoveryX3F::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kX3fMinimumHeaderLength || buffer[0] != 'F') return 0;
  const ByteView v(buffer, length);
  return BytesEqual(v, 0, "FOVb") && FindBytes(v, kX3fPropertiesSearchFrom, length, "SECp", 4) >= 0
             ? kTypeCode
             : 0;
}

bool CTypeRecoveryX3F::StartFile(const Strip&) { return true; }

CMediaStripCycle::Walk CTypeRecoveryX3F::WalkStrip(const Strip& strip) {
  const ByteView& v = strip.readable;
  if (strip.length == 0 || v.size < kDirectoryHeaderSize) return Walk::WholeStrip(strip);
  // Positions p < length with p + 12 readable.
  const uint64_t lastStart = std::min<uint64_t>(strip.length - 1, v.size - kDirectoryHeaderSize);
  const int64_t p = FindBytes(v, 0, lastStart + 4, "SECd", 4);
  if (p < 0) return Walk::WholeStrip(strip);
  const uint64_t end =
      static_cast<uint64_t>(p) + kDirectoryFixedPart +
      uint64_t{kDirectoryEntrySize} * ReadU32LE(v, static_cast<uint64_t>(p) + kEntryCountOffset);
  if (end > v.size) return Walk::WholeStrip(strip);
  return Walk::EndAt(static_cast<uint32_t>(end), 1);
}

TYPERECOVERY_FORMAT(CTypeRecoveryCRW, {524}, u".crw", {u"crw"})
TYPERECOVERY_FORMAT(CTypeRecoveryX3F, {525}, u".x3f", {u"x3f"})
