// Compound documents: header test, header-sized cut, sub-type scan, enable
// flags, renaming close, progress; and real office files carved from a disk
// image.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "formats/document/DocumentCarving.h"
#include "formats/document/OLE2.h"
#include "interface/Manager.h"

using doctest::DiskImage;
using doctest::Fixture;
using doctest::FolderRun;
using doctest::ReportRun;
using trtest::Bytes;

namespace {

std::vector<uint8_t> Wide(const std::string& text) {
  Bytes b;
  for (char c : text) b.U16LE(static_cast<uint8_t>(c));
  return b;
}

// A compound document: header with the sector shift and FAT sector count,
// filler that no name begins with, and names placed at offsets.
struct Placed {
  size_t at;
  std::vector<uint8_t> bytes;
};
std::vector<uint8_t> Compound(size_t size, uint16_t shift, uint32_t fatSectors,
                              const std::vector<Placed>& names = {}) {
  Bytes b;
  b.Raw({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}).Zeros(16);
  b.U16LE(0x3E).U16LE(3).U16LE(0xFFFE).U16LE(shift).U16LE(6).Zeros(10).U32LE(fatSectors);
  b.PadTo(512, 0xFF).PadTo(size, 0x11);
  std::vector<uint8_t> v = b;
  for (const Placed& n : names) std::copy(n.bytes.begin(), n.bytes.end(), v.begin() + static_cast<long>(n.at));
  return v;
}

// Shift 7 and one FAT sector: 32 x 128 = 4096 bytes.
std::vector<uint8_t> Small(const std::vector<Placed>& names = {}) { return Compound(4096, 7, 1, names); }

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t size) {
  return std::vector<uint8_t>(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from + size));
}

CTypeRecoveryOLE2* Prototype(CTypeRecoveryManager* m, long i = 0) {
  return dynamic_cast<CTypeRecoveryOLE2*>(m->m_prototypes.GetAt(i));
}

}  // namespace

TEST(Ole2, HeaderTestNeedsSignatureZeroClassIdNonZeroMiniShiftAnd33Bytes) {
  CTypeRecoveryOLE2 r(nullptr, nullptr);
  std::vector<uint8_t> h = Small();
  EXPECT_EQ(r.IsHeaderMatched(h.data(), 33, 0), 2305u);
  EXPECT_EQ(r.IsHeaderMatched(h.data(), 32, 1), 0u);
  EXPECT_EQ(r.IsHeaderMatched(nullptr, 512, 0), 0u);
  auto classId = h;
  classId[15] = 1;
  EXPECT_EQ(r.IsHeaderMatched(classId.data(), 512, 0), 0u);
  auto noMini = h;
  noMini[32] = 0;
  EXPECT_EQ(r.IsHeaderMatched(noMini.data(), 512, 0), 0u);
  auto badMagic = h;
  badMagic[7] = 0xE0;
  EXPECT_EQ(r.IsHeaderMatched(badMagic.data(), 512, 0), 0u);
}

TEST(Ole2, CutAtFatCapacityShift9OneFatSectorIs64KiB) {
  DiskImage image;
  image.File(Compound(70000, 9, 1, {{2048, Wide("WordDocument")}})).Random(4);
  const auto reports = ReportRun({{260}}, image.bytes(), 4096, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 65536u);
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[0].extension, "doc");

  trtest::TempDir dir;
  FolderRun(dir, {{260}}, image.bytes(), 4096, 512);
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"doc/00000.doc"});
  EXPECT_EQ(dir.Read("doc/00000.doc"), Slice(image.bytes(), 0, 65536));
}

TEST(Ole2, ZeroFatSectorsGivesEmptyFileKeptOnlyWhenGenericEnabled) {
  DiskImage image;
  image.File(Compound(1024, 9, 0)).Random(2);
  trtest::TempDir kept;
  FolderRun(kept, {{2305}}, image.bytes(), 512, 512);
  ASSERT_EQ(kept.Files(), std::vector<std::string>{"ole2/00000.ole2"});
  EXPECT_TRUE(kept.Read("ole2/00000.ole2").empty());

  trtest::TempDir dropped;
  FolderRun(dropped, {{260}}, image.bytes(), 512, 512);
  EXPECT_TRUE(dropped.Files().empty());
  EXPECT_TRUE(ReportRun({{260}}, image.bytes(), 512, 512).empty());
}

