// Compound documents: header test, header-sized cut, sub-type scan, enable
// flags, renaming close, progress.
#include "formats/document/OLE2.h"

#include <gtest/gtest.h>

#include "formats/document/CraftedDocuments.h"
#include "support/Carving.h"

using crafted::Slice;
using crafted::Wide;
using trtest::Bytes;
using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;

namespace {

struct Placed { size_t at; std::vector<uint8_t> bytes; };
// A compound document: header with the sector shift and FAT sector count,
// filler that no name begins with, and names placed at offsets.
std::vector<uint8_t> Compound(size_t size, uint16_t shift, uint32_t fatSectors, const std::vector<Placed>& names = {}) {
  Bytes b{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  b.Zeros(16).U16LE(0x3E).U16LE(3).U16LE(0xFFFE).U16LE(shift).U16LE(6).Zeros(10).U32LE(fatSectors);
  std::vector<uint8_t> v = b.PadTo(512, 0xFF).PadTo(size, 0x11);
  for (const Placed& n : names) std::copy(n.bytes.begin(), n.bytes.end(), v.begin() + static_cast<long>(n.at));
  return v;
}
// Shift 7 and one FAT sector: 32 x 128 = 4096 bytes.
std::vector<uint8_t> Small(const std::vector<Placed>& names = {}) { return Compound(4096, 7, 1, names); }
// A 64 KiB document cut after 3 KiB by the next header.
std::vector<uint8_t> Cut(const std::vector<Placed>& names = {}) { return Compound(3072, 9, 1, names); }

const std::vector<Placed> kDoc = {{1024, Wide("WordDocument")}};
const std::vector<Placed> kXls = {{1024, Wide("Workbook")}};

}  // namespace

TEST(Ole2, HeaderTestNeedsSignatureZeroClassIdNonZeroMiniShiftAnd33Bytes) {
  CTypeRecoveryOLE2 r(nullptr, nullptr);
  const std::vector<uint8_t> h = Small();
  EXPECT_EQ(r.IsHeaderMatched(h.data(), 33, 0), 2305u);
  EXPECT_EQ(r.IsHeaderMatched(h.data(), 32, 1), 0u);
  EXPECT_EQ(r.IsHeaderMatched(nullptr, 512, 0), 0u);
  for (size_t at : {7, 15, 32}) {  // signature, class ID, mini-sector shift
    auto bad = h;
    bad[at] ^= at == 32 ? 6 : 1;
    EXPECT_EQ(r.IsHeaderMatched(bad.data(), 512, 0), 0u) << at;
  }
}

TEST(Ole2, SubTypeScanFindsFirstNameWithItsExactBytes) {
  const std::vector<uint8_t> flash = Bytes().Text("CPicPage").PadTo(16, 0x20).Text("C").PadTo(33, 0x20).Text("C");
  const std::vector<uint8_t> installer =
      Bytes().U16LE(0x4840).U16LE(0x3FFF).U16LE(0x43E4).U16LE(0x41EC).U16LE(0x45E4).U16LE(0x44AC).U16LE(0x4831).Zeros(26);
  std::vector<Placed> database;
  for (const char* name : {"buddy", "group", "system", "Matrix.dat", "seqbase.dat", "lastmsginfo.dat"})
    database.push_back({1024 + 300 * database.size(), Wide(name)});
  struct Case { std::vector<Placed> names; uint32_t lookahead; const char* extension; };
  const Case cases[] = {
      // A name beginning 10 bytes before a strip end is read through the
      // lookahead, and missed without it.
      {{{1014, Wide("PowerPoint Document")}}, 64, "ppt"},
      {{{1014, Wide("PowerPoint Document")}}, 0, "ole2"},
      {{{1200, Wide("Workbook")}, {2000, Wide("WordDocument")}}, 512, "xls"},  // first wins
      {{{2048, flash}}, 512, "fla"},
      {{{2048, Bytes().Text("CPicPage").PadTo(40, 0x20)}}, 512, "ole2"},
      {{{2048, Bytes().Raw(Wide("VisioDocument")).Zeros(14)}}, 512, "vsd"},
      {{{2048, Bytes().Raw(Wide("VisioDocument")).Zeros(13).U8(1)}}, 512, "ole2"},
      {{{2048, installer}}, 512, "msi"},
      {{{2048, Bytes().Raw(Wide("ISolidWorksInformation")).Zeros(2)}}, 512, "sldprt"},
      {{{2048, Bytes().Text("Microsoft Publisher ")}}, 512, "pub"},
      {{{2048, Bytes().Text("Microsoft Publisher").Zeros(4)}}, 512, "ole2"},
      {database, 512, "db"},
      {std::vector<Placed>(database.begin(), database.end() - 1), 512, "ole2"},  // five of six
  };
  for (const Case& c : cases) {
    const auto reports = ReportRun({{262}, {260}, {261}, {1040}, {264}, {2325}, {1569}, {265}, {2330}, {2305}},
                                   DiskImage().File(Small(c.names)).bytes(), 512, c.lookahead);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].extension, c.extension) << c.names[0].at << " " << c.extension;
  }
}

