// 7-Zip start header: signature, version, start-header CRC, then the next
// header's offset (from the end of the start header) and size.
#include "formats/document/7Z.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

const uint8_t kSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint32_t kMinimumLength = 37;
constexpr uint64_t kNextHeaderOffsetAt = 12;
constexpr uint64_t kNextHeaderSizeAt = 20;
constexpr uint64_t kStartHeaderSize = 32;

uint64_t ArchiveSize(const ByteView& header) {
  return ReadU64LE(header, kNextHeaderOffsetAt) + ReadU64LE(header, kNextHeaderSizeAt) +
         kStartHeaderSize;
}

}  // namespace

CTypeRecovery7Z::CTypeRecovery7Z(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CFixedSizeCycle(kTypeCode, host, outputRoot) {
  SetExtension(u"7z");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecovery7Z::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  const ByteView view(buffer, length);
  if (buffer == nullptr || length < kMinimumLength) return 0;
  if (!BytesEqual(view, 0, kSignature, sizeof kSignature)) return 0;
  // A size that wraps to zero is no archive.
  return ArchiveSize(view) != 0 ? kTypeCode : 0;
}

uint64_t CTypeRecovery7Z::DeclaredSize(const ByteView& header) const { return ArchiveSize(header); }

TYPERECOVERY_FORMAT(CTypeRecovery7Z, {1795}, u".7z", {u"7z"})
