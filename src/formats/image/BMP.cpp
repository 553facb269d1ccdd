// The bitmap header test and the carve of a bitmap to its stated size.
#include "formats/image/BMP.h"

#include "formats/image/BasicPictureRecord.h"
#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;
using typerecovery::ReadU16LE;
using typerecovery::ReadU32LE;

namespace {

constexpr uint32_t kMinimumHeaderLength = 55;
// BITMAPFILEHEADER
constexpr uint32_t kFileSizeOffset = 2;     // bfSize
constexpr uint32_t kReservedOffset = 6;     // bfReserved1, bfReserved2
constexpr uint32_t kPixelDataOffset = 10;   // bfOffBits
// BITMAPINFOHEADER
constexpr uint32_t kInfoSizeOffset = 14;    // biSize
constexpr uint32_t kWidthOffset = 18;       // biWidth
constexpr uint32_t kHeightOffset = 22;      // biHeight
constexpr uint32_t kBitCountOffset = 28;    // biBitCount
constexpr uint32_t kImageSizeOffset = 34;   // biSizeImage

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kLargestPalette = 256 * 4;
// The info-header sizes that writers use: OS/2 1.x (12), OS/2 2.x (16 and
// 64), BITMAPINFOHEADER (40), its Adobe extensions with colour masks (52 and
// 56), and versions 4 (108) and 5 (124), which ImageMagick and other tools
// write for pictures with an alpha channel or colour-space data.
const uint32_t kInfoSizes[] = {12, 16, 40, 52, 56, 64, 108, 124};
constexpr uint32_t kLargestDimension = 30000;
constexpr uint32_t kLargestBitCount = 32;

}  // namespace

CTypeRecoveryBMP::CTypeRecoveryBMP(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot), m_width(0), m_height(0) {
  SetExtension(u"bmp");
  m_typePropertyFlag = 0;
}

CTypeRecoveryBMP::~CTypeRecoveryBMP() = default;

uint32_t CTypeRecoveryBMP::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (length < kMinimumHeaderLength || buffer[0] != 'B' || buffer[1] != 'M') return 0;
  const ByteView v(buffer, length);
  const uint32_t infoSize = ReadU32LE(v, kInfoSizeOffset);
  bool knownInfoSize = false;
  for (uint32_t size : kInfoSizes) knownInfoSize = knownInfoSize || size == infoSize;
  // Width and height compare unsigned: a negative (top-down) height is
  // refused. The pixels follow the headers and at most a 256-entry palette.
  const bool plausible = knownInfoSize && ReadU32LE(v, kReservedOffset) == 0 &&
                         ReadU32LE(v, kPixelDataOffset) <= kFileHeaderSize + infoSize + kLargestPalette &&
                         ReadU32LE(v, kWidthOffset) <= kLargestDimension &&
                         ReadU32LE(v, kHeightOffset) <= kLargestDimension &&
                         ReadU16LE(v, kBitCountOffset) <= kLargestBitCount;
  return plausible ? kTypeCode : 0;
}

uint32_t CTypeRecoveryBMP::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t, uint32_t, uint32_t* errorFlag) {
  uint32_t ended = 0;
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    ended += CutAtNewHeader();
    BeginFile(stripPosition, errorFlag);
    const ByteView header(buffer, length);
    const uint64_t pixelsEnd =
        uint64_t{ReadU32LE(header, kPixelDataOffset)} + ReadU32LE(header, kImageSizeOffset);
    const uint64_t fileSize = ReadU32LE(header, kFileSizeOffset);
    m_expectedSize = pixelsEnd > fileSize ? pixelsEnd : fileSize;
    m_width = ReadU32LE(header, kWidthOffset);
    m_height = ReadU32LE(header, kHeightOffset);
  } else if (IsIdle()) {
    return 0;
  }
  if (m_fileInProgress == 0) return ended;

  if (m_bytesWritten + length < m_expectedSize) {
    TakeBytes(buffer, length, errorFlag);
    return ended;
  }
  const uint64_t rest = m_expectedSize > m_bytesWritten ? m_expectedSize - m_bytesWritten : 0;
  TakeBytes(buffer, static_cast<uint32_t>(rest), errorFlag);
  const tag_PictureInfo record = typerecovery::MakeBasicPictureRecord(kTypeCode, m_width, m_height);
  return ended + EndFile(1, &record);
}

void CTypeRecoveryBMP::ProgressFields(typerecovery::ProgressRecord& record) {
  record.FileFields()(m_width)(m_height);
}

TYPERECOVERY_FORMAT(CTypeRecoveryBMP, {1537}, u".bmp", {u"bmp"})
