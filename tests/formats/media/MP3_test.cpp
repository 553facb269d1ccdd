// MP3 recognizer: frame lengths, the header test, ID3v2 tags, the frame walk
// with its APE and ID3v1 tails, the discard rules and the maximum size.
#include "formats/media/MP3.h"

#include <gtest/gtest.h>

#include "interface/Manager.h"
#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;
using typerecovery::ByteView;

constexpr uint32_t kMP3 = 769;

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz: 417 bytes, 418 with padding.
constexpr uint8_t kProtected = 0xFA;  // protection bit 0: a CRC follows
constexpr uint8_t kUnprotected = 0xFB;

Bytes& Frame(Bytes& out, bool padded = false, uint8_t b1 = kUnprotected) {
  out.U8(0xFF).U8(b1).U8(padded ? 0x92 : 0x90).U8(0x64);
  return out.Fill((padded ? 418 : 417) - 4, 0x55);
}

Bytes Frames(int count) {
  Bytes b;
  for (int i = 0; i < count; ++i) Frame(b, i % 3 == 2);
  return b;
}

size_t FramesSize(int count) {
  size_t size = 0;
  for (int i = 0; i < count; ++i) size += i % 3 == 2 ? 418 : 417;
  return size;
}

Bytes Id3v2(uint8_t version, uint32_t bodySize, uint8_t flags = 0, uint8_t revision = 0) {
  Bytes b;
  b.Text("ID3").U8(version).U8(revision).U8(flags);
  for (int shift = 21; shift >= 0; shift -= 7) b.U8((bodySize >> shift) & 0x7F);
  return b.Fill(bodySize, 0x20);
}

Bytes Id3v1() {
  Bytes b;
  return b.Text("TAG").Text("Title").PadTo(128, 0x20);
}

uint32_t LengthOf(std::initializer_list<uint8_t> header, bool checkNext = false) {
  std::vector<uint8_t> bytes(header);
  return CTypeRecoveryMP3::FrameLength(ByteView(bytes.data(), bytes.size()), checkNext);
}

TEST(Mp3, FrameLengthsOfEveryVersionAndLayer) {
  EXPECT_EQ(LengthOf({0xFF, 0xFB, 0x90, 0}), 417u);   // MPEG-1 III 128k 44.1k
  EXPECT_EQ(LengthOf({0xFF, 0xFB, 0x92, 0}), 418u);   // padded
  EXPECT_EQ(LengthOf({0xFF, 0xFB, 0xE4, 0}), 960u);   // MPEG-1 III 320k 48k
  EXPECT_EQ(LengthOf({0xFF, 0xFD, 0xA4, 0}), 576u);   // MPEG-1 II 192k 48k
  EXPECT_EQ(LengthOf({0xFF, 0xFF, 0xC0, 0}), 416u);   // MPEG-1 I 384k 44.1k
  EXPECT_EQ(LengthOf({0xFF, 0xFF, 0xC2, 0}), 420u);   // Layer I padding is 4 bytes
  EXPECT_EQ(LengthOf({0xFF, 0xF3, 0x80, 0}), 208u);   // MPEG-2 III 64k 22.05k
  EXPECT_EQ(LengthOf({0xFF, 0xF5, 0x80, 0}), 417u);   // MPEG-2 II 64k 22.05k
  EXPECT_EQ(LengthOf({0xFF, 0xF7, 0x84, 0}), 256u);   // MPEG-2 I 128k 24k
  EXPECT_EQ(LengthOf({0xFF, 0xE3, 0x18, 0}), 72u);    // MPEG 2.5 III 8k 8k
  EXPECT_EQ(LengthOf({0xFF, 0xEB, 0x90, 0}), 0u);     // reserved version
  EXPECT_EQ(LengthOf({0xFF, 0xF9, 0x90, 0}), 0u);     // reserved layer
  EXPECT_EQ(LengthOf({0xFF, 0xFB, 0x00, 0}), 0u);     // free format
  EXPECT_EQ(LengthOf({0xFF, 0xFB, 0xF0, 0}), 0u);     // bitrate index 15
  EXPECT_EQ(LengthOf({0xFF, 0xFB, 0x9C, 0}), 0u);     // sampling index 3
  EXPECT_EQ(LengthOf({0xFF, 0xDB, 0x90, 0}), 0u);     // sync incomplete
  EXPECT_EQ(LengthOf({0xFF, 0xFB}), 0u);              // header not readable
}

