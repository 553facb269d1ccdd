// TIFF and camera raw: the streaming directory walk (strips after the
// directory, directories beyond the cached first 64 KiB), sub-types by make
// and magic with their enable flags, maxima and trailers, picture records,
// progress and hostile directories.
#include <gtest/gtest.h>

#include <random>

#include "formats/image/TIFF.h"
#include "support/Carving.h"

using trtest::AddedType;
using trtest::DiskImage;
using trtest::FolderRun;
using trtest::ReportRun;

namespace {

constexpr uint32_t kTif = 514;
const std::vector<AddedType> kAllTiffTypes = {{514}, {515}, {516}, {517}, {518},
                                              {519}, {520}, {521}, {522}, {523}};

enum : uint16_t { kAscii = 2, kShort = 3, kLong = 4, kUndefined = 7 };

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;            // inline value (SHORT or LONG) or offset
  std::string text = "";     // inline bytes instead of the value
};

// A TIFF file image built field by field in its own byte order.
class Tiff {
 public:
  Tiff(bool bigEndian, size_t size, uint32_t firstDirectory, uint8_t filler = 0x77)
      : m_big(bigEndian), bytes(size, filler) {
    bytes[0] = bytes[1] = bigEndian ? 'M' : 'I';
    U16(2, 42);
    U32(4, firstDirectory);
    std::fill(bytes.begin() + 8, bytes.begin() + std::min<size_t>(16, size), 0);
  }
  Tiff& Magic(const std::string& four) {
    std::copy(four.begin(), four.end(), bytes.begin());
    return *this;
  }
  Tiff& U16(size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(m_big ? v >> 8 : v);
    bytes[at + 1] = static_cast<uint8_t>(m_big ? v : v >> 8);
    return *this;
  }
  Tiff& U32(size_t at, uint32_t v) {
    return m_big ? U16(at, static_cast<uint16_t>(v >> 16)).U16(at + 2, static_cast<uint16_t>(v))
                 : U16(at, static_cast<uint16_t>(v)).U16(at + 2, static_cast<uint16_t>(v >> 16));
  }
  Tiff& U32BE(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    return *this;
  }
  Tiff& Text(size_t at, const std::string& t) {
    std::copy(t.begin(), t.end(), bytes.begin() + static_cast<long>(at));
    return *this;
  }
  // A directory at `at`; returns the offset just past its link.
  size_t Ifd(size_t at, const std::vector<Entry>& entries, uint32_t next = 0) {
    U16(at, static_cast<uint16_t>(entries.size()));
    size_t p = at + 2;
    for (const Entry& e : entries) {
      U16(p, e.tag).U16(p + 2, e.type).U32(p + 4, e.count);
      U32(p + 8, 0);
      if (!e.text.empty()) {
        Text(p + 8, e.text);
      } else if (e.type == kShort && e.count <= 2) {
        U16(p + 8, static_cast<uint16_t>(e.value));
      } else {
        U32(p + 8, e.value);
      }
      p += 12;
    }
    U32(p, next);
    return p + 4;
  }

 private:
  bool m_big;

 public:
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Then(std::vector<uint8_t> a, size_t n, uint8_t fill) {
  a.insert(a.end(), n, fill);
  return a;
}

// A file with its make out of line at 200, one strip [1024, stripEnd), its
// directory at 8 and, if asked, an XMP packet.
Tiff WithMake(bool big, const std::string& make, size_t stripEnd = 1500, bool xmp = false) {
  Tiff t(big, stripEnd, 8);
  std::vector<Entry> entries = {{0x010F, kAscii, static_cast<uint32_t>(make.size() + 1), 200},
                                {0x0111, kLong, 1, 1024},
                                {0x0117, kLong, 1, static_cast<uint32_t>(stripEnd - 1024)}};
  if (xmp) entries.push_back({0x02BC, kUndefined, 20, 300});
  t.Ifd(8, entries);
  t.Text(200, make).bytes[200 + make.size()] = 0;
  return t;
}

}  // namespace

