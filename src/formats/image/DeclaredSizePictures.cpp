// Header tests and size fields of the icon (ICO) and TPF pictures.
#include "formats/image/DeclaredSizePictures.h"

#include "formats/image/BasicPictureRecord.h"
#include "registry/RecognizerFactory.h"

using typerecovery::BytesEqual;
using typerecovery::ByteView;
using typerecovery::ReadU16LE;
using typerecovery::ReadU32LE;
using typerecovery::ReadU8;

namespace {

// ---- Icon: ICONDIR, then one 16-byte ICONDIRENTRY per image ----
constexpr uint32_t kIcoMinimumHeaderLength = 9;
constexpr uint32_t kIdReservedOffset = 0;
constexpr uint32_t kIdTypeOffset = 2;
constexpr uint16_t kIconType = 1;
constexpr uint32_t kIdCountOffset = 4;
constexpr uint32_t kLargestImageCount = 31;
constexpr uint32_t kIconDirSize = 6;
constexpr uint32_t kEntrySize = 16;
// Entry fields, from the entry's start.
constexpr uint32_t kWidthField = 0;
constexpr uint32_t kHeightField = 1;
constexpr uint32_t kReservedField = 3;
constexpr uint32_t kPlanesField = 4;
constexpr uint32_t kBitCountField = 6;
constexpr uint32_t kBytesInResField = 8;
constexpr uint32_t kImageOffsetField = 12;
constexpr uint32_t kLargestImageSize = 10 * 1024 * 1024;

bool IsIconBitCount(uint16_t bits) {
  return bits == 0 || bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// ---- TPF3 design file ----
constexpr uint32_t kTpfVersion = 0x00050001;  // u32 at 4
constexpr uint32_t kTpfPartOffset = 0xB4;
constexpr uint32_t kTpfRestOffset = 0xB8;

}  // namespace

// ---- ICO ----

CTypeRecoveryICO::CTypeRecoveryICO(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CFixedSizeCycle(kTypeCode, host, outputRoot), m_width(0), m_height(0) {
  SetExtension(u"ico");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryICO::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kIcoMinimumHeaderLength || buffer[0] != 0) return 0;
  // Fields beyond the buffer are not examined: the test reads no further.
  const ByteView v(buffer, length);
  const uint32_t count = ReadU16LE(v, kIdCountOffset);
  if (ReadU16LE(v, kIdReservedOffset) != 0 || ReadU16LE(v, kIdTypeOffset) != kIconType ||
      count == 0 || count > kLargestImageCount) {
    return 0;
  }
  const ByteView first = v.From(kIconDirSize);
  if (ReadU8(first, kWidthField) != ReadU8(first, kHeightField)) return 0;
  if (first.Has(kReservedField, 1)) {
    const uint8_t reserved = ReadU8(first, kReservedField);
    if (reserved != 0x00 && reserved != 0xFF) return 0;
  }
  if (first.Has(kPlanesField, 2) && ReadU16LE(first, kPlanesField) > 1) return 0;
  if (first.Has(kBitCountField, 2) && !IsIconBitCount(ReadU16LE(first, kBitCountField))) return 0;
  if (first.Has(kImageOffsetField, 4) &&
      ReadU32LE(first, kImageOffsetField) < kIconDirSize + kEntrySize * count) {
    return 0;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = kIconDirSize + kEntrySize * i + kBytesInResField;
    if (!v.Has(at, 4)) break;
    const uint32_t size = ReadU32LE(v, at);
    if (size == 0 || size > kLargestImageSize) return 0;
  }
  return kTypeCode;
}

uint64_t CTypeRecoveryICO::DeclaredSize(const ByteView& header) const {
  const uint32_t count = ReadU16LE(header, kIdCountOffset);
  uint64_t size = kIconDirSize;
  for (uint32_t i = 0; i < count; ++i) {
    size += kEntrySize + ReadU32LE(header, kIconDirSize + kEntrySize * i + kBytesInResField);
  }
  return size;
}

void CTypeRecoveryICO::OnFileBegun(const ByteView& header, uint32_t*) {
  // The largest image by area; the first of equal areas. A width or height
  // byte of 0 counts as 0.
  const uint32_t count = ReadU16LE(header, kIdCountOffset);
  uint64_t largest = 0;
  m_width = 0;
  m_height = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const ByteView entry = header.From(kIconDirSize + kEntrySize * i);
    const uint32_t width = ReadU8(entry, kWidthField);
    const uint32_t height = ReadU8(entry, kHeightField);
    if (i == 0 || uint64_t{width} * height > largest) {
      largest = uint64_t{width} * height;
      m_width = width;
      m_height = height;
    }
  }
}

bool CTypeRecoveryICO::PictureRecord(tag_PictureInfo* record) const {
  *record = typerecovery::MakeBasicPictureRecord(kTypeCode, m_width, m_height);
  return true;
}

void CTypeRecoveryICO::ProgressFields(typerecovery::ProgressRecord& record) {
  record.FileFields()(m_width)(m_height);
}

// ---- TPF ----

bool CTypeRecoveryTPF::Matches(const ByteView& v) {
  return BytesEqual(v, 0, "TPF3") && ReadU32LE(v, 4) == kTpfVersion;
}

uint64_t CTypeRecoveryTPF::Size(const ByteView& header) {
  return uint64_t{ReadU32LE(header, kTpfRestOffset)} + ReadU32LE(header, kTpfPartOffset);
}

TYPERECOVERY_FORMAT(CTypeRecoveryICO, {1540}, u".ico", {u"ico"})
TYPERECOVERY_FORMAT(CTypeRecoveryTPF, {1564}, u".tpf", {u"tpf"})
