// End to end: one synthetic disk image holding a file of every fixed-size,
// end-marker and open-ended document type (real files from
// tests/data/document/make_fixed_and_marker.sh where a tool makes them,
// crafted ones otherwise), carved in folder and report mode and checked file
// by file; then hostile strips that begin with those formats' signatures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

#include "formats/document/CraftedDocuments.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::DiskImage;
using trtest::Fixture;

namespace {

// Every type code of the classes under test, in registry order.
const std::vector<trtest::AddedType> kTypes = {
    {1544}, {1545}, {281},  {1799}, {1551}, {1543}, {283},  {1282}, {263},  {2306}, {2049}, {2050},
    {1798}, {273},  {1796}, {1546}, {2309}, {1556}, {1557}, {1554}, {1548}, {1041}, {1558}, {1284},
    {2315}, {1561}, {1562}, {1559}, {2313}, {2318}, {2317}, {2307}, {1568}, {2327}, {2329}};

enum class End { Exact, UntilNext, Tar, Font, Disc };

struct Entry {
  std::string extension;
  std::vector<uint8_t> file;
  End end;
  uint32_t complete = 1;
};

std::vector<Entry> Entries() {
  return {
      {"iso", Fixture("document", "sample.iso"), End::Disc},
      {"cdr", crafted::Cdr(2001), End::Exact},
      {"dwg", crafted::Dwg(1700), End::UntilNext},  // ended by the next header
      {"chm", crafted::Chm(1300), End::Exact},
      {"gho", crafted::Gho(), End::Exact},
      {"exb", crafted::Exb(), End::Exact},
      {"max", crafted::MaxPp(700), End::Exact},
      {"hlp", crafted::Hlp(900), End::Exact},
      {"url", crafted::Url(), End::Exact},
      {"one", crafted::One(1100), End::Exact},
      {"vcf", crafted::Vcard(2), End::Exact},
      {"dbx", crafted::Dbx(640), End::Exact},
      {"pst", crafted::Pst(14, 1000), End::Exact},
      {"wpd", crafted::Wpd(1500), End::Exact},
      {"tar", Fixture("document", "sample.tar"), End::Tar},
      {"dxf", crafted::Dxf(), End::Exact},
      {"lnk", Fixture("document", "sample.lnk"), End::Exact},
      {"qxp", crafted::Qxp("XP", 1000), End::UntilNext, 1},  // cut by the template's header
      {"qpt", crafted::Qxp("XT", 800), End::UntilNext, 0},   // ended by the next format
      {"qcd", crafted::Qcd(), End::Exact},
      {"mb", crafted::Mb(1900), End::Exact},
      {"swi", crafted::Swi(), End::Exact},
      {"sdr", crafted::Sdr(), End::Exact},
      {"dat", crafted::Dat(800), End::Exact},
      {"pfx", Fixture("document", "sample.pfx"), End::Exact},
      {"oci", crafted::Oci({200, 900, 64}), End::Exact},
      {"icc", Fixture("document", "sample.icc"), End::Exact},
      {"pzf", crafted::Pzf(), End::Exact},
      {"dex", crafted::Dex(1300), End::Exact},
      {"pfb", Fixture("document", "sample.pfb"), End::Exact},
      {"ttf", Fixture("document", "sample.ttf"), End::Font},
      {"vnt", crafted::Vnote(), End::Exact},
      {"vfb", crafted::Vfb(), End::Exact},
      {"gp5", crafted::Gp5(), End::Exact},
      {"drw", crafted::Drw(), End::Exact},
  };
}

struct Expected {
  std::string path;
  uint64_t start;
  uint64_t size;
  uint32_t complete;
  std::vector<uint8_t> bytes;
};

}  // namespace

