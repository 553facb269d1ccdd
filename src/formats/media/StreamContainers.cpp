// Matroska, transport-stream, Ogg and FLV recognizers.
#include "formats/media/StreamContainers.h"

#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

CMediaStripCycle::Rules StreamRules(bool headerCutsFile, bool sizeIsBytesTaken) {
  CMediaStripCycle::Rules rules;
  rules.headerCutsFile = headerCutsFile;
  rules.cutComplete = 0;
  rules.sizeIsBytesTaken = sizeIsBytesTaken;
  return rules;
}

// ---- Matroska: EBML header, then the Segment element.
const uint8_t kEbmlId[] = {0x1A, 0x45, 0xDF, 0xA3};
const uint8_t kDocTypeId[] = {0x42, 0x82};
const uint8_t kSegmentId[] = {0x18, 0x53, 0x80, 0x67};
constexpr uint32_t kMkvMinimumLength = 512;
constexpr uint64_t kMkvSearchFrom = 4;
constexpr uint64_t kMkvSearchLastStart = 507;
constexpr uint64_t kEbmlHeaderSizeAt = 4;

// An EBML variable-length integer: its length is 1 plus the leading zero
// bits of its first byte; the value is the rest, most significant first.
struct VarInt {
  bool valid = false;
  uint32_t length = 0;
  uint64_t value = 0;
  bool unknown = false;  // every value bit set: the reserved "unknown size"
};

VarInt ReadVarInt(const ByteView& bytes, uint64_t at) {
  VarInt v;
  const uint8_t first = ReadU8(bytes, at);
  if (first == 0 || !bytes.Has(at, 1)) return v;
  uint32_t length = 1;
  while ((first & (0x80u >> (length - 1))) == 0) ++length;
  if (!bytes.Has(at, length)) return v;
  uint64_t value = first & ((0x80u >> (length - 1)) - 1);
  for (uint32_t i = 1; i < length; ++i) value = (value << 8) | ReadU8(bytes, at + i);
  v.valid = true;
  v.length = length;
  v.value = value;
  v.unknown = value == (uint64_t{1} << (7 * length)) - 1;
  return v;
}

// ---- Transport stream: the sync byte "G" at the packet spacing.
constexpr uint8_t kSync = 0x47;
constexpr uint32_t kTsMinimumLength = 512;
constexpr uint16_t kPlainPacket = 188;
constexpr uint16_t kPrefixedPacket = 192;
constexpr uint16_t kPrefixBytes = 4;
constexpr uint64_t kSyncLookBytes = 4;  // a sync is examined only with 4 bytes behind it readable

bool SyncsAt(const ByteView& bytes, uint64_t a, uint64_t b, uint64_t c) {
  return ReadU8(bytes, a) == kSync && ReadU8(bytes, b) == kSync && ReadU8(bytes, c) == kSync;
}

// ---- Ogg page header: "OggS", version, header type, granule position,
// serial, sequence, CRC, segment count at 26, then the segment table.
constexpr uint32_t kOggMinimumLength = 9;
constexpr uint64_t kOggHeaderTypeAt = 5;
constexpr uint8_t kOggBeginningOfStream = 2;
constexpr uint64_t kOggSegmentCountAt = 26;
constexpr uint64_t kOggFixedHeader = 27;

uint64_t OggPageLength(const ByteView& bytes, uint64_t at) {
  const uint32_t segments = ReadU8(bytes, at + kOggSegmentCountAt);
  uint64_t length = kOggFixedHeader + segments;
  for (uint32_t i = 0; i < segments; ++i) length += ReadU8(bytes, at + kOggFixedHeader + i);
  return length;
}

// ---- FLV: "FLV", version, type flags, big-endian data offset; then
// PreviousTagSize (4 bytes) and tags of an 11-byte header and their data.
constexpr uint32_t kFlvMinimumLength = 10;
constexpr uint64_t kFlvTypeFlagsAt = 4;
constexpr uint64_t kFlvDataOffsetAt = 5;
constexpr uint32_t kPreviousTagSizeBytes = 4;
constexpr uint64_t kTagTypeAt = 4;    // from the PreviousTagSize field
constexpr uint64_t kTagDataSizeAt = 5;
constexpr uint64_t kTagStreamIdAt = 12;
constexpr uint64_t kTagStep = 15;     // PreviousTagSize plus the tag header
constexpr uint8_t kTagAudio = 8, kTagVideo = 9, kTagScript = 18;

}  // namespace

// ---- MKV

