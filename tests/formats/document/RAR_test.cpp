// RAR 4 block walk from crafted block chains.
#include <gtest/gtest.h>
#include "formats/document/RAR.h"
#include "support/Carving.h"

using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

// Marker block and a 13-byte archive header.
Bytes RarStart() {
  Bytes b;
  b.Text("Rar!").Raw({0x1A, 0x07, 0x00});
  b.U16LE(0x90CF).U8(0x73).U16LE(0).U16LE(13).Zeros(6);
  return b;
}

// A stored file block: 32-byte header (name included) and its data.
Bytes& FileBlock(Bytes& b, uint32_t dataSize) {
  b.U16LE(0).U8(0x74).U16LE(0x8000).U16LE(32).U32LE(dataSize).Zeros(21);
  return b.Fill(dataSize, 0xAB);
}

Bytes& EndBlock(Bytes& b) { return b.U16LE(0x3DC4).U8(0x7B).U16LE(0x4000).U16LE(7); }

}  // namespace

TEST(Rar, HeaderNeedsMarkerArchiveHeaderAndRar4Signature) {
  CTypeRecoveryRAR r(nullptr, nullptr);
  Bytes good = RarStart();
  good.PadTo(64);
  EXPECT_EQ(r.IsHeaderMatched(good.data(), 21, 0), 1794u);
  EXPECT_EQ(r.IsHeaderMatched(good.data(), 20, 0), 0u);
  Bytes rar5;
  rar5.Text("Rar!").Raw({0x1A, 0x07, 0x01, 0x00}).PadTo(64, 0x73);
  EXPECT_EQ(r.IsHeaderMatched(rar5.data(), 64, 0), 0u);
  std::vector<uint8_t> noArchiveHeader = good;
  noArchiveHeader[9] = 0x74;
  EXPECT_EQ(r.IsHeaderMatched(noArchiveHeader.data(), 64, 0), 0u);
  EXPECT_EQ(r.GetMaxFileSize(), 0x280000000ULL);
}

TEST(Rar, BlocksLargerThanStripsAreSteppedToTheEndBlock) {
  Bytes rar = RarStart();
  FileBlock(rar, 1500);
  FileBlock(rar, 10);
  EndBlock(rar);
  const std::vector<uint8_t> archive = rar;
  Bytes image = rar;
  image.Fill(700, 0x33);
  const auto reports = ReportRun({{1794}}, image, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, archive.size());
  EXPECT_EQ(reports[0].complete, 1u);

  trtest::TempDir dir;
  FolderRun(dir, {{1794}}, image, 512, 0);
  EXPECT_EQ(dir.Read("rar/00000.rar"), archive);
}

TEST(Rar, EndBlockInLastBytesOfStripEndsThereReachingIntoLookahead) {
  // The end block begins 3 bytes before the strip's end.
  Bytes rar = RarStart();
  FileBlock(rar, 512 - 3 - 20 - 32);
  EndBlock(rar);
  ASSERT_EQ(rar.size(), 516u);
  rar.PadTo(1024, 0x44);
  CTypeRecoveryRAR r(nullptr, nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, rar.data(), 512, 512, 1794, &error), 1u);
  EXPECT_FALSE(r.IsFileInProgress());
  EXPECT_EQ(r.GetBytesWritten(), 516u);
  EXPECT_EQ(r.GetExpectedSize(), 516u);
}

TEST(Rar, UnknownBlockTypeEndsWithWalkedSizeButWholeStripOnDisk) {
  Bytes rar = RarStart();
  FileBlock(rar, 100);
  const size_t walked = rar.size();
  rar.U16LE(0).U8(0x20).U16LE(0).U16LE(7);  // not a RAR block
  rar.PadTo(512, 0x55);
  rar.PadTo(1024, 0x66);
  const auto reports = ReportRun({{1794}}, rar, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, walked);
  EXPECT_EQ(reports[0].complete, 1u);
  trtest::TempDir dir;
  FolderRun(dir, {{1794}}, rar, 512, 0);
  EXPECT_EQ(dir.Read("rar/00000.rar"), trtest::Prefix(rar, 512));
}

TEST(Rar, ZeroStepIsABrokenChainAndTheArchiveIsDiscarded) {
  Bytes rar = RarStart();
  rar.U16LE(0).U8(0x74).U16LE(0).U16LE(0).U32LE(0);  // header size 0, data 0
  rar.PadTo(2048, 0x77);
  EXPECT_TRUE(ReportRun({{1794}}, rar, 512, 0).empty());
  trtest::TempDir dir;
  FolderRun(dir, {{1794}}, rar, 512, 0);
  EXPECT_TRUE(dir.Files().empty());
}

TEST(Rar, ProgressRecordCarriesArchiveSizeAndCursor) {
  Bytes rar = RarStart();
  FileBlock(rar, 2000);
  EndBlock(rar);
  const size_t total = rar.size();
  rar.PadTo(3072, 0x12);
  const auto reports = trtest::ResumedRun({{1794}}, rar, 1024, 0, 1024);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, total);
  EXPECT_EQ(reports[0].complete, 1u);
}
