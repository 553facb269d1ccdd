// Portable executables: header tests, section-table walk, kinds and flags.
#include <gtest/gtest.h>
#include <stdexcept>

#include "formats/document/EXE.h"
#include "interface/Manager.h"
#include "platform/FileSystem.h"
#include "support/Carving.h"

using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

constexpr uint32_t kPeAt = 64;
constexpr uint32_t kSectionTableAt = kPeAt + 24 + 224;

// A PE image: MZ header, PE header with a 224-byte optional header, the
// section table, and raw data. A version name, when given, is stored as
// "OriginalFilename" and its value in UTF-16 at versionAt.
std::vector<uint8_t> Pe(const std::vector<uint32_t>& rawSizes, uint32_t headerSize,
                        const std::string& versionName = "", size_t versionAt = 0x300) {
  Bytes b;
  b.Text("MZ").U16LE(0x90).U16LE(3).U16LE(0).U16LE(4).U16LE(0).U16LE(0xFFFF).U16LE(0);
  b.U16LE(0xB8).U16LE(0).PadTo(60).U32LE(kPeAt);
  b.Text("PE").Zeros(2).U16LE(0x14C).U16LE(static_cast<uint16_t>(rawSizes.size())).Zeros(12);
  b.U16LE(224).U16LE(0x102);
  b.PadTo(kPeAt + 84).U32LE(headerSize).PadTo(kSectionTableAt);
  uint32_t offset = headerSize;
  for (uint32_t raw : rawSizes) {
    b.Text(".sect").Zeros(3).U32LE(raw).U32LE(0x1000).U32LE(raw).U32LE(offset).Zeros(16);
    offset += raw;
  }
  b.PadTo(offset, 0x90);
  std::vector<uint8_t> image = b;
  if (!versionName.empty()) {
    Bytes v;
    for (char c : std::string("OriginalFilename")) v.U16LE(static_cast<uint8_t>(c));
    v.U16LE(0).U16LE(0);  // terminator and alignment
    for (char c : versionName) v.U16LE(static_cast<uint8_t>(c));
    v.U16LE(0);
    std::copy(v.vec().begin(), v.vec().end(), image.begin() + static_cast<long>(versionAt));
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
  std::vector<uint8_t> pe = Pe({512}, 512);
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 512, 0), 2319u);
  pe[2] = 0x50;  // bytes on the last page
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 512, 0), 0u);
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 512, 1), 2319u);
  EXPECT_EQ(r.IsHeaderMatched(pe.data(), 64, 1), 0u);  // loose test wants 65 bytes
  EXPECT_EQ(r.IsHeaderMatched(nullptr, 512, 1), 0u);
  // The PE header or its optional header beyond the buffer.
  const std::vector<uint8_t> good = Pe({512}, 512);
  EXPECT_EQ(r.IsHeaderMatched(good.data(), kPeAt + 2 + 224 - 2, 0), 0u);
  std::vector<uint8_t> far = good;
  far[60] = 0xF0;
  far[61] = 0xFF;
  EXPECT_EQ(r.IsHeaderMatched(far.data(), 512, 0), 0u);
}

TEST(Exe, SizeIsHeadersPlusRawDataAndAnOverlayIsCut) {
  const std::vector<uint8_t> pe = Pe({1024, 700, 0, 300}, 1024);
  const auto image = WithFiller(pe, 4096);
  const auto reports = ReportRun({{2319}}, image, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, pe.size());
  EXPECT_EQ(reports[0].complete, 1u);
  trtest::TempDir dir;
  FolderRun(dir, {{2319}}, image, 512, 512);
  EXPECT_EQ(dir.Read("exe/00000.exe"), pe);
}

TEST(Exe, UpperCaseDllNameMakesADllByTheRenamingClose) {
  const std::vector<uint8_t> pe = Pe({2048}, 1024, "SAMPLE.DLL");
  trtest::TempDir dir;
  FolderRun(dir, {{2322}}, WithFiller(pe, 4096), 512, 512);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"dll/00000.dll"});
  EXPECT_EQ(dir.Read("dll/00000.dll"), pe);
  const auto reports = ReportRun({{2322}}, WithFiller(pe, 4096), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "dll");
}

