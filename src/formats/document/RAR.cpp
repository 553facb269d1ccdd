// RAR 4 block walk.
#include "formats/document/RAR.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 21;
// Marker block "Rar!" 1A 07 00, then the archive header.
const uint8_t kMarker[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint64_t kMarkerSize = 7;
constexpr uint64_t kArchiveHeaderTypeAt = 9;  // HEAD_TYPE of the block after the marker
constexpr uint64_t kArchiveHeaderSizeAt = 12;  // its HEAD_SIZE

// Block header fields, from the block's first byte.
constexpr uint64_t kHeadTypeAt = 2;
constexpr uint64_t kHeadSizeAt = 5;
constexpr uint64_t kDataSizeAt = 7;  // PACK_SIZE of file blocks, ADD_SIZE of the others

constexpr uint8_t kArchiveHeader = 0x73;
constexpr uint8_t kFirstBlockType = 0x72;  // marker
constexpr uint8_t kLastBlockType = 0x7A;   // new sub-block
constexpr uint8_t kEndOfArchive = 0x7B;

constexpr uint64_t kMaximumSize = 0x280000000ULL;  // 10 GiB

}  // namespace

CTypeRecoveryRAR::CTypeRecoveryRAR(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot), m_blockCursor(0), m_archiveSize(0) {
  SetExtension(u"rar");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryRAR::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView view(buffer, length);
  if (!BytesEqual(view, 0, kMarker, sizeof kMarker)) return 0;
  return ReadU8(view, kArchiveHeaderTypeAt) == kArchiveHeader ? kTypeCode : 0;
}

uint32_t CTypeRecoveryRAR::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    m_blockCursor = m_archiveSize = kMarkerSize + ReadU16LE(view, kArchiveHeaderSizeAt);
    BeginFile(stripPosition, errorFlag);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  uint32_t complete = 1;
  bool ended = false;
  uint64_t part = length;
  // A chain that cannot go on: cut the archive, and drop it if no end of it
  // was ever established.
  auto broken = [&]() {
    if (m_expectedSize == 0) DiscardOutputFile();
    complete = 0;
    ended = true;
  };
  while (!ended && m_blockCursor < length) {
    const uint8_t type = ReadU8(view, m_blockCursor + kHeadTypeAt);
    const uint16_t headSize = ReadU16LE(view, m_blockCursor + kHeadSizeAt);
    if (type >= kFirstBlockType && type <= kLastBlockType) {
      const uint32_t step = headSize + ReadU32LE(view, m_blockCursor + kDataSizeAt);
      if (step == 0) {
        broken();
      } else {
        m_blockCursor += step;
        m_archiveSize += step;
      }
    } else if (type == kEndOfArchive) {
      if (headSize == 0) {
        broken();
      } else {
        m_archiveSize += headSize;
        m_expectedSize = m_archiveSize;
        part = m_blockCursor + headSize;
        if (part > view.size) part = view.size;
        ended = true;
      }
    } else {
      m_expectedSize = m_archiveSize;
      if (m_expectedSize == 0) DiscardOutputFile();
      ended = true;
    }
  }
  if (!ended) m_blockCursor -= length;

  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  return count + EndOfStrip(ended, complete);
}

void CTypeRecoveryRAR::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_archiveSize)(m_blockCursor);
}

TYPERECOVERY_FORMAT(CTypeRecoveryRAR, {1794}, u".rar", {u"rar"})
