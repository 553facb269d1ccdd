// Matroska, transport-stream, Ogg and FLV recognizers: header tests, the
// sizes and walks that end their files, and cuts.
#include "formats/media/StreamContainers.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;

constexpr uint32_t kMKV = 1034, kMTS = 1035, kOGG = 775, kFLV = 1036;

// An EBML header of 0x23 bytes holding a DocType, then the Segment ID and
// these size bytes, then fill up to total.
Bytes Matroska(std::initializer_list<uint8_t> segmentSize, size_t total = 0, uint8_t fill = 0x37) {
  return Bytes{0x1A, 0x45, 0xDF, 0xA3, 0xA3, 0x42, 0x82, 0x88}.Text("matroska").PadTo(5 + 0x23, 0xEC)
      .Raw({0x18, 0x53, 0x80, 0x67}).Raw(segmentSize).PadTo(total, fill);
}

// Transport-stream packets; those of 192 bytes carry a 4-byte arrival time first.
Bytes Packets(uint32_t count, uint32_t packetSize, size_t total = 0) {
  Bytes b;
  for (uint32_t i = 0; i < count; ++i) {
    if (packetSize == 192) b.U32BE(i * 300);
    b.U8(0x47).Fill(187, static_cast<uint8_t>(0x10 + i % 16));
  }
  return b.PadTo(total, 0);
}

// An Ogg page with the header type given and segments of these lengths.
Bytes OggPage(uint8_t headerType, std::initializer_list<uint8_t> segments, uint32_t serial = 1) {
  Bytes b;
  b.Text("OggS").U8(0).U8(headerType).U64LE(0).U32LE(serial).U32LE(0).U32LE(0).U8(static_cast<uint8_t>(segments.size())).Raw(segments);
  for (uint8_t s : segments) b.Fill(s, 0x4F);
  return b;
}

// An FLV header with these type flags, then tags of these types and data
// sizes, each after the previous one's PreviousTagSize.
Bytes Flv(uint8_t flags, std::initializer_list<std::pair<uint8_t, uint32_t>> tags) {
  Bytes b;
  b.Text("FLV").U8(1).U8(flags).U32BE(9);
  uint32_t previous = 0;
  for (const auto& [type, size] : tags) {
    b.U32BE(previous).U8(type).U8(size >> 16).U16BE(size & 0xFFFF).Zeros(7).Fill(size, 0x2A);
    previous = size + 11;
  }
  return b.U32BE(previous);
}

TEST(StreamContainers, HeaderTests) {
  CTypeRecoveryMKV mkv(nullptr, nullptr);
  const Bytes mkvHeader = Matroska({0x81}, 512, 0x11);
  EXPECT_EQ(mkv.IsHeaderMatched(mkvHeader.data(), 512, 0), kMKV);
  EXPECT_EQ(mkv.IsHeaderMatched(mkvHeader.data(), 511, 0), 0u);
  // The Segment ID must lie within the first 512 bytes.
  Bytes late = Bytes{0x1A, 0x45, 0xDF, 0xA3, 0x42, 0x82}.PadTo(508, 0x11).Raw({0x18, 0x53, 0x80, 0x67});
  EXPECT_EQ(mkv.IsHeaderMatched(late.data(), 512, 0), 0u);
  late.vec()[507] = 0x18, late.vec()[508] = 0x53, late.vec()[509] = 0x80, late.vec()[510] = 0x67;
  EXPECT_EQ(mkv.IsHeaderMatched(late.data(), 512, 0), kMKV);

  CTypeRecoveryMTS mts(nullptr, nullptr);  // packets of 188, of 192, or 188 four bytes in
  for (const Bytes& b : {Packets(3, 188, 512), Packets(3, 192, 512), Bytes().Zeros(4).Raw(Packets(3, 188, 508))}) {
    EXPECT_EQ(mts.IsHeaderMatched(b.data(), 512, 0), kMTS);
    EXPECT_EQ(mts.IsHeaderMatched(b.data(), 511, 0), 0u);
  }
  Bytes lostSync = Packets(3, 188, 512);
  lostSync.vec()[376] = 0x48;
  EXPECT_EQ(mts.IsHeaderMatched(lostSync.data(), 512, 0), 0u);

  CTypeRecoveryOGG ogg(nullptr, nullptr);  // a beginning-of-stream page only
  for (uint8_t type : {0, 1, 2, 4, 6}) {
    const Bytes page = OggPage(type, {30});
    EXPECT_EQ(ogg.IsHeaderMatched(page.data(), 9, 0), type == 2 ? kOGG : 0u) << int(type);
  }
  EXPECT_EQ(ogg.IsHeaderMatched(OggPage(2, {}).data(), 8, 0), 0u);

  CTypeRecoveryFLV flv(nullptr, nullptr);  // type flags 0, 1 (audio) and 5, not 4
  for (uint8_t flags : {0, 1, 4, 5}) {
    const Bytes header = Flv(flags, {});
    EXPECT_EQ(flv.IsHeaderMatched(header.data(), 10, 0), flags == 4 ? 0u : kFLV) << int(flags);
    EXPECT_EQ(flv.IsHeaderMatched(header.data(), 9, 0), 0u);
  }
}

