// MP3 recognizer: frame lengths, ID3v2 tag sizes, the tag scan and the frame
// walk with its APE and ID3v1 tails.
#include "formats/media/MP3.h"

#include <algorithm>

#include "registry/RecognizerFactory.h"

using typerecovery::ByteView;
using typerecovery::BytesEqual;
using typerecovery::ReadU16LE;
using typerecovery::ReadU8;

namespace {

constexpr uint32_t kMp3Code = 769;
constexpr uint8_t kSyncByte = 0xFF;

// Frame header byte 1: sync (3 bits), version (2), layer (2), protection (1).
constexpr uint8_t kSyncMask = 0xE0;
// Version codes.
[[maybe_unused]] constexpr uint32_t kMpeg25 = 0;
constexpr uint32_t kVersionReserved = 1;
constexpr uint32_t kMpeg1 = 3;
// Layer codes.
constexpr uint32_t kLayerReserved = 0;
constexpr uint32_t kLayer3 = 1;
constexpr uint32_t kLayer2 = 2;
constexpr uint32_t kLayer1 = 3;

// Sampling frequencies in Hz by version code and sampling index.
constexpr uint32_t kFrequency[4][4] = {
    {11025, 12000, 8000, 0},   // MPEG 2.5
    {0, 0, 0, 0},              // reserved
    {22050, 24000, 16000, 0},  // MPEG-2
    {44100, 48000, 32000, 0},  // MPEG-1
};

// Bitrates in kbit/s by bitrate index: MPEG-1 layers I, II, III; MPEG-2 and
// 2.5 layer I, and layers II and III.
constexpr uint32_t kMpeg1Bitrate[3][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
};
constexpr uint32_t kMpeg2Bitrate[2][16] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

// ID3v2 header: "ID3", version, revision, flags, 28-bit syncsafe size.
constexpr uint32_t kId3HeaderSize = 10;
constexpr uint32_t kId3VersionOffset = 3;
constexpr uint32_t kId3RevisionOffset = 4;
constexpr uint32_t kId3FlagsOffset = 5;
constexpr uint32_t kId3SizeOffset = 6;
constexpr uint8_t kId3FooterPresent = 0x10;
constexpr uint32_t kId3FooterSize = 10;
// A further ID3v2.3 tag chained behind the first.
constexpr uint8_t kChainedId3[] = {'I', 'D', '3', 3};

// APE tag header: "APETAGEX", version, then the tag size (items and footer)
// at 12; the 32-byte header itself comes before what the size counts.
constexpr char kApeTag[] = "APETAG";
constexpr uint32_t kApeHeaderSize = 32;
constexpr uint32_t kApeSizeOffset = 12;
constexpr char kId3v1[] = "TAG";

// The tag scan needs this many readable bytes at a frame to accept it.
constexpr uint64_t kFrameSeenBytes = 5;

// A header never cuts a file; the header test sees the lookahead; the size
// is the bytes taken; the maximum size ends a file.
CMediaStripCycle::Rules Mp3Rules() {
  CMediaStripCycle::Rules rules;
  rules.headerCutsFile = false;
  rules.headerTestSeesLookahead = true;
  rules.endsAtMaximumSize = true;
  return rules;
}

uint32_t Bitrate(uint32_t version, uint32_t layer, uint32_t index) {
  if (version == kMpeg1) return kMpeg1Bitrate[kLayer1 - layer][index];
  return kMpeg2Bitrate[layer == kLayer1 ? 0 : 1][index];
}

}  // namespace

