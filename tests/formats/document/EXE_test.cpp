// Portable executables: header tests, section-table walk, kinds chosen by the
// version resource's file name, fault containment and progress.
#include <gtest/gtest.h>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/EXE.h"
#include "interface/Manager.h"
#include "platform/FileSystem.h"
#include "support/Carving.h"

using trtest::Bytes;

namespace {

constexpr uint32_t kPeAt = 64;

// A PE image: MZ header, PE header with a 224-byte optional header, the
// section table, and raw data. A version name, when given, is stored as
// "OriginalFilename" and its value in UTF-16 at versionAt.
std::vector<uint8_t> Pe(const std::vector<uint32_t>& rawSizes, uint32_t headerSize, const std::string& versionName = "",
                        size_t versionAt = 0x300) {
  Bytes b;
  b.Text("MZ").U16LE(0x90).U16LE(3).U16LE(0).U16LE(4).U16LE(0).U16LE(0xFFFF).U16LE(0).U16LE(0xB8).PadTo(60).U32LE(kPeAt);
  b.Text("PE").Zeros(2).U16LE(0x14C).U16LE(static_cast<uint16_t>(rawSizes.size())).Zeros(12).U16LE(224).U16LE(0x102);
  b.PadTo(kPeAt + 84).U32LE(headerSize).PadTo(kPeAt + 24 + 224);
  uint32_t offset = headerSize;
  for (uint32_t raw : rawSizes) {
    b.Text(".sect").Zeros(3).U32LE(raw).U32LE(0x1000).U32LE(raw).U32LE(offset).Zeros(16);
    offset += raw;
  }
  std::vector<uint8_t> image = b.PadTo(offset, 0x90);
  if (!versionName.empty()) {
    const std::vector<uint8_t> v = Bytes().Raw(crafted::Wide("OriginalFilename")).Zeros(4).Raw(crafted::Wide(versionName)).Zeros(2);
    std::copy(v.begin(), v.end(), image.begin() + static_cast<long>(versionAt));
  }
  return image;
}

std::vector<uint8_t> WithFiller(std::vector<uint8_t> file, size_t total, uint8_t fill = 0x3C) {
  file.resize(total, fill);
  return file;
}

}  // namespace

TEST(Exe, StrictTestWantsTheUsualStubLooseTestOnlyWhenVerifying) {
  CTypeRecoveryEXE r(nullptr, nullptr);
  const std::vector<uint8_t> good = Pe({512}, 512);
  std::vector<uint8_t> pe = good;
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 512, 0), 2319u);
  pe[2] = 0x50;  // bytes on the last page
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 512, 0), 0u);
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 512, 1), 2319u);
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 64, 1), 0u);  // loose test wants 65 bytes
  EXPECT_EQ(r.IsHeaderMatched(nullptr, 512, 1), 0u);
  // The PE header or its optional header beyond the buffer.
  EXPECT_EQ(r.IsHeaderMatched(good.data(), kPeAt + 2 + 224 - 2, 0), 0u);
  std::vector<uint8_t> far = good;
  far[60] = 0xF0;
  far[61] = 0xFF;
  EXPECT_EQ(r.IsHeaderMatched(far.data(), 512, 0), 0u);
}

TEST(Exe, KindsComeFromTheVersionNameAndOnlyAddedKindsAreKept) {
  struct Case { std::vector<trtest::AddedType> types; std::string name; std::string path; };
  const Case cases[] = {
      {{{2322}}, "SAMPLE.DLL", "dll/00000.dll"},  // upper case, renamed by the close
      {{{2319}, {2322}}, "tool.exe", "exe/00000.exe"},
      {{{2319}, {2322}}, "", "exe/00000.exe"},
      {{{2319}}, "x.dll", ""},
      {{{2322}}, "x.exe", ""},  // the generic flag is off, as after adding all types
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> pe = Pe({2048}, 1024, c.name);
    std::vector<crafted::Carved> files;
    if (!c.path.empty()) files.push_back({c.path, 0, pe.size(), 1, pe});
    crafted::ExpectCarved(c.types, WithFiller(pe, 4096), files);
  }
}

