#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;
using trtest::Padded;
using trtest::ShortStripRun;

constexpr uint32_t kPsp = 1549, kEmf = 1560, kAbr = 1542;

Bytes PspHeader(uint16_t major) {
  Bytes b{'P', 'a', 'i', 'n', 't'};
  b.Text(" Shop Pro Image File\n\x1A").U8(0).Zeros(4).U16LE(major).U16LE(0);
  return b;
}

Bytes& PspBlock(Bytes& b, uint16_t id, uint32_t length) {
  return b.Text("~BK").U8(0).U16LE(id).U32LE(length).Fill(length, 0x42);
}

// EMF records: the 88-byte header record, then records of type and size.
Bytes EmfHeader() {
  Bytes b{1, 0, 0, 0};
  b.U32LE(88).Zeros(32).Text(" EMF").U32LE(0x10000).Zeros(40);
  return b;
}
Bytes& EmfRecord(Bytes& b, uint32_t type, uint32_t size) {
  b.U32LE(type).U32LE(size);
  return b.Fill(size >= 8 ? size - 8 : 0, 0x11);
}

Bytes AbrStart() {
  Bytes b{0, 6, 0, 2};
  b.Text("8BIMsamp").U32BE(300).Fill(300, 0x33);
  return b;
}

TEST(Psp, LastBlockFollowedByZerosEndsRightAfterItComplete) {
  Bytes b = PspHeader(6);
  PspBlock(b, 0, 46);
  PspBlock(b, 16, 700);
  const size_t size = b.size();
  for (uint32_t lookahead : {0u, 512u}) {
    const auto reports = ShortStripRun(kPsp, Padded(b, 1500), 512, 100, lookahead);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].size, size) << lookahead;
    EXPECT_EQ(reports[0].complete, 1u) << lookahead;
    EXPECT_FALSE(reports[0].hasPicture);
  }
}

TEST(Psp, BlockLengthThatWrapsAroundEndsTheFileIncompleteAtThatBlock) {
  Bytes b = PspHeader(6);
  PspBlock(b, 0, 46);
  b.Text("~BK").U8(0).U16LE(1).U32LE(0xFFFFFFF8).Zeros(600);
  const auto reports = ShortStripRun(kPsp, b, 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 36u + 56);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(Psp, HeaderNeedsMajorVersionAboveThree) {
  for (uint16_t major : {3, 4}) {
    Bytes b = PspHeader(major);
    b.Zeros(20);
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(b.data(), 51, u"psp"), major > 3 ? 1 : -1);
    EXPECT_EQ(TypeRecovery_IsFileHeaderMatched(b.data(), 50, u"psp"), -1);
  }
}

TEST(Emf, EndOfFileRecordAcrossAStripEndEndsAfterTheRecordComplete) {
  Bytes b = EmfHeader();
  EmfRecord(b, 39, 500);  // lands the end-of-file record across the 600 mark
  EmfRecord(b, 14, 20);
  ASSERT_EQ(b.size(), 608u);
  for (uint32_t lookahead : {0u, 4u, 512u}) {
    const auto reports = ShortStripRun(kEmf, Padded(b, 1000), 596, 100, lookahead);
    ASSERT_EQ(reports.size(), 1u) << lookahead;
    EXPECT_EQ(reports[0].size, 608u) << lookahead;
    EXPECT_EQ(reports[0].complete, 1u) << lookahead;
  }
}

TEST(Emf, RecordOfUnusedTypeEndsTheFileAtThatRecordIncomplete) {
  for (uint32_t type : {69u, 0u, 123u}) {
    Bytes b = EmfHeader();
    EmfRecord(b, 27, 40);
    EmfRecord(b, type, 40);
    const auto reports = ShortStripRun(kEmf, Padded(b, 600), 512, 512, 512);
    ASSERT_EQ(reports.size(), 1u) << type;
    EXPECT_EQ(reports[0].size, 128u) << type;
    EXPECT_EQ(reports[0].complete, 0u) << type;
  }
}

TEST(Emf, RecordOfNoSizeDiscardsTheFileInBothModes) {
  Bytes b = EmfHeader();
  EmfRecord(b, 27, 40);
  b.U32LE(14).U32LE(0).Zeros(900);
  EXPECT_TRUE(ShortStripRun(kEmf, b, 512, 512, 512).empty());

  // Folder mode: the file is deleted and its number given to the next file.
  Bytes next = EmfHeader();
  EmfRecord(next, 14, 20);
  std::vector<uint8_t> image = b;
  image.resize(1024, 0);
  image.insert(image.end(), next.vec().begin(), next.vec().end());
  image.resize(2048, 0);
  trtest::TempDir dir;
  trtest::FolderRun(dir, {{kEmf}}, image, 512, 512);
  EXPECT_EQ(dir.Files(), std::vector<std::string>{"emf/00000.emf"});
  EXPECT_EQ(dir.Read("emf/00000.emf"), std::vector<uint8_t>(next));
}

TEST(Abr, LastSectionFollowedByZerosEndsAfterItComplete) {
  Bytes b = AbrStart();
  b.Text("8BIMpatt").U32BE(0).Text("8BIMdesc").U32BE(90).Fill(90, 0x44);
  const size_t size = b.size();
  const auto reports = ShortStripRun(kAbr, Padded(b, 700), 200, 50, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, size);
  EXPECT_EQ(reports[0].complete, 1u);
}

TEST(Abr, SectionLengthThatWrapsAroundEndsTheFileIncomplete) {
  Bytes b = AbrStart();
  b.Text("8BIMpatt").U32BE(0xFFFFFFF5).Zeros(600);
  const auto reports = ShortStripRun(kAbr, b, 512, 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 4u + 312);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(RecordChains, NewHeaderCutsTheOpenFileIncompleteWithItsBytesTaken) {
  Bytes b = AbrStart();
  b.PadTo(512, 0);
  b.Raw({0, 6, 0, 2}).Text("8BIMsamp").U32BE(8).Fill(8, 1).Zeros(100);
  // The first brush set's walk waits for a section past the strip end.
  std::vector<uint8_t> image = b;
  image[4 + 312] = '8';
  image[4 + 313] = 'B';
  image[4 + 314] = 'I';
  image[4 + 315] = 'M';
  image[4 + 320] = 0x10;  // a 4 KiB section
  const auto reports = ShortStripRun(kAbr, image, 512, 512, 512);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].size, 512u);
  EXPECT_EQ(reports[0].complete, 0u);
  EXPECT_EQ(reports[1].start, 512u);
  EXPECT_EQ(reports[1].size, 24u);
  EXPECT_EQ(reports[1].complete, 1u);
}

}  // namespace
