// ZIP records: local file headers (each followed by its entry's data), the
// central directory's file headers, and the end-of-central-directory record
// that states where the central directory lies and how long the archive's
// comment is. The sub-type shows in the entry names, which stand in plain
// text in the local and central headers (a mimetype entry stored first shows
// the OpenDocument kind in its data).
#include "formats/document/ZIP.h"

#include <algorithm>

#include "framework/PairSet.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kDataDescriptorSignature = 0x08074B50;
constexpr uint32_t kDigitalSignatureSignature = 0x05054B50;

// Local file header.
constexpr uint32_t kMinimumLength = 31;
constexpr uint64_t kLocalFlagsAt = 6;
constexpr uint64_t kLocalMethodAt = 8;
constexpr uint64_t kLocalCompressedSizeAt = 18;
constexpr uint64_t kLocalNameLengthAt = 26;
constexpr uint64_t kLocalExtraLengthAt = 28;
constexpr uint32_t kLocalFixedSize = 30;
constexpr uint16_t kMaximumNameLength = 260;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kFlagSizesInDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8Names = 0x0800;

// Central directory file header.
constexpr uint64_t kCentralNameLengthAt = 28;
constexpr uint64_t kCentralExtraLengthAt = 30;
constexpr uint64_t kCentralCommentLengthAt = 32;
constexpr uint32_t kCentralFixedSize = 46;

// End of central directory.
constexpr uint64_t kDirectorySizeAt = 12;
constexpr uint64_t kDirectoryOffsetAt = 16;
constexpr uint64_t kCommentLengthAt = 20;
constexpr uint32_t kEndRecordFixedSize = 22;

constexpr uint32_t kZip64LocatorSize = 20;
constexpr uint32_t kDataDescriptorSize = 16;
constexpr uint32_t kDigitalSignatureSize = 6;

// The walk examines a record only when this many of its bytes are readable.
constexpr uint64_t kWalkReach = 46;
// The end search examines p only when p + 26 is readable.
constexpr uint64_t kSearchReach = 26;
// The sub-type scan examines p only when p + 15 is readable.
constexpr uint64_t kScanReach = 15;

// Rows in flag order; the last is the generic type.
const uint32_t kCodes[17] = {257, 258, 259, 1544, 1040, 267,  268,  269, 270,
                             271, 272, 278, 2310, 2314, 2311, 2312, 1793};
const char16_t* const kExtensions[17] = {u"docx", u"xlsx", u"pptx", u"cdr", u"fla", u"odt",
                                         u"ods",  u"odp",  u"odg",  u"odf", u"odb", u"xps",
                                         u"apk",  u"jar",  u"ipa",  u"pxl", u"zip"};
constexpr size_t kDrawingRow = 3;

struct EntryName {
  size_t row;
  const char* text;
};
// In the order they are tried at one position; the first match decides.
const EntryName kNames[] = {
    {0, "word/"},
    {1, "xl/_rels"},
    {2, "ppt/"},
    {kDrawingRow, "RIFF"},  // a RIFF form "CDR?" stored in the package
    {4, "DOMDocument.xml"},
    {5, "document.text"},
    {6, "document.spreads"},
    {7, "document.present"},
    {8, "document.graphic"},
    {9, "document.formula"},
    {10, "document.base"},
    {11, "FixedDocSeq.fdseq"},
    {12, "AndroidManifest.xml"},
    {13, "META-INF/MANIFEST.MF"},
    {14, "iTunesMetadata.plist"},
    {14, "iTunesArtwork"},
    {15, "PxlPkg.plist"},
};
constexpr uint64_t kRiffFormAt = 8;

// The first two bytes of every name.
struct FirstPairs {
  PairSet any;
  FirstPairs() {
    for (const EntryName& n : kNames) {
      any.Add(static_cast<uint8_t>(n.text[0]), static_cast<uint8_t>(n.text[1]));
    }
  }
};
const FirstPairs kFirstPairs;

bool MatchesText(const ByteView& v, uint64_t p, const char* text) {
  for (; *text != 0; ++text, ++p) {
    if (!v.Has(p, 1) || v.data[p] != static_cast<uint8_t>(*text)) return false;
  }
  return true;
}

// Record sizes are 32-bit sums, as the format's fields are.
uint32_t LocalRecordSize(const ByteView& v, uint64_t at) {
  return kLocalFixedSize + ReadU16LE(v, at + kLocalNameLengthAt) +
         ReadU16LE(v, at + kLocalExtraLengthAt) + ReadU32LE(v, at + kLocalCompressedSizeAt);
}
uint32_t CentralRecordSize(const ByteView& v, uint64_t at) {
  return kCentralFixedSize + ReadU16LE(v, at + kCentralNameLengthAt) +
         ReadU16LE(v, at + kCentralExtraLengthAt) + ReadU16LE(v, at + kCentralCommentLengthAt);
}
// The archive's size from its end record: directory offset + directory size
// + the record with its comment.
uint32_t ArchiveSize(const ByteView& v, uint64_t at) {
  return kEndRecordFixedSize + ReadU32LE(v, at + kDirectorySizeAt) +
         ReadU32LE(v, at + kDirectoryOffsetAt) + ReadU16LE(v, at + kCommentLengthAt);
}
// An entry whose sizes follow its data: its record cannot be stepped over.
bool HasSizesAfterData(const ByteView& v, uint64_t at) {
  return (ReadU16LE(v, at + kLocalFlagsAt) & kFlagSizesInDescriptor) != 0 &&
         ReadU32LE(v, at + kLocalCompressedSizeAt) == 0;
}

