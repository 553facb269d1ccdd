// ASF recognizer: the header test, the Header Object walk, the File Size,
// the audio sub-type and the progress record.
#include "formats/media/WMV.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using Guid = std::vector<uint8_t>;

constexpr uint32_t kWMV = 1027, kWMA = 772;

const Guid kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Guid kVideo = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const Guid kAudio = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

Bytes Object(const Guid& guid, uint64_t size, const Bytes& body = {}, uint8_t fill = 0x03) {
  return Bytes().Raw(guid).U64LE(size).Raw(body).PadTo(size, fill);
}
Bytes FileProperties(uint64_t fileSize) { return Object(kFileProperties, 104, Bytes().Fill(16, 0x3C).U64LE(fileSize), 1); }
Bytes Stream(const Guid& type) { return Object(kStreamProperties, 90, Bytes().Raw(type), 2); }

// An ASF file: the Header Object holding these objects (its size off by
// extra), then 0x5D data up to total bytes.
std::vector<uint8_t> Asf(const std::vector<Bytes>& objects, size_t total, int64_t extra = 0) {
  Bytes body;
  for (const Bytes& o : objects) body.Raw(o);
  Bytes b;
  b.Raw(kHeader).U64LE(30 + body.size() + extra).U32LE(static_cast<uint32_t>(objects.size())).U8(1).U8(2);
  return b.Raw(body).PadTo(total, 0x5D);
}

TEST(Wmv, HeaderTestNeeds65BytesASmallHeaderAndFewObjects) {
  CTypeRecoveryWMV wmv(nullptr, nullptr);
  const std::vector<uint8_t> good = Asf({FileProperties(1000)}, 65);
  EXPECT_EQ(wmv.IsHeaderMatched(good.data(), 65, 0), kWMV);
  EXPECT_EQ(wmv.IsHeaderMatched(good.data(), 64, 0), 0u);
  struct Change { std::vector<std::pair<size_t, uint8_t>> bytes; uint32_t code; const char* what; };
  const Change changes[] = {
      {{{16, 0x00}, {17, 0x00}, {18, 0x10}}, 0, "header size 1 MiB"},
      {{{16, 0xFF}, {17, 0xFF}, {18, 0x0F}}, kWMV, "header size 1 MiB - 1"},
      {{{20, 1}}, 0, "upper half of the size not zero"},
      {{{24, 0x00}, {25, 0x10}}, 0, "4096 header objects"},
  };
  for (const Change& c : changes) {
    std::vector<uint8_t> header = good;
    for (const auto& [at, value] : c.bytes) header[at] = value;
    EXPECT_EQ(wmv.IsHeaderMatched(header.data(), 65, 0), c.code) << c.what;
  }
}

TEST(Wmv, HeaderWalkGivesTheFileSizeAndSubType) {
  struct Case { const char* what; std::vector<uint8_t> image; uint32_t strip; const char* spans; };
  const Case cases[] = {
      {"audio file of File Size 500000", Asf({FileProperties(500000), Stream(kAudio)}, 600000), 4096,
       "wma@0+500000"},
      {"objects walked across strips", Asf({Object(Guid(16, 0xAB), 600), Object(Guid(16, 0xAC), 500),
                                            Stream(kAudio), FileProperties(2345)}, 4096), 512, "wma@0+2345"},
      {"a new header cuts the file complete",
       Bytes().Raw(Asf({FileProperties(100000), Stream(kVideo)}, 1024)).Raw(Asf({FileProperties(700), Stream(kVideo)}, 1024)),
       512, "wmv@0+1024 wmv@1024+700"},
      {"last object past the header size", Asf({FileProperties(3000), Stream(kVideo)}, 4096, -4), 512, ""},
      {"objects short of the header size", Asf({FileProperties(3000), Stream(kVideo)}, 4096, 40), 512, ""},
      {"no File Properties Object", Asf({Stream(kVideo)}, 4096), 512, ""},
      {"File Size 0", Asf({FileProperties(0), Stream(kVideo)}, 4096), 512, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trtest::CarvedSpans({kWMV, kWMA}, c.image, c.strip), c.spans) << c.what;
    if (*c.spans == 0) {
      EXPECT_TRUE(trtest::CarvedFiles({kWMV, kWMA}, c.image, c.strip).empty()) << c.what;
    }
  }
}

TEST(Wmv, ProgressRecordCarriesTheHeaderWalkAndSubType) {
  const auto file = Asf({Object(Guid(16, 0xAB), 700), FileProperties(3000), Stream(kAudio)}, 4096);
  for (size_t stop : {512u, 1024u}) {  // in the header walk, after it
    EXPECT_EQ(trtest::Spans(trtest::ResumedRun({kWMA, kWMV}, file, 512, 64, stop)), "wma@0+3000") << stop;
  }
}

}  // namespace
