// MP3 recognizer: MPEG-1, MPEG-2 and MPEG 2.5 audio (layers I, II and III),
// with or without leading ID3v2 tags and with optional trailing APE and
// ID3v1 tags.
//
// A file starts at a strip that begins with an ID3v2 tag or with a frame
// header whose successor header (when readable) repeats its first two bytes.
// The file is followed by its frame chain: each header gives the frame's
// length, and the file ends where the chain breaks, taking an APE tag and an
// ID3v1 tag found there (complete flag 1), or at the end of the strip in
// which it reaches the maximum size (256 MiB by default; complete flag 0).
// Because audio data is full of bytes that look like frame headers, a header
// at a strip start never cuts a file in progress.
//
// Files that do not look like real audio are discarded without a report: no
// frame found behind the ID3v2 tags before file offset 16384, or a chain that
// breaks while no more than 4096 bytes were written before that strip.
//
// State beyond the base: the tag end (file offset where the ID3v2 tags end;
// 0 once frames are walked) and the frame cursor (next frame header, counted
// from the current strip's first byte), whether an ID3v1 tag ends the file
// at that cursor, and the first bytes of a frame or tag that a strip end
// splits (judged when the next strip completes them, so that the walk never
// depends on the lookahead); all are in the progress record while a file is
// in progress. Only the strip plus lookahead is ever read.
#ifndef TYPERECOVERY_FORMATS_MEDIA_MP3_H
#define TYPERECOVERY_FORMATS_MEDIA_MP3_H

#include <cstdint>

#include "framework/cycles/MediaStripCycle.h"
#include "framework/ByteCarry.h"

class CTypeRecoveryMP3 : public CMediaStripCycle {
 public:
  TYPERECOVERY_PROGRESS_FIELDS
  static constexpr uint32_t kMinHeaderLength = 257;     // more than 256 bytes
  static constexpr uint64_t kDefaultMaximum = 0x10000000;  // 256 MiB
  // A file whose audio does not begin by this file offset is not kept.
  static constexpr uint32_t kTagScanLimit = 16384;
  // A chain that breaks this early (bytes written before the strip) is noise.
  static constexpr uint64_t kShortestFile = 4096;
  static constexpr uint32_t kId3v1Size = 128;

  CTypeRecoveryMP3(CTypeRecoveryManager* host, const char16_t* outputRoot);

  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification) override;
  CTypeRecovery* Clone() override;

  // Length in bytes of the frame whose 4-byte header begins the view (byte 0
  // being 0xFF is the caller's check), or 0 when the header is not valid.
  // With checkNext, a readable successor header must repeat bytes 0 and 1.
  static uint32_t FrameLength(const typerecovery::ByteView& frame, bool checkNext);
  // Size of the ID3v2 tag that begins the view (header, body and footer), or
  // 0 when it is not a tag of version 2.2 to 2.4, revision 0.
  static uint32_t Id3v2TagSize(const typerecovery::ByteView& tag);

  uint32_t GetTagEnd() const { return m_tagEnd; }
  uint32_t GetFrameCursor() const { return m_frameCursor; }

 protected:
  bool StartFile(const Strip& strip) override;
  Walk WalkStrip(const Strip& strip) override;

 private:
  // Tag mode: looks for the first frame behind the ID3v2 tags. Answers true
  // when one was found in this strip (the walk goes on in frame mode).
  bool FindFirstFrame(const Strip& strip);
  Walk WalkFrames(const Strip& strip);
  // What stands at a position of the frame chain, judged from its first
  // kJudgedBytes bytes: a frame or an APE tag (and its length), an ID3v1
  // tag, or the end of the chain (length: the zero byte kept, 0 or 1).
  struct Step {
    enum Kind { kFrame, kApeTag, kId3v1, kEnd } kind;
    uint32_t length;
  };
  static constexpr uint32_t kJudgedBytes = 16;
  Step Judge(const typerecovery::ByteView& at) const;

  uint32_t m_tagEnd;
  uint32_t m_frameCursor;
  // An ID3v1 tag that began in an earlier strip ends the file at the frame
  // cursor (kept in the progress record: the bytes there are the tag's last,
  // which the walk must not judge again).
  bool m_endAtCursor;
  // The first bytes of a position whose judgement a strip end splits: kept
  // (and held back from the output) until the next strip completes them.
  typerecovery::ByteCarry<kJudgedBytes> m_split;
  uint8_t m_held[kJudgedBytes];
};

#endif
