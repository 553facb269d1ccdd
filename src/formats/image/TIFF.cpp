// The TIFF header test, the sub-type decision and the directory walk that
// finds where a TIFF-based file ends.
#include "formats/image/TIFF.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "formats/image/Exif.h"
#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;

namespace {

// Header: byte order and magic (bytes 0 to 3, read little-endian), offset of
// the first image file directory at byte 4, and the CR2 marker at byte 8.
constexpr uint32_t kMinimumHeaderLength = 257;
constexpr uint32_t kMagicLittleEndian = 0x002A4949;  // "II", 42
constexpr uint32_t kMagicBigEndian = 0x2A004D4D;     // "MM", 0, 42
constexpr uint32_t kMagicOlympusRO = 0x4F524949;     // "IIRO"
constexpr uint32_t kMagicOlympusRS = 0x53524949;     // "IIRS"
constexpr uint32_t kMagicPanasonic = 0x00554949;     // "IIU", 0
constexpr uint32_t kMagicCanonRaw = 0x00025243;      // "CR", 2, 0 at byte 8
constexpr uint32_t kFirstDirectoryOffsetField = 4;
constexpr uint32_t kCanonRawMarkerOffset = 8;

// Image file directory: entry count (2), entries of 12 bytes (tag, field
// type, count, value or offset), next-directory link (4).
constexpr uint32_t kCountSize = 2;
constexpr uint32_t kEntrySize = 12;
constexpr uint32_t kLinkSize = 4;
constexpr uint32_t kEntryValueOffset = 8;
constexpr uint32_t kUnknownCount = 0xFFFFFFFF;  // the count itself is being collected

constexpr uint16_t kTagMake = 0x010F;
constexpr uint16_t kTagStripOffsets = 0x0111;
constexpr uint16_t kTagStripByteCounts = 0x0117;
constexpr uint16_t kTagTileOffsets = 0x0144;
constexpr uint16_t kTagTileByteCounts = 0x0145;
constexpr uint16_t kTagSubIFDs = 0x014A;
constexpr uint16_t kTagJpegInterchangeFormat = 0x0201;
constexpr uint16_t kTagJpegInterchangeFormatLength = 0x0202;
constexpr uint16_t kTagXmp = 0x02BC;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTypeShort = 3;

constexpr uint32_t kCacheSize = 65536;
constexpr uint32_t kMaxStripElements = 60000;
constexpr uint32_t kMaxMakeLength = 512;
constexpr uint32_t kMaxDirectoriesPerFile = 1024;
constexpr size_t kMaxPendingItems = 4096;
constexpr uint64_t kEndLimit = uint64_t{1} << 32;
// A pending strip array of 16-bit elements carries this bit in its count.
constexpr uint32_t kShortElements = 0x80000000;
// The saved strip-table count carries the element widths in its top bits.
constexpr uint32_t kSavedShortOffsets = 0x80000000;
constexpr uint32_t kSavedShortByteCounts = 0x40000000;

// Trailers after the structure: CR2 optional data block, and the fixed
// blocks of the ORF "IIRS" and Panasonic RAW layouts.
constexpr char kCanonOptionalData[] = "CANON OPTIONAL DATA";
constexpr uint32_t kCanonTrailerReadable = 28;
constexpr uint32_t kCanonTrailerLengthOffset = 24;
constexpr uint32_t kCanonTrailerBase = 92;
constexpr uint32_t kOlympusRsTrailer = 8192;
constexpr uint32_t kPanasonicTrailer = 82;

// Extensions in flag order (CR2, ARW, NEF, ORF, SR2, RAW, PEF, DNG, MEF, TIFF).
const char16_t* const kExtensions[CTypeRecoveryTIFF::kSubTypes] = {
    u"CR2", u"ARW", u"NEF", u"ORF", u"SR2", u"RAW", u"PEF", u"DNG", u"MEF", u"TIF"};

// Bytes per value of a field type; the IFD type (13) is a 32-bit offset.
uint32_t UnitSize(uint16_t fieldType) {
  switch (fieldType) {
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
    case 13:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 1;
  }
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool BeginsWith(const char* text, const char* prefix) {
  for (; *prefix != 0; ++text, ++prefix) {
    if (*text == 0 || Lower(*text) != Lower(*prefix)) return false;
  }
  return true;
}

bool SameText(const char* text, const char* word) { return BeginsWith(text, word) && text[std::strlen(word)] == 0; }

uint32_t Clamp32(uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value); }

void InsertDirectory(std::vector<uint32_t>* list, uint32_t offset) {
  auto at = std::lower_bound(list->begin(), list->end(), offset);
  if (at == list->end() || *at != offset) list->insert(at, offset);
}

void InsertArray(std::vector<tag_StripToAnalyse>* list, tag_StripToAnalyse array) {
  auto at = std::upper_bound(list->begin(), list->end(), array,
                             [](const tag_StripToAnalyse& a, const tag_StripToAnalyse& b) {
                               return a.offset < b.offset;
                             });
  list->insert(at, array);
}

// A length-prefixed block of the progress record.
bool WriteBlock(TypeRecoveryFile file, const uint8_t* data, uint32_t size) {
  uint8_t length[4];
  for (int i = 0; i < 4; ++i) length[i] = static_cast<uint8_t>(size >> (8 * i));
  return typerecovery::WriteAll(file, length, 4) &&
         (size == 0 || typerecovery::WriteAll(file, data, size));
}

// Reads a block of at most limit bytes into a new buffer of capacity bytes
// (at least the block's size). *data stays null for an empty block unless
// keepEmpty is set.
bool ReadBlock(TypeRecoveryFile file, uint32_t limit, uint32_t capacity, bool keepEmpty,
               uint8_t** data, uint32_t* size) {
  uint8_t length[4];
  if (!typerecovery::ReadAll(file, length, 4)) return false;
  *size = typerecovery::ReadU32LE(ByteView(length, 4), 0);
  if (*size > limit || *size > capacity) return false;
  if (*size == 0 && !keepEmpty) return true;
  *data = static_cast<uint8_t*>(std::malloc(capacity == 0 ? 1 : capacity));
  if (*data == nullptr) return false;
  return *size == 0 || typerecovery::ReadAll(file, *data, *size);
}

}  // namespace

