// CTypeRecoveryJPG: start-of-image signature, marker walk to the start of
// scan, end-of-image search, and the picture record in report mode.
#include "formats/image/JPG.h"

#include <cstdlib>
#include <cstring>

#include "formats/image/Exif.h"
#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;

namespace {

// Start of image, then the first marker of the header.
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kSOI = 0xD8;
// Markers that may follow the start of image: quantisation table, APP0,
// APP1, APP11, APP14, comment, Huffman table.
constexpr uint8_t kFirstMarkers[] = {0xDB, 0xE0, 0xE1, 0xEB, 0xEE, 0xFE, 0xC4};

// Start of frame: C0 to CF except C4 (Huffman tables), C8 (reserved) and CC
// (arithmetic conditioning); baseline, extended, progressive and lossless
// frames, Huffman or arithmetic coded, all give height and width alike.
bool IsStartOfFrame(uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}
constexpr uint8_t kSOS = 0xDA;   // start of scan
constexpr uint8_t kEOI = 0xD9;   // end of image
constexpr uint8_t kAPP0 = 0xE0;
constexpr uint8_t kAPP1 = 0xE1;
constexpr uint8_t kAPP15 = 0xEF;

// Offsets from a marker's 0xFF.
constexpr uint32_t kMarkerCodeOffset = 1;
constexpr uint32_t kSegmentLengthOffset = 2;  // big-endian, counts itself
constexpr uint32_t kMarkerSize = 2;
constexpr uint32_t kApp1PayloadOffset = 4;   // after marker and length field
// An output file holds its strips in memory only up to here, and only while
// the marker segments last.
constexpr uint64_t kMaxHeldMarkerBytes = 1u << 20;
constexpr uint32_t kFrameHeightOffset = 5;   // start of frame: precision at 4
constexpr uint32_t kFrameWidthOffset = 7;

constexpr uint8_t kEndOfImage[] = {kMarkerPrefix, kEOI};

bool IsAppMarker(uint8_t marker) { return marker >= kAPP0 && marker <= kAPP15; }

// Copies [offset, offset + count) of the file held in blocks (the first
// block at file offset heldStart) into out; a part that the blocks do not
// cover stays zero. Answers the bytes the file
// has there (count cut at the file's end).
uint32_t CopyHeldRange(const CDynArray<tag_RAMData>& blocks, uint64_t heldStart, uint64_t offset,
                       uint32_t count, uint8_t* out) {
  uint64_t blockStart = heldStart;
  uint64_t fileEnd = heldStart;
  for (long i = 0; i < blocks.GetCount(); ++i) {
    const tag_RAMData block = blocks.GetAt(i);
    const uint64_t blockEnd = blockStart + block.length;
    const uint64_t from = offset > blockStart ? offset : blockStart;
    const uint64_t to = (offset + count) < blockEnd ? offset + count : blockEnd;
    if (block.data != nullptr && from < to) {
      std::memcpy(out + (from - offset), block.data + (from - blockStart),
                  static_cast<size_t>(to - from));
    }
    blockStart = fileEnd = blockEnd;
  }
  if (fileEnd <= offset) return 0;
  return fileEnd - offset < count ? static_cast<uint32_t>(fileEnd - offset) : count;
}

}  // namespace

CTypeRecoveryJPG::CTypeRecoveryJPG(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot),
      m_scanPosition(0),
      m_inScan(0),
      m_exifSegmentLength(0),
      m_exifSegmentOffset(0),
      m_exifSeen(0),
      m_imageHeight(0),
      m_imageWidth(0),
      m_heldStart(0) {
  SetExtension(u"jpg");
  m_maxFileSize = kDefaultMaxFileSize;
}

CTypeRecoveryJPG::~CTypeRecoveryJPG() = default;

uint32_t CTypeRecoveryJPG::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinHeaderLength) return 0;
  if (buffer[0] != kMarkerPrefix || buffer[1] != kSOI || buffer[2] != kMarkerPrefix) return 0;
  for (uint8_t marker : kFirstMarkers) {
    if (buffer[3] == marker) return kTypeCode;
  }
  return 0;
}

void CTypeRecoveryJPG::ResetJpegState() {
  m_scanPosition = kMarkerSize;  // just after the start-of-image marker
  m_inScan = 0;
  FreeHeldBlocks();
  m_heldStart = 0;
  m_exifSegmentLength = 0;
  m_exifSegmentOffset = 0;
  m_exifSeen = 0;
  m_imageWidth = 0;
  m_imageHeight = 0;
}

void CTypeRecoveryJPG::StartFile(uint64_t stripPosition, uint32_t* errorFlag) {
  CloseOutputFile();
  BeginFile(stripPosition, errorFlag);
  m_imageWidth = 0;
  m_imageHeight = 0;
}

