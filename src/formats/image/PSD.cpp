// The layered-document header test and the walk over its sections.
#include "formats/image/PSD.h"

#include <cstring>

#include "formats/image/BasicPictureRecord.h"
#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;
using typerecovery::ReadU16BE;
using typerecovery::ReadU16LE;
using typerecovery::ReadU32BE;
using typerecovery::ReadU32LE;

namespace {

constexpr uint32_t kMinimumHeaderLength = 27;
const uint8_t kSignature[6] = {'8', 'B', 'P', 'S', 0x00, 0x01};  // signature, version 1
// File header fields (big-endian in the file).
constexpr uint32_t kChannelsOffset = 12;
constexpr uint32_t kHeightOffset = 14;
constexpr uint32_t kWidthOffset = 18;
constexpr uint32_t kDepthOffset = 22;
constexpr uint32_t kColourModeOffset = 24;
constexpr uint32_t kLargestDimension = 30000;
constexpr uint64_t kDefaultMaximum = 0x80000000ULL;  // 2 GiB

// Each section begins with its length; a length from here on would wrap the
// section's size (length + 4) around in 32 bits.
constexpr uint32_t kSectionLengthSize = 4;
constexpr uint32_t kLargestSectionLength = 0xFFFFFFFB;
constexpr uint32_t kCompressionSize = 2;
constexpr uint16_t kRawCompression = 0;
constexpr uint32_t kByteCountSize = 2;

void ToHostOrder16(uint8_t* header, uint32_t offset) {
  const uint16_t v = ReadU16BE(ByteView(header, CTypeRecoveryPSD::kFileHeaderSize), offset);
  header[offset] = static_cast<uint8_t>(v);
  header[offset + 1] = static_cast<uint8_t>(v >> 8);
}

void ToHostOrder32(uint8_t* header, uint32_t offset) {
  const uint32_t v = ReadU32BE(ByteView(header, CTypeRecoveryPSD::kFileHeaderSize), offset);
  for (uint32_t i = 0; i < 4; ++i) header[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

CTypeRecoveryPSD::CTypeRecoveryPSD(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot),
      m_header{},
      m_rowsToRead(0),
      m_section(0),
      m_nextPosition(kFileHeaderSize),
      m_width(0),
      m_height(0),
      m_tail{},
      m_tailLength(0) {
  SetExtension(u"psd");
  m_maxFileSize = kDefaultMaximum;
  m_typePropertyFlag = 1;
}

CTypeRecoveryPSD::~CTypeRecoveryPSD() = default;

uint32_t CTypeRecoveryPSD::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumHeaderLength || buffer[0] != '8') return 0;
  const ByteView v(buffer, length);
  const bool matched = BytesEqual(v, 0, kSignature, sizeof kSignature) &&
                       ReadU32BE(v, kHeightOffset) <= kLargestDimension &&
                       ReadU32BE(v, kWidthOffset) <= kLargestDimension;
  return matched ? kTypeCode : 0;
}

void CTypeRecoveryPSD::TakeHeader(const uint8_t* buffer) {
  std::memcpy(m_header, buffer, kFileHeaderSize);
  ToHostOrder16(m_header, kChannelsOffset);
  ToHostOrder32(m_header, kHeightOffset);
  ToHostOrder32(m_header, kWidthOffset);
  ToHostOrder16(m_header, kDepthOffset);
  ToHostOrder16(m_header, kColourModeOffset);
  const ByteView h(m_header, kFileHeaderSize);
  m_height = ReadU32LE(h, kHeightOffset);
  m_width = ReadU32LE(h, kWidthOffset);
  m_rowsToRead = Channels() * m_height;
  m_section = 0;
  m_nextPosition = kFileHeaderSize;
  m_tailLength = 0;
}

uint16_t CTypeRecoveryPSD::Channels() const {
  return ReadU16LE(ByteView(m_header, kFileHeaderSize), kChannelsOffset);
}

uint32_t CTypeRecoveryPSD::Depth() const {
  return ReadU16LE(ByteView(m_header, kFileHeaderSize), kDepthOffset);
}

bool CTypeRecoveryPSD::ReadField(const ByteView& strip, uint64_t position, uint32_t count,
                                 uint8_t* out) const {
  const uint64_t stripStart = m_bytesWritten;
  const uint64_t tailStart = stripStart - m_tailLength;
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = position + k;
    if (at >= stripStart) {
      if (at - stripStart >= strip.size) return false;
      out[k] = strip.data[at - stripStart];
    } else if (at >= tailStart) {
      out[k] = m_tail[at - tailStart];
    } else {
      return false;
    }
  }
  return true;
}

