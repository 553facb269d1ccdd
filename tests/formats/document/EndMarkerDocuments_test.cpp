// The end-marker cycle: markers, their guard bytes, parts cut to what is
// readable, maxima and new headers; and the formats whose end is handed to
// the host even in folder mode.
#include <gtest/gtest.h>

#include <memory>

#include "formats/document/CraftedDocuments.h"
#include "formats/document/EndMarkerDocuments.h"
#include "formats/document/FixedSizeDocuments.h"
#include "support/Carving.h"
#include "typerecovery.h"

using trtest::Bytes;
using trtest::ReportRun;

namespace {

std::vector<uint8_t> Strip(std::vector<uint8_t> bytes, size_t size, uint8_t fill = 0x2E) {
  bytes.resize(size, fill);
  return bytes;
}

}  // namespace

TEST(EndMarker, DxfEndsFiveBytesAfterTheFirstEofEvenInsideAnEntity) {
  Bytes b;
  b.Text("  0\r\nSECTION\r\n  1\r\nTEXT WITH EOF INSIDE\r\n");
  const std::vector<uint8_t> file = crafted::FillTo(b, 900).Text("  0\r\nEOF\r\n");
  const auto reports = ReportRun({{1546}}, trtest::DiskImage().File(file).Random(2).bytes(), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, std::string(file.begin(), file.end()).find("EOF") + 5);
}

TEST(EndMarker, MarkerIsFoundOnlyWithItsGuardBytesReadable) {
  // "EOF" needs 5 readable bytes from its first byte; it stands 3 bytes
  // before the strip's end: without lookahead the file goes on to the flush,
  // with it the marker ends the file in that strip.
  std::vector<uint8_t> image = Strip(Bytes().Text("  0\r\nSECTION\r\n"), 2048, 'd');
  image[509] = 'E';
  image[510] = 'O';
  image[511] = 'F';
  const std::tuple<uint32_t, uint64_t, uint32_t> cases[] = {{0, 2048, 0}, {16, 514, 1}};
  for (const auto& [lookahead, size, complete] : cases) {
    const auto reports = ReportRun({{1546}}, image, 512, lookahead);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].size, size);
    EXPECT_EQ(reports[0].complete, complete);
  }
}

TEST(EndMarker, PartReachingPastTheLookaheadIsCutToWhatIsReadable) {
  // The disk-image closing record is taken with 28 bytes but found with 12.
  std::vector<uint8_t> strip = Strip(crafted::Gho(), 480, 'g');
  const std::vector<uint8_t> close = Bytes{0x2F, 0x01, 0x18, 0x00}.Zeros(8).Fill(20, 0x77);
  strip.insert(strip.end(), close.begin(), close.end());  // marker at 480
  uint32_t error = 0;
  CTypeRecoveryGHO r(nullptr, nullptr);
  EXPECT_EQ(r.Analyse(0, strip.data(), 490, 2, 0, &error), 0u);  // 480 + 12 not readable
  EXPECT_TRUE(r.IsFileInProgress());
  EXPECT_EQ(r.GetBytesWritten(), 490u);
  CTypeRecoveryGHO s(nullptr, nullptr);
  EXPECT_EQ(s.Analyse(0, strip.data(), 490, 13, 0, &error), 1u);
  EXPECT_EQ(s.GetBytesWritten(), 503u);  // 480 + 28, cut to the 503 readable bytes
}

TEST(EndMarker, FileWithoutMarkerIsCutAtTheFirstStripAtItsMaximum) {
  const auto reports = ReportRun({{1559, 2000}}, Strip(Strip(crafted::Pzf(), 600), 6000, 'p'), 512, 512);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].size, 2048u);
  EXPECT_EQ(reports[0].complete, 0u);
}

TEST(EndMarker, NewHeaderCutsTheFileInProgressCompleteOnlyForFontsAndProjects) {
  const std::tuple<uint32_t, std::vector<uint8_t>, uint32_t> cases[] = {
      {2318, crafted::Pfb(), 1}, {1041, crafted::Swi(), 1}, {1546, crafted::Dxf(), 0}, {1568, crafted::Vfb(), 0}};
  for (const auto& [code, file, cutComplete] : cases) {
    SCOPED_TRACE(code);
    std::vector<uint8_t> image = Strip(Strip(file, 700), 1024, 'q');  // cut before its marker
    image.insert(image.end(), file.begin(), file.end());
    const auto reports = ReportRun({{code}}, Strip(image, 4096, 0), 512, 512);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].size, 1024u);
    EXPECT_EQ(reports[0].complete, cutComplete);
    EXPECT_EQ(reports[1].start, 1024u);
    EXPECT_EQ(reports[1].size, file.size());
    EXPECT_EQ(reports[1].complete, 1u);
  }
}

TEST(EndMarker, SomeEndsAreHandedToTheHostEvenInFolderMode) {
  // The host has no callback and answers 0 to the formats that report.
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  const std::u16string rootText = dir.root();
  struct Case {
    std::unique_ptr<CTypeRecovery> recognizer;
    std::vector<uint8_t> file;
    uint32_t folderValue;
  };
  Case cases[] = {{std::make_unique<CTypeRecoveryCHM>(m, rootText.c_str()), crafted::Chm(300), 0},
                  {std::make_unique<CTypeRecoveryHLP>(m, rootText.c_str()), crafted::Hlp(300), 9},
                  {std::make_unique<CTypeRecoveryGHO>(m, rootText.c_str()), crafted::Gho(), 0},
                  {std::make_unique<CTypeRecoveryVFB>(m, rootText.c_str()), crafted::Vfb(), 9}};
  for (Case& c : cases) {
    const std::vector<uint8_t> strip = Strip(c.file, 2048, 0);
    uint32_t error = 0;
    c.recognizer->SetTypeFolderValue(9);
    EXPECT_EQ(c.recognizer->Analyse(0, strip.data(), 2048, 0, 0, &error), 1u);
    EXPECT_EQ(c.recognizer->GetTypeFolderValue(), c.folderValue);
    EXPECT_EQ(error, 0u);
  }
  for (Case& c : cases) c.recognizer.reset();
  TypeRecovery_CloseManager(m);
}
