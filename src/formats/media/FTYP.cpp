// ISO base-media recognizers: the top-level box walk and the six classes.
#include "formats/media/FTYP.h"

#include <algorithm>
#include <cstring>

#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;
using typerecovery::BytesEqual;
using typerecovery::ReadU32BE;

namespace {

constexpr uint32_t kMP4 = 1028;
constexpr uint32_t kM4V = 1029;
constexpr uint32_t kMOV = 1030;
constexpr uint32_t k3GP = 1032;
constexpr uint32_t k3G2 = 1033;
constexpr uint32_t kM4R = 778;

// Types of an "ftyp" first box and of a QuickTime file that opens with its
// media data.
constexpr char kFtyp[] = "ftyp";
constexpr char kMdat[] = "mdat";

template <size_t N>
bool IsOneOf(const uint8_t* type, const char* const (&names)[N]) {
  for (const char* name : names) {
    if (std::memcmp(type, name, 4) == 0) return true;
  }
  return false;
}

// MP4 and QuickTime allow the same top-level boxes.
uint32_t IsMp4OrMovBox(const uint8_t* type) {
  static const char* const kBoxes[] = {"moov", "mdat", "free", "wide", "ftyp"};
  return IsOneOf(type, kBoxes) ? 1 : 0;
}

}  // namespace

CTypeRecoveryFTYP::CTypeRecoveryFTYP(uint32_t typeCode, CTypeRecoveryManager* host,
                                     const char16_t* outputRoot)
    : CMediaStripCycle(typeCode, host, outputRoot, Rules{}), m_boxCursor(0) {
  m_typePropertyFlag = 0;
}

bool CTypeRecoveryFTYP::HasFirstBox(const uint8_t* buffer, uint32_t length) {
  if (buffer == nullptr || length < kMinHeaderLength) return false;
  return ReadU32BE(ByteView(buffer, length), kBoxSizeOffset) != 0;
}

bool CTypeRecoveryFTYP::IsBoxType(const uint8_t* type, const char* name) {
  return std::memcmp(type, name, 4) == 0;
}

bool CTypeRecoveryFTYP::IsFtypWithBrand(const uint8_t* buffer, const char* brand) {
  const ByteView header(buffer, kMinHeaderLength);
  return BytesEqual(header, kBoxTypeOffset, kFtyp) &&
         BytesEqual(header, kMajorBrandOffset, brand, std::strlen(brand));
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

uint32_t CTypeRecoveryFTYP::SaveProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::SaveProgress(file) == 0) return 0;
  if (m_fileInProgress != 0 && (!WriteU32(file, m_boxCursor) || !m_split.Save(file))) return 0;
  return 1;
}

uint32_t CTypeRecoveryFTYP::LoadProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::LoadProgress(file) == 0) return 0;
  m_split.Clear();
  if (m_fileInProgress != 0 && (!ReadU32(file, &m_boxCursor) || !m_split.Load(file))) return 0;
  return 1;
}

// MP4: "ftyp" with the major brand isom, mp42 or 3gp4.
CTypeRecoveryMP4::CTypeRecoveryMP4(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecoveryFTYP(kMP4, host, outputRoot) {
  SetExtension(u"mp4");
}

uint32_t CTypeRecoveryMP4::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (!HasFirstBox(buffer, length)) return 0;
  return (IsFtypWithBrand(buffer, "isom") || IsFtypWithBrand(buffer, "mp42") ||
          IsFtypWithBrand(buffer, "3gp4"))
             ? kMP4
             : 0;
}

uint32_t CTypeRecoveryMP4::IsBoxTypeAccepted(const uint8_t* type) { return IsMp4OrMovBox(type); }

// M4V: "ftyp" with the major brand "M4V ".
CTypeRecoveryM4V::CTypeRecoveryM4V(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecoveryFTYP(kM4V, host, outputRoot) {
  SetExtension(u"m4v");
}

uint32_t CTypeRecoveryM4V::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  return HasFirstBox(buffer, length) && IsFtypWithBrand(buffer, "M4V ") ? kM4V : 0;
}

uint32_t CTypeRecoveryM4V::IsBoxTypeAccepted(const uint8_t* type) {
  static const char* const kBoxes[] = {"free", "mdat", "moov"};
  return IsOneOf(type, kBoxes) ? 1 : 0;
}