TEST(Tiff, HeaderNeeds257BytesAndOneOfTheFiveMagics) {
  CTypeRecoveryTIFF tiff(nullptr, nullptr);
  for (const char* magic : {"II*\x00", "MM\x00*", "IIRO", "IIRS", "IIU\x00", "MM*\x00", "IIRX"}) {
    std::vector<uint8_t> b(300, 0);
    std::copy(magic, magic + 4, b.begin());
    const bool known = std::string(magic, 4) != std::string("MM*\x00", 4) && magic[3] != 'X';
    EXPECT_EQ(tiff.IsHeaderMatched(b.data(), 257, 0), known ? kTif : 0u) << magic;
    EXPECT_EQ(tiff.IsHeaderMatched(b.data(), 256, 0), 0u) << magic;
  }
}

TEST(Tiff, BigEndianFileWithStripsAfterItsDirectoryEndsAtItsLastStrip) {
  // Directory at 8; offsets (LONG) and byte counts (SHORT) out of line right
  // after it; three strips, the last one the furthest although listed first.
  Tiff t(true, 5000, 8);
  const size_t after = t.Ifd(8, {{0x0100, kShort, 1, 40},
                                 {0x0111, kLong, 3, 300},
                                 {0x0117, kShort, 3, 312}});
  ASSERT_LT(after, 300u);
  t.U32(300, 4000).U32(304, 1000).U32(308, 2500);
  t.U16(312, 1000).U16(314, 1500).U16(316, 900);
  const std::vector<uint8_t> image = Then(t.bytes, 3000, 0x5A);

  for (uint32_t strip : {257u, 512u, 700u, 8192u}) {
    for (uint32_t lookahead : {0u, 64u}) {
      const auto reports = ReportRun({{kTif}}, image, strip, lookahead);
      ASSERT_EQ(reports.size(), 1u) << strip << "/" << lookahead;
      EXPECT_EQ(reports[0].size, 5000u) << strip << "/" << lookahead;
      EXPECT_EQ(reports[0].complete, 1u);
      EXPECT_EQ(reports[0].extension, "TIF");
    }
  }
  trtest::TempDir dir;
  FolderRun(dir, {{kTif}}, image, 512, 0);
  ASSERT_EQ(dir.Files(), std::vector<std::string>{"TIF/00000.TIF"});
  EXPECT_EQ(dir.Read("TIF/00000.TIF"), t.bytes);
}

TEST(Tiff, DirectoryBeyond64KiBReadsStripTablesAndMakeFromTheCachedStart) {
  // The pixel strips and the out-of-line values come first; the directory,
  // at 70000, refers back into the first 64 KiB.
  Tiff t(false, 70000, 70000);
  t.U32(100, 2000).U32(104, 30000).U32(108, 66000);  // strip offsets
  t.U32(120, 28000).U32(124, 36000).U32(128, 3900);  // byte counts
  t.Text(140, std::string("sony") + '\0');
  t.bytes.resize(70000 + 2 + 4 * 12 + 4);
  t.Ifd(70000, {{0x010F, kAscii, 5, 140},
                {0x0111, kLong, 3, 100},
                {0x0117, kLong, 3, 120},
                {0x0131, kAscii, 30, 1000}});
  const std::vector<uint8_t> image = Then(t.bytes, 5000, 0x11);

  const auto reports = ReportRun(kAllTiffTypes, image, 4096, 16);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, t.bytes.size());
  EXPECT_EQ(reports[0].complete, 1u);
  EXPECT_EQ(reports[0].extension, "SR2");
}

TEST(Tiff, Cr2FollowedByCanonOptionalDataIncludesThatBlock) {
  Tiff t = WithMake(false, "Canon EOS 5D", 3000);
  t.Text(8, std::string("CR\x02\x00", 4));  // CR2 marker at byte 8 (directory moved to 16)
  t.U32(4, 16);
  t.Ifd(16, {{0x010F, kAscii, 13, 200}, {0x0111, kLong, 1, 1024}, {0x0117, kLong, 1, 1976}});
  std::vector<uint8_t> file = t.bytes;
  std::vector<uint8_t> trailer(92 + 500, 0x42);
  std::copy_n("CANON OPTIONAL DATA", 19, trailer.begin());
  trailer[24] = 0, trailer[25] = 0, trailer[26] = 0x01, trailer[27] = 0xF4;  // 500
  file.insert(file.end(), trailer.begin(), trailer.end());
  const std::vector<uint8_t> image = Then(file, 2000, 0x99);

  for (uint32_t strip : {512u, 1000u}) {
    const auto reports = ReportRun(kAllTiffTypes, image, strip, 64);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].extension, "CR2");
    EXPECT_EQ(reports[0].size, file.size()) << strip;
    EXPECT_EQ(reports[0].complete, 1u);
  }
}

