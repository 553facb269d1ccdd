// RIFF recognizer: the four forms, their enable flags, the declared size, the
// renaming close and the progress record.
#include "formats/media/RIFF.h"

#include <gtest/gtest.h>

#include <memory>

#include "interface/Manager.h"
#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

constexpr uint32_t kAVI = 1025, kWAV = 770, kCDXA = 1037, kANI = 1566;

Bytes Riff(const std::string& form, uint32_t size) {
  Bytes b;
  b.Text("RIFF").U32LE(size).Text(form).Text("LIST").U32LE(20);
  return b;
}

// A RIFF file of the given size field, followed by filler or cut, to total.
std::vector<uint8_t> RiffImage(const std::string& form, uint32_t size, size_t total) {
  Bytes b = Riff(form, size);
  b.PadTo(std::min<size_t>(uint64_t{size} + 8, total), 0x61).PadTo(total, 0x7E);
  return b;
}

TEST(Riff, HeaderTakesFourFormsAndNeedsThirtyThreeBytes) {
  CTypeRecoveryRIFF riff(nullptr, nullptr);
  for (const char* form : {"AVI ", "WAVE", "CDXA", "ACON"}) {
    Bytes header = Riff(form, 100);
    header.PadTo(33);
    EXPECT_EQ(riff.IsHeaderMatched(header.data(), 33, 0), kAVI) << form;
    EXPECT_EQ(riff.IsHeaderMatched(header.data(), 32, 0), 0u) << form;
  }
  Bytes rifx;
  rifx.Text("RIFX").U32BE(100).Text("WAVE").PadTo(64);
  Bytes midi = Riff("RMID", 100);
  Bytes zero = Riff("WAVE", 0);
  EXPECT_EQ(riff.IsHeaderMatched(rifx.data(), 64, 0), 0u);
  EXPECT_EQ(riff.IsHeaderMatched(midi.PadTo(64).data(), 64, 0), 0u);
  EXPECT_EQ(riff.IsHeaderMatched(zero.PadTo(64).data(), 64, 0), 0u);
}

TEST(Riff, WaveIsSizePlusEightAndRenamedToWav) {
  trtest::TempDir dir;
  const std::vector<uint8_t> image = RiffImage("WAVE", 1000, 2048);
  {
    Scan scan({kWAV}, &dir);
    scan.Feed(image, 512, 64);
  }
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"wav/00000.wav"});
  EXPECT_EQ(dir.Read("wav/00000.wav"), std::vector<uint8_t>(image.begin(), image.begin() + 1008));

  Scan report({kWAV});
  EXPECT_EQ(report.Feed(image, 512, 64), 1u);
  ASSERT_EQ(report.log.reports.size(), 1u);
  EXPECT_EQ(report.log.reports[0].extension, "wav");
  EXPECT_EQ(report.log.reports[0].size, 1008u);
  EXPECT_EQ(report.log.reports[0].complete, 1u);
}

TEST(Riff, AnimatedCursorIsExactlyTheSizeField) {
  trtest::TempDir dir;
  const std::vector<uint8_t> image = RiffImage("ACON", 1000, 2048);
  {
    Scan scan({kANI}, &dir);
    scan.Feed(image, 512, 64);
  }
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"ani/00000.ani"});
  EXPECT_EQ(dir.Read("ani/00000.ani").size(), 1000u);
}

TEST(Riff, VideoCdTrackIsWrittenAsDat) {
  Scan scan({kCDXA});
  scan.Feed(RiffImage("CDXA", 700, 1024), 512, 64);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].extension, "dat");
  EXPECT_EQ(scan.log.reports[0].size, 708u);
}

TEST(Riff, DisabledWaveLeavesNothingAndStopsAtOnce) {
  trtest::TempDir dir;
  const std::vector<uint8_t> image = RiffImage("WAVE", 5000, 6144);
  Scan scan({kAVI}, &dir);
  EXPECT_EQ(scan.Strip(image, 0, 512, 64), 0u);
  EXPECT_EQ(scan.manager()->m_actives.GetCount(), 1);  // not yet removed: cloned this call
  EXPECT_EQ(scan.Strip(image, 512, 512, 64), 0u);
  EXPECT_EQ(scan.manager()->m_actives.GetCount(), 0);
  EXPECT_TRUE(dir.Files().empty());
}

TEST(Riff, DisabledAviIsWrittenWhileFollowedThenDeletedUnreported) {
  trtest::TempDir dir;
  const std::vector<uint8_t> image = RiffImage("AVI ", 1500, 2048);
  Scan scan({kWAV}, &dir);
  scan.Strip(image, 0, 512, 64);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"avi/00000.avi"});
  scan.Strip(image, 512, 512, 64);
  scan.Strip(image, 1024, 512, 64);
  scan.Strip(image, 1536, 512, 64);
  EXPECT_TRUE(dir.Files().empty());

  Scan report({kWAV});
  EXPECT_EQ(report.Feed(image, 512, 64), 0u);
  EXPECT_TRUE(report.log.reports.empty());
}

