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

TEST(EndMarker, CraftedFilesEndWhereTheirRulesSay) {
  Bytes entity;
  entity.Text("  0\r\nSECTION\r\n  1\r\nTEXT WITH EOF INSIDE\r\n");
  const std::vector<uint8_t> dxf = crafted::FillTo(entity, 900).Text("  0\r\nEOF\r\n");
  // "EOF" needs 5 readable bytes from its first byte; here it stands 3 bytes
  // before the strip's end.
  std::vector<uint8_t> guarded = Strip(Bytes().Text("  0\r\nSECTION\r\n"), 2048, 'd');
  std::copy_n("EOF", 3, guarded.begin() + 509);
  std::vector<crafted::Run> runs = {
      {"dxf: five bytes after the first EOF, even inside an entity", {{1546}},
       trtest::DiskImage().File(dxf).Random(2).bytes(), 512, 512, {{0, std::string(dxf.begin(), dxf.end()).find("EOF") + 5, 1}}},
      {"guard bytes beyond the strip", {{1546}}, guarded, 512, 0, {{0, 2048, 0}}},
      {"guard bytes in the lookahead", {{1546}}, guarded, 512, 16, {{0, 514, 1}}},
      {"no marker: cut at the first strip at the maximum", {{1559, 2000}}, Strip(Strip(crafted::Pzf(), 600), 6000, 'p'),
       512, 512, {{0, 2048, 0}}},
  };
  // A new header cuts the file in progress, complete only for fonts and
  // projects.
  const std::tuple<uint32_t, std::vector<uint8_t>, uint32_t> cut[] = {
      {2318, crafted::Pfb(), 1}, {1041, crafted::Swi(), 1}, {1546, crafted::Dxf(), 0}, {1568, crafted::Vfb(), 0}};
  for (const auto& [code, file, cutComplete] : cut) {
    std::vector<uint8_t> image = Strip(Strip(file, 700), 1024, 'q');  // cut before its marker
    image.insert(image.end(), file.begin(), file.end());
    runs.push_back({"new header", {{code}}, Strip(image, 4096, 0), 512, 512, {{0, 1024, cutComplete}, {1024, file.size(), 1}}});
  }
  crafted::ExpectRuns(runs);
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

TEST(EndMarker, SomeEndsAreHandedToTheHostEvenInFolderMode) {
  // The host has no callback and answers 0 to the formats that report.
  trtest::TempDir dir;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(0, nullptr, dir.root().c_str());
  const std::u16string rootText = dir.root();
  struct Case { std::unique_ptr<CTypeRecovery> recognizer; std::vector<uint8_t> file; uint32_t folderValue; };
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
