// SWF, AMR and MIDI recognizers.
#include "formats/media/SmallMedia.h"

#include <algorithm>
#include <cstring>

#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

CMediaStripCycle::Rules SmallMediaRules() {
  CMediaStripCycle::Rules rules;
  rules.headerCutsFile = true;
  rules.cutComplete = 0;
  rules.sizeIsBytesTaken = false;  // each class keeps its size itself
  return rules;
}

// The first position p of the strip at which 8 zero bytes begin, with p + 8
// below the readable bytes; -1 when there is none.
constexpr uint32_t kZeroRunBytes = 8;
int64_t FindZeroRun(const ByteView& readable, uint32_t length) {
  // The run's last byte lies below length + 7 and before the last readable
  // byte; memchr finds each zero that may begin one.
  if (readable.size < kZeroRunBytes + 1) return -1;
  const uint64_t lastEnd = std::min<uint64_t>(uint64_t{length} + kZeroRunBytes - 2, readable.size - 2);
  if (lastEnd < kZeroRunBytes - 1) return -1;
  const uint64_t lastStart = lastEnd - (kZeroRunBytes - 1);
  uint64_t from = 0;
  while (from <= lastStart) {
    const void* zero = std::memchr(readable.data + from, 0, static_cast<size_t>(lastStart - from + 1));
    if (zero == nullptr) return -1;
    const uint64_t start = static_cast<uint64_t>(static_cast<const uint8_t*>(zero) - readable.data);
    uint64_t k = 1;
    while (k < kZeroRunBytes && readable.data[start + k] == 0) ++k;
    if (k == kZeroRunBytes) return static_cast<int64_t>(start);
    from = start + k + 1;
  }
  return -1;
}

// ---- SWF: "FWS" or "CWS", version, little-endian FileLength.
constexpr uint32_t kSwfMinimumLength = 17;
constexpr uint64_t kSwfFileLengthAt = 4;
constexpr uint64_t kSwfMaximumSize = 134217728;  // 128 MiB

// ---- AMR: "#!AMR" and a line feed (the wide-band magic has "-WB" there).
const uint8_t kAmrMagic[] = {0x23, 0x21, 0x41, 0x4D, 0x52, 0x0A};
constexpr uint32_t kAmrMinimumLength = 17;
constexpr uint64_t kAmrMaximumSize = 16777216;  // 16 MiB

// ---- MIDI: "MThd", header length 6, format, track count, division; then
// "MTrk" chunks of a big-endian length.
constexpr uint32_t kMidMinimumLength = 15;
constexpr uint64_t kMidHeaderLengthAt = 4;
constexpr uint32_t kMidHeaderLength = 6;
constexpr uint64_t kMidFormatAt = 8;
constexpr uint16_t kMidMaxFormat = 2;
constexpr uint64_t kMidTrackCountAt = 10;
constexpr uint64_t kMidHeaderChunkBytes = 14;
constexpr uint64_t kChunkHeaderBytes = 8;
constexpr uint64_t kChunkLengthAt = 4;

}  // namespace

// ---- SWF

CTypeRecoverySWF::CTypeRecoverySWF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, SmallMediaRules()) {
  SetExtension(u"swf");
  m_maxFileSize = kSwfMaximumSize;
}

uint32_t CTypeRecoverySWF::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kSwfMinimumLength) return 0;
  const ByteView header(buffer, length);
  return BytesEqual(header, 0, "FWS") || BytesEqual(header, 0, "CWS") ? kTypeCode : 0;
}

bool CTypeRecoverySWF::StartFile(const Strip& strip) {
  m_compressed = ReadU8(strip.readable, 0) == 'C' ? 1 : 0;
  m_expectedSize = m_compressed != 0 ? 0 : ReadU32LE(strip.readable, kSwfFileLengthAt);
  return true;
}

CMediaStripCycle::Walk CTypeRecoverySWF::WalkStrip(const Strip& strip) {
  Walk walk = Walk::WholeStrip(strip);
  if (m_compressed == 0) {
    if (m_bytesWritten + strip.length >= m_expectedSize) {
      const uint64_t rest = m_expectedSize > m_bytesWritten ? m_expectedSize - m_bytesWritten : 0;
      walk = Walk::EndAt(static_cast<uint32_t>(rest));
    }
  } else {
    const int64_t zeros = FindZeroRun(strip.readable, strip.length);
    if (zeros >= 0) walk = Walk::EndAt(static_cast<uint32_t>(zeros));
  }
  if (!walk.ended && m_bytesWritten + walk.take >= m_maxFileSize) {
    walk = Walk::EndAt(walk.take, 0);
  }
  // A compressed movie, or one cut short by the maximum, is as long as taken.
  if (m_compressed != 0 || (walk.ended && walk.complete == 0)) {
    m_expectedSize = m_bytesWritten + walk.take;
  }
  return walk;
}

