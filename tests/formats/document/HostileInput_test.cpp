// Hostile input: strips that begin with the document formats' signatures and
// go on with noise sprinkled with the bytes their walks and markers look for,
// fed in short strips with little or no lookahead in exact-size heap buffers,
// so that any read outside the strip plus its lookahead shows under the
// sanitizers.
#include <gtest/gtest.h>

#include <random>

#include "formats/document/CraftedDocuments.h"
#include "support/Carving.h"

using trtest::Bytes;

namespace {

struct Group {
  const char* name;
  std::vector<trtest::AddedType> types;
  std::vector<std::vector<uint8_t>> heads;  // the first bytes of files
  std::vector<uint8_t> sprinkled;
};

// A PE stub whose PE header offset stays small.
std::vector<uint8_t> PeStub(uint32_t peAt) {
  return Bytes().Text("MZ").U16LE(0x90).Zeros(6).U16LE(0).U16LE(0xFFFF).Zeros(4).U16LE(0).PadTo(60)
      .U32LE(peAt).PadTo(64).Text("PE");
}

std::vector<trtest::AddedType> Limited(const std::vector<uint32_t>& codes, uint64_t maxSize) {
  std::vector<trtest::AddedType> types;
  for (uint32_t code : codes) types.push_back({code, maxSize});
  return types;
}

std::vector<Group> Groups() {
  std::vector<std::vector<uint8_t>> marked;
  for (auto make : {crafted::Vnote, crafted::Drw, crafted::Gho, crafted::Exb, crafted::Url, crafted::Dxf,
                    crafted::Qcd, crafted::Swi, crafted::Sdr, crafted::Pzf, crafted::Vfb, crafted::Gp5})
    marked.push_back(make());
  for (const auto& file : {crafted::Cdr(2001), crafted::Dwg(1700), crafted::Chm(1300), crafted::MaxPp(700),
                           crafted::Hlp(900), crafted::One(1100), crafted::Vcard(2), crafted::Dbx(640),
                           crafted::Pst(14, 1000), crafted::Wpd(1500), crafted::Qxp("XP", 1000),
                           crafted::Qxp("XT", 800), crafted::Mb(1900), crafted::Dat(800), crafted::Oci({200, 900, 64}),
                           crafted::Dex(1300)})
    marked.push_back(file);
  for (const char* name : {"sample.tar", "sample.lnk", "sample.pfx", "sample.icc", "sample.pfb", "sample.ttf"})
    marked.push_back(trtest::Fixture("document", name));
  marked.push_back(crafted::Slice(trtest::Fixture("document", "sample.iso"), 32768, 600));
  for (auto& head : marked) head.resize(std::min<size_t>(head.size(), 600));
  return {
      {"archives, text and programs",
       Limited({276, 1794, 1795, 1797, 280, 282, 1281, 2319, 2322}, 100000),
       {Bytes().Text("%PDF-1.7\n"), Bytes().Text("Rar!").Raw({0x1A, 0x07, 0x00, 0, 0, 0x73}),
        Bytes{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C}, Bytes().Text("MSCF"), Bytes().Text("{\\rtf1"),
        Bytes().Text("From: boundary=\""), Bytes().Text("<html>"), Bytes{0xFF, 0xFE}.Raw(crafted::Wide("<html")),
        PeStub(64), PeStub(130), PeStub(263)},
       {'}', 0, 0x7B}},
      {"fixed-size, end-marker and open-ended formats",
       Limited({1544, 1545, 281,  1799, 1551, 1543, 283,  1282, 263,  2306, 2049, 2050, 1798, 273,  1796, 1546, 2309, 1556,
                1557, 1554, 1548, 1041, 1558, 1284, 2315, 1561, 1562, 1559, 2313, 2318, 2317, 2307, 1568, 2327, 2329},
               200000),
       marked,
       {0, 'O', 0xFF}},
  };
}

}  // namespace

TEST(DocumentHostileInput, NoiseAfterSignaturesNeverReadsOutsideTheStrip) {
  std::mt19937 random(2026);
  for (const Group& g : Groups()) {
    SCOPED_TRACE(g.name);
    for (int round = 0; round < 50; ++round) {
      std::vector<uint8_t> image;
      while (image.size() < 20000) {
        const std::vector<uint8_t>& head = g.heads[random() % g.heads.size()];
        // All of the head or only its first bytes.
        const size_t keep = random() % 3 == 0 ? head.size() : std::min<size_t>(head.size(), 16 + random() % 200);
        image.insert(image.end(), head.begin(), head.begin() + static_cast<long>(keep));
        for (size_t i = 20 + random() % 800; i > 0; --i) {
          const uint32_t r = random();
          image.push_back(r % 16 == 0 ? g.sprinkled[(r >> 4) % g.sprinkled.size()] : static_cast<uint8_t>(r >> 8));
        }
      }
      const uint32_t strip = 17 + random() % 700;
      const uint32_t lookahead = random() % 3 == 0 ? 0 : random() % 64;
      trtest::Scan scan(g.types);
      for (size_t pos = 0; pos < image.size(); pos += strip)
        scan.Strip(image, pos, static_cast<uint32_t>(std::min<size_t>(strip, image.size() - pos)), lookahead);
      scan.Flush();
      for (const trtest::Report& r : scan.log.reports) EXPECT_LT(r.start, image.size());
    }
  }
}