CTypeRecoveryMKV::CTypeRecoveryMKV(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, StreamRules(true, false)) {
  SetExtension(u"mkv");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryMKV::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMkvMinimumLength) return 0;
  const ByteView header(buffer, length);
  if (!BytesEqual(header, 0, kEbmlId, sizeof kEbmlId)) return 0;
  return FindBytes(header, kMkvSearchFrom, kMkvSearchLastStart + sizeof kDocTypeId, kDocTypeId,
                   sizeof kDocTypeId) >= 0 &&
                 FindBytes(header, kMkvSearchFrom, kMkvSearchLastStart + sizeof kSegmentId,
                           kSegmentId, sizeof kSegmentId) >= 0
             ? kTypeCode
             : 0;
}

bool CTypeRecoveryMKV::StartFile(const Strip& strip) {
  // The header must be read inside the first strip.
  const ByteView bytes(strip.data, strip.length);
  const VarInt headerSize = ReadVarInt(bytes, kEbmlHeaderSizeAt);
  if (!headerSize.valid) return false;
  const uint64_t segment = kEbmlHeaderSizeAt + headerSize.length + headerSize.value;
  if (!BytesEqual(bytes, segment, kSegmentId, sizeof kSegmentId)) return false;
  const VarInt segmentSize = ReadVarInt(bytes, segment + sizeof kSegmentId);
  if (!segmentSize.valid) return false;
  m_expectedSize = segment + sizeof kSegmentId + segmentSize.length +
                   (segmentSize.unknown ? 0 : segmentSize.value);
  return true;
}

CMediaStripCycle::Walk CTypeRecoveryMKV::WalkStrip(const Strip& strip) {
  if (m_bytesWritten + strip.length >= m_expectedSize) {
    const uint64_t rest = m_expectedSize > m_bytesWritten ? m_expectedSize - m_bytesWritten : 0;
    return Walk::EndAt(static_cast<uint32_t>(rest));
  }
  return Walk::WholeStrip(strip);
}

// ---- MTS

CTypeRecoveryMTS::CTypeRecoveryMTS(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, StreamRules(false, false)) {
  SetExtension(u"mts");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryMTS::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kTsMinimumLength) return 0;
  const ByteView header(buffer, length);
  const bool prefixed = SyncsAt(header, 4, 4 + kPrefixedPacket, 4 + 2 * kPrefixedPacket);
  const bool plainShifted = SyncsAt(header, 4, 4 + kPlainPacket, 4 + 2 * kPlainPacket);
  const bool plain = SyncsAt(header, 0, kPlainPacket, 2 * kPlainPacket);
  return prefixed || plainShifted || plain ? kTypeCode : 0;
}

bool CTypeRecoveryMTS::StartFile(const Strip& strip) {
  m_walking = 1;
  m_lead = ReadU8(strip.readable, 0) == kSync ? 0 : kPrefixBytes;
  m_packetSize =
      ReadU8(strip.readable, m_lead + kPlainPacket) == kSync ? kPlainPacket : kPrefixedPacket;
  m_nextSyncInFile = m_nextSyncInStrip = m_lead;
  m_expectedSize = m_lead;
  return true;
}

CMediaStripCycle::Walk CTypeRecoveryMTS::WalkStrip(const Strip& strip) {
  const uint64_t readable = uint64_t{strip.length} + strip.lookahead;
  while (m_walking != 0 && m_nextSyncInStrip + kSyncLookBytes < readable) {
    if (ReadU8(strip.readable, m_nextSyncInStrip) != kSync) {
      m_walking = 0;  // sync lost: the stream ends before this packet
      break;
    }
    m_nextSyncInStrip += m_packetSize;
    m_nextSyncInFile += m_packetSize;
  }
  const uint64_t before = m_bytesWritten;
  if (before + strip.length > m_nextSyncInFile) {
    // The last whole packet ends lead bytes before the sync byte that failed
    // (or that the source no longer holds); the next packet's prefix is not
    // written, even when the strips already written reach into it.
    uint64_t take = m_nextSyncInFile - before;
    if (HasOpenOutputFile()) take = take > m_lead ? take - m_lead : 0;
    m_expectedSize = m_nextSyncInFile - m_lead;
    return Walk::EndAt(static_cast<uint32_t>(take), m_walking != 0 ? 1 : 0);
  }
  m_nextSyncInStrip -= strip.length;
  // Until the end is known, the size is what the file holds so far.
  m_expectedSize = before + strip.length;
  return Walk::WholeStrip(strip);
}

void CTypeRecoveryMTS::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_nextSyncInFile)(m_nextSyncInStrip).Flag(m_walking)(m_lead)(m_packetSize);
  // A hostile record must not stall the walk.
  if (record.Loading() && record.FileInProgress() && m_packetSize == 0) m_packetSize = kPlainPacket;
}

// ---- Unit chains (Ogg, FLV)

