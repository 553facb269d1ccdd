// Declared-size media recognizers: each header test, each size formula, the
// cut by a new header (and WTV's lack of it) and the construction table.
#include "formats/media/DeclaredSizeMedia.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

struct Format {
  const char* name;
  uint32_t code;
  Bytes header;       // a header accepted by the class
  uint64_t declared;  // the size it declares
};

Bytes Wtv(uint32_t sizeField) {
  Bytes b{0xB7, 0xD8, 0x00, 0x20, 0x37, 0x49, 0xDA, 0x11,
          0xA6, 0x4E, 0x00, 0x07, 0xE9, 0x5E, 0xAD, 0x8D};
  return b.PadTo(90, 0x00).U32LE(sizeField).PadTo(128, 0x00);
}

std::vector<Format> Formats() {
  Bytes ape, mxf, xpt, au, aiff, aifc, veg, wrf, mmf;
  ape.Text("MAC ").U32LE(3990).U32LE(52).U32LE(24).U32LE(400).U32LE(44).U32LE(3000).PadTo(65, 0);
  mxf.Raw({0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x02,
           0x04, 0x00, 0x83, 0x00, 0x00, 0x58});
  mxf.U16BE(1).U16BE(3).U32BE(512).U64BE(0).U64BE(0).U64BE(2500).PadTo(65, 0);
  xpt.Raw({0x58, 0x50, 0x43, 0x4F, 0x4D, 0x0A, 0x54, 0x79, 0x70, 0x65, 0x4C, 0x69, 0x62, 0x0D,
           0x0A, 0x1A});
  xpt.U32BE(0).U32BE(1900).PadTo(64, 0);
  au.Text(".snd").U32BE(24).U32BE(8000).U32BE(3).U32BE(8000).U32BE(1).PadTo(32, 0);
  aiff.Text("FORM").U32BE(5000).Text("AIFF").PadTo(32, 0);
  aifc.Text("FORM").U32BE(777).Text("AIFC").PadTo(32, 0);
  veg.Text("riff").U32LE(0).U32LE(0).U32LE(0).U32LE(2222).PadTo(32, 0);
  wrf.Text("WOTF").U32LE(0).U32LE(1500).PadTo(32, 0);
  mmf.Text("MMMD").U32BE(1200).Text("CNTI").PadTo(32, 0);
  return {
      {"ape", 771, ape, 52 + 24 + 400 + 44 + 3000},
      {"mxf", 1038, mxf, 2500 + 224},
      {"xpt", 2308, xpt, 1900},
      {"wtv", 1039, Wtv(0x12340), 0x1234},
      {"au", 777, au, 8024},
      {"aif", 779, aiff, 5008},
      {"aif", 779, aifc, 785},
      {"veg", 2328, veg, 2222},
      {"wrf", 1042, wrf, 1500},
      {"mmf", 780, mmf, 1208},
  };
}

TEST(DeclaredSizeMedia, EachFileIsExactlyItsDeclaredSize) {
  for (const Format& f : Formats()) {
    Bytes image = f.header;
    image.PadTo(f.declared + 2000, 0x6B);
    Scan scan({f.code});
    EXPECT_EQ(scan.Feed(image, 512, 64), 1u) << f.name;
    ASSERT_EQ(scan.log.reports.size(), 1u) << f.name;
    EXPECT_EQ(scan.log.reports[0].extension, f.name);
    EXPECT_EQ(scan.log.reports[0].size, f.declared) << f.name;
    EXPECT_EQ(scan.log.reports[0].complete, 1u) << f.name;
    trtest::TempDir dir;
    {
      Scan folder({f.code}, &dir);
      folder.Feed(image, 512, 64);
    }
    const std::string file = std::string(f.name) + "/00000." + f.name;
    EXPECT_EQ(dir.Read(file), std::vector<uint8_t>(image.data(), image.data() + f.declared));
  }
}