TEST(Mp3, ProtectionBitDifferenceFailsTheTestButNotTheWalk) {
  Bytes pair;
  Frame(pair);
  Frame(pair, false, kProtected);
  const ByteView view(pair.data(), pair.size());
  EXPECT_EQ(CTypeRecoveryMP3::FrameLength(view, true), 0u);
  EXPECT_EQ(CTypeRecoveryMP3::FrameLength(view, false), 417u);

  CTypeRecoveryMP3 mp3(nullptr, nullptr);
  EXPECT_EQ(mp3.IsHeaderMatched(pair.data(), static_cast<uint32_t>(pair.size()), 0), 0u);

  // Inside a file the chain goes on over the differing frame.
  Bytes file = Frames(6);
  Frame(file, false, kProtected);
  file.Raw(Frames(6)).Zeros(1024);
  Scan scan({kMP3});
  scan.Feed(file, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, FramesSize(6) + 417 + FramesSize(6) + 1);
}

TEST(Mp3, HeaderNeedsMoreThan256Bytes) {
  Bytes b = Frames(2);
  CTypeRecoveryMP3 mp3(nullptr, nullptr);
  EXPECT_EQ(mp3.IsHeaderMatched(b.data(), 256, 0), 0u);
  EXPECT_EQ(mp3.IsHeaderMatched(b.data(), 257, 0), kMP3);  // successor not readable: unchecked
  Bytes short72;  // MPEG 2.5 frames of 72 bytes: the successor is checked
  for (int i = 0; i < 4; ++i) short72.U8(0xFF).U8(0xE3).U8(0x18).U8(0).Fill(68, 0);
  EXPECT_EQ(mp3.IsHeaderMatched(short72.data(), 257, 0), kMP3);
  short72.vec()[72] = 0x00;
  EXPECT_EQ(mp3.IsHeaderMatched(short72.data(), 257, 0), 0u);
  EXPECT_EQ(mp3.IsHeaderMatched(nullptr, 1000, 0), 0u);
}

TEST(Mp3, Id3v2VersionRevisionAndFooter) {
  CTypeRecoveryMP3 mp3(nullptr, nullptr);
  for (uint8_t version : {2, 3, 4}) {
    Bytes tag = Id3v2(version, 300);
    EXPECT_EQ(mp3.IsHeaderMatched(tag.data(), 310, 0), kMP3) << int(version);
    EXPECT_EQ(CTypeRecoveryMP3::Id3v2TagSize(ByteView(tag.data(), tag.size())), 310u);
  }
  Bytes v5 = Id3v2(5, 300), rev1 = Id3v2(3, 300, 0, 1), v1 = Id3v2(1, 300);
  EXPECT_EQ(mp3.IsHeaderMatched(v5.data(), 310, 0), 0u);
  EXPECT_EQ(mp3.IsHeaderMatched(rev1.data(), 310, 0), 0u);
  EXPECT_EQ(mp3.IsHeaderMatched(v1.data(), 310, 0), 0u);
  // The size is syncsafe: 7 bits a byte. A footer counts in version 4 only.
  Bytes big = Id3v2(4, 0x3FFF, 0x10);
  EXPECT_EQ(CTypeRecoveryMP3::Id3v2TagSize(ByteView(big.data(), big.size())), 0x3FFFu + 20);
  Bytes v3footer = Id3v2(3, 0x3FFF, 0x10);
  EXPECT_EQ(CTypeRecoveryMP3::Id3v2TagSize(ByteView(v3footer.data(), v3footer.size())), 0x3FFFu + 10);
}

TEST(Mp3, Id3v1TagIsTakenWhateverTheStrips) {
  Bytes file = Frames(20);
  file.Raw(Id3v1());
  const size_t size = file.size();
  file.Fill(2000, 0x66);
  for (uint32_t strip : {512u, 1000u, 4096u, 8192u}) {
    Scan scan({kMP3});
    scan.Feed(file, strip, 64);
    ASSERT_EQ(scan.log.reports.size(), 1u) << strip;
    EXPECT_EQ(scan.log.reports[0].size, size) << strip;
    EXPECT_EQ(scan.log.reports[0].complete, 1u) << strip;
  }
}

