// ISO base-media recognizers: header tests, top-level box lists and the box
// walk across strips.
#include "formats/media/FTYP.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "interface/Manager.h"
#include "support/Carving.h"

namespace {

using trtest::Scan;
using trtest::Bytes;

constexpr uint32_t kMP4 = 1028, kM4V = 1029, kMOV = 1030, k3GP = 1032, k3G2 = 1033, kM4R = 778;

// A box of exactly size bytes (size at least 8), its body filled with fill.
Bytes& Box(Bytes& out, uint32_t size, const std::string& type, uint8_t fill = 0x11) {
  return out.U32BE(size).Text(type).Fill(size - 8, fill);
}

Bytes FtypBox(const std::string& brand) {
  Bytes b;
  return b.U32BE(24).Text("ftyp").Text(brand).U32BE(0x200).Text(brand).Text("mp41");
}

std::vector<std::unique_ptr<CTypeRecoveryFTYP>> AllSix() {
  std::vector<std::unique_ptr<CTypeRecoveryFTYP>> all;
  all.emplace_back(new CTypeRecoveryMP4(nullptr, nullptr));
  all.emplace_back(new CTypeRecoveryM4V(nullptr, nullptr));
  all.emplace_back(new CTypeRecoveryMOV(nullptr, nullptr));
  all.emplace_back(new CTypeRecovery3GP(nullptr, nullptr));
  all.emplace_back(new CTypeRecovery3G2(nullptr, nullptr));
  all.emplace_back(new CTypeRecoveryM4R(nullptr, nullptr));
  return all;
}

// The code of the one class that claims this header, 0 when none does, or
// ~0 when several do.
uint32_t Claimant(const std::vector<uint8_t>& header) {
  uint32_t found = 0;
  for (auto& r : AllSix()) {
    const uint32_t code = r->IsHeaderMatched(header.data(), static_cast<uint32_t>(header.size()), 0);
    if (code != 0) found = found == 0 ? code : ~0u;
  }
  return found;
}

TEST(Ftyp, HeadersChooseExactlyOneClass) {
  struct Case { const char* brand; uint32_t code; };
  const Case cases[] = {
      {"isom", kMP4}, {"mp42", kMP4}, {"3gp4", kMP4}, {"M4V ", kM4V}, {"qt  ", kMOV},
      {"qtxx", kMOV}, {"3gp5", k3GP}, {"3gp6", k3GP}, {"kddi", k3G2}, {"M4A ", kM4R},
      {"M4AX", kM4R}, {"mp41", 0},    {"M4VP", 0},    {"ISOM", 0},    {"avc1", 0},
  };
  for (const Case& c : cases) {
    Bytes header = FtypBox(c.brand);
    EXPECT_EQ(Claimant(header.PadTo(64)), c.code) << c.brand;
  }
  Bytes mdat;  // a QuickTime file may open with its media data
  EXPECT_EQ(Claimant(mdat.U32BE(1000).Text("mdat").Fill(56, 0xA5)), kMOV);
  Bytes header = FtypBox("isom");
  EXPECT_EQ(Claimant(std::vector<uint8_t>(header.data(), header.data() + 17)), kMP4);
  EXPECT_EQ(Claimant(std::vector<uint8_t>(header.data(), header.data() + 16)), 0u);
  Bytes zeroSize;
  EXPECT_EQ(Claimant(zeroSize.U32BE(0).Text("ftyp").Text("isom").PadTo(64)), 0u);
}

TEST(Ftyp, EachClassAllowsItsOwnTopLevelBoxes) {
  const char* const kTypes[] = {"moov", "mdat", "free", "wide", "ftyp", "moof", "mfra", "uuid", "MOOV", "skip"};
  // Per class, the accepted types of kTypes as a string of 0/1.
  const std::pair<uint32_t, std::string> expected[] = {
      {kMP4, "1111100000"}, {kM4V, "1110000000"}, {kMOV, "1111100000"},
      {k3GP, "1100000000"}, {k3G2, "1100011000"}, {kM4R, "1110100000"},
  };
  auto all = AllSix();
  for (size_t i = 0; i < all.size(); ++i) {
    std::string got;
    for (const char* type : kTypes) {
      got += all[i]->IsBoxTypeAccepted(reinterpret_cast<const uint8_t*>(type)) != 0 ? '1' : '0';
    }
    EXPECT_EQ(all[i]->GetTypeCode(), expected[i].first);
    EXPECT_EQ(got, expected[i].second) << expected[i].first;
  }
}

TEST(Ftyp, UnknownBoxEndsTheFileAtItsFirstByte) {
  Bytes file = FtypBox("isom");
  Box(file, 300, "moov");
  Box(file, 1000, "mdat");
  Box(file, 64, "uuid");
  Scan scan({kMP4});
  EXPECT_EQ(scan.Feed(file.PadTo(2048, 0x5A), 512, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].extension, "mp4");
  EXPECT_EQ(scan.log.reports[0].size, 24u + 300 + 1000);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
}

TEST(Ftyp, FreeBoxIsKeptByMp4AndEndsA3gp) {
  for (const auto& [brand, code, size] :
       {std::tuple<const char*, uint32_t, uint64_t>{"isom", kMP4, 364}, {"3gp6", k3GP, 324}}) {
    Bytes file = FtypBox(brand);
    Box(file, 300, "moov");
    Box(file, 40, "free");
    Scan scan({code});
    scan.Feed(file.PadTo(1024, 0), 512, 64);  // the zeros are a box of size 0
    ASSERT_EQ(scan.log.reports.size(), 1u) << brand;
    EXPECT_EQ(scan.log.reports[0].size, size) << brand;
  }
}

TEST(Ftyp, ZeroSizeEndsAtTheBoxAndSizeOneOneByteIn) {
  Bytes zero = FtypBox("M4A ");
  Box(zero, 100, "moov");
  zero.U32BE(0).Text("mdat").PadTo(1536, 0x77);
  Bytes one = FtypBox("M4A ");
  one.U32BE(1).Text("mdat").U64BE(5000).PadTo(1024, 0x21);  // a 64-bit size is not read
  for (const auto& [file, size] : {std::pair<Bytes, uint64_t>{zero, 124}, {one, 25}}) {
    Scan scan({kM4R});
    scan.Feed(file, 512, 16);
    ASSERT_EQ(scan.log.reports.size(), 1u);
    EXPECT_EQ(scan.log.reports[0].size, size);
    EXPECT_EQ(scan.log.reports[0].complete, 1u);
  }
}

TEST(Ftyp, BoxEndingOnTheStripEndContinuesAtTheNextStrip) {
  // ftyp (24) + mdat (488) end exactly at 512; the next strip starts with a
  // moov box and then an unknown one. No lookahead at all.
  Bytes file = FtypBox("qt  ");
  Box(file, 488, "mdat");
  Box(file, 100, "moov");
  Box(file, 40, "junk");
  file.PadTo(1024, 0x33);
  Scan scan({kMOV});
  for (size_t pos = 0; pos < file.size(); pos += 512) scan.Strip(file, pos, 512, 0);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 612u);
  EXPECT_EQ(scan.log.reports[0].complete, 1u);
}