void CTypeRecoveryPSD::StartImageData(const ByteView& strip) {
  const uint64_t rows = uint64_t{Channels()} * m_height;
  uint8_t field[kCompressionSize];
  if (rows == 0) {
    // No image data to size: the file ends after the compression field.
    m_expectedSize = m_nextPosition + kCompressionSize;
    m_section = kRawSizeKnown;
    return;
  }
  if (!ReadField(strip, m_nextPosition, kCompressionSize, field)) return;  // next strip
  m_expectedSize = m_nextPosition + kCompressionSize;
  if (ReadU16BE(ByteView(field, kCompressionSize), 0) == kRawCompression) {
    // Raw pixels; depths below 8 pack 8 / depth pixels in a byte. A depth of
    // 0 names no pixel size, and gets no pixel bytes.
    const uint64_t samples = rows * m_width;
    const uint32_t depth = Depth();
    if (depth >= 8) {
      m_expectedSize += samples * depth / 8;
    } else if (depth != 0) {
      m_expectedSize += samples / (8 / depth);
    }
    m_section = kRawSizeKnown;
  } else {
    m_expectedSize += rows * kByteCountSize;  // the byte-count table
  }
  m_nextPosition += kCompressionSize;
}

bool CTypeRecoveryPSD::Walk(const ByteView& strip, uint32_t length) {
  const uint64_t stripEnd = m_bytesWritten + length;
  uint8_t field[kSectionLengthSize];
  while (m_section < kImageData && m_nextPosition < stripEnd) {
    if (!ReadField(strip, m_nextPosition, kSectionLengthSize, field)) return true;
    const uint32_t sectionLength = ReadU32BE(ByteView(field, kSectionLengthSize), 0);
    if (sectionLength > kLargestSectionLength) return false;
    m_nextPosition += uint64_t{sectionLength} + kSectionLengthSize;
    ++m_section;
  }
  if (m_section != kImageData) return true;
  if (m_expectedSize == 0 && m_nextPosition < stripEnd) StartImageData(strip);
  while (m_section == kImageData && m_expectedSize != 0 && m_rowsToRead != 0 &&
         m_nextPosition < stripEnd) {
    if (!ReadField(strip, m_nextPosition, kByteCountSize, field)) return true;
    m_expectedSize += ReadU16BE(ByteView(field, kByteCountSize), 0);
    m_nextPosition += kByteCountSize;
    --m_rowsToRead;
  }
  return true;
}

void CTypeRecoveryPSD::KeepTail(const uint8_t* buffer, uint32_t length) {
  constexpr uint32_t kTail = sizeof m_tail;
  uint8_t joined[2 * kTail];
  uint32_t n = m_tailLength;
  std::memcpy(joined, m_tail, n);
  const uint32_t keep = length < kTail ? length : kTail;
  std::memcpy(joined + n, buffer + length - keep, keep);
  n += keep;
  m_tailLength = n < kTail ? n : kTail;
  std::memcpy(m_tail, joined + n - m_tailLength, m_tailLength);
}

uint32_t CTypeRecoveryPSD::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  uint32_t ended = 0;
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    ended += CutAtNewHeader(1);
    BeginFile(stripPosition, errorFlag);
    TakeHeader(buffer);
  } else if (IsIdle()) {
    return 0;
  }
  if (m_fileInProgress == 0 || buffer == nullptr) return ended;

  const ByteView strip(buffer, uint64_t{length} + lookahead);
  const bool intact = Walk(strip, length);
  const bool sizeKnown = m_section == kRawSizeKnown ||
                         (m_section == kImageData && m_expectedSize != 0 && m_rowsToRead == 0);

  uint32_t take = length;
  bool endsHere = false;
  uint32_t complete = 1;
  if (!intact) {
    endsHere = true;
    complete = 0;
  } else if (sizeKnown && m_bytesWritten + length >= m_expectedSize) {
    take = m_expectedSize > m_bytesWritten ? static_cast<uint32_t>(m_expectedSize - m_bytesWritten)
                                           : 0;
    endsHere = true;
  }
  TakeBytes(buffer, take, errorFlag);
  if (!endsHere && m_bytesWritten >= m_maxFileSize) {
    endsHere = true;
    complete = 0;
  }
  if (!endsHere) {
    KeepTail(buffer, length);
    return ended;
  }
  if (complete == 0) m_expectedSize = m_bytesWritten;
  const tag_PictureInfo record = typerecovery::MakeBasicPictureRecord(kTypeCode, m_width, m_height);
  return ended + EndFile(complete, &record);
}

void CTypeRecoveryPSD::ProgressFields(typerecovery::ProgressRecord& record) {
  if (record.Loading()) m_tailLength = 0;
  // The next position is kept in 32 bits (a larger one is saved as the largest).
  uint32_t next = m_nextPosition > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(m_nextPosition);
  record.FileFields()(m_header)(m_rowsToRead)(m_section)(next)(m_width)(m_height);
  if (record.Loading() && record.FileInProgress() && record.Ok()) m_nextPosition = next;
}

TYPERECOVERY_FORMAT(CTypeRecoveryPSD, {1541}, u".psd", {u"psd"})