CTypeRecoveryTIFF::CTypeRecoveryTIFF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CWithSubTypes(kSubTypeCodes, kExtensions, kTIFF, kTypeCode, host, outputRoot),
      m_maxima(kDefaultMaxFileSize),
      m_magic(0),
      m_magicAt8(0),
      m_bigEndian(0),
      m_cache(nullptr),
      m_cacheFill(0),
      m_directoryCount(0),
      m_directory(nullptr),
      m_directoryFill(0),
      m_tableCount(0),
      m_subDirectoryOffset(0),
      m_subDirectoryCount(0),
      m_makeOffset(0),
      m_makeLength(0),
      m_make(nullptr),
      m_makeTextLength(0),
      m_makeCapacity(0),
      m_xmp(0),
      m_structureDone(0),
      m_trailer(0),
      m_jpegOffset(0),
      m_directoriesRead(0),
      m_refused(false) {
  SetExtension(kExtensions[kTIFF]);
  m_maxFileSize = kDefaultMaxFileSize;
}

CTypeRecoveryTIFF::~CTypeRecoveryTIFF() {
  Reset();
}

// ---------------------------------------------------------------------------
// Settings

bool CTypeRecoveryTIFF::EnableSubType(uint32_t code, uint64_t maxFileSize) {
  const int row = typerecovery::SubTypeRow(kSubTypeCodes, code);
  if (row < 0) return false;
  m_subTypes.Enable(code);
  if (static_cast<size_t>(row) == kTIFF) {
    m_maxFileSize = maxFileSize;
  } else {
    m_maxima.size[row] = maxFileSize;
  }
  return true;
}

uint64_t CTypeRecoveryTIFF::GetSubTypeMaxFileSize(uint32_t code) const {
  const int row = typerecovery::SubTypeRow(kSubTypeCodes, code);
  if (row < 0) return 0;
  return static_cast<size_t>(row) == kTIFF ? m_maxFileSize : m_maxima.size[row];
}

uint64_t CTypeRecoveryTIFF::SubTypeMaximum() const {
  return m_subTypes.current == kTIFF ? m_maxFileSize : m_maxima.size[m_subTypes.current];
}

void CTypeRecoveryTIFF::CopyStateFrom(const CTypeRecovery* prototype) {
  CWithSubTypes::CopyStateFrom(prototype);
  m_maxima = static_cast<const CTypeRecoveryTIFF&>(*prototype).m_maxima;
}

// ---------------------------------------------------------------------------
// Header, start and end of a file

uint32_t CTypeRecoveryTIFF::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (length < kMinimumHeaderLength || (buffer[0] != 'I' && buffer[0] != 'M')) return 0;
  const uint32_t magic = typerecovery::ReadU32LE(ByteView(buffer, length), 0);
  const bool known = magic == kMagicLittleEndian || magic == kMagicBigEndian ||
                     magic == kMagicOlympusRO || magic == kMagicOlympusRS ||
                     magic == kMagicPanasonic;
  return known ? kTypeCode : 0;
}

void CTypeRecoveryTIFF::Reset() {
  std::free(m_cache);
  m_cache = nullptr;
  m_cacheFill = 0;
  std::free(m_directory);
  m_directory = nullptr;
  m_directoryCount = 0;
  m_directoryFill = 0;
  FreeColumn(&m_columns[kOffsets]);
  FreeColumn(&m_columns[kByteCounts]);
  m_tableCount = 0;
  std::free(m_make);
  m_make = nullptr;
  m_makeTextLength = 0;
  m_makeCapacity = 0;
  m_makeOffset = 0;
  m_makeLength = 0;
  m_subDirectoryOffset = 0;
  m_subDirectoryCount = 0;
  m_subTypes.current = kTIFF;
  SetExtension(kExtensions[kTIFF]);
  m_magic = 0;
  m_magicAt8 = 0;
  m_bigEndian = 0;
  m_xmp = 0;
  m_structureDone = 0;
  m_trailer = 0;
  m_jpegOffset = 0;
  m_pendingDirectories.clear();
  m_pendingArrays[kOffsets].clear();
  m_pendingArrays[kByteCounts].clear();
  m_cachedDirectories.clear();
  m_cachedDirectoriesRead.clear();
  m_directoriesRead = 0;
  m_refused = false;
  m_bytesWritten = 0;
  FreeHeldBlocks();
}

