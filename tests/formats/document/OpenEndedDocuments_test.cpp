// The open-ended recognizers: CAD drawings and page layouts copied until
// another format's header, tar archives walked member by member, and the
// chunk chain of OCI documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/DWG.h"
#include "formats/document/QXP.h"
#include "support/Carving.h"
#include "typerecovery.h"

using crafted::Found;
using trtest::Bytes;

namespace {

std::vector<uint8_t> Block(uint8_t first) {
  std::vector<uint8_t> b(1024, 0x3C);
  b[0] = first;
  return b;
}

// A ustar header block for a member of size bytes.
std::vector<uint8_t> TarHeader(const std::string& name, uint32_t size) {
  std::vector<uint8_t> h(512, 0);
  std::copy(name.begin(), name.end(), h.begin());
  auto octal = [&](size_t at, size_t width, uint64_t value) {
    for (size_t i = 0; i + 1 < width; ++i, value >>= 3) h[at + width - 2 - i] = static_cast<uint8_t>('0' + (value & 7));
  };
  for (const auto& [at, width, value] : {std::tuple<size_t, size_t, uint64_t>{100, 8, 0644}, {108, 8, 0}, {116, 8, 0},
                                         {124, 12, size}, {136, 12, 1700000000}})
    octal(at, width, value);
  h[156] = '0';
  std::copy_n("ustar\0" "00", 8, h.begin() + 257);
  std::fill_n(h.begin() + 148, 8, ' ');
  uint32_t sum = 0;
  for (uint8_t c : h) sum += c;
  octal(148, 7, sum);
  h[154] = 0;
  return h;
}

std::vector<uint8_t> Tar(const std::vector<uint32_t>& sizes) {
  Bytes b;
  for (uint32_t size : sizes) {
    const size_t end = b.size() + 512 + (size + 511) / 512 * 512;
    b.Raw(TarHeader("m" + std::to_string(size), size)).PadTo(end, 0x6D);
  }
  return b;
}

std::vector<uint8_t> Then(std::vector<uint8_t> a, const std::vector<uint8_t>& b, size_t padTo, uint8_t fill) {
  a.insert(a.end(), b.begin(), b.end());
  a.resize(std::max(a.size(), padTo), fill);
  return a;
}

}  // namespace

TEST(OpenEnded, DrawingEndsBeforeAnotherFormatsHeaderButNotBeforeWeakSignatures) {
  trtest::Scan host({});
  CTypeRecoveryDWG r(host.manager(), nullptr);
  uint32_t error = 0;
  EXPECT_EQ(r.Analyse(0, crafted::Dwg(1024).data(), 512, 512, 1545, &error), 0u);
  EXPECT_EQ(r.Analyse(512, Block(0xFF).data(), 512, 512, 769, &error), 0u);   // MP3 with sync byte
  EXPECT_EQ(r.Analyse(1024, Block('F').data(), 512, 512, 1283, &error), 0u);  // SWF
  EXPECT_EQ(r.Analyse(1536, Block(0).data(), 512, 512, 1540, &error), 0u);    // ICO
  EXPECT_EQ(r.Analyse(2048, Block('x').data(), 512, 512, 0, &error), 0u);
  EXPECT_EQ(r.GetBytesWritten(), 2560u);
  EXPECT_EQ(r.Analyse(2560, Block('I').data(), 512, 512, 769, &error), 1u);  // MP3 without it
  crafted::ExpectReports(host.log.reports, {{0, 2560, 1}});
}

TEST(OpenEnded, CraftedFilesEndWhereTheirRulesSay) {
  const std::vector<uint8_t> wrapping = {'O', 'H', 'D', 'R', 0xF8, 0xFF, 0xFF, 0xFF};
  const std::vector<uint8_t> oci = crafted::Oci({100, 1500, 30, 700});
  const std::vector<uint8_t> ociImage = trtest::DiskImage(2).Random(1).File(oci).Random(3).bytes();
  crafted::ExpectRuns({
      // A second header at 3000 is not at a strip start.
      {"drawing at its maximum", {{1545, 2000}}, Then(crafted::Dwg(3000), crafted::Dwg(600), 8192, 0x21), 512, 0,
       {{0, 2048, 0}}},
      {"drawing cut by a new one", {{1545}}, Then(crafted::Dwg(1024), crafted::Dwg(600), 4096, 0x21), 512, 0,
       {{0, 1024, 0}, {1024, 3072, 0}}},
      // The two end blocks belong to the archive; other data ends it.
      {"tar: a single member", {{1796}}, Then(Tar({5}), std::vector<uint8_t>(1024, 0), 4096, 0x77), 512, 512,
       {{0, 2048, 1}}},
      // Every header in a strip is walked.
      {"tar: several headers in a strip", {{1796}}, Then(Tar({100, 100, 100}), {}, 16384, 0x77), 4096, 0,
       {{0, 3072, 1}}},
      // Zeros after the end blocks fill the archive's record of 10 KiB, and
      // no more: the next tar archive starts there.
      {"tar: zeros to the record's end", {{1796}}, Then(Then(Tar({5}), {}, 10240, 0), Tar({5}), 20480, 0x77), 512, 0,
       {{0, 10240, 1}, {10240, 1024, 1}}},
      {"oci chain, no lookahead", {{1561}}, ociImage, 512, 0, {{512, oci.size(), 1}}},
      {"oci chain, short lookahead", {{1561}}, ociImage, 512, 4, {{512, oci.size(), 1}}},
      {"oci chain, lookahead", {{1561}}, ociImage, 512, 512, {{512, oci.size(), 1}}},
      {"oci: wrapping size in the first strip", {{1561}}, Then(crafted::Oci({}), wrapping, 2048, 0x41), 512, 512, {}},
      {"oci: wrapping size later", {{1561}}, Then(crafted::Oci({1000}), wrapping, 4096, 0x41), 512, 0, {{0, 1536, 0}}},
  });
}