CUnitChainCycle::CUnitChainCycle(uint32_t typeCode, CTypeRecoveryManager* host,
                                 const char16_t* outputRoot)
    : CMediaStripCycle(typeCode, host, outputRoot, StreamRules(true, true)) {
  m_typePropertyFlag = 0;
}

void CUnitChainCycle::StartChain(uint64_t firstUnit) {
  m_walkedEnd = m_cursor = firstUnit;
  m_expectedSize = firstUnit;
}

CMediaStripCycle::Walk CUnitChainCycle::WalkStrip(const Strip& strip) {
  for (;;) {
    bool readable = false;
    const uint64_t unit = UnitLength(strip.readable, m_cursor, &readable);
    if (!readable || unit == 0) break;  // read again next strip, or the chain ends here
    m_cursor += unit;
    m_walkedEnd += unit;
  }
  const uint64_t before = m_bytesWritten;
  const uint64_t end = m_walkedEnd + TailBytes();
  if (before + strip.length > end) {
    return Walk::EndAt(end > before ? static_cast<uint32_t>(end - before) : 0);
  }
  m_cursor -= strip.length;
  return Walk::WholeStrip(strip);
}

void CUnitChainCycle::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_walkedEnd)(m_cursor);
}

// ---- OGG

CTypeRecoveryOGG::CTypeRecoveryOGG(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CUnitChainCycle(kTypeCode, host, outputRoot) {
  SetExtension(u"ogg");
}

uint32_t CTypeRecoveryOGG::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kOggMinimumLength) return 0;
  const ByteView header(buffer, length);
  return BytesEqual(header, 0, "OggS") && ReadU8(header, kOggHeaderTypeAt) == kOggBeginningOfStream
             ? kTypeCode
             : 0;
}

bool CTypeRecoveryOGG::StartFile(const Strip& strip) {
  StartChain(OggPageLength(strip.readable, 0));
  return true;
}

uint64_t CTypeRecoveryOGG::UnitLength(const ByteView& bytes, uint64_t at, bool* readable) const {
  // The page header is read once its segment table is readable. The end-of-
  // stream flag is not examined: chained streams are one file.
  *readable = bytes.Has(at, kOggFixedHeader) &&
              bytes.Has(at, kOggFixedHeader + ReadU8(bytes, at + kOggSegmentCountAt));
  if (!*readable || !BytesEqual(bytes, at, "OggS")) return 0;
  return OggPageLength(bytes, at);
}

// ---- FLV

CTypeRecoveryFLV::CTypeRecoveryFLV(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CUnitChainCycle(kTypeCode, host, outputRoot) {
  SetExtension(u"flv");
}

uint32_t CTypeRecoveryFLV::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kFlvMinimumLength) return 0;
  const ByteView header(buffer, length);
  if (!BytesEqual(header, 0, "FLV")) return 0;
  const uint8_t flags = ReadU8(header, kFlvTypeFlagsAt);  // 1 video, 4 audio
  return flags == 0 || flags == 1 || flags == 5 ? kTypeCode : 0;
}

bool CTypeRecoveryFLV::StartFile(const Strip& strip) {
  StartChain(ReadU32BE(strip.readable, kFlvDataOffsetAt));
  return true;
}

uint64_t CTypeRecoveryFLV::UnitLength(const ByteView& bytes, uint64_t at, bool* readable) const {
  // The PreviousTagSize field and the tag header, with a byte to spare.
  *readable = bytes.Has(at, kTagStep + 1);
  if (!*readable) return 0;
  const uint8_t type = ReadU8(bytes, at + kTagTypeAt);
  if (type != kTagAudio && type != kTagVideo && type != kTagScript) return 0;
  if (ReadU24BE(bytes, at + kTagStreamIdAt) != 0) return 0;
  return uint64_t{ReadU24BE(bytes, at + kTagDataSizeAt)} + kTagStep;
}

uint32_t CTypeRecoveryFLV::TailBytes() const { return kPreviousTagSizeBytes; }

TYPERECOVERY_FORMAT(CTypeRecoveryMKV, {1034}, u".mkv;.webm;.mka", {u"mkv", u"mka"})
TYPERECOVERY_FORMAT(CTypeRecoveryMTS,
    {1035},
    u".mts;.m2ts;.m2t;.ts;.tp;.mt2s",
    {u"mts", u"m2ts", u"m2t", u"ts", u"tp", u"mt2s"})
TYPERECOVERY_FORMAT(CTypeRecoveryOGG,
    {775},
    u".ogg;.spx;.opus;.ogv",
    {u"ogg", u"spx", u"opus", u"ogv"})
TYPERECOVERY_FORMAT(CTypeRecoveryFLV, {1036}, u".flv;.f4v", {u"flv"})