TEST(Mp3, ApeTagAndId3v1TagAreBothTaken) {
  Bytes file = Frames(20);
  // APE tag header (32 bytes), then items and footer counted by its size.
  Bytes ape;
  ape.Text("APETAGEX").U32LE(2000).U32LE(100).U32LE(1).U32LE(0xA0000000).Zeros(8);
  ape.Fill(100 - 32, 0x41).Text("APETAGEX").PadTo(132, 0);
  file.Raw(ape).Raw(Id3v1());
  const size_t size = file.size();
  file.Fill(1000, 0x66);
  for (uint32_t strip : {512u, 8192u}) {
    trtest::TempDir dir;
    {
      Scan scan({kMP3}, &dir);
      scan.Feed(file, strip, 64);
    }
    ASSERT_EQ(dir.Files(), std::vector<std::string>{"mp3/00000.mp3"});
    EXPECT_EQ(dir.Read("mp3/00000.mp3"), std::vector<uint8_t>(file.data(), file.data() + size));
  }
}

TEST(Mp3, OneTrailingZeroByteIsKept) {
  Bytes file = Frames(15);
  file.Zeros(2000);
  Scan scan({kMP3});
  scan.Feed(file, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, FramesSize(15) + 1);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
}

TEST(Mp3, ChainBreakingBeforeMoreThan4096BytesIsDiscarded) {
  // Strips of 512: 11 frames break in the strip after 4096 bytes (discarded),
  // 12 frames in the strip after 4608 bytes (kept).
  for (int count : {11, 12}) {
    Bytes file = Frames(count);
    file.Fill(2000, 0x66);
    trtest::TempDir dir;
    Scan folder({kMP3}, &dir);
    folder.Feed(file, 512, 64);
    Scan report({kMP3});
    report.Feed(file, 512, 64);
    EXPECT_EQ(dir.Files().size(), count == 11 ? 0u : 1u) << count;
    EXPECT_EQ(report.log.reports.size(), count == 11 ? 0u : 1u) << count;
  }
}

TEST(Mp3, TagsThenFramesAndChainedTags) {
  Bytes file = Id3v2(4, 1000, 0x10);
  file.Fill(10, 0x33);  // the footer
  file.Raw(Id3v2(3, 500)).Raw(Frames(20)).Raw(Id3v1());
  const size_t size = file.size();
  file.Fill(1000, 0x66);
  Scan scan({kMP3});
  scan.Feed(file, 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, size);
}

TEST(Mp3, NoFrameBehindTheTagBeforeOffset16384IsDiscarded) {
  Bytes file = Id3v2(3, 2000);
  file.Fill(20000, 0x66).Raw(Frames(20));
  trtest::TempDir dir;
  Scan scan({kMP3}, &dir);
  scan.Feed(file, 512, 64);
  EXPECT_TRUE(dir.Files().empty());
  EXPECT_EQ(scan.manager()->m_actives.GetCount(), 0);
}

TEST(Mp3, HeaderAtAStripStartNeverCutsAFile) {
  // Strips of one frame each: every strip begins with a frame header.
  Bytes file;
  for (int i = 0; i < 30; ++i) Frame(file);
  file.Raw(Id3v1()).Fill(417 * 2, 0x66);
  Scan scan({kMP3});
  EXPECT_EQ(scan.Feed(file, 417, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 30u * 417 + 128);
}

TEST(Mp3, MaximumSizeEndsTheFileAtTheStripEnd) {
  EXPECT_EQ(CTypeRecoveryMP3(nullptr, nullptr).GetMaxFileSize(), 268435456u);
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, kMP3, 5000);
  trtest::FeedImage(m, Frames(40), 512, 64);
  TypeRecovery_CloseManager(m);
  ASSERT_EQ(log.reports.size(), 1u);
  EXPECT_EQ(log.reports[0].size, 5120u);
  EXPECT_EQ(log.reports[0].complete, 0u);
}

TEST(Mp3, ProgressKeepsTagEndAndFrameCursor) {
  Bytes file = Id3v2(3, 600);
  file.Raw(Frames(30)).Raw(Id3v1());
  const size_t size = file.size();
  file.Fill(1000, 0x66);
  for (size_t stopAt : {512u, 4096u}) {
    const std::vector<trtest::Report> resumed = trtest::ResumedRun({kMP3}, file, 512, 64, stopAt);
    ASSERT_EQ(resumed.size(), 1u) << stopAt;
    EXPECT_EQ(resumed[0].size, size) << stopAt;
  }
  Scan scan({kMP3});
  scan.Strip(file, 0, 512, 64);
  const std::vector<uint8_t> saved = trtest::SavedProgress(scan.manager());
  ASSERT_EQ(saved.size(), 60u + 8 + 4);
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 60, saved.begin() + 64),
            (std::vector<uint8_t>{0x62, 0x02, 0, 0}));  // tag end 610: no frame yet
}

}  // namespace