// Rows 4, 1, 3, 2, then 5 to 16 (zero-based here).
const uint8_t kFolderFetchOrder[16] = {3, 0, 2, 1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

}  // namespace

CTypeRecoveryZIP::CTypeRecoveryZIP(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMultiFormatRecovery(kTypeCode, host, outputRoot, kCodes, kExtensions) {
  m_maxFileSize = kDefaultMaximum;
}

uint32_t CTypeRecoveryZIP::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView view(buffer, length);
  if (ReadU32LE(view, 0) != kLocalHeaderSignature) return 0;
  if (ReadU16LE(view, kLocalNameLengthAt) > kMaximumNameLength) return 0;
  const uint16_t method = ReadU16LE(view, kLocalMethodAt);
  return (method == kMethodStored || method == kMethodDeflated) ? kTypeCode : 0;
}

bool CTypeRecoveryZIP::EnableSubType(uint32_t code, uint64_t maxFileSize) {
  const int row = SubTypeRow(kCodes, code);
  if (row < 0) return false;
  m_subTypes.Enable(code);
  if (static_cast<size_t>(row) == kGenericRow) {
    m_maxFileSize = maxFileSize;
  } else {
    m_subTypeMaxima.size[row] = maxFileSize;
  }
  return true;
}

uint64_t CTypeRecoveryZIP::GetSubTypeMaximum(uint32_t code) const {
  const int row = SubTypeRow(kCodes, code);
  if (row < 0) return 0;
  return static_cast<size_t>(row) == kGenericRow ? m_maxFileSize : m_subTypeMaxima.size[row];
}

uint64_t CTypeRecoveryZIP::MaximumOfCurrentRow() const {
  return m_subTypes.current == kGenericRow ? m_maxFileSize : m_subTypeMaxima.size[m_subTypes.current];
}

uint32_t CTypeRecoveryZIP::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  const ByteView readable(buffer, uint64_t{length} + lookahead);

  // A local header at the strip start begins an archive, unless one is being
  // followed (then it is one of that archive's entries).
  if (m_fileInProgress == 0 && IsHeaderMatched(buffer, length, 0) != 0) {
    m_firstRecordSize = LocalRecordSize(readable, 0);
    m_recordCursor = m_recordsTotal = m_firstRecordSize;
    StartGeneric();
    const uint16_t flags = ReadU16LE(readable, kLocalFlagsAt);
    const bool commonFlags =
        flags == 0 || flags == kFlagSizesInDescriptor || flags == kFlagUtf8Names;
    // The walk cannot step over an entry whose sizes follow its data.
    m_walkMode = (commonFlags || HasSizesAfterData(readable, 0)) ? kSearchEnd : kWalkRecords;
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return 0;

  EndSearch result;
  result.part = length;
  if (m_walkMode == kSearchEnd) {
    SearchEnd(readable, 0, length, &result);
  } else {
    WalkRecords(readable, length, &result);
  }
  m_bytesWritten += result.part;

  if (m_scanning != 0) ScanForSubType(readable, result.part, lookahead);
  WriteOutput(buffer, static_cast<uint32_t>(result.part), errorFlag);

  // The sub-type's maximum: the strip that reaches it was written whole.
  if (m_bytesWritten >= MaximumOfCurrentRow()) {
    m_expectedSize = m_bytesWritten;
    result.complete = 0;
    result.end = true;
  }
  return result.end ? EndSubTypeFile(result.complete) : 0;
}

void CTypeRecoveryZIP::SearchEnd(const ByteView& readable, uint64_t from, uint32_t length,
                                 EndSearch* result) {
  // Positions p < length with p + 26 < length + lookahead.
  const uint64_t last =
      readable.size > kSearchReach ? std::min<uint64_t>(length, readable.size - kSearchReach) : 0;
  const uint8_t signature[4] = {0x50, 0x4B, 0x05, 0x06};
  for (uint64_t p = from; p < last;) {
    const int64_t hit =
        FindBytes(readable, p, last + sizeof signature - 1, signature, sizeof signature);
    if (hit < 0) return;
    const uint64_t at = static_cast<uint64_t>(hit);
    // A local header right behind it: the end of an archive stored inside
    // this one (or joined to it), not of this one.
    if (ReadU32LE(readable, at + kEndRecordFixedSize) != kLocalHeaderSignature) {
      m_expectedSize = ArchiveSize(readable, at);
      result->part = at + kEndRecordFixedSize;
      result->end = true;
      return;
    }
    p = at + 1;
  }
}

