// 7-Zip start header: signature, version, start-header CRC, then the next
// header's offset (from the end of the start header) and size.
#include "formats/document/7Z.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

const uint8_t kSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
constexpr uint64_t kNextHeaderOffsetAt = 12;
constexpr uint64_t kNextHeaderSizeAt = 20;
constexpr uint64_t kStartHeaderSize = 32;

}  // namespace

// A size that wraps to zero is no archive.
bool CTypeRecovery7Z::Matches(const ByteView& header) {
  return BytesEqual(header, 0, kSignature, sizeof kSignature) && Size(header) != 0;
}

uint64_t CTypeRecovery7Z::Size(const ByteView& header) {
  return ReadU64LE(header, kNextHeaderOffsetAt) + ReadU64LE(header, kNextHeaderSizeAt) +
         kStartHeaderSize;
}

TYPERECOVERY_FORMAT(CTypeRecovery7Z, {1795}, u".7z", {u"7z"})
