// Header tests and size fields of the fixed-size documents and containers.
// Multi-byte fields are little-endian unless read with a BE helper.
#include "formats/document/FixedSizeDocuments.h"

#include <algorithm>

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

// The bytes at offset spell text, the case of A to Z ignored.
template <size_t N>
bool TextEqualIgnoringCase(const ByteView& v, uint64_t offset, const char (&text)[N]) {
  if (!v.Has(offset, N - 1)) return false;
  for (size_t i = 0; i + 1 < N; ++i) {
    uint8_t c = v.data[offset + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c + ('a' - 'A'));
    if (c != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

}  // namespace

// ---- RIFF drawing: "RIFF", chunk size, form type "cdr?" ----

namespace {
constexpr uint64_t kRiffSizeAt = 4;
constexpr uint64_t kRiffHeaderSize = 8;  // the ID and size words the chunk size leaves out
constexpr uint64_t kRiffFormAt = 8;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryCDR, {1544}, u".cdr", {u"cdr"})

bool CTypeRecoveryCDR::Matches(const ByteView& v) {
  return BytesEqual(v, 0, "RIFF") && TextEqualIgnoringCase(v, kRiffFormAt, "cdr");
}

uint64_t CTypeRecoveryCDR::Size(const ByteView& header) {
  return uint64_t{ReadU32LE(header, kRiffSizeAt)} + kRiffHeaderSize;
}

// ---- Compiled help: "ITSF" header, "ITSP" directory header at 120 ----

namespace {
constexpr uint64_t kDirectoryHeaderAt = 120;
constexpr uint64_t kChmFileLengthAt = 104;  // header section table: file length
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryCHM, {281}, u".chm", {u"chm"})

bool CTypeRecoveryCHM::Matches(const ByteView& v) {
  return BytesEqual(v, 0, "ITSF") && BytesEqual(v, kDirectoryHeaderAt, "ITSP");
}

uint64_t CTypeRecoveryCHM::Size(const ByteView& header) {
  return ReadU64LE(header, kChmFileLengthAt);
}

// ---- "ViGF" project ----

namespace {
constexpr uint32_t kViGFHeaderValue = 0x1A6B;
constexpr uint64_t kViGFSizeAt = 184;
constexpr uint64_t kViGFSizeAdds = 32;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryMAX_PP, {1543}, u".max", {u"max"})

bool CTypeRecoveryMAX_PP::Matches(const ByteView& v) {
  return BytesEqual(v, 0, "ViGF") && ReadU32LE(v, 4) == kViGFHeaderValue;
}

uint64_t CTypeRecoveryMAX_PP::Size(const ByteView& header) {
  return uint64_t{ReadU32LE(header, kViGFSizeAt)} + kViGFSizeAdds;
}

// ---- Help file: magic, directory start, free list (-1), file size ----

namespace {
constexpr uint32_t kHlpMagic = 0x00035F3F;
constexpr uint64_t kFirstFreeBlockAt = 8;
constexpr uint32_t kNoFreeBlock = 0xFFFFFFFF;
constexpr uint64_t kHlpFileSizeAt = 12;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryHLP, {283}, u".hlp", {u"hlp"})

bool CTypeRecoveryHLP::Matches(const ByteView& v) {
  return ReadU32LE(v, 0) == kHlpMagic && ReadU32LE(v, kFirstFreeBlockAt) == kNoFreeBlock;
}

uint64_t CTypeRecoveryHLP::Size(const ByteView& header) {
  return ReadU32LE(header, kHlpFileSizeAt);
}

// ---- Notebook section: the section file-type GUID ----

namespace {
const uint8_t kSectionFileType[] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                    0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
constexpr uint64_t kOneFileSizeAt = 196;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryONE, {263}, u".one", {u"one"})

bool CTypeRecoveryONE::Matches(const ByteView& v) {
  return BytesEqual(v, 0, kSectionFileType, sizeof kSectionFileType);
}

uint64_t CTypeRecoveryONE::Size(const ByteView& header) {
  return ReadU32LE(header, kOneFileSizeAt);
}

// ---- Mail folder ----

namespace {
constexpr uint32_t kDbxMagic = 0xFE12ADCF;
constexpr uint64_t kDbxFileSizeAt = 124;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryDBX, {2049}, u".dbx", {u"dbx"})

bool CTypeRecoveryDBX::Matches(const ByteView& v) {
  return ReadU32LE(v, 0) == kDbxMagic;
}

uint64_t CTypeRecoveryDBX::Size(const ByteView& header) {
  return ReadU32LE(header, kDbxFileSizeAt);
}

// ---- Mail store: "!BDN", then the client and platform bytes at 14 and 15 ----

namespace {
constexpr uint64_t kPstVersionAt = 10;  // wVer
constexpr uint16_t kOlderVersionLow = 14;
constexpr uint16_t kOlderVersionHigh = 15;
constexpr uint64_t kOlderFileSizeAt = 168;  // 32-bit file end of the older format
constexpr uint64_t kNewerFileSizeAt = 184;  // 64-bit file end of the newer format
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryPST, {2050}, u".pst", {u"pst"})

bool CTypeRecoveryPST::Matches(const ByteView& v) {
  return BytesEqual(v, 0, "!BDN") && ReadU8(v, 14) == 0x01 && ReadU8(v, 15) == 0x01;
}

uint64_t CTypeRecoveryPST::Size(const ByteView& header) {
  const uint16_t version = ReadU16LE(header, kPstVersionAt);
  if (version == kOlderVersionLow || version == kOlderVersionHigh) {
    return ReadU32LE(header, kOlderFileSizeAt);
  }
  return ReadU64LE(header, kNewerFileSizeAt);
}

// ---- Word-processor document: FF "WPC", file type at 9, major version at 10 ----

namespace {
const uint8_t kWpcMagic[] = {0xFF, 'W', 'P', 'C'};
constexpr uint64_t kWpdFileTypeAt = 9;
constexpr uint64_t kWpdMajorVersionAt = 10;
constexpr uint64_t kWpdFileSizeAt = 20;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryWPD, {273}, u".wpd", {u"wpd"})

bool CTypeRecoveryWPD::Matches(const ByteView& v) {
  if (!BytesEqual(v, 0, kWpcMagic, sizeof kWpcMagic)) return false;
  const uint8_t fileType = ReadU8(v, kWpdFileTypeAt);
  const uint8_t major = ReadU8(v, kWpdMajorVersionAt);
  if (fileType != 0x0A && fileType != 0x2C) return false;
  return major == 0 || major == 2 || major == 3 || major == 4;
}

uint64_t CTypeRecoveryWPD::Size(const ByteView& header) {
  return ReadU32LE(header, kWpdFileSizeAt);
}

// ---- Bytecode: "dex" LF and a version, file_size at 32 ----

namespace {
constexpr uint64_t kDexFileSizeAt = 32;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryDEX, {2313}, u".dex", {u"dex"})

bool CTypeRecoveryDEX::Matches(const ByteView& v) {
  return BytesEqual(v, 0, "dex\n") && ReadU32LE(v, kDexFileSizeAt) != 0;
}

uint64_t CTypeRecoveryDEX::Size(const ByteView& header) {
  return ReadU32LE(header, kDexFileSizeAt);
}

// ---- URL cache index: signature text, version "5.2", file size ----

namespace {
const uint8_t kCacheVersion[] = {'5', '.', '2', 0};
constexpr uint64_t kCacheVersionAt = 24;
constexpr uint64_t kCacheFileSizeAt = 28;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryDAT, {1284}, u".dat", {u"dat"})

bool CTypeRecoveryDAT::Matches(const ByteView& v) {
  return BytesEqual(v, 0, "Client UrlCache MMF Ver ") &&
         BytesEqual(v, kCacheVersionAt, kCacheVersion, sizeof kCacheVersion) &&
         ReadU32LE(v, kCacheFileSizeAt) != 0;
}

uint64_t CTypeRecoveryDAT::Size(const ByteView& header) {
  return ReadU32LE(header, kCacheFileSizeAt);
}

// ---- PKCS #12: SEQUENCE (two length bytes) { INTEGER 3, SEQUENCE { OID data ... ----

namespace {
const uint8_t kSequenceLong[] = {0x30, 0x82};
const uint8_t kVersionThreeThenSequence[] = {0x02, 0x01, 0x03, 0x30, 0x82};
const uint8_t kDataObjectId[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
constexpr uint64_t kOuterLengthAt = 2;
constexpr uint64_t kOuterHeaderSize = 4;  // tag, 0x82 and the two length bytes
constexpr uint64_t kVersionAt = 4;
constexpr uint64_t kDataObjectIdAt = 11;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryPFX, {2315}, u".pfx", {u"pfx"})

bool CTypeRecoveryPFX::Matches(const ByteView& v) {
  return BytesEqual(v, 0, kSequenceLong, sizeof kSequenceLong) &&
         BytesEqual(v, kVersionAt, kVersionThreeThenSequence, sizeof kVersionThreeThenSequence) &&
         BytesEqual(v, kDataObjectIdAt, kDataObjectId, sizeof kDataObjectId);
}

uint64_t CTypeRecoveryPFX::Size(const ByteView& header) {
  return uint64_t{ReadU16BE(header, kOuterLengthAt)} + kOuterHeaderSize;
}

// ---- Colour profile: big-endian profile size, "acsp" signature at 36 ----

namespace {
constexpr uint64_t kProfileSignatureAt = 36;
constexpr uint32_t kProfileHeaderSize = 128;  // a profile is more than its header
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryICC, {1562}, u".icc", {u"icc"})

bool CTypeRecoveryICC::Matches(const ByteView& v) {
  return BytesEqual(v, kProfileSignatureAt, "acsp") && ReadU8(v, 10) == 0 && ReadU8(v, 11) == 0 &&
         ReadU32BE(v, 0) > kProfileHeaderSize;
}

uint64_t CTypeRecoveryICC::Size(const ByteView& header) {
  return ReadU32BE(header, 0);
}

// ---- Disc image: primary volume descriptor (type 1, "CD001") ----

namespace {
const uint8_t kPrimaryVolumeDescriptor[] = {0x01, 'C', 'D', '0', '0', '1'};
constexpr uint64_t kVolumeSpaceSizeAt = 80;  // little-endian half of the both-endian field
constexpr uint64_t kLogicalBlockSizeAt = 128;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryISO, {1798}, u".iso", {})

bool CTypeRecoveryISO::Matches(const ByteView& v) {
  return BytesEqual(v, 0, kPrimaryVolumeDescriptor, sizeof kPrimaryVolumeDescriptor);
}

uint64_t CTypeRecoveryISO::Size(const ByteView& header) {
  return uint64_t{ReadU32LE(header, kVolumeSpaceSizeAt)} * ReadU16LE(header, kLogicalBlockSizeAt);
}

void CTypeRecoveryISO::OnFileBegun(const ByteView&, uint32_t* errorFlag) {
  // The system area preceded the descriptor and is gone; the output keeps
  // the image's layout with zeros in its place. Report mode writes nothing:
  // it reports the image from its first byte, with its whole size, and
  // counts the system area as already taken.
  if (!HasOpenOutputFile()) {
    if (IsReportMode() && m_fileStart >= kSystemAreaSize) {
      m_fileStart -= kSystemAreaSize;
      m_bytesWritten = kSystemAreaSize;
    }
    return;
  }
  static const uint8_t kZeros[4096] = {};
  for (uint32_t done = 0; done < kSystemAreaSize; done += sizeof kZeros) {
    WriteOutput(kZeros, sizeof kZeros, errorFlag);
  }
  m_expectedSize = m_expectedSize > kSystemAreaSize ? m_expectedSize - kSystemAreaSize : 0;
}

// ---- 3-D scene: IFF group "FOR4", big-endian size, form "Maya" ----

namespace {
constexpr uint64_t kGroupSizeAt = 4;
constexpr uint64_t kGroupHeaderSize = 8;
constexpr uint64_t kFormAt = 8;
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryMB, {1548}, u".mb", {u"mb"})

bool CTypeRecoveryMB::Matches(const ByteView& v) {
  return TextEqualIgnoringCase(v, kFormAt, "mayafor4");
}

uint64_t CTypeRecoveryMB::Size(const ByteView& header) {
  return uint64_t{ReadU32BE(header, kGroupSizeAt)} + kGroupHeaderSize;
}

// ---- TrueType: offset table (version 1.0, big-endian table count, then the
// binary-search fields the count fixes), then 16-byte table records: tag,
// checksum, offset, length, sorted by tag ----

namespace {
const uint8_t kTrueTypeVersion[] = {0x00, 0x01, 0x00, 0x00, 0x00};  // and the count's high byte
constexpr uint64_t kNumTablesAt = 4;
constexpr uint64_t kSearchRangeAt = 6;
constexpr uint64_t kEntrySelectorAt = 8;
constexpr uint64_t kRangeShiftAt = 10;
constexpr uint64_t kTableRecordsAt = 12;
constexpr uint64_t kTableRecordSize = 16;
constexpr uint64_t kRecordOffsetAt = 8;
constexpr uint64_t kRecordLengthAt = 12;

// The table directory is well formed: its search fields agree with the
// count, the tags are printable and strictly ascending (readers search them
// by bisection), and every table lies behind the directory, on a four-byte
// boundary.
bool IsTableDirectory(const ByteView& v) {
  const uint32_t tables = ReadU16BE(v, kNumTablesAt);
  const uint64_t directoryEnd = kTableRecordsAt + tables * kTableRecordSize;
  if (tables == 0 || !v.Has(0, directoryEnd)) return false;
  uint32_t selector = 0;
  while ((2u << selector) <= tables) ++selector;
  const uint32_t searchRange = 16u << selector;
  if (ReadU16BE(v, kSearchRangeAt) != searchRange || ReadU16BE(v, kEntrySelectorAt) != selector ||
      ReadU16BE(v, kRangeShiftAt) != tables * 16 - searchRange) {
    return false;
  }
  uint32_t previous = 0;
  for (uint64_t record = kTableRecordsAt; record < directoryEnd; record += kTableRecordSize) {
    for (uint64_t i = 0; i < 4; ++i) {
      const uint8_t c = ReadU8(v, record + i);
      if (c < 0x20 || c > 0x7E) return false;
    }
    const uint32_t tag = ReadU32BE(v, record);
    if (record != kTableRecordsAt && tag <= previous) return false;
    previous = tag;
    const uint64_t offset = ReadU32BE(v, record + kRecordOffsetAt);
    if (offset < directoryEnd || offset % 4 != 0) return false;
  }
  return true;
}
}  // namespace

TYPERECOVERY_FORMAT(CTypeRecoveryTTF, {2317}, u".ttf", {u"ttf"})

bool CTypeRecoveryTTF::Matches(const ByteView& v) {
  if (!BytesEqual(v, 0, kTrueTypeVersion, sizeof kTrueTypeVersion)) return false;
  return IsTableDirectory(v);
}

uint64_t CTypeRecoveryTTF::Size(const ByteView& header) {
  // The font ends with its last table, padded to four bytes.
  uint64_t end = 0;
  const uint16_t tables = ReadU16BE(header, kNumTablesAt);
  for (uint64_t i = 0; i < tables; ++i) {
    const uint64_t record = kTableRecordsAt + i * kTableRecordSize;
    const uint64_t tableEnd =
        uint64_t{ReadU32BE(header, record + kRecordOffsetAt)} + ReadU32BE(header, record + kRecordLengthAt);
    end = std::max(end, tableEnd);
  }
  return (end + 3) / 4 * 4;
}
