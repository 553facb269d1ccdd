// MPEG program-stream recognizer: the start codes it accepts, its end
// patterns, the foreign-header rule and its maximum size.
#include "formats/media/MPG.h"

#include <gtest/gtest.h>

#include "interface/Manager.h"
#include "support/Carving.h"

namespace {

using trtest::Bytes;

constexpr uint32_t kMPG = 1026;

Bytes StartCode(uint8_t code, std::initializer_list<uint8_t> after) {
  return Bytes{0x00, 0x00, 0x01, code}.Raw(after).PadTo(17, 0x00);
}

// A pack header, then 0x5A filler, then tail ending at endsAt, then 0x5A up to total.
std::vector<uint8_t> Stream(size_t endsAt, const std::vector<uint8_t>& tail, size_t total) {
  return StartCode(0xBA, {0x44}).PadTo(endsAt - tail.size(), 0x5A).Raw(tail).PadTo(total, 0x5A);
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

TEST(Mpg, EndPatternsEndTheFileThroughTheirLastByte) {
  const std::vector<uint8_t> sequenceEnd = {0x00, 0x00, 0x01, 0xB7, 0x00, 0x00, 0x01, 0xB9};
  const std::vector<uint8_t> stuffedEnd = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0xB9};
  for (const auto& tail : {sequenceEnd, stuffedEnd}) {
    for (size_t end : {1300u, 1028u}) {  // inside a strip; across the strip end at 1024
      const std::string size = std::to_string(end);
      EXPECT_EQ(trtest::CarvedSpans({kMPG}, Stream(end, tail, 3000)), "mpg@0+" + size);
      trtest::TempDir dir;
      trtest::FolderRun(dir, {kMPG}, Stream(end, tail, 3000), 512, 64);
      EXPECT_EQ(dir.Read("mpg/00000.mpg"), Stream(end, tail, end)) << size;
    }
  }
  // A program end behind other bytes ends nothing: the flush does.
  const std::vector<uint8_t> other = {0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x01, 0xB9};
  EXPECT_EQ(trtest::CarvedSpans({kMPG}, Stream(1300, other, 3000)), "mpg@0+3000~");
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
    EXPECT_EQ(trtest::Spans(log.reports), c.ends ? "mpg@0+512" : "") << c.code;
    if (!c.ends) {
      EXPECT_TRUE(mpg.IsFileInProgress()) << c.code;
    }
  }
  TypeRecovery_CloseManager(m);
}

TEST(Mpg, HeaderInsideAStreamDoesNotCutItAndTheMaximumEndsIt) {
  EXPECT_EQ(CTypeRecoveryMPG(nullptr, nullptr).GetMaxFileSize(), 4294967296u);
  // A pack header at 1024; the file ends in the strip in which it passes 2000.
  const std::vector<uint8_t> image = Bytes().Raw(Stream(1024, {}, 1024)).Raw(Stream(4096, {}, 4096));
  EXPECT_EQ(trtest::CarvedSpans({{kMPG, 2000}}, image), "mpg@0+2048~");
}

}  // namespace
