// The open-ended recognizers: CAD drawings and page layouts copied until
// another format's header, tar archives walked member by member, and the
// chunk chain of OCI documents.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/DWG.h"
#include "formats/document/OCI.h"
#include "formats/document/QXP.h"
#include "formats/document/TAR.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;
using trtest::Bytes;

namespace {

struct Host {
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  ~Host() { TypeRecovery_CloseManager(m); }
};

std::vector<uint8_t> Block(uint8_t first, size_t size = 1024) {
  std::vector<uint8_t> b(size, 0x3C);
  b[0] = first;
  return b;
}

std::vector<trtest::Report> WithExtension(const std::vector<trtest::Report>& all, const std::string& ext) {
  std::vector<trtest::Report> out;
  for (const auto& r : all) {
    if (r.extension == ext) out.push_back(r);
  }
  return out;
}

const std::vector<uint8_t> kJpegStart = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};

// A ustar header block for a member of size bytes.
std::vector<uint8_t> TarHeader(const std::string& name, uint32_t size) {
  std::vector<uint8_t> h(512, 0);
  std::copy(name.begin(), name.end(), h.begin());
  auto octal = [&](size_t at, size_t width, uint64_t value) {
    for (size_t i = 0; i + 1 < width; ++i) {
      h[at + width - 2 - i] = static_cast<uint8_t>('0' + (value & 7));
      value >>= 3;
    }
  };
  octal(100, 8, 0644);
  octal(108, 8, 0);
  octal(116, 8, 0);
  octal(124, 12, size);
  octal(136, 12, 1700000000);
  h[156] = '0';
  std::copy_n("ustar", 6, h.begin() + 257);
  h[263] = '0';
  h[264] = '0';
  for (size_t i = 148; i < 156; ++i) h[i] = ' ';
  uint32_t sum = 0;
  for (uint8_t c : h) sum += c;
  octal(148, 7, sum);
  h[154] = 0;
  return h;
}

std::vector<uint8_t> TarMember(const std::string& name, uint32_t size) {
  std::vector<uint8_t> m = TarHeader(name, size);
  m.resize(512 + (size + 511) / 512 * 512, 0x6D);
  return m;
}

}  // namespace

// ---- DWG ----

TEST(Drawing, EndsBeforeAnotherFormatsHeaderButNotBeforeWeakSignatures) {
  Host host;
  CTypeRecoveryDWG r(host.m, nullptr);
  uint32_t error = 0;
  const std::vector<uint8_t> head = crafted::Dwg(1024);
  EXPECT_EQ(r.Analyse(0, head.data(), 512, 512, 1545, &error), 0u);
  EXPECT_EQ(r.Analyse(512, Block(0xFF).data(), 512, 512, 769, &error), 0u);  // MP3 with sync byte
  EXPECT_EQ(r.Analyse(1024, Block('F').data(), 512, 512, 1283, &error), 0u);  // SWF
  EXPECT_EQ(r.Analyse(1536, Block(0).data(), 512, 512, 1540, &error), 0u);    // ICO
  EXPECT_EQ(r.Analyse(2048, Block('x').data(), 512, 512, 0, &error), 0u);
  EXPECT_EQ(r.GetBytesWritten(), 2560u);
  EXPECT_EQ(r.Analyse(2560, Block('I').data(), 512, 512, 769, &error), 1u);  // MP3 without it
  ASSERT_EQ(host.log.reports.size(), 1u);
  EXPECT_EQ(host.log.reports[0].size, 2560u);
  EXPECT_EQ(host.log.reports[0].complete, 1u);
}

TEST(Drawing, JpegAfterTheDrawingEndsItAtTheStripBefore) {
  DiskImage image;
  image.File(crafted::Dwg(1500)).Random(2).File(kJpegStart).Random(2);
  const auto reports = WithExtension(ReportRun({{1545}, {513}}, image.bytes(), 512, 0), "dwg");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, image.offsets()[1]);
  EXPECT_EQ(reports[0].complete, 1u);
  trtest::TempDir dir;
  FolderRun(dir, {{1545}, {513}}, image.bytes(), 512, 0);
  EXPECT_EQ(dir.Read("dwg/00000.dwg"), trtest::Prefix(image.bytes(), image.offsets()[1]));
}