void CTypeRecoveryTIFF::DiscardOutputFile() {
  CTypeRecovery::DiscardOutputFile();
  Reset();
}

void CTypeRecoveryTIFF::StartFile(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                  uint32_t* errorFlag) {
  CloseOutputFile();  // the previous file, renamed into its sub-type's folder
  Reset();
  const ByteView header(buffer, length);
  m_magic = typerecovery::ReadU32LE(header, 0);
  m_magicAt8 = typerecovery::ReadU32LE(header, kCanonRawMarkerOffset);
  m_bigEndian = buffer[0] == 'M' ? 1 : 0;
  BeginFile(stripPosition, errorFlag);
  const uint32_t firstDirectory = FileU32(header, kFirstDirectoryOffsetField);
  if (firstDirectory > kCacheSize) m_cache = static_cast<uint8_t*>(std::malloc(kCacheSize));
  AddDirectory(firstDirectory);
}

uint32_t CTypeRecoveryTIFF::EndTiffFile(uint32_t complete) {
  if (m_subTypes.current == kTIFF && !m_subTypes.IsOn(kTIFF)) {
    DiscardOutputFile();
    return 0;
  }
  if (IsReportMode() || WantsClosedFileRecord()) {
    tag_PictureInfo record{};
    bool hasRecord = false;
    uint8_t* whole = typerecovery::JoinHeldBlocks(&m_heldBlocks, m_expectedSize);
    if (whole != nullptr) {
      const uint32_t size = static_cast<uint32_t>(m_expectedSize);
      CExif exif;
      exif.SetInput(CExif::kModeTiff, 0, size);
      if (exif.Parse(whole, size) == 1) {
        tag_ExifInfo info;
        exif.GetInfo(&info);
        record.size = sizeof(tag_PictureInfo);
        record.typeCode = kTypeCode;
        // Small sizes are those of thumbnails and previews, not of the picture.
        if (info.width > 256 && info.height > 256) {
          record.width = static_cast<uint32_t>(info.width);
          record.height = static_cast<uint32_t>(info.height);
        }
        typerecovery::CopyExifToPicture(info, &record);
        hasRecord = true;
      }
      std::free(whole);
    }
    ReportFileTo(&CurrentFolderValue(), complete, hasRecord ? &record : nullptr);
  }
  m_fileInProgress = 0;
  CloseOutputFile();
  Reset();
  return 1;
}

// ---------------------------------------------------------------------------
// The strip cycle

uint32_t CTypeRecoveryTIFF::Analyse(uint64_t stripPosition, const uint8_t* buffer,
                                    uint32_t length, uint32_t lookahead, uint32_t,
                                    uint32_t* errorFlag) {
  uint32_t ended = 0;
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    FreeHeldBlocks();
    if (m_fileInProgress != 0 && m_subTypes.current == kTIFF && !m_subTypes.IsOn(kTIFF)) DiscardOutputFile();
    if (m_fileInProgress != 0) {
      ReportFileTo(&CurrentFolderValue(), 0);
      m_fileInProgress = 0;
      ++ended;
    }
    StartFile(stripPosition, buffer, length, errorFlag);
  } else if (m_fileInProgress == 0) {
    CloseOutputFile();
    return ended;
  }

  m_strip.start = m_expectedSize;
  m_strip.length = length;
  m_strip.data = ByteView(buffer, uint64_t{length} + lookahead);

  FillCache();
  ContinueCollections();
  ServeDirectories();
  ServeStripArrays();
  const bool makeTooLong = !ServeMakeText();
  if (m_refused) {
    DiscardOutputFile();
    return ended;
  }
  UpdateDone();

  uint32_t take = length;
  bool ends = makeTooLong;
  uint32_t complete = 0;
  if (!ends && m_structureDone != 0) {
    CheckCanonTrailer();
    const uint64_t end = m_bytesWritten + m_trailer;
    if (end <= m_strip.End()) {
      take = end > m_strip.start ? static_cast<uint32_t>(end - m_strip.start) : 0;
      ends = true;
      complete = 1;
    }
  }
  m_expectedSize += take;
  if (HasOpenOutputFile()) {
    WriteOutput(buffer, take, errorFlag);
    if (WantsClosedFileRecord()) HoldBlock(buffer, take);  // for the picture record
  } else if (IsReportMode()) {
    HoldBlock(buffer, take);
  }
  if (!ends && m_expectedSize >= SubTypeMaximum()) ends = true;
  return ends ? ended + EndTiffFile(complete) : ended;
}

