// End to end: the layered pictures, icons, metafiles, brushes, raw images and
// design files of tests/data/image/make_layered_icons_metafiles.sh placed in
// one synthetic disk image among random and zero filler, carved in report
// and folder mode and checked file by file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Carving.h"
#include "typerecovery.h"

using trtest::DiskImage;

namespace {

const std::vector<trtest::AddedType> kTypes = {{1541}, {1549}, {1540}, {524},  {525}, {1560},
                                                {1542}, {1567}, {1563}, {1564}, {1565}};

struct Carved {
  std::string fixture;
  std::string extension;
  size_t size;  // bytes of the fixture that make up the carved file
  uint32_t width = 0, height = 0;
  bool picture = false;
};

std::vector<Carved> Expected() {
  return {
      {"layered.psd", "psd", 0, 40, 30, true},
      {"sample.psp", "psp", 0},
      {"icons.ico", "ico", 0, 32, 32, true},
      {"raw.psd", "psd", 0, 24, 20, true},
      {"sample.crw", "crw", 0},
      {"drawing.emf", "emf", 0},
      {"sample.x3f", "x3f", 0},
      {"brushes.abr", "abr", 0},
      // The end scan stops at the first end-of-file record pattern; in this
      // LibreOffice metafile it stands in the header of the embedded copy of
      // the drawing that a comment record carries.
      {"drawing.wmf", "wmf", 146},
      {"board.pcb", "pcb", 0},
      {"design.tpf", "tpf", 0},
      {"design.gjd", "gjd", 0},
  };
}

struct Scene {
  std::vector<Carved> files = Expected();
  std::vector<std::vector<uint8_t>> bytes;
  DiskImage image{41};

  Scene() {
    image.Random(2);
    for (Carved& c : files) {
      bytes.push_back(trtest::Fixture("image", c.fixture));
      if (c.size == 0) c.size = bytes.back().size();
      image.File(bytes.back()).Random(1).Zeros(1);
    }
  }
};

std::string Name(const std::string& extension, int number) {
  char name[32];
  std::snprintf(name, sizeof name, "%s/%05d.%s", extension.c_str(), number, extension.c_str());
  return name;
}

TEST(LayeredIconsMetafiles, ReportModeFindsEveryFileAtItsOffsetWithItsSize) {
  const Scene scene;
  for (uint32_t lookahead : {512u, 0u}) {
    const std::vector<trtest::Report> reports =
        trtest::ReportRun(kTypes, scene.image.bytes(), 512, lookahead);
    ASSERT_EQ(reports.size(), scene.files.size()) << "lookahead " << lookahead;
    for (size_t i = 0; i < reports.size(); ++i) {
      const Carved& c = scene.files[i];
      SCOPED_TRACE(c.fixture + " lookahead " + std::to_string(lookahead));
      EXPECT_EQ(reports[i].extension, c.extension);
      EXPECT_EQ(reports[i].start, scene.image.offsets()[i]);
      EXPECT_EQ(reports[i].size, c.size);
      EXPECT_EQ(reports[i].complete, 1u);
      EXPECT_EQ(reports[i].hasPicture, c.picture);
      if (c.picture) {
        EXPECT_EQ(reports[i].picture.width, c.width);
        EXPECT_EQ(reports[i].picture.height, c.height);
      }
    }
  }
}

TEST(LayeredIconsMetafiles, FolderModeWritesByteIdenticalFilesUnderTheirNames) {
  const Scene scene;
  trtest::TempDir dir;
  uint32_t errorFlag = 0;
  trtest::FolderRun(dir, kTypes, scene.image.bytes(), 512, 512, &errorFlag);
  EXPECT_EQ(errorFlag, 0u);
  int psd = 0;
  std::vector<std::string> expectedNames;
  for (size_t i = 0; i < scene.files.size(); ++i) {
    const Carved& c = scene.files[i];
    const std::string name = Name(c.extension, c.extension == "psd" ? psd++ : 0);
    expectedNames.push_back(name);
    const std::vector<uint8_t> want(scene.bytes[i].begin(),
                                    scene.bytes[i].begin() + static_cast<long>(c.size));
    EXPECT_EQ(dir.Read(name), want) << name;
  }
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(dir.Files(), expectedNames);
}

TEST(LayeredIconsMetafiles, ScanResumedFromAProgressFileEndsAsAnUninterruptedOne) {
  const Scene scene;
  const std::vector<trtest::Report> whole =
      trtest::ReportRun(kTypes, scene.image.bytes(), 512, 512);
  // Pause inside every file in turn: a few bytes past each file's start.
  for (size_t i = 0; i < scene.files.size(); ++i) {
    const size_t stopAt = scene.image.offsets()[i] + 512;
    const std::vector<trtest::Report> resumed =
        trtest::ResumedRun(kTypes, scene.image.bytes(), 512, 512, stopAt);
    ASSERT_EQ(resumed.size(), whole.size()) << scene.files[i].fixture;
    for (size_t k = 0; k < whole.size(); ++k) {
      EXPECT_EQ(resumed[k].start, whole[k].start) << scene.files[i].fixture;
      EXPECT_EQ(resumed[k].size, whole[k].size) << scene.files[i].fixture;
      EXPECT_EQ(resumed[k].complete, whole[k].complete) << scene.files[i].fixture;
    }
  }
}

TEST(LayeredIconsMetafiles, EveryTypeAddedFindsTheSameFiles) {
  // The header pass asks the prototypes in priority order: no other format
  // claims these files' first strips, and none of theirs cuts them.
  const Scene scene;
  trtest::ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
  TypeRecovery_AddAllTypes(m);
  trtest::FeedImage(m, scene.image.bytes(), 512, 512);
  TypeRecovery_CloseManager(m);
  ASSERT_EQ(log.reports.size(), scene.files.size());
  for (size_t i = 0; i < log.reports.size(); ++i) {
    EXPECT_EQ(log.reports[i].extension, scene.files[i].extension);
    EXPECT_EQ(log.reports[i].start, scene.image.offsets()[i]);
    EXPECT_EQ(log.reports[i].size, scene.files[i].size);
    EXPECT_EQ(log.reports[i].complete, 1u);
  }
}

}  // namespace
