#include <gtest/gtest.h>

#include "framework/TypeRecovery.h"
#include "interface/Manager.h"
#include "support/FakeRecognizer.h"
#include "support/TestSupport.h"

using trtest::FakeRecognizer;
using trtest::RecordReport;
using trtest::ReportLog;

TEST(Manager, CreationModesFollowRootThenUserValueAndCallback) {
  ReportLog log;
  const uintptr_t user = reinterpret_cast<uintptr_t>(&log);

  // A non-empty root wins: folder mode, the callback and user value are dropped.
  CTypeRecoveryManager* folder = TypeRecovery_CreateManager(user, RecordReport, u"/tmp/x");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->m_foundFile, nullptr);
  EXPECT_EQ(folder->m_userValue, 0u);
  EXPECT_EQ(trtest::U8(folder->m_outputRoot), "/tmp/x");
  EXPECT_EQ(folder->m_restrictedSize, ~uint64_t{0});
  TypeRecovery_CloseManager(folder);

  // An empty root (first unit zero) with user value and callback: report mode.
  CTypeRecoveryManager* report = TypeRecovery_CreateManager(5, RecordReport, u"");
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(report->m_outputRoot, nullptr);
  EXPECT_EQ(report->m_userValue, 5u);
  TypeRecovery_CloseManager(report);

  EXPECT_EQ(TypeRecovery_CreateManager(0, RecordReport, nullptr), nullptr);
  EXPECT_EQ(TypeRecovery_CreateManager(5, nullptr, nullptr), nullptr);
}

TEST(Manager, NullManagerMakesEveryFunctionANoOp) {
  uint8_t strip[32] = {'F', 'A', 'K', 'E', 'H', 'D', 'R', '!'};
  uint32_t error = 0;
  CDynArray<tag_FileTypeProperty> types;
  TypeRecovery_SetRestrictedSize(nullptr, 10);
  TypeRecovery_AddType(nullptr, 513, 10);
  TypeRecovery_AddAllTypes(nullptr);
  TypeRecovery_CloseManager(nullptr);
  EXPECT_EQ(TypeRecovery_GetAllSupportedFileTypes(nullptr, &types), 0u);
  EXPECT_EQ(TypeRecovery_Analyse(nullptr, 0, strip, 16, 16, &error), 0u);
  EXPECT_EQ(TypeRecovery_Flush(nullptr), 0u);
  EXPECT_EQ(TypeRecovery_SaveProgress(nullptr, TYPERECOVERY_INVALID_FILE), 0u);
  EXPECT_EQ(TypeRecovery_LoadProgress(nullptr, TYPERECOVERY_INVALID_FILE), 0u);
  EXPECT_EQ(types.GetCount(), 0);
  EXPECT_EQ(error, 0u);
}

TEST(Manager, CloseWithAnOpenOutputFileKeepsWhatWasWrittenAndReportsNothing) {
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  ASSERT_NE(m, nullptr);
  m->m_prototypes.Add(new FakeRecognizer(1537, m, m->m_outputRoot));
  std::vector<uint8_t> strip = trtest::Bytes().Text("FAKEHDR!").PadTo(512, 'x');
  uint32_t error = 0;
  EXPECT_EQ(TypeRecovery_Analyse(m, 0, strip.data(), 512, 0, &error), 0u);
  ASSERT_EQ(m->m_actives.GetCount(), 1);
  TypeRecovery_CloseManager(m);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"fak/00000.fak"});
  EXPECT_EQ(dir.Read("fak/00000.fak"), strip);
}

TEST(Manager, FolderIdCallbackIsProcessWideAndAskedOnLoad) {
  struct Local {
    static uint32_t Folder(uintptr_t user, const char16_t*) { return static_cast<uint32_t>(user) + 40; }
  };
  ReportLog log;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(2, RecordReport, nullptr);
  bool has = true;
  EXPECT_EQ(m->AskTypeFolderId(u"jpg", &has), 0u);
  EXPECT_FALSE(has);
  TypeRecovery_SetFuncGetTypeFolderID(&Local::Folder);
  EXPECT_EQ(m->AskTypeFolderId(u"jpg", &has), 42u);
  EXPECT_TRUE(has);
  TypeRecovery_SetFuncGetTypeFolderID(nullptr);
  EXPECT_EQ(m->AskTypeFolderId(u"jpg", &has), 0u);
  TypeRecovery_CloseManager(m);
}
