// The PNG signature test and the chunk walk to IEND.
#include "formats/image/PNG.h"

#include "formats/image/BasicPictureRecord.h"
#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;
using typerecovery::ReadU32BE;
using typerecovery::RecordWalk;

namespace {

constexpr uint32_t kMinimumHeaderLength = 17;
constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t kSignatureSize = 8;
// A chunk: length (4), type (4), data (length), CRC (4).
constexpr uint32_t kChunkTypeOffset = 4;
constexpr uint32_t kChunkOverhead = 12;
constexpr uint32_t kIhdrWidthOffset = 8;
constexpr uint32_t kIhdrHeightOffset = 12;
constexpr uint32_t kIhdrHeaderSize = 16;  // length, type, width, height
constexpr uint32_t kLargestChunkLength = 0x7FFFFFFF;  // 2^31 - 1

constexpr uint32_t Tag(const char (&t)[5]) {
  return (uint32_t(uint8_t(t[0])) << 24) | (uint32_t(uint8_t(t[1])) << 16) |
         (uint32_t(uint8_t(t[2])) << 8) | uint32_t(uint8_t(t[3]));
}

constexpr uint32_t kIHDR = Tag("IHDR");
constexpr uint32_t kIEND = Tag("IEND");
// The chunk types the walk passes over; any other type ends the walk.
constexpr uint32_t kKnownChunks[] = {
    Tag("IHDR"), Tag("PLTE"), Tag("IDAT"), Tag("bKGD"), Tag("cHRM"), Tag("fRAc"),
    Tag("gAMA"), Tag("gIFg"), Tag("gIFt"), Tag("gIFx"), Tag("hIST"), Tag("iCCP"),
    Tag("iTXt"), Tag("oFFs"), Tag("pCAL"), Tag("pHYs"), Tag("sBIT"), Tag("sCAL"),
    Tag("sPLT"), Tag("sRGB"), Tag("sTER"), Tag("tEXt"), Tag("tRNS"), Tag("zTXt"),
};

bool IsKnownChunk(uint32_t type) {
  for (uint32_t known : kKnownChunks) {
    if (known == type) return true;
  }
  return false;
}

}  // namespace

CTypeRecoveryPNG::CTypeRecoveryPNG(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot), m_width(0), m_height(0) {
  SetExtension(u"png");
  m_typePropertyFlag = 0;
}

CTypeRecoveryPNG::~CTypeRecoveryPNG() = default;

uint32_t CTypeRecoveryPNG::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (length < kMinimumHeaderLength) return 0;
  return BytesEqual(ByteView(buffer, length), 0, kSignature, kSignatureSize) ? kTypeCode : 0;
}

RecordWalk::Step CTypeRecoveryPNG::VisitChunk(const ByteView& header) {
  const uint32_t type = ReadU32BE(header, kChunkTypeOffset);
  const uint32_t chunkLength = ReadU32BE(header, 0);
  if (header.size == 0 || !IsKnownChunk(type) || chunkLength > kLargestChunkLength) {
    return RecordWalk::Step::Stop(header.size != 0 && type == kIEND);
  }
  if (type == kIHDR) {
    if (!header.Has(0, kIhdrHeaderSize)) return RecordWalk::Step::Wait();  // whole, next strip
    m_width = ReadU32BE(header, kIhdrWidthOffset);
    m_height = ReadU32BE(header, kIhdrHeightOffset);
  }
  return RecordWalk::Step::Next(uint64_t{chunkLength} + kChunkOverhead);
}

uint32_t CTypeRecoveryPNG::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  uint32_t ended = 0;
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    ended += CutAtNewHeader();
    BeginFile(stripPosition, errorFlag);
    m_expectedSize = kSignatureSize;
    m_chunks.Start(kSignatureSize);
    m_width = 0;
    m_height = 0;
  } else if (IsIdle()) {
    return 0;
  }
  if (m_fileInProgress == 0) return ended;

  const ByteView data(buffer, uint64_t{length} + lookahead);
  m_chunks.Walk(data, length, [this](const ByteView& header) { return VisitChunk(header); });
  m_chunks.EndStrip(length);

  uint32_t take = length;
  bool endsHere = false;
  const uint64_t end = m_chunks.FileOffset() + kChunkOverhead;
  if (!m_chunks.IsWalking() && m_bytesWritten + length > end) {
    take = end > m_bytesWritten ? static_cast<uint32_t>(end - m_bytesWritten) : 0;
    endsHere = true;
  }
  TakeBytes(buffer, take, errorFlag);
  if (!endsHere) {
    // Until the end is known, a flush reports what was taken.
    m_expectedSize = m_bytesWritten;
    return ended;
  }
  m_expectedSize = end;
  const tag_PictureInfo record = typerecovery::MakeBasicPictureRecord(kTypeCode, m_width, m_height);
  return ended + EndFile(m_chunks.StoppedComplete() ? 1 : 0, &record);
}

uint32_t CTypeRecoveryPNG::SaveProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::SaveProgress(file) == 0) return 0;
  if (m_fileInProgress == 0) return 1;
  return m_chunks.Save(file, true) && WriteU32(file, m_width) && WriteU32(file, m_height) ? 1 : 0;
}

uint32_t CTypeRecoveryPNG::LoadProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::LoadProgress(file) == 0) return 0;
  if (m_fileInProgress == 0) return 1;
  return m_chunks.Load(file, true) && ReadU32(file, &m_width) && ReadU32(file, &m_height) ? 1 : 0;
}

TYPERECOVERY_FORMAT(CTypeRecoveryPNG, {1539}, u".png", {u"png"})