TEST(Drawing, MaximumEndsItCompleteAndANewDrawingCutsIt) {
  std::vector<uint8_t> image = crafted::Dwg(3000);
  const std::vector<uint8_t> second = crafted::Dwg(600);
  image.insert(image.end(), second.begin(), second.end());  // second header at 3000: not a strip start
  image.resize(8192, 0x21);
  const auto atMaximum = ReportRun({{1545, 2000}}, image, 512, 0);
  ASSERT_EQ(atMaximum.size(), 1u);
  EXPECT_EQ(atMaximum[0].size, 2048u);
  EXPECT_EQ(atMaximum[0].complete, 1u);
  std::vector<uint8_t> two = crafted::Dwg(1024);
  two.insert(two.end(), second.begin(), second.end());
  two.resize(4096, 0x21);
  const auto cut = ReportRun({{1545}}, two, 512, 0);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].size, 1024u);
  EXPECT_EQ(cut[0].complete, 0u);
  EXPECT_EQ(cut[1].start, 1024u);
  EXPECT_EQ(cut[1].complete, 0u);  // flushed
  std::vector<uint8_t> header = crafted::Dwg(64);
  header[5] = '0';
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 64, u"dwg"), -1);
}

// ---- tar ----

TEST(Tar, RealArchiveEndsAtItsLastMember) {
  const std::vector<uint8_t> tar = trtest::Fixture("document", "sample.tar");
  ASSERT_EQ(tar.size(), 4096u);  // two members (3072 bytes), then two zero blocks
  DiskImage image(8);
  image.Random(2).File(tar).Random(2);
  const auto reports = ReportRun({{1796}}, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].start, 1024u);
  EXPECT_EQ(reports[0].size, 3072u);
  EXPECT_EQ(reports[0].complete, 1u);
  trtest::TempDir dir;
  FolderRun(dir, {{1796}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Read("tar/00000.tar"), trtest::Prefix(tar, 3072));
}

TEST(Tar, WithoutLookaheadTheStripHoldingTheEndBlockIsWrittenWhole) {
  std::vector<uint8_t> tar = TarMember("a.txt", 700);
  const std::vector<uint8_t> b = TarMember("b.txt", 10);
  tar.insert(tar.end(), b.begin(), b.end());  // 2560 bytes of members
  tar.resize(3584, 0);
  const auto reports = ReportRun({{1796}}, tar, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2560u);
  trtest::TempDir dir;
  FolderRun(dir, {{1796}}, tar, 512, 0);
  EXPECT_EQ(dir.Read("tar/00000.tar"), trtest::Prefix(tar, 3072));
}

TEST(Tar, HeaderTestChecksItsChecksumAndFieldTerminators) {
  std::vector<uint8_t> h = TarHeader("member.txt", 100);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(h.data(), 512, u"tar"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(h.data(), 511, u"tar"), -1);
  for (size_t at : {0, 99, 107, 124, 148, 300}) {
    std::vector<uint8_t> bad = h;
    bad[at] = at == 99 || at == 107 ? 'x' : (at == 0 || at == 124 || at == 148 ? 0 : 'z');
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(bad.data(), 512, u"tar"), -1) << at;
  }
  // Leading spaces in the checksum field are allowed.
  std::vector<uint8_t> spaced = h;
  ASSERT_EQ(spaced[148], '0');
  spaced[148] = ' ';
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(spaced.data(), 512, u"tar"), 1);
}

TEST(Tar, SingleMemberEndsAfterItsDataAndAStripOfSeveralHeadersLosesTheWalk) {
  // A member followed by no further header: the archive is that member.
  std::vector<uint8_t> one = TarMember("only.txt", 5);
  one.resize(4096, 0);
  const auto single = ReportRun({{1796}}, one, 512, 512);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].size, 1024u);
  // One header is examined per strip: two members in one 4 KiB strip leave
  // the cursor behind and the archive runs on to the flush.
  std::vector<uint8_t> many;
  for (const char* name : {"a", "b", "c"}) {
    const std::vector<uint8_t> m = TarMember(name, 100);
    many.insert(many.end(), m.begin(), m.end());
  }
  many.resize(16384, 0x77);
  const auto lost = ReportRun({{1796}}, many, 4096, 0);
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].size, 16384u);
  EXPECT_EQ(lost[0].complete, 0u);
}