void CTypeRecoveryTIFF::FillCache() {
  if (m_cache == nullptr || m_cacheFill >= kCacheSize || m_strip.start != m_cacheFill) return;
  const uint32_t n = std::min(kCacheSize - m_cacheFill, m_strip.length);
  std::memcpy(m_cache + m_cacheFill, m_strip.data.data, n);
  m_cacheFill += n;
}

// Whatever crossed the last strip end goes on from this strip's first byte.
void CTypeRecoveryTIFF::ContinueCollections() {
  if (m_directory != nullptr) CollectDirectory(m_strip.start);
  for (ColumnKind kind : {kOffsets, kByteCounts}) {
    if (IsColumnCollecting(m_columns[kind])) {
      CollectColumn(kind, m_strip.data.data, m_strip.length);
    }
  }
  UpdateDone();
}

// The elements of a pending SubIFDs or EXIF array that this strip holds.
void CTypeRecoveryTIFF::ServeSubDirectoryArray() {
  while (m_subDirectoryCount != 0) {
    const uint64_t offset = m_subDirectoryOffset;
    if (offset < m_strip.start) {
      m_subDirectoryCount = 0;  // passed: what it points to is out of reach
      return;
    }
    if (!m_strip.Holds(offset, 4)) return;
    AddDirectory(FileU32(m_strip.data, offset - m_strip.start));
    m_subDirectoryOffset += 4;
    --m_subDirectoryCount;
  }
}

void CTypeRecoveryTIFF::ServeDirectories() {
  for (;;) {
    ServeSubDirectoryArray();
    if (m_refused || m_directory != nullptr || m_pendingDirectories.empty()) return;
    const uint64_t offset = m_pendingDirectories.front();
    if (offset >= m_strip.End()) return;
    m_pendingDirectories.erase(m_pendingDirectories.begin());
    if (offset >= m_strip.start) StartDirectory(offset);  // else passed: dropped
  }
}

// Pending strip and tile arrays in file order, both kinds together.
void CTypeRecoveryTIFF::ServeStripArrays() {
  while (m_structureDone == 0 && !m_refused) {
    std::vector<tag_StripToAnalyse>& offsets = m_pendingArrays[kOffsets];
    std::vector<tag_StripToAnalyse>& counts = m_pendingArrays[kByteCounts];
    if (offsets.empty() && counts.empty()) return;
    const ColumnKind kind =
        counts.empty() || (!offsets.empty() && offsets.front().offset <= counts.front().offset)
            ? kOffsets
            : kByteCounts;
    std::vector<tag_StripToAnalyse>& list = m_pendingArrays[kind];
    const tag_StripToAnalyse array = list.front();
    if (array.offset >= m_strip.End()) return;
    if (array.offset >= m_strip.start && IsColumnCollecting(m_columns[kind])) return;
    list.erase(list.begin());
    if (array.offset >= m_strip.start) {  // else passed: dropped
      const uint32_t width = (array.count & kShortElements) != 0 ? 2 : 4;
      StartColumn(kind, array.count & ~kShortElements, width);
      const uint64_t at = array.offset - m_strip.start;
      CollectColumn(kind, m_strip.data.data + at, m_strip.length - at);
    }
    UpdateDone();
  }
}

bool CTypeRecoveryTIFF::ServeMakeText() {
  if (m_makeLength == 0) return true;
  if (m_makeLength > kMaxMakeLength) return false;
  const uint64_t offset = m_makeOffset;
  if (offset < m_strip.start) {
    m_makeLength = 0;  // passed
    return true;
  }
  if (offset >= m_strip.End() || m_make == nullptr) return true;
  const uint64_t at = offset - m_strip.start;
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(m_makeLength, m_strip.data.size - at));
  std::memcpy(m_make + m_makeTextLength, m_strip.data.At(at), n);
  m_makeTextLength += n;
  m_make[m_makeTextLength] = 0;
  m_makeOffset += n;
  m_makeLength -= n;
  if (m_makeLength == 0) DecideSubType();
  return true;
}

void CTypeRecoveryTIFF::CheckCanonTrailer() {
  if (m_subTypes.current != kCR2 || m_trailer != 0) return;
  const uint64_t end = m_bytesWritten;
  if (end < m_strip.start || end > m_strip.End()) return;
  const uint64_t at = end - m_strip.start;
  if (!m_strip.data.Has(at, kCanonTrailerReadable) ||
      !typerecovery::BytesEqual(m_strip.data, at, kCanonOptionalData)) {
    return;
  }
  m_trailer = Clamp32(uint64_t{kCanonTrailerBase} +
                      typerecovery::ReadU32BE(m_strip.data, at + kCanonTrailerLengthOffset));
}

// ---------------------------------------------------------------------------
// Directories

// A directory whose count lies in this strip: its count and entries are
// collected from here, across strip ends if need be.
void CTypeRecoveryTIFF::StartDirectory(uint64_t offset) {
  m_directory = static_cast<uint8_t*>(std::malloc(kCountSize));
  if (m_directory == nullptr) return;
  m_directoryCount = kUnknownCount;
  m_directoryFill = 0;
  CollectDirectory(offset);
}

