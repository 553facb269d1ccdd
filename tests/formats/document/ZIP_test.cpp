// ZIP family: header test, end search and record walk, sub-type scan,
// per-sub-type maxima, renaming close, progress; and real packages carved
// from a disk image.
#include "formats/document/ZIP.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "formats/document/OLE2.h"
#include "interface/Manager.h"
#include "support/Carving.h"

using trtest::DiskImage;
using trtest::Fixture;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

struct Entry {
  std::string name;
  std::vector<uint8_t> data;
  uint16_t flags = 0;
  bool sizesAfterData = false;  // sizes 0 in the local header, descriptor after the data
};

std::vector<uint8_t> LocalHeader(const std::string& name, uint32_t size, uint16_t flags = 0,
                                 uint16_t method = 0) {
  return Bytes()
      .U32LE(0x04034B50)
      .U16LE(20)
      .U16LE(flags)
      .U16LE(method)
      .U32LE(0)
      .U32LE(0)
      .U32LE(size)
      .U32LE(size)
      .U16LE(static_cast<uint16_t>(name.size()))
      .U16LE(0)
      .Text(name);
}

// A stored archive: local records, central directory, end record.
std::vector<uint8_t> Archive(const std::vector<Entry>& entries, const std::string& comment = "") {
  Bytes b;
  std::vector<uint32_t> offsets;
  for (const Entry& e : entries) {
    offsets.push_back(static_cast<uint32_t>(b.size()));
    b.Raw(
        LocalHeader(e.name, e.sizesAfterData ? 0 : static_cast<uint32_t>(e.data.size()), e.flags));
    b.Raw(e.data);
    if (e.sizesAfterData) {
      b.U32LE(0x08074B50)
          .U32LE(0)
          .U32LE(static_cast<uint32_t>(e.data.size()))
          .U32LE(static_cast<uint32_t>(e.data.size()));
    }
  }
  const uint32_t directory = static_cast<uint32_t>(b.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    b.U32LE(0x02014B50)
        .U16LE(20)
        .U16LE(20)
        .U16LE(e.flags)
        .U16LE(0)
        .U32LE(0)
        .U32LE(0)
        .U32LE(static_cast<uint32_t>(e.data.size()))
        .U32LE(static_cast<uint32_t>(e.data.size()))
        .U16LE(static_cast<uint16_t>(e.name.size()))
        .U16LE(0)
        .U16LE(0)
        .U16LE(0)
        .U16LE(0)
        .U32LE(0)
        .U32LE(offsets[i])
        .Text(e.name);
  }
  const uint32_t directorySize = static_cast<uint32_t>(b.size()) - directory;
  b.U32LE(0x06054B50)
      .U16LE(0)
      .U16LE(0)
      .U16LE(static_cast<uint16_t>(entries.size()))
      .U16LE(static_cast<uint16_t>(entries.size()))
      .U32LE(directorySize)
      .U32LE(directory)
      .U16LE(static_cast<uint16_t>(comment.size()))
      .Text(comment);
  return b;
}

std::vector<uint8_t> Filler(size_t n, uint8_t v = 0x11) { return std::vector<uint8_t>(n, v); }

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t size) {
  return std::vector<uint8_t>(v.begin() + static_cast<long>(from),
                              v.begin() + static_cast<long>(from + size));
}

CTypeRecoveryZIP* FindZip(CTypeRecoveryManager* m) {
  for (long i = 0; i < m->m_prototypes.GetCount(); ++i) {
    if (auto* z = dynamic_cast<CTypeRecoveryZIP*>(m->m_prototypes.GetAt(i))) return z;
  }
  return nullptr;
}

// A folder-ID callback that answers 1000 + the number of calls before.
std::vector<std::string> folderIdCalls;
uint32_t RecordFolderId(uintptr_t, const char16_t* extension) {
  folderIdCalls.push_back(trtest::U8(extension));
  return 1000 + static_cast<uint32_t>(folderIdCalls.size()) - 1;
}

CTypeRecoveryManager* NewReportManager(trtest::ReportLog* log) {
  return TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(log), trtest::RecordReport,
                                    nullptr);
}

}  // namespace

