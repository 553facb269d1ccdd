// The record-chain cycle and the record tests of PSP, EMF and ABR files.
#include "formats/image/RecordChains.h"

#include "registry/RecognizerFactory.h"

using typerecovery::BytesEqual;
using typerecovery::ByteView;
using typerecovery::ReadU32BE;
using typerecovery::ReadU32LE;
using typerecovery::RecordWalk;

namespace {

CMediaStripCycle::Rules ChainRules() {
  CMediaStripCycle::Rules rules;
  rules.cutComplete = 0;
  rules.sizeIsBytesTaken = false;  // the walk sets the size (see WalkStrip)
  return rules;
}

// A record of headerSize bytes plus length, computed in 32 bits as the
// formats' own readers do: a sum that wraps around does not move forward.
bool MovesForward(uint32_t length, uint32_t headerSize, uint64_t* size) {
  const uint32_t total = length + headerSize;
  *size = total;
  return total >= headerSize;
}

// ---- PSP image file ----
constexpr uint32_t kPspMinimumHeaderLength = 51;
// The signature text, line feed, end-of-file mark and its terminating zero.
const char kPspSignature[28] = "Paint Shop Pro Image File\n\x1A";
constexpr uint32_t kPspSignaturePadding = 28;  // four zero bytes
constexpr uint32_t kPspMajorVersionOffset = 32;
constexpr uint32_t kPspOldestMajorVersion = 3;  // versions up to 3 use another block header
constexpr uint32_t kPspFileHeaderSize = 36;
const uint8_t kPspBlockMarker[4] = {0x7E, 0x42, 0x4B, 0x00};  // "~BK" 0
constexpr uint32_t kPspBlockLengthOffset = 6;  // after the marker and the u16 block id
constexpr uint32_t kPspBlockHeaderSize = 10;

// ---- Enhanced metafile ----
constexpr uint32_t kEmfMinimumHeaderLength = 45;
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmfSignatureOffset = 40;  // dSignature of the header record
constexpr uint32_t kEmrSizeOffset = 4;        // nSize
constexpr uint32_t kEmrEof = 14;
constexpr uint32_t kEmrUnused = 69;  // no record has this type
constexpr uint32_t kEmrLastType = 122;

// ---- Brush set ----
constexpr uint32_t kAbrMinimumHeaderLength = 17;
constexpr uint32_t kAbrFirstSection = 4;  // after the u16 version and u16 subversion
constexpr uint32_t kAbrSectionKeyOffset = 8;
constexpr uint32_t kAbrSectionLengthOffset = 8;  // big-endian, after "8BIM" and the key
constexpr uint32_t kAbrSectionHeaderSize = 12;

}  // namespace

CRecordChainCycle::CRecordChainCycle(uint32_t typeCode, CTypeRecoveryManager* host,
                                     const char16_t* outputRoot, uint32_t firstRecord,
                                     bool savesWalkFlag)
    : CMediaStripCycle(typeCode, host, outputRoot, ChainRules()),
      m_firstRecord(firstRecord),
      m_savesWalkFlag(savesWalkFlag),
      m_discard(false) {
  m_typePropertyFlag = 0;
}

bool CRecordChainCycle::StartFile(const Strip&) {
  m_records.Start(m_firstRecord);
  m_discard = false;
  return true;
}

CMediaStripCycle::Walk CRecordChainCycle::WalkStrip(const Strip& strip) {
  m_records.Walk(strip.readable, strip.length,
                 [this](const ByteView& header) { return VisitRecord(header); });
  m_records.EndStrip(strip.length);
  if (m_discard) {
    DiscardOutputFile();
    return Walk::EndAt(0);
  }
  const uint64_t end = m_records.FileOffset();
  if (m_records.IsWalking() || m_bytesWritten + strip.length <= end) {
    m_expectedSize = m_bytesWritten + strip.length;  // a flush reports what was taken
    return Walk::WholeStrip(strip);
  }
  // The size is where the chain stops. Without lookahead the stopping record
  // may have begun in the previous strip, which was written whole.
  m_expectedSize = end;
  const uint64_t take = end > m_bytesWritten ? end - m_bytesWritten : 0;
  return Walk::EndAt(static_cast<uint32_t>(take), m_records.StoppedComplete() ? 1 : 0);
}

uint32_t CRecordChainCycle::SaveProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::SaveProgress(file) == 0) return 0;
  if (m_fileInProgress == 0) return 1;
  return m_records.Save(file, m_savesWalkFlag) ? 1 : 0;
}

