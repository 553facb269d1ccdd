// Shell links: the header test, the part walk and its end, and the end at
// another format's header.
#include <gtest/gtest.h>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/LNK.h"
#include "support/Carving.h"
#include "typerecovery.h"

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
  b.U32LE(0x4C).Raw({0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46});
  b.U32LE(p.flags).U32LE(0x20).Zeros(24).U32LE(4096).U32LE(0).U32LE(1).Zeros(12);
  if (p.flags & kIdList) b.U16LE(p.idList).Fill(p.idList, 0x14);
  if (p.flags & kLinkInfo) b.U32LE(p.linkInfo).Fill(p.linkInfo - 4, 0x1C);
  if (p.flags & kRelativePath) {
    b.U16LE(p.pathChars);
    for (uint16_t i = 0; i < p.pathChars; ++i) {
      const uint8_t c = static_cast<uint8_t>('a' + i % 26);
      (p.flags & kUnicode) ? b.U16LE(c) : b.U8(c);
    }
  }
  for (uint32_t size : p.blocks) b.U32LE(size).U32LE(0xA0000000 + size).Fill(size - 8, 0xEB);
  return b.U32LE(0);
}

Parts With(uint32_t flags, uint16_t idList, std::vector<uint32_t> blocks) {
  Parts p;
  if (flags != 0) p.flags = flags;
  if (idList != 0) p.idList = idList;
  if (!blocks.empty()) p.blocks = blocks;
  return p;
}

}  // namespace

TEST(Shortcut, HeaderNeedsItsSizeClassIdAndZeroReservedBytes) {
  const std::vector<uint8_t> header = Shortcut(Parts());
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 77, u"lnk"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 76, u"lnk"), -1);
  for (size_t at : {0, 19, 66, 75}) {
    std::vector<uint8_t> bad = header;
    bad[at] ^= 0x01;
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(bad.data(), 200, u"lnk"), -1) << at;
  }
}

TEST(Shortcut, PartWalkEndsAfterTheTerminalBlock) {
  const std::vector<uint8_t> all = Shortcut(With(0, 0, {0x1C, 0x60, 1500}));  // the last block over two strips
  const std::vector<uint8_t> noLinkInfo = Shortcut(With(kIdList | kRelativePath, 0, {}));  // 8-bit path
  // Ending exactly at a strip end, it is ended in the next strip with nothing more.
  const std::vector<uint8_t> stripEnd = Shortcut(With(kIdList | kLinkInfo, 38, {1024 - 76 - 40 - 60 - 4}));
  ASSERT_EQ(stripEnd.size(), 1024u);
  const std::vector<uint8_t> huge = Bytes().Raw(trtest::Prefix(Shortcut(With(0, 0, {0x4000})), 600)).PadTo(12000, 0xEB);
  // A zero link-info size cuts it after the strip, reported with the header's size.
  Parts p;
  p.linkInfo = 4;  // a placeholder; the size field is then zeroed
  std::vector<uint8_t> zeroInfo = Shortcut(p);
  std::fill_n(zeroInfo.begin() + 76 + 2 + p.idList, 4, 0);
  zeroInfo.resize(1024, 0x5A);
  const auto disk = [](const std::vector<uint8_t>& file, size_t before) {
    return trtest::DiskImage().Random(before).File(file).Random(4).bytes();
  };
  // Shortcuts stop at 5000 bytes.
  const std::pair<std::vector<uint8_t>, crafted::Carved> cases[] = {
      {disk(all, 1), {"lnk/00000.lnk", 512, all.size(), 1, all}},
      {disk(noLinkInfo, 0), {"lnk/00000.lnk", 0, noLinkInfo.size() - 4, 1, trtest::Prefix(noLinkInfo, noLinkInfo.size() - 4)}},
      {Bytes().Raw(stripEnd).PadTo(2048, 0x44), {"lnk/00000.lnk", 0, 1024, 1, stripEnd}},
      {huge, {"lnk/00000.lnk", 0, 5120, 0, trtest::Prefix(huge, 5120)}},  // no terminal block in reach
      {zeroInfo, {"lnk/00000.lnk", 0, 76, 0, trtest::Prefix(zeroInfo, 512)}},
  };
  for (const auto& [image, file] : cases) crafted::ExpectCarved({{2309, 5000}}, image, {file});
}

TEST(Shortcut, AnotherFormatsHeaderEndsItBeforeThatStripButAnMp3SyncByteDoesNot) {
  const std::vector<uint8_t> file = Shortcut(With(0, 0, {3000}));
  trtest::Scan host({});
  CTypeRecoveryLNK r(host.manager(), nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, file.data(), 512, 512, 2309, &error), 0u);
  std::vector<uint8_t> frame = {0xFF, 0xFB, 0x90, 0x44};
  frame.resize(1024, 0xEB);
  EXPECT_EQ(r.Analyse(512, frame.data(), 512, 512, 769, &error), 0u);  // weak: still going
  EXPECT_EQ(r.GetBytesWritten(), 1024u);
  std::vector<uint8_t> tagged = {'I', 'D', '3', 3};
  tagged.resize(1024, 0xEB);
  EXPECT_EQ(r.Analyse(1024, tagged.data(), 512, 512, 769, &error), 1u);  // MP3 without 0xFF
  crafted::ExpectReports(host.log.reports, {{0, 1024, 0}});
  EXPECT_FALSE(r.IsFileInProgress());

  // Through the manager: a JPEG at a strip start cuts the shortcut there.
  const std::vector<uint8_t> image = Bytes().Raw(trtest::Prefix(file, 1536))
      .Raw({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00}).PadTo(4096, 0x33);
  const auto reports = trtest::ReportRun({{2309}, {513}}, image, 512, 512);
  ASSERT_GE(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "lnk");
  EXPECT_EQ(reports[0].size, 1536u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Shortcut, WalkResumesFromAProgressFile) {
  const std::vector<uint8_t> file = Shortcut(With(0, 0, {0x1C, 2000, 0x60}));
  crafted::ExpectResumed({"lnk", {{2309}}, trtest::DiskImage().File(file).Random(3).bytes(), 512, 512, {{0, file.size(), 1}}}, 1024);
}