void CTypeRecoveryTIFF::CollectDirectory(uint64_t from) {
  uint64_t at = from - m_strip.start;
  const uint8_t* strip = m_strip.data.data;
  if (m_directoryCount == kUnknownCount) {
    while (m_directoryFill < kCountSize && at < m_strip.length) m_directory[m_directoryFill++] = strip[at++];
    if (m_directoryFill < kCountSize) return;
    const uint32_t count = FileU16(ByteView(m_directory, kCountSize), 0);
    RaiseEnd(m_strip.start + at + uint64_t{count} * kEntrySize + kLinkSize);
    std::free(m_directory);
    m_directory = static_cast<uint8_t*>(std::malloc(count * kEntrySize + kLinkSize));
    if (m_directory == nullptr) return;  // dropped
    m_directoryCount = count;
    m_directoryFill = 0;
  }
  const uint32_t size = m_directoryCount * kEntrySize + kLinkSize;
  if (at < m_strip.length) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size - m_directoryFill, m_strip.length - at));
    std::memcpy(m_directory + m_directoryFill, strip + at, n);
    m_directoryFill += n;
  }
  if (m_directoryFill == size) FinishDirectory();
}

void CTypeRecoveryTIFF::FinishDirectory() {
  uint8_t* entries = m_directory;
  const uint32_t count = m_directoryCount;
  m_directory = nullptr;
  m_directoryCount = 0;
  m_directoryFill = 0;
  ProcessDirectory(ByteView(entries, count * kEntrySize + kLinkSize), count);
  std::free(entries);
  DrainCachedDirectories();
  UpdateDone();
}

void CTypeRecoveryTIFF::ProcessDirectory(const ByteView& entries, uint32_t count) {
  ++m_directoriesRead;
  for (uint32_t i = 0; i < count && !m_refused; ++i) ProcessEntry(entries.From(i * kEntrySize));
  const uint32_t next = FileU32(entries, count * kEntrySize);
  if (next != 0) AddDirectory(next);
}

void CTypeRecoveryTIFF::ProcessEntry(const ByteView& entry) {
  const uint16_t tag = FileU16(entry, 0);
  const uint16_t fieldType = FileU16(entry, 2);
  const uint32_t count = FileU32(entry, 4);
  const uint32_t unit = UnitSize(fieldType);
  const uint64_t size = uint64_t{count} * unit;
  // The value field holds the value itself when it fits in four bytes.
  const uint32_t value = (size <= 4 && unit == 2) ? FileU16(entry, kEntryValueOffset)
                                                  : FileU32(entry, kEntryValueOffset);
  const uint8_t* inlineValue = entry.At(kEntryValueOffset);
  switch (tag) {
    case kTagMake:
      if (count < 5) {
        SetMakeText(inlineValue, count);
        DecideSubType();
      } else if (m_cache != nullptr && uint64_t{value} + count <= m_cacheFill) {
        SetMakeText(m_cache + value, count);
        DecideSubType();
      } else {
        std::free(m_make);
        m_make = nullptr;
        m_makeTextLength = 0;
        m_makeOffset = value;
        m_makeLength = count;
        if (count <= kMaxMakeLength) {
          m_make = static_cast<char*>(std::malloc(count + 1));
          if (m_make != nullptr) m_make[0] = 0;
        }
      }
      break;
    case kTagSubIFDs:
    case kTagExifIfd:
      if (count == 1) {
        AddDirectory(value);
      } else if (count > 1) {
        if (m_cache != nullptr && uint64_t{value} + uint64_t{count} * 4 <= m_cacheFill) {
          const ByteView cache(m_cache, m_cacheFill);
          for (uint32_t i = 0; i < count; ++i) AddDirectory(FileU32(cache, uint64_t{value} + 4 * i));
        } else {
          m_subDirectoryOffset = value;
          m_subDirectoryCount = count;
        }
      }
      break;
    case kTagStripOffsets:
    case kTagTileOffsets:
      TakeStripArray(kOffsets, value, count, fieldType == kTypeShort ? 2 : 4, inlineValue);
      break;
    case kTagStripByteCounts:
    case kTagTileByteCounts:
      TakeStripArray(kByteCounts, value, count, fieldType == kTypeShort ? 2 : 4, inlineValue);
      break;
    case kTagXmp:
      m_xmp = 1;
      DecideSubType();
      break;
    case kTagJpegInterchangeFormat:
      m_jpegOffset = value;
      break;
    case kTagJpegInterchangeFormatLength:
      RaiseEnd(uint64_t{m_jpegOffset} + value);
      break;
    default:
      if (size > 4) RaiseEnd(uint64_t{value} + size);
      break;
  }
}

void CTypeRecoveryTIFF::AddDirectory(uint32_t offset) {
  if (m_directoriesRead + m_pendingDirectories.size() + m_cachedDirectories.size() >=
      kMaxDirectoriesPerFile) {
    return;
  }
  if (m_cache != nullptr && uint64_t{offset} + kCountSize <= m_cacheFill) {
    const ByteView cache(m_cache, m_cacheFill);
    const uint64_t end = uint64_t{offset} + kCountSize + uint64_t{FileU16(cache, offset)} * kEntrySize + kLinkSize;
    if (end <= m_cacheFill) {
      // Read from the cache once; a directory met again is a cycle.
      auto seen = [offset](const std::vector<uint32_t>& list) {
        return std::find(list.begin(), list.end(), offset) != list.end();
      };
      if (!seen(m_cachedDirectoriesRead) && !seen(m_cachedDirectories)) {
        m_cachedDirectories.push_back(offset);
      }
      return;
    }
  }
  if (m_pendingDirectories.size() < kMaxPendingItems) InsertDirectory(&m_pendingDirectories, offset);
}