TEST(Exe, SizeIsHeadersPlusRawData) {
  const std::vector<uint8_t> pe = Pe({1024, 700, 0, 300}, 1024);
  crafted::ExpectRuns({{"an overlay is cut", {{2319}}, WithFiller(pe, 4096), 512, 512, {{0, pe.size(), 1}}}});
  // Zero sections: the file runs until the flush.
  const std::vector<uint8_t> none = WithFiller(Pe({}, 512), 3072, 0x21);
  const auto reports = trtest::ReportRun({{2319}}, none, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].complete, 0u);
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{2319}}, none, 512, 512);
  EXPECT_EQ(dir.Read("exe/00000.exe"), none);
  // Strips of 400 bytes, no lookahead: the third section header starts at
  // 392 and its size field lies in the second strip.
  const std::vector<uint8_t> three = Pe({1000, 2000, 3000}, 512);
  CTypeRecoveryEXE r(nullptr, nullptr);
  r.EnableAllSubTypes(0);
  uint32_t error = 0;
  r.Analyse(0, three.data(), 400, 0, 2319, &error);
  EXPECT_EQ(r.GetExpectedSize(), 0u);
  r.Analyse(400, three.data() + 400, 400, 0, 0, &error);
  EXPECT_EQ(r.GetExpectedSize(), three.size());
}

namespace {

// Creating an output file fails with an exception, as a processor fault
// turned into one would.
class ThrowingFileSystem : public typerecovery::FileSystem {
 public:
  explicit ThrowingFileSystem(typerecovery::FileSystem* native) : m_native(native) {}
  bool Exists(const char16_t* p) override { return m_native->Exists(p); }
  void CreateFolder(const char16_t* p) override { m_native->CreateFolder(p); }
  TypeRecoveryFile CreateForWriting(const char16_t*) override { throw CR_SEHException(); }
  bool Write(TypeRecoveryFile f, const void* d, uint32_t s, uint32_t* n) override { return m_native->Write(f, d, s, n); }
  bool Read(TypeRecoveryFile f, void* d, uint32_t s, uint32_t* n) override { return m_native->Read(f, d, s, n); }
  bool SizeOf(TypeRecoveryFile f, uint64_t* s) override { return m_native->SizeOf(f, s); }
  void Close(TypeRecoveryFile f) override { m_native->Close(f); }
  void DeleteFile(const char16_t* p) override { m_native->DeleteFile(p); }
  void MoveFile(const char16_t* a, const char16_t* b) override { m_native->MoveFile(a, b); }
  void RemoveEmptyFolder(const char16_t* p) override { m_native->RemoveEmptyFolder(p); }

 private:
  typerecovery::FileSystem* m_native;
};

}  // namespace

TEST(Exe, ExceptionInsideAnalyseIsContainedAndAnswersZero) {
  trtest::TempDir dir;
  ThrowingFileSystem throwing(&typerecovery::CurrentFileSystem());
  typerecovery::FileSystem* previous = typerecovery::SetFileSystem(&throwing);
  CTypeRecoveryEXE r(nullptr, dir.root().c_str());
  const std::vector<uint8_t> pe = Pe({512}, 512);
  uint32_t error = 0;
  uint32_t result = 99;
  EXPECT_NO_THROW(result = r.Analyse(0, pe.data(), 512, 0, 2319, &error));
  typerecovery::SetFileSystem(previous);
  EXPECT_EQ(result, 0u);
  EXPECT_TRUE(r.IsFileInProgress());  // left as the fault found it
}

TEST(Exe, ProgressRecordKeepsTheKindAcrossManagers) {
  const std::vector<uint8_t> pe = Pe({3000}, 1024, "driver.sys", 0x100);
  crafted::ExpectResumed({"sys", {{2323}}, WithFiller(pe, 4608), 1024, 512, {{0, pe.size(), 1, "sys"}}}, 1024);
}