void CTypeRecoveryZIP::WalkRecords(const ByteView& readable, uint32_t length, EndSearch* result) {
  while (!result->end && m_recordCursor + kWalkReach < readable.size) {
    const uint64_t at = m_recordCursor;
    const uint32_t signature = ReadU32LE(readable, at);
    switch (signature) {
      case kLocalHeaderSignature:
      case kCentralHeaderSignature: {
        const bool local = signature == kLocalHeaderSignature;
        const uint32_t size =
            local ? LocalRecordSize(readable, at) : CentralRecordSize(readable, at);
        if (size == 0) {
          DiscardOutputFile();
          result->complete = 0;
          result->end = true;
          break;
        }
        m_recordCursor += size;
        m_recordsTotal += size;
        if (local && HasSizesAfterData(readable, at)) {
          // The entry's data has no size here: from now on only the end
          // record's own signature can show the end.
          SearchFromCursor(readable, length, result);
          return;
        }
        break;
      }
      case kEndRecordSignature:
        m_expectedSize = ArchiveSize(readable, at);
        result->part = at + kEndRecordFixedSize;
        result->end = true;
        break;
      case kZip64LocatorSignature:
        m_recordCursor += kZip64LocatorSize;
        break;
      case kDataDescriptorSignature:
        m_recordCursor += kDataDescriptorSize;
        break;
      case kDigitalSignatureSignature:
        m_recordCursor += kDigitalSignatureSize;
        break;
      default:
        // Not a record: the archive ends before this strip.
        m_expectedSize = m_bytesWritten;
        if (m_expectedSize == 0) DiscardOutputFile();
        result->complete = 0;
        result->end = true;
        break;
    }
  }
  if (result->end) return;
  if (m_recordCursor >= length) {
    m_recordCursor -= length;
  } else {
    // A record that begins in this strip but cannot be seen whole (the
    // lookahead is too short): the walk has lost its place.
    SearchFromCursor(readable, length, result);
  }
}

void CTypeRecoveryZIP::SearchFromCursor(const ByteView& readable, uint32_t length,
                                        EndSearch* result) {
  m_walkMode = kSearchEnd;
  if (m_recordCursor < length) SearchEnd(readable, m_recordCursor, length, result);
  m_recordCursor = 0;
}

void CTypeRecoveryZIP::ScanForSubType(const ByteView& readable, uint64_t part, uint32_t lookahead) {
  // Positions p < part with p + 15 < part + lookahead.
  const uint64_t reach = part + lookahead;
  uint64_t end = reach > kScanReach ? std::min(part, reach - kScanReach) : 0;
  // Every name has at least two bytes: the last readable byte opens none.
  end = std::min(end, readable.size > 0 ? readable.size - 1 : 0);
  for (uint64_t p = 0; (p = kFirstPairs.any.Next(readable.data, p, end)) < end; ++p) {
    const uint8_t first = readable.data[p];
    for (const EntryName& name : kNames) {
      if (static_cast<uint8_t>(name.text[0]) != first || !MatchesText(readable, p, name.text))
        continue;
      if (name.row == kDrawingRow && !MatchesText(readable, p + kRiffFormAt, "CDR")) continue;
      DecideRow(name.row);
      return;
    }
  }
}

void CTypeRecoveryZIP::ProgressFields(ProgressRecord& record) {
  record.Nested(m_subTypes.Flags()).Nested(m_subTypeMaxima).FileFields();
  record(m_recordCursor)(m_recordsTotal)(m_walkMode)(m_firstRecordSize)(m_scanning);
  m_subTypes.CurrentCodeField(record);
  if (record.Loading() && record.Ok()) RefetchFolderValuesInOrder(kFolderFetchOrder);
}

void CTypeRecoveryZIP::CopyStateFrom(const CTypeRecovery* prototype) {
  CMultiFormatRecovery<17>::CopyStateFrom(prototype);
  const CTypeRecoveryZIP& from = static_cast<const CTypeRecoveryZIP&>(*prototype);
  // The per-sub-type maxima the host gave go with the clone, so that they
  // limit the files it follows.
  m_subTypeMaxima = from.m_subTypeMaxima;
}

TYPERECOVERY_FORMAT(CTypeRecoveryZIP,
    {1793, 257, 258, 259, 1040, 267, 268, 269, 270, 271, 272, 278, 2310, 2314, 2311, 2312},
    u".zip;.docx;.xlsx;.pptx;.fla;.odt;.ods;.odp;.odg;.odf;.odb;.xps;.apk;.jar;.ipa;.pxl",
    {u"zip", u"docx", u"xlsx", u"pptx", u"xps", u"odt", u"ods", u"odp", u"odg", u"odf", u"odb",
    u"apk", u"jar", u"ipa", u"pxl", u"fla", u"cdr"})