void CTypeRecoveryTIFF::DrainCachedDirectories() {
  while (!m_cachedDirectories.empty() && !m_refused) {
    const uint32_t offset = m_cachedDirectories.back();
    m_cachedDirectories.pop_back();
    m_cachedDirectoriesRead.push_back(offset);
    const ByteView cache(m_cache, m_cacheFill);
    const uint32_t count = FileU16(cache, offset);
    RaiseEnd(uint64_t{offset} + kCountSize + uint64_t{count} * kEntrySize + kLinkSize);
    ProcessDirectory(cache.From(uint64_t{offset} + kCountSize), count);
  }
}

// ---------------------------------------------------------------------------
// Strip tables

bool CTypeRecoveryTIFF::IsColumnCollecting(const Column& column) const {
  return column.data != nullptr && column.fill < m_tableCount * column.width;
}

void CTypeRecoveryTIFF::FreeColumn(Column* column) {
  std::free(column->data);
  column->data = nullptr;
  column->fill = 0;
  column->width = 4;
}

void CTypeRecoveryTIFF::StartColumn(ColumnKind kind, uint32_t count, uint32_t width) {
  count = std::min(count, kMaxStripElements);
  Column& other = m_columns[kind == kOffsets ? kByteCounts : kOffsets];
  if (other.data != nullptr && m_tableCount != count) FreeColumn(&other);
  Column& column = m_columns[kind];
  FreeColumn(&column);
  m_tableCount = count;
  if (count == 0) return;
  column.data = static_cast<uint8_t*>(std::malloc(count * width));
  column.width = width;
}

void CTypeRecoveryTIFF::CollectColumn(ColumnKind kind, const uint8_t* bytes, uint64_t available) {
  Column& column = m_columns[kind];
  if (column.data == nullptr) return;
  const uint32_t size = m_tableCount * column.width;
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size - column.fill, available));
  std::memcpy(column.data + column.fill, bytes, n);
  column.fill += n;
  const Column& offsets = m_columns[kOffsets];
  const Column& counts = m_columns[kByteCounts];
  if (offsets.data != nullptr && counts.data != nullptr && !IsColumnCollecting(offsets) &&
      !IsColumnCollecting(counts)) {
    ProcessStripTable();
  }
}

void CTypeRecoveryTIFF::TakeStripArray(ColumnKind kind, uint32_t offset, uint32_t count,
                                       uint32_t width, const uint8_t* inlineValue) {
  if (count == 0) return;
  const uint64_t size = uint64_t{count} * width;
  if (size <= 4) {
    StartColumn(kind, count, width);
    CollectColumn(kind, inlineValue, size);
  } else if (m_cache != nullptr && uint64_t{offset} + size <= m_cacheFill) {
    StartColumn(kind, count, width);
    CollectColumn(kind, m_cache + offset, size);
  } else if (m_pendingArrays[kind].size() < kMaxPendingItems) {
    const uint32_t capped = std::min(count, kMaxStripElements);
    InsertArray(&m_pendingArrays[kind], {offset, capped | (width == 2 ? kShortElements : 0)});
  }
}

void CTypeRecoveryTIFF::ProcessStripTable() {
  Column& offsets = m_columns[kOffsets];
  Column& counts = m_columns[kByteCounts];
  const ByteView o(offsets.data, offsets.fill);
  const ByteView c(counts.data, counts.fill);
  for (uint32_t i = 0; i < m_tableCount; ++i) {
    const uint64_t start = offsets.width == 2 ? FileU16(o, 2 * i) : FileU32(o, 4 * i);
    const uint64_t length = counts.width == 2 ? FileU16(c, 2 * i) : FileU32(c, 4 * i);
    RaiseEnd(start + length);
  }
  FreeColumn(&offsets);
  FreeColumn(&counts);
  m_tableCount = 0;
}

// ---------------------------------------------------------------------------
// Make text, sub-type and the end of the structure

void CTypeRecoveryTIFF::SetMakeText(const uint8_t* text, uint32_t length) {
  std::free(m_make);
  m_makeOffset = 0;
  m_makeLength = 0;
  m_make = static_cast<char*>(std::malloc(length + 1));
  m_makeTextLength = 0;
  if (m_make == nullptr) return;
  std::memcpy(m_make, text, length);
  m_make[length] = 0;
  m_makeTextLength = length;
}

