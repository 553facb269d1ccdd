// TIFF and camera raw: the streaming directory walk (strips after the
// directory, directories beyond the cached first 64 KiB), sub-types by make
// and magic with their enable flags, maxima and trailers, picture records,
// progress and hostile directories.
#include <gtest/gtest.h>

#include "formats/image/TIFF.h"
#include "support/CarvingCases.h"

using trtest::AddedType;
using trtest::Bytes;
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

// A TIFF file image written field by field in its own byte order.
struct Tiff {
  Tiff(bool bigEndian, size_t size, uint32_t firstDirectory, uint8_t filler = 0x77)
      : big(bigEndian), bytes(size, filler) {
    std::fill(bytes.begin(), bytes.begin() + std::min<size_t>(16, size), 0);
    Text(0, bigEndian ? "MM" : "II").U16(2, 42).U32(4, firstDirectory);
  }
  Tiff& U16(size_t at, uint16_t v) {
    bytes[at + (big ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
    bytes[at + (big ? 1 : 0)] = static_cast<uint8_t>(v);
    return *this;
  }
  Tiff& U32(size_t at, uint32_t v) {
    const auto high = static_cast<uint16_t>(v >> 16), low = static_cast<uint16_t>(v);
    return big ? U16(at, high).U16(at + 2, low) : U16(at, low).U16(at + 2, high);
  }
  Tiff& Text(size_t at, const std::string& t) {
    std::copy(t.begin(), t.end(), bytes.begin() + static_cast<long>(at));
    return *this;
  }
  // A directory at `at`; answers the offset just past its link.
  size_t Ifd(size_t at, const std::vector<Entry>& entries, uint32_t next = 0) {
    U16(at, static_cast<uint16_t>(entries.size()));
    size_t p = at + 2;
    for (const Entry& e : entries) {
      U16(p, e.tag).U16(p + 2, e.type).U32(p + 4, e.count).U32(p + 8, 0);
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
  bool big;
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

std::vector<trtest::CarvingCase> Cases() {
  std::vector<trtest::CarvingCase> cases;
  auto add = [&cases](const std::string& what, const std::vector<AddedType>& types,
                      const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead,
                      const std::vector<trtest::Expected>& files, size_t pauseAt = 0) {
    cases.push_back({what, types, image, files, strip, strip, lookahead, pauseAt});
  };
  // Big-endian, directory at 8; offsets (LONG) and byte counts (SHORT) out of
  // line right after it; three strips, the last one the furthest although
  // listed first.
  Tiff stripsAfter(true, 5000, 8);
  EXPECT_LT(
      stripsAfter.Ifd(8, {{0x100, kShort, 1, 40}, {0x111, kLong, 3, 300}, {0x117, kShort, 3, 312}}),
      300u);
  stripsAfter.U32(300, 4000).U32(304, 1000).U32(308, 2500);
  stripsAfter.U16(312, 1000).U16(314, 1500).U16(316, 900);
  for (uint32_t strip : {257u, 512u, 700u, 8192u}) {
    for (uint32_t lookahead : {0u, 64u}) {
      add("strips after the directory", {kTif}, Then(stripsAfter.bytes, 3000, 0x5A),
          strip, lookahead, {{5000, 1, -1, -1, "TIF"}});
    }
  }
  // The pixel strips and the out-of-line values come first; the directory,
  // at 70000, refers back into the first 64 KiB for its strips and make.
  Tiff late(false, 70000, 70000);
  late.U32(100, 2000).U32(104, 30000).U32(108, 66000);  // strip offsets
  late.U32(120, 28000).U32(124, 36000).U32(128, 3900);  // byte counts
  late.Text(140, std::string("sony") + '\0').bytes.resize(70000 + 2 + 4 * 12 + 4);
  late.Ifd(70000, {{0x010F, kAscii, 5, 140}, {0x0111, kLong, 3, 100}, {0x0117, kLong, 3, 120},
                   {0x0131, kAscii, 30, 1000}});
  add("directory past 64 KiB", kAllTiffTypes, Then(late.bytes, 5000, 0x11), 4096, 16,
      {{late.bytes.size(), 1, -1, -1, "SR2"}});
  // A CR2 (marker at byte 8, directory moved to 16) followed by a Canon
  // optional-data block of 92 + 500 bytes.
  Tiff cr2 = WithMake(false, "Canon EOS 5D", 3000);
  cr2.Text(8, std::string("CR\x02\x00", 4)).U32(4, 16);
  cr2.Ifd(16, {{0x010F, kAscii, 13, 200}, {0x0111, kLong, 1, 1024}, {0x0117, kLong, 1, 1976}});
  const std::vector<uint8_t> withTrailer =
      Bytes().Raw(cr2.bytes).Text("CANON OPTIONAL DATA").Zeros(5).U32BE(500).PadTo(3592, 0x42);
  for (uint32_t strip : {512u, 1000u}) {
    add("cr2 trailer", kAllTiffTypes, Then(withTrailer, 2000, 0x99), strip, 64,
        {{withTrailer.size(), 1, -1, -1, "CR2"}});
  }
  // Make and magic decide the sub-type, ignoring case; ORF and RAW files
  // carry a trailer.
  struct SubType {
    const char* magic;
    const char* make;
    const char* extension;
    size_t trailer;
    bool xmp = false;
  };
  for (const SubType& c : std::vector<SubType>{
           {"II*\x00", "sony", "SR2", 0},         {"II*\x00", "SoNy", "SR2", 0},
           {"II*\x00", "SONY DSC-R1", "ARW", 0},  {"II*\x00", "SONYX", "TIF", 0},
           {"MM\x00*", "nikon corporation", "NEF", 0}, {"II*\x00", "NIKON", "TIF", 0},
           {"MM\x00*", "PENTAX", "PEF", 0},       {"MM\x00*", "Mamiya", "MEF", 0},
           {"II*\x00", "Canon", "DNG", 0},        {"MM\x00*", "RICOH", "DNG", 0},
           {"IIRO", "OLYMPUS", "ORF", 0},         {"IIRS", "Olympus", "ORF", 8192},
           {"IIU\x00", "Panasonic", "RAW", 82},   {"MM\x00*", "SONY", "TIF", 0},
           {"MM\x00*", "NIKON", "DNG", 0, true},  // an XMP packet makes a DNG
       }) {
    Tiff t = WithMake(c.magic[0] == 'M', c.make, 1500, c.xmp);
    t.Text(0, std::string(c.magic, 4));
    add(std::string(c.magic, 4) + " " + c.make, kAllTiffTypes,
        Then(t.bytes, 10000, 0x44), 512, 32,
        {{t.bytes.size() + c.trailer, 1, -1, -1, c.extension}});
  }
  // A sub-type's maximum ends the file incomplete; the TIFF maximum is the
  // class's own.
  add("nef maximum", {{516, 4000}, {514}},
      Then(WithMake(true, "NIKON D3", 20000).bytes, 1000, 3), 1024, 0,
      {{4096, 0, -1, -1, "NEF"}});
  add("tif maximum", {{514, 2048}}, Then(WithMake(false, "x", 20000).bytes, 10, 3),
      1024, 0, {{2048, 0, -1, -1, "TIF"}});
  // A new header cuts the open file with its sub-type and bytes taken.
  add("cut by a new header", kAllTiffTypes,
      Then(Bytes().Raw(trtest::Prefix(WithMake(true, "PENTAX K-1", 9000).bytes, 1024))
               .Raw(WithMake(false, "plain", 3000).bytes),
           700, 8),
      512, 0, {{1024, 0, 0, -1, "PEF"}, {3000, 1, -1, -1, "TIF"}});
  // With only CR2 enabled, a plain TIFF and a NEF are discarded.
  add("only cr2 enabled", {515},
      trtest::DiskImage().File(WithMake(false, "Unknown maker", 3000).bytes).Random(2)
          .File(WithMake(true, "NIKON D3", 3000).bytes).Random(2).bytes(),
      512, 0, {});
  // Paused with a pending directory, arrays and make text at each save.
  Tiff pending(true, 12000, 8);
  pending.Ifd(8, {{0x010F, kAscii, 9, 5000}, {0x0111, kLong, 2, 2100}, {0x0117, kLong, 2, 2108},
                  {0x014A, kLong, 2, 3000}},
              7000);
  pending.Text(5000, std::string("NIKON D5") + '\0');
  pending.U32(2100, 9000).U32(2104, 10000).U32(2108, 1000).U32(2112, 2000);
  pending.U32(3000, 4000).U32(3004, 4100);
  pending.Ifd(4000, {{0x0111, kLong, 1, 11000}, {0x0117, kLong, 1, 500}});
  pending.Ifd(4100, {});
  pending.Ifd(7000, {});
  const std::vector<uint8_t> disk =
      trtest::DiskImage().Random(1).File(pending.bytes).Random(3).bytes();
  for (size_t pauseAt : {0u, 1024u, 2560u, 3584u, 5120u, 8192u}) {
    add("pending directories", kAllTiffTypes, disk, 512, 8, {{12000, 1, -1, -1, "NEF"}}, pauseAt);
  }
  return cases;
}

TEST(Tiff, EachFileEndsWithItsSubType) {
  for (const trtest::CarvingCase& c : Cases()) trtest::ExpectCarving(c);
}

TEST(Tiff, DiscardedFilesLeaveNothingAndTheirNumbersAreGivenAgain) {
  Tiff plain = WithMake(false, "Unknown maker", 3000);
  Tiff nef = WithMake(true, "NIKON D3", 3000);
  DiskImage image;
  image.File(plain.bytes).Random(2).File(nef.bytes).Random(2);

  trtest::TempDir dir;
  FolderRun(dir, {{515}}, image.bytes(), 512, 0);
  EXPECT_TRUE(dir.Files().empty());

  // With NEF enabled instead, the number the discarded TIFF had is given again.
  trtest::TempDir nefDir;
  FolderRun(nefDir, {{516}}, image.bytes(), 512, 0);
  ASSERT_EQ(nefDir.Files(), std::vector<std::string>{"NEF/00000.NEF"});
  EXPECT_EQ(nefDir.Read("NEF/00000.NEF"), nef.bytes);
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
