// MPEG program-stream recognizer: the start codes it accepts, its end
// patterns, the foreign-header rule and its maximum size.
#include "formats/media/MPG.h"

#include <gtest/gtest.h>

#include "interface/Manager.h"
#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

constexpr uint32_t kMPG = 1026;

Bytes StartCode(uint8_t code, std::initializer_list<uint8_t> after) {
  Bytes b{0x00, 0x00, 0x01, code};
  for (uint8_t v : after) b.U8(v);
  return b.PadTo(17, 0x00);
}

TEST(Mpg, HeaderAcceptsPackSystemSequenceAndExtensionStarts) {
  CTypeRecoveryMPG mpg(nullptr, nullptr);
  struct Case { Bytes header; bool accepted; const char* what; };
  const Case cases[] = {
      {StartCode(0xBA, {0x21}), true, "MPEG-1 pack"},
      {StartCode(0xBA, {0x44}), true, "MPEG-2 pack"},
      {StartCode(0xBA, {0x40}), false, "pack without marker"},
      {StartCode(0xBB, {0x00, 0x0C, 0x80, 0x00, 0x01}), true, "system header"},
      {StartCode(0xBB, {0x00, 0x0C, 0x80, 0x00, 0x00}), false, "system header without marker"},
      {StartCode(0xB3, {0x02, 0x00, 0x20, 0x14}), true, "sequence 32x32"},
      {StartCode(0xB3, {0x02, 0x00, 0x00, 0x14}), false, "vertical size 0"},
      {StartCode(0xB3, {0x00, 0x00, 0x20, 0x14}), false, "horizontal size 0"},
      {StartCode(0xB3, {0x02, 0x00, 0x20, 0x04}), false, "aspect ratio 0"},
      {StartCode(0xB3, {0x02, 0x00, 0x20, 0xF4}), false, "aspect ratio 15"},
      {StartCode(0xB5, {0x81}), true, "sequence extension"},
      {StartCode(0xB5, {0x21}), false, "other extension"},
      {StartCode(0xE0, {0x00}), false, "video packet"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mpg.IsHeaderMatched(c.header.data(), 17, 0), c.accepted ? kMPG : 0u) << c.what;
  }
  EXPECT_EQ(mpg.IsHeaderMatched(cases[0].header.data(), 16, 0), 0u);
}

// A pack header, then filler of 0x5A, then tail, then 0x5A up to total.
std::vector<uint8_t> Stream(size_t endsAt, const std::vector<uint8_t>& tail, size_t total) {
  Bytes b = StartCode(0xBA, {0x44});
  b.PadTo(endsAt - tail.size(), 0x5A).Raw(tail).PadTo(total, 0x5A);
  return b;
}

TEST(Mpg, EndPatternsEndTheFileThroughTheirLastByte) {
  const std::vector<std::vector<uint8_t>> tails = {
      {0x00, 0x00, 0x01, 0xB7, 0x00, 0x00, 0x01, 0xB9},
      {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0xB9},
  };
  for (const auto& tail : tails) {
    for (size_t end : {1300u, 1028u}) {  // inside a strip; across the strip end at 1024
      Scan scan({kMPG});
      EXPECT_EQ(scan.Feed(Stream(end, tail, 3000), 512, 64), 1u);
      ASSERT_EQ(scan.log.reports.size(), 1u);
      EXPECT_EQ(scan.log.reports[0].size, end);
      EXPECT_EQ(scan.log.reports[0].complete, 1u);
      trtest::TempDir dir;
      {
        Scan folder({kMPG}, &dir);
        folder.Feed(Stream(end, tail, 3000), 512, 64);
      }
      EXPECT_EQ(dir.Read("mpg/00000.mpg"), Stream(end, tail, end)) << end;
    }
  }
}

TEST(Mpg, ProgramEndAfterOtherBytesDoesNotEndTheFile) {
  const std::vector<uint8_t> tail = {0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x01, 0xB9};
  Scan scan({kMPG});
  scan.Feed(Stream(1300, tail, 3000), 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 3000u);  // ended by the flush
  EXPECT_EQ(scan.log.reports[0].complete, 0u);
}

TEST(Mpg, ForeignHeadersEndTheFileExceptThoseThatLiveInsideStreams) {
  // Header codes of the manager's pass, given straight to a recognizer.
  trtest::ReportLog log;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log),
                                                      trtest::RecordReport, nullptr);
  const std::vector<uint8_t> stream = Stream(3000, {}, 3000);
  const uint8_t frame[16] = {0xFF, 0xFB, 0x90, 0x64};
  const uint8_t other[16] = {0x49, 0x44, 0x33};
  struct Case { uint32_t code; const uint8_t* strip; bool ends; };
  for (const Case& c : {Case{513, other, true}, Case{1035, other, false}, Case{1283, other, false},
                        Case{1540, other, false}, Case{769, frame, false}, Case{769, other, true},
                        Case{1034, other, true}}) {
    log.reports.clear();
    CTypeRecoveryMPG mpg(m, nullptr);
    uint32_t error = 0;
    EXPECT_EQ(mpg.Analyse(0, stream.data(), 512, 64, kMPG, &error), 0u);
    EXPECT_EQ(mpg.Analyse(512, c.strip, 16, 0, c.code, &error), c.ends ? 1u : 0u) << c.code;
    if (c.ends) {
      ASSERT_EQ(log.reports.size(), 1u);
      EXPECT_EQ(log.reports[0].size, 512u);
      EXPECT_EQ(log.reports[0].complete, 1u);
    } else {
      EXPECT_TRUE(mpg.IsFileInProgress()) << c.code;
    }
  }
  TypeRecovery_CloseManager(m);
}

TEST(Mpg, HeaderInsideAStreamDoesNotCutItAndTheMaximumEndsIt) {
  Bytes image;
  image.Raw(Stream(1024, {}, 1024)).Raw(Stream(4096, {}, 4096));  // a pack header at 1024
  CTypeRecoveryMPG mpg(nullptr, nullptr);
  EXPECT_EQ(mpg.GetMaxFileSize(), 4294967296u);
  EXPECT_EQ(mpg.GetTypePropertyFlag(), 1u);
  trtest::ReportLog log;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, kMPG, 2000);
  trtest::FeedImage(m, image, 512, 64);
  TypeRecovery_CloseManager(m);
  ASSERT_EQ(log.reports.size(), 1u);
  EXPECT_EQ(log.reports[0].start, 0u);
  EXPECT_EQ(log.reports[0].size, 2048u);  // the strip in which it passes 2000
  EXPECT_EQ(log.reports[0].complete, 0u);
}

}  // namespace