TEST(Zip, HeaderTestRejectsOtherMethodsLongNamesAndShortBuffers) {
  CTypeRecoveryZIP r(nullptr, nullptr);
  auto check = [&](uint16_t method, size_t nameLength, size_t length) {
    std::vector<uint8_t> h = LocalHeader(std::string(nameLength, 'n'), 0, 0, method);
    h.resize(std::max<size_t>(h.size(), 64), 0);
    return r.IsHeaderMatched(h.data(), static_cast<uint32_t>(length), 0);
  };
  EXPECT_EQ(check(0, 5, 64), 1793u);
  EXPECT_EQ(check(8, 260, 64), 1793u);
  EXPECT_EQ(check(12, 5, 64), 0u);
  EXPECT_EQ(check(14, 5, 64), 0u);
  EXPECT_EQ(check(8, 261, 64), 0u);
  EXPECT_EQ(check(8, 5, 31), 1793u);
  EXPECT_EQ(check(8, 5, 30), 0u);
  EXPECT_EQ(r.IsHeaderMatched(nullptr, 64, 0), 0u);
}

TEST(Zip, SearchEndsAfterFixedEndRecordWhileReportedSizeCountsComment) {
  const auto archive =
      Archive({{"notes.txt", Filler(700)}, {"more.txt", Filler(300)}}, "a comment");
  DiskImage image;
  image.Random(2).File(archive).Random(3);
  const auto reports = ReportRun({{1793}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 1024u);
  EXPECT_EQ(reports[0].size, archive.size());
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[0].extension, "zip");

  trtest::TempDir dir;
  FolderRun(dir, {{1793}}, image.bytes(), 512, 512);
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"zip/00000.zip"});
  EXPECT_EQ(dir.Read("zip/00000.zip"), Slice(archive, 0, archive.size() - 9));
}