// QuickTime: "ftyp" with a brand beginning "qt", or a file that opens with
// its "mdat" box.
CTypeRecoveryMOV::CTypeRecoveryMOV(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecoveryFTYP(kMOV, host, outputRoot) {
  SetExtension(u"mov");
}

uint32_t CTypeRecoveryMOV::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (!HasFirstBox(buffer, length)) return 0;
  if (IsFtypWithBrand(buffer, "qt")) return kMOV;
  return IsBoxType(buffer + kBoxTypeOffset, kMdat) ? kMOV : 0;
}

uint32_t CTypeRecoveryMOV::IsBoxTypeAccepted(const uint8_t* type) { return IsMp4OrMovBox(type); }

// 3GPP: "ftyp" with a brand 3gpN other than 3gp4 (which is MP4's).
CTypeRecovery3GP::CTypeRecovery3GP(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecoveryFTYP(k3GP, host, outputRoot) {
  SetExtension(u"3gp");
}

uint32_t CTypeRecovery3GP::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (!HasFirstBox(buffer, length) || !IsFtypWithBrand(buffer, "3gp")) return 0;
  return typerecovery::ReadU8(ByteView(buffer, length), kMajorBrandOffset + 3) != '4' ? k3GP : 0;
}

// ffmpeg's 3GPP muxer writes an 8-byte "free" box between "ftyp" and
// "mdat"; the ISO free-space boxes are allowed as in MP4.
uint32_t CTypeRecovery3GP::IsBoxTypeAccepted(const uint8_t* type) {
  static const char* const kBoxes[] = {"moov", "mdat", "free", "skip"};
  return IsOneOf(type, kBoxes) ? 1 : 0;
}

// 3GPP2: "ftyp" with the major brand kddi, or one of the 3GPP2 brands
// 3g2a, 3g2b and 3g2c (ffmpeg's 3g2 muxer writes 3g2a).
CTypeRecovery3G2::CTypeRecovery3G2(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecoveryFTYP(k3G2, host, outputRoot) {
  SetExtension(u"3g2");
}

uint32_t CTypeRecovery3G2::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (!HasFirstBox(buffer, length)) return 0;
  if (IsFtypWithBrand(buffer, "kddi")) return k3G2;
  const uint8_t version = typerecovery::ReadU8(ByteView(buffer, length), kMajorBrandOffset + 3);
  return IsFtypWithBrand(buffer, "3g2") && version >= 'a' && version <= 'c' ? k3G2 : 0;
}

uint32_t CTypeRecovery3G2::IsBoxTypeAccepted(const uint8_t* type) {
  static const char* const kBoxes[] = {"mdat", "moof", "moov", "mfra", "free", "skip"};
  return IsOneOf(type, kBoxes) ? 1 : 0;
}

// MPEG-4 audio: "ftyp" with a brand beginning M4A.
CTypeRecoveryM4R::CTypeRecoveryM4R(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecoveryFTYP(kM4R, host, outputRoot) {
  SetExtension(u"m4a");
}

uint32_t CTypeRecoveryM4R::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  return HasFirstBox(buffer, length) && IsFtypWithBrand(buffer, "M4A") ? kM4R : 0;
}

uint32_t CTypeRecoveryM4R::IsBoxTypeAccepted(const uint8_t* type) {
  static const char* const kBoxes[] = {"mdat", "free", "moov", "ftyp"};
  return IsOneOf(type, kBoxes) ? 1 : 0;
}

TYPERECOVERY_FORMAT(CTypeRecoveryMP4, {1028}, u".mp4", {u"mp4", u"mov", u"3gp"})
TYPERECOVERY_FORMAT(CTypeRecoveryM4V, {1029}, u".m4v", {u"m4v"})
TYPERECOVERY_FORMAT(CTypeRecoveryMOV, {1030}, u".mov", {u"mp4", u"mov", u"3gp"})
TYPERECOVERY_FORMAT(CTypeRecovery3GP, {1032}, u".3gp", {u"mp4", u"mov", u"3gp"})
TYPERECOVERY_FORMAT(CTypeRecovery3G2, {1033}, u".3g2", {u"3g2"})
TYPERECOVERY_FORMAT(CTypeRecoveryM4R, {778}, u".m4r;.m4a", {u"m4r", u"m4a"})