TEST(Tiff, MakeAndMagicDecideTheSubTypeIgnoringCase) {
  struct Case {
    const char* magic;
    const char* make;
    const char* extension;
    size_t trailer;
    bool xmp = false;
  };
  const Case cases[] = {
      {"II*\x00", "sony", "SR2", 0},         {"II*\x00", "SoNy", "SR2", 0},
      {"II*\x00", "SONY DSC-R1", "ARW", 0},  {"II*\x00", "SONYX", "TIF", 0},
      {"MM\x00*", "nikon corporation", "NEF", 0}, {"II*\x00", "NIKON", "TIF", 0},
      {"MM\x00*", "PENTAX", "PEF", 0},       {"MM\x00*", "Mamiya", "MEF", 0},
      {"II*\x00", "Canon", "DNG", 0},        {"MM\x00*", "RICOH", "DNG", 0},
      {"IIRO", "OLYMPUS", "ORF", 0},         {"IIRS", "Olympus", "ORF", 8192},
      {"IIU\x00", "Panasonic", "RAW", 82},   {"MM\x00*", "SONY", "TIF", 0},
      {"MM\x00*", "NIKON", "DNG", 0, true},  // an XMP packet makes a DNG
  };
  for (const Case& c : cases) {
    Tiff t = WithMake(c.magic[0] == 'M', c.make, 1500, c.xmp);
    t.Magic(std::string(c.magic, 4));
    const std::vector<uint8_t> image = Then(t.bytes, 10000, 0x44);
    const auto reports = ReportRun(kAllTiffTypes, image, 512, 32);
    ASSERT_EQ(reports.size(), 1u) << c.make;
    EXPECT_EQ(reports[0].extension, c.extension) << c.magic << " " << c.make;
    EXPECT_EQ(reports[0].size, t.bytes.size() + c.trailer) << c.make;
  }
}

TEST(Tiff, WithOnlyCr2EnabledPlainTiffAndNefAreDiscardedAndLeaveNothing) {
  Tiff plain = WithMake(false, "Unknown maker", 3000);
  Tiff nef = WithMake(true, "NIKON D3", 3000);
  DiskImage image;
  image.File(plain.bytes).Random(2).File(nef.bytes).Random(2);

  uint32_t ended = 9;
  EXPECT_TRUE(ReportRun({{515}}, image.bytes(), 512, 0, &ended).empty());
  EXPECT_EQ(ended, 0u);

  trtest::TempDir dir;
  FolderRun(dir, {{515}}, image.bytes(), 512, 0);
  EXPECT_TRUE(dir.Files().empty());

  // With NEF enabled instead, the number the discarded TIFF had is given again.
  trtest::TempDir nefDir;
  FolderRun(nefDir, {{516}}, image.bytes(), 512, 0);
  ASSERT_EQ(nefDir.Files(), std::vector<std::string>{"NEF/00000.NEF"});
  EXPECT_EQ(nefDir.Read("NEF/00000.NEF"), nef.bytes);
}

