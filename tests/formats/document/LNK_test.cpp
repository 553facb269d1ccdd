// Shell links: the part walk, its end, and the end at another format's header.
#include <gtest/gtest.h>

#include "formats/document/LNK.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

constexpr uint32_t kIdList = 0x01, kLinkInfo = 0x02, kRelativePath = 0x08, kUnicode = 0x80;

struct Parts {
  uint32_t flags = kIdList | kLinkInfo | kRelativePath | kUnicode;
  uint16_t idList = 40;     // IDListSize
  uint32_t linkInfo = 60;   // LinkInfoSize, counting itself
  uint16_t pathChars = 12;  // relative path length in characters
  std::vector<uint32_t> blocks = {0x1C, 0x60};
};

std::vector<uint8_t> Shortcut(const Parts& p) {
  Bytes b;
  b.U32LE(0x4C).Raw({0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x46});
  b.U32LE(p.flags).U32LE(0x20).Zeros(24).U32LE(4096).U32LE(0).U32LE(1).U16LE(0).Zeros(10);
  if (p.flags & kIdList) b.U16LE(p.idList).Fill(p.idList, 0x14);
  if (p.flags & kLinkInfo) b.U32LE(p.linkInfo).Fill(p.linkInfo - 4, 0x1C);
  if (p.flags & kRelativePath) {
    b.U16LE(p.pathChars);
    for (uint16_t i = 0; i < p.pathChars; ++i) {
      const uint8_t c = static_cast<uint8_t>('a' + i % 26);
      if (p.flags & kUnicode) {
        b.U16LE(c);
      } else {
        b.U8(c);
      }
    }
  }
  for (uint32_t size : p.blocks) b.U32LE(size).U32LE(0xA0000000 + size).Fill(size - 8, 0xEB);
  b.U32LE(0);
  return b;
}

struct Host {
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  ~Host() { TypeRecovery_CloseManager(m); }
};

std::vector<trtest::Report> Shortcuts(const std::vector<trtest::Report>& all) {
  std::vector<trtest::Report> out;
  for (const auto& r : all) {
    if (r.extension == "lnk") out.push_back(r);
  }
  return out;
}

}  // namespace

TEST(Shortcut, AllPartsAcrossStripsEndExactlyAfterTheTerminalBlock) {
  Parts p;
  p.blocks = {0x1C, 0x60, 1500};  // the last block runs over two strips
  const std::vector<uint8_t> file = Shortcut(p);
  DiskImage image;
  image.Random(1).File(file).Random(4);
  const auto reports = ReportRun({{2309}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 512u);
  EXPECT_EQ(reports[0].size, file.size());
  EXPECT_EQ(reports[0].complete, 1u);
  trtest::TempDir dir;
  FolderRun(dir, {{2309}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Read("lnk/00000.lnk"), file);
}

TEST(Shortcut, WithoutLinkInfoComesOutFourBytesShort) {
  Parts p;
  p.flags = kIdList | kRelativePath;  // 8-bit path characters
  const std::vector<uint8_t> file = Shortcut(p);
  DiskImage image;
  image.File(file).Random(2);
  const auto reports = ReportRun({{2309}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, file.size() - 4);
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Shortcut, RealShortcutIsCarvedWhole) {
  const std::vector<uint8_t> file = trtest::Fixture("document", "sample.lnk");
  DiskImage image(4);
  image.Random(3).File(file).Random(3);
  trtest::TempDir dir;
  FolderRun(dir, {{2309}}, image.bytes(), 512, 64);
  EXPECT_EQ(dir.Read("lnk/00000.lnk"), file);
}

TEST(Shortcut, AnotherFormatsHeaderEndsItBeforeThatStripButAnMp3SyncByteDoesNot) {
  Parts p;
  p.blocks = {3000};
  const std::vector<uint8_t> file = Shortcut(p);
  Host host;
  CTypeRecoveryLNK r(host.m, nullptr);
  uint32_t error = 0;
  std::vector<uint8_t> strip(file.begin(), file.begin() + 1024);
  EXPECT_EQ(r.Analyse(0, strip.data(), 512, 512, 2309, &error), 0u);
  std::vector<uint8_t> frame = {0xFF, 0xFB, 0x90, 0x44};
  frame.resize(1024, 0xEB);
  EXPECT_EQ(r.Analyse(512, frame.data(), 512, 512, 769, &error), 0u);  // weak: still going
  EXPECT_EQ(r.GetBytesWritten(), 1024u);
  std::vector<uint8_t> tagged = {'I', 'D', '3', 3};
  tagged.resize(1024, 0xEB);
  EXPECT_EQ(r.Analyse(1024, tagged.data(), 512, 512, 769, &error), 1u);  // MP3 without 0xFF
  ASSERT_EQ(host.log.reports.size(), 1u);
  EXPECT_EQ(host.log.reports[0].size, 1024u);
  EXPECT_EQ(host.log.reports[0].complete, 0u);
  EXPECT_FALSE(r.IsFileInProgress());

  // Through the manager: a JPEG at a strip start cuts the shortcut there.
  std::vector<uint8_t> image = trtest::Prefix(file, 1536);
  const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
  image.insert(image.end(), jpeg.begin(), jpeg.end());
  image.resize(4096, 0x33);
  const auto reports = Shortcuts(ReportRun({{2309}, {513}}, image, 512, 512));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1536u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Shortcut, HeaderNeedsItsSizeClassIdAndZeroReservedBytes) {
  std::vector<uint8_t> header = Shortcut(Parts());
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 77, u"lnk"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 76, u"lnk"), -1);
  for (size_t at : {0, 19, 66, 75}) {
    std::vector<uint8_t> bad = header;
    bad[at] ^= 0x01;
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(bad.data(), 200, u"lnk"), -1) << at;
  }
}

