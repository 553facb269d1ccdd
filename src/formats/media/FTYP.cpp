// ISO base-media recognizers: the top-level box walk and the six classes.
#include "formats/media/FTYP.h"

#include <algorithm>
#include <cstring>

#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;
using typerecovery::BytesEqual;
using typerecovery::ReadU32BE;

// The six classes. Box lists: MP4 and QuickTime allow the same top-level
// boxes; ffmpeg's 3GPP muxer writes an 8-byte "free" box between "ftyp" and
// "mdat", so the ISO free-space boxes are allowed there as in MP4.
const IsoMediaRow CTypeRecoveryMP4::kRow = {
    1028, u"mp4", {"isom", "mp42", "3gp4"}, nullptr, false,
    {"moov", "mdat", "free", "wide", "ftyp"}};
const IsoMediaRow CTypeRecoveryM4V::kRow = {
    1029, u"m4v", {"M4V "}, nullptr, false, {"free", "mdat", "moov"}};
// QuickTime: a brand beginning "qt", or a file that opens with its media data.
const IsoMediaRow CTypeRecoveryMOV::kRow = {
    1030, u"mov", {"qt"}, nullptr, true, {"moov", "mdat", "free", "wide", "ftyp"}};
// 3GPP: a brand 3gpN other than 3gp4 (which is MP4's).
const IsoMediaRow CTypeRecovery3GP::kRow = {
    1032, u"3gp", {"3gp"}, "3gp4", false, {"moov", "mdat", "free", "skip"}};
// 3GPP2: kddi, or one of 3g2a, 3g2b and 3g2c (ffmpeg's 3g2 muxer writes 3g2a).
const IsoMediaRow CTypeRecovery3G2::kRow = {
    1033, u"3g2", {"kddi", "3g2a", "3g2b", "3g2c"}, nullptr, false,
    {"mdat", "moof", "moov", "mfra", "free", "skip"}};
// MPEG-4 audio: a brand beginning M4A.
const IsoMediaRow CTypeRecoveryM4R::kRow = {
    778, u"m4a", {"M4A"}, nullptr, false, {"mdat", "free", "moov", "ftyp"}};

namespace {

// Types of an "ftyp" first box and of a QuickTime file that opens with its
// media data.
constexpr char kFtyp[] = "ftyp";
constexpr char kMdat[] = "mdat";

bool IsBoxType(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

// The major brand begins with brand (compared over the brand's length, at
// most 4 bytes).
bool HasMajorBrand(const ByteView& header, const char* brand) {
  return BytesEqual(header, CTypeRecoveryFTYP::kMajorBrandOffset, brand, std::strlen(brand));
}

}  // namespace

CTypeRecoveryFTYP::CTypeRecoveryFTYP(const IsoMediaRow& row, CTypeRecoveryManager* host,
                                     const char16_t* outputRoot)
    : CMediaStripCycle(row.typeCode, host, outputRoot, Rules{}), m_row(row), m_boxCursor(0) {
  SetExtension(row.extension);
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryFTYP::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinHeaderLength) return 0;
  const ByteView header(buffer, kMinHeaderLength);
  if (ReadU32BE(header, kBoxSizeOffset) == 0) return 0;
  if (BytesEqual(header, kBoxTypeOffset, kFtyp)) {
    // An "ftyp" box first: one of the row's major brands, not its excluded one.
    for (const char* brand : m_row.brands) {
      if (brand == nullptr || !HasMajorBrand(header, brand)) continue;
      const bool excluded = m_row.excludedBrand != nullptr && HasMajorBrand(header, m_row.excludedBrand);
      return excluded ? 0 : m_typeCode;
    }
    return 0;
  }
  return m_row.opensWithMediaData && IsBoxType(buffer + kBoxTypeOffset, kMdat) ? m_typeCode : 0;
}

uint32_t CTypeRecoveryFTYP::IsBoxTypeAccepted(const uint8_t* type) const {
  for (const char* box : m_row.boxes) {
    if (box != nullptr && IsBoxType(type, box)) return 1;
  }
  return 0;
}

bool CTypeRecoveryFTYP::StartFile(const Strip& strip) {
  // The first box was judged by the header test; the walk starts behind it.
  m_boxCursor = ReadU32BE(strip.readable, kBoxSizeOffset);
  m_split.Clear();
  return true;
}

CMediaStripCycle::Walk CTypeRecoveryFTYP::WalkStrip(const Strip& strip) {
  uint64_t cursor = m_boxCursor;
  Walk walk = Walk::WholeStrip(strip);
  if (!m_split.Empty()) {
    // A header that began in an earlier strip: complete it from this one.
    const uint32_t earlier = m_split.Size();
    if (!m_split.CompleteFrom(strip.data, strip.length, kBoxHeaderSize, m_held)) {
      walk.take = 0;
      return walk;
    }
    const ByteView header = m_split.View();
    const uint32_t size = ReadU32BE(header, 0);
    m_split.Clear();
    if (size == 0 || IsBoxTypeAccepted(header.At(kBoxTypeOffset)) == 0) {
      // The file ended where that header began.
      m_boxCursor = 0;
      return Walk::EndAt(0);
    }
    walk.held = m_held;
    if (size < earlier) {
      // A box shorter than its header (a 64-bit size): it ends the file.
      walk.heldCount = size;
      walk.take = 0;
      walk.ended = true;
      walk.complete = 1;
      m_boxCursor = 0;
      return walk;
    }
    walk.heldCount = earlier;
    cursor = uint64_t{size} - earlier;
  }
  while (cursor < strip.length) {
    if (cursor + kBoxHeaderSize > strip.length) {
      // The header runs past the strip: judged when the next one completes
      // it, and held back until then.
      m_split.Append(strip.data + cursor, strip.length - cursor);
      walk.take = static_cast<uint32_t>(cursor);
      m_boxCursor = 0;
      return walk;
    }
    const uint32_t size = ReadU32BE(strip.readable, cursor);
    if (size == 0 || IsBoxTypeAccepted(strip.readable.At(cursor + kBoxTypeOffset)) == 0) {
      walk.take = static_cast<uint32_t>(cursor);
      walk.ended = true;
      walk.complete = 1;
      break;
    }
    cursor += size;
  }
  // Rebased to the next strip (32-bit, as the progress record keeps it).
  m_boxCursor = static_cast<uint32_t>(cursor - walk.take);
  return walk;
}

void CTypeRecoveryFTYP::ProgressFields(typerecovery::ProgressRecord& record) {
  if (record.Loading()) m_split.Clear();
  record.FileFields()(m_boxCursor).Nested(m_split);
}

TYPERECOVERY_FORMAT(CTypeRecoveryMP4, {1028}, u".mp4", {u"mp4", u"mov", u"3gp"})
TYPERECOVERY_FORMAT(CTypeRecoveryM4V, {1029}, u".m4v", {u"m4v"})
TYPERECOVERY_FORMAT(CTypeRecoveryMOV, {1030}, u".mov", {u"mp4", u"mov", u"3gp"})
TYPERECOVERY_FORMAT(CTypeRecovery3GP, {1032}, u".3gp", {u"mp4", u"mov", u"3gp"})
TYPERECOVERY_FORMAT(CTypeRecovery3G2, {1033}, u".3g2", {u"3g2"})
TYPERECOVERY_FORMAT(CTypeRecoveryM4R, {778}, u".m4r;.m4a", {u"m4r", u"m4a"})