TEST(Ole2, SubTypeNameRenamesFileToItsFolderAndRemovesGenericFolder) {
  DiskImage image;
  image.Random(1).File(Small({{3000, Wide("Workbook")}})).Zeros(2);
  trtest::TempDir dir;
  FolderRun(dir, {{261}, {2305}}, image.bytes(), 512, 512);
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"xls/00000.xls"});
  EXPECT_EQ(dir.Read("xls/00000.xls"), Small({{3000, Wide("Workbook")}}));

  const auto reports = ReportRun({{261}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 512u);
  EXPECT_EQ(reports[0].size, 4096u);
  EXPECT_EQ(reports[0].extension, "xls");
}

TEST(Ole2, NameRunningIntoLookaheadIsFoundButNotWithinLast40BytesWithoutLookahead) {
  // "PowerPoint Document" begins 10 bytes before a strip end.
  DiskImage image;
  image.File(Small({{1014, Wide("PowerPoint Document")}}));
  auto reports = ReportRun({{262}, {2305}}, image.bytes(), 512, 64);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "ppt");
  reports = ReportRun({{262}, {2305}}, image.bytes(), 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "ole2");
}

TEST(Ole2, FirstNameInDataWinsAndLaterNamesDoNotChangeIt) {
  DiskImage image;
  image.File(Small({{1200, Wide("Workbook")}, {2000, Wide("WordDocument")}}));
  auto reports = ReportRun({{260}, {261}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "xls");
}

TEST(Ole2, SignaturesWithTrailingZerosAndMarkedPositions) {
  struct Case {
    std::vector<uint8_t> name;
    const char* extension;
  };
  std::vector<uint8_t> flash = Bytes().Text("CPicPage").PadTo(16, 0x20).Text("C").PadTo(33, 0x20).Text("C");
  std::vector<uint8_t> flashUnmarked = Bytes().Text("CPicPage").PadTo(40, 0x20);
  std::vector<uint8_t> visio = Bytes().Raw(Wide("VisioDocument")).Zeros(14);
  std::vector<uint8_t> visioShort = Bytes().Raw(Wide("VisioDocument")).Zeros(13).U8(1);
  std::vector<uint8_t> installer = Bytes().U16LE(0x4840).U16LE(0x3FFF).U16LE(0x43E4).U16LE(0x41EC)
                                       .U16LE(0x45E4).U16LE(0x44AC).U16LE(0x4831).Zeros(26);
  std::vector<uint8_t> part = Bytes().Raw(Wide("ISolidWorksInformation")).Zeros(2);
  const Case cases[] = {
      {flash, "fla"},        {flashUnmarked, "ole2"},
      {visio, "vsd"},        {visioShort, "ole2"},
      {installer, "msi"},    {part, "sldprt"},
      {Bytes().Text("Microsoft Publisher ").Zeros(4), "pub"},
      {Bytes().Text("Microsoft Publisher").Zeros(4), "ole2"},
  };
  for (const Case& c : cases) {
    DiskImage image;
    image.File(Small({{2048, c.name}}));
    const auto reports =
        ReportRun({{1040}, {264}, {2325}, {1569}, {265}, {2305}}, image.bytes(), 512, 512);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].extension, c.extension);
  }
}

TEST(Ole2, MessageDatabaseNeedsAllSixNames) {
  const char* names[] = {"buddy", "group", "system", "Matrix.dat", "seqbase.dat", "lastmsginfo.dat"};
  std::vector<Placed> six;
  for (size_t i = 0; i < 6; ++i) six.push_back({1024 + 300 * i, Wide(names[i])});
  std::vector<Placed> five(six.begin(), six.end() - 1);

  DiskImage all;
  all.File(Small(six));
  auto reports = ReportRun({{2330}, {2305}}, all.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "db");

  DiskImage some;
  some.File(Small(five));
  reports = ReportRun({{2330}, {2305}}, some.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "ole2");
  EXPECT_TRUE(ReportRun({{2330}}, some.bytes(), 512, 512).empty());
}

TEST(Ole2, OnlyTheAddedSubTypeIsKeptAndOthersAreDiscardedWithTheirNumber) {
  DiskImage image;
  image.File(Small({{1024, Wide("WordDocument")}}))
      .File(Small({{1024, Wide("Workbook")}}))
      .File(Small())
      .File(Small({{1024, Wide("Workbook")}}));
  trtest::TempDir dir;
  FolderRun(dir, {{261}}, image.bytes(), 512, 512);
  // The discarded files give their numbers back.
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"xls/00000.xls", "xls/00001.xls"}));
  const auto reports = ReportRun({{261}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].start, 4096u);
  EXPECT_EQ(reports[1].start, 12288u);
}