TEST(Shortcut, ZeroLinkInfoSizeCutsItAfterTheStripWithTheHeaderSize) {
  Parts p;
  p.linkInfo = 4;  // a placeholder; the size field is then zeroed
  std::vector<uint8_t> file = Shortcut(p);
  file[76 + 2 + p.idList] = 0;
  file[76 + 2 + p.idList + 1] = 0;
  file[76 + 2 + p.idList + 2] = 0;
  file[76 + 2 + p.idList + 3] = 0;
  file.resize(1024, 0x5A);
  Host host;
  CTypeRecoveryLNK r(host.m, nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, file.data(), 512, 512, 2309, &error), 1u);
  EXPECT_EQ(r.GetBytesWritten(), 512u);
  ASSERT_EQ(host.log.reports.size(), 1u);
  EXPECT_EQ(host.log.reports[0].size, 76u);
  EXPECT_EQ(host.log.reports[0].complete, 0u);
}

TEST(Shortcut, EndingExactlyAtAStripEndIsEndedInTheNextStripWithNothingMore) {
  Parts p;
  p.flags = kIdList | kLinkInfo;
  p.idList = 38;
  p.blocks = {1024 - 76 - 40 - 60 - 4};  // the file is 1024 bytes
  const std::vector<uint8_t> file = Shortcut(p);
  ASSERT_EQ(file.size(), 1024u);
  std::vector<uint8_t> image = file;
  image.resize(2048, 0x44);
  Host host;
  CTypeRecoveryLNK r(host.m, nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, image.data(), 512, 512, 2309, &error), 0u);
  EXPECT_EQ(r.Analyse(512, image.data() + 512, 512, 512, 0, &error), 0u);
  EXPECT_EQ(r.GetPendingParts(), 0u);
  EXPECT_EQ(r.Analyse(1024, image.data() + 1024, 512, 512, 0, &error), 1u);
  EXPECT_EQ(r.GetBytesWritten(), 1024u);
  ASSERT_EQ(host.log.reports.size(), 1u);
  EXPECT_EQ(host.log.reports[0].size, 1024u);
  EXPECT_EQ(host.log.reports[0].complete, 1u);
}

TEST(Shortcut, RunsToItsMaximumWhenNoTerminalBlockComes) {
  Parts p;
  p.blocks = {0x4000};  // 16 KiB block, no terminal block in reach
  std::vector<uint8_t> image = trtest::Prefix(Shortcut(p), 600);
  image.resize(12000, 0xEB);
  const auto reports = ReportRun({{2309, 5000}}, image, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 5120u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Shortcut, WalkResumesFromAProgressFile) {
  Parts p;
  p.blocks = {0x1C, 2000, 0x60};
  const std::vector<uint8_t> file = Shortcut(p);
  DiskImage image;
  image.File(file).Random(3);
  const auto reports = trtest::ResumedRun({{2309}}, image.bytes(), 512, 512, 1024);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, file.size());
  EXPECT_EQ(reports[0].complete, 1u);
}
