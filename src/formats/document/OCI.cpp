// Chunked image documents: header test and the chunk chain walk.
#include "formats/document/OCI.h"

#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 17;
constexpr uint32_t kFirstChunkSize = 48;  // the "OPIM" chunk
constexpr uint64_t kChunkHeaderSize = 8;  // tag and size

bool IsChunkTag(const ByteView& v, uint64_t at) {
  if (!v.Has(at, 4) || v.data[at] != 'O') return false;
  for (uint64_t i = 1; i < 4; ++i) {
    if (v.data[at + i] < 'A' || v.data[at + i] > 'Z') return false;
  }
  return true;
}

}  // namespace

CTypeRecoveryOCI::CTypeRecoveryOCI(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot), m_chunkCursor(0), m_chainSize(0), m_walking(0) {
  SetExtension(u"oci");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryOCI::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView v(buffer, length);
  return BytesEqual(v, 0, "OPIM") && ReadU32LE(v, 4) == kFirstChunkSize ? kTypeCode : 0;
}

CTypeRecoveryOCI::Walk CTypeRecoveryOCI::WalkChunks(const ByteView& view, uint32_t length) {
  while (m_chunkCursor < view.size) {
    if (!view.Has(m_chunkCursor, kChunkHeaderSize)) {
      // Cut off by the readable end: read it next strip if it starts there.
      if (m_chunkCursor >= length) return Walk::Going;
      return Walk::ChainEnded;
    }
    if (!IsChunkTag(view, m_chunkCursor)) return Walk::ChainEnded;
    const uint32_t step = ReadU32LE(view, m_chunkCursor + 4) + static_cast<uint32_t>(kChunkHeaderSize);
    if (step == 0) return Walk::Broken;
    m_chunkCursor += step;
    m_chainSize += step;
  }
  return Walk::Going;
}

uint32_t CTypeRecoveryOCI::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    BeginFile(stripPosition, errorFlag);
    m_chunkCursor = m_chainSize = 0;
    m_walking = 1;
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  uint32_t complete = 1;
  bool ended = false;
  uint64_t part = length;
  if (m_walking != 0) {
    switch (WalkChunks(view, length)) {
      case Walk::Going:
        break;
      case Walk::ChainEnded:
        m_walking = 0;
        break;
      case Walk::Broken:
        if (m_bytesWritten == 0) {
          DiscardOutputFile();
          return count;
        }
        complete = 0;
        ended = true;
        break;
    }
    m_chunkCursor = m_chunkCursor >= length ? m_chunkCursor - length : 0;
  }
  if (m_walking == 0 && m_bytesWritten + length >= m_chainSize) {
    part = m_chainSize > m_bytesWritten ? m_chainSize - m_bytesWritten : 0;
    ended = true;
  }
  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_walking == 0 ? m_chainSize : m_bytesWritten;
  return count + EndOfStrip(ended, complete);
}

void CTypeRecoveryOCI::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_chunkCursor)(m_chainSize).Flag(m_walking);
}

TYPERECOVERY_FORMAT(CTypeRecoveryOCI, {1561}, u".oci", {u"oci"})