TEST(Ftyp, BoxHeaderAcrossTheStripEndIsReadFromTheLookahead) {
  // The moov box header begins 4 bytes before the strip end.
  Bytes file = FtypBox("kddi");
  Box(file, 484, "mdat");
  Box(file, 100, "moov");
  Box(file, 20, "free");  // not a 3GPP2 top-level box
  file.PadTo(1024, 0x44);
  Scan scan({k3G2});
  EXPECT_EQ(scan.Strip(file, 0, 512, 8), 0u);
  EXPECT_EQ(scan.Strip(file, 512, 512, 0), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 24u + 484 + 100);
}

TEST(Ftyp, ConsecutiveHeadersGiveTwoFilesTheFirstCut) {
  Bytes first = FtypBox("isom");
  Box(first, 4000, "mdat");  // reaches past the second header
  Bytes image = first;
  image.vec().resize(512);
  Bytes second = FtypBox("mp42");
  Box(second, 600, "moov");
  image.Raw(second).PadTo(2048, 0);
  Scan scan({kMP4});
  EXPECT_EQ(scan.Feed(image, 512, 64), 2u);
  ASSERT_EQ(scan.log.reports.size(), 2u);
  EXPECT_EQ(scan.log.reports[0].start, 0u);
  EXPECT_EQ(scan.log.reports[0].size, 512u);
  EXPECT_EQ(scan.log.reports[0].complete, 0u);
  EXPECT_EQ(scan.log.reports[1].start, 512u);
  EXPECT_EQ(scan.log.reports[1].size, 624u);
  EXPECT_EQ(scan.log.reports[1].complete, 1u);
}