TEST(OpenEnded, TarIsWrittenToItsEndWhateverTheStripsAndLookahead) {
  // 2560 bytes of members, the two end blocks, then other data.
  const std::vector<uint8_t> tar = Then(Then(Tar({700, 10}), {}, 3584, 0), {}, 8192, 0x5A);
  for (const auto& [strip, lookahead] : {std::pair<uint32_t, uint32_t>{512, 0}, {512, 4096}, {4096, 0}}) {
    crafted::ExpectRuns({{"tar", {{1796}}, tar, strip, lookahead, {{0, 3584, 1}}}});
    trtest::TempDir dir;
    trtest::FolderRun(dir, {{1796}}, tar, strip, lookahead);
    EXPECT_EQ(dir.Read("tar/00000.tar"), trtest::Prefix(tar, 3584)) << strip << " " << lookahead;
  }
  // Strips smaller than a block: headers are put together across them.
  for (uint32_t strip : {100u, 700u}) {
    const auto reports = trtest::ShortStripRun({1796}, tar, 512, strip, 0);
    ASSERT_EQ(reports.size(), 1u) << strip;
    EXPECT_EQ(reports[0].size, 3584u) << strip;
    EXPECT_EQ(reports[0].complete, 1u) << strip;
  }
}

TEST(OpenEnded, TarHeaderTestChecksItsChecksumAndFieldTerminators) {
  const std::vector<uint8_t> h = TarHeader("member.txt", 100);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(h.data(), 512, u"tar"), 1);
  EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(h.data(), 511, u"tar"), -1);
  const std::pair<size_t, uint8_t> changes[] = {{0, 0}, {99, 'x'}, {107, 'x'}, {124, 0}, {148, 0}, {300, 'z'},
                                                {148, ' '}};  // leading spaces in the checksum are allowed
  for (const auto& [at, value] : changes) {
    std::vector<uint8_t> bad = h;
    bad[at] = value;
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(bad.data(), 512, u"tar"), value == ' ' ? 1 : -1) << at;
  }
}

TEST(OpenEnded, WalksResumeFromAProgressFile) {
  const std::vector<uint8_t> tar = Tar({900, 30, 2000});
  crafted::ExpectResumed({"tar", {{1796}}, Then(Then(tar, {}, tar.size() + 1024, 0), {}, tar.size() + 2048, 0x33), 512, 512,
                          {{0, tar.size() + 1024, 1}}}, 1536);
  crafted::ExpectResumed({"qpt", {{1557}}, Then(crafted::Qxp("XT", 4096), {}, 8192, 0), 512, 0, {{0, 8192, 0, "qpt"}}}, 1024);
}

TEST(OpenEnded, PageLayoutKeepsOnlyAddedKindsAndEndsAtItsMaximumOrOwnHeader) {
  const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0};
  trtest::DiskImage image;
  image.File(crafted::Qxp("XP", 1200)).File(jpeg).File(crafted::Qxp("XT", 700)).File(jpeg).Random(1);
  for (uint32_t code : {1556u, 1557u}) {
    const std::string kept = code == 1556 ? "qxp" : "qpt";
    size_t count = 0;
    for (const auto& r : trtest::ReportRun({{code}, {513}}, image.bytes(), 512, 0)) {
      EXPECT_TRUE(r.extension == kept || r.extension == "jpg") << r.extension;
      count += r.extension == kept;
    }
    EXPECT_EQ(count, 1u) << kept;
  }

  // With a class maximum of 3000 bytes a document's own new header (the
  // template's) cuts it complete, and the template runs on to its own 16 MiB
  // maximum; a document alone stops at 3000, incomplete.
  trtest::Scan host({});
  const std::vector<uint8_t> two = Then(crafted::Qxp("XP", 1024), crafted::Qxp("XT", 512), 8192, 0x21);
  const std::vector<uint8_t> one = crafted::Qxp("XP", 8192);
  uint32_t ended = 0;
  for (const auto* bytes : {&two, &one}) {
    CTypeRecoveryQXP r(host.manager(), nullptr);
    r.EnableAllSubTypes(0);
    r.SetMaxFileSize(3000);
    uint32_t error = 0;
    for (size_t pos = 0; pos < 4096; pos += 512) {
      const uint32_t n = r.Analyse(pos, bytes->data() + pos, 512, 0, pos == 0 || (bytes == &two && pos == 1024) ? 1556 : 0, &error);
      if (bytes == &two) ended += n;
    }
    if (bytes == &two) {
      EXPECT_EQ(r.GetCurrentSubTypeCode(), 1557u);
    }
  }
  crafted::ExpectReports(host.log.reports, {{0, 1024, 1, "qxp"}, {0, 3072, 0}});
  EXPECT_EQ(ended, 1u);
}
