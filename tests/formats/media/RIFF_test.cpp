// RIFF recognizer: the four forms, their enable flags, the declared size, the
// renaming close and the progress record.
#include "formats/media/RIFF.h"

#include <gtest/gtest.h>

#include "interface/Manager.h"
#include "support/Carving.h"

namespace {

using trtest::Bytes;

constexpr uint32_t kAVI = 1025, kWAV = 770, kCDXA = 1037, kANI = 1566;

// A RIFF file of the given size field, filled (0x61) or cut to total bytes,
// then 0x7E filler.
std::vector<uint8_t> Riff(const std::string& form, uint32_t size, size_t total) {
  Bytes b;
  b.Text("RIFF").U32LE(size).Text(form).Text("LIST").U32LE(20);
  return b.PadTo(std::min<size_t>(uint64_t{size} + 8, total), 0x61).PadTo(total, 0x7E);
}

TEST(Riff, HeaderTakesFourFormsAndNeedsThirtyThreeBytes) {
  CTypeRecoveryRIFF riff(nullptr, nullptr);
  for (const char* form : {"AVI ", "WAVE", "CDXA", "ACON"}) {
    const auto header = Riff(form, 100, 33);
    EXPECT_EQ(riff.IsHeaderMatched(header.data(), 33, 0), kAVI) << form;
    EXPECT_EQ(riff.IsHeaderMatched(header.data(), 32, 0), 0u) << form;
  }
  std::vector<uint8_t> rifx = Riff("WAVE", 100, 64);
  rifx[3] = 'X';
  for (const auto& bad : {rifx, Riff("RMID", 100, 64), Riff("WAVE", 0, 64)}) {
    EXPECT_EQ(riff.IsHeaderMatched(bad.data(), 64, 0), 0u);
  }
}

TEST(Riff, SizesNamesAndCuts) {
  struct Case { uint32_t code; std::vector<uint8_t> image; const char* spans; };
  const Case cases[] = {
      {kWAV, Riff("WAVE", 1000, 2048), "wav@0+1008"},
      {kANI, Riff("ACON", 1000, 2048), "ani@0+1000"},  // the size field alone
      {kCDXA, Riff("CDXA", 700, 1024), "dat@0+708"},
      {kWAV, Riff("WAVE", 0xFFFFFFFC, 1024), "wav@0+4"},  // the sum wraps in 32 bits
      {kWAV, Bytes().Raw(Riff("WAVE", 100000, 1024)).Raw(Riff("WAVE", 700, 1024)),
       "wav@0+1024 wav@1024+708"},  // a new header ends a file complete
      {kWAV, Riff("AVI ", 1500, 2048), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(trtest::CarvedSpans({c.code}, c.image), c.spans);
}

TEST(Riff, DisabledSubTypesLeaveNothing) {
  {  // A WAVE not asked for is dropped at the next strip.
    trtest::TempDir dir;
    const auto image = Riff("WAVE", 5000, 6144);
    trtest::Scan scan({kAVI}, &dir);
    EXPECT_EQ(scan.Strip(image, 0, 512, 64), 0u);
    EXPECT_EQ(scan.manager()->m_actives.GetCount(), 1);  // cloned this call
    EXPECT_EQ(scan.Strip(image, 512, 512, 64), 0u);
    EXPECT_EQ(scan.manager()->m_actives.GetCount(), 0);
    EXPECT_TRUE(dir.Files().empty());
  }
  // An AVI not asked for is written while followed, then deleted.
  trtest::TempDir dir;
  const auto image = Riff("AVI ", 1500, 2048);
  trtest::Scan scan({kWAV}, &dir);
  scan.Strip(image, 0, 512, 64);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"avi/00000.avi"});
  for (size_t at = 512; at < image.size(); at += 512) scan.Strip(image, at, 512, 64);
  EXPECT_TRUE(dir.Files().empty());
}

TEST(Riff, EachSubTypeKeepsItsOwnTypeFolderValue) {
  CTypeRecoveryManager manager(0, trtest::RecordReport, nullptr);
  trtest::ReportLog log;
  log.answerFolder = 42;
  manager.m_userValue = reinterpret_cast<uintptr_t>(&log);
  CTypeRecoveryRIFF riff(&manager, nullptr);
  riff.EnableAllSubTypes(0);
  uint32_t error = 0;
  EXPECT_EQ(riff.Analyse(0, Riff("WAVE", 100, 512).data(), 512, 0, kAVI, &error), 1u);
  log.answerFolder = 9;
  riff.Analyse(512, Riff("AVI ", 100, 512).data(), 512, 0, kAVI, &error);
  EXPECT_EQ(riff.GetSubTypeFolderValue(CTypeRecoveryRIFF::kWav), 42u);
  EXPECT_EQ(riff.GetSubTypeFolderValue(CTypeRecoveryRIFF::kAvi), 9u);
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].typeFolder, 0u);
  EXPECT_EQ(log.reports[1].typeFolder, 0u);
}

TEST(Riff, ProgressRecordHoldsFlagsAndTheSubTypeCode) {
  const auto image = Riff("ACON", 3000, 4096);
  trtest::Scan scan({kANI, kAVI});
  scan.Strip(image, 0, 512, 64);
  const std::vector<uint8_t> saved = trtest::SavedProgress(scan.manager());
  ASSERT_EQ(saved.size(), 60u + 4 + 4 + 4);
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 60, saved.begin() + 68),
            (std::vector<uint8_t>{1, 0, 0, 1, 0x1E, 0x06, 0, 0}));  // flags, then 1566
  EXPECT_EQ(trtest::Spans(trtest::ResumedRun({kANI, kAVI}, image, 512, 64, 1024)), "ani@0+3000");
}

}  // namespace