// Skips marker segments while the next expected marker lies in this strip.
// A marker's header past the strip's end is read from the lookahead (bytes
// past the lookahead read as zero).
CTypeRecoveryJPG::WalkResult CTypeRecoveryJPG::WalkMarkers(const ByteView& view,
                                                           uint32_t length) {
  while (m_scanPosition < length) {
    const uint32_t at = m_scanPosition;
    if (view.data[at] != kMarkerPrefix) return WalkResult::kMissingMarker;
    const uint8_t marker = typerecovery::ReadU8(view, at + kMarkerCodeOffset);
    if (marker == kSOS || marker == kEOI) {
      m_inScan = 1;
      return WalkResult::kContinue;
    }
    if (marker == kAPP1 && m_exifSeen == 0) {
      m_exifSeen = 1;
      m_exifSegmentOffset = static_cast<uint32_t>(m_expectedSize + at + kApp1PayloadOffset);
    }
    if (IsStartOfFrame(marker)) {
      m_imageHeight = typerecovery::ReadU16BE(view, uint64_t{at} + kFrameHeightOffset);
      m_imageWidth = typerecovery::ReadU16BE(view, uint64_t{at} + kFrameWidthOffset);
    }
    const uint32_t segmentLength = typerecovery::ReadU16BE(view, uint64_t{at} + kSegmentLengthOffset);
    if (m_exifSeen != 0 && m_exifSegmentLength == 0 &&
        (!HasOpenOutputFile() || WantsClosedFileRecord())) {
      m_exifSegmentLength = segmentLength;
    }
    const uint64_t next = uint64_t{at} + kMarkerSize + segmentLength;
    m_scanPosition = next > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(next);
  }
  return WalkResult::kContinue;
}

uint32_t CTypeRecoveryJPG::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  uint32_t ended = 0;

  // Header step: a signature starts a file; inside an open file only an
  // APPn signature cuts it (other signatures are embedded images).
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    if (m_fileInProgress == 0) {
      ResetJpegState();
      StartFile(stripPosition, errorFlag);
    } else if (IsAppMarker(buffer[3])) {
      ResetJpegState();
      ended += EndFile(0);
      StartFile(stripPosition, errorFlag);
    }
  }
  if (m_fileInProgress == 0 && !HasOpenOutputFile()) return ended;

  // Walk, then the end-of-image search (whose 0xD9 may be the first
  // lookahead byte).
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t take = length;
  bool fileEnds = false;
  uint32_t complete = 1;
  // Strips of the marker segments hold the EXIF data the picture record
  // is built from; an output file keeps only those (bounded) in memory.
  const bool inMarkerSegments = m_inScan == 0 && m_expectedSize < kMaxHeldMarkerBytes;
  if (m_inScan == 0 && WalkMarkers(view, length) == WalkResult::kMissingMarker) {
    fileEnds = true;
    complete = 0;
  }
  if (!fileEnds && m_inScan != 0) {
    const int64_t eoi = typerecovery::FindBytes(view, m_scanPosition, uint64_t{length} + 1,
                                                kEndOfImage, sizeof kEndOfImage);
    if (eoi >= 0) {
      take = static_cast<uint32_t>(eoi) + sizeof kEndOfImage;
      m_scanPosition = 0;
      fileEnds = true;
    }
  }

  // Take the bytes: to the output file, or held in memory when none is open.
  m_expectedSize += take;
  m_bytesWritten += take;
  if (HasOpenOutputFile()) {
    WriteOutput(buffer, take, errorFlag);
    if (inMarkerSegments && WantsClosedFileRecord()) HoldBlock(buffer, take);
  } else {
    HoldBlock(buffer, take);
  }

  if (!fileEnds && m_expectedSize < m_maxFileSize) {
    if (m_inScan != 0) {
      m_scanPosition = 0;
    } else if (m_scanPosition >= length) {
      m_scanPosition -= length;
    }
    return ended;
  }

  // The end: found, a missing marker, or the size limit (the file is cut).
  if (!fileEnds) complete = 0;
  if (IsReportMode() || WantsClosedFileRecord()) ReportPicture(complete);
  FreeHeldBlocks();
  ++ended;
  m_fileInProgress = 0;
  CloseOutputFile();
  return ended;
}

// Builds the picture record (dimensions from the start of frame, the rest
// from the first APP1 segment's EXIF data) and reports the file.
void CTypeRecoveryJPG::ReportPicture(uint32_t complete) {
  tag_PictureInfo picture;
  std::memset(&picture, 0, sizeof picture);
  picture.size = sizeof picture;
  picture.typeCode = kTypeCode;
  picture.width = m_imageWidth;
  picture.height = m_imageHeight;

  // The EXIF reader sees only the APP1 payload: its TIFF data ends with the
  // segment, so nothing else of the file is needed.
  if (m_exifSeen != 0 && m_exifSegmentLength > kMarkerSize && m_heldBlocks.GetCount() > 0) {
    const uint32_t payloadLength = m_exifSegmentLength - kMarkerSize;
    uint8_t* payload = static_cast<uint8_t*>(std::calloc(payloadLength, 1));
    if (payload != nullptr) {
      const uint32_t have = CopyHeldRange(m_heldBlocks, m_heldStart, m_exifSegmentOffset, payloadLength, payload);
      CExif exif;
      exif.SetInput(CExif::kModeApp1, 0, m_exifSegmentLength);
      if (have > 0 && exif.Parse(payload, have) == 1) {
        tag_ExifInfo info;
        exif.GetInfo(&info);
        typerecovery::CopyExifToPicture(info, &picture);
      }
      std::free(payload);
    }
  }
  ReportFile(complete, &picture);
}

void CTypeRecoveryJPG::ProgressFields(typerecovery::ProgressRecord& record) {
  if (record.Loading()) {
    // The EXIF segment's place and the held data are not saved: a resumed
    // file reports no EXIF metadata.
    FreeHeldBlocks();
    m_heldStart = m_expectedSize;
    m_exifSegmentLength = 0;
    m_exifSegmentOffset = 0;
    m_exifSeen = 0;
  }
  record.FileFields()(m_scanPosition)(m_inScan)(m_imageWidth)(m_imageHeight);
}

TYPERECOVERY_FORMAT(CTypeRecoveryJPG, {513}, u".jpg;.jpe;.jpeg", {u"jpg", u"jpeg", u"jpe"})
