// The bitmap, GIF, PNG, layered-picture, icon, metafile, brush, raw and
// design-file recognizers on crafted files, often fed with short strips and
// little or no lookahead: where each file ends (declared sizes, block and
// chunk walks, record chains, closing tables and end patterns, maxima, cuts
// by a new header, scans paused and resumed), the picture records, what the
// header tests refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/CarvingCases.h"

namespace {

using trtest::Bytes;
using trtest::Padded;
using trtest::Prefix;
using Buffer = std::vector<uint8_t>;

constexpr uint32_t kCrw = 524, kX3f = 525, kBmp = 1537, kGif = 1538, kPng = 1539, kIco = 1540,
                   kPsd = 1541, kAbr = 1542, kPsp = 1549, kEmf = 1560, kPcb = 1563, kTpf = 1564,
                   kGjd = 1565, kWmf = 1567;

Buffer Then(Buffer a, const Buffer& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A BMP of 1234 x 567 pixels with these header fields and `total` bytes in all.
struct BmpFields {
  uint32_t fileSize = 0, pixelOffset = 54, infoSize = 40, width = 1234, height = 567;
  uint16_t bitCount = 24;
  uint32_t imageSize = 0, reserved = 0;
};
Buffer Bmp(const BmpFields& f, size_t total = 64) {
  Bytes b{'B', 'M'};
  b.U32LE(f.fileSize).U32LE(f.reserved).U32LE(f.pixelOffset);
  b.U32LE(f.infoSize).U32LE(f.width).U32LE(f.height).U16LE(1).U16LE(f.bitCount);
  return b.U32LE(0).U32LE(f.imageSize).Zeros(16).PadTo(total, 0x6B);
}

// GIF header and logical screen descriptor; a global colour table of
// 2^(n+1) entries when n >= 0, its bytes looking like image separators.
Bytes GifScreen(uint16_t width, uint16_t height, int n) {
  Bytes b{'G', 'I', 'F', '8', '9', 'a'};
  b.U16LE(width).U16LE(height).U8(n >= 0 ? static_cast<uint8_t>(0x80 | n) : 0).U8(0).U8(0);
  return n >= 0 ? b.Fill(3u << (n + 1), 0x2C) : b;
}
Bytes& GraphicControl(Bytes& b) { return b.Raw({0x21, 0xF9, 4, 0, 10, 0, 0, 0}); }
// A GIF image with data sub-blocks and an optional local colour table whose
// bytes look like trailers.
Bytes& GifImage(Bytes& b, int localN, const std::vector<uint8_t>& subBlocks) {
  b.U8(0x2C).U16LE(0).U16LE(0).U16LE(4).U16LE(4);
  b.U8(localN >= 0 ? static_cast<uint8_t>(0x80 | localN) : 0);
  if (localN >= 0) b.Fill(3u << (localN + 1), 0x3B);
  b.U8(2);  // LZW minimum code size
  for (uint8_t size : subBlocks) b.U8(size).Fill(size, 0x21);
  return b.U8(0);
}

Bytes& Chunk(Bytes& b, const std::string& type, const Buffer& data) {
  return b.U32BE(static_cast<uint32_t>(data.size())).Text(type).Raw(data).U32BE(0xC0FFEE00);
}
// PNG signature, IHDR, one IDAT of idatSize bytes, then IEND if asked.
Bytes Png(uint32_t width, uint32_t height, size_t idatSize, bool withIend = true) {
  Bytes b{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Chunk(b, "IHDR", Bytes().U32BE(width).U32BE(height).Raw({8, 2, 0, 0, 0}));
  Chunk(b, "IDAT", Buffer(idatSize, 0x5C));
  return withIend ? Chunk(b, "IEND", {}) : b;
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
  Bytes b{'T', 'P', 'F', '3'};
  return b.U32LE(0x00050001).PadTo(0xB4, 0x20).U32LE(part).U32LE(rest).PadTo(part + rest, 0x66);
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

Bytes Gjd(size_t data, size_t ffs = 8) {
  return Bytes{'F', 'X', 0xB4, 0}.Fill(data, 0x3C).Fill(ffs, 0xFF).Zeros(88);
}

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
  for (const auto& [type, size] : records) {
    b.U32LE(type).U32LE(size).Fill(size >= 8 ? size - 8 : 0, 0x11);
  }
  return b;
}

Bytes Abr() { return Bytes{0, 6, 0, 2}.Text("8BIMsamp").U32BE(300).Fill(300, 0x33); }

std::vector<trtest::CarvingCase> Cases() {
  const Buffer gjd = Gjd(512 - 4 - 40), gjd9 = Gjd(300, 9), crw = Crw(1024 - 26 - 6);
  const Buffer x3f = X3f(40, 1500, 3), pngNext = Png(9, 7, 1000);
  std::vector<trtest::CarvingCase> cases = {
      // The larger of the file-size field and pixel offset plus image size;
      // the record's width from byte 18 and height from byte 22.
      {"bmp size from the pixels", {kBmp},
       Padded(Bmp({700, 54, 40, 1234, 567, 24, 1000}, 1054), 1000),
       {{1054, 1, 1234, 567}}, 512, 512, 0},
      {"bmp size from the file-size field", {kBmp},
       Padded(Bmp({1500, 54, 40, 1234, 567, 24, 1000}, 1500), 1000), {{1500, 1, 1234, 567}}, 512,
       512, 0},
      {"bmp cut by a new header", {kBmp}, Padded(Then(Bmp({4000}, 1024), Bmp({600}, 600)), 424),
       {{1024, 0, 0}, {600, 1}}, 512, 512, 0},
      // The new file outlasts the strip: one that ended inside it would also
      // be found again by the clone the driver makes for the strip's header.
      {"png cut by a new header", {kPng},
       Padded(Then(Prefix(Png(4, 4, 5000, false), 1024), pngNext), 400),
       {{1024, 0, 0}, {pngNext.size(), 1, 9, 7}}, 512, 512, 16},
      {"png at a strip end", {kPng}, Png(640, 480, 512 - 57).Fill(1024, 0xA7), {{512, 1, 640, 480}},
       512, 512, 64},
      // Declared sizes; the icon's record names its largest image.
      {"ico", {kIco}, Padded(Icon({{16, 16, 1128}, {32, 32, 4264}, {32, 32, 300}}), 900),
       {{6 + 3 * 16 + 1128 + 4264 + 300, 1, 32, 32}}, 512, 512, 0},
      {"ico cut by a new header", {kIco},
       Padded(Then(Prefix(Icon({{48, 48, 9000}}), 1024), Icon({{16, 16, 200}})), 600),
       {{1024, 0, 0}, {222, 1, 16, 16}}},
      {"tpf", {kTpf}, Padded(Tpf(0xBC, 1000), 800), {{0xBC + 1000, 1, 0}}, 512, 100, 0},
      {"tpf cut by a new header", {kTpf},
       Padded(Then(Prefix(Tpf(0xBC, 5000), 512), Tpf(0xBC, 100)), 600),
       {{512, 0}, {0xBC + 100, 1}}},
      // 3 channels of 100 x 100 at 8 bits: 30,000 bytes after the field at 38.
      {"psd raw", {kPsd}, Padded(RawPsd(3, 100, 100, 8, 30000), 3000), {{30040, 1, 100, 100}}},
      {"psd 1 bit", {kPsd}, Padded(RawPsd(2, 40, 40, 1, 400), 2000), {{440, 1}}},
      {"psd 4 bits", {kPsd}, Padded(RawPsd(2, 40, 40, 4, 1600), 2000), {{1640, 1}}},
      {"psd 16 bits", {kPsd}, Padded(RawPsd(2, 40, 40, 16, 6400), 2000), {{6440, 1}}},
      {"psd section length that cannot move the walk", {kPsd},
       PsdHeader(1, 4, 4, 8).U32BE(0).U32BE(0xFFFFFFFC).Zeros(600), {{512, 0}}, 512, 512, 64},
      // A cut layered picture is reported complete, without a record.
      {"psd cut by a new header", {kPsd},
       Padded(Then(Prefix(RawPsd(3, 100, 100, 8, 1000), 1024), RawPsd(1, 10, 10, 8, 100)), 1000),
       {{1024, 1, 0}, {140, 1, 10, 10}}},
      {"psd maximum", {{kPsd, 2048}}, RawPsd(3, 100, 100, 8, 30000), {{2048, 0}}},
      // End patterns. Bounding box left 3, top 0, right 0: the bytes
      // 03 00 00 00 00 00 at 6 end the metafile.
      {"wmf end bytes in the placeable header", {kWmf},
       Padded(Bytes{0xD7, 0xCD, 0xC6, 0x9A}.U16LE(0).U16LE(3).U16LE(0).U16LE(0).U16LE(800), 700),
       {{12, 1}}},
      {"wmf without its end record", {{kWmf, 1024}}, WmfWithoutEnd().Fill(3000, 0x55), {{1024, 0}}},
      {"pcb maximum", {{kPcb, 1536}}, Pcb().Fill(3000, 'y'), {{1536, 1}}},
      // The pattern starts 40 bytes before a strip end: the lookahead must
      // hold its last 56 bytes.
      {"gjd pattern across a strip end", {kGjd}, Padded(gjd, 900), {{gjd.size(), 1}}, 512, 512, 56},
      {"gjd nine 0xFF bytes", {kGjd}, Padded(gjd9, 900), {{gjd9.size(), 1}}},
      {"gjd maximum", {{kGjd, 2048}}, Bytes{'F', 'X', 0xB4, 0}.Fill(3000, 0x3C), {{2048, 1}}},
      // Closing tables: this CIFF table starts 6 bytes before the strip end
      // and ends 10 bytes after it.
      {"crw table across a strip end", {kCrw}, Padded(crw, 2000), {{crw.size(), 1}}, 512, 512, 16},
      {"crw table beyond the lookahead", {{kCrw, 2048}}, Padded(crw, 2000), {{2048, 0}}, 512, 512,
       4},
      {"crw table not pointing back", {{kCrw, 2048}}, Padded(Crw(600, 2), 3000), {{2048, 0}}},
      {"x3f", {kX3f}, Padded(x3f, 900), {{x3f.size(), 1}}, 512, 512, 64},
      {"x3f properties beyond the first strip", {kX3f}, Padded(X3f(600, 100, 1), 900), {}},
      // Record chains.
      {"psp block length that wraps around", {kPsp},
       PspBlock(Psp(6), 0, 46).Text("~BK").U8(0).U16LE(1).U32LE(0xFFFFFFF8).Zeros(600), {{92, 0}}},
      {"emf record of no size", {kEmf}, Emf({{27, 40}, {14, 0}}).Zeros(900), {}},
      {"abr", {kAbr},
       Padded(Abr().Text("8BIMpatt").U32BE(0).Text("8BIMdesc").U32BE(90).Fill(90, 0x44), 700),
       {{316 + 12 + 12 + 90, 1}}, 200, 50, 0},
      {"abr section length that wraps around", {kAbr},
       Abr().Text("8BIMpatt").U32BE(0xFFFFFFF5).Zeros(600), {{4 + 312, 0}}},
  };
  auto add = [&](const std::string& what, const trtest::AddedType& type, const Buffer& image,
                 const std::vector<trtest::Expected>& ended, uint32_t strip, uint32_t lookahead,
                 size_t pauseAt = 0) {
    cases.push_back({what, {type}, image, ended, strip, strip, lookahead, pauseAt});
  };
  // GIF without a global colour table: the walk starts at byte 13.
  Bytes gif = GifScreen(320, 200, -1);
  GifImage(gif, -1, {5, 3}).U8(0x3B);
  add("gif", kGif, Bytes(gif).Fill(600, 0x3B), {{gif.size(), 1, 320, 200}}, 512, 16);
  // Colour tables, extensions (one a comment) and sub-blocks across small strips.
  Bytes tables = GifScreen(7, 9, 2);
  GifImage(GraphicControl(tables).Raw({0x21, 0xFE, 3, 'a', 'b', 'c', 0}), 1, {255, 17, 1});
  GifImage(GraphicControl(tables), 7, {40}).U8(0x3B);
  for (uint32_t strip : {17u, 64u, 512u}) {
    add("gif tables", kGif, Bytes(tables).Fill(100, 0x2C), {{tables.size(), 1}}, strip, 0);
  }
  // A stray byte after the last image ends the file just after it.
  Bytes stray = GifScreen(10, 10, 0);
  GifImage(stray, -1, {4}).U8(0x00);
  add("gif stray byte", kGif, Bytes(stray).Fill(700, 0x3B), {{stray.size(), 0, 10, 10}}, 512, 0);
  Bytes cut = GifScreen(1, 1, -1), next = GifScreen(2, 2, -1);
  GifImage(cut, -1, Buffer(10, 255));  // runs past the first strip
  GifImage(next, -1, Buffer(3, 255)).U8(0x3B);
  add("gif cut by a new header", kGif, Then(Prefix(cut, 512), next),
      {{512, 0, 0}, {next.size(), 1}}, 512, 0);
  Bytes paused = GifScreen(21, 22, 3);
  GifImage(GraphicControl(paused), -1, Buffer(12, 200)).U8(0x3B);
  add("gif resumed", kGif, trtest::DiskImage().File(paused).Random(2).bytes(),
      {{paused.size(), 1, 21, 22}}, 512, 0, 1024);
  // A chunk type outside the walk's list (tIME is valid, but not known)
  // ends the file twelve bytes after its start; so does a corrupt length.
  Bytes unknown = Png(16, 16, 40, false);
  const size_t stop = unknown.size() + 12;
  Chunk(Chunk(unknown, "tIME", {7, 0xE5, 1, 2, 3, 4, 5}), "IEND", {}).Fill(700, 0x33);
  add("png unknown chunk", kPng, unknown, {{stop, 0, 16, 16}}, 512, 32);
  add("png corrupt chunk length", kPng,
      Png(16, 16, 40, false).U32BE(0xFFFFFFF4).Text("IDAT").Zeros(600), {{stop, 0}}, 512, 16);
  // Chunk headers (and IHDR's width and height) cut by strip ends without
  // lookahead.
  Bytes cutHeaders{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Chunk(cutHeaders, "IHDR", Bytes().U32BE(0x01020304).U32BE(0x0A0B0C0D).Raw({8, 2, 0, 0, 0}));
  for (size_t n : {1, 7, 19, 0, 33}) Chunk(cutHeaders, "IDAT", Buffer(n, 0x11));
  Chunk(Chunk(cutHeaders, "tEXt", {'a', 0, 'b'}), "IEND", {});
  for (uint32_t strip : {17u, 20u, 23u}) {
    add("png chunk headers cut", kPng, Bytes(cutHeaders).Fill(100, 0x99),
        {{cutHeaders.size(), 1, 0x01020304, 0x0A0B0C0D}}, strip, 0);
  }
  // Paused where the next chunk header lies beyond the strip and where it is cut.
  const Buffer png = Png(33, 44, 3000);
  for (size_t pauseAt : {1024u, 3584u}) {
    add("png resumed", kPng, trtest::DiskImage().Random(1).File(png).Random(2).bytes(),
        {{png.size(), 1, 33, 44}}, 512, 20, pauseAt);
  }
  for (const auto& [tail, taken] :
       {std::pair<std::string, size_t>{"\r\n", 9}, {"\n\r", 9}, {"\n", 9}, {" x", 7}}) {
    add("pcb ENDCOMP" + tail, kPcb, Padded(Pcb().Text("ENDCOMP" + tail).Text("zzzz"), 600),
        {{Pcb().size() + taken, 1}}, 512, 512);
  }
  for (uint32_t lookahead : {0u, 3u, 64u}) {
    // Sections 10 + 14 + 4, compression at 54, a 2 x 30 entry table, 60 rows
    // of 5 bytes: seven-byte strips cut table entries and lengths in two.
    cases.push_back({"psd run-length table", {kPsd}, Padded(RlePsd(2, 30, 5), 700), {{476, 1}}, 40,
                     7, lookahead});
    // The EMF end-of-file record lies across the 600 mark.
    cases.push_back({"emf end-of-file record across a strip end", {kEmf},
                     Padded(Emf({{39, 500}, {14, 20}}), 1000), {{608, 1}}, 596, 100, lookahead});
  }
  for (uint32_t lookahead : {0u, 512u}) {
    cases.push_back({"psp last block before zeros", {kPsp},
                     Padded(PspBlock(PspBlock(Psp(6), 0, 46), 16, 700), 1500),
                     {{36 + 56 + 710, 1, 0}}, 512, 100, lookahead});
  }
  for (uint32_t type : {69u, 0u, 123u}) {
    add("emf record of unused type " + std::to_string(type), kEmf,
        Padded(Emf({{27, 40}, {type, 40}}), 600), {{128, 0}}, 512, 512);
  }
  // A false "SECd" in the data claims a huge directory; the real one follows.
  Buffer falseX3f = X3f(40, 1500, 2);
  const Buffer fake = Bytes().Text("SECd").Raw({0, 0, 2, 0, 0, 0, 0x10, 0});
  std::copy(fake.begin(), fake.end(), falseX3f.begin() + 600);
  add("x3f false directory", kX3f, Padded(falseX3f, 900), {{falseX3f.size(), 1}}, 512, 512);
  // The first brush set's walk waits for a 4 KiB section past the strip end.
  Buffer abr = Then(Abr().PadTo(512), Bytes{0, 6, 0, 2}.Text("8BIMsamp").U32BE(8).Fill(8, 1));
  abr.resize(abr.size() + 100);
  const Buffer section = Bytes().Text("8BIM").Zeros(4).U8(0x10);
  std::copy(section.begin(), section.end(), abr.begin() + 4 + 312);
  add("abr cut by a new header", kAbr, abr, {{512, 0}, {24, 1}}, 512, 512);
  return cases;
}

TEST(PictureFiles, EachFileEndsWhereItsFormatSaysWithItsRecord) {
  for (const trtest::CarvingCase& c : Cases()) trtest::ExpectCarving(c);
}

TEST(PictureFiles, DiscardedMetafileLeavesNoFileAndItsNumberGoesToTheNext) {
  const Buffer next = Emf({{14, 20}});
  const Buffer image = Emf({{27, 40}, {14, 0}}).PadTo(1024).Raw(next).PadTo(2048);
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{kEmf}}, image, 512, 512);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"emf/00000.emf"});
  EXPECT_EQ(dir.Read("emf/00000.emf"), next);
}

