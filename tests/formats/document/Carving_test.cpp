// End to end: files made by real tools (see tests/data/document/
// make_archives_text_exe.sh) carved from a synthetic disk image in folder
// and report mode.
#include <gtest/gtest.h>

#include "support/Carving.h"

using trtest::DiskImage;
using trtest::Fixture;
using trtest::FolderRun;
using trtest::ReportRun;

namespace {

struct Case {
  const char* fixture;
  const char* output;  // where folder mode writes it
  size_t tail;         // bytes after the file that its end rule takes (zeros here)
};

// HTML keeps two bytes (8-bit) or two units (UTF-16) after its closing tag.
const Case kCases[] = {
    {"sample.pdf", "pdf/00000.pdf", 0},
    {"sample-update.pdf", "pdf/00001.pdf", 0},
    {"sample.rar", "rar/00000.rar", 0},
    {"sample.7z", "7z/00000.7z", 0},
    {"sample.cab", "cab/00000.cab", 0},
    {"sample.rtf", "rtf/00000.rtf", 0},
    {"sample.html", "htm/00000.htm", 2},
    {"sample-utf16le.html", "htm/00001.htm", 4},
    {"sample-utf16be.html", "htm/00002.htm", 4},
    {"sample.mht", "mht/00000.mht", 0},
    {"sample.exe", "exe/00000.exe", 0},
    {"sample.dll", "dll/00001.dll", 0},  // numbered as the second exe, then renamed
};

const std::vector<trtest::AddedType> kTypes = {{276},  {1794}, {1795}, {1797}, {280},
                                                {1281}, {282},  {2319}, {2322}};

std::vector<uint8_t> Expected(const Case& c) {
  std::vector<uint8_t> bytes = Fixture("document", c.fixture);
  bytes.resize(bytes.size() + c.tail, 0);
  return bytes;
}

DiskImage BuildImage() {
  DiskImage image;
  image.Random(3);
  bool zeros = false;
  for (const Case& c : kCases) {
    image.File(Fixture("document", c.fixture));
    zeros ? image.Zeros(2) : image.Random(5);
    zeros = !zeros;
  }
  return image;
}

}  // namespace

TEST(DocumentCarving, FolderModeWritesEachFileByteForByteUnderItsExtension) {
  const DiskImage image = BuildImage();
  trtest::TempDir dir;
  uint32_t error = 0;
  FolderRun(dir, kTypes, image.bytes(), 512, 512, &error);
  EXPECT_EQ(error, 0u);
  std::vector<std::string> wanted;
  for (const Case& c : kCases) {
    wanted.push_back(c.output);
    EXPECT_EQ(dir.Read(c.output), Expected(c)) << c.fixture;
  }
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(dir.Files(), wanted);
}

TEST(DocumentCarving, ReportModeGivesOffsetsSizesAndCompleteFlags) {
  const DiskImage image = BuildImage();
  const auto reports = ReportRun(kTypes, image.bytes(), 512, 512);
  ASSERT_EQ(reports.size(), std::size(kCases));
  for (size_t i = 0; i < reports.size(); ++i) {
    const Case& c = kCases[i];
    SCOPED_TRACE(c.fixture);
    EXPECT_EQ(reports[i].start, image.offsets()[i]);
    EXPECT_EQ(reports[i].size, Expected(c).size());
    EXPECT_EQ(reports[i].complete, 1u);
    const std::string output = c.output;
    EXPECT_EQ(reports[i].extension, output.substr(output.rfind('.') + 1));
  }
}

TEST(DocumentCarving, LargerStripsWithoutLookaheadStillFindTheSizedFormats) {
  // 4096-byte strips: each fixture starts a strip of its own.
  DiskImage image;
  for (const char* name : {"sample.7z", "sample.cab", "sample.rar", "sample.exe"}) {
    const std::vector<uint8_t> file = Fixture("document", name);
    image.File(file).Random(8 - (file.size() + 511) / 512 % 8);
    while (image.bytes().size() % 4096 != 0) image.Zeros(1);
  }
  const auto reports = ReportRun(kTypes, image.bytes(), 4096, 0);
  ASSERT_EQ(reports.size(), 4u);
  const char* names[] = {"sample.7z", "sample.cab", "sample.rar", "sample.exe"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(reports[i].size, Fixture("document", names[i]).size()) << names[i];
    EXPECT_EQ(reports[i].complete, 1u) << names[i];
  }
}
