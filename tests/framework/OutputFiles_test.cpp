#include <gtest/gtest.h>

#include <filesystem>

#include "interface/Manager.h"
#include "platform/FileSystem.h"
#include "support/FakeRecognizer.h"
#include "support/TestSupport.h"

using trtest::Bytes;
using trtest::FakeRecognizer;
using trtest::TempDir;

namespace {

struct FolderManager {
  TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  ~FolderManager() { TypeRecovery_CloseManager(m); }
};

}  // namespace

TEST(OutputFiles, NamesAreNumberedInPerExtensionAndPerThousandFolders) {
  FolderManager f;
  FakeRecognizer r(513, f.m, f.m->m_outputRoot, u"jpg");
  uint32_t counter = 0;
  ASSERT_EQ(r.CreateOutputFile(&counter), 1u);
  EXPECT_EQ(counter, 1u);
  r.CloseOutputFile();
  counter = 1000;
  ASSERT_EQ(r.CreateOutputFile(&counter), 1u);
  r.CloseOutputFile();
  counter = 123456;
  ASSERT_EQ(r.CreateOutputFile(&counter), 1u);
  r.CloseOutputFile();
  EXPECT_EQ(f.dir.Files(),
            (std::vector<std::string>{"jpg(001)/01000.jpg", "jpg(123)/123456.jpg", "jpg/00000.jpg"}));
}

TEST(OutputFiles, ExistingNamesAreSkippedAndTheCounterEndsOnePastTheNewFile) {
  FolderManager f;
  f.dir.Write("jpg/00005.jpg", {1});
  f.dir.Write("jpg/00006.jpg", {2});
  FakeRecognizer r(513, f.m, f.m->m_outputRoot, u"jpg");
  uint32_t counter = 5;
  ASSERT_EQ(r.CreateOutputFile(&counter), 1u);
  EXPECT_EQ(counter, 8u);
  EXPECT_EQ(trtest::U8(r.GetOutputPath()), f.dir.path() + "\\jpg\\00007.jpg");
  r.CloseOutputFile();
  EXPECT_EQ(f.dir.Read("jpg/00005.jpg"), std::vector<uint8_t>{1});
}

TEST(OutputFiles, RestrictedSizeKeepsFilesUpToItAndDeletesLarger) {
  FolderManager f;
  TypeRecovery_SetRestrictedSize(f.m, 1000);
  FakeRecognizer r(513, f.m, f.m->m_outputRoot, u"jpg");
  std::vector<uint8_t> bytes(1001, 'a');
  uint32_t error = 0;
  r.BeginFile(0, &error);
  r.TakeBytes(bytes.data(), 1000, &error);
  r.EndFile(1);
  r.BeginFile(0, &error);
  r.TakeBytes(bytes.data(), 1001, &error);
  r.EndFile(1);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(f.dir.Files(), std::vector<std::string>{"jpg/00000.jpg"});
  EXPECT_EQ(r.GetFileCounter(), 2u);  // the deleted file keeps its number
}

// The size at close is known without asking the file system: a file taken
// back after a stop counts the bytes it held then.
TEST(OutputFiles, AnAdoptedFileCountsItsEarlierBytesAtClose) {
  for (uint32_t more : {50u, 200u}) {
    FolderManager f;
    TypeRecovery_SetRestrictedSize(f.m, 1000);
    const std::vector<uint8_t> earlier(900, 'a');
    f.dir.Write("jpg/00000.jpg", earlier);
    typerecovery::FileSystem& fs = typerecovery::CurrentFileSystem();
    TypeRecoveryFile file = fs.CreateForWriting((f.dir.root() + u"\\jpg\\00000.jpg").c_str());
    ASSERT_TRUE(typerecovery::WriteAll(file, earlier.data(), 900));
    FakeRecognizer r(513, f.m, f.m->m_outputRoot, u"jpg");
    r.ForceInProgress(0, 0);
    ASSERT_TRUE(r.AdoptOutputFile(file, u"jpg\\00000.jpg"));
    const std::vector<uint8_t> tail(more, 'b');
    uint32_t error = 0;
    r.TakeBytes(tail.data(), more, &error);
    r.EndFile(1);
    EXPECT_EQ(f.dir.Files().size(), more == 50u ? 1u : 0u);  // 1100 bytes are over the limit
    if (more == 50u) {
      EXPECT_EQ(f.dir.Read("jpg/00000.jpg").size(), 950u);
    }
  }
}