TEST(PictureFiles, HeaderTestsRefuseImplausibleFieldsAndLookOnlyAtTheBytesGiven) {
  Buffer gif = Bytes(GifScreen(1, 1, -1)).Zeros(8), gif87 = gif, gif88 = gif, png = Png(1, 1, 0);
  Buffer badPng = png, overlapping = Icon({{16, 16, 100}}), large = RawPsd(3, 10, 10, 8, 10);
  gif87[4] = '7', gif88[4] = '8', badPng[7] = 0x0B;
  overlapping[18] = 21;  // the first image would overlap the directory
  large[5] = 2;          // the large-document version
  struct Row {
    const char16_t* extension;
    Buffer bytes;
    uint32_t length;  // 0: all of them
    int32_t answer;
  } rows[] = {
      {u"bmp", Bmp({}), 0, 1}, {u"bmp", Bmp({}), 54, -1},
      {u"bmp", Bmp({0, 54, 40, 16, 0xFFFFFFF8}), 0, -1},  // top-down
      {u"bmp", Bmp({0, 54, 40, 30001, 8}), 0, -1}, {u"bmp", Bmp({0, 54, 40, 16, 30000}), 0, 1},
      // Info headers of the sizes writers use, versions 4 and 5 included;
      // the pixels follow the headers and at most a 256-entry palette.
      {u"bmp", Bmp({0, 54, 124}), 0, 1}, {u"bmp", Bmp({0, 54, 108}), 0, 1}, {u"bmp", Bmp({0, 54, 12}), 0, 1},
      {u"bmp", Bmp({0, 54, 80}), 0, -1}, {u"bmp", Bmp({0, 54, 41}), 0, -1}, {u"bmp", Bmp({0, 54, 0}), 0, -1},
      {u"bmp", Bmp({0, 1079}), 0, -1}, {u"bmp", Bmp({0, 1162, 124}), 0, 1}, {u"bmp", Bmp({0, 1163, 124}), 0, -1},
      {u"bmp", Bmp({0, 54, 40, 16, 8, 33}), 0, -1},
      {u"bmp", Bmp({0, 54, 40, 16, 8, 24, 0, 1}), 0, -1},  // reserved
      {u"gif", gif, 16, -1}, {u"gif", gif, 17, 1}, {u"gif", gif87, 17, 1}, {u"gif", gif88, 17, -1},
      {u"png", png, 17, 1}, {u"png", png, 16, -1}, {u"png", badPng, 0, -1},
      {u"ico", Icon({{16, 16, 100}, {32, 32, 200}}), 0, 1},
      {u"ico", Icon({{32, 16, 100}}), 0, -1},           // not square
      {u"ico", Icon({{16, 16, 100}}, 3), 0, -1},        // bit count
      {u"ico", Icon({{16, 16, 100}}, 32, 0xFF), 0, 1},  // reserved byte 0xFF
      {u"ico", Icon({{16, 16, 100}}, 32, 0x01), 0, -1},
      {u"ico", Icon({{16, 16, 100}, {16, 16, 0}}), 0, -1},      // an empty image
      {u"ico", Icon({{16, 16, 10 * 1024 * 1024 + 1}}), 0, -1},  // over 10 MiB
      {u"ico", Icon(std::vector<IconImage>(31, {16, 16, 8})), 0, 1},
      {u"ico", Icon(std::vector<IconImage>(32, {16, 16, 8})), 0, -1},
      {u"ico", overlapping, 0, -1},
      {u"ico", Icon({{16, 16, 100}}), 9, 1},  // the first nine bytes decide a short buffer
      {u"ico", Icon({{16, 16, 100}}), 8, -1},
      {u"psd", RawPsd(3, 30000, 30000, 8, 10), 0, 1}, {u"psd", RawPsd(3, 30001, 10, 8, 10), 0, -1},
      {u"psd", RawPsd(3, 10, 30001, 8, 10), 0, -1}, {u"psd", large, 0, -1},
      {u"psd", RawPsd(3, 10, 10, 8, 10), 26, -1}, {u"psd", RawPsd(3, 10, 10, 8, 10), 27, 1},
      {u"psp", Psp(4).Zeros(20), 51, 1}, {u"psp", Psp(4).Zeros(20), 50, -1},
      {u"psp", Psp(3).Zeros(20), 51, -1},  // major version above three only
      {u"x3f", X3f(600, 100, 1), 604, 1},  // properties within the bytes given
      {u"x3f", X3f(600, 100, 1), 603, -1}, {u"x3f", X3f(40, 600, 1), 511, -1},
  };
  for (const Row& r : rows) {
    const uint32_t length = r.length ? r.length : static_cast<uint32_t>(r.bytes.size());
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(r.bytes.data(), length, r.extension), r.answer)
        << trtest::U8(r.extension) << " row " << (&r - rows);
  }
}

}  // namespace
