// Tar member headers: checksum, size, and the walk from block to block.
#include "formats/document/TAR.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint64_t kMaximumSize = 0x40000000;  // 1 GiB

// Header fields (ustar layout): each numeric field is octal text ended by a
// zero or a space.
constexpr uint64_t kModeAt = 100;
constexpr uint64_t kUidAt = 108;
constexpr uint64_t kGidAt = 116;
constexpr uint64_t kSizeAt = 124;
constexpr uint64_t kSizeDigits = 12;
constexpr uint64_t kMtimeAt = 136;
constexpr uint64_t kChecksumAt = 148;
constexpr uint64_t kChecksumSize = 8;
// Last bytes of the name, mode, uid and gid fields: their terminators.
const uint64_t kFieldEnds[] = {99, 107, 115, 123};
// First bytes of mode, uid, gid, size, mtime and checksum: never empty.
const uint64_t kFieldStarts[] = {kModeAt, kUidAt, kGidAt, kSizeAt, kMtimeAt, kChecksumAt};

// Octal text of a field: leading spaces, then digits up to the first byte
// that is not one, at most the field's width.
uint64_t ParseOctal(const uint8_t* field, uint64_t width) {
  uint64_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  uint64_t value = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) value = value * 8 + (field[i] - '0');
  return value;
}

// The checksum field holds the sum of the header's bytes, itself counted as
// eight spaces.
bool ChecksumHolds(const uint8_t* block) {
  uint64_t sum = 0;
  for (uint64_t i = 0; i < CTypeRecoveryTAR::kBlockSize; ++i) {
    sum += (i >= kChecksumAt && i < kChecksumAt + kChecksumSize) ? ' ' : block[i];
  }
  return sum == ParseOctal(block + kChecksumAt, kChecksumSize);
}

bool IsZeroBlock(const uint8_t* block) {
  for (uint64_t i = 0; i < CTypeRecoveryTAR::kBlockSize; ++i) {
    if (block[i] != 0) return false;
  }
  return true;
}

// The header and the data blocks of the member whose header this is.
uint64_t MemberStep(const uint8_t* header) {
  const uint64_t step = ParseOctal(header + kSizeAt, kSizeDigits) + CTypeRecoveryTAR::kBlockSize;
  const uint64_t partial = step % CTypeRecoveryTAR::kBlockSize;
  return partial == 0 ? step : step + (CTypeRecoveryTAR::kBlockSize - partial);
}

}  // namespace

CTypeRecoveryTAR::CTypeRecoveryTAR(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot), m_blockCursor(0), m_archiveSize(0), m_zeroBlocks(0) {
  SetExtension(u"tar");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryTAR::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kBlockSize) return 0;
  if (buffer[0] == 0) return 0;
  for (uint64_t at : kFieldEnds) {
    if (buffer[at] != 0) return 0;
  }
  for (uint64_t at : kFieldStarts) {
    if (buffer[at] == 0) return 0;
  }
  return ChecksumHolds(buffer) ? kTypeCode : 0;
}

uint64_t CTypeRecoveryTAR::Examine(const uint8_t* block) {
  if (m_zeroBlocks == 0 && ChecksumHolds(block)) {
    const uint64_t step = MemberStep(block);
    m_archiveSize += step;
    return step;
  }
  // The end-of-archive blocks, then the zeros that fill the record.
  const bool recordFilled = m_zeroBlocks >= 2 && m_archiveSize % kRecordSize == 0;
  if (recordFilled || !IsZeroBlock(block)) return 0;
  ++m_zeroBlocks;
  m_archiveSize += kBlockSize;
  return kBlockSize;
}

uint32_t CTypeRecoveryTAR::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;

  if (m_fileInProgress == 0 && IsHeaderMatched(buffer, length, 0) != 0) {
    CloseOutputFile();
    BeginFile(stripPosition, errorFlag);
    m_blockCursor = m_archiveSize = 0;
    m_zeroBlocks = 0;
    m_split.Clear();
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return 0;

  bool ended = false;
  uint64_t part = length;  // strip bytes that belong to the archive (so far)
  while (!ended) {
    const uint8_t* block = nullptr;
    uint64_t blockEnd = 0;  // from the strip's first byte
    const uint32_t earlier = m_split.Size();
    if (earlier != 0) {
      // The rest of a block that began in an earlier strip.
      const uint32_t need = kBlockSize - earlier;
      if (need > length) {
        m_split.Append(buffer, length);
        part = 0;
        break;
      }
      m_split.Append(buffer, need);
      block = m_split.Data();
      blockEnd = need;
    } else {
      if (m_blockCursor >= length) break;
      if (length - m_blockCursor < kBlockSize) {
        // Examined when its last byte arrives; held back until then.
        m_split.Append(buffer + m_blockCursor, length - m_blockCursor);
        part = m_blockCursor;
        m_blockCursor = 0;
        break;
      }
      block = buffer + m_blockCursor;
      blockEnd = m_blockCursor + kBlockSize;
    }
    const uint64_t step = Examine(block);
    if (earlier != 0) {
      if (step != 0) TakeBytes(m_split.Data(), earlier, errorFlag);
      m_split.Clear();
    }
    if (step == 0) {
      ended = true;
      part = blockEnd > kBlockSize ? blockEnd - kBlockSize : 0;
      break;
    }
    m_blockCursor = blockEnd - kBlockSize + step;
    if (m_zeroBlocks >= 2 && m_archiveSize % kRecordSize == 0) {
      // The record is full: nothing more belongs to the archive.
      ended = true;
      part = blockEnd;
    }
  }
  if (!ended && m_split.Empty()) m_blockCursor -= length;

  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_bytesWritten;
  return EndOfStrip(ended, 1);
}

void CTypeRecoveryTAR::ProgressFields(ProgressRecord& record) {
  if (record.Loading()) m_split.Clear();
  record.FileFields()(m_blockCursor)(m_archiveSize)(m_zeroBlocks).Nested(m_split);
}

TYPERECOVERY_FORMAT(CTypeRecoveryTAR, {1796}, u".tar", {u"tar"})