TEST(Zip, EndSignatureFollowedByLocalHeaderIsNotTheEnd) {
  // A stored archive inside: its end record is followed by another local header.
  std::vector<uint8_t> inner =
      Bytes().Raw(Filler(100)).U32LE(0x06054B50).Zeros(18).U32LE(0x04034B50).Raw(Filler(100));
  const auto archive = Archive({{"inner.zip", inner}});
  DiskImage image;
  image.File(archive).Random(2);
  const auto reports = ReportRun({{1793}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, archive.size());
}

TEST(Zip, FirstEntryFlagsChooseSearchOrWalk) {
  // The walk steps over a stray end signature inside an entry's data; the
  // search stops there.
  std::vector<uint8_t> data = Bytes().Raw(Filler(200)).U32LE(0x06054B50).Zeros(40).Raw(Filler(200));
  for (uint16_t flags : {0, 8, 0x800, 2, 0x808}) {
    const auto archive = Archive({{"data.bin", data, flags}});
    CTypeRecoveryZIP r(nullptr, nullptr);
    uint32_t error = 0;
    std::vector<uint8_t> strip = archive;
    strip.resize(4096, 0);
    r.Analyse(0, strip.data(), 4096, 0, 0, &error);
    const bool walks = flags == 2 || flags == 0x808;
    EXPECT_EQ(r.GetWalkMode(),
              walks ? CTypeRecoveryZIP::kWalkRecords : CTypeRecoveryZIP::kSearchEnd)
        << flags;

    DiskImage image;
    image.File(archive).Random(2);
    trtest::TempDir dir;
    FolderRun(dir, {{1793}}, image.bytes(), 512, 512);
    EXPECT_EQ(dir.Read("zip/00000.zip").size(), walks ? archive.size() : 30u + 8 + 200 + 22)
        << flags;
  }
}

TEST(Zip, WalkEndsAtUnknownRecordBeforeItsStripOrDiscardsInFirstStrip) {
  // Flags 2 select the walk; the entry is followed by bytes that are no record.
  const auto entry =
      Bytes().Raw(LocalHeader("a.bin", 2000, 2)).Raw(Filler(2000)).Raw(Filler(600, 0x77));
  DiskImage image;
  image.File(entry).Random(4);
  const auto reports = ReportRun({{1793}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1536u);  // the strips before the one holding the bad record
  EXPECT_EQ(reports[0].complete, 0u);
  trtest::TempDir dir;
  FolderRun(dir, {{1793}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Read("zip/00000.zip"), Slice(image.bytes(), 0, 2048));  // that strip written whole

  const auto small =
      Bytes().Raw(LocalHeader("a.bin", 20, 2)).Raw(Filler(20)).Raw(Filler(600, 0x77));
  DiskImage first;
  first.File(small).Random(2);
  EXPECT_TRUE(ReportRun({{1793}}, first.bytes(), 512, 512).empty());
  trtest::TempDir none;
  FolderRun(none, {{1793}}, first.bytes(), 512, 512);
  EXPECT_TRUE(none.Files().empty());
}

TEST(Zip, LocalHeaderAtStripStartInsideArchiveStartsNothingNew) {
  // The second entry's local header lies exactly at the second strip.
  const auto archive = Archive({{"a.txt", Filler(512 - 35)}, {"b.txt", Filler(900)}});
  DiskImage image;
  image.File(archive).Random(2);
  uint32_t ended = 0;
  const auto reports = ReportRun({{1793}}, image.bytes(), 512, 512, &ended);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(ended, 1u);
  EXPECT_EQ(reports[0].size, archive.size());
}

TEST(Zip, FirstEntryNameInDataDecidesTheSubType) {
  struct Case {
    std::vector<std::string> names;
    const char* extension;
  };
  const Case cases[] = {
      {{"word/document.xml", "ppt/slide1.xml"}, "docx"},  // the first name wins
      {{"xl/_rels/workbook.xml.rels"}, "xlsx"},
      {{"xl/workbook.xml"}, "zip"},
      {{"DOMDocument.xml"}, "fla"},
      {{"FixedDocSeq.fdseq"}, "xps"},
      {{"AndroidManifest.xml"}, "apk"},
      {{"Payload/iTunesArtwork"}, "ipa"},
      {{"iTunesMetadata.plist"}, "ipa"},
      {{"PxlPkg.plist"}, "pxl"},
  };
  for (const Case& c : cases) {
    std::vector<Entry> entries;
    for (const std::string& name : c.names) entries.push_back({name, Filler(50)});
    DiskImage image;
    image.File(Archive(entries)).Random(1);
    const auto reports =
        ReportRun({{257}, {259}, {258}, {1040}, {278}, {2310}, {2311}, {2312}, {1793}},
                  image.bytes(), 512, 512);
    ASSERT_EQ(reports.size(), 1u) << c.names[0];
    EXPECT_EQ(reports[0].extension, c.extension) << c.names[0];
  }
  // A drawing stored in the package: "RIFF", then "CDR" at offset 8.
  std::vector<uint8_t> drawing = Bytes().Text("RIFF").U32LE(40).Text("CDR9").Raw(Filler(40));
  std::vector<uint8_t> wave = Bytes().Text("RIFF").U32LE(40).Text("WAVE").Raw(Filler(40));
  DiskImage image;
  image.File(Archive({{"content.riff", wave}}))
      .Random(1)
      .File(Archive({{"content.riff", drawing}}))
      .Random(1);
  const auto reports = ReportRun({{1793}, {1544}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].extension, "zip");
  EXPECT_EQ(reports[1].extension, "cdr");
  // Folder mode: renamed into the sub-type's folder, the "zip" folder removed.
  trtest::TempDir dir;
  FolderRun(dir, {{1793}, {1544}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"cdr/00001.cdr", "zip/00000.zip"}));
  EXPECT_EQ(dir.Read("cdr/00001.cdr"), Archive({{"content.riff", drawing}}));
}

TEST(Zip, OnlyTheAddedSubTypeIsKeptAndGenericArchivesNeedTheirOwnCode) {
  // Filler between the archives retires each recognizer before the next header.
  DiskImage image;
  image.File(Archive({{"word/document.xml", Filler(100)}}))
      .Random(1)
      .File(Archive({{"xl/_rels/workbook.xml.rels", Filler(100)}}))
      .Random(1)
      .File(Archive({{"plain.txt", Filler(100)}}))
      .Random(1)
      .File(Archive({{"xl/_rels/workbook.xml.rels", Filler(100)}}));
  trtest::TempDir dir;
  FolderRun(dir, {{258}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"xlsx/00000.xlsx", "xlsx/00001.xlsx"}));
  const auto reports = ReportRun({{258}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].start, 1024u);
  EXPECT_EQ(reports[1].start, 3072u);
}

TEST(Zip, SubTypeMaximumStopsAtStripThatReachesIt) {
  const auto archive = Archive({{"word/document.xml", Filler(5000)}});
  DiskImage image;
  image.File(archive).Random(2);
  const auto reports = ReportRun({{257, 2000}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);
  trtest::TempDir dir;
  FolderRun(dir, {{257, 2000}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Read("docx/00000.docx"), Slice(archive, 0, 2048));
}

TEST(Zip, DefaultSubTypeMaximumIs128MiBWhileGenericArchivesGoOn) {
  // 1 MiB strips of zeros after a header strip; no end record ever comes.
  for (uint32_t code : {257u, 1793u}) {
    trtest::ReportLog log;
    CTypeRecoveryManager* m = NewReportManager(&log);
    TypeRecovery_AddAllTypes(m);
    std::vector<uint8_t> strip(1 << 20, 0);
    const auto header = LocalHeader(code == 257 ? "word/document.xml" : "data.bin", 0xFFFFFF);
    std::copy(header.begin(), header.end(), strip.begin());
    uint32_t error = 0;
    TypeRecovery_Analyse(m, 0, strip.data(), static_cast<uint32_t>(strip.size()), 0, &error);
    std::fill(strip.begin(), strip.begin() + static_cast<long>(header.size()), 0);
    for (uint64_t i = 1; i < 130; ++i) {
      TypeRecovery_Analyse(m, i << 20, strip.data(), static_cast<uint32_t>(strip.size()), 0,
                           &error);
    }
    const size_t beforeFlush = log.reports.size();
    TypeRecovery_Flush(m);
    TypeRecovery_CloseManager(m);
    if (code == 257) {
      ASSERT_EQ(beforeFlush, 1u);
      EXPECT_EQ(log.reports[0].extension, "docx");
      EXPECT_EQ(log.reports[0].size, 128u << 20);
      EXPECT_EQ(log.reports[0].complete, 0u);
    } else {
      EXPECT_EQ(beforeFlush, 0u);
    }
  }
}

TEST(Zip, WalkThatCannotStepOverARecordSearchesForTheEnd) {
  // Entries whose sizes follow their data (the office suite's packages), from
  // the first entry on or after a walked one.
  const auto later = Archive({{"first.bin", Filler(700), 2},
                              {"second.bin", Filler(900), 0x808, true},
                              {"third.bin", Filler(300), 0x808, true}});
  const auto first = Archive({{"only.bin", Filler(1500), 0x808, true}});
  // A record beginning 22 bytes before a strip end with a 10-byte lookahead.
  const auto hidden =
      Archive({{"a.bin", Filler(455), 2}, {"b.bin", Filler(1000), 2}, {"c.bin", Filler(10), 2}});
  for (const auto& a : {later, first, hidden}) {
    DiskImage image;
    image.File(a).Random(3);
    const auto reports = ReportRun({{1793}}, image.bytes(), 512, 10);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].size, a.size());
    EXPECT_EQ(reports[0].complete, 1u);
  }
}

TEST(Zip, RegistryStoresSizeArgumentsPerCode) {
  trtest::ReportLog log;
  CTypeRecoveryManager* m = NewReportManager(&log);
  TypeRecovery_AddType(m, 257, 1000);
  TypeRecovery_AddType(m, 1793, 5000);
  TypeRecovery_AddType(m, 1040, 7);
  ASSERT_EQ(m->m_prototypes.GetCount(), 2);  // the ZIP, then the compound-document one for 1040
  CTypeRecoveryZIP* z = FindZip(m);
  ASSERT_EQ(static_cast<CTypeRecovery*>(z), m->m_prototypes.GetAt(0));
  EXPECT_TRUE(dynamic_cast<CTypeRecoveryOLE2*>(m->m_prototypes.GetAt(1))->IsSubTypeEnabled(1040));
  EXPECT_TRUE(z->IsSubTypeEnabled(257));
  EXPECT_TRUE(z->IsSubTypeEnabled(1040));
  EXPECT_FALSE(z->IsSubTypeEnabled(258));
  EXPECT_EQ(z->GetSubTypeMaximum(257), 1000u);
  EXPECT_EQ(z->GetSubTypeMaximum(1040), 7u);
  EXPECT_EQ(z->GetSubTypeMaximum(258), CTypeRecoveryZIP::kDefaultSubTypeMaximum);
  EXPECT_EQ(z->GetMaxFileSize(), 5000u);
  EXPECT_EQ(z->GetTypePropertyFlag(), 1u);
  TypeRecovery_CloseManager(m);

  m = NewReportManager(&log);
  TypeRecovery_AddType(m, 1544, 9);
  z = FindZip(m);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(static_cast<CTypeRecovery*>(z), m->m_prototypes.GetAt(m->m_prototypes.GetCount() - 1));
  EXPECT_TRUE(z->IsSubTypeEnabled(1544));
  EXPECT_EQ(z->GetSubTypeMaximum(1544), 9u);
  EXPECT_EQ(z->GetMaxFileSize(), CTypeRecoveryZIP::kDefaultMaximum);
  TypeRecovery_CloseManager(m);
}

TEST(Zip, ProgressRecordCarriesMaximaWalkStateAndSubType) {
  const auto archive =
      Archive({{"word/document.xml", Filler(3000), 2}, {"word/b.xml", Filler(100), 2}});
  std::vector<uint8_t> image = archive;
  image.resize((archive.size() / 512 + 2) * 512, 0x5A);
  // The load asks the folder-ID callback for the generic row, then rows 4,
  // 1, 3, 2 and 5 to 16; the resumed report carries the answer for "docx".
  folderIdCalls.clear();
  TypeRecovery_SetFuncGetTypeFolderID(RecordFolderId);
  const auto reports = trtest::ResumedRun({{257, 1 << 20}}, image, 512, 512, 1536);
  TypeRecovery_SetFuncGetTypeFolderID(nullptr);
  const std::vector<std::string> order = {"zip", "cdr", "docx", "pptx", "xlsx", "fla",
                                          "odt", "ods", "odp",  "odg",  "odf",  "odb",
                                          "xps", "apk", "jar",  "ipa",  "pxl"};
  EXPECT_EQ(folderIdCalls, order);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].typeFolder, 1000u + 2);
  EXPECT_EQ(reports[0].extension, "docx");
  EXPECT_EQ(reports[0].size, archive.size());
  EXPECT_EQ(reports[0].complete, 1u);

  // Base 60, flags 17, maxima 128, cursor 8, total 8, mode 1, first record 8,
  // scanning 4, sub-type 4.
  CTypeRecoveryZIP r(nullptr, nullptr);
  r.EnableSubType(257, 1 << 20);
  uint32_t error = 0;
  r.Analyse(0, image.data(), 512, 512, 0, &error);
  trtest::TempDir dir;
  const std::string path = dir.path() + "/progress";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_EQ(r.SaveProgress(TYPERECOVERY_FILE_FROM_FD(fd)), 1u);
  ::close(fd);
  const auto record = trtest::ReadFile(path);
  ASSERT_EQ(record.size(), 238u);
  EXPECT_EQ(record[60], 1u);
  EXPECT_EQ(record[77] | (record[78] << 8) | (record[79] << 16), 1 << 20);  // docx maximum
  EXPECT_EQ(record[205] | (record[206] << 8), 3047 - 512);                  // cursor, next strip
  EXPECT_EQ(record[221], CTypeRecoveryZIP::kWalkRecords);
  EXPECT_EQ(record[230], 0u);  // scanning done
  EXPECT_EQ(record[234] | (record[235] << 8), 257);
}

