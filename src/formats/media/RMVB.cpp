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

namespace {
const char16_t* const kSubTypeExtensions[] = {u"ra", u"rmvb"};
}  // namespace

CTypeRecoveryRMVB::CTypeRecoveryRMVB(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CWithSubTypes(kSubTypeCodes, kSubTypeExtensions, kRmvb, kTypeCode, host, outputRoot,
                    RealMediaRules()) {
  SetExtension(u"rmvb");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryRMVB::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView header(buffer, length);
  return BytesEqual(header, 0, ".RMF") && ReadU32LE(header, kChunkSizeAt) != 0 ? kTypeCode : 0;
}

void CTypeRecoveryRMVB::DropUnwantedVideo() {
  if (!m_subTypes.IsOn(kRmvb) && m_subTypes.current == kRmvb) DiscardOutputFile();
}

void CTypeRecoveryRMVB::BeforeCut() {
  DropUnwantedVideo();
  m_beganByCut = m_fileInProgress != 0;
}

bool CTypeRecoveryRMVB::StartFile(const Strip& strip) {
  SetExtension(u"rmvb");
  m_subTypes.current = kRmvb;
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
      if (m_subTypes.IsOn(kRa)) {
        SetExtension(u"ra");
        m_subTypes.current = kRa;
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

void CTypeRecoveryRMVB::CloseOutputFile() { CloseAndRenameOutputFile(); }

void CTypeRecoveryRMVB::ProgressFields(ProgressRecord& record) {
  record.Nested(m_subTypes.Flags()).FileFields()(m_chunkCursor);
  m_subTypes.CurrentCodeField(record);
  if (record.Loading() && record.Ok()) RefetchFolderValues();
}

TYPERECOVERY_FORMAT(CTypeRecoveryRMVB, {1031, 776}, u".rmvb;.rm;.ra", {u"rm", u"rmvb", u"ra"})