TEST(Ftyp, CutAndNewFileEndingInOneStripCountTwo) {
  CTypeRecoveryManager manager(0, trtest::RecordReport, nullptr);
  trtest::ReportLog log;
  manager.m_userValue = reinterpret_cast<uintptr_t>(&log);
  CTypeRecoveryMP4 mp4(&manager, nullptr);
  Bytes first = FtypBox("isom");
  Box(first, 4000, "mdat");
  Bytes second = FtypBox("isom");
  Box(second, 100, "moov");
  second.PadTo(512, 0);
  uint32_t error = 0;
  EXPECT_EQ(mp4.Analyse(0, first.data(), 512, 0, kMP4, &error), 0u);
  EXPECT_EQ(mp4.Analyse(512, second.data(), 512, 0, kMP4, &error), 2u);
  ASSERT_EQ(log.reports.size(), 2u);
  EXPECT_EQ(log.reports[0].complete, 0u);
  EXPECT_EQ(log.reports[1].size, 124u);
  EXPECT_EQ(log.reports[1].complete, 1u);
  EXPECT_TRUE(mp4.IsIdle());
}

TEST(Ftyp, FlushReportsTheBytesTakenAsIncomplete) {
  Bytes file = FtypBox("isom");
  Box(file, 100000, "mdat");
  file.vec().resize(1536);
  Scan scan({kMP4});
  EXPECT_EQ(scan.Feed(file, 512, 64), 1u);
  ASSERT_EQ(scan.log.reports.size(), 1u);
  EXPECT_EQ(scan.log.reports[0].size, 1536u);
  EXPECT_EQ(scan.log.reports[0].complete, 0u);
}

TEST(Ftyp, ProgressKeepsTheBoxCursorAcrossManagers) {
  Bytes file = FtypBox("3gp5");
  Box(file, 700, "moov");
  Box(file, 900, "mdat");
  Box(file, 16, "free");
  file.PadTo(3072, 0x19);
  const std::vector<trtest::Report> resumed = trtest::ResumedRun({k3GP}, file, 512, 64, 1024);
  ASSERT_EQ(resumed.size(), 1u);
  EXPECT_EQ(resumed[0].size, 1624u);
  EXPECT_EQ(resumed[0].complete, 1u);

  // The record: base record of a file in progress (60 bytes), then the
  // cursor, then the end marker.
  Scan scan({k3GP});
  scan.Strip(file, 0, 512, 64);
  const std::vector<uint8_t> saved = trtest::SavedProgress(scan.manager());
  ASSERT_EQ(saved.size(), 60u + 4 + 4);
  const uint32_t cursor = saved[60] | (saved[61] << 8) | (saved[62] << 16) | (saved[63] << 24);
  EXPECT_EQ(cursor, 724u - 512);
}

}  // namespace