TEST(StreamContainers, WalksEndTheirFiles) {
  // A second Matroska header whose 4-byte EBML size puts its Segment beyond the strip.
  const Bytes unreadable = Bytes{0x1A, 0x45, 0xDF, 0xA3, 0x1F, 0xFF, 0xFF, 0xFF, 0x42, 0x82, 0x18, 0x53, 0x80, 0x67};
  struct Case { const char* what; uint32_t code; std::vector<uint8_t> image; uint32_t strip, lookahead; const char* spans; };
  const Case cases[] = {
      {"Matroska segment size", kMKV, Matroska({0x80 | 100}, 4096), 512, 64, "mkv@0+145"},
      {"two-byte segment size", kMKV, Matroska({0x47, 0xD0}, 4096), 512, 64, "mkv@0+2046"},
      {"unknown size: the headers", kMKV, Matroska({0xFF}, 4096), 512, 64, "mkv@0+45"},
      {"unknown two-byte size", kMKV, Matroska({0x7F, 0xFF}, 4096), 512, 64, "mkv@0+46"},
      {"unreadable header starts nothing but cuts", kMKV,
       Matroska({0x10, 0x00, 0x10, 0x00}, 512).Raw(unreadable).PadTo(2048, 0x37), 512, 64, "mkv@0+512~"},
      {"192-byte packets end before the next prefix", kMTS, Packets(8, 192, 4096), 512, 16, "mts@0+1536~"},
      {"a header inside a stream cuts nothing", kMTS, Packets(20, 188, 4096), 752, 64, "mts@0+3760~"},
      {"the next sync out of the source", kMTS, Packets(6, 188, 6 * 188 + 2), 512, 64, "mts@0+1128"},
      {"chained Ogg streams are one file", kOGG,
       OggPage(2, {255, 255, 10}).Raw(OggPage(0, {200})).Raw(OggPage(4, {50})).Raw(OggPage(2, {255, 100}, 2))
           .Raw(OggPage(4, {255, 255, 255, 40}, 2)).Zeros(2048), 512, 512, "ogg@0+2076"},
      {"beginning of stream at a strip start cuts", kOGG,
       Bytes().Raw(trtest::Prefix(OggPage(2, {255, 255}).Raw(OggPage(0, {255, 255, 255})), 1024))
           .Raw(OggPage(2, {255, 255, 255, 255, 255})).PadTo(3072), 1024, 512, "ogg@0+1024~ ogg@1024+1307"},
      {"FLV keeps the tail behind its last tag", kFLV,
       Flv(5, {{18, 300}, {9, 700}, {8, 120}, {9, 900}}).Zeros(1024), 512, 64, "flv@0+2093"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trtest::CarvedSpans({c.code}, c.image, c.strip, c.lookahead), c.spans) << c.what;
  }
}

}  // namespace