TEST(Tiff, SubTypeMaximumEndsTheFileIncomplete) {
  Tiff nef = WithMake(true, "NIKON D3", 20000);
  const std::vector<uint8_t> image = Then(nef.bytes, 1000, 3);
  auto reports = ReportRun({{516, 4000}, {514}}, image, 1024, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].extension, "NEF");
  EXPECT_EQ(reports[0].size, 4096u);
  EXPECT_EQ(reports[0].complete, 0u);

  // The TIFF maximum is the class's own.
  Tiff plain = WithMake(false, "x", 20000);
  reports = ReportRun({{514, 2048}}, Then(plain.bytes, 10, 3), 1024, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Tiff, PictureRecordGivesDimensionsOnlyWhenBothExceed256) {
  struct Case {
    uint16_t width, height;
    uint32_t expectedWidth, expectedHeight;
  };
  for (const Case& c : {Case{257, 300, 257, 300}, Case{256, 1000, 0, 0}, Case{1000, 256, 0, 0}}) {
    Tiff t(false, 2000, 8);
    t.Ifd(8, {{0x0100, kShort, 1, c.width}, {0x0101, kShort, 1, c.height},
              {0x010F, kAscii, 8, 300}, {0x0110, kAscii, 4, 0, "M1\0"},
              {0x0111, kLong, 1, 1024}, {0x0117, kLong, 1, 976}});
    t.Text(300, std::string("Acme Co") + '\0');
    const auto reports = ReportRun({{kTif}}, Then(t.bytes, 100, 0), 512, 0);
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].hasPicture);
    EXPECT_EQ(reports[0].picture.size, 456u);
    EXPECT_EQ(reports[0].picture.typeCode, kTif);
    EXPECT_EQ(reports[0].picture.width, c.expectedWidth);
    EXPECT_EQ(reports[0].picture.height, c.expectedHeight);
    EXPECT_EQ(trtest::U8(reports[0].picture.make), "Acme Co");
    EXPECT_EQ(trtest::U8(reports[0].picture.model), "M1");
  }
}

TEST(Tiff, NewHeaderCutsTheOpenFileWithItsSubTypeAndBytesTaken) {
  Tiff first = WithMake(true, "PENTAX K-1", 9000);
  first.bytes.resize(1024);
  Tiff second = WithMake(false, "plain", 3000);
  std::vector<uint8_t> image = first.bytes;
  image.insert(image.end(), second.bytes.begin(), second.bytes.end());
  const auto reports = ReportRun(kAllTiffTypes, Then(image, 700, 8), 512, 0);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].extension, "PEF");
  EXPECT_EQ(reports[0].size, 1024u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_FALSE(reports[0].hasPicture);
  EXPECT_EQ(reports[1].start, 1024u);
  EXPECT_EQ(reports[1].size, 3000u);
  EXPECT_EQ(reports[1].extension, "TIF");
}

TEST(Tiff, ScanResumedFromProgressFileEndsAsAnUninterruptedOne) {
  // Pending directory, arrays and make text at the moment of each save.
  Tiff t(true, 12000, 8);
  t.Ifd(8, {{0x010F, kAscii, 9, 5000}, {0x0111, kLong, 2, 2100}, {0x0117, kLong, 2, 2108},
            {0x014A, kLong, 2, 3000}},
        7000);
  t.Text(5000, std::string("NIKON D5") + '\0');
  t.U32(2100, 9000).U32(2104, 10000).U32(2108, 1000).U32(2112, 2000);
  t.U32(3000, 4000).U32(3004, 4100);
  t.Ifd(4000, {{0x0111, kLong, 1, 11000}, {0x0117, kLong, 1, 500}});
  t.Ifd(4100, {});
  t.Ifd(7000, {});
  DiskImage image;
  image.Random(1).File(t.bytes).Random(3);
  const auto straight = ReportRun(kAllTiffTypes, image.bytes(), 512, 8);
  ASSERT_EQ(straight.size(), 1u);
  EXPECT_EQ(straight[0].size, 12000u);
  EXPECT_EQ(straight[0].extension, "NEF");
  for (size_t stopAt : {1024u, 2560u, 3584u, 5120u, 8192u}) {
    const auto resumed = trtest::ResumedRun(kAllTiffTypes, image.bytes(), 512, 8, stopAt);
    ASSERT_EQ(resumed.size(), 1u) << stopAt;
    EXPECT_EQ(resumed[0].size, 12000u) << stopAt;
    EXPECT_EQ(resumed[0].extension, "NEF") << stopAt;
    EXPECT_EQ(resumed[0].complete, 1u) << stopAt;
  }
}