void CTypeRecoveryTIFF::DecideSubType() {
  if (m_make == nullptr || m_makeLength != 0) return;  // no make text (yet)
  const char* make = m_make;
  const bool tiffLittle = m_magic == kMagicLittleEndian;
  const bool tiffBig = m_magic == kMagicBigEndian;
  size_t found = kTIFF;
  if (m_magicAt8 == kMagicCanonRaw && BeginsWith(make, "Canon")) {
    found = kCR2;
  } else if (m_xmp != 0 || BeginsWith(make, "Canon") || BeginsWith(make, "RICOH") ||
             BeginsWith(make, "Kodak") || BeginsWith(make, "Samsung")) {
    found = kDNG;
  } else if (tiffBig && BeginsWith(make, "NIKON")) {
    found = kNEF;
  } else if (tiffLittle && BeginsWith(make, "SONY ")) {
    found = kARW;
  } else if (tiffLittle && SameText(make, "SONY")) {
    found = kSR2;
  } else if ((m_magic == kMagicOlympusRO || m_magic == kMagicOlympusRS) &&
             BeginsWith(make, "OLYMPUS")) {
    found = kORF;
  } else if (tiffBig && BeginsWith(make, "PENTAX")) {
    found = kPEF;
  } else if (tiffBig && BeginsWith(make, "Mamiya")) {
    found = kMEF;
  } else if (m_magic == kMagicPanasonic && BeginsWith(make, "Panasonic")) {
    found = kRAW;
  }
  if (found == kTIFF) return;
  if (!m_subTypes.IsOn(found)) {
    m_refused = true;
    return;
  }
  m_subTypes.current = found;
  SetExtension(kExtensions[found]);
  if (m_structureDone != 0 && m_trailer == 0) {
    if (m_subTypes.current == kORF && m_magic == kMagicOlympusRS) m_trailer = kOlympusRsTrailer;
    if (m_subTypes.current == kRAW && m_magic == kMagicPanasonic) m_trailer = kPanasonicTrailer;
  }
}

void CTypeRecoveryTIFF::UpdateDone() {
  if (m_structureDone != 0) return;
  if (!m_pendingDirectories.empty() || !m_pendingArrays[kOffsets].empty() ||
      !m_pendingArrays[kByteCounts].empty() || m_directory != nullptr ||
      IsColumnCollecting(m_columns[kOffsets]) || IsColumnCollecting(m_columns[kByteCounts]) ||
      m_subDirectoryCount != 0) {
    return;
  }
  m_structureDone = 1;
  if (m_subTypes.current == kORF && m_magic == kMagicOlympusRS) m_trailer = kOlympusRsTrailer;
  if (m_subTypes.current == kRAW && m_magic == kMagicPanasonic) m_trailer = kPanasonicTrailer;
}

void CTypeRecoveryTIFF::RaiseEnd(uint64_t end) {
  if (m_bytesWritten < kEndLimit && end > m_bytesWritten) m_bytesWritten = end;
}

uint16_t CTypeRecoveryTIFF::FileU16(const ByteView& v, uint64_t offset) const {
  return m_bigEndian != 0 ? typerecovery::ReadU16BE(v, offset) : typerecovery::ReadU16LE(v, offset);
}

uint32_t CTypeRecoveryTIFF::FileU32(const ByteView& v, uint64_t offset) const {
  return m_bigEndian != 0 ? typerecovery::ReadU32BE(v, offset) : typerecovery::ReadU32LE(v, offset);
}

// ---------------------------------------------------------------------------
// Progress record

uint32_t CTypeRecoveryTIFF::SaveProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::SaveProgress(file) == 0) return 0;
  if (!m_subTypes.Flags().Save(file) || !m_maxima.Save(file)) return 0;
  if (m_fileInProgress == 0) return 1;
  const Column& offsets = m_columns[kOffsets];
  const Column& counts = m_columns[kByteCounts];
  const uint32_t tableCount = m_tableCount | (offsets.width == 2 ? kSavedShortOffsets : 0) |
                              (counts.width == 2 ? kSavedShortByteCounts : 0);
  const uint8_t flags[3] = {m_xmp, m_bigEndian, m_structureDone};
  bool ok = WriteBlock(file, m_cache, m_cache != nullptr ? m_cacheFill : 0) &&
            WriteU32(file, m_magic) && WriteU32(file, m_magicAt8) && WriteU32(file, tableCount) &&
            WriteBlock(file, offsets.data, offsets.data != nullptr ? offsets.fill : 0) &&
            WriteBlock(file, counts.data, counts.data != nullptr ? counts.fill : 0) &&
            WriteU32(file, m_directory != nullptr ? m_directoryCount : 0) &&
            WriteBlock(file, m_directory, m_directory != nullptr ? m_directoryFill : 0) &&
            WriteU32(file, m_subDirectoryOffset) && WriteU32(file, m_subDirectoryCount) &&
            WriteU32(file, m_makeOffset) && WriteU32(file, m_makeLength) &&
            WriteBlock(file, reinterpret_cast<const uint8_t*>(m_make),
                       m_make != nullptr ? m_makeTextLength : 0) &&
            typerecovery::WriteAll(file, flags, 3) && WriteU32(file, m_trailer) &&
            WriteU32(file, m_subTypes.CurrentCode());
  ok = ok && WriteU32(file, static_cast<uint32_t>(m_pendingDirectories.size() * 4));
  for (size_t i = 0; ok && i < m_pendingDirectories.size(); ++i) {
    ok = WriteU32(file, m_pendingDirectories[i]);
  }
  for (const std::vector<tag_StripToAnalyse>& list : m_pendingArrays) {
    ok = ok && WriteU32(file, static_cast<uint32_t>(list.size() * 8));
    for (size_t i = 0; ok && i < list.size(); ++i) {
      ok = WriteU32(file, list[i].offset) && WriteU32(file, list[i].count);
    }
  }
  return ok ? 1 : 0;
}

