// MP3 recognizer: frame lengths, the header test, ID3v2 tags, the frame walk
// with its APE and ID3v1 tails, the discard rules and the maximum size.
#include "formats/media/MP3.h"

#include <gtest/gtest.h>

#include "interface/Manager.h"
#include "support/Carving.h"

namespace {

using trtest::Bytes;
using typerecovery::ByteView;

constexpr uint32_t kMP3 = 769;

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz: 417 bytes, 418 with padding; with
// protection (0xFA) a CRC would follow.
Bytes& Frame(Bytes& out, bool padded = false, uint8_t b1 = 0xFB) {
  return out.U8(0xFF).U8(b1).U8(padded ? 0x92 : 0x90).U8(0x64).Fill((padded ? 418 : 417) - 4, 0x55);
}

// Frames, every third one padded.
Bytes Frames(int count) {
  Bytes b;
  for (int i = 0; i < count; ++i) Frame(b, i % 3 == 2);
  return b;
}

size_t FramesSize(int count) { return 417 * count + count / 3; }

Bytes Id3v2(uint8_t version, uint32_t bodySize, uint8_t flags = 0, uint8_t revision = 0) {
  Bytes b;
  b.Text("ID3").U8(version).U8(revision).U8(flags);
  for (int shift = 21; shift >= 0; shift -= 7) b.U8((bodySize >> shift) & 0x7F);
  return b.Fill(bodySize, 0x20);
}

Bytes Id3v1() { return Bytes().Text("TAG").Text("Title").PadTo(128, 0x20); }

std::string Size(size_t n) { return "mp3@0+" + std::to_string(n); }

TEST(Mp3, FrameLengthsOfEveryVersionAndLayer) {
  struct Case { uint8_t b1, b2; uint32_t length; const char* what; };
  const Case cases[] = {
      {0xFB, 0x90, 417, "MPEG-1 III 128k 44.1k"}, {0xFB, 0x92, 418, "padded"},
      {0xFB, 0xE4, 960, "MPEG-1 III 320k 48k"},   {0xFD, 0xA4, 576, "MPEG-1 II 192k 48k"},
      {0xFF, 0xC0, 416, "MPEG-1 I 384k 44.1k"},   {0xFF, 0xC2, 420, "Layer I pads 4 bytes"},
      {0xF3, 0x80, 208, "MPEG-2 III 64k 22.05k"}, {0xF5, 0x80, 417, "MPEG-2 II 64k 22.05k"},
      {0xF7, 0x84, 256, "MPEG-2 I 128k 24k"},     {0xE3, 0x18, 72, "MPEG 2.5 III 8k 8k"},
      {0xEB, 0x90, 0, "reserved version"},        {0xF9, 0x90, 0, "reserved layer"},
      {0xFB, 0x00, 0, "free format"},             {0xFB, 0xF0, 0, "bitrate index 15"},
      {0xFB, 0x9C, 0, "sampling index 3"},        {0xDB, 0x90, 0, "sync incomplete"},
  };
  for (const Case& c : cases) {
    const uint8_t header[] = {0xFF, c.b1, c.b2, 0};
    EXPECT_EQ(CTypeRecoveryMP3::FrameLength(ByteView(header, 4), false), c.length) << c.what;
  }
  const uint8_t cut[] = {0xFF, 0xFB};
  EXPECT_EQ(CTypeRecoveryMP3::FrameLength(ByteView(cut, 2), false), 0u);
}

TEST(Mp3, HeaderTest) {
  CTypeRecoveryMP3 mp3(nullptr, nullptr);
  // A successor differing only in the protection bit fails the test.
  Bytes pair;
  Frame(Frame(pair), false, 0xFA);
  EXPECT_EQ(CTypeRecoveryMP3::FrameLength(ByteView(pair.data(), pair.size()), true), 0u);
  EXPECT_EQ(CTypeRecoveryMP3::FrameLength(ByteView(pair.data(), pair.size()), false), 417u);
  EXPECT_EQ(mp3.IsHeaderMatched(pair.data(), static_cast<uint32_t>(pair.size()), 0), 0u);
  // More than 256 bytes; a successor out of reach is not checked.
  const Bytes two = Frames(2);
  EXPECT_EQ(mp3.IsHeaderMatched(two.data(), 256, 0), 0u);
  EXPECT_EQ(mp3.IsHeaderMatched(two.data(), 257, 0), kMP3);
  Bytes short72;  // MPEG 2.5 frames of 72 bytes: the successor is checked
  for (int i = 0; i < 4; ++i) short72.U8(0xFF).U8(0xE3).U8(0x18).U8(0).Fill(68, 0);
  EXPECT_EQ(mp3.IsHeaderMatched(short72.data(), 257, 0), kMP3);
  short72.vec()[72] = 0x00;
  EXPECT_EQ(mp3.IsHeaderMatched(short72.data(), 257, 0), 0u);
  EXPECT_EQ(mp3.IsHeaderMatched(nullptr, 1000, 0), 0u);
  // ID3v2: versions 2 to 4, revision 0; a syncsafe size, a footer in version 4 only.
  for (uint8_t version : {1, 2, 3, 4, 5}) {
    const Bytes tag = Id3v2(version, 300);
    EXPECT_EQ(mp3.IsHeaderMatched(tag.data(), 310, 0), version >= 2 && version <= 4 ? kMP3 : 0u);
  }
  const Bytes revision1 = Id3v2(3, 300, 0, 1), v4footer = Id3v2(4, 0x3FFF, 0x10), v3footer = Id3v2(3, 0x3FFF, 0x10);
  EXPECT_EQ(mp3.IsHeaderMatched(revision1.data(), 310, 0), 0u);
  EXPECT_EQ(CTypeRecoveryMP3::Id3v2TagSize(ByteView(v4footer.data(), v4footer.size())), 0x3FFFu + 20);
  EXPECT_EQ(CTypeRecoveryMP3::Id3v2TagSize(ByteView(v3footer.data(), v3footer.size())), 0x3FFFu + 10);
}

TEST(Mp3, FrameWalkAndTags) {
  Bytes ape;  // APE tag header (32 bytes), items and footer counted by its size
  ape.Text("APETAGEX").U32LE(2000).U32LE(100).U32LE(1).U32LE(0xA0000000).Zeros(8);
  ape.Fill(100 - 32, 0x41).Text("APETAGEX").PadTo(132, 0);
  Bytes protectedFrame;
  Frame(protectedFrame, false, 0xFA);
  Bytes oneFramePerStrip;
  for (int i = 0; i < 30; ++i) Frame(oneFramePerStrip);
  struct Case { const char* what; Bytes file; std::vector<uint32_t> strips; };
  const Case cases[] = {
      {"ID3v1 tail", Frames(20).Raw(Id3v1()), {512, 1000, 4096, 8192}},
      {"APE and ID3v1 tails", Frames(20).Raw(ape).Raw(Id3v1()), {512, 8192}},
      {"tags with a footer, chained, then frames", Id3v2(4, 1000, 0x10).Fill(10, 0x33).Raw(Id3v2(3, 500)).Raw(Frames(20)).Raw(Id3v1()), {512}},
      {"protection bit differing inside the walk", Frames(6).Raw(protectedFrame).Raw(Frames(6)), {512}},
      {"a header at every strip start cuts nothing", oneFramePerStrip.Raw(Id3v1()), {417}},
  };
  // Without lookahead, frames and tags split by a strip end are judged when
  // the next strip completes them: the same files.
  for (const Case& c : cases) {
    for (uint32_t strip : c.strips) {
      for (uint32_t lookahead : {0u, 64u}) {
        EXPECT_EQ(trtest::CarvedSpans({kMP3}, Bytes(c.file).Fill(2000, 0x66), strip, lookahead), Size(c.file.size()))
            << c.what << ", strips of " << strip << ", lookahead " << lookahead;
      }
    }
  }
  // The end of the chain a few bytes before the strip's end, and the zero
  // byte behind it, judged from the next strip: the zero byte is kept.
  const Bytes zeroAfter = Frames(20).Fill(3, 0);
  for (uint32_t before : {1u, 5u, 15u}) {
    const uint32_t first = static_cast<uint32_t>(FramesSize(20)) + before;
    EXPECT_EQ(trtest::Spans(trtest::ShortStripRun({kMP3}, Bytes(zeroAfter).Fill(2000, 0x66), first, 512, 0)),
              Size(FramesSize(20) + 1)) << before;
  }
}

TEST(Mp3, DiscardRulesAndMaximumSize) {
  // Strips of 512: 11 frames break in the strip after 4096 bytes (discarded),
  // 12 frames in the strip after 4608 bytes (kept).
  for (int count : {11, 12}) {
    const std::vector<uint8_t> file = Frames(count).Fill(2000, 0x66);
    EXPECT_EQ(trtest::CarvedFiles({kMP3}, file).size(), count == 11 ? 0u : 1u) << count;
    EXPECT_EQ(trtest::CarvedSpans({kMP3}, file), count == 11 ? "" : Size(FramesSize(12))) << count;
  }
  // No frame behind the tag before offset 16384.
  trtest::TempDir dir;
  trtest::Scan scan({kMP3}, &dir);
  scan.Feed(Id3v2(3, 2000).Fill(20000, 0x66).Raw(Frames(20)), 512, 64);
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_EQ(scan.manager()->m_actives.GetCount(), 0);
  // The maximum size ends the file at the strip end.
  EXPECT_EQ(CTypeRecoveryMP3(nullptr, nullptr).GetMaxFileSize(), 268435456u);
  EXPECT_EQ(trtest::CarvedSpans({{kMP3, 5000}}, Frames(40)), "mp3@0+5120~");
}

TEST(Mp3, ProgressKeepsTagEndAndFrameCursor) {
  const Bytes tagged = Id3v2(3, 600).Raw(Frames(30)).Raw(Id3v1());
  const std::vector<uint8_t> file = Bytes(tagged).Fill(1000, 0x66);
  for (size_t stopAt : {512u, 4096u}) {
    EXPECT_EQ(trtest::Spans(trtest::ResumedRun({kMP3}, file, 512, 64, stopAt)), Size(tagged.size())) << stopAt;
  }
  trtest::Scan scan({kMP3});
  scan.Strip(file, 0, 512, 64);
  const std::vector<uint8_t> saved = trtest::SavedProgress(scan.manager());
  ASSERT_EQ(saved.size(), 60u + 16 + 4);  // tag end, frame cursor, ID3v1 flag, split bytes
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 60, saved.begin() + 64),
            (std::vector<uint8_t>{0x62, 0x02, 0, 0}));  // tag end 610: no frame yet
}

}  // namespace
