// ISO base-media recognizers: brand rules, top-level box lists, the box walk
// across strips, cuts and the progress record.
#include "formats/media/FTYP.h"

#include <gtest/gtest.h>

#include <memory>

#include "registry/RecognizerFactory.h"
#include "support/Carving.h"

namespace {

using trtest::Bytes;

constexpr uint32_t kMP4 = 1028, kM4V = 1029, kMOV = 1030, k3GP = 1032, k3G2 = 1033, kM4R = 778;

// An ftyp box of this brand, then boxes of these sizes (below 8: the size
// and type only), then fill up to total bytes.
Bytes Iso(const char* brand, std::initializer_list<std::pair<const char*, uint32_t>> boxes,
          size_t total = 0, uint8_t fill = 0) {
  Bytes b;
  b.U32BE(24).Text("ftyp").Text(brand).U32BE(0x200).Text(brand).Text("mp41");
  for (const auto& [type, size] : boxes) b.U32BE(size).Text(type).Fill(size < 8 ? 0 : size - 8, 0x11);
  return b.PadTo(total, fill);
}

std::vector<std::unique_ptr<CTypeRecoveryFTYP>> AllSix() {
  std::vector<std::unique_ptr<CTypeRecoveryFTYP>> all;
  for (const char* name : {"MP4", "M4V", "MOV", "3GP", "3G2", "M4R"}) {
    all.emplace_back(static_cast<CTypeRecoveryFTYP*>(
        typerecovery::ConstructRecognizer((std::string("CTypeRecovery") + name).c_str(), nullptr, nullptr)));
  }
  return all;
}

TEST(Ftyp, HeadersChooseExactlyOneClass) {
  // The code of the one class that claims a header, 0 for none, ~0 for several.
  auto claimant = [](const std::vector<uint8_t>& header) {
    uint32_t found = 0;
    for (auto& r : AllSix()) {
      const uint32_t code = r->IsHeaderMatched(header.data(), static_cast<uint32_t>(header.size()), 0);
      if (code != 0) found = found == 0 ? code : ~0u;
    }
    return found;
  };
  const std::pair<const char*, uint32_t> brands[] = {
      {"isom", kMP4}, {"mp42", kMP4}, {"3gp4", kMP4}, {"M4V ", kM4V}, {"qt  ", kMOV},
      {"qtxx", kMOV}, {"3gp5", k3GP}, {"3gp6", k3GP}, {"kddi", k3G2}, {"M4A ", kM4R},
      {"M4AX", kM4R}, {"mp41", 0},    {"M4VP", 0},    {"ISOM", 0},    {"avc1", 0},
      {"3g2a", k3G2}, {"3g2c", k3G2}, {"3g2d", 0},
  };
  for (const auto& [brand, code] : brands) EXPECT_EQ(claimant(Iso(brand, {}, 64)), code) << brand;
  // A QuickTime file may open with its media data; 17 bytes are needed; a zero box size is refused.
  EXPECT_EQ(claimant(Bytes().U32BE(1000).Text("mdat").Fill(56, 0xA5)), kMOV);
  EXPECT_EQ(claimant(trtest::Prefix(Iso("isom", {}), 17)), kMP4);
  EXPECT_EQ(claimant(trtest::Prefix(Iso("isom", {}), 16)), 0u);
  EXPECT_EQ(claimant(Bytes().U32BE(0).Text("ftyp").Text("isom").PadTo(64)), 0u);
}

TEST(Ftyp, EachClassAllowsItsOwnTopLevelBoxes) {
  const char* const kTypes[] = {"moov", "mdat", "free", "wide", "ftyp", "moof", "mfra", "uuid", "MOOV", "skip"};
  const char* const kAccepted[] = {"1111100000", "1110000000", "1111100000",   // MP4 M4V MOV
                                   "1110000001", "1110011001", "1110100000"};  // 3GP 3G2 M4R
  auto all = AllSix();
  for (size_t i = 0; i < all.size(); ++i) {
    std::string got;
    for (const char* type : kTypes) {
      got += all[i]->IsBoxTypeAccepted(reinterpret_cast<const uint8_t*>(type)) != 0 ? '1' : '0';
    }
    EXPECT_EQ(got, kAccepted[i]) << all[i]->GetTypeCode();
  }
}

TEST(Ftyp, BoxWalkEndsAndCuts) {
  struct Case { const char* what; uint32_t code; std::vector<uint8_t> image; uint32_t lookahead; const char* spans; };
  const Case cases[] = {
      {"unknown box ends the file at its first byte", kMP4,
       Iso("isom", {{"moov", 300}, {"mdat", 1000}, {"uuid", 64}}, 2048, 0x5A), 64, "mp4@0+1324"},
      {"free is an MP4 box (zeros behind: a zero size)", kMP4,
       Iso("isom", {{"moov", 300}, {"free", 40}}, 1024), 64, "mp4@0+364"},
      // ffmpeg puts a "free" box behind "ftyp"; "wide" is QuickTime's only.
      {"free is a 3GPP box, wide is not", k3GP,
       Iso("3gp6", {{"free", 8}, {"moov", 300}, {"free", 40}, {"wide", 8}}, 1024, 0x5A), 64, "3gp@0+372"},
      {"zero size ends at the box", kM4R, Iso("M4A ", {{"moov", 100}, {"mdat", 0}}, 1536, 0x77), 16,
       "m4a@0+124"},
      {"size 1 ends one byte in (no 64-bit size)", kM4R, Iso("M4A ", {{"mdat", 1}}, 1024, 0x21), 16,
       "m4a@0+25"},
      {"box ending on the strip end, no lookahead", kMOV,
       Iso("qt  ", {{"mdat", 488}, {"moov", 100}, {"junk", 40}}, 1024, 0x33), 0, "mov@0+612"},
      {"box header across the strip end", k3G2,
       Iso("kddi", {{"mdat", 484}, {"moov", 100}, {"uuid", 20}}, 1024, 0x44), 8, "3g2@0+608"},
      // Without lookahead the header is put together from both strips.
      {"box header across the strip end, no lookahead", k3G2,
       Iso("kddi", {{"mdat", 484}, {"moov", 100}, {"uuid", 20}}, 1024, 0x44), 0, "3g2@0+608"},
      {"unknown box across the strip end, no lookahead", k3G2,
       Iso("kddi", {{"mdat", 484}, {"uuid", 100}}, 1024, 0x44), 0, "3g2@0+508"},
      {"consecutive headers: the first is cut", kMP4,
       Bytes().Raw(trtest::Prefix(Iso("isom", {{"mdat", 4000}}), 512)).Raw(Iso("mp42", {{"moov", 600}}, 1536)),
       64, "mp4@0+512~ mp4@512+624"},
      {"flush takes what was read, incomplete", kMP4,
       trtest::Prefix(Iso("isom", {{"mdat", 100000}}), 1536), 64, "mp4@0+1536~"},
  };
  for (const Case& c : cases) {
    uint32_t ended = 0;
    const auto reports = trtest::ReportRun({c.code}, c.image, 512, c.lookahead, &ended);
    EXPECT_EQ(trtest::Spans(reports), c.spans) << c.what;
    EXPECT_EQ(ended, reports.size()) << c.what;
  }
  // The cut file and a new one ending within the same strip both count.
  Bytes image;
  image.Raw(trtest::Prefix(Iso("isom", {{"mdat", 4000}}), 512)).Raw(Iso("isom", {{"moov", 100}}, 512));
  trtest::Scan scan({kMP4});
  EXPECT_EQ(scan.Strip(image, 0, 512, 0), 0u);
  EXPECT_EQ(scan.Strip(image, 512, 512, 0), 2u);
  EXPECT_EQ(trtest::Spans(scan.log.reports), "mp4@0+512~ mp4@512+124");
}

TEST(Ftyp, ProgressKeepsTheBoxCursorAcrossManagers) {
  const Bytes file = Iso("3gp5", {{"moov", 700}, {"mdat", 900}, {"uuid", 16}}, 3072, 0x19);
  EXPECT_EQ(trtest::Spans(trtest::ResumedRun({k3GP}, file, 512, 64, 1024)), "3gp@0+1624");
  // The record: a file in progress (60 bytes), the cursor, the count of
  // kept header bytes (none here), the end marker.
  trtest::Scan scan({k3GP});
  scan.Strip(file, 0, 512, 64);
  const std::vector<uint8_t> saved = trtest::SavedProgress(scan.manager());
  ASSERT_EQ(saved.size(), 60u + 4 + 4 + 4);
  EXPECT_EQ(saved[60] | (saved[61] << 8) | (saved[62] << 16) | (saved[63] << 24), 724 - 512);
  // Paused with a box header split by the strip end, without lookahead.
  const Bytes split = Iso("3gp5", {{"moov", 484}, {"mdat", 900}, {"uuid", 16}}, 3072, 0x19);
  EXPECT_EQ(trtest::Spans(trtest::ResumedRun({k3GP}, split, 512, 0, 512)), "3gp@0+1408");
}

}  // namespace
