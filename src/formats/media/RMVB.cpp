// RealMedia recognizer: chunk walk, sub-type choice and renaming close.
#include "formats/media/RMVB.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

// Every chunk: 4-byte ID, big-endian 32-bit size (header included), then
// a 16-bit version; the ".RMF" file header's size is where the walk begins.
constexpr uint32_t kMinimumLength = 17;
constexpr uint64_t kChunkSizeAt = 4;
constexpr uint64_t kChunkHeaderReach = 20;  // bytes a chunk header needs readable

bool IsStreamChunk(const ByteView& bytes, uint64_t at) {
  return BytesEqual(bytes, at, "PROP") || BytesEqual(bytes, at, "MDPR") ||
         BytesEqual(bytes, at, "CONT") || BytesEqual(bytes, at, "DATA") ||
         BytesEqual(bytes, at, "INDX");
}

CMediaStripCycle::Rules RealMediaRules() {
  CMediaStripCycle::Rules rules;
  rules.cutComplete = 1;
  rules.sizeIsBytesTaken = true;
  return rules;
}

}  // namespace

constexpr uint32_t CTypeRecoveryRMVB::kSubTypeCodes[];

CTypeRecoveryRMVB::CTypeRecoveryRMVB(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, RealMediaRules()) {
  SetExtension(u"rmvb");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryRMVB::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView header(buffer, length);
  return BytesEqual(header, 0, ".RMF") && ReadU32LE(header, kChunkSizeAt) != 0 ? kTypeCode : 0;
}

void CTypeRecoveryRMVB::DropUnwantedVideo() {
  if (!m_enabled.IsOn(kRmvb) && m_current == kRmvb) DiscardOutputFile();
}

void CTypeRecoveryRMVB::BeforeCut() {
  DropUnwantedVideo();
  m_beganByCut = m_fileInProgress != 0;
}

bool CTypeRecoveryRMVB::StartFile(const Strip& strip) {
  SetExtension(u"rmvb");
  m_current = kRmvb;
  m_chunkCursor = ReadU32BE(strip.readable, kChunkSizeAt);
  return true;
}

CMediaStripCycle::Walk CTypeRecoveryRMVB::WalkStrip(const Strip& strip) {
  const uint64_t readable = uint64_t{strip.length} + strip.lookahead;
  while (m_chunkCursor < strip.length && m_chunkCursor + kChunkHeaderReach < readable) {
    const uint64_t at = m_chunkCursor;
    const uint32_t size = ReadU32BE(strip.readable, at + kChunkSizeAt);
    bool ends = false;
    if (BytesEqual(strip.readable, at, "RMMD")) {
      if (m_enabled.IsOn(kRa)) {
        SetExtension(u"ra");
        m_current = kRa;
      } else {
        DiscardOutputFile();  // audio the host did not ask for
        ends = true;
      }
    } else if (!IsStreamChunk(strip.readable, at)) {
      return Walk::EndAt(m_chunkCursor);  // not a chunk: the file ends before it
    }
    if (size == 0 || at + size > 0xFFFFFFFFu) {
      // The walk cannot step over this chunk.
      if (!m_beganByCut) DiscardOutputFile();
      return Walk::EndAt(strip.length, 0);
    }
    m_chunkCursor = static_cast<uint32_t>(at + size);
    if (ends) return Walk::EndAt(0);
  }
  m_chunkCursor -= strip.length;
  return Walk::WholeStrip(strip);
}

uint32_t* CTypeRecoveryRMVB::FileTypeFolderValue() {
  return m_current == kRa ? &m_raFolderValue : &m_typeFolderValue;
}

void CTypeRecoveryRMVB::CloseOutputFile() { CloseAndRenameOutputFile(); }

bool CTypeRecoveryRMVB::EnableSubType(uint32_t code, uint64_t) {
  return m_enabled.Enable(kSubTypeCodes, code);
}

void CTypeRecoveryRMVB::EnableAllSubTypes(uint32_t exceptCode) {
  m_enabled.EnableAll(kSubTypeCodes, exceptCode);
}

void CTypeRecoveryRMVB::CopyStateFrom(const CTypeRecovery* prototype) {
  CMediaStripCycle::CopyStateFrom(prototype);
  const CTypeRecoveryRMVB& from = static_cast<const CTypeRecoveryRMVB&>(*prototype);
  m_enabled.CopyFrom(from.m_enabled);
  m_raFolderValue = from.m_raFolderValue;
}

uint32_t CTypeRecoveryRMVB::SaveProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::SaveProgress(file) == 0 || !m_enabled.Save(file)) return 0;
  if (m_fileInProgress == 0) return 1;
  return WriteU32(file, m_chunkCursor) && WriteU32(file, kSubTypeCodes[m_current]) ? 1 : 0;
}

uint32_t CTypeRecoveryRMVB::LoadProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::LoadProgress(file) == 0 || !m_enabled.Load(file)) return 0;
  if (m_fileInProgress != 0) {
    uint32_t code = 0;
    if (!ReadU32(file, &m_chunkCursor) || !ReadU32(file, &code)) return 0;
    const int row = SubTypeRow(kSubTypeCodes, code);
    if (row >= 0) m_current = static_cast<SubType>(row);
  }
  AskFolderValue(u"ra", &m_raFolderValue);
  return 1;
}

TYPERECOVERY_FORMAT(CTypeRecoveryRMVB, {1031, 776}, u".rmvb;.rm;.ra", {u"rm", u"rmvb", u"ra"})
