// Output files are written in large pieces, and neither a failed write nor
// a saved progress loses or misstates a byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "interface/Manager.h"
#include "platform/FileSystem.h"
#include "support/FakeRecognizer.h"
#include "support/TestSupport.h"

using trtest::Bytes;
using trtest::FakeRecognizer;
using trtest::TempDir;

namespace {

constexpr uint32_t kStrip = 512;

// Counts the writes to output files; can refuse them.
class CountingFileSystem : public typerecovery::FileSystem {
 public:
  CountingFileSystem() : m_native(&typerecovery::CurrentFileSystem()) {
    m_previous = typerecovery::SetFileSystem(this);
  }
  ~CountingFileSystem() override { typerecovery::SetFileSystem(m_previous); }
  int writes = 0;
  bool refuse = false;
  uint32_t acceptBeforeRefusing = UINT32_MAX;  // bytes of the next write that get through

  bool Exists(const char16_t* p) override { return m_native->Exists(p); }
  void CreateFolder(const char16_t* p) override { m_native->CreateFolder(p); }
  TypeRecoveryFile CreateForWriting(const char16_t* p) override { return m_native->CreateForWriting(p); }
  bool Write(TypeRecoveryFile f, const void* d, uint32_t n, uint32_t* done) override {
    ++writes;
    if (!refuse) return m_native->Write(f, d, n, done);
    *done = 0;
    if (acceptBeforeRefusing != UINT32_MAX) {
      m_native->Write(f, d, std::min(n, acceptBeforeRefusing), done);
      acceptBeforeRefusing = UINT32_MAX;
    }
    return false;
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
  typerecovery::FileSystem* m_previous;
};

// A folder-mode manager with the fake class ("FAKEHDR!" begins a file,
// "FAKEEND!" ends it) and the strips fed so far.
struct Carve {
  TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  uint64_t position = 0;
  std::vector<uint8_t> fed;
  explicit Carve(int classes = 1) {
    for (int i = 0; i < classes; ++i) {
      const char16_t* ext[] = {u"fak", u"fa2", u"fa3"};
      m->m_prototypes.Add(new FakeRecognizer(513 + i, m, m->m_outputRoot, ext[i % 3]));
    }
  }
  ~Carve() { TypeRecovery_CloseManager(m); }
  uint32_t Feed(const std::vector<uint8_t>& strip) {
    std::vector<uint8_t> buffer = strip;
    buffer.resize(strip.size() + 16, 0);
    uint32_t error = 0;
    TypeRecovery_Analyse(m, position, buffer.data(), static_cast<uint32_t>(strip.size()), 0, &error);
    position += strip.size();
    fed.insert(fed.end(), strip.begin(), strip.end());
    return error;
  }
  uint32_t FeedMiddle(int strips) {
    uint32_t error = 0;
    for (int i = 0; i < strips && error == 0; ++i) {
      error = Feed(Bytes().Text("middle").U32LE(static_cast<uint32_t>(i)).PadTo(kStrip, 'm'));
    }
    return error;
  }
};

std::vector<uint8_t> Header() { return Bytes().Text("FAKEHDR!").PadTo(kStrip, 'h'); }
std::vector<uint8_t> End() { return Bytes().Text("FAKEEND!").PadTo(kStrip, 'e'); }

uint64_t SizeOnDisk(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  return static_cast<uint64_t>(size);
}

}  // namespace

TEST(OutputBuffer, ThousandsOfStripsReachTheDiskInAFewWritesAndWhole) {
  CountingFileSystem fs;
  Carve c;
  c.Feed(Header());
  c.FeedMiddle(3000);  // about 1.5 MiB
  c.Feed(End());
  EXPECT_LE(fs.writes, 3);
  EXPECT_EQ(c.dir.Read("fak/00000.fak"), c.fed);
}

TEST(OutputBuffer, SavedProgressFindsTheFileOnDiskUpToTheLastStrip) {
  CountingFileSystem fs;
  Carve c;
  c.Feed(Header());
  c.FeedMiddle(10);
  const std::string state = c.dir.path() + "/state";
  FILE* f = std::fopen(state.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TypeRecovery_SaveProgress(c.m, TYPERECOVERY_FILE_FROM_FD(fileno(f))), 1u);
  std::fclose(f);
  EXPECT_EQ(SizeOnDisk(c.dir.path() + "/fak/00000.fak"), c.fed.size());
  // The carve goes on into the same file after the save.
  c.FeedMiddle(5);
  c.Feed(End());
  EXPECT_EQ(c.dir.Read("fak/00000.fak"), c.fed);
}

TEST(OutputBuffer, AFailedWriteRaisesTheFlagAtItsStripAndLosesNoByte) {
  CountingFileSystem fs;
  Carve c;
  c.Feed(Header());
  fs.refuse = true;
  fs.acceptBeforeRefusing = 1000;  // a short write: part of the buffer reaches the disk
  // No write happens until the buffer is full; the strip that fills it
  // learns of the failure.
  int strips = 1;
  uint32_t error = 0;
  while (error == 0 && strips < 5000) {
    error = c.FeedMiddle(1);
    ++strips;
  }
  EXPECT_EQ(error, 1u);
  EXPECT_GT(strips, 1000);
  // Space again: saving the progress writes everything taken, in order.
  fs.refuse = false;
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TypeRecovery_SaveProgress(c.m, TYPERECOVERY_FILE_FROM_FD(fileno(f))), 1u);
  std::fclose(f);
  EXPECT_EQ(c.dir.Read("fak/00000.fak"), c.fed);
}

