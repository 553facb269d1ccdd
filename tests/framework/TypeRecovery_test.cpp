#include <gtest/gtest.h>

#include "interface/Manager.h"
#include "support/FakeRecognizer.h"
#include "support/TestSupport.h"

using trtest::FakeRecognizer;
using trtest::ReportLog;

TEST(RecognizerBase, RootGetsOneBackslashUnlessItEndsInOne) {
  FakeRecognizer plain(1, nullptr, u"D:\\out");
  EXPECT_EQ(trtest::U8(plain.GetOutputPath()), "D:\\out\\");
  EXPECT_EQ(plain.GetRootLength(), 7u);
  FakeRecognizer ended(1, nullptr, u"D:\\out\\");
  EXPECT_EQ(trtest::U8(ended.GetOutputPath()), "D:\\out\\");
  EXPECT_EQ(ended.GetRootLength(), 7u);
  FakeRecognizer none(1, nullptr, nullptr);
  EXPECT_EQ(none.GetOutputPath(), nullptr);
  FakeRecognizer empty(1, nullptr, u"");
  EXPECT_EQ(empty.GetOutputPath(), nullptr);
}

TEST(RecognizerBase, ReportModeCreatesNothingAndKeepsTheCounter) {
  FakeRecognizer r(1, nullptr, nullptr);
  uint32_t counter = 4;
  EXPECT_EQ(r.CreateOutputFile(&counter), 1u);
  EXPECT_EQ(counter, 4u);
  EXPECT_FALSE(r.HasOpenOutputFile());
}

TEST(RecognizerBase, CloneTakesLimitCounterAndFolderValueOnlyAndMergesCounterBack) {
  FakeRecognizer prototype(513, nullptr, nullptr);
  prototype.SetMaxFileSize(1000);
  prototype.SetFileCounter(10);
  prototype.SetTypeFolderValue(77);
  prototype.ForceInProgress(5, 6);

  CTypeRecovery* clone = prototype.Clone();
  EXPECT_EQ(clone->GetMaxFileSize(), 1000u);
  EXPECT_EQ(clone->GetFileCounter(), 10u);
  EXPECT_EQ(clone->GetTypeFolderValue(), 77u);
  EXPECT_FALSE(clone->IsFileInProgress());
  EXPECT_EQ(clone->GetFileStart(), 0u);
  EXPECT_EQ(clone->GetPrototype(), &prototype);

  clone->SetFileCounter(12);
  clone->SetTypeFolderValue(3);
  clone->HandBackToPrototype();
  delete clone;
  EXPECT_EQ(prototype.GetFileCounter(), 12u);
  EXPECT_EQ(prototype.GetTypeFolderValue(), 3u);

  clone = prototype.Clone();
  clone->SetFileCounter(3);
  clone->HandBackToPrototype();
  delete clone;
  EXPECT_EQ(prototype.GetFileCounter(), 12u);  // the larger number stays
}

TEST(RecognizerBase, FinishFileReportsInProgressFilesAsCutAndIdleOnesNotAtAll) {
  ReportLog log;
  log.answerFolder = 9;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  FakeRecognizer r(513, m, nullptr);
  EXPECT_EQ(r.FinishFile(), 0u);
  EXPECT_TRUE(log.reports.empty());

  r.ForceInProgress(4096, 1234);
  EXPECT_EQ(r.FinishFile(), 1u);
  ASSERT_EQ(log.reports.size(), 1u);
  EXPECT_EQ(log.reports[0].start, 4096u);
  EXPECT_EQ(log.reports[0].size, 1234u);
  EXPECT_EQ(log.reports[0].complete, 0u);
  EXPECT_EQ(log.reports[0].extension, "fak");
  EXPECT_FALSE(log.reports[0].hasPicture);
  EXPECT_EQ(r.GetTypeFolderValue(), 9u);
  EXPECT_FALSE(r.IsFileInProgress());
  EXPECT_EQ(r.GetExpectedSize(), 0u);
  EXPECT_EQ(r.GetFileStart(), 4096u);
  TypeRecovery_CloseManager(m);
}

TEST(RecognizerBase, FinishFileInFolderModeClearsTheFolderValue) {
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  FakeRecognizer r(513, m, m->m_outputRoot);
  r.SetTypeFolderValue(5);
  r.ForceInProgress(0, 10);
  EXPECT_EQ(r.FinishFile(), 1u);
  EXPECT_EQ(r.GetTypeFolderValue(), 0u);
  TypeRecovery_CloseManager(m);
}

TEST(RecognizerBase, HeldBlocksAreCopiesFreedWithTheRecognizer) {
  FakeRecognizer r(1, nullptr, nullptr);
  uint8_t data[3] = {1, 2, 3};
  r.HoldBlock(data, 3);
  data[0] = 9;
  ASSERT_EQ(r.m_heldBlocks.GetCount(), 1);
  EXPECT_EQ(r.m_heldBlocks.GetAt(0).data[0], 1);
  EXPECT_EQ(CTypeRecovery::ReverseBytes(0x11223344), 0x44332211u);
}