uint32_t CTypeRecoveryTIFF::LoadProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::LoadProgress(file) == 0) return 0;
  if (!m_subTypes.Flags().Load(file) || !m_maxima.Load(file)) return 0;
  if (m_fileInProgress != 0) {
    std::free(m_cache);
    m_cache = nullptr;
    if (!ReadBlock(file, kCacheSize, kCacheSize, false, &m_cache, &m_cacheFill) ||
        !ReadU32(file, &m_magic) || !ReadU32(file, &m_magicAt8)) {
      return 0;
    }
    uint32_t tableCount = 0;
    if (!ReadU32(file, &tableCount)) return 0;
    m_columns[kOffsets].width = (tableCount & kSavedShortOffsets) != 0 ? 2 : 4;
    m_columns[kByteCounts].width = (tableCount & kSavedShortByteCounts) != 0 ? 2 : 4;
    m_tableCount = tableCount & ~(kSavedShortOffsets | kSavedShortByteCounts);
    if (m_tableCount > kMaxStripElements) return 0;
    for (Column& column : m_columns) {
      const uint32_t size = m_tableCount * column.width;
      if (!ReadBlock(file, size, size, false, &column.data, &column.fill)) return 0;
    }
    if (!ReadU32(file, &m_directoryCount)) return 0;
    const bool countKnown = m_directoryCount != kUnknownCount;
    if (countKnown && m_directoryCount > 0xFFFF) return 0;
    const uint32_t directorySize = countKnown ? m_directoryCount * kEntrySize + kLinkSize : kCountSize;
    if (!ReadBlock(file, directorySize, directorySize, m_directoryCount != 0, &m_directory,
                   &m_directoryFill) ||
        !ReadU32(file, &m_subDirectoryOffset) || !ReadU32(file, &m_subDirectoryCount) ||
        !ReadU32(file, &m_makeOffset) || !ReadU32(file, &m_makeLength)) {
      return 0;
    }
    if (m_directory == nullptr) m_directoryCount = 0;
    const uint32_t pendingMake = std::min(m_makeLength, kMaxMakeLength);
    uint8_t* make = nullptr;
    if (!ReadBlock(file, kMaxMakeLength, kMaxMakeLength + pendingMake + 1,
                   m_makeLength != 0, &make, &m_makeTextLength)) {
      std::free(make);
      return 0;
    }
    m_make = reinterpret_cast<char*>(make);
    if (m_make != nullptr) m_make[m_makeTextLength] = 0;
    uint8_t flags[3];
    uint32_t subTypeCode = 0;
    if (!typerecovery::ReadAll(file, flags, 3) || !ReadU32(file, &m_trailer) ||
        !ReadU32(file, &subTypeCode)) {
      return 0;
    }
    m_xmp = flags[0];
    m_bigEndian = flags[1];
    m_structureDone = flags[2];
    const int row = typerecovery::SubTypeRow(kSubTypeCodes, subTypeCode);
    if (row < 0) return 0;
    m_subTypes.current = static_cast<size_t>(row);
    uint32_t bytes = 0;
    if (!ReadU32(file, &bytes) || bytes % 4 != 0 || bytes / 4 > kMaxPendingItems) return 0;
    for (uint32_t i = 0; i < bytes / 4; ++i) {
      uint32_t offset = 0;
      if (!ReadU32(file, &offset)) return 0;
      InsertDirectory(&m_pendingDirectories, offset);
    }
    for (std::vector<tag_StripToAnalyse>& list : m_pendingArrays) {
      if (!ReadU32(file, &bytes) || bytes % 8 != 0 || bytes / 8 > kMaxPendingItems) return 0;
      for (uint32_t i = 0; i < bytes / 8; ++i) {
        tag_StripToAnalyse array{};
        if (!ReadU32(file, &array.offset) || !ReadU32(file, &array.count)) return 0;
        array.count = (array.count & kShortElements) | std::min(array.count & ~kShortElements, kMaxStripElements);
        InsertArray(&list, array);
      }
    }
  }
  RefetchFolderValues();
  return 1;
}

TYPERECOVERY_FORMAT(CTypeRecoveryTIFF,
    {514, 515, 518, 516, 519, 520, 521, 522, 517, 523},
    u".tif;.tiff;.cr2;.arw;.nef;.orf;.sr2;.raw;.pef;.dng;.mef",
    {u"tif", u"tiff", u"cr2", u"nef", u"dng", u"arw", u"orf", u"sr2", u"raw", u"pef", u"mef"})
