// The state file keeps the tool's JSON and the library's progress data
// apart, is replaced atomically, and a resumed run refuses changed options.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

#include "Scanner.h"
#include "StateFile.h"
#include "support/TestSupport.h"

using namespace trcli;

TEST(CliStateFile, JsonThenProgressBytesReadBackAtTheRightPosition) {
  trtest::TempDir dir;
  std::string path = dir.path() + "/state";
  nlohmann::json info = {{"position", 1536}, {"command", "scan"}};
  std::string error;
  ASSERT_TRUE(WriteStateFile(path, info, [](int fd) { return ::write(fd, "\x01\x02\x00\x00", 4) == 4; }, &error))
      << error;
  EXPECT_NE(::access((path + ".tmp").c_str(), F_OK), 0);
  StateReader reader;
  ASSERT_TRUE(reader.Open(path, &error)) << error;
  EXPECT_EQ(reader.Info()["position"], 1536);
  char progress[5] = {};
  EXPECT_EQ(::read(reader.Fd(), progress, 5), 4);
  EXPECT_EQ(0, memcmp(progress, "\x01\x02\x00\x00", 4));
}

TEST(CliStateFile, FailedSaveKeepsThePreviousStateAndDamageIsReported) {
  trtest::TempDir dir;
  std::string path = dir.path() + "/state";
  std::string error;
  ASSERT_TRUE(WriteStateFile(path, {{"position", 1}}, [](int) { return true; }, &error));
  EXPECT_FALSE(WriteStateFile(path, {{"position", 2}}, [](int) { return false; }, &error));
  StateReader reader;
  ASSERT_TRUE(reader.Open(path, &error));
  EXPECT_EQ(reader.Info()["position"], 1);

  dir.Write("junk", {'T', 'R', 'S', 'T', 'A', 'T', 'E', '1', 200, 0, 0, 0, '{'});
  StateReader damaged;
  EXPECT_FALSE(damaged.Open(dir.path() + "/junk", &error));
  EXPECT_NE(error.find("damaged"), std::string::npos);
  dir.Write("other", {'h', 'e', 'l', 'l', 'o'});
  StateReader other;
  EXPECT_FALSE(other.Open(dir.path() + "/other", &error));
  StateReader missing;
  EXPECT_FALSE(missing.Open(dir.path() + "/none", &error));
}

TEST(CliRunOptions, ResumeTakesSavedSettingsAndRefusesConflictingOnes) {
  RunOptions saved;
  saved.mode = RunOptions::Mode::kCarve;
  saved.outputDir = "/out";
  saved.types = {"photos"};
  saved.block = 4096;
  saved.restrictedSize = 1u << 20;
  saved.offset = 512;

  RunOptions resumed;
  resumed.mode = RunOptions::Mode::kCarve;
  resumed.outputDir = "/out";
  resumed.given = {"output"};
  std::string error;
  ASSERT_TRUE(resumed.AdoptSettings(saved.Settings(), &error)) << error;
  EXPECT_EQ(resumed.types, saved.types);
  EXPECT_EQ(resumed.block, 4096u);
  EXPECT_EQ(resumed.restrictedSize, saved.restrictedSize);
  EXPECT_EQ(resumed.offset, 512u);
  EXPECT_FALSE(resumed.length);

  RunOptions conflicting;
  conflicting.mode = RunOptions::Mode::kCarve;
  conflicting.outputDir = "/out";
  conflicting.block = 512;
  conflicting.given = {"output", "block"};
  EXPECT_FALSE(conflicting.AdoptSettings(saved.Settings(), &error));
  EXPECT_NE(error.find("--block"), std::string::npos) << error;
}

TEST(CliRunOptions, DefaultStatePathsAndBlockSizes) {
  RunOptions carve;
  carve.mode = RunOptions::Mode::kCarve;
  carve.outputDir = "/data/out";
  EXPECT_EQ(carve.DefaultStatePath(), "/data/out/.typerecovery-state");
  RunOptions scan;
  scan.reportPath = "found.csv";
  EXPECT_EQ(scan.DefaultStatePath(), "found.csv.typerecovery-state");
  scan.reportPath = "-";
  EXPECT_EQ(scan.DefaultStatePath(), ".typerecovery-state");
  EXPECT_TRUE(IsValidBlock(512));
  EXPECT_TRUE(IsValidBlock(1u << 20));
  EXPECT_FALSE(IsValidBlock(256));
  EXPECT_FALSE(IsValidBlock(1536));
  EXPECT_FALSE(IsValidBlock(2u << 20));
}

TEST(CliRunStats, SummaryTotalsAndStatsSurviveTheStateFile) {
  RunStats stats;
  stats.byExtension["jpg"] = {2, 1, 1, 3000, 0};
  stats.byExtension["zip"] = {1, 1, 0, 100, 2};
  stats.bytesScanned = 1u << 20;
  stats.seconds = 0.5;
  stats.sessions = 2;
  RunStats back = RunStats::FromJson(stats.ToJson());
  EXPECT_EQ(back.Files(), 3u);
  EXPECT_EQ(back.byExtension["zip"].dropped, 2u);
  std::string summary = FormatSummary(back, "/out");
  std::istringstream total(summary.substr(summary.find("\ntotal ") + 1));
  std::string word;
  uint64_t files = 0, complete = 0, cut = 0;
  total >> word >> files >> complete >> cut;
  EXPECT_EQ(word, "total");
  EXPECT_EQ(files, 3u);
  EXPECT_EQ(complete, 2u);
  EXPECT_EQ(cut, 1u);
  EXPECT_NE(summary.find("2 more found file(s)"), std::string::npos);
  EXPECT_NE(summary.find("over 2 sessions"), std::string::npos);
  EXPECT_NE(summary.find("output: /out"), std::string::npos);
}
