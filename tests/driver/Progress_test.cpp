#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "interface/Manager.h"
#include "platform/FileSystem.h"
#include "support/FakeRecognizer.h"
#include "support/TestSupport.h"

using trtest::Bytes;
using trtest::FakeRecognizer;

namespace {

// A progress file in a temporary folder, opened for writing or reading.
struct ProgressFile {
  trtest::TempDir dir;
  std::string path = dir.path() + "/progress";
  TypeRecoveryFile OpenForWrite() {
    return TYPERECOVERY_FILE_FROM_FD(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
  }
  TypeRecoveryFile OpenForRead() { return TYPERECOVERY_FILE_FROM_FD(::open(path.c_str(), O_RDONLY)); }
  // The native backend closes what TYPERECOVERY_FILE_FROM_FD made: the
  // descriptor on POSIX, the HANDLE on Windows.
  static void Close(TypeRecoveryFile f) { typerecovery::NativeFileSystem().Close(f); }
  std::vector<uint8_t> Bytes() const { return trtest::ReadFile(path); }
};

CTypeRecoveryManager* NewReportManager(trtest::ReportLog* log) {
  return TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(log), trtest::RecordReport, nullptr);
}

}  // namespace

TEST(Progress, NoActivesSavesOnlyTheEndMarkerAndLoadingItEmptiesTheActiveList) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m = NewReportManager(&log);
  ProgressFile file;
  TypeRecoveryFile f = file.OpenForWrite();
  EXPECT_EQ(TypeRecovery_SaveProgress(m, f), 1u);
  ProgressFile::Close(f);
  EXPECT_EQ(file.Bytes(), (std::vector<uint8_t>{0, 0, 0, 0}));

  m->m_prototypes.Add(new FakeRecognizer(513, m, nullptr));
  m->m_actives.Add(new FakeRecognizer(513, m, nullptr));
  f = file.OpenForRead();
  EXPECT_EQ(TypeRecovery_LoadProgress(m, f), 1u);
  ProgressFile::Close(f);
  EXPECT_EQ(m->m_actives.GetCount(), 0);
  TypeRecovery_CloseManager(m);
}

TEST(Progress, InvalidHandleAnswersOneAndTouchesNothing) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m = NewReportManager(&log);
  m->m_actives.Add(new FakeRecognizer(513, m, nullptr));
  EXPECT_EQ(TypeRecovery_SaveProgress(m, TYPERECOVERY_INVALID_FILE), 1u);
  EXPECT_EQ(TypeRecovery_LoadProgress(m, TYPERECOVERY_INVALID_FILE), 1u);
  EXPECT_EQ(m->m_actives.GetCount(), 1);
  TypeRecovery_CloseManager(m);
}

TEST(Progress, BaseRecordBytesForIdleAndInProgressRecognizers) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m = NewReportManager(&log);
  FakeRecognizer* idle = new FakeRecognizer(513, m, nullptr);
  idle->SetMaxFileSize(67108864);
  idle->SetFileCounter(3);
  FakeRecognizer* busy = new FakeRecognizer(1539, m, nullptr, u"png");
  busy->SetMaxFileSize(~uint64_t{0});
  busy->SetFileCounter(1);
  busy->ForceInProgress(0x1122334455, 77);
  m->m_actives.Add(idle);
  m->m_actives.Add(busy);

  ProgressFile file;
  TypeRecoveryFile f = file.OpenForWrite();
  ASSERT_EQ(TypeRecovery_SaveProgress(m, f), 1u);
  ProgressFile::Close(f);
  std::vector<uint8_t> expected = Bytes()
      .U32LE(513).U32LE(0).U64LE(67108864).U32LE(3)
      .U32LE(1539).U32LE(1).U64LE(~uint64_t{0}).U32LE(1)
      .U64LE(0x1122334455).U64LE(77).U64LE(0)
      .U16LE('p').U16LE('n').U16LE('g').Zeros(10)
      .U32LE(0);
  EXPECT_EQ(file.Bytes(), expected);
  ASSERT_EQ(expected.size(), 20u + 60u + 4u);
  TypeRecovery_CloseManager(m);
}

