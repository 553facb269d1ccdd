// Header tests and size formulas of the declared-size media formats; the
// copy is the fixed-size cycle's.
#include "formats/media/DeclaredSizeMedia.h"

#include "formats/document/CAB.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

// APE descriptor: "MAC ", version, then five byte counts.
constexpr uint32_t kApeVersionAt = 4;
constexpr uint32_t kApeVersion399 = 3990;
constexpr uint32_t kApeDescriptorBytesAt = 8;  // then header, seek table, header data, frame data
constexpr uint32_t kApeByteCounts = 5;

// Type library: 16-byte magic, then the file length at 20.
const uint8_t kXptMagic[] = {0x58, 0x50, 0x43, 0x4F, 0x4D, 0x0A, 0x54, 0x79,
                             0x70, 0x65, 0x4C, 0x69, 0x62, 0x0D, 0x0A, 0x1A};
constexpr uint32_t kXptFileLengthAt = 20;

// WTV: the file's GUID; the size in 16-byte units from bit 4 of the 32-bit
// value at 90.
const uint8_t kWtvGuid[] = {0xB7, 0xD8, 0x00, 0x20, 0x37, 0x49, 0xDA, 0x11,
                            0xA6, 0x4E, 0x00, 0x07, 0xE9, 0x5E, 0xAD, 0x8D};
constexpr uint32_t kWtvSizeAt = 90;
constexpr uint32_t kWtvSizeShift = 4;

// AU audio: ".snd", data offset, data size, encoding, sample rate, channels
// (all big-endian).
constexpr uint32_t kAuDataOffsetAt = 4;
constexpr uint32_t kAuDataSizeAt = 8;
constexpr uint32_t kAuEncodingAt = 12;
constexpr uint32_t kAuChannelsAt = 20;
constexpr uint32_t kAuMaxEncoding = 27;
constexpr uint32_t kAuMaxChannels = 256;

// IFF-style chunk: 4-byte ID, big-endian size of what follows.
constexpr uint32_t kChunkSizeAt = 4;
constexpr uint64_t kChunkHeaderBytes = 8;
uint64_t ChunkFileSize(const ByteView& header) {
  return uint64_t{ReadU32BE(header, kChunkSizeAt)} + kChunkHeaderBytes;
}

// AIFF: "FORM", size, "AIFF" or "AIFC".
constexpr uint32_t kAifFormTypeAt = 8;

// VEG project: lower-case "riff", the file size at 16.
constexpr uint32_t kVegFileSizeAt = 16;

// MMF: an "MMMD" chunk holding the whole file.

}  // namespace

// ---- APE

bool CTypeRecoveryAPE::Matches(const ByteView& header) {
  return BytesEqual(header, 0, "MAC ") && ReadU32LE(header, kApeVersionAt) == kApeVersion399;
}

uint64_t CTypeRecoveryAPE::Size(const ByteView& header) {
  uint64_t size = 0;
  for (uint32_t i = 0; i < kApeByteCounts; ++i) size += ReadU32LE(header, kApeDescriptorBytesAt + 4 * i);
  return size;
}

// ---- XPT

bool CTypeRecoveryXPT::Matches(const ByteView& header) {
  return BytesEqual(header, 0, kXptMagic, sizeof kXptMagic) &&
         ReadU32LE(header, kXptFileLengthAt) != 0;
}

uint64_t CTypeRecoveryXPT::Size(const ByteView& header) {
  return ReadU32BE(header, kXptFileLengthAt);
}

// ---- WTV

bool CTypeRecoveryWTV::Matches(const ByteView& header) {
  return BytesEqual(header, 0, kWtvGuid, sizeof kWtvGuid);
}

uint64_t CTypeRecoveryWTV::Size(const ByteView& header) {
  return ReadU32LE(header, kWtvSizeAt) >> kWtvSizeShift;
}

// ---- AU

bool CTypeRecoveryAU::Matches(const ByteView& header) {
  if (!BytesEqual(header, 0, ".snd")) return false;
  if (ReadU32BE(header, kAuDataSizeAt) == 0 || ReadU32BE(header, kAuDataOffsetAt) == 0) return false;
  return ReadU32BE(header, kAuEncodingAt) <= kAuMaxEncoding &&
         ReadU32BE(header, kAuChannelsAt) <= kAuMaxChannels;
}

uint64_t CTypeRecoveryAU::Size(const ByteView& header) {
  return uint64_t{ReadU32BE(header, kAuDataOffsetAt)} + ReadU32BE(header, kAuDataSizeAt);
}

// ---- AIF

bool CTypeRecoveryAIF::Matches(const ByteView& header) {
  if (!BytesEqual(header, 0, "FORM") || !BytesEqual(header, kAifFormTypeAt, "AIF")) return false;
  const uint8_t last = ReadU8(header, kAifFormTypeAt + 3);
  return last == 'C' || last == 'F';
}

uint64_t CTypeRecoveryAIF::Size(const ByteView& header) {
  return ChunkFileSize(header);
}

// ---- VEG

bool CTypeRecoveryVEG::Matches(const ByteView& header) {
  return BytesEqual(header, 0, "riff");
}

uint64_t CTypeRecoveryVEG::Size(const ByteView& header) {
  return ReadU32LE(header, kVegFileSizeAt);
}

// ---- WRF

// WRF recording: "WOTF"; its size field is the cabinet's (32-bit at 8).
bool CTypeRecoveryWRF::Matches(const ByteView& header) { return BytesEqual(header, 0, "WOTF"); }

uint64_t CTypeRecoveryWRF::Size(const ByteView& header) { return CTypeRecoveryCAB::Size(header); }

// ---- MMF

bool CTypeRecoveryMMF::Matches(const ByteView& header) {
  return BytesEqual(header, 0, "MMMD") && ReadU32LE(header, kChunkSizeAt) != 0;
}

uint64_t CTypeRecoveryMMF::Size(const ByteView& header) {
  return ChunkFileSize(header);
}

TYPERECOVERY_FORMAT(CTypeRecoveryAPE, {771}, u".ape", {u"ape"})
TYPERECOVERY_FORMAT(CTypeRecoveryXPT, {2308}, u".xpt", {u"xpt"})
TYPERECOVERY_FORMAT(CTypeRecoveryWTV, {1039}, u".wtv", {u"wtv"})
TYPERECOVERY_FORMAT(CTypeRecoveryAU, {777}, u".au", {u"au"})
TYPERECOVERY_FORMAT(CTypeRecoveryAIF, {779}, u".aif;.afc;.aiff", {u"aif", u"afc", u"aiff"})
TYPERECOVERY_FORMAT(CTypeRecoveryVEG, {2328}, u".veg", {u"veg"})
TYPERECOVERY_FORMAT(CTypeRecoveryWRF, {1042}, u".wrf", {u"wrf"})
TYPERECOVERY_FORMAT(CTypeRecoveryMMF, {780}, u".mmf", {u"mmf"})
