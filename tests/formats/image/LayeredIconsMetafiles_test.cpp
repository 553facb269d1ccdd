// The layered-picture, icon, metafile, brush, raw and design-file
// recognizers on crafted files fed with short strips and little or no
// lookahead: where each file ends (declared sizes, record chains, closing
// tables and end patterns, maxima, cuts by a new header) and what their
// header tests refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::Padded;
using Buffer = std::vector<uint8_t>;

constexpr uint32_t kCrw = 524, kX3f = 525, kIco = 1540, kPsd = 1541, kAbr = 1542, kPsp = 1549,
                   kEmf = 1560, kPcb = 1563, kTpf = 1564, kGjd = 1565, kWmf = 1567;

Buffer Then(Buffer a, const Buffer& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct IconImage {
  uint8_t width, height;
  uint32_t size;
};

Buffer Icon(const std::vector<IconImage>& images, uint16_t bitCount = 32, uint8_t reserved = 0) {
  Bytes b{0, 0};
  b.U16LE(1).U16LE(static_cast<uint16_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (const IconImage& i : images) {
    b.U8(i.width).U8(i.height).U8(0).U8(reserved).U16LE(1).U16LE(bitCount);
    b.U32LE(i.size).U32LE(offset);
    offset += i.size;
  }
  for (const IconImage& i : images) b.Fill(i.size, 0x77);
  return b;
}

Buffer Tpf(uint32_t part, uint32_t rest) {
  return Bytes{'T', 'P', 'F', '3'}.U32LE(0x00050001).PadTo(0xB4, 0x20).U32LE(part).U32LE(rest)
      .PadTo(part + rest, 0x66);
}

// A placeable metafile (22-byte placeable header, 18-byte metafile header)
// with one record of 5 words and no end-of-file record.
Bytes WmfWithoutEnd() {
  Bytes b{0xD7, 0xCD, 0xC6, 0x9A};
  b.U16LE(0).U16LE(1).U16LE(0).U16LE(1000).U16LE(800).U16LE(1440).U32LE(0).U16LE(0x1234);
  b.U16LE(1).U16LE(9).U16LE(0x300).U32LE(60).U16LE(1).U32LE(5).U16LE(0);
  return b.U32LE(5).U16LE(0x20B).U16LE(10).U16LE(20);
}

Bytes Pcb() {
  return Bytes().Text("PCB FILE 6\r\nCOMP U1 DIP14\r\nPIN 1 0 0\r\n").Fill(500, 'x').Text("\r\n");
}

Bytes Gjd(size_t data, size_t ffs = 8) { return Bytes{'F', 'X', 0xB4, 0}.Fill(data, 0x3C).Fill(ffs, 0xFF).Zeros(88); }

Bytes PsdHeader(uint16_t channels, uint32_t height, uint32_t width, uint16_t depth) {
  Bytes b{'8', 'B', 'P', 'S'};
  return b.U16BE(1).Zeros(6).U16BE(channels).U32BE(height).U32BE(width).U16BE(depth).U16BE(3);
}

// Empty colour mode data, image resources and layer information, raw pixels.
Buffer RawPsd(uint16_t channels, uint32_t height, uint32_t width, uint16_t depth, size_t pixels) {
  return PsdHeader(channels, height, width, depth).Zeros(12).U16BE(0).Fill(pixels, 0x5A);
}

// Run-length image: every row of every channel packs to rowBytes bytes.
Buffer RlePsd(uint16_t channels, uint32_t height, uint16_t rowBytes) {
  Bytes b = PsdHeader(channels, height, 8, 8);
  b.U32BE(6).Fill(6, 1).U32BE(10).Fill(10, 2).U32BE(0).U16BE(1);
  for (uint32_t i = 0; i < channels * height; ++i) b.U16BE(rowBytes);
  return b.Fill(size_t{channels} * height * rowBytes, 0x81);
}

// A CIFF file: 26-byte header, dataSize bytes of heap data described by one
// record, then the closing table. tableShift moves the table's stated offset.
Buffer Crw(uint32_t dataSize, int32_t tableShift = 0) {
  Bytes b{'I', 'I'};
  b.U32LE(26).Text("HEAPCCDR").U32LE(0x00010002).Zeros(8).Fill(dataSize, 0x31);
  return b.U16LE(1).U16LE(0x2005).U32LE(dataSize).U32LE(0).U32LE(dataSize + tableShift);
}

// An X3F file: header, "SECp" at secpAt, data, and the closing directory of
// 12-byte entries and the pointer to it.
Buffer X3f(size_t secpAt, size_t dataSize, uint32_t entries) {
  Bytes b{'F', 'O', 'V', 'b'};
  b.U32LE(0x00020002).PadTo(secpAt, 0x21).Text("SECp").Fill(dataSize, 0x22);
  const uint32_t directory = static_cast<uint32_t>(b.size());
  b.Text("SECd").U32LE(0x00020000).U32LE(entries);
  for (uint32_t i = 0; i < entries; ++i) b.U32LE(40).U32LE(8).Text("PROP");
  return b.U32LE(directory);
}

Bytes Psp(uint16_t major) {
  return Bytes().Text("Paint Shop Pro Image File\n\x1A").U8(0).Zeros(4).U16LE(major).U16LE(0);
}
Bytes PspBlock(Bytes b, uint16_t id, uint32_t length) {
  return b.Text("~BK").U8(0).U16LE(id).U32LE(length).Fill(length, 0x42);
}

// EMF records: the 88-byte header record, then records of type and size.
Bytes Emf(const std::vector<std::pair<uint32_t, uint32_t>>& records) {
  Bytes b{1, 0, 0, 0};
  b.U32LE(88).Zeros(32).Text(" EMF").U32LE(0x10000).Zeros(40);
  for (const auto& [type, size] : records) b.U32LE(type).U32LE(size).Fill(size >= 8 ? size - 8 : 0, 0x11);
  return b;
}

Bytes Abr() { return Bytes{0, 6, 0, 2}.Text("8BIMsamp").U32BE(300).Fill(300, 0x33); }

struct Ended {
  uint64_t size;
  uint32_t complete;
  int side = -1;  // the record's width and height: 0 for none, -1 not asked
};

struct Case {
  std::string what;
  trtest::AddedType type;
  Buffer image;
  uint32_t first, strip, lookahead;
  std::vector<Ended> ended;
};

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      // Declared sizes; the icon's record names its largest image.
      {"ico", kIco, Padded(Icon({{16, 16, 1128}, {32, 32, 4264}, {32, 32, 300}}), 900), 512, 512, 0,
       {{6 + 3 * 16 + 1128 + 4264 + 300, 1, 32}}},
      {"ico cut by a new header", kIco,
       Padded(Then(trtest::Prefix(Icon({{48, 48, 9000}}), 1024), Icon({{16, 16, 200}})), 600),
       512, 512, 512, {{1024, 0, 0}, {222, 1, 16}}},
      {"tpf", kTpf, Padded(Tpf(0xBC, 1000), 800), 512, 100, 0, {{0xBC + 1000, 1, 0}}},
      {"tpf cut by a new header", kTpf, Padded(Then(trtest::Prefix(Tpf(0xBC, 5000), 512),
                                                    Tpf(0xBC, 100)), 600),
       512, 512, 512, {{512, 0}, {0xBC + 100, 1}}},
      // 3 channels of 100 x 100 at 8 bits: 30,000 bytes after the field at 38.
      {"psd raw", kPsd, Padded(RawPsd(3, 100, 100, 8, 30000), 3000), 512, 512, 512,
       {{38 + 2 + 30000, 1, 100}}},
      {"psd 1 bit", kPsd, Padded(RawPsd(2, 40, 40, 1, 400), 2000), 512, 512, 512, {{440, 1}}},
      {"psd 4 bits", kPsd, Padded(RawPsd(2, 40, 40, 4, 1600), 2000), 512, 512, 512, {{1640, 1}}},
      {"psd 16 bits", kPsd, Padded(RawPsd(2, 40, 40, 16, 6400), 2000), 512, 512, 512, {{6440, 1}}},
      {"psd section length that cannot move the walk", kPsd,
       PsdHeader(1, 4, 4, 8).U32BE(0).U32BE(0xFFFFFFFC).Zeros(600), 512, 512, 64, {{512, 0}}},
      // A cut layered picture is reported complete, without a record.
      {"psd cut by a new header", kPsd,
       Padded(Then(trtest::Prefix(RawPsd(3, 100, 100, 8, 1000), 1024), RawPsd(1, 10, 10, 8, 100)),
              1000),
       512, 512, 512, {{1024, 1, 0}, {140, 1, 10}}},
      {"psd maximum", {kPsd, 2048}, RawPsd(3, 100, 100, 8, 30000), 512, 512, 512, {{2048, 0}}},
      // End patterns. Bounding box left 3, top 0, right 0: the bytes
      // 03 00 00 00 00 00 at 6 end the metafile.
      {"wmf end bytes in the placeable header", kWmf,
       Padded(Bytes{0xD7, 0xCD, 0xC6, 0x9A}.U16LE(0).U16LE(3).U16LE(0).U16LE(0).U16LE(800), 700),
       512, 512, 512, {{12, 1}}},
      {"wmf without its end record", {kWmf, 1024},
       WmfWithoutEnd().Fill(3000, 0x55), 512, 512, 512, {{1024, 0}}},
      {"pcb maximum", {kPcb, 1536}, Pcb().Fill(3000, 'y'), 512, 512, 512, {{1536, 1}}},
      // The pattern starts 40 bytes before a strip end: the lookahead must
      // hold its last 56 bytes.
      {"gjd pattern across a strip end", kGjd, Padded(Gjd(512 - 4 - 40), 900), 512, 512, 56,
       {{Gjd(512 - 4 - 40).size(), 1}}},
      {"gjd nine 0xFF bytes", kGjd, Padded(Gjd(300, 9), 900), 512, 512, 512, {{Gjd(300, 9).size(), 1}}},
      {"gjd maximum", {kGjd, 2048}, Bytes{'F', 'X', 0xB4, 0}.Fill(3000, 0x3C), 512, 512, 512,
       {{2048, 1}}},
      // Closing tables: the CIFF table starts 6 bytes before the strip end
      // and ends 10 bytes after it.
      {"crw table across a strip end", kCrw, Padded(Crw(1024 - 26 - 6), 2000), 512, 512, 16,
       {{Crw(1024 - 26 - 6).size(), 1}}},
      {"crw table beyond the lookahead", {kCrw, 2048}, Padded(Crw(1024 - 26 - 6), 2000), 512, 512, 4,
       {{2048, 0}}},
      {"crw table not pointing back at itself", {kCrw, 2048}, Padded(Crw(600, 2), 3000), 512, 512,
       512, {{2048, 0}}},
      {"x3f", kX3f, Padded(X3f(40, 1500, 3), 900), 512, 512, 64, {{X3f(40, 1500, 3).size(), 1}}},
      {"x3f properties beyond the first strip", kX3f, Padded(X3f(600, 100, 1), 900), 512, 512, 512, {}},
      // Record chains.
      {"psp block length that wraps around", kPsp,
       PspBlock(Psp(6), 0, 46).Text("~BK").U8(0).U16LE(1).U32LE(0xFFFFFFF8).Zeros(600), 512, 512,
       512, {{36 + 56, 0}}},
      {"emf record of no size", kEmf, Emf({{27, 40}, {14, 0}}).Zeros(900), 512, 512, 512, {}},
      {"abr", kAbr, Padded(Abr().Text("8BIMpatt").U32BE(0).Text("8BIMdesc").U32BE(90).Fill(90, 0x44), 700),
       200, 50, 0, {{Abr().size() + 12 + 12 + 90, 1}}},
      {"abr section length that wraps around", kAbr,
       Abr().Text("8BIMpatt").U32BE(0xFFFFFFF5).Zeros(600), 512, 512, 512, {{4 + 312, 0}}},
  };
  for (const auto& [tail, taken] : {std::pair<std::string, size_t>{"\r\n", 9}, {"\n\r", 9}, {"\n", 9}, {" x", 7}}) {
    cases.push_back({"pcb ENDCOMP" + tail, kPcb, Padded(Pcb().Text("ENDCOMP" + tail).Text("zzzz"), 600),
                     512, 512, 512, {{Pcb().size() + taken, 1}}});
  }
  for (uint32_t lookahead : {0u, 3u, 64u}) {
    // Sections 10 + 14 + 4, compression at 54, a 2 x 30 entry table, 60 rows
    // of 5 bytes: seven-byte strips cut table entries and lengths in two.
    cases.push_back({"psd run-length table", kPsd, Padded(RlePsd(2, 30, 5), 700), 40, 7, lookahead,
                     {{476, 1}}});
  }
  for (uint32_t lookahead : {0u, 512u}) {
    cases.push_back({"psp last block before zeros", kPsp,
                     Padded(PspBlock(PspBlock(Psp(6), 0, 46), 16, 700), 1500), 512, 100, lookahead,
                     {{36 + 56 + 710, 1, 0}}});
  }
  for (uint32_t lookahead : {0u, 4u, 512u}) {
    // The end-of-file record lies across the 600 mark.
    cases.push_back({"emf end-of-file record across a strip end", kEmf,
                     Padded(Emf({{39, 500}, {14, 20}}), 1000), 596, 100, lookahead, {{608, 1}}});
  }
  for (uint32_t type : {69u, 0u, 123u}) {
    cases.push_back({"emf record of unused type " + std::to_string(type), kEmf,
                     Padded(Emf({{27, 40}, {type, 40}}), 600), 512, 512, 512, {{128, 0}}});
  }
  {
    // A false "SECd" in the data claims a huge directory; the real one follows.
    Buffer x3f = X3f(40, 1500, 2);
    const Buffer fake = Bytes().Text("SECd").Raw({0, 0, 2, 0, 0, 0, 0x10, 0});
    std::copy(fake.begin(), fake.end(), x3f.begin() + 600);
    cases.push_back({"x3f false directory", kX3f, Padded(x3f, 900), 512, 512, 512, {{x3f.size(), 1}}});
    // The first brush set's walk waits for a 4 KiB section past the strip end.
    Buffer abr = Then(Abr().PadTo(512), Bytes{0, 6, 0, 2}.Text("8BIMsamp").U32BE(8).Fill(8, 1).Zeros(100));
    const Buffer section = Bytes().Text("8BIM").Zeros(4).U8(0x10);
    std::copy(section.begin(), section.end(), abr.begin() + 4 + 312);
    cases.push_back({"abr cut by a new header", kAbr, abr, 512, 512, 512, {{512, 0}, {24, 1}}});
  }
  return cases;
}