TEST(Ole2, NewHeaderEndsFileAtPreviousStripRenamedAndStartsNext) {
  // The first file's header says 64 KiB; the second begins after 3 KiB.
  DiskImage image;
  image.File(Compound(3072, 9, 1, {{1024, Wide("WordDocument")}}))
      .File(Small({{1024, Wide("Workbook")}}));
  uint32_t ended = 0;
  const auto reports = ReportRun({{260}, {261}}, image.bytes(), 512, 512, &ended);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(ended, 2u);
  EXPECT_EQ(reports[0].extension, "doc");
  EXPECT_EQ(reports[0].size, 3072u);
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[1].extension, "xls");
  EXPECT_EQ(reports[1].start, 3072u);

  trtest::TempDir dir;
  FolderRun(dir, {{260}, {261}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"doc/00000.doc", "xls/00001.xls"}));
  EXPECT_EQ(dir.Read("doc/00000.doc"), Slice(image.bytes(), 0, 3072));
}

TEST(Ole2, EachSubTypeKeepsItsOwnTypeFolderValue) {
  // One active recognizer follows four files, each of the first three cut by
  // the next header; the host answers 9 to every report.
  DiskImage image;
  image.File(Compound(3072, 9, 1, {{1024, Wide("WordDocument")}}))
      .File(Compound(3072, 9, 1, {{1024, Wide("WordDocument")}}))
      .File(Compound(3072, 9, 1))
      .File(Small({{1024, Wide("WordDocument")}}));
  trtest::ReportLog log;
  log.answerFolder = 9;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, 260, 0);
  TypeRecovery_AddType(m, 2305, 0);
  trtest::FeedImage(m, image.bytes(), 512, 512);
  TypeRecovery_CloseManager(m);
  ASSERT_EQ(log.reports.size(), 4u);
  EXPECT_EQ(log.reports[0].typeFolder, 0u);  // doc, first time
  EXPECT_EQ(log.reports[1].typeFolder, 9u);  // doc, the answer to the first
  EXPECT_EQ(log.reports[2].typeFolder, 0u);  // generic: the base value, untouched so far
  EXPECT_EQ(log.reports[3].typeFolder, 9u);
  EXPECT_EQ(log.reports[2].extension, "ole2");
}

TEST(Ole2, RenamingTakesNextFreeNumberInTheSubTypeFolder) {
  trtest::TempDir dir;
  dir.Write("doc/00000.doc", {'o', 'l', 'd'});
  DiskImage image;
  image.File(Small({{1024, Wide("WordDocument")}}));
  FolderRun(dir, {{260}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"doc/00000.doc", "doc/00001.doc"}));
  EXPECT_EQ(dir.Read("doc/00000.doc"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(dir.Read("doc/00001.doc"), Small({{1024, Wide("WordDocument")}}));
}

TEST(Ole2, FlushKeepsUndecidedFileEvenWithGenericDisabled) {
  // The source ends inside the file: the flush ends it without the
  // generic-type rule.
  const auto file = Compound(2048, 9, 1);
  trtest::TempDir dir;
  FolderRun(dir, {{260}}, file, 512, 512);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"ole2/00000.ole2"});
  const auto reports = ReportRun({{260}}, file, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "ole2");
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Ole2, RegistryFlagsFollowAddTypeAndAddAllTypes) {
  trtest::ReportLog log;
  const uintptr_t user = reinterpret_cast<uintptr_t>(&log);
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(user, trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, 260, 12345);
  ASSERT_EQ(m->m_prototypes.GetCount(), 1);
  CTypeRecoveryOLE2* p = Prototype(m);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(p->IsSubTypeEnabled(260));
  EXPECT_FALSE(p->IsSubTypeEnabled(261));
  EXPECT_FALSE(p->IsSubTypeEnabled(2305));
  EXPECT_EQ(p->GetMaxFileSize(), CTypeRecovery::kNoLimit);
  EXPECT_EQ(p->GetTypePropertyFlag(), 0u);
  TypeRecovery_AddType(m, 1040, 5);
  EXPECT_TRUE(p->IsSubTypeEnabled(1040));
  TypeRecovery_CloseManager(m);

  m = TypeRecovery_CreateManager(user, trtest::RecordReport, nullptr);
  TypeRecovery_AddAllTypes(m);
  CTypeRecoveryOLE2* all = nullptr;
  for (long i = 0; i < m->m_prototypes.GetCount() && all == nullptr; ++i) all = Prototype(m, i);
  ASSERT_NE(all, nullptr);
  for (uint32_t code : {260u, 1040u, 2325u, 2330u, 1569u}) EXPECT_TRUE(all->IsSubTypeEnabled(code));
  EXPECT_FALSE(all->IsSubTypeEnabled(2305));
  TypeRecovery_CloseManager(m);
}

