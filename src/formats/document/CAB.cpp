// Cabinet header: "MSCF", a reserved word, then cbCabinet, the size of the
// whole cabinet file.
#include "formats/document/CAB.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint64_t kCabinetSizeAt = 8;  // cbCabinet

}  // namespace

bool CTypeRecoveryCAB::Matches(const ByteView& header) { return BytesEqual(header, 0, "MSCF"); }

uint64_t CTypeRecoveryCAB::Size(const ByteView& header) { return ReadU32LE(header, kCabinetSizeAt); }

TYPERECOVERY_FORMAT(CTypeRecoveryCAB, {1797}, u".cab", {u"cab"})
