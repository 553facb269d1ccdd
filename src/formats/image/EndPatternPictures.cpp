// The rows of the drawing and design files that close with a byte pattern.
#include "formats/image/EndPatternPictures.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint64_t kMiB = 0x100000;

// ---- Placeable metafile: key, then a zero handle ----
const uint8_t kPlaceableKey[4] = {0xD7, 0xCD, 0xC6, 0x9A};
constexpr uint32_t kPlaceableHandleOffset = 4;
// The end-of-file record: size 3 (words, u32), function 0 (u16).
const uint8_t kWmfEofRecord[6] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
bool IsPlaceableMetafile(const ByteView& s) {
  return BytesEqual(s, 0, kPlaceableKey, sizeof kPlaceableKey) &&
         ReadU16LE(s, kPlaceableHandleOffset) == 0;
}
// Tried while the whole record lies in the strip and its lookahead.
const EndMarker kWmfEnd{kWmfEofRecord, sizeof kWmfEofRecord, sizeof kWmfEofRecord,
                        sizeof kWmfEofRecord - 1, nullptr};
const EndMarkerFormat kWmf{1567, u"wmf", 50 * kMiB, 17, IsPlaceableMetafile, kWmfEnd, 0, false};

// ---- Circuit board ----
const char kPcbEnd[] = "ENDCOMP";
constexpr uint32_t kPcbEndLength = 7;
constexpr uint32_t kPcbLineEndLength = 2;  // CR LF or LF CR after the last line
bool IsPcbFile(const ByteView& s) { return BytesEqual(s, 0, "PCB FILE"); }
// Tried while the text and three more bytes lie in the strip and its lookahead.
const EndMarker kPcbEndMarker{reinterpret_cast<const uint8_t*>(kPcbEnd), kPcbEndLength,
                              kPcbEndLength, kPcbEndLength + kPcbLineEndLength, nullptr};
const EndMarkerFormat kPcb{1563, u"pcb", 16 * kMiB, 17, IsPcbFile, kPcbEndMarker, 0, false};

// ---- Design file ----
const uint8_t kGjdMagic[4] = {'F', 'X', 0xB4, 0x00};
constexpr uint32_t kGjdClosingSize = 96;
// Eight 0xFF bytes, then 88 zero bytes.
const uint8_t kGjdClosing[kGjdClosingSize] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
bool IsGjd(const ByteView& s) { return BytesEqual(s, 0, kGjdMagic, sizeof kGjdMagic); }
const EndMarker kGjdEnd{kGjdClosing, kGjdClosingSize, kGjdClosingSize, kGjdClosingSize - 1,
                        nullptr};
const EndMarkerFormat kGjd{1565, u"gjd", 16 * kMiB, 5, IsGjd, kGjdEnd, 0, false};

}  // namespace

CTypeRecoveryWMF::CTypeRecoveryWMF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CEndMarkerCycle(kWmf, host, outputRoot) {}

CTypeRecoveryPCB::CTypeRecoveryPCB(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CEndMarkerCycle(kPcb, host, outputRoot) {}

uint64_t CTypeRecoveryPCB::EndAfterMarker(const ByteView& view, uint64_t p) const {
  const uint8_t next = ReadU8(view, p + kPcbEndLength);
  return p + kPcbEndLength + (next == 0x0A || next == 0x0D ? kPcbLineEndLength : 0);
}

CTypeRecoveryGJD::CTypeRecoveryGJD(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CEndMarkerCycle(kGjd, host, outputRoot) {}

TYPERECOVERY_FORMAT(CTypeRecoveryWMF, {1567}, u".wmf", {u"wmf"})
TYPERECOVERY_FORMAT(CTypeRecoveryPCB, {1563}, u".pcb", {u"pcb"})
TYPERECOVERY_FORMAT(CTypeRecoveryGJD, {1565}, u".gjd", {u"gjd"})
