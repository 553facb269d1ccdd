// ZIP family: header test, end search and record walk, sub-type scan,
// per-sub-type maxima, renaming close, progress.
#include "formats/document/ZIP.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "formats/document/CraftedDocuments.h"
#include "support/Carving.h"

using crafted::Slice;
using trtest::Bytes;
using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;

namespace {

struct Entry {
  std::string name;
  std::vector<uint8_t> data;
  uint16_t flags = 0;
  bool sizesAfterData = false;  // sizes 0 in the local header, descriptor after the data
};

std::vector<uint8_t> LocalHeader(const std::string& name, uint32_t size, uint16_t flags = 0,
                                 uint16_t method = 0) {
  return Bytes().U32LE(0x04034B50).U16LE(20).U16LE(flags).U16LE(method).Zeros(8).U32LE(size).U32LE(size)
      .U16LE(static_cast<uint16_t>(name.size())).U16LE(0).Text(name);
}

// A stored archive: local records, central directory, end record.
std::vector<uint8_t> Archive(const std::vector<Entry>& entries, const std::string& comment = "") {
  Bytes b;
  std::vector<uint32_t> offsets;
  for (const Entry& e : entries) {
    const uint32_t size = static_cast<uint32_t>(e.data.size());
    offsets.push_back(static_cast<uint32_t>(b.size()));
    b.Raw(LocalHeader(e.name, e.sizesAfterData ? 0 : size, e.flags)).Raw(e.data);
    if (e.sizesAfterData) b.U32LE(0x08074B50).U32LE(0).U32LE(size).U32LE(size);
  }
  const uint32_t directory = static_cast<uint32_t>(b.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    const uint32_t size = static_cast<uint32_t>(e.data.size());
    b.U32LE(0x02014B50).U16LE(20).U16LE(20).U16LE(e.flags).Zeros(10).U32LE(size).U32LE(size);
    b.U16LE(static_cast<uint16_t>(e.name.size())).Zeros(12).U32LE(offsets[i]).Text(e.name);
  }
  const uint16_t count = static_cast<uint16_t>(entries.size());
  const uint32_t directorySize = static_cast<uint32_t>(b.size()) - directory;
  b.U32LE(0x06054B50).U32LE(0).U16LE(count).U16LE(count).U32LE(directorySize).U32LE(directory);
  return b.U16LE(static_cast<uint16_t>(comment.size())).Text(comment);
}

std::vector<uint8_t> Filler(size_t n, uint8_t v = 0x11) { return std::vector<uint8_t>(n, v); }

// An archive on a disk image with random sectors after it.
std::vector<uint8_t> OnDisk(const std::vector<uint8_t>& archive, size_t after = 2) {
  return DiskImage().File(archive).Random(after).bytes();
}

}  // namespace

TEST(Zip, HeaderTestRejectsOtherMethodsLongNamesAndShortBuffers) {
  struct Case { uint16_t method; size_t nameLength; uint32_t length; uint32_t code; };
  const Case cases[] = {{0, 5, 64, 1793}, {8, 260, 64, 1793}, {12, 5, 64, 0}, {14, 5, 64, 0},
                        {8, 261, 64, 0},  {8, 5, 31, 1793},   {8, 5, 30, 0}};
  CTypeRecoveryZIP r(nullptr, nullptr);
  for (const Case& c : cases) {
    std::vector<uint8_t> h = LocalHeader(std::string(c.nameLength, 'n'), 0, 0, c.method);
    h.resize(std::max<size_t>(h.size(), 64), 0);
    EXPECT_EQ(r.IsHeaderMatched(h.data(), c.length, 0), c.code) << c.method << " " << c.nameLength;
  }
  EXPECT_EQ(r.IsHeaderMatched(nullptr, 64, 0), 0u);
}