TEST(LayeredIconsMetafiles, EachFileEndsWhereItsFormatSays) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.what + " lookahead " + std::to_string(c.lookahead));
    const auto reports = trtest::ShortStripRun(c.type, c.image, c.first, c.strip, c.lookahead);
    ASSERT_EQ(reports.size(), c.ended.size());
    for (size_t i = 0; i < reports.size(); ++i) {
      const Ended& e = c.ended[i];
      EXPECT_EQ(reports[i].size, e.size) << i;
      EXPECT_EQ(reports[i].complete, e.complete) << i;
      if (e.side < 0) continue;
      ASSERT_EQ(reports[i].hasPicture, e.side > 0) << i;
      if (e.side == 0) continue;
      EXPECT_EQ(reports[i].picture.typeCode, c.type.code);
      EXPECT_EQ(reports[i].picture.width, uint32_t(e.side));
      EXPECT_EQ(reports[i].picture.height, uint32_t(e.side));
    }
    if (c.ended.size() == 2) {
      EXPECT_EQ(reports[1].start, reports[0].size);
    }
  }
}

TEST(LayeredIconsMetafiles, DiscardedMetafileLeavesNoFileAndItsNumberGoesToTheNext) {
  const Buffer next = Emf({{14, 20}});
  const Buffer image = Emf({{27, 40}, {14, 0}}).PadTo(1024).Raw(next).PadTo(2048);
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{kEmf}}, image, 512, 512);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"emf/00000.emf"});
  EXPECT_EQ(dir.Read("emf/00000.emf"), next);
}

