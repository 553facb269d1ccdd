// CExif: the image-file-directory walk over TIFF data held in memory.
#include "formats/image/Exif.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "framework/Charset.h"

using typerecovery::ByteView;

namespace {

// APP1 payload: "Exif\0\0", then the TIFF header.
constexpr uint32_t kExifIdentifierSize = 6;
// An APP1 length field counts itself (2) and the identifier (6).
constexpr uint32_t kApp1Overhead = 8;
// TIFF header: byte order (2), magic (2), first-directory offset (4).
constexpr uint32_t kTiffHeaderSize = 8;
constexpr uint16_t kTiffMagic = 42;
constexpr uint32_t kApp1FirstDirectoryMin = 8;
constexpr uint32_t kApp1FirstDirectoryMax = 16;

constexpr uint32_t kEntrySize = 12;
constexpr uint32_t kInlineValueSize = 4;

// Field types of a directory entry.
enum : uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kSByte = 6,
  kUndefined = 7,
  kSShort = 8,
  kSLong = 9,
  kSRational = 10,
  kFloat = 11,
  kDouble = 12,
};

uint32_t UnitSize(uint16_t format) {
  switch (format) {
    case kByte: case kAscii: case kSByte: case kUndefined: return 1;
    case kShort: case kSShort: return 2;
    case kLong: case kSLong: case kFloat: return 4;
    case kRational: case kSRational: case kDouble: return 8;
    default: return 0;  // not a field type: the directory is broken
  }
}

// Tags.
enum : uint16_t {
  kGpsLatitudeRef = 0x0001,
  kGpsLatitude = 0x0002,
  kGpsLongitudeRef = 0x0003,
  kGpsLongitude = 0x0004,
  kGpsAltitudeRef = 0x0005,
  kGpsAltitude = 0x0006,
  kImageWidth = 0x0100,
  kImageLength = 0x0101,
  kMake = 0x010F,
  kModel = 0x0110,
  kSoftware = 0x0131,
  kDateTime = 0x0132,
  kExifIfdPointer = 0x8769,
  kGpsInfoIfdPointer = 0x8825,
  kExifVersion = 0x9000,
  kDateTimeOriginal = 0x9003,
  kPixelXDimension = 0xA002,
  kPixelYDimension = 0xA003,
  kInteroperabilityIfdPointer = 0xA005,
};

// Truncation toward zero into a 32-bit field; values no 32-bit field can
// hold (and NaN) give 0.
int32_t TruncateToInt32(double value) {
  if (!(value > -2147483649.0 && value < 4294967296.0)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(value)));
}

}  // namespace

struct CExif::Entry {
  uint16_t tag;
  uint16_t format;
  uint32_t count;
  uint32_t valueOffset;  // where the value's bytes start in the TIFF data
};

CExif::CExif()
    : m_byteOrder(kLittleEndian),
      m_width(0),
      m_height(0),
      m_info(),
      m_dataLength(0),
      m_dataOffset(0),
      m_mode(kModeApp1),
      m_tiff(),
      m_visited(),
      m_visitedCount(0) {}

CExif::~CExif() = default;

uint16_t CExif::ReadU16(uint64_t offset) const {
  return m_byteOrder == kBigEndian ? typerecovery::ReadU16BE(m_tiff, offset)
                                   : typerecovery::ReadU16LE(m_tiff, offset);
}

uint32_t CExif::ReadU32(uint64_t offset) const {
  return m_byteOrder == kBigEndian ? typerecovery::ReadU32BE(m_tiff, offset)
                                   : typerecovery::ReadU32LE(m_tiff, offset);
}