TEST(Riff, NewHeaderCutsAFileAndIsReportedComplete) {
  std::vector<uint8_t> image = RiffImage("WAVE", 100000, 1024);
  const std::vector<uint8_t> second = RiffImage("WAVE", 700, 1024);
  image.insert(image.end(), second.begin(), second.end());
  Scan scan({kWAV});
  EXPECT_EQ(scan.Feed(image, 512, 64), 2u);
  ASSERT_EQ(scan.log.reports.size(), 2u);
  EXPECT_EQ(scan.log.reports[0].start, 0u);
  EXPECT_EQ(scan.log.reports[0].size, 1024u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
  EXPECT_EQ(scan.log.reports[1].start, 1024u);
  EXPECT_EQ(scan.log.reports[1].size, 708u);
}

TEST(Riff, SizeFieldWrapsInThirtyTwoBits) {
  Bytes b = Riff("WAVE", 0xFFFFFFFC);
  b.PadTo(1024, 0x10);
  Scan wrap({kWAV});
  wrap.Feed(b, 512, 64);
  ASSERT_EQ(wrap.log.reports.size(), 1u);
  EXPECT_EQ(wrap.log.reports[0].size, 4u);  // 0xFFFFFFFC + 8 = 4 in 32 bits
}

TEST(Riff, EachSubTypeReportsWithItsOwnTypeFolderValue) {
  CTypeRecoveryManager manager(0, trtest::RecordReport, nullptr);
  trtest::ReportLog log;
  log.answerFolder = 42;
  manager.m_userValue = reinterpret_cast<uintptr_t>(&log);
  CTypeRecoveryRIFF riff(&manager, nullptr);
  riff.EnableAllSubTypes(0);
  const std::vector<uint8_t> wave = RiffImage("WAVE", 100, 512);
  uint32_t error = 0;
  EXPECT_EQ(riff.Analyse(0, wave.data(), 512, 0, kAVI, &error), 1u);
  EXPECT_EQ(riff.GetSubTypeFolderValue(CTypeRecoveryRIFF::kWav), 42u);
  EXPECT_EQ(riff.GetSubTypeFolderValue(CTypeRecoveryRIFF::kAvi), 0u);
  log.answerFolder = 9;
  const std::vector<uint8_t> avi = RiffImage("AVI ", 100, 512);
  riff.Analyse(512, avi.data(), 512, 0, kAVI, &error);
  EXPECT_EQ(riff.GetSubTypeFolderValue(CTypeRecoveryRIFF::kAvi), 9u);
  EXPECT_EQ(riff.GetSubTypeFolderValue(CTypeRecoveryRIFF::kWav), 42u);
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].typeFolder, 0u);
  EXPECT_EQ(log.reports[1].typeFolder, 0u);
}

TEST(Riff, FlagsFollowTheRegistryOrderAndTheClone) {
  CTypeRecoveryRIFF riff(nullptr, nullptr);
  EXPECT_TRUE(riff.EnableSubType(kCDXA, 0));
  EXPECT_FALSE(riff.EnableSubType(513, 0));
  std::unique_ptr<CTypeRecovery> clone(riff.Clone());
  auto* copy = static_cast<CTypeRecoveryRIFF*>(clone.get());
  EXPECT_TRUE(copy->IsSubTypeEnabled(CTypeRecoveryRIFF::kCdxa));
  EXPECT_FALSE(copy->IsSubTypeEnabled(CTypeRecoveryRIFF::kAvi));
  EXPECT_FALSE(copy->IsSubTypeEnabled(CTypeRecoveryRIFF::kWav));
}

TEST(Riff, ProgressRecordHoldsFlagsAndTheSubTypeCode) {
  const std::vector<uint8_t> image = RiffImage("ACON", 3000, 4096);
  Scan scan({kANI, kAVI});
  scan.Strip(image, 0, 512, 64);
  const std::vector<uint8_t> saved = trtest::SavedProgress(scan.manager());
  ASSERT_EQ(saved.size(), 60u + 4 + 4 + 4);
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 60, saved.begin() + 64),
            (std::vector<uint8_t>{1, 0, 0, 1}));
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 64, saved.begin() + 68),
            (std::vector<uint8_t>{0x1E, 0x06, 0, 0}));  // 1566

  const std::vector<trtest::Report> resumed =
      trtest::ResumedRun({kANI, kAVI}, image, 512, 64, 1024);
  ASSERT_EQ(resumed.size(), 1u);
  EXPECT_EQ(resumed[0].extension, "ani");
  EXPECT_EQ(resumed[0].size, 3000u);
  EXPECT_EQ(resumed[0].complete, 1u);
}

}  // namespace