TEST(Zip, CraftedArchivesAreCarvedInBothModes) {
  struct Case {
    const char* what;
    std::vector<trtest::AddedType> types;
    std::vector<uint8_t> image;
    uint32_t lookahead;
    std::vector<crafted::Carved> files;
  };
  std::vector<Case> cases;
  auto whole = [](const std::vector<uint8_t>& archive, const std::string& path, uint64_t at = 0) {
    return crafted::Carved{path, at, archive.size(), 1, archive};
  };
  // The end record is found by a search for its signature and written
  // without its comment, which the reported size counts.
  const auto commented = Archive({{"notes.txt", Filler(700)}, {"more.txt", Filler(300)}}, "a comment");
  cases.push_back({"search", {{1793}}, DiskImage().Random(2).File(commented).Random(3).bytes(), 512,
                   {{"zip/00000.zip", 1024, commented.size(), 1, Slice(commented, 0, commented.size() - 9)}}});
  // A stored archive inside, its end record followed by a local header; a
  // local header exactly at a strip start inside an archive.
  const auto nested = Archive({{"inner.zip", Bytes().Raw(Filler(100)).U32LE(0x06054B50).Zeros(18)
                                                 .U32LE(0x04034B50).Raw(Filler(100))}});
  const auto atStrip = Archive({{"a.txt", Filler(512 - 35)}, {"b.txt", Filler(900)}});
  for (const auto& a : {nested, atStrip}) cases.push_back({"no end yet", {{1793}}, OnDisk(a), 512, {whole(a, "zip/00000.zip")}});
  // Flags 2 select the walk; bytes that are no record end it before the strip
  // holding them, which is written whole; in the first strip they discard it.
  const auto unknown = OnDisk(Bytes().Raw(LocalHeader("a.bin", 2000, 2)).Raw(Filler(2000)).Raw(Filler(600, 0x77)), 4);
  cases.push_back({"walk to an unknown record", {{1793}}, unknown, 512, {{"zip/00000.zip", 0, 1536, 0, Slice(unknown, 0, 2048)}}});
  cases.push_back({"unknown record in the first strip", {{1793}},
                   OnDisk(Bytes().Raw(LocalHeader("a.bin", 20, 2)).Raw(Filler(20)).Raw(Filler(600, 0x77))), 512, {}});
  // A walk that cannot step over a record searches for the end: entries whose
  // sizes follow their data, from the first entry on or after a walked one;
  // a record beginning 22 bytes before a strip end with a 10-byte lookahead.
  for (const auto& a : {Archive({{"first.bin", Filler(700), 2}, {"second.bin", Filler(900), 0x808, true},
                                 {"third.bin", Filler(300), 0x808, true}}),
                        Archive({{"only.bin", Filler(1500), 0x808, true}}),
                        Archive({{"a.bin", Filler(455), 2}, {"b.bin", Filler(1000), 2}, {"c.bin", Filler(10), 2}})})
    cases.push_back({"walk falls back to the search", {{1793}}, OnDisk(a, 3), 10, {whole(a, "zip/00000.zip")}});
  // The first entry name decides the sub-type.
  const std::pair<std::vector<std::string>, std::string> named[] = {
      {{"word/document.xml", "ppt/slide1.xml"}, "docx"},  // the first name wins
      {{"xl/_rels/workbook.xml.rels"}, "xlsx"}, {{"xl/workbook.xml"}, "zip"},       {{"DOMDocument.xml"}, "fla"},
      {{"FixedDocSeq.fdseq"}, "xps"},           {{"AndroidManifest.xml"}, "apk"},   {{"Payload/iTunesArtwork"}, "ipa"},
      {{"iTunesMetadata.plist"}, "ipa"},        {{"PxlPkg.plist"}, "pxl"}};
  for (const auto& [names, e] : named) {
    std::vector<Entry> entries;
    for (const std::string& name : names) entries.push_back({name, Filler(50)});
    const auto a = Archive(entries);
    cases.push_back({names[0].c_str(), {{257}, {259}, {258}, {1040}, {278}, {2310}, {2311}, {2312}, {1793}}, OnDisk(a, 1), 512,
                     {whole(a, e + "/00000." + e)}});
  }
  // A drawing stored in the package ("RIFF", then "CDR" at 8) is renamed into
  // its folder and takes the second number.
  const auto wave = Archive({{"content.riff", Bytes().Text("RIFF").U32LE(40).Text("WAVE").Raw(Filler(40))}});
  const auto drawing = Archive({{"content.riff", Bytes().Text("RIFF").U32LE(40).Text("CDR9").Raw(Filler(40))}});
  DiskImage riff;
  riff.File(wave).Random(1).File(drawing).Random(1);
  cases.push_back({"drawing", {{1793}, {1544}}, riff.bytes(), 512,
                   {whole(wave, "zip/00000.zip"), whole(drawing, "cdr/00001.cdr", riff.offsets()[1])}});
  // Only the added sub-type is kept: generic archives need their own code.
  // Filler between the archives retires each recognizer before the next header.
  DiskImage mixed;
  std::vector<crafted::Carved> kept;
  for (const char* name : {"word/document.xml", "xl/_rels/workbook.xml.rels", "plain.txt", "xl/_rels/workbook.xml.rels"}) {
    const auto a = Archive({{name, Filler(100)}});
    mixed.File(a).Random(1);
    if (name[0] == 'x') kept.push_back(whole(a, "xlsx/0000" + std::to_string(kept.size()) + ".xlsx", mixed.offsets().back()));
  }
  cases.push_back({"only the added sub-type", {{258}}, mixed.bytes(), 512, kept});
  // A sub-type's maximum stops it at the strip that reaches it.
  const auto big = Archive({{"word/document.xml", Filler(5000)}});
  cases.push_back({"maximum", {{257, 2000}}, OnDisk(big), 512, {{"docx/00000.docx", 0, 2048, 0, Slice(big, 0, 2048)}}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    crafted::ExpectCarved(c.types, c.image, c.files, 512, c.lookahead);
  }
}

TEST(Zip, FirstEntryFlagsChooseSearchOrWalk) {
  // The walk steps over a stray end signature inside an entry's data; the
  // search stops there.
  std::vector<uint8_t> data = Bytes().Raw(Filler(200)).U32LE(0x06054B50).Zeros(40).Raw(Filler(200));
  for (uint16_t flags : {0, 8, 0x800, 2, 0x808}) {
    const auto archive = Archive({{"data.bin", data, flags}});
    const bool walks = flags == 2 || flags == 0x808;
    trtest::TempDir dir;
    FolderRun(dir, {{1793}}, OnDisk(archive), 512, 512);
    EXPECT_EQ(dir.Read("zip/00000.zip").size(), walks ? archive.size() : 30u + 8 + 200 + 22) << flags;
  }
}

TEST(Zip, DefaultSubTypeMaximumIs128MiBWhileGenericArchivesGoOn) {
  // 1 MiB strips of zeros after a header strip; no end record ever comes.
  for (uint32_t code : {257u, 1793u}) {
    trtest::Scan scan({});
    TypeRecovery_AddAllTypes(scan.manager());
    std::vector<uint8_t> strip = LocalHeader(code == 257 ? "word/document.xml" : "data.bin", 0xFFFFFF);
    const size_t header = strip.size();
    strip.resize(1 << 20, 0);
    TypeRecovery_Analyse(scan.manager(), 0, strip.data(), 1 << 20, 0, &scan.errorFlag);
    std::fill_n(strip.begin(), header, 0);
    for (uint64_t i = 1; i < 130; ++i) TypeRecovery_Analyse(scan.manager(), i << 20, strip.data(), 1 << 20, 0, &scan.errorFlag);
    // Before the flush: the sub-type stopped at its maximum, the generic archive goes on.
    crafted::ExpectReports(scan.log.reports, code == 257 ? std::vector<crafted::Found>{{0, 128u << 20, 0, "docx"}}
                                                         : std::vector<crafted::Found>{});
  }
}

TEST(Zip, ProgressRecordResumesWithItsSubTypeAndFolderValue) {
  const auto archive = Archive({{"word/document.xml", Filler(3000), 2}, {"word/b.xml", Filler(100), 2}});
  const std::vector<uint8_t> image = Bytes().Raw(archive).PadTo((archive.size() / 512 + 2) * 512, 0x5A);
  // The load asks the folder-ID callback for the generic row, then rows 4,
  // 1, 3, 2 and 5 to 16; the resumed report carries the answer for "docx".
  crafted::folderIdCalls.clear();
  TypeRecovery_SetFuncGetTypeFolderID(crafted::RecordFolderId);
  const auto reports = trtest::ResumedRun({{257, 1 << 20}}, image, 512, 512, 1536);
  TypeRecovery_SetFuncGetTypeFolderID(nullptr);
  EXPECT_EQ(crafted::folderIdCalls, (std::vector<std::string>{"zip", "cdr", "docx", "pptx", "xlsx", "fla", "odt", "ods",
                                                               "odp", "odg", "odf", "odb", "xps", "apk", "jar", "ipa", "pxl"}));
  crafted::ExpectReports(reports, {{0, archive.size(), 1, "docx"}});
  EXPECT_EQ(reports.at(0).typeFolder, 1000u + 2);
}