TEST(LayeredIconsMetafiles, HeaderTestsRefuseImplausibleFieldsAndLookOnlyAtTheBytesGiven) {
  Buffer overlapping = Icon({{16, 16, 100}});
  overlapping[18] = 21;  // the first image would overlap the directory
  Buffer large = RawPsd(3, 10, 10, 8, 10);
  large[5] = 2;  // the large-document version
  struct Row {
    const char16_t* extension;
    Buffer bytes;
    uint32_t length;  // 0: all of them
    int32_t answer;
  } rows[] = {
      {u"ico", Icon({{16, 16, 100}, {32, 32, 200}}), 0, 1},
      {u"ico", Icon({{32, 16, 100}}), 0, -1},  // not square
      {u"ico", Icon({{16, 16, 100}}, 3), 0, -1},  // bit count
      {u"ico", Icon({{16, 16, 100}}, 32, 0xFF), 0, 1},  // reserved byte 0xFF
      {u"ico", Icon({{16, 16, 100}}, 32, 0x01), 0, -1},
      {u"ico", Icon({{16, 16, 100}, {16, 16, 0}}), 0, -1},  // an empty image
      {u"ico", Icon({{16, 16, 10 * 1024 * 1024 + 1}}), 0, -1},  // over 10 MiB
      {u"ico", Icon(std::vector<IconImage>(31, {16, 16, 8})), 0, 1},
      {u"ico", Icon(std::vector<IconImage>(32, {16, 16, 8})), 0, -1},
      {u"ico", overlapping, 0, -1},
      {u"ico", Icon({{16, 16, 100}}), 9, 1},  // the first nine bytes decide a short buffer
      {u"ico", Icon({{16, 16, 100}}), 8, -1},
      {u"psd", RawPsd(3, 30000, 30000, 8, 10), 0, 1},
      {u"psd", RawPsd(3, 30001, 10, 8, 10), 0, -1},
      {u"psd", RawPsd(3, 10, 30001, 8, 10), 0, -1},
      {u"psd", large, 0, -1},
      {u"psd", RawPsd(3, 10, 10, 8, 10), 26, -1},
      {u"psd", RawPsd(3, 10, 10, 8, 10), 27, 1},
      {u"psp", Psp(4).Zeros(20), 51, 1},
      {u"psp", Psp(4).Zeros(20), 50, -1},
      {u"psp", Psp(3).Zeros(20), 51, -1},  // major version above three only
      {u"x3f", X3f(600, 100, 1), 604, 1},  // properties within the bytes given
      {u"x3f", X3f(600, 100, 1), 603, -1},
      {u"x3f", X3f(40, 600, 1), 511, -1},
  };
  for (const Row& r : rows) {
    const uint32_t length = r.length ? r.length : static_cast<uint32_t>(r.bytes.size());
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(r.bytes.data(), length, r.extension), r.answer)
        << trtest::U8(r.extension) << " row " << (&r - rows);
  }
}

}  // namespace