TEST(Ole2, CraftedDocumentsAreCarvedInBothModes) {
  struct Case {
    const char* what;
    std::vector<trtest::AddedType> types;
    std::vector<uint8_t> image;
    std::vector<crafted::Carved> files;
  };
  // Shift 9 and one FAT sector: 128 x 512 = 64 KiB, whatever follows; renamed
  // to the sub-type's folder, the "ole2" folder removed.
  const auto big = DiskImage().Random(1).File(Compound(70000, 9, 1, {{2048, Wide("WordDocument")}})).Random(4).bytes();
  const auto zeroFat = DiskImage().File(Compound(1024, 9, 0)).Random(2).bytes();
  const auto mixed = DiskImage().File(Small(kDoc)).File(Small(kXls)).File(Small()).File(Small(kXls)).bytes();
  // Each file cut by the next header; the undecided one keeps its number.
  const auto cut = DiskImage().File(Cut(kDoc)).File(Cut(kDoc)).File(Cut()).File(Small(kDoc)).bytes();
  const Case cases[] = {
      {"64 KiB", {{260}}, big, {{"doc/00000.doc", 512, 65536, 1, Slice(big, 512, 65536)}}},
      {"zero FAT sectors, generic added", {{2305}}, zeroFat, {{"ole2/00000.ole2", 0, 0, 1, {}}}},
      {"zero FAT sectors, generic not added", {{260}}, zeroFat, {}},
      {"only the added sub-type", {{261}}, mixed,
       {{"xls/00000.xls", 4096, 4096, 1, Small(kXls)}, {"xls/00001.xls", 12288, 4096, 1, Small(kXls)}}},
      {"new headers", {{260}, {2305}}, cut,
       {{"doc/00000.doc", 0, 3072, 1, Cut(kDoc)}, {"doc/00001.doc", 3072, 3072, 1, Cut(kDoc)},
        {"ole2/00002.ole2", 6144, 3072, 1, Cut()}, {"doc/00003.doc", 9216, 4096, 1, Small(kDoc)}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    crafted::ExpectCarved(c.types, c.image, c.files);
  }
  // The source ends inside an undecided file: the flush keeps it though the
  // generic type is not added.
  trtest::TempDir flushed;
  FolderRun(flushed, {{260}}, Compound(2048, 9, 1), 512, 512);
  EXPECT_EQ(flushed.Read("ole2/00000.ole2"), Compound(2048, 9, 1));
  const auto reports = ReportRun({{260}}, Compound(2048, 9, 1), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "ole2");
  EXPECT_EQ(reports[0].complete, 0u);
  // Renaming takes the next free number.
  trtest::TempDir dir;
  dir.Write("doc/00000.doc", {'o', 'l', 'd'});
  FolderRun(dir, {{260}}, DiskImage().File(Small(kDoc)).Random(1).bytes(), 512, 512);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"doc/00000.doc", "doc/00001.doc"}));
  EXPECT_EQ(dir.Read("doc/00001.doc"), Small(kDoc));
  // Each sub-type keeps its own type-folder value: the generic row uses the
  // base value, the others the host's answer.
  trtest::Scan scan({{260}, {2305}});
  scan.log.answerFolder = 9;
  EXPECT_EQ(scan.Feed(cut, 512, 512), 4u);
  ASSERT_EQ(scan.log.reports.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(scan.log.reports[i].typeFolder, i == 2 || i == 0 ? 0u : 9u) << i;
}

TEST(Ole2, ProgressRecordResumesWithItsSubTypeAndFolderValue) {
  std::vector<uint8_t> image = Compound(16384, 8, 1, kDoc);  // 64 x 256
  image.resize(17408, 0x33);
  // The load asks the folder-ID callback for the generic row, then rows 1,
  // 4, 3, 2 and 5 to 20; the resumed report carries the answer for "doc".
  crafted::folderIdCalls.clear();
  TypeRecovery_SetFuncGetTypeFolderID(crafted::RecordFolderId);
  const auto reports = trtest::ResumedRun({{260}}, image, 512, 512, 2048);
  TypeRecovery_SetFuncGetTypeFolderID(nullptr);
  EXPECT_EQ(crafted::folderIdCalls,
            (std::vector<std::string>{"ole2", "doc", "max", "ppt", "xls", "qpw", "shw", "p65", "dgn", "vsd", "pub",
                                      "jnb", "fla", "dcd", "mpp", "tcw", "rpt", "msi", "msp", "db", "sldprt"}));
  crafted::ExpectReports(reports, {{0, 16384, 1, "doc"}});
  EXPECT_EQ(reports.at(0).typeFolder, 1000u + 1);
}