TEST(Tiff, HostileDirectoriesEndWithinTheirBounds) {
  std::vector<Tiff> files;
  {  // a directory linked to itself, and two linked to each other
    Tiff t(false, 3000, 8);
    t.Ifd(8, {{0x0111, kLong, 1, 2000}, {0x0117, kLong, 1, 100}}, 8);
    files.push_back(t);
    Tiff u(false, 3000, 8);
    u.Ifd(8, {}, 500);
    u.Ifd(500, {}, 8);
    files.push_back(u);
  }
  {  // a cycle inside the cached first 64 KiB, reached from beyond it
    Tiff t(false, 70100, 70000);
    t.Ifd(100, {{0x8769, kLong, 1, 200}}, 200);
    t.Ifd(200, {{0x014A, kLong, 2, 300}}, 100);
    t.U32(300, 100).U32(304, 200);
    t.Ifd(70000, {{0x014A, kLong, 1, 100}}, 100);
    files.push_back(t);
  }
  {  // offsets past any end and huge counts
    Tiff t(true, 4000, 8);
    t.Ifd(8, {{0x0111, kLong, 0xFFFFFFFF, 600}, {0x0117, kLong, 0xFFFFFFFF, 700},
              {0x014A, kLong, 0xFFFFFFFF, 800}, {0x9000, kUndefined, 0xFFFFFFFF, 0xFFFFFFF0},
              {0x0201, kLong, 1, 0xFFFFFF00}, {0x0202, kLong, 1, 0xFFFFFF00}},
          0xFFFFFFF0);
    files.push_back(t);
    Tiff u(false, 4000, 8);
    u.U16(8, 0xFFFF);  // a directory far longer than the data
    files.push_back(u);
    Tiff v(false, 4000, 8);
    v.Ifd(8, {{0x010F, kAscii, 100000, 100}});  // make text over 512 bytes
    files.push_back(v);
  }
  for (size_t i = 0; i < files.size(); ++i) {
    const std::vector<uint8_t> image = Then(files[i].bytes, 300000, 0x00);
    for (uint32_t lookahead : {0u, 16u}) {
      const auto reports = ReportRun({{kTif, 1 << 20}}, image, 512, lookahead);
      ASSERT_EQ(reports.size(), 1u) << i;
      EXPECT_LE(reports[0].size, image.size()) << i;
    }
  }
  // The make text over 512 bytes ends the file at once, incomplete.
  const auto reports = ReportRun({{kTif}}, Then(files.back().bytes, 9000, 0), 512, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 512u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Tiff, RandomDirectoriesNeverReadOutsideTheStrips) {
  std::mt19937 random(11);
  for (int round = 0; round < 300; ++round) {
    const bool big = (round & 1) != 0;
    const size_t size = 300 + random() % 6000;
    Tiff t(big, size, 8 + random() % 64, static_cast<uint8_t>(random()));
    for (size_t i = 8; i < size; ++i) {
      if (random() % 3 == 0) t.bytes[i] = static_cast<uint8_t>(random() % 8);
    }
    // Plausible directories with random tags, types, counts and offsets.
    const uint16_t tags[] = {0x010F, 0x0111, 0x0117, 0x0144, 0x0145, 0x014A,
                             0x8769, 0x0201, 0x0202, 0x02BC, 0x0110};
    for (int d = 0; d < 3; ++d) {
      const size_t at = random() % (size - 100);
      std::vector<Entry> entries;
      for (int e = 0; e < 6; ++e) {
        entries.push_back({tags[random() % 11], static_cast<uint16_t>(1 + random() % 13),
                           static_cast<uint32_t>(random() % 40),
                           static_cast<uint32_t>(random() % (size + 200))});
      }
      t.Ifd(at, entries, static_cast<uint32_t>(random() % (size + 100)));
    }
    const uint32_t strip = 257 + static_cast<uint32_t>(random() % 1500);
    const uint32_t lookahead = static_cast<uint32_t>(random() % 40);
    uint32_t ended = 0;
    ReportRun(kAllTiffTypes, t.bytes, strip, lookahead, &ended);
    EXPECT_LE(ended, 1u);
  }
}
