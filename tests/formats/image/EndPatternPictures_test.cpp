#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::Padded;
using trtest::ShortStripRun;

constexpr uint32_t kWmf = 1567, kPcb = 1563, kGjd = 1565;

// A placeable metafile: 22-byte placeable header, 18-byte metafile header,
// one record of 5 words, the end-of-file record.
Bytes Wmf() {
  Bytes b{0xD7, 0xCD, 0xC6, 0x9A};
  b.U16LE(0).U16LE(1).U16LE(0).U16LE(1000).U16LE(800).U16LE(1440).U32LE(0).U16LE(0x1234);
  b.U16LE(1).U16LE(9).U16LE(0x300).U32LE(60).U16LE(1).U32LE(5).U16LE(0);
  b.U32LE(5).U16LE(0x20B).U16LE(10).U16LE(20);
  return b.U32LE(3).U16LE(0);
}

TEST(Wmf, PlaceableHeaderHoldingTheEndBytesEndsTheFileRightAfterThem) {
  // Bounding box left 3, top 0, right 0: the bytes 03 00 00 00 00 00 at 6.
  Bytes wmf{0xD7, 0xCD, 0xC6, 0x9A};
  wmf.U16LE(0).U16LE(3).U16LE(0).U16LE(0).U16LE(800).Zeros(100);
  const auto reports = ShortStripRun(kWmf, Padded(wmf, 600), 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 12u);
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Wmf, FileWithoutItsEndRecordRunsToTheMaximumIncomplete) {
  Bytes wmf = Wmf();
  wmf.vec().resize(wmf.size() - 6);
  wmf.Fill(3000, 0x55);
  const auto reports = ShortStripRun({kWmf, 1024}, wmf, 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
}

Bytes Pcb() {
  Bytes b{'P', 'C', 'B', ' '};
  return b.Text("FILE 6\r\nCOMP U1 DIP14\r\nPIN 1 0 0\r\n").Fill(500, 'x').Text("\r\n");
}

TEST(Pcb, EndcompTakesTheTwoLineEndBytesThatFollowIt) {
  for (const auto& [tail, taken] :
       {std::pair<std::string, size_t>{"\r\n", 9}, {"\n\r", 9}, {"\n", 9}, {" x", 7}}) {
    Bytes pcb = Pcb();
    const size_t before = pcb.size();
    pcb.Text("ENDCOMP" + tail).Text("zzzz");
    const auto reports = ShortStripRun(kPcb, Padded(pcb, 600), 512, 512, 512);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].size, before + taken);
    EXPECT_EQ(reports[0].complete, 1u);
  }
}

TEST(Pcb, FileThatReachesItsMaximumIsReportedComplete) {
  Bytes pcb = Pcb();
  pcb.Fill(3000, 'y');
  const auto reports = ShortStripRun({kPcb, 1536}, pcb, 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1536u);
  EXPECT_EQ(reports[0].complete, 1u);
}

Bytes Gjd(size_t data) {
  Bytes b{'F', 'X', 0xB4, 0x00};
  return b.Fill(data, 0x3C).Fill(8, 0xFF).Zeros(88);
}

TEST(Gjd, ClosingPatternEndsTheFileAfterIt) {
  // The pattern starts 40 bytes before a strip end: the lookahead must hold
  // its last 56 bytes.
  const Bytes gjd = Gjd(512 - 4 - 40);
  const auto found = ShortStripRun(kGjd, Padded(gjd, 900), 512, 512, 56);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].size, gjd.size());
  EXPECT_EQ(found[0].complete, 1u);

  // Nine 0xFF bytes before the zeros: the pattern starts at the second one.
  Bytes longer{'F', 'X', 0xB4, 0x00};
  longer.Fill(300, 0x3C).Fill(9, 0xFF).Zeros(88);
  const auto reports = ShortStripRun(kGjd, Padded(longer, 900), 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, longer.size());
}

TEST(Gjd, FileThatReachesItsMaximumIsReportedComplete) {
  Bytes gjd{'F', 'X', 0xB4, 0x00};
  gjd.Fill(3000, 0x3C);
  const auto reports = ShortStripRun({kGjd, 2048}, gjd, 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 1u);
}

}  // namespace