TEST(OutputFiles, RenamingCloseMovesIntoTheFinalExtensionsFolderAndDropsTheEmptyOne) {
  FolderManager f;
  f.dir.Write("doc/00003.doc", {9});  // a collision with the wanted name
  FakeRecognizer r(2305, f.m, f.m->m_outputRoot, u"ole2");
  r.SetFileCounter(3);
  uint32_t error = 0;
  r.BeginFile(0, &error);
  EXPECT_EQ(r.GetFileCounter(), 4u);
  uint8_t data[4] = {1, 2, 3, 4};
  r.TakeBytes(data, 4, &error);
  r.SetExtension(u"doc");
  r.CloseAndRenameOutputFile();
  EXPECT_EQ(f.dir.Files(), (std::vector<std::string>{"doc/00003.doc", "doc/00004.doc"}));
  EXPECT_EQ(f.dir.Read("doc/00004.doc"), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(r.GetFileCounter(), 4u);
  // The emptied folder stays until the sweep of saves and the end, which
  // the prototype of the class makes.
  EXPECT_TRUE(std::filesystem::is_directory(f.dir.path() + "/ole2"));
  FakeRecognizer prototype(2305, f.m, f.m->m_outputRoot, u"ole2");
  prototype.SetFileCounter(r.GetFileCounter());
  prototype.RemoveEmptyFolders();
  EXPECT_FALSE(std::filesystem::exists(f.dir.path() + "/ole2"));
  EXPECT_TRUE(std::filesystem::is_directory(f.dir.path() + "/doc"));
}

TEST(OutputFiles, RenamingCloseToTheSameNameOnlyCloses) {
  FolderManager f;
  FakeRecognizer r(2305, f.m, f.m->m_outputRoot, u"doc");
  uint32_t error = 0;
  r.BeginFile(0, &error);
  r.CloseAndRenameOutputFile();
  EXPECT_EQ(f.dir.Files(), std::vector<std::string>{"doc/00000.doc"});
}

TEST(OutputFiles, DiscardDeletesTheFileAndGivesItsNumberBack) {
  FolderManager f;
  FakeRecognizer r(2305, f.m, f.m->m_outputRoot, u"ole2");
  r.SetFileCounter(7);
  uint32_t error = 0;
  r.BeginFile(0, &error);
  EXPECT_EQ(r.GetFileCounter(), 8u);
  r.DiscardOutputFile();
  EXPECT_EQ(r.GetFileCounter(), 7u);
  EXPECT_FALSE(r.IsFileInProgress());
  EXPECT_TRUE(f.dir.Files().empty());  // the emptied folder went too

  // In report mode a discard only clears the file in progress.
  FakeRecognizer report(2305, nullptr, nullptr);
  report.SetFileCounter(7);
  report.ForceInProgress(0, 0);
  report.DiscardOutputFile();
  EXPECT_EQ(report.GetFileCounter(), 7u);
  EXPECT_FALSE(report.IsFileInProgress());
}

namespace {
// Passes everything to the native backend but fails writes and creates on demand.
class FailingFileSystem : public typerecovery::FileSystem {
 public:
  explicit FailingFileSystem(typerecovery::FileSystem* native) : m_native(native) {}
  bool failCreate = false;
  bool failWrite = false;
  bool Exists(const char16_t* p) override { return m_native->Exists(p); }
  void CreateFolder(const char16_t* p) override { m_native->CreateFolder(p); }
  TypeRecoveryFile CreateForWriting(const char16_t* p) override {
    return failCreate ? TYPERECOVERY_INVALID_FILE : m_native->CreateForWriting(p);
  }
  bool Write(TypeRecoveryFile f, const void* d, uint32_t n, uint32_t* done) override {
    if (failWrite) {
      *done = 0;
      return false;
    }
    return m_native->Write(f, d, n, done);
  }
  bool Read(TypeRecoveryFile f, void* d, uint32_t n, uint32_t* done) override {
    return m_native->Read(f, d, n, done);
  }
  bool SizeOf(TypeRecoveryFile f, uint64_t* s) override { return m_native->SizeOf(f, s); }
  void Close(TypeRecoveryFile f) override { m_native->Close(f); }
  void DeleteFile(const char16_t* p) override { m_native->DeleteFile(p); }
  void MoveFile(const char16_t* a, const char16_t* b) override { m_native->MoveFile(a, b); }
  void RemoveEmptyFolder(const char16_t* p) override { m_native->RemoveEmptyFolder(p); }

 private:
  typerecovery::FileSystem* m_native;
};
}  // namespace

TEST(OutputFiles, CreateOrWriteFailuresRaiseTheErrorFlagAndTheFileIsStillFollowed) {
  FolderManager f;
  FailingFileSystem failing(&typerecovery::CurrentFileSystem());
  typerecovery::FileSystem* previous = typerecovery::SetFileSystem(&failing);
  FakeRecognizer r(513, f.m, f.m->m_outputRoot, u"jpg");
  uint32_t error = 0;
  failing.failCreate = true;
  r.BeginFile(0, &error);
  EXPECT_EQ(error, 1u);
  EXPECT_TRUE(r.IsFileInProgress());
  r.EndFile(1);

  error = 0;
  failing.failCreate = false;
  failing.failWrite = true;
  r.BeginFile(0, &error);
  EXPECT_EQ(error, 0u);
  uint8_t data[2] = {1, 2};
  r.TakeBytes(data, 2, &error);  // buffered: the failure shows when the bytes are written
  EXPECT_FALSE(r.FlushOutput());
  r.EndFile(1);
  typerecovery::SetFileSystem(previous);
}