CTypeRecoveryMP3::CTypeRecoveryMP3(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CMediaStripCycle(kMp3Code, host, outputRoot, Mp3Rules()),
      m_tagEnd(0),
      m_frameCursor(0),
      m_endAtCursor(false) {
  SetExtension(u"mp3");
  m_maxFileSize = kDefaultMaximum;
}

uint32_t CTypeRecoveryMP3::FrameLength(const ByteView& frame, bool checkNext) {
  if (!frame.Has(0, 3)) return 0;
  const uint8_t b1 = ReadU8(frame, 1);
  const uint8_t b2 = ReadU8(frame, 2);
  if ((b1 & kSyncMask) != kSyncMask) return 0;
  const uint32_t version = (b1 >> 3) & 3;
  const uint32_t layer = (b1 >> 1) & 3;
  const uint32_t bitrateIndex = b2 >> 4;
  const uint32_t samplingIndex = (b2 >> 2) & 3;
  const uint32_t padding = (b2 >> 1) & 1;
  if (version == kVersionReserved || layer == kLayerReserved) return 0;
  const uint32_t frequency = kFrequency[version][samplingIndex];
  const uint32_t bitrate = Bitrate(version, layer, bitrateIndex);
  if (frequency == 0 || bitrate == 0) return 0;

  uint32_t length = 0;
  if (layer == kLayer3) {
    length = (version == kMpeg1 ? 144000 : 72000) * bitrate / frequency + padding;
  } else if (layer == kLayer2) {
    length = 144000 * bitrate / frequency + padding;
  } else {
    length = 4 * (12000 * bitrate / frequency) + 4 * padding;
  }
  // The next frame repeats sync, version, layer and protection bit.
  if (checkNext && frame.Has(length, 2) &&
      (ReadU8(frame, length) != ReadU8(frame, 0) ||
       ReadU8(frame, length + 1) != ReadU8(frame, 1))) {
    return 0;
  }
  return length;
}

uint32_t CTypeRecoveryMP3::Id3v2TagSize(const ByteView& tag) {
  if (!tag.Has(0, kId3HeaderSize) || !BytesEqual(tag, 0, "ID3")) return 0;
  const uint8_t version = ReadU8(tag, kId3VersionOffset);
  if (version < 2 || version > 4 || ReadU8(tag, kId3RevisionOffset) != 0) return 0;
  uint32_t size = 0;
  for (uint32_t i = 0; i < 4; ++i) size = (size << 7) | (ReadU8(tag, kId3SizeOffset + i) & 0x7F);
  size += kId3HeaderSize;
  if (version == 4 && (ReadU8(tag, kId3FlagsOffset) & kId3FooterPresent) != 0) {
    size += kId3FooterSize;
  }
  return size;
}

uint32_t CTypeRecoveryMP3::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinHeaderLength) return 0;
  const ByteView header(buffer, length);
  if (buffer[0] == 'I') return Id3v2TagSize(header) != 0 ? kMp3Code : 0;
  if (buffer[0] == kSyncByte) return FrameLength(header, true) != 0 ? kMp3Code : 0;
  return 0;
}

bool CTypeRecoveryMP3::StartFile(const Strip& strip) {
  const uint8_t first = ReadU8(strip.readable, 0);
  m_tagEnd = first == 'I' ? Id3v2TagSize(strip.readable) : 0;
  m_frameCursor = first == kSyncByte ? FrameLength(strip.readable, true) : 0;
  m_endAtCursor = false;
  m_split.Clear();
  return true;
}

bool CTypeRecoveryMP3::FindFirstFrame(const Strip& strip) {
  for (;;) {
    const uint64_t stripEnd = m_bytesWritten + strip.length;
    if (m_tagEnd >= stripEnd) return false;  // the tags run on past this strip
    uint64_t tagEnd = m_tagEnd < m_bytesWritten ? m_bytesWritten : m_tagEnd;
    uint64_t pos = tagEnd - m_bytesWritten;
    uint32_t frameLength = 0;
    uint32_t chainedTag = 0;
    for (; pos < strip.length; ++pos, ++tagEnd) {
      const ByteView at = strip.readable.From(pos);
      if (ReadU8(at, 0) == kSyncByte && at.size >= kFrameSeenBytes) {
        frameLength = FrameLength(at, true);
        if (frameLength != 0) break;
      }
      if (BytesEqual(at, 0, kChainedId3, sizeof kChainedId3)) {
        chainedTag = Id3v2TagSize(at);
        if (chainedTag != 0) break;
      }
    }
    if (frameLength != 0) {
      m_frameCursor = static_cast<uint32_t>(pos + frameLength);
      m_tagEnd = 0;
      return true;
    }
    tagEnd += chainedTag;
    if (tagEnd > UINT32_MAX || (chainedTag == 0 && tagEnd >= kTagScanLimit)) {
      // No audio frame behind the tags in time: not an MP3 worth keeping.
      m_tagEnd = 0;
      DiscardOutputFile();
      return false;
    }
    m_tagEnd = static_cast<uint32_t>(tagEnd);
    if (chainedTag == 0) return false;  // the scan goes on in the next strip
  }
}