TEST(Tar, WalkResumesFromAProgressFile) {
  std::vector<uint8_t> tar;
  for (uint32_t size : {900u, 30u, 2000u}) {
    const std::vector<uint8_t> m = TarMember("m" + std::to_string(size), size);
    tar.insert(tar.end(), m.begin(), m.end());
  }
  const size_t members = tar.size();
  tar.resize(members + 2048, 0);
  const auto reports = trtest::ResumedRun({{1796}}, tar, 512, 512, 1536);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, members);
  EXPECT_EQ(reports[0].complete, 1u);
}

// ---- QXP ----

TEST(PageLayout, DocumentsAndTemplatesGetTheirExtensionsAndEndBeforeAnotherHeader) {
  DiskImage image;
  image.File(crafted::Qxp("XP", 1200)).File(kJpegStart).Random(1);
  image.File(crafted::Qxp("XT", 700)).File(kJpegStart).Random(1);
  const std::vector<trtest::AddedType> types = {{1556}, {1557}, {513}};
  trtest::TempDir dir;
  FolderRun(dir, types, image.bytes(), 512, 0);
  const auto& at = image.offsets();
  EXPECT_EQ(dir.Read("qxp/00000.qxp"), trtest::Prefix(image.bytes(), at[1]));
  const std::vector<uint8_t> all = image.bytes();
  EXPECT_EQ(dir.Read("qpt/00001.qpt"),
            std::vector<uint8_t>(all.begin() + static_cast<long>(at[2]), all.begin() + static_cast<long>(at[3])));
  const auto reports = ReportRun(types, image.bytes(), 512, 0);
  const auto qxp = WithExtension(reports, "qxp");
  const auto qpt = WithExtension(reports, "qpt");
  ASSERT_EQ(qxp.size(), 1u);
  ASSERT_EQ(qpt.size(), 1u);
  EXPECT_EQ(qxp[0].size, at[1]);
  EXPECT_EQ(qxp[0].complete, 0u);
  EXPECT_EQ(qpt[0].start, at[2]);
  EXPECT_EQ(qpt[0].size, at[3] - at[2]);
}

TEST(PageLayout, DisabledKindsAreDropped) {
  DiskImage image;
  image.File(crafted::Qxp("XP", 1200)).File(kJpegStart).File(crafted::Qxp("XT", 700)).File(kJpegStart);
  image.Random(1);
  const auto onlyTemplates = ReportRun({{1557}, {513}}, image.bytes(), 512, 0);
  EXPECT_TRUE(WithExtension(onlyTemplates, "qxp").empty());
  EXPECT_EQ(WithExtension(onlyTemplates, "qpt").size(), 1u);
  const auto onlyDocuments = ReportRun({{1556}, {513}}, image.bytes(), 512, 0);
  EXPECT_EQ(WithExtension(onlyDocuments, "qxp").size(), 1u);
  EXPECT_TRUE(WithExtension(onlyDocuments, "qpt").empty());
  trtest::TempDir dir;
  FolderRun(dir, {{1557}}, image.bytes(), 512, 0);
  for (const std::string& f : dir.Files()) EXPECT_EQ(f.substr(0, 4), "qpt/") << f;
}

TEST(PageLayout, OwnNewHeaderCutsCompleteAndTheMaximumCutsIncomplete) {
  std::vector<uint8_t> image = crafted::Qxp("XP", 1024);
  const std::vector<uint8_t> second = crafted::Qxp("XT", 512);
  image.insert(image.end(), second.begin(), second.end());
  image.resize(8192, 0x21);
  Host host;
  CTypeRecoveryQXP r(host.m, nullptr);
  r.EnableAllSubTypes(0);
  r.SetMaxFileSize(3000);
  uint32_t error = 0;
  uint32_t ended = 0;
  for (size_t pos = 0; pos < 8192; pos += 512) {
    ended += r.Analyse(pos, image.data() + pos, 512, 0, pos == 0 || pos == 1024 ? 1556 : 0, &error);
  }
  ASSERT_EQ(host.log.reports.size(), 1u);  // the template runs on: its own maximum is 16 MiB
  EXPECT_EQ(host.log.reports[0].size, 1024u);
  EXPECT_EQ(host.log.reports[0].complete, 1u);
  EXPECT_EQ(host.log.reports[0].extension, "qxp");
  EXPECT_EQ(r.GetCurrentSubTypeCode(), 1557u);
  // A document stops at the class maximum.
  const std::vector<uint8_t> document = crafted::Qxp("XP", 8192);
  CTypeRecoveryQXP d(host.m, nullptr);
  d.EnableAllSubTypes(0);
  d.SetMaxFileSize(3000);
  for (size_t pos = 0; pos < 4096; pos += 512) d.Analyse(pos, document.data() + pos, 512, 0, 0, &error);
  ASSERT_EQ(host.log.reports.size(), 2u);
  EXPECT_EQ(host.log.reports[1].size, 3072u);
  EXPECT_EQ(host.log.reports[1].complete, 0u);
  EXPECT_EQ(ended, 1u);
}

