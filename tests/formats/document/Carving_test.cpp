// End to end: the crafted files of the kinds no common tool makes, with a few
// real ones, carved from one synthetic disk image in folder and report mode
// and checked file by file. (Every real fixture alone is carved by
// formats/AllFixtures_test.cpp.)
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "formats/document/CraftedDocuments.h"
#include "support/Carving.h"

using crafted::Carved;
using trtest::DiskImage;
using trtest::Fixture;

TEST(DocumentCarving, EveryFixedSizeEndMarkerAndOpenEndedTypeInOneImage) {
  enum class End { Exact, UntilNext, Disc };
  struct Entry { std::string extension; std::vector<uint8_t> file; End end; uint32_t complete = 1; };
  const Entry entries[] = {
      {"iso", Fixture("document", "sample.iso"), End::Disc}, {"cdr", crafted::Cdr(2001), End::Exact},
      {"dwg", crafted::Dwg(1700), End::UntilNext},  // ended by the next header
      {"chm", crafted::Chm(1300), End::Exact}, {"gho", crafted::Gho(), End::Exact},
      {"exb", crafted::Exb(), End::Exact}, {"max", crafted::MaxPp(700), End::Exact},
      {"hlp", crafted::Hlp(900), End::Exact}, {"url", crafted::Url(), End::Exact},
      {"one", crafted::One(1100), End::Exact}, {"vcf", crafted::Vcard(2), End::Exact},
      {"dbx", crafted::Dbx(640), End::Exact}, {"pst", crafted::Pst(14, 1000), End::Exact},
      {"wpd", crafted::Wpd(1500), End::Exact}, {"tar", Fixture("document", "sample.tar"), End::Exact},
      {"dxf", crafted::Dxf(), End::Exact}, {"lnk", Fixture("document", "sample.lnk"), End::Exact},
      {"qxp", crafted::Qxp("XP", 1000), End::UntilNext, 1},  // cut by the template's header
      {"qpt", crafted::Qxp("XT", 800), End::UntilNext, 0},   // ended by the next format
      {"qcd", crafted::Qcd(), End::Exact}, {"mb", crafted::Mb(1900), End::Exact},
      {"swi", crafted::Swi(), End::Exact}, {"sdr", crafted::Sdr(), End::Exact},
      {"dat", crafted::Dat(800), End::Exact}, {"pfx", Fixture("document", "sample.pfx"), End::Exact},
      {"oci", crafted::Oci({200, 900, 64}), End::Exact}, {"icc", Fixture("document", "sample.icc"), End::Exact},
      {"pzf", crafted::Pzf(), End::Exact}, {"dex", crafted::Dex(1300), End::Exact},
      {"pfb", Fixture("document", "sample.pfb"), End::Exact}, {"ttf", Fixture("document", "sample.ttf"), End::Exact},
      {"vnt", crafted::Vnote(), End::Exact}, {"vfb", crafted::Vfb(), End::Exact},
      {"gp5", crafted::Gp5(), End::Exact}, {"drw", crafted::Drw(), End::Exact},
  };
  DiskImage image(2026);
  image.Random(2);
  for (size_t i = 0; i < std::size(entries); ++i) {
    image.File(entries[i].file);
    // Drawings and page layouts end at the next header: nothing between.
    if (entries[i].end != End::UntilNext) i % 2 == 0 ? image.Random(1) : image.Zeros(1);
  }
  image.Random(2);
  const std::vector<uint8_t>& all = image.bytes();
  const auto& at = image.offsets();
  std::vector<Carved> carved;
  std::map<std::string, int> counters;
  for (size_t i = 0; i < std::size(entries); ++i) {
    const Entry& e = entries[i];
    // The page-layout class numbers both kinds from one counter.
    char name[64];
    std::snprintf(name, sizeof name, "%s/%05d.%s", e.extension.c_str(),
                  counters[e.extension == "qpt" ? "qxp" : e.extension]++, e.extension.c_str());
    uint64_t size = e.file.size();
    switch (e.end) {
      case End::Exact: case End::Disc: break;
      case End::UntilNext: size = at[i + 1] - at[i]; break;
    }
    // A disc image is found at its volume descriptor; its system area is zeros.
    const uint64_t start = at[i];  // a disc image is reported from its system area on
    carved.push_back({name, start, size, e.complete, e.end == End::Disc ? e.file : crafted::Slice(all, at[i], size)});
  }
  crafted::ExpectCarved({{1544}, {1545}, {281},  {1799}, {1551}, {1543}, {283},  {1282}, {263},
                         {2306}, {2049}, {2050}, {1798}, {273},  {1796}, {1546}, {2309}, {1556},
                         {1557}, {1554}, {1548}, {1041}, {1558}, {1284}, {2315}, {1561}, {1562},
                         {1559}, {2313}, {2318}, {2317}, {2307}, {1568}, {2327}, {2329}},
                        all, carved);
}
