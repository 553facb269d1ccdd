// Shell-link header test and part walk.
#include "formats/document/LNK.h"

#include "platform/FileSystem.h"
#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 77;
constexpr uint32_t kHeaderSizeValue = 0x4C;  // HeaderSize
const uint8_t kLinkClassId[] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint64_t kLinkClassIdAt = 4;
constexpr uint64_t kLinkFlagsAt = 20;
constexpr uint64_t kReservedAt = 66;  // ten reserved bytes, all zero
constexpr uint64_t kReservedSize = 10;

constexpr uint32_t kIsUnicode = 0x00000080;  // counted strings hold UTF-16 units
constexpr uint64_t kMaximumSize = 0x100000;  // 1 MiB

// Header codes that do not end a shortcut: none, its own, and an MP3 frame
// only when the strip begins with the sync byte (MP3 frames are found
// everywhere inside data).
constexpr uint32_t kMp3TypeCode = 769;
constexpr uint8_t kFrameSyncByte = 0xFF;

enum class PartKind {
  Sized16,        // u16 n, then n bytes
  LinkInfo,       // u32 n counting itself; 0 is broken
  CountedString,  // u16 character count, in bytes or UTF-16 units
  ExtraData,      // u32 block size per block, until a terminal block of size 0
};

struct LinkPart {
  uint16_t pending;    // bit in the pending-parts mask
  uint32_t linkFlag;   // the header's flag that announces the part (0: always)
  PartKind kind;
  uint64_t margin;     // bytes the next part's size field needs
};

// In the order the parts follow the header.
const LinkPart kParts[] = {
    {0x0080, 0x00000001, PartKind::Sized16, 4},        // LinkTargetIDList
    {0x0040, 0x00000002, PartKind::LinkInfo, 2},       // LinkInfo
    {0x0020, 0x00000004, PartKind::CountedString, 2},  // NAME_STRING
    {0x0010, 0x00000008, PartKind::CountedString, 2},  // RELATIVE_PATH
    {0x0008, 0x00000010, PartKind::CountedString, 2},  // WORKING_DIR
    {0x0004, 0x00000020, PartKind::CountedString, 2},  // COMMAND_LINE_ARGUMENTS
    {0x0002, 0x00000040, PartKind::CountedString, 2},  // ICON_LOCATION
    {0x0001, 0x00000800, PartKind::Sized16, 2},
    {0x8000, 0x00001000, PartKind::Sized16, 4},
    {0x4000, 0, PartKind::ExtraData, 8},               // ExtraData blocks
};

constexpr uint64_t kWalkNeeds = 8;  // a part is read only with more than 8 bytes left

}  // namespace

CTypeRecoveryLNK::CTypeRecoveryLNK(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot),
      m_sizeSoFar(kHeaderSize),
      m_partCursor(kHeaderSize),
      m_linkFlags(0),
      m_pendingParts(kAllParts) {
  SetExtension(u"lnk");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryLNK::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView v(buffer, length);
  if (ReadU32LE(v, 0) != kHeaderSizeValue) return 0;
  if (!BytesEqual(v, kLinkClassIdAt, kLinkClassId, sizeof kLinkClassId)) return 0;
  for (uint64_t i = 0; i < kReservedSize; ++i) {
    if (ReadU8(v, kReservedAt + i) != 0) return 0;
  }
  return kTypeCode;
}

bool CTypeRecoveryLNK::WalkParts(const ByteView& view) {
  const uint64_t limit = view.size;
  while (m_pendingParts != 0 && m_partCursor < limit && limit - m_partCursor > kWalkNeeds) {
    for (const LinkPart& part : kParts) {
      if ((m_pendingParts & part.pending) == 0) continue;
      if (part.kind == PartKind::ExtraData) {
        // One block per pass; the terminal block's own 4 bytes are not counted.
        const uint32_t blockSize = ReadU32LE(view, m_partCursor);
        if (blockSize == 0) {
          m_pendingParts = 0;
        } else {
          m_sizeSoFar += blockSize;
          m_partCursor += blockSize;
        }
      } else {
        m_pendingParts = static_cast<uint16_t>(m_pendingParts & ~part.pending);
        if ((m_linkFlags & part.linkFlag) != 0) {
          switch (part.kind) {
            case PartKind::Sized16: {
              const uint64_t n = ReadU16LE(view, m_partCursor);
              m_sizeSoFar += n + 2;
              m_partCursor += n + 2;
              break;
            }
            case PartKind::CountedString: {
              const uint64_t units = ReadU16LE(view, m_partCursor);
              const uint64_t n = (m_linkFlags & kIsUnicode) != 0 ? 2 * units : units;
              m_sizeSoFar += n + 2;
              m_partCursor += n + 2;
              break;
            }
            case PartKind::LinkInfo: {
              const uint64_t n = ReadU32LE(view, m_partCursor);
              if (n == 0) return false;
              m_sizeSoFar += n + 4;
              m_partCursor += n;
              break;
            }
            case PartKind::ExtraData:
              break;
          }
        }
      }
      // The next part's size field is not readable here: back to the loop
      // test, which leaves it for the next strip.
      if (m_partCursor >= limit || limit - m_partCursor <= part.margin) break;
    }
  }
  return true;
}

uint32_t CTypeRecoveryLNK::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t lookahead, uint32_t headerTypeCode,
                                   uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  const ByteView view(buffer, uint64_t{length} + lookahead);
  uint32_t count = 0;

  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    BeginFile(stripPosition, errorFlag);
    m_expectedSize = kHeaderSize;
    m_sizeSoFar = m_partCursor = kHeaderSize;
    m_linkFlags = ReadU32LE(view, kLinkFlagsAt);
    m_pendingParts = kAllParts;
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  // Another format begins here: the shortcut ended before this strip.
  const bool weakMp3 = headerTypeCode == kMp3TypeCode && ReadU8(view, 0) == kFrameSyncByte;
  if (headerTypeCode != 0 && headerTypeCode != kTypeCode && !weakMp3) {
    m_expectedSize = m_bytesWritten;
    return count + EndFile(0);
  }

  uint32_t complete = 1;
  bool ended = false;
  if (!WalkParts(view)) {
    // A zero link-info size: the strip is taken whole and the file cut; its
    // expected size stays as it stood.
    complete = 0;
    ended = true;
  }
  const uint64_t before = m_bytesWritten;
  m_partCursor -= length;
  m_bytesWritten += length;
  uint64_t part = length;
  if (!ended && m_pendingParts == 0 && m_bytesWritten > m_sizeSoFar) {
    part = m_sizeSoFar - before;
    m_bytesWritten = m_sizeSoFar;
    m_expectedSize = m_sizeSoFar;
    ended = true;
  }
  WriteOutput(buffer, static_cast<uint32_t>(part), errorFlag);
  return count + EndOfStrip(ended, complete);
}

void CTypeRecoveryLNK::ProgressFields(ProgressRecord& record) {
  record.FileFields()(m_sizeSoFar)(m_partCursor)(m_linkFlags)(m_pendingParts);
}

TYPERECOVERY_FORMAT(CTypeRecoveryLNK, {2309}, u".lnk", {u"lnk"})