TEST(FixedAndMarkerCarving, EveryTypeInOneImageIsCarvedInBothModes) {
  const std::vector<Entry> entries = Entries();
  DiskImage image(2026);
  image.Random(2);
  for (size_t i = 0; i < entries.size(); ++i) {
    image.File(entries[i].file);
    // Drawings and page layouts end at the next header: nothing between.
    const bool openEnded = entries[i].end == End::UntilNext;
    if (!openEnded) {
      if (i % 2 == 0) image.Random(1);
      else image.Zeros(1);
    }
  }
  image.Random(2);
  const std::vector<uint8_t>& all = image.bytes();
  const auto& at = image.offsets();
  auto slice = [&](uint64_t from, uint64_t size) {
    return std::vector<uint8_t>(all.begin() + static_cast<long>(from),
                                all.begin() + static_cast<long>(from + size));
  };

  std::vector<Expected> expected;
  std::map<std::string, int> counters;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    // The page-layout class numbers both kinds from one counter.
    const std::string counterKey = e.extension == "qpt" ? "qxp" : e.extension;
    char name[64];
    std::snprintf(name, sizeof name, "%s/%05d.%s", e.extension.c_str(), counters[counterKey]++,
                  e.extension.c_str());
    Expected x{name, at[i], e.file.size(), e.complete, e.file};
    switch (e.end) {
      case End::Exact:
        break;
      case End::UntilNext:
        x.size = at[i + 1] - at[i];
        x.bytes = slice(at[i], x.size);
        break;
      case End::Tar:
        x.size = 3072;  // the members; the zero blocks are not part of it
        x.bytes = slice(at[i], 3072);
        break;
      case End::Font:
        x.size = e.file.size() | 3;  // three bytes of the zeros behind it
        x.bytes = slice(at[i], x.size);
        break;
      case End::Disc:
        x.start = at[i] + 32768;  // found at its volume descriptor
        break;
    }
    expected.push_back(x);
  }

  trtest::TempDir dir;
  uint32_t error = 0;
  trtest::FolderRun(dir, kTypes, all, 512, 512, &error);
  EXPECT_EQ(error, 0u);
  std::vector<std::string> paths;
  for (const Expected& x : expected) {
    SCOPED_TRACE(x.path);
    paths.push_back(x.path);
    EXPECT_EQ(dir.Read(x.path), x.bytes);
  }
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(dir.Files(), paths);

  const auto reports = trtest::ReportRun(kTypes, all, 512, 512);
  ASSERT_EQ(reports.size(), expected.size());
  std::map<uint64_t, trtest::Report> byStart;
  for (const auto& r : reports) byStart[r.start] = r;
  for (size_t i = 0; i < expected.size(); ++i) {
    const Expected& x = expected[i];
    SCOPED_TRACE(x.path);
    ASSERT_EQ(byStart.count(x.start), 1u);
    const trtest::Report& r = byStart[x.start];
    EXPECT_EQ(r.extension, entries[i].extension);
    EXPECT_EQ(r.size, x.size);
    EXPECT_EQ(r.complete, x.complete);
  }
}

TEST(FixedAndMarkerCarving, HeaderVerificationAnswersForEveryExtension) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
  for (const Entry& e : Entries()) {
    if (e.extension != "iso") cases.emplace_back(e.extension, e.file);
  }
  cases.emplace_back("ghs", crafted::Gho());
  cases.emplace_back("sdt", crafted::Sdr());
  const std::vector<uint8_t> foreign(1024, 0x5A);
  for (auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::vector<uint8_t> buffer = c.second;
    buffer.resize(std::max<size_t>(buffer.size(), 1024), 0);
    const std::u16string ext = trtest::U16("." + c.first);
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(buffer.data(), static_cast<uint32_t>(buffer.size()),
                                               ext.c_str()),
              1);
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(foreign.data(), 1024, ext.c_str()), -1);
  }
}

TEST(FixedAndMarkerCarving, HostileBytesAfterSignaturesNeverReadOutsideTheStrip) {
  std::vector<std::vector<uint8_t>> signatures;
  for (const Entry& e : Entries()) {
    std::vector<uint8_t> head = e.file;
    head.resize(std::min<size_t>(head.size(), e.extension == "iso" ? 32768 + 600 : 600));
    if (e.extension == "iso") head.erase(head.begin(), head.begin() + 32768);
    signatures.push_back(head);
  }
  std::mt19937 random(17);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> image;
    while (image.size() < 24576) {
      const std::vector<uint8_t>& s = signatures[random() % signatures.size()];
      // Keep 0 to all of the signature's first bytes, then noise sprinkled
      // with the bytes the walks and markers look for.
      const size_t keep = random() % 3 == 0 ? s.size() : std::min<size_t>(s.size(), 16 + random() % 200);
      image.insert(image.end(), s.begin(), s.begin() + static_cast<long>(keep));
      const size_t noise = random() % 900;
      for (size_t i = 0; i < noise; ++i) {
        const uint32_t r = random();
        image.push_back(r % 40 == 0 ? 0 : r % 43 == 0 ? 'O' : r % 47 == 0 ? 0xFF : static_cast<uint8_t>(r >> 8));
      }
    }
    const uint32_t strip = 17 + random() % 700;
    const uint32_t lookahead = random() % 3 == 0 ? 0 : random() % 40;
    trtest::ReportLog log;
    CTypeRecoveryManager* m =
        TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
    for (const trtest::AddedType& t : kTypes) TypeRecovery_AddType(m, t.code, 200000);
    uint32_t error = 0;
    for (size_t pos = 0; pos < image.size(); pos += strip) {
      const size_t length = std::min<size_t>(strip, image.size() - pos);
      const size_t ahead = std::min<size_t>(lookahead, image.size() - pos - length);
      // Exact-size heap copy (at least the 16 bytes a caller guarantees).
      std::vector<uint8_t> buffer(image.begin() + static_cast<long>(pos),
                                  image.begin() + static_cast<long>(pos + length + ahead));
      if (buffer.size() < 16) buffer.resize(16, 0);
      TypeRecovery_Analyse(m, pos, buffer.data(), static_cast<uint32_t>(length),
                           static_cast<uint32_t>(ahead), &error);
    }
    TypeRecovery_Flush(m);
    TypeRecovery_CloseManager(m);
    for (const auto& r : log.reports) EXPECT_LE(r.start, image.size());
  }
}