TEST(Progress, LoadReplacesTheActivesWithClonesCarryingTheSavedState) {
  trtest::ReportLog log;
  CTypeRecoveryManager* saver = NewReportManager(&log);
  FakeRecognizer* busy = new FakeRecognizer(1539, saver, nullptr, u"png");
  busy->SetFileCounter(6);
  busy->ForceInProgress(4096, 100);
  saver->m_actives.Add(busy);
  ProgressFile file;
  TypeRecoveryFile f = file.OpenForWrite();
  ASSERT_EQ(TypeRecovery_SaveProgress(saver, f), 1u);
  ProgressFile::Close(f);
  TypeRecovery_CloseManager(saver);

  CTypeRecoveryManager* loader = NewReportManager(&log);
  FakeRecognizer* prototype = new FakeRecognizer(1539, loader, nullptr, u"xyz");
  prototype->SetTypeFolderValue(31);
  loader->m_prototypes.Add(prototype);
  loader->m_actives.Add(new FakeRecognizer(1539, loader, nullptr));
  f = file.OpenForRead();
  ASSERT_EQ(TypeRecovery_LoadProgress(loader, f), 1u);
  ProgressFile::Close(f);
  ASSERT_EQ(loader->m_actives.GetCount(), 1);
  CTypeRecovery* loaded = loader->m_actives.GetAt(0);
  EXPECT_TRUE(loaded->IsFileInProgress());
  EXPECT_FALSE(loaded->HasOpenOutputFile());
  EXPECT_EQ(loaded->GetFileStart(), 4096u);
  EXPECT_EQ(loaded->GetFileCounter(), 6u);
  EXPECT_EQ(loaded->GetTypeFolderValue(), 31u);  // the prototype's, no callback set
  EXPECT_EQ(trtest::U8(loaded->GetExtension()), "png");

  // The file is followed to its end and reported from the saved start.
  std::vector<uint8_t> end = Bytes().Text("FAKEEND!").PadTo(64);
  uint32_t error = 0;
  EXPECT_EQ(TypeRecovery_Analyse(loader, 8192, end.data(), 64, 0, &error), 1u);
  ASSERT_EQ(log.reports.size(), 1u);
  EXPECT_EQ(log.reports[0].start, 4096u);
  EXPECT_EQ(log.reports[0].complete, 1u);
  TypeRecovery_CloseManager(loader);
}

TEST(Progress, ARecordOfAnUnknownClassOrAShortFileFailsTheLoad) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m = NewReportManager(&log);
  m->m_prototypes.Add(new FakeRecognizer(513, m, nullptr));
  ProgressFile file;
  {
    TypeRecoveryFile f = file.OpenForWrite();
    std::vector<uint8_t> bytes = Bytes().U32LE(513).U32LE(0).U64LE(5).U32LE(1)
                                     .U32LE(999).U32LE(0).U64LE(5).U32LE(1).U32LE(0);
    ASSERT_TRUE(typerecovery::WriteAll(f, bytes.data(), static_cast<uint32_t>(bytes.size())));
    ProgressFile::Close(f);
  }
  TypeRecoveryFile f = file.OpenForRead();
  EXPECT_EQ(TypeRecovery_LoadProgress(m, f), 0u);
  ProgressFile::Close(f);
  EXPECT_EQ(m->m_actives.GetCount(), 1);  // the record before the failure stays

  ProgressFile empty;
  f = empty.OpenForWrite();
  ProgressFile::Close(f);
  f = empty.OpenForRead();
  EXPECT_EQ(TypeRecovery_LoadProgress(m, f), 0u);
  ProgressFile::Close(f);
  EXPECT_EQ(m->m_actives.GetCount(), 0);
  TypeRecovery_CloseManager(m);
}
