// Tar member headers: checksum, size, and the walk from member to member.
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
constexpr uint64_t kMtimeAt = 136;
constexpr uint64_t kChecksumAt = 148;
constexpr uint64_t kChecksumSize = 8;
// Last bytes of the name, mode, uid and gid fields: their terminators.
const uint64_t kFieldEnds[] = {99, 107, 115, 123};
// First bytes of mode, uid, gid, size, mtime and checksum: never empty.
const uint64_t kFieldStarts[] = {kModeAt, kUidAt, kGidAt, kSizeAt, kMtimeAt, kChecksumAt};

// Octal text at offset: leading spaces, then digits up to the first byte that
// is not one.
uint64_t ParseOctal(const ByteView& v, uint64_t offset) {
  while (offset < v.size && v.data[offset] == ' ') ++offset;
  uint64_t value = 0;
  for (; offset < v.size && v.data[offset] >= '0' && v.data[offset] <= '7'; ++offset) {
    value = value * 8 + (v.data[offset] - '0');
  }
  return value;
}

// The checksum field holds the sum of the header's bytes, itself counted as
// eight spaces. A block that is not wholly readable does not pass.
bool ChecksumHolds(const ByteView& v, uint64_t at) {
  if (!v.Has(at, CTypeRecoveryTAR::kBlockSize)) return false;
  uint64_t sum = 0;
  for (uint64_t i = 0; i < CTypeRecoveryTAR::kBlockSize; ++i) {
    sum += (i >= kChecksumAt && i < kChecksumAt + kChecksumSize) ? ' ' : v.data[at + i];
  }
  return sum == ParseOctal(v, at + kChecksumAt);
}

// The header and the data blocks of the member whose header is at at.
uint64_t MemberStep(const ByteView& v, uint64_t at) {
  const uint64_t step = ParseOctal(v, at + kSizeAt) + CTypeRecoveryTAR::kBlockSize;
  const uint64_t partial = step % CTypeRecoveryTAR::kBlockSize;
  return partial == 0 ? step : step + (CTypeRecoveryTAR::kBlockSize - partial);
}

}  // namespace

CTypeRecoveryTAR::CTypeRecoveryTAR(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot), m_memberCursor(0), m_archiveSize(0) {
  SetExtension(u"tar");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryTAR::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kBlockSize) return 0;
  const ByteView v(buffer, length);
  if (buffer[0] == 0) return 0;
  for (uint64_t at : kFieldEnds) {
    if (ReadU8(v, at) != 0) return 0;
  }
  for (uint64_t at : kFieldStarts) {
    if (ReadU8(v, at) == 0) return 0;
  }
  return ChecksumHolds(v, 0) ? kTypeCode : 0;
}

uint32_t CTypeRecoveryTAR::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);

  if (m_fileInProgress == 0 && IsHeaderMatched(buffer, length, 0) != 0) {
    CloseOutputFile();
    BeginFile(stripPosition, errorFlag);
    m_memberCursor = m_archiveSize = MemberStep(view, 0);
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return 0;

  uint32_t complete = 1;
  bool ended = false;
  const bool headerHere = m_memberCursor < view.size;
  const bool postponed = headerHere && m_memberCursor >= length &&
                         !view.Has(m_memberCursor, kBlockSize);
  if (headerHere && !postponed) {
    if (ChecksumHolds(view, m_memberCursor)) {
      const uint64_t step = MemberStep(view, m_memberCursor);
      if (m_memberCursor + step <= m_memberCursor) {
        // A size so large that the step wraps: the chain is broken.
        complete = 0;
        ended = true;
        if (m_expectedSize == 0) DiscardOutputFile();
      } else {
        m_memberCursor += step;
        m_archiveSize += step;
        m_bytesWritten += length;
        m_expectedSize = m_bytesWritten;
      }
    } else {
      // No further member: the archive is the members walked.
      m_expectedSize = m_archiveSize;
      if (m_expectedSize == 0) DiscardOutputFile();
      ended = true;
    }
  } else {
    m_bytesWritten += length;
    m_expectedSize = m_bytesWritten;
  }
  m_memberCursor -= length;
  WriteOutput(buffer, length, errorFlag);

  return EndOfStrip(ended, complete);
}

uint32_t CTypeRecoveryTAR::SaveProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::SaveProgress(file) == 0) return 0;
  if (m_fileInProgress == 0) return 1;
  return WriteU64(file, m_memberCursor) && WriteU64(file, m_archiveSize) ? 1 : 0;
}

uint32_t CTypeRecoveryTAR::LoadProgress(TypeRecoveryFile file) {
  if (CTypeRecovery::LoadProgress(file) == 0) return 0;
  if (m_fileInProgress == 0) return 1;
  return ReadU64(file, &m_memberCursor) && ReadU64(file, &m_archiveSize) ? 1 : 0;
}

CTypeRecovery* CTypeRecoveryTAR::Clone() { return CloneRecognizer(this, m_host, m_outputPath); }

TYPERECOVERY_REGISTER_RECOGNIZER(CTypeRecoveryTAR)