CTypeRecoveryMP3::Step CTypeRecoveryMP3::Judge(const ByteView& at) const {
  if (ReadU8(at, 0) == kSyncByte) {
    const uint32_t length = FrameLength(at, false);
    if (length != 0) return {Step::kFrame, length};
  }
  // The chain breaks here: tags, or the end of the audio.
  if (BytesEqual(at, 0, kApeTag)) return {Step::kApeTag, kApeHeaderSize + ReadU16LE(at, kApeSizeOffset)};
  if (BytesEqual(at, 0, kId3v1)) return {Step::kId3v1, kId3v1Size};
  // One zero byte behind the last frame is kept.
  return {Step::kEnd, ReadU8(at, 0) == 0 ? 1u : 0u};
}

CMediaStripCycle::Walk CTypeRecoveryMP3::WalkFrames(const Strip& strip) {
  if (m_endAtCursor) {
    // The ID3v1 tag found in an earlier strip ends the file here.
    if (m_frameCursor > strip.length) {
      m_frameCursor -= strip.length;
      return Walk::WholeStrip(strip);
    }
    const uint32_t take = m_frameCursor;
    m_endAtCursor = false;
    m_frameCursor = 0;
    return Walk::EndAt(take);
  }
  Walk walk = Walk::WholeStrip(strip);
  uint64_t cursor = m_frameCursor;
  // Where the walk stands after a tag or frame judged at cursor.
  auto after = [&](const Step& step, uint64_t at, Walk* w) -> bool {
    if (step.kind == Step::kFrame || step.kind == Step::kApeTag) {
      cursor = at + step.length;
      return false;
    }
    if (step.kind == Step::kId3v1) {
      const uint64_t end = at + step.length;
      if (end <= strip.length) {
        w->take = static_cast<uint32_t>(end);
        w->ended = true;
        w->complete = 1;
        m_frameCursor = 0;
      } else {
        m_endAtCursor = true;
        m_frameCursor = static_cast<uint32_t>(end - strip.length);
      }
      return true;
    }
    if (m_bytesWritten <= kShortestFile) DiscardOutputFile();
    w->take = static_cast<uint32_t>(at + step.length);
    w->ended = true;
    w->complete = 1;
    m_frameCursor = 0;
    return true;
  };
  if (!m_split.Empty()) {
    // Bytes that began in an earlier strip: judged with this strip's first.
    const uint32_t earlier = m_split.Size();
    if (!m_split.CompleteFrom(strip.data, strip.length, kJudgedBytes, m_held)) {
      walk.take = 0;
      return walk;
    }
    const Step step = Judge(m_split.View());
    m_split.Clear();
    walk.held = m_held;
    if (step.kind == Step::kEnd) {
      // The file ended where those bytes began (keeping a zero byte).
      walk.heldCount = step.length;
      walk.take = 0;
      walk.ended = true;
      walk.complete = 1;
      if (m_bytesWritten <= kShortestFile) DiscardOutputFile();
      m_frameCursor = 0;
      return walk;
    }
    walk.heldCount = earlier;
    // Positions count from this strip's first byte (modulo 2^64): the judged
    // record began earlier bytes before it.
    if (after(step, uint64_t{0} - earlier, &walk)) return walk;
  }
  while (cursor < strip.length) {
    if (cursor + kJudgedBytes > strip.length) {
      // Judged when the next strip brings the rest; held back until then.
      m_split.Append(strip.data + cursor, strip.length - cursor);
      walk.take = static_cast<uint32_t>(cursor);
      m_frameCursor = 0;
      return walk;
    }
    if (after(Judge(strip.readable.From(cursor)), cursor, &walk)) return walk;
  }
  m_frameCursor = static_cast<uint32_t>(cursor - strip.length);
  return walk;
}

CMediaStripCycle::Walk CTypeRecoveryMP3::WalkStrip(const Strip& strip) {
  if (m_tagEnd != 0 && !FindFirstFrame(strip)) return Walk::WholeStrip(strip);
  return WalkFrames(strip);
}

void CTypeRecoveryMP3::ProgressFields(typerecovery::ProgressRecord& record) {
  if (record.Loading()) {
    m_endAtCursor = false;
    m_split.Clear();
  }
  uint32_t endAtCursor = m_endAtCursor ? 1 : 0;
  record.FileFields()(m_tagEnd)(m_frameCursor)(endAtCursor).Nested(m_split);
  if (record.Loading()) m_endAtCursor = record.FileInProgress() && endAtCursor != 0;
}

TYPERECOVERY_FORMAT(CTypeRecoveryMP3, {769}, u".mp3;.s48", {u"mp3", u"s48"})