TEST(PageLayout, ProgressRecordHoldsFlagsTemplateMaximumAndKind) {
  std::vector<uint8_t> image = crafted::Qxp("XT", 4096);
  image.resize(8192, 0);
  const auto reports = trtest::ResumedRun({{1557}}, image, 512, 0, 1024);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "qpt");
  EXPECT_EQ(reports[0].size, 8192u);

  CTypeRecoveryQXP r(nullptr, nullptr);
  r.EnableSubType(1557, 0);
  uint32_t error = 0;
  r.Analyse(0, image.data(), 512, 0, 1556, &error);
  char path[] = "/tmp/qxp-progress-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(r.SaveProgress(TYPERECOVERY_FILE_FROM_FD(fd)), 1u);
  const std::vector<uint8_t> saved = trtest::ReadFile(path);
  close(fd);
  unlink(path);
  ASSERT_EQ(saved.size(), 60u + 2 + 8 + 4);
  EXPECT_EQ(saved[60], 0);
  EXPECT_EQ(saved[61], 1);
  EXPECT_EQ(saved[64], 0x00);  // 16 MiB, little-endian: 00 00 00 01 00 00 00 00
  EXPECT_EQ(saved[65], 0x01);
  EXPECT_EQ(saved[66], 0x00);
  EXPECT_EQ(saved[70], 0x15);  // 1557 = 0x0615
  EXPECT_EQ(saved[71], 0x06);
}

// ---- OCI ----

TEST(Oci, ChunkChainGivesTheExactSizeAcrossStrips) {
  const std::vector<uint8_t> file = crafted::Oci({100, 1500, 30, 700});
  DiskImage image(2);
  image.Random(1).File(file).Random(3);
  for (uint32_t lookahead : {0u, 4u, 512u}) {
    SCOPED_TRACE(lookahead);
    const auto reports = ReportRun({{1561}}, image.bytes(), 512, lookahead);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].start, 512u);
    EXPECT_EQ(reports[0].size, file.size());
    EXPECT_EQ(reports[0].complete, 1u);
  }
  trtest::TempDir dir;
  FolderRun(dir, {{1561}}, image.bytes(), 512, 512);
  EXPECT_EQ(dir.Read("oci/00000.oci"), file);
}

TEST(Oci, WrappingChunkSizeDropsAFileInItsFirstStripAndCutsALaterOne) {
  std::vector<uint8_t> early = crafted::Oci({});
  const std::vector<uint8_t> wrapping = {'O', 'H', 'D', 'R', 0xF8, 0xFF, 0xFF, 0xFF};
  early.insert(early.end(), wrapping.begin(), wrapping.end());
  early.resize(2048, 0x41);
  EXPECT_TRUE(ReportRun({{1561}}, early, 512, 512).empty());

  std::vector<uint8_t> late = crafted::Oci({1000});
  late.insert(late.end(), wrapping.begin(), wrapping.end());
  late.resize(4096, 0x41);
  const auto reports = ReportRun({{1561}}, late, 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 1536u);
  EXPECT_EQ(reports[0].complete, 0u);
  const std::vector<uint8_t> header = crafted::Oci({});
  std::vector<uint8_t> other = Bytes().Text("OPIM").U32LE(49).PadTo(64);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(header.data(), 56, u"oci"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(other.data(), 64, u"oci"), -1);
}
