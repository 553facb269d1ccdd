#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::Padded;
using trtest::ShortStripRun;

constexpr uint32_t kCrw = 524, kX3f = 525;

// A CIFF file: 26-byte header, dataSize bytes of heap data described by one
// record, then the closing table. tableShift moves the table's stated offset.
std::vector<uint8_t> Crw(uint32_t dataSize, int32_t tableShift = 0) {
  Bytes b{'I', 'I'};
  b.U32LE(26).Text("HEAPCCDR").U32LE(0x00010002).Zeros(8).Fill(dataSize, 0x31);
  b.U16LE(1).U16LE(0x2005).U32LE(dataSize).U32LE(0).U32LE(dataSize + tableShift);
  return b;
}

TEST(Crw, TableAcrossAStripEndIsFoundWhenTheLookaheadHoldsItsEnd) {
  // The table starts 6 bytes before the strip end and ends 10 bytes after it.
  const std::vector<uint8_t> crw = Crw(1024 - 26 - 6);
  const auto found = ShortStripRun(kCrw, Padded(crw, 2000), 512, 512, 16);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].size, crw.size());
  EXPECT_EQ(found[0].complete, 1u);
  // Without it the table is not seen, and the file runs to its maximum.
  const auto missed = ShortStripRun({kCrw, 2048}, Padded(crw, 2000), 512, 512, 4);
  ASSERT_EQ(missed.size(), 1u);
  EXPECT_EQ(missed[0].size, 2048u);
  EXPECT_EQ(missed[0].complete, 0u);
}

TEST(Crw, TableWhoseOffsetDoesNotPointBackAtItselfIsPassedOver) {
  const auto reports = ShortStripRun({kCrw, 2048}, Padded(Crw(600, 2), 3000), 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);
}

// An X3F file: header, "SECp" at 40, data, and the closing directory of
// entries 12-byte entries and the pointer to it.
std::vector<uint8_t> X3f(size_t secpAt, size_t dataSize, uint32_t entries) {
  Bytes b{'F', 'O', 'V', 'b'};
  b.U32LE(0x00020002).PadTo(secpAt, 0x21).Text("SECp").Fill(dataSize, 0x22);
  const uint32_t directory = static_cast<uint32_t>(b.size());
  b.Text("SECd").U32LE(0x00020000).U32LE(entries);
  for (uint32_t i = 0; i < entries; ++i) b.U32LE(40).U32LE(8).Text("PROP");
  return b.U32LE(directory);
}

TEST(X3f, DirectorySectionEndsTheFileWithItsClosingPointer) {
  const std::vector<uint8_t> x3f = X3f(40, 1500, 3);
  for (uint32_t lookahead : {512u, 64u}) {
    const auto reports = ShortStripRun(kX3f, Padded(x3f, 900), 512, 512, lookahead);
    ASSERT_EQ(reports.size(), 1u) << lookahead;
    EXPECT_EQ(reports[0].size, x3f.size()) << lookahead;
    EXPECT_EQ(reports[0].complete, 1u) << lookahead;
  }
}

TEST(X3f, DirectoryThatDoesNotEndWithinReachIsPassedOver) {
  // A false "SECd" in the data claims a huge directory; the real one follows.
  std::vector<uint8_t> x3f = X3f(40, 1500, 2);
  const uint8_t fake[] = {'S', 'E', 'C', 'd', 0, 0, 2, 0, 0, 0, 0x10, 0};
  std::copy(std::begin(fake), std::end(fake), x3f.begin() + 600);
  const auto reports = ShortStripRun(kX3f, Padded(x3f, 900), 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, x3f.size());
}

TEST(X3f, PropertiesBeyondTheBufferAreNotAHeader) {
  const std::vector<uint8_t> x3f = X3f(600, 100, 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(x3f.data(), 604, u"x3f"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(x3f.data(), 603, u"x3f"), -1);
  EXPECT_TRUE(ShortStripRun(kX3f, Padded(x3f, 900), 512, 512, 512).empty());
  const std::vector<uint8_t> early = X3f(40, 600, 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(early.data(), 511, u"x3f"), -1);
}

}  // namespace
