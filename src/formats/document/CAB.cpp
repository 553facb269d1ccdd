// Cabinet header: "MSCF", a reserved word, then cbCabinet, the size of the
// whole cabinet file.
#include "formats/document/CAB.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 17;
constexpr uint64_t kCabinetSizeAt = 8;  // cbCabinet

}  // namespace

CTypeRecoveryCAB::CTypeRecoveryCAB(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecoveryCAB(kTypeCode, host, outputRoot) {
  SetExtension(u"cab");
}

CTypeRecoveryCAB::CTypeRecoveryCAB(uint32_t typeCode, CTypeRecoveryManager* host,
                                   const char16_t* outputRoot)
    : CFixedSizeCycle(typeCode, host, outputRoot) {
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryCAB::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  return BytesEqual(ByteView(buffer, length), 0, "MSCF") ? kTypeCode : 0;
}

uint64_t CTypeRecoveryCAB::DeclaredSize(const ByteView& header) const {
  return ReadU32LE(header, kCabinetSizeAt);
}

TYPERECOVERY_FORMAT(CTypeRecoveryCAB, {1797}, u".cab", {u"cab"})
