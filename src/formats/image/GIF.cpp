// The GIF header test and the block walk to the trailer.
#include "formats/image/GIF.h"

#include "formats/image/BasicPictureRecord.h"
#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;

namespace {

constexpr uint32_t kMinimumHeaderLength = 17;
// Header: "GIF8", "7a" or "9a"; logical screen descriptor: width, height,
// packed fields, background colour index, pixel aspect ratio.
constexpr uint32_t kVersionOffset = 4;
constexpr uint32_t kScreenWidthOffset = 6;
constexpr uint32_t kScreenHeightOffset = 8;
constexpr uint32_t kScreenPackedOffset = 10;
constexpr uint32_t kFirstBlockOffset = 13;
constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kColourTableSizeMask = 0x07;

constexpr uint8_t kExtensionIntroducer = 0x21;  // '!', followed by the label
constexpr uint8_t kImageSeparator = 0x2C;       // ','
constexpr uint8_t kTrailer = 0x3B;              // ';'
constexpr uint32_t kExtensionHeader = 2;        // introducer and label
// From the separator to the image descriptor's packed byte: separator,
// left, top, width, height.
constexpr uint32_t kSeparatorToPacked = 9;
constexpr uint32_t kPackedAndCodeSize = 2;  // packed byte and LZW minimum code size

// A colour table holds 2^(N+1) entries of three bytes.
uint32_t ColourTableSize(uint8_t packed) {
  return (packed & kColourTableFlag) != 0 ? 3u << ((packed & kColourTableSizeMask) + 1) : 0;
}

}  // namespace

CTypeRecoveryGIF::CTypeRecoveryGIF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot),
      m_position(0),
      m_inExtension(0),
      m_descriptorPending(0),
      m_inImageData(0),
      m_width(0),
      m_height(0) {
  SetExtension(u"gif");
  m_typePropertyFlag = 0;
}

CTypeRecoveryGIF::~CTypeRecoveryGIF() = default;

uint32_t CTypeRecoveryGIF::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (length < kMinimumHeaderLength) return 0;
  const ByteView v(buffer, length);
  if (!BytesEqual(v, 0, "GIF8")) return 0;
  return BytesEqual(v, kVersionOffset, "9a") || BytesEqual(v, kVersionOffset, "7a") ? kTypeCode : 0;
}

bool CTypeRecoveryGIF::WalkBlocks(const uint8_t* strip, uint32_t length, uint32_t* end,
                                  bool* complete) {
  // Positions are 64-bit here so that a block size near the 32-bit limit
  // cannot wrap; a position beyond the strip is carried into later strips.
  uint64_t position = m_position;
  while (position < length) {
    const uint8_t byte = strip[position];
    if (m_inExtension != 0 || m_inImageData != 0) {
      if (byte == 0) {
        m_inExtension = 0;
        m_inImageData = 0;
        position += 1;
      } else {
        position += uint64_t{byte} + 1;  // one data sub-block
      }
    } else if (m_descriptorPending != 0) {
      position += ColourTableSize(byte) + kPackedAndCodeSize;
      m_descriptorPending = 0;
      m_inImageData = 1;
    } else if (byte == kExtensionIntroducer) {
      position += kExtensionHeader;
      m_inExtension = 1;
    } else if (byte == kImageSeparator) {
      position += kSeparatorToPacked;
      m_descriptorPending = 1;
    } else {
      *end = static_cast<uint32_t>(position) + 1;
      *complete = byte == kTrailer;
      return true;
    }
  }
  m_position = static_cast<uint32_t>(position - length);
  return false;
}

uint32_t CTypeRecoveryGIF::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t, uint32_t, uint32_t* errorFlag) {
  uint32_t ended = 0;
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    // GIF counts its bytes in the expected size, so the cut reports that.
    if (m_fileInProgress != 0) {
      ended += EndFile(0);
    } else {
      CloseOutputFile();
    }
    BeginFile(stripPosition, errorFlag);
    const ByteView header(buffer, length);
    m_position = kFirstBlockOffset + ColourTableSize(buffer[kScreenPackedOffset]);
    m_width = typerecovery::ReadU16LE(header, kScreenWidthOffset);
    m_height = typerecovery::ReadU16LE(header, kScreenHeightOffset);
    m_inExtension = 0;
    m_descriptorPending = 0;
    m_inImageData = 0;
  } else if (IsIdle()) {
    return 0;
  }
  if (m_fileInProgress == 0) return ended;

  uint32_t end = length;
  bool complete = false;
  const bool endsHere = WalkBlocks(buffer, length, &end, &complete);
  m_expectedSize += end;
  WriteOutput(buffer, end, errorFlag);
  if (!endsHere) return ended;
  const tag_PictureInfo record = typerecovery::MakeBasicPictureRecord(kTypeCode, m_width, m_height);
  m_width = 0;
  m_height = 0;
  return ended + EndFile(complete ? 1 : 0, &record);
}

void CTypeRecoveryGIF::ProgressFields(typerecovery::ProgressRecord& record) {
  record.FileFields()(m_position)(m_inExtension)(m_descriptorPending)(m_inImageData)(m_width)(m_height);
}

TYPERECOVERY_FORMAT(CTypeRecoveryGIF, {1538}, u".gif", {u"gif"})