uint32_t CRecordChainCycle::LoadProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::LoadProgress(file) == 0) return 0;
  m_discard = false;
  if (m_fileInProgress == 0) return 1;
  return m_records.Load(file, m_savesWalkFlag) ? 1 : 0;
}

// ---- PSP ----

CTypeRecoveryPSP::CTypeRecoveryPSP(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CRecordChainCycle(kTypeCode, host, outputRoot, kPspFileHeaderSize, false) {
  SetExtension(u"psp");
}

uint32_t CTypeRecoveryPSP::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kPspMinimumHeaderLength || buffer[0] != 'P') return 0;
  const ByteView v(buffer, length);
  const bool matched = BytesEqual(v, 0, kPspSignature, sizeof kPspSignature) &&
                       ReadU32LE(v, kPspSignaturePadding) == 0 &&
                       typerecovery::ReadU16LE(v, kPspMajorVersionOffset) > kPspOldestMajorVersion;
  return matched ? kTypeCode : 0;
}

RecordWalk::Step CTypeRecoveryPSP::VisitRecord(const ByteView& block) {
  if (block.size == 0) return RecordWalk::Step::Stop(false);
  if (!BytesEqual(block, 0, kPspBlockMarker, sizeof kPspBlockMarker)) {
    return RecordWalk::Step::Stop(true);  // the chain of blocks ends here
  }
  uint64_t size = 0;
  if (!MovesForward(ReadU32LE(block, kPspBlockLengthOffset), kPspBlockHeaderSize, &size)) {
    return RecordWalk::Step::Stop(false);
  }
  return RecordWalk::Step::Next(size);
}

// ---- EMF ----

CTypeRecoveryEMF::CTypeRecoveryEMF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CRecordChainCycle(kTypeCode, host, outputRoot, 0, true) {
  SetExtension(u"emf");
}

uint32_t CTypeRecoveryEMF::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kEmfMinimumHeaderLength || buffer[0] != kEmrHeader) return 0;
  const ByteView v(buffer, length);
  return ReadU32LE(v, 0) == kEmrHeader && BytesEqual(v, kEmfSignatureOffset, " EMF") ? kTypeCode
                                                                                     : 0;
}

RecordWalk::Step CTypeRecoveryEMF::VisitRecord(const ByteView& record) {
  if (record.size == 0) return RecordWalk::Step::Stop(false);
  const uint32_t type = ReadU32LE(record, 0);
  const uint32_t size = ReadU32LE(record, kEmrSizeOffset);
  if (type == 0 || type == kEmrUnused || type > kEmrLastType) return RecordWalk::Step::Stop(false);
  if (size == 0) {
    DiscardFile();  // a record of no size: not a metafile after all
    return RecordWalk::Step::Stop(false);
  }
  return type == kEmrEof ? RecordWalk::Step::Last(size) : RecordWalk::Step::Next(size);
}

// ---- ABR ----

CTypeRecoveryABR::CTypeRecoveryABR(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CRecordChainCycle(kTypeCode, host, outputRoot, kAbrFirstSection, true) {
  SetExtension(u"abr");
}

uint32_t CTypeRecoveryABR::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kAbrMinimumHeaderLength) return 0;
  const ByteView v(buffer, length);
  return BytesEqual(v, kAbrFirstSection, "8BIM") && BytesEqual(v, kAbrSectionKeyOffset, "samp")
             ? kTypeCode
             : 0;
}

RecordWalk::Step CTypeRecoveryABR::VisitRecord(const ByteView& section) {
  if (section.size == 0) return RecordWalk::Step::Stop(false);
  if (!BytesEqual(section, 0, "8BIM")) return RecordWalk::Step::Stop(true);  // no more sections
  uint64_t size = 0;
  if (!MovesForward(ReadU32BE(section, kAbrSectionLengthOffset), kAbrSectionHeaderSize, &size)) {
    return RecordWalk::Step::Stop(false);
  }
  return RecordWalk::Step::Next(size);
}

TYPERECOVERY_FORMAT(CTypeRecoveryPSP, {1549}, u".psp", {u"psp"})
TYPERECOVERY_FORMAT(CTypeRecoveryEMF, {1560}, u".emf", {u"emf"})
TYPERECOVERY_FORMAT(CTypeRecoveryABR, {1542}, u".abr", {u"abr"})
