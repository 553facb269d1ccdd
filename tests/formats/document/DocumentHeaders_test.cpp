// Header tests of the fixed-size, end-marker and open-ended document formats:
// single fields that must hold (or may vary), other spellings of accepted
// headers, and minimum lengths. That a plain file of each type passes is
// checked for every row in tests/verify.
#include <gtest/gtest.h>

#include "formats/document/CraftedDocuments.h"
#include "typerecovery.h"

namespace {

int32_t Verdict(std::vector<uint8_t> bytes, const char* extension, uint32_t length) {
  bytes.resize(std::max<size_t>(length, 512), 0x2E);
  return TypeRecovery_IsFileHeaderMatched(bytes.data(), length, trtest::U16(extension).c_str());
}

}  // namespace

TEST(DocumentHeaders, FieldsThatMustHoldAndThoseThatMayVary) {
  // The byte at "at" is set to value.
  struct Case { const char* extension; std::vector<uint8_t> file; size_t at; uint8_t value; int32_t verdict; };
  const Case cases[] = {
      {"cdr", crafted::Cdr(600), 8, 'c', 1},  // form type case ignored
      {"chm", crafted::Chm(600), 120, 'X', -1}, {"max", crafted::MaxPp(600), 5, 0x1B, -1},
      {"hlp", crafted::Hlp(600), 8, 0, -1}, {"one", crafted::One(600), 15, 0, -1},
      {"pst", crafted::Pst(23, 600), 15, 2, -1}, {"wpd", crafted::Wpd(600), 9, 0x2C, 1},
      {"wpd", crafted::Wpd(600), 9, 0x0B, -1},
      // The major version must be 0, 2, 3 or 4.
      {"wpd", crafted::Wpd(600), 10, 0, 1}, {"wpd", crafted::Wpd(600), 10, 1, -1},
      {"wpd", crafted::Wpd(600), 10, 3, 1}, {"wpd", crafted::Wpd(600), 10, 4, 1},
      {"wpd", crafted::Wpd(600), 10, 5, -1}, {"dex", crafted::Dex(600), 3, 0, -1},
      {"dex", crafted::Dex(0x10000), 34, 0, -1},  // a zero size
      {"dat", crafted::Dat(600), 26, '1', -1},    // version 5.2 only
      {"dat", crafted::Dat(0x10000), 30, 0, -1},  // a zero size
      {"mb", crafted::Mb(600), 12, 'f', 1},       // "mayafor4" case ignored
      {"mb", crafted::Mb(600), 15, '5', -1},
      {"drw", crafted::Drw(), 13, 'X', -1}, {"gho", crafted::Gho(), 12, 1, -1},  // "NG" at 12; u32 at 12 is 0
      {"qcd", crafted::Qcd(), 9, 'x', -1}, {"qcd", crafted::Qcd(), 15, 1, -1},  // version digits; byte 15 zero
      {"swi", crafted::Swi(), 22, 'y', -1}, {"gp5", crafted::Gp5(), 21, '4', -1},  // the "x" after the name; version 5 only
      {"exb", crafted::Exb(), 17, '!', -1}, {"vfb", crafted::Vfb(), 4, 0x32, -1},  // "s." at 16; version word
      {"dxf", crafted::Dxf(), 0, '1', -1}, {"dwg", crafted::Dwg(64), 5, '0', -1},  // "9" or space first; version digits
      {"oci", trtest::Bytes().Text("OPIM").U32LE(49), 0, 'O', -1},  // a 48-byte first body only
      // Other spellings of accepted headers.
      {"url", trtest::Bytes().Text("[{000214A0-0000-0000-C000-000000000046}]\r\nURL=x"), 0, '[', 1},
      {"dxf", trtest::Bytes().Text("999\ndxflib 3.17\n  0\nSECTION"), 0, '9', 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = c.file;
    bytes.resize(std::max<size_t>(bytes.size(), c.at + 1), 0x2E);
    bytes[c.at] = c.value;
    EXPECT_EQ(Verdict(bytes, c.extension, 512), c.verdict) << c.extension << " " << c.at << " " << int{c.value};
  }
}

TEST(DocumentHeaders, ShortestBuffersAccepted) {
  const std::vector<uint8_t> dbx = {0xCF, 0xAD, 0x12, 0xFE, 0x00};
  EXPECT_EQ(Verdict(dbx, "dbx", 5), 1);
  EXPECT_EQ(Verdict(dbx, "dbx", 4), -1);
  EXPECT_EQ(Verdict(crafted::Cdr(600), "cdr", 12), 1);
  EXPECT_EQ(Verdict(crafted::Oci({}), "oci", 56), 1);
}