uint32_t CExif::Parse(const uint8_t* buffer, uint32_t length) {
  try {
    m_width = 0;
    m_height = 0;
    m_info = tag_ExifInfo();
    m_visitedCount = 0;
    if (buffer == nullptr) return 0;
    uint32_t firstDirectory = 0;
    if (!ParseHeader(buffer, length, &firstDirectory)) return 0;
    return ReadDirectory(firstDirectory, kMainDirectory, 0) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

bool CExif::ParseHeader(const uint8_t* buffer, uint32_t length, uint32_t* firstDirectory) {
  const ByteView whole(buffer, length);
  uint64_t tiffStart = 0;
  uint64_t tiffLength = 0;
  if (m_mode == kModeApp1) {
    if (m_dataLength < kApp1Overhead) return false;
    tiffStart = uint64_t{m_dataOffset} + kExifIdentifierSize;
    if (tiffStart > length) return false;
    tiffLength = m_dataLength - kApp1Overhead;
  } else {
    tiffLength = m_dataLength;
  }
  if (tiffLength > length - tiffStart) tiffLength = length - tiffStart;
  m_tiff = ByteView(buffer + tiffStart, tiffLength);
  if (!m_tiff.Has(0, kTiffHeaderSize)) return false;

  if (typerecovery::BytesEqual(m_tiff, 0, "II")) {
    m_byteOrder = kLittleEndian;
  } else if (typerecovery::BytesEqual(m_tiff, 0, "MM")) {
    m_byteOrder = kBigEndian;
  } else {
    return false;
  }

  const uint32_t offset = ReadU32(4);
  if (m_mode == kModeApp1) {
    if (ReadU16(2) != kTiffMagic) return false;
    if (offset < kApp1FirstDirectoryMin || offset > kApp1FirstDirectoryMax) return false;
    // The first directory follows the header, whatever the offset says.
    *firstDirectory = kTiffHeaderSize;
  } else {
    const int32_t signedOffset = static_cast<int32_t>(offset);
    if (signedOffset < 0 || static_cast<uint32_t>(signedOffset) > whole.size) return false;
    *firstDirectory = offset;
  }
  return true;
}

bool CExif::MarkVisited(uint32_t position) {
  for (uint32_t i = 0; i < m_visitedCount; ++i) {
    if (m_visited[i] == position) return false;
  }
  if (m_visitedCount == kMaxDirectories) return false;
  m_visited[m_visitedCount++] = position;
  return true;
}

bool CExif::ReadDirectory(uint32_t position, DirectoryKind kind, uint32_t depth) {
  if (depth > kMaxDepth || !MarkVisited(position)) return false;
  if (!m_tiff.Has(position, 2)) return false;
  const uint32_t entries = ReadU16(position);
  const uint64_t entriesStart = uint64_t{position} + 2;
  if (!m_tiff.Has(entriesStart, uint64_t{entries} * kEntrySize)) return false;

  for (uint32_t i = 0; i < entries; ++i) {
    const uint64_t at = entriesStart + uint64_t{i} * kEntrySize;
    Entry entry;
    entry.tag = ReadU16(at);
    entry.format = ReadU16(at + 2);
    entry.count = ReadU32(at + 4);
    const uint32_t unit = UnitSize(entry.format);
    if (unit == 0) return false;
    const uint64_t byteSize = uint64_t{entry.count} * unit;
    if (byteSize > kInlineValueSize) {
      const uint32_t valueOffset = ReadU32(at + 8);
      if (!m_tiff.Has(valueOffset, byteSize)) return false;
      entry.valueOffset = valueOffset;
    } else {
      entry.valueOffset = static_cast<uint32_t>(at + 8);
    }

    if (entry.tag == kExifIfdPointer || entry.tag == kInteroperabilityIfdPointer ||
        entry.tag == kGpsInfoIfdPointer) {
      const uint32_t subDirectory = ReadU32(entry.valueOffset);
      if (subDirectory > m_tiff.size) return false;
      // A broken sub-directory does not break this one.
      ReadDirectory(subDirectory, entry.tag == kGpsInfoIfdPointer ? kGpsDirectory : kMainDirectory,
                    depth + 1);
      continue;
    }
    HandleTag(entry, kind);
  }

  // The link to the next directory. A link cut off by the end of the data
  // is taken as no link.
  const uint64_t link = entriesStart + uint64_t{entries} * kEntrySize;
  if (!m_tiff.Has(link, 4)) return true;
  const uint32_t next = ReadU32(link);
  if (next == 0) return true;
  if (next > m_tiff.size) return false;
  ReadDirectory(next, kind, depth + 1);
  return true;
}

void CExif::HandleTag(const Entry& entry, DirectoryKind kind) {
  if (kind == kGpsDirectory) {
    switch (entry.tag) {
      case kGpsLatitudeRef:
        ReadText(entry, m_info.latitudeRef, sizeof m_info.latitudeRef - 1);
        return;
      case kGpsLatitude:
        m_info.latitude = ReadCoordinate(entry);
        return;
      case kGpsLongitudeRef:
        ReadText(entry, m_info.longitudeRef, sizeof m_info.longitudeRef - 1);
        return;
      case kGpsLongitude:
        m_info.longitude = ReadCoordinate(entry);
        return;
      case kGpsAltitudeRef:
        ReadText(entry, m_info.altitudeRef, sizeof m_info.altitudeRef - 1);
        return;
      case kGpsAltitude:
        m_info.altitude = static_cast<float>(ReadNumber(entry, 0));
        return;
      default:
        break;
    }
  }
  switch (entry.tag) {
    case kImageWidth:
    case kPixelXDimension:
      m_width = TruncateToInt32(ReadNumber(entry, 0));
      break;
    case kImageLength:
    case kPixelYDimension:
      m_height = TruncateToInt32(ReadNumber(entry, 0));
      break;
    case kMake:
      ReadText(entry, m_info.make, sizeof m_info.make - 1);
      break;
    case kModel:
      ReadText(entry, m_info.model, sizeof m_info.model - 1);
      break;
    case kSoftware:
      ReadText(entry, m_info.software, sizeof m_info.software - 1);
      break;
    case kDateTime:
      ReadText(entry, m_info.dateTime, sizeof m_info.dateTime - 1);
      break;
    case kExifVersion:
      ReadText(entry, m_info.exifVersion, sizeof m_info.exifVersion - 1);
      break;
    case kDateTimeOriginal:
      ReadText(entry, m_info.dateTimeOriginal, sizeof m_info.dateTimeOriginal - 1);
      break;
    default:
      break;
  }
}

double CExif::ReadFraction(uint64_t offset) const {
  const int32_t numerator = static_cast<int32_t>(ReadU32(offset));
  const int32_t denominator = static_cast<int32_t>(ReadU32(offset + 4));
  if (denominator == 0) return 0.0;
  return static_cast<double>(numerator) / static_cast<double>(denominator);
}

double CExif::ReadNumber(const Entry& entry, uint32_t index) const {
  const uint64_t at = uint64_t{entry.valueOffset} + uint64_t{index} * UnitSize(entry.format);
  switch (entry.format) {
    case kByte: return typerecovery::ReadU8(m_tiff, at);
    case kSByte: return static_cast<int8_t>(typerecovery::ReadU8(m_tiff, at));
    case kShort: return ReadU16(at);
    case kSShort: return static_cast<int16_t>(ReadU16(at));
    case kLong: return ReadU32(at);
    case kSLong: return static_cast<int32_t>(ReadU32(at));
    case kRational:
    case kSRational: return ReadFraction(at);
    case kFloat: {
      const uint32_t bits = typerecovery::ReadU32LE(m_tiff, at);
      float value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    case kDouble: {
      const uint64_t bits = typerecovery::ReadU64LE(m_tiff, at);
      double value;
      std::memcpy(&value, &bits, sizeof value);
      return value;
    }
    default: return 0.0;  // text and undefined bytes are no number
  }
}

// Degrees, minutes and seconds: the value's first three fractions, each
// first rounded to single precision.
double CExif::ReadCoordinate(const Entry& entry) const {
  const double degrees = static_cast<float>(ReadFraction(entry.valueOffset));
  const double minutes = static_cast<float>(ReadFraction(uint64_t{entry.valueOffset} + 8));
  const double seconds = static_cast<float>(ReadFraction(uint64_t{entry.valueOffset} + 16));
  return degrees + minutes / 60.0 + seconds / 3600.0;
}

// A text runs from the value's first byte to its first zero byte or to the
// field's capacity (not to the entry's count), and never past the data.
void CExif::ReadText(const Entry& entry, char* field, uint32_t capacity) const {
  uint32_t n = 0;
  for (; n < capacity; ++n) {
    const uint64_t at = uint64_t{entry.valueOffset} + n;
    if (at >= m_tiff.size) break;
    const char c = static_cast<char>(m_tiff.data[at]);
    if (c == 0) break;
    field[n] = c;
  }
  field[n] = 0;
}

void CExif::GetInfo(tag_ExifInfo* destination) const {
  std::memset(destination, 0, sizeof *destination);
  *destination = m_info;
  destination->width = m_width;
  destination->height = m_height;
}

namespace typerecovery {

void CopyExifToPicture(const tag_ExifInfo& info, tag_PictureInfo* picture) {
  Char2Unicode(picture->software, info.software);
  Char2Unicode(picture->exifVersion, info.exifVersion);
  Char2Unicode(picture->make, info.make);
  Char2Unicode(picture->model, info.model);
  Char2Unicode(picture->dateTimeOriginal, info.dateTimeOriginal);
  Char2Unicode(picture->dateTime, info.dateTime);
  Char2Unicode(picture->gpsLatitudeRef, info.latitudeRef);
  picture->gpsLatitude = info.latitude;
  Char2Unicode(picture->gpsLongitudeRef, info.longitudeRef);
  picture->gpsLongitude = info.longitude;
  Char2Unicode(picture->gpsAltitudeRef, info.altitudeRef);
  picture->gpsAltitude = info.altitude;
}

uint8_t* JoinHeldBlocks(CDynArray<tag_RAMData>* blocks, uint64_t size) {
  uint8_t* joined = nullptr;
  if (size != 0 && size <= UINT32_MAX) {
    joined = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1));
  }
  uint64_t at = 0;
  for (long i = 0; i < blocks->GetCount(); ++i) {
    const tag_RAMData block = blocks->GetAt(i);
    if (joined != nullptr && block.data != nullptr && at < size) {
      const uint64_t count = block.length < size - at ? block.length : size - at;
      std::memcpy(joined + at, block.data, static_cast<size_t>(count));
    }
    at += block.length;
    std::free(block.data);
  }
  blocks->RemoveAll();
  return joined;
}

}  // namespace typerecovery
