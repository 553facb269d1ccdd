// End to end: files made by real tools (see the scripts in tests/data/document)
// and crafted ones where no tool makes them, carved from synthetic disk images
// in folder and report mode and checked file by file.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "formats/document/CraftedDocuments.h"
#include "support/Carving.h"

using crafted::Carved;
using trtest::DiskImage;
using trtest::Fixture;

TEST(DocumentCarving, ArchivesTextAndProgramsComeOutByteForByte) {
  struct Case {
    const char* fixture;
    const char* output;
    size_t tail;  // bytes after the file that its end rule takes (zeros here)
  };
  // HTML keeps two bytes (8-bit) or two units (UTF-16) after its closing tag.
  const Case cases[] = {
      {"sample.pdf", "pdf/00000.pdf", 0},        {"sample-update.pdf", "pdf/00001.pdf", 0},
      {"sample.rar", "rar/00000.rar", 0},        {"sample.7z", "7z/00000.7z", 0},
      {"sample.cab", "cab/00000.cab", 0},        {"sample.rtf", "rtf/00000.rtf", 0},
      {"sample.html", "htm/00000.htm", 2},       {"sample-utf16le.html", "htm/00001.htm", 4},
      {"sample-utf16be.html", "htm/00002.htm", 4}, {"sample.mht", "mht/00000.mht", 0},
      {"sample.exe", "exe/00000.exe", 0},
      {"sample.dll", "dll/00001.dll", 0},  // numbered as the second exe, then renamed
  };
  DiskImage image;
  image.Random(3);
  bool zeros = false;
  for (const Case& c : cases) {
    image.File(Fixture("document", c.fixture));
    zeros ? image.Zeros(2) : image.Random(5);
    zeros = !zeros;
  }
  std::vector<Carved> carved;
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<uint8_t> bytes = Fixture("document", cases[i].fixture);
    bytes.resize(bytes.size() + cases[i].tail, 0);
    carved.push_back({cases[i].output, image.offsets()[i], bytes.size(), 1, bytes});
  }
  const std::vector<trtest::AddedType> types = {{276}, {1794}, {1795}, {1797}, {280}, {1281}, {282}, {2319}, {2322}};
  crafted::ExpectCarved(types, image.bytes(), carved);

  // 4096-byte strips without lookahead, each sized file starting a strip.
  DiskImage aligned;
  carved.clear();
  for (const char* name : {"sample.7z", "sample.cab", "sample.rar", "sample.exe"}) {
    const std::vector<uint8_t> file = Fixture("document", name);
    aligned.File(file).Random(8 - (file.size() + 511) / 512 % 8);
    while (aligned.bytes().size() % 4096 != 0) aligned.Zeros(1);
    const std::string ext = std::string(name).substr(7);
    carved.push_back({ext + "/00000." + ext, aligned.offsets().back(), file.size(), 1, file});
  }
  crafted::ExpectCarved(types, aligned.bytes(), carved, 4096, 0);
}

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
