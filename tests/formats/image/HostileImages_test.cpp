// Strips that begin with a signature of the layered-picture, icon, metafile,
// brush, raw and design-file recognizers and go on with random bytes, fed
// in every mode with short strips and little or no lookahead: the scan must
// stay inside the bytes it is given (checked under the sanitizers), keep
// its reports consistent and leave no file unreported.
#include <gtest/gtest.h>

#include <random>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::ShortStripRun;

std::vector<std::vector<uint8_t>> Signatures() {
  return {
      Bytes{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 10, 0, 0, 0, 10, 0, 1},
      Bytes().Text("Paint Shop Pro Image File\n\x1A").U8(0).Zeros(4).U16LE(6).U16LE(0).Text("~BK"),
      Bytes{0, 0, 1, 0, 2, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0xFF, 0xFF, 0, 0, 38, 0, 0, 0},
      Bytes{'I', 'I', 0, 0, 0, 0, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'},
      Bytes().Text("FOVb").Zeros(8).Text("SECpSECd"),
      Bytes{1, 0, 0, 0, 0x10, 0, 0, 0}.Zeros(32).Text(" EMF"),
      Bytes{0, 6, 0, 2}.Text("8BIMsamp").U32BE(0xFFFFFFF0),
      Bytes{0xD7, 0xCD, 0xC6, 0x9A, 0, 0},
      Bytes().Text("PCB FILEENDCOM"),
      Bytes().Text("TPF3").U32LE(0x00050001),
      Bytes{'F', 'X', 0xB4, 0, 0xFF, 0xFF, 0xFF, 0xFF},
  };
}

TEST(HostileImages, RandomBytesAfterEverySignatureStayInBoundsAndAreReported) {
  const std::vector<uint32_t> codes = {1541, 1549, 1540, 524,  525, 1560,
                                       1542, 1567, 1563, 1564, 1565};
  const auto signatures = Signatures();
  std::mt19937 random(11);
  for (size_t k = 0; k < codes.size(); ++k) {
    for (int round = 0; round < 6; ++round) {
      std::vector<uint8_t> image = signatures[k];
      const size_t size = 600 + random() % 3000;
      // Random bytes, with runs of a few values that the walks look for.
      while (image.size() < size) {
        const uint32_t r = random();
        image.push_back(static_cast<uint8_t>(r % 5 == 0 ? 0 : r % 7 == 0 ? 0xFF : r >> 8));
      }
      for (uint32_t lookahead : {0u, 5u, 100u}) {
        const uint32_t strip = 17 + static_cast<uint32_t>(random() % 300);
        const auto reports =
            ShortStripRun({codes[k], 1500 + random() % 2000}, image, 512, strip, lookahead);
        for (const trtest::Report& r : reports) {
          EXPECT_LE(r.start, image.size()) << codes[k];
          EXPECT_LE(r.complete, 1u) << codes[k];
        }
      }
    }
  }
}

}  // namespace