std::unique_ptr<CTypeRecovery> Make(uint32_t code) {
  switch (code) {
    case 771: return std::make_unique<CTypeRecoveryAPE>(nullptr, nullptr);
    case 1038: return std::make_unique<CTypeRecoveryMXF>(nullptr, nullptr);
    case 2308: return std::make_unique<CTypeRecoveryXPT>(nullptr, nullptr);
    case 1039: return std::make_unique<CTypeRecoveryWTV>(nullptr, nullptr);
    case 777: return std::make_unique<CTypeRecoveryAU>(nullptr, nullptr);
    case 779: return std::make_unique<CTypeRecoveryAIF>(nullptr, nullptr);
    case 2328: return std::make_unique<CTypeRecoveryVEG>(nullptr, nullptr);
    case 1042: return std::make_unique<CTypeRecoveryWRF>(nullptr, nullptr);
    default: return std::make_unique<CTypeRecoveryMMF>(nullptr, nullptr);
  }
}

TEST(DeclaredSizeMedia, HeaderTestsNeedTheirMinimumLengthAndRefuseNearMisses) {
  // XPT's file length field must be readable, at 20 to 23.
  const std::vector<size_t> minimum = {65, 65, 24, 17, 25, 17, 17, 17, 17, 17};
  const std::vector<Format> formats = Formats();
  for (size_t i = 0; i < formats.size(); ++i) {
    const Format& f = formats[i];
    auto r = Make(f.code);
    const uint32_t length = static_cast<uint32_t>(f.header.size());
    EXPECT_EQ(r->IsHeaderMatched(f.header.data(), length, 0), f.code) << f.name;
    EXPECT_EQ(r->IsHeaderMatched(f.header.data(), static_cast<uint32_t>(minimum[i]), 0), f.code);
    EXPECT_EQ(r->IsHeaderMatched(f.header.data(), static_cast<uint32_t>(minimum[i] - 1), 0), 0u)
        << f.name;
    EXPECT_EQ(r->IsHeaderMatched(nullptr, length, 0), 0u);
  }
  struct Miss { size_t format; std::vector<std::pair<size_t, uint8_t>> changes; const char* what; };
  const Miss misses[] = {
      {0, {{4, 0x97}}, "APE version 3.98"},
      {1, {{50, 0}, {51, 0}}, "MXF footer offset equal to this partition's"},
      {2, {{15, 0}}, "XPT magic"},
      {2, {{23, 0}, {22, 0}}, "XPT file length 0"},
      {3, {{15, 0}}, "WTV GUID"},
      {4, {{15, 28}}, "AU encoding 28"},
      {4, {{22, 1}, {23, 1}}, "AU 257 channels"},
      {4, {{7, 0}}, "AU data offset 0"},
      {4, {{10, 0}, {11, 0}}, "AU data size 0"},
      {5, {{11, 'X'}}, "AIFX"},
      {7, {{0, 'R'}}, "RIFF in capitals"},
      {8, {{3, 'X'}}, "WOTX"},
      {9, {{6, 0}, {7, 0}}, "MMF size 0"},
  };
  for (const Miss& m : misses) {
    const Format& f = formats[m.format];
    std::vector<uint8_t> header = f.header;
    for (const auto& [at, value] : m.changes) header[at] = value;
    EXPECT_EQ(Make(f.code)->IsHeaderMatched(header.data(), static_cast<uint32_t>(header.size()), 0),
              0u)
        << m.what;
  }
}

TEST(DeclaredSizeMedia, NewHeaderCutsAFileButNotARecording) {
  for (const uint32_t code : {779u, 1039u}) {
    Bytes image = code == 779 ? Bytes().Text("FORM").U32BE(5000).Text("AIFF") : Wtv(5000 << 4);
    image.PadTo(1024, 0x6B);
    image.Raw(code == 779 ? Bytes().Text("FORM").U32BE(700).Text("AIFF") : Wtv(700 << 4));
    image.PadTo(8192, 0x6B);
    Scan scan({code});
    scan.Feed(image, 512, 64);
    if (code == 779) {
      ASSERT_EQ(scan.log.reports.size(), 2u);
      EXPECT_EQ(scan.log.reports[0].size, 1024u);
      EXPECT_EQ(scan.log.reports[0].complete, 0u);
      EXPECT_EQ(scan.log.reports[1].start, 1024u);
      EXPECT_EQ(scan.log.reports[1].size, 708u);
    } else {
      ASSERT_EQ(scan.log.reports.size(), 1u);
      EXPECT_EQ(scan.log.reports[0].size, 5000u);
      EXPECT_EQ(scan.log.reports[0].complete, 1u);
    }
  }
}

}  // namespace