TEST(Ole2, ProgressRecordResumesFileWithItsSubType) {
  const auto file = Compound(16384, 8, 1, {{1024, Wide("WordDocument")}});  // 64 x 256
  trtest::TempDir dir;
  const std::string path = dir.path() + "/progress";
  trtest::ReportLog first;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&first), trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, 260, 0);
  uint32_t error = 0;
  for (uint32_t pos = 0; pos < 4096; pos += 512) {
    TypeRecovery_Analyse(m, pos, file.data() + pos, 512, 512, &error);
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_EQ(TypeRecovery_SaveProgress(m, TYPERECOVERY_FILE_FROM_FD(fd)), 1u);
  ::close(fd);
  TypeRecovery_CloseManager(m);
  // Base record 60, 21 flags, scanning flag 4, mask 1, sub-type code 4, end marker 4.
  const auto record = trtest::ReadFile(path);
  ASSERT_EQ(record.size(), 94u);
  EXPECT_EQ(record[60], 1u);                             // flag of 260
  EXPECT_EQ(record[81], 0u);                             // scanning done
  EXPECT_EQ(record[85], 0xFCu);                          // mask
  EXPECT_EQ(record[86] | (record[87] << 8), 260);        // current sub-type

  trtest::ReportLog second;
  m = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&second), trtest::RecordReport, nullptr);
  TypeRecovery_AddType(m, 260, 0);
  fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_EQ(TypeRecovery_LoadProgress(m, TYPERECOVERY_FILE_FROM_FD(fd)), 1u);
  ::close(fd);
  for (uint32_t pos = 4096; pos < file.size(); pos += 512) {
    TypeRecovery_Analyse(m, pos, file.data() + pos, 512, 0, &error);
  }
  TypeRecovery_CloseManager(m);
  ASSERT_EQ(second.reports.size(), 1u);
  EXPECT_EQ(second.reports[0].extension, "doc");
  EXPECT_EQ(second.reports[0].size, 16384u);
  EXPECT_EQ(second.reports[0].complete, 1u);
}

TEST(Ole2, HostileSizesAndTruncatedBuffersStayInBounds) {
  // Huge shift, wrapping capacity, and a header strip shorter than the header.
  for (auto file : {Compound(600, 200, 0xFFFFFFFF), Compound(600, 63, 0xFFFFFFFF), Compound(600, 31, 7)}) {
    CTypeRecoveryOLE2 r(nullptr, nullptr);
    uint32_t error = 0;
    r.Analyse(0, file.data(), 40, 0, 0, &error);
    r.Analyse(40, file.data() + 40, 560, 0, 0, &error);
    EXPECT_EQ(error, 0u);
  }
}

// Real files from the office suite and the installer builder, carved from a
// disk image; each is cut at its header's FAT capacity.
TEST(Ole2, RealFilesAreCarvedAtHeaderSizeUnderTheirSubTypeExtension) {
  struct Real {
    const char* fixture;
    const char* extension;
    uint64_t size;
  };
  const Real files[] = {{"text.doc", "doc", 65536},
                        {"table.xls", "xls", 65536},
                        {"installer.msi", "msi", 65536},
                        {"slides.ppt", "ppt", 458752}};
  DiskImage image(11);
  for (const Real& f : files) image.Random(3).Zeros(1).File(Fixture(f.fixture)).Random(140);
  image.Random(900);
  std::vector<doctest::AddedType> types = {{2305}, {260}, {261}, {262}, {2325}, {2326}, {1040}};

  trtest::TempDir dir;
  uint32_t error = 0;
  FolderRun(dir, types, image.bytes(), 512, 512, &error);
  EXPECT_EQ(error, 0u);
  std::vector<std::string> expected;
  for (size_t i = 0; i < 4; ++i) {
    expected.push_back(std::string(files[i].extension) + "/0000" + std::to_string(i) + "." + files[i].extension);
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(dir.Files(), expected);
  for (size_t i = 0; i < 4; ++i) {
    const std::string name = std::string(files[i].extension) + "/0000" + std::to_string(i) + "." + files[i].extension;
    EXPECT_EQ(dir.Read(name), Slice(image.bytes(), image.offsets()[i], files[i].size)) << name;
  }

  const auto reports = ReportRun(types, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(reports[i].extension, files[i].extension);
    EXPECT_EQ(reports[i].start, image.offsets()[i]);
    EXPECT_EQ(reports[i].size, files[i].size);
    EXPECT_EQ(reports[i].complete, 1u);
  }
}