TEST(Exe, ExeNameAndNoNameStayGeneric) {
  for (const std::string& name : {std::string("tool.exe"), std::string()}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> pe = Pe({2048}, 1024, name);
    trtest::TempDir dir;
    FolderRun(dir, {{2319}, {2322}}, WithFiller(pe, 4096), 512, 512);
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"exe/00000.exe"});
  }
}

TEST(Exe, DisabledKindsAreDiscarded) {
  const std::vector<uint8_t> dll = Pe({2048}, 1024, "x.dll");
  const std::vector<uint8_t> exe = Pe({2048}, 1024, "x.exe");
  trtest::TempDir onlyGeneric;
  FolderRun(onlyGeneric, {{2319}}, WithFiller(dll, 4096), 512, 512);
  EXPECT_TRUE(onlyGeneric.Files().empty());
  // With the generic flag off (as after adding all types) a plain program goes.
  trtest::TempDir onlyDll;
  FolderRun(onlyDll, {{2322}}, WithFiller(exe, 4096), 512, 512);
  EXPECT_TRUE(onlyDll.Files().empty());
  EXPECT_TRUE(ReportRun({{2322}}, WithFiller(exe, 4096), 512, 512).empty());
}

TEST(Exe, ZeroSectionsRunUntilTheFlush) {
  const std::vector<uint8_t> pe = Pe({}, 512);
  const auto image = WithFiller(pe, 3072, 0x21);
  const auto reports = ReportRun({{2319}}, image, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].complete, 0u);
  trtest::TempDir dir;
  FolderRun(dir, {{2319}}, image, 512, 512);
  EXPECT_EQ(dir.Read("exe/00000.exe"), image);
}

TEST(Exe, SectionTableAcrossTheStripBoundaryGivesTheSizeInTheSecondStrip) {
  // Strips of 400 bytes, no lookahead: the third section header starts at
  // 392 and its size field lies in the second strip.
  const std::vector<uint8_t> pe = Pe({1000, 2000, 3000}, 512);
  CTypeRecoveryEXE r(nullptr, nullptr);
  r.EnableAllSubTypes(0);
  uint32_t error = 0;
  r.Analyse(0, pe.data(), 400, 0, 2319, &error);
  EXPECT_EQ(r.GetExpectedSize(), 0u);
  r.Analyse(400, pe.data() + 400, 400, 0, 0, &error);
  EXPECT_EQ(r.GetExpectedSize(), pe.size());
}

TEST(Exe, FlagsFollowTheirCodesAndClonesCopyThemAndTheKindFolders) {
  CTypeRecoveryEXE r(nullptr, nullptr);
  for (uint32_t code : CTypeRecoveryEXE::kCodes) EXPECT_FALSE(r.IsSubTypeEnabled(code));
  EXPECT_TRUE(r.EnableSubType(2316, 5));
  EXPECT_FALSE(r.EnableSubType(513, 5));
  EXPECT_TRUE(r.IsSubTypeEnabled(2316));
  EXPECT_FALSE(r.IsSubTypeEnabled(2319));
  r.EnableAllSubTypes(2319);
  EXPECT_TRUE(r.IsSubTypeEnabled(2320));
  EXPECT_FALSE(r.IsSubTypeEnabled(2319));
  CTypeRecovery* clone = r.Clone();
  auto* exe = static_cast<CTypeRecoveryEXE*>(clone);
  EXPECT_TRUE(exe->IsSubTypeEnabled(2324));
  EXPECT_FALSE(exe->IsSubTypeEnabled(2319));
  EXPECT_EQ(r.GetTypePropertyFlag(), 0u);
  delete clone;
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
  bool Write(TypeRecoveryFile f, const void* d, uint32_t s, uint32_t* n) override {
    return m_native->Write(f, d, s, n);
  }
  bool Read(TypeRecoveryFile f, void* d, uint32_t s, uint32_t* n) override {
    return m_native->Read(f, d, s, n);
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
  const auto image = WithFiller(pe, 4608);
  const auto reports = trtest::ResumedRun({{2323}}, image, 1024, 512, 1024);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "sys");
  EXPECT_EQ(reports[0].size, pe.size());
  EXPECT_EQ(reports[0].complete, 1u);
}