void CTypeRecoverySWF::ProgressFields(ProgressRecord& record) {
  record.FileFields().Flag(m_compressed);
}

// ---- AMR

CTypeRecoveryAMR::CTypeRecoveryAMR(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, SmallMediaRules()) {
  SetExtension(u"amr");
  m_maxFileSize = kAmrMaximumSize;
}

uint32_t CTypeRecoveryAMR::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kAmrMinimumLength) return 0;
  return BytesEqual(ByteView(buffer, length), 0, kAmrMagic, sizeof kAmrMagic) ? kTypeCode : 0;
}

bool CTypeRecoveryAMR::StartFile(const Strip&) { return true; }

CMediaStripCycle::Walk CTypeRecoveryAMR::WalkStrip(const Strip& strip) {
  Walk walk = Walk::WholeStrip(strip);
  const int64_t zeros = FindZeroRun(strip.readable, strip.length);
  if (zeros >= 0) {
    walk = Walk::EndAt(static_cast<uint32_t>(zeros));
  } else if (m_bytesWritten + walk.take >= m_maxFileSize) {
    walk = Walk::EndAt(walk.take, 0);
  }
  m_expectedSize = m_bytesWritten + walk.take;
  return walk;
}

// ---- MID

CTypeRecoveryMID::CTypeRecoveryMID(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, SmallMediaRules()) {
  SetExtension(u"mid");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryMID::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMidMinimumLength) return 0;
  const ByteView header(buffer, length);
  return BytesEqual(header, 0, "MThd") &&
                 ReadU32BE(header, kMidHeaderLengthAt) == kMidHeaderLength &&
                 ReadU16BE(header, kMidFormatAt) <= kMidMaxFormat &&
                 ReadU16BE(header, kMidTrackCountAt) != 0
             ? kTypeCode
             : 0;
}

bool CTypeRecoveryMID::StartFile(const Strip& strip) {
  m_tracksLeft = ReadU16BE(strip.readable, kMidTrackCountAt);
  m_walkedEnd = m_chunkCursor = m_expectedSize = kMidHeaderChunkBytes;
  return true;
}

CMediaStripCycle::Walk CTypeRecoveryMID::WalkStrip(const Strip& strip) {
  const uint64_t before = m_bytesWritten;
  while (m_tracksLeft != 0 && m_chunkCursor < strip.length) {
    if (!strip.readable.Has(m_chunkCursor, kChunkHeaderBytes)) {
      // The chunk header lies beyond the readable bytes: the tracks can no
      // longer be followed, and the file ends with this strip.
      m_expectedSize = before + strip.length;
      return Walk::EndAt(strip.length, 0);
    }
    if (!BytesEqual(strip.readable, m_chunkCursor, "MTrk")) {
      // Not a track while tracks are missing: the file ends before it.
      m_expectedSize = m_walkedEnd;
      return Walk::EndAt(static_cast<uint32_t>(m_chunkCursor), 0);
    }
    const uint64_t chunk =
        uint64_t{ReadU32BE(strip.readable, m_chunkCursor + kChunkLengthAt)} + kChunkHeaderBytes;
    m_chunkCursor += chunk;
    m_walkedEnd += chunk;
    --m_tracksLeft;
  }
  if (m_tracksLeft == 0 && before + strip.length >= m_walkedEnd) {
    m_expectedSize = m_walkedEnd;
    return Walk::EndAt(static_cast<uint32_t>(m_walkedEnd - before));
  }
  m_chunkCursor -= strip.length;
  m_expectedSize = before + strip.length;
  return Walk::WholeStrip(strip);
}

void CTypeRecoveryMID::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_tracksLeft)(m_walkedEnd)(m_chunkCursor);
}

TYPERECOVERY_FORMAT(CTypeRecoverySWF, {1283}, u".swf", {u"swf"})
TYPERECOVERY_FORMAT(CTypeRecoveryAMR, {774}, u".amr", {u"amr"})
TYPERECOVERY_FORMAT(CTypeRecoveryMID, {773}, u".mid", {u"mid"})
