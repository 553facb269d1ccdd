// The fixed-size copy cycle, driven through the cabinet and 7-Zip classes.
#include <gtest/gtest.h>

#include "formats/document/7Z.h"
#include "formats/document/CAB.h"
#include "support/Carving.h"

using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

std::vector<uint8_t> Cabinet(uint32_t size) {
  Bytes b;
  b.Text("MSCF").U32LE(0).U32LE(size).PadTo(size, 0xC5);
  return b;
}

std::vector<uint8_t> SevenZip(uint64_t nextOffset, uint64_t nextSize) {
  Bytes b;
  b.Raw({0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4}).U32LE(0x12345678);
  b.U64LE(nextOffset).U64LE(nextSize).U32LE(0);
  b.PadTo(32 + nextOffset + nextSize, 0x5A);
  return b;
}

}  // namespace

TEST(FixedSizeCycle, CabinetSmallerThanStripEndsInsideItWithExactlyItsSize) {
  DiskImage image;
  image.File(Cabinet(300)).Random(4);
  const auto reports = ReportRun({{1797}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 0u);
  EXPECT_EQ(reports[0].size, 300u);
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[0].extension, "cab");

  trtest::TempDir dir;
  FolderRun(dir, {{1797}}, image.bytes(), 512, 512);
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"cab/00000.cab"});
  EXPECT_EQ(dir.Read("cab/00000.cab"), Cabinet(300));
}

TEST(FixedSizeCycle, FileSpanningStripsIsCutAtItsStatedSize) {
  DiskImage image;
  image.Random(3).File(Cabinet(5000)).Random(5);
  trtest::TempDir dir;
  FolderRun(dir, {{1797}}, image.bytes(), 512, 0);
  EXPECT_EQ(dir.Read("cab/00000.cab"), Cabinet(5000));
  const auto reports = ReportRun({{1797}}, image.bytes(), 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 1536u);
  EXPECT_EQ(reports[0].size, 5000u);
}

TEST(FixedSizeCycle, NewHeaderCutsFileInProgressWithItsBytesWritten) {
  DiskImage image;
  image.File(SevenZip(4000, 100)).Random(0);  // stated 4132 bytes
  std::vector<uint8_t> bytes = trtest::Prefix(image.bytes(), 1024);
  const std::vector<uint8_t> second = SevenZip(1000, 10);
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.resize(4096, 0x11);
  uint32_t ended = 0;
  const auto reports = ReportRun({{1795}}, bytes, 512, 512, &ended);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_EQ(reports[1].start, 1024u);
  EXPECT_EQ(reports[1].size, 1042u);
  EXPECT_EQ(reports[1].complete, 1u);
  EXPECT_EQ(ended, 2u);
}

TEST(SevenZip, EmptyNextHeaderStillGivesThe32ByteStartHeader) {
  CTypeRecovery7Z r(nullptr, nullptr);
  std::vector<uint8_t> header = SevenZip(0, 0);
  header.resize(64, 0);
  EXPECT_EQ(r.IsHeaderMatched(header.data(), 37, 0), 1795u);
  EXPECT_EQ(r.IsHeaderMatched(header.data(), 36, 0), 0u);
  const auto reports = ReportRun({{1795}}, header, 64, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 32u);
}

TEST(SevenZip, SizeThatWrapsToZeroIsRejected) {
  CTypeRecovery7Z r(nullptr, nullptr);
  Bytes b;
  b.Raw({0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4}).U32LE(0);
  b.U64LE(~uint64_t{0} - 40).U64LE(9).PadTo(64);  // offset + size + 32 == 0
  EXPECT_EQ(r.IsHeaderMatched(b.data(), 64, 0), 0u);
  EXPECT_EQ(r.IsHeaderMatched(nullptr, 64, 0), 0u);
}

TEST(Cabinet, HeaderNeedsSeventeenBytesAndTheSignature) {
  CTypeRecoveryCAB r(nullptr, nullptr);
  const std::vector<uint8_t> cab = Cabinet(64);
  EXPECT_EQ(r.IsHeaderMatched(cab.data(), 17, 1), 1797u);
  EXPECT_EQ(r.IsHeaderMatched(cab.data(), 16, 0), 0u);
  std::vector<uint8_t> other = cab;
  other[3] = 'G';
  EXPECT_EQ(r.IsHeaderMatched(other.data(), 64, 0), 0u);
  EXPECT_EQ(r.GetTypePropertyFlag(), 0u);
  EXPECT_EQ(r.GetMaxFileSize(), CTypeRecovery::kNoLimit);
}