TEST(OutputBuffer, ProgressIsNotSavedWhileTheOutputCannotBeWritten) {
  CountingFileSystem fs;
  Carve c;
  c.Feed(Header());
  c.FeedMiddle(4);
  fs.refuse = true;
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(TypeRecovery_SaveProgress(c.m, TYPERECOVERY_FILE_FROM_FD(fileno(f))), 0u);
  std::fclose(f);
}

TEST(OutputBuffer, AFailureAtTheCloseFlagsTheStripThatEndsTheFile) {
  CountingFileSystem fs;
  Carve c;
  c.Feed(Header());
  EXPECT_EQ(c.FeedMiddle(3), 0u);
  fs.refuse = true;
  EXPECT_EQ(c.Feed(End()), 1u);
  // The next strip does not inherit the failure.
  fs.refuse = false;
  EXPECT_EQ(c.FeedMiddle(1), 0u);
}

TEST(OutputBuffer, ThePoolReusesItsBuffersAndAFileBeyondTheBudgetIsWrittenUnbuffered) {
  typerecovery::OutputBufferPool pool;
  constexpr size_t kBuffers = typerecovery::OutputBufferPool::kBudget /
                              typerecovery::OutputBufferPool::kBufferSize;
  std::vector<uint8_t*> taken;
  for (size_t i = 0; i < kBuffers; ++i) taken.push_back(pool.Acquire());
  EXPECT_EQ(std::count(taken.begin(), taken.end(), nullptr), 0);
  EXPECT_EQ(pool.Acquire(), nullptr);

  // A file opened now goes straight to disk, one write per piece.
  CountingFileSystem fs;
  TempDir dir;
  const std::string path = dir.path() + "/out";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  typerecovery::OutputBuffer unbuffered;
  const std::vector<uint8_t> piece = Bytes().Text("piece").PadTo(100, 'p');
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(unbuffered.Write(TYPERECOVERY_FILE_FROM_FD(fileno(f)), &pool, piece.data(), 100));
  }
  EXPECT_EQ(fs.writes, 3);
  unbuffered.Release();
  std::fclose(f);
  EXPECT_EQ(SizeOnDisk(path), 300u);

  uint8_t* back = taken.back();
  pool.Release(back);
  EXPECT_EQ(pool.Acquire(), back);
  for (uint8_t* buffer : taken) pool.Release(buffer);
}