TEST(Zip, DamagedArchivesNeverReadOutsideTheStrip) {
  // Run under the sanitizers: random damage, strip sizes and lookaheads.
  const auto base =
      Archive({{"word/a.xml", Filler(900), 2}, {"b.bin", Filler(700), 0x808, true}}, "c");
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> image = base;
    for (int i = 0; i < 12; ++i)
      image[4 + random() % (image.size() - 4)] = static_cast<uint8_t>(random());
    const uint32_t strip = 17 + random() % 600;
    const uint32_t lookahead = random() % 80;
    ReportRun({{257}, {1793}}, image, strip, lookahead);
  }
}

// Real packages made by the office suite, zip and jar, carved from a disk
// image: the whole archive through its end record.
TEST(Zip, RealPackagesAreCarvedWholeUnderTheirSubTypeExtension) {
  struct Real {
    const char* fixture;
    const char* extension;
  };
  const Real files[] = {{"text.docx", "docx"},  {"table.xlsx", "xlsx"}, {"slides.pptx", "pptx"},
                        {"text.odt", "odt"},    {"table.ods", "ods"},   {"slides.odp", "odp"},
                        {"drawing.odg", "odg"}, {"archive.zip", "zip"}, {"manifest.jar", "jar"}};
  DiskImage image(3);
  for (const Real& f : files) image.Random(2).File(Fixture("document", f.fixture)).Zeros(1);
  image.Random(4);
  std::vector<trtest::AddedType> types;
  for (uint32_t code : {1793u, 257u, 258u, 259u, 1040u, 267u, 268u, 269u, 270u, 271u, 272u, 278u,
                        2310u, 2314u, 2311u, 2312u}) {
    types.push_back({code});
  }

  trtest::TempDir dir;
  uint32_t error = 0;
  FolderRun(dir, types, image.bytes(), 512, 512, &error);
  EXPECT_EQ(error, 0u);
  const auto reports = ReportRun(types, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 9u);
  std::vector<std::string> names;
  for (size_t i = 0; i < 9; ++i) {
    const std::string e = files[i].extension;
    names.push_back(e + "/0000" + std::to_string(i) + "." + e);
    EXPECT_EQ(dir.Read(names.back()), Fixture("document", files[i].fixture)) << e;
    EXPECT_EQ(reports[i].extension, e);
    EXPECT_EQ(reports[i].start, image.offsets()[i]);
    EXPECT_EQ(reports[i].size, Fixture("document", files[i].fixture).size());
    EXPECT_EQ(reports[i].complete, 1u);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(dir.Files(), names);
}
