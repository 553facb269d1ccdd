// MPEG program-stream recognizer: start codes, end codes and foreign headers.
#include "formats/media/MPG.h"

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 17;
const uint8_t kStartCodePrefix[] = {0x00, 0x00, 0x01};
constexpr uint64_t kStartCodeAt = 3;
constexpr uint8_t kPackHeader = 0xBA;
constexpr uint8_t kSystemHeader = 0xBB;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtension = 0xB5;
constexpr uint8_t kSequenceExtensionId = 0x8;
constexpr uint64_t kMaximumSize = 0x100000000;  // 4 GiB

// The program end code, and what must stand right before it for the stream
// to end there: stuffing, or the video sequence end code.
const uint8_t kProgramEndCode[] = {0x00, 0x00, 0x01, 0xB9};
const uint8_t kStuffing[] = {0xFF, 0xFF, 0xFF, 0xFF};
const uint8_t kSequenceEndCode[] = {0x00, 0x00, 0x01, 0xB7};
constexpr uint64_t kEndPatternBytes = 8;

// Headers that occur inside program streams and so do not end one.
constexpr uint32_t kMp3Code = 769, kIcoCode = 1540, kSwfCode = 1283, kMtsCode = 1035;
constexpr uint8_t kFrameSyncByte = 0xFF;

bool IsForeignHeader(uint32_t code, uint8_t firstByte) {
  if (code == 0 || code == CTypeRecoveryMPG::kTypeCode) return false;
  if (code == kMp3Code && firstByte == kFrameSyncByte) return false;
  return code != kIcoCode && code != kSwfCode && code != kMtsCode;
}

CMediaStripCycle::Rules ProgramStreamRules() {
  CMediaStripCycle::Rules rules;
  rules.headerCutsFile = false;
  rules.sizeIsBytesTaken = true;
  rules.endsAtMaximumSize = true;
  rules.takeMayReachLookahead = true;
  return rules;
}

}  // namespace

CTypeRecoveryMPG::CTypeRecoveryMPG(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kTypeCode, host, outputRoot, ProgramStreamRules()) {
  SetExtension(u"mpg");
  m_maxFileSize = kMaximumSize;
}

uint32_t CTypeRecoveryMPG::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView header(buffer, length);
  if (!BytesEqual(header, 0, kStartCodePrefix, sizeof kStartCodePrefix)) return 0;
  const uint8_t b4 = ReadU8(header, 4), b5 = ReadU8(header, 5), b6 = ReadU8(header, 6);
  const uint8_t b7 = ReadU8(header, 7), b8 = ReadU8(header, 8);
  bool accepted = false;
  switch (ReadU8(header, kStartCodeAt)) {
    case kPackHeader:  // MPEG-1 '0010' marker, or MPEG-2 '01' with its marker bit
      accepted = (b4 & 0xF1) == 0x21 || (b4 & 0xC4) == 0x44;
      break;
    case kSystemHeader:  // the marker bits around rate_bound
      accepted = (b6 & 0x80) != 0 && (b8 & 0x01) != 0;
      break;
    case kSequenceHeader: {
      const uint32_t horizontal = (uint32_t{b4} << 4) | (b5 >> 4);
      const uint32_t vertical = (static_cast<uint32_t>(b5 & 0x0F) << 8) | b6;
      const uint32_t aspectRatio = b7 >> 4;
      accepted = horizontal != 0 && vertical != 0 && aspectRatio >= 1 && aspectRatio <= 14;
      break;
    }
    case kExtension:
      accepted = (b4 >> 4) == kSequenceExtensionId;
      break;
    default:
      break;
  }
  return accepted ? kTypeCode : 0;
}

bool CTypeRecoveryMPG::StartFile(const Strip&) { return true; }

CMediaStripCycle::Walk CTypeRecoveryMPG::WalkStrip(const Strip& strip) {
  if (IsForeignHeader(strip.headerTypeCode, ReadU8(strip.readable, 0))) {
    return Walk::EndAt(0);  // another format begins here: nothing of this strip
  }
  // End patterns that begin inside the strip and lie wholly before the end
  // of the readable bytes (with one to spare).
  const uint64_t readable = strip.readable.size;
  uint64_t searchEnd = uint64_t{strip.length} + kEndPatternBytes - 1;
  if (readable == 0) return Walk::WholeStrip(strip);
  if (searchEnd > readable - 1) searchEnd = readable - 1;
  uint64_t from = kEndPatternBytes - sizeof kProgramEndCode;
  for (;;) {
    const int64_t hit = FindBytes(strip.readable, from, searchEnd, kProgramEndCode,
                                  sizeof kProgramEndCode);
    if (hit < 0) break;
    const uint64_t start = static_cast<uint64_t>(hit) - sizeof kStuffing;
    if (BytesEqual(strip.readable, start, kStuffing, sizeof kStuffing) ||
        BytesEqual(strip.readable, start, kSequenceEndCode, sizeof kSequenceEndCode)) {
      return Walk::EndAt(static_cast<uint32_t>(start + kEndPatternBytes));
    }
    from = static_cast<uint64_t>(hit) + 1;
  }
  return Walk::WholeStrip(strip);
}

TYPERECOVERY_FORMAT(CTypeRecoveryMPG,
    {1026},
    u".mpg;.mpeg;.vob;.m2v;.h264",
    {u"mpg", u"mpeg", u"vob", u"m2v", u"h264"})
