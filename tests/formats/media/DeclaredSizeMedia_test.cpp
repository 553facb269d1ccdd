// Declared-size media recognizers: each header test, each size formula and
// the cut by a new header (and WTV's lack of it).
#include "formats/media/DeclaredSizeMedia.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>

#include "registry/RecognizerFactory.h"
#include "support/Carving.h"

namespace {

using trtest::Bytes;

struct Format {
  const char* name;   // the extension; the class is CTypeRecovery plus its capitals
  uint32_t code;
  Bytes header;       // a header accepted by the class
  uint64_t declared;  // the size it declares
  size_t minimum;     // the fewest bytes its header test reads
};

Bytes Wtv(uint32_t sizeField) {
  return Bytes{0xB7, 0xD8, 0x00, 0x20, 0x37, 0x49, 0xDA, 0x11, 0xA6, 0x4E, 0x00, 0x07, 0xE9, 0x5E, 0xAD, 0x8D}
      .PadTo(90).U32LE(sizeField).PadTo(128);
}
Bytes Aiff(uint32_t size, const char* form = "AIFF") { return Bytes().Text("FORM").U32BE(size).Text(form).PadTo(32); }

std::vector<Format> Formats() {
  return {
      {"ape", 771, Bytes().Text("MAC ").U32LE(3990).U32LE(52).U32LE(24).U32LE(400).U32LE(44).U32LE(3000).PadTo(65),
       52 + 24 + 400 + 44 + 3000, 65},
      {"xpt", 2308, Bytes().Text("XPCOM\nTypeLib\r\n\x1A").U32BE(0).U32BE(1900).PadTo(64), 1900, 24},
      {"wtv", 1039, Wtv(0x12340), 0x1234, 17},
      {"au", 777, Bytes().Text(".snd").U32BE(24).U32BE(8000).U32BE(3).U32BE(8000).U32BE(1).PadTo(32), 8024, 25},
      {"aif", 779, Aiff(5000), 5008, 17},
      {"aif", 779, Aiff(777, "AIFC"), 785, 17},
      {"veg", 2328, Bytes().Text("riff").Zeros(12).U32LE(2222).PadTo(32), 2222, 17},
      {"wrf", 1042, Bytes().Text("WOTF").U32LE(0).U32LE(1500).PadTo(32), 1500, 17},
      {"mmf", 780, Bytes().Text("MMMD").U32BE(1200).Text("CNTI").PadTo(32), 1208, 17},
  };
}

std::unique_ptr<CTypeRecovery> Make(const Format& f) {
  std::string name = "CTypeRecovery";
  for (const char* c = f.name; *c != 0; ++c) name += static_cast<char>(std::toupper(*c));
  return std::unique_ptr<CTypeRecovery>(typerecovery::ConstructRecognizer(name.c_str(), nullptr, nullptr));
}

TEST(DeclaredSizeMedia, EachFileIsExactlyItsDeclaredSize) {
  for (const Format& f : Formats()) {
    const std::string expected = std::string(f.name) + "@0+" + std::to_string(f.declared);
    EXPECT_EQ(trtest::CarvedSpans({f.code}, Bytes(f.header).PadTo(f.declared + 2000, 0x6B)), expected);
  }
}

TEST(DeclaredSizeMedia, HeaderTestsNeedTheirMinimumLengthAndRefuseNearMisses) {
  const std::vector<Format> formats = Formats();
  for (const Format& f : formats) {
    auto r = Make(f);
    ASSERT_NE(r, nullptr) << f.name;
    EXPECT_EQ(r->IsHeaderMatched(f.header.data(), static_cast<uint32_t>(f.minimum), 0), f.code) << f.name;
    EXPECT_EQ(r->IsHeaderMatched(f.header.data(), static_cast<uint32_t>(f.minimum - 1), 0), 0u) << f.name;
    EXPECT_EQ(r->IsHeaderMatched(nullptr, static_cast<uint32_t>(f.header.size()), 0), 0u) << f.name;
  }
  struct Miss { size_t format; std::vector<std::pair<size_t, uint8_t>> changes; const char* what; };
  const Miss misses[] = {
      {0, {{4, 0x97}}, "APE version 3.98"},
      {1, {{15, 0}}, "XPT magic"},
      {1, {{23, 0}, {22, 0}}, "XPT file length 0"},
      {2, {{15, 0}}, "WTV GUID"},
      {3, {{15, 28}}, "AU encoding 28"},
      {3, {{22, 1}, {23, 1}}, "AU 257 channels"},
      {3, {{7, 0}}, "AU data offset 0"},
      {3, {{10, 0}, {11, 0}}, "AU data size 0"},
      {4, {{11, 'X'}}, "AIFX"},
      {6, {{0, 'R'}}, "RIFF in capitals"},
      {7, {{3, 'X'}}, "WOTX"},
      {8, {{6, 0}, {7, 0}}, "MMF size 0"},
  };
  for (const Miss& m : misses) {
    std::vector<uint8_t> header = formats[m.format].header;
    for (const auto& [at, value] : m.changes) header[at] = value;
    EXPECT_EQ(Make(formats[m.format])->IsHeaderMatched(header.data(), static_cast<uint32_t>(header.size()), 0), 0u)
        << m.what;
  }
}

TEST(DeclaredSizeMedia, NewHeaderCutsAFileButNotARecording) {
  EXPECT_EQ(trtest::CarvedSpans({779}, Aiff(5000).PadTo(1024, 0x6B).Raw(Aiff(700)).PadTo(8192, 0x6B)),
            "aif@0+1024~ aif@1024+708");
  EXPECT_EQ(trtest::CarvedSpans({1039}, Wtv(5000 << 4).PadTo(1024, 0x6B).Raw(Wtv(700 << 4)).PadTo(8192, 0x6B)),
            "wtv@0+5000");
}

}  // namespace
