// The state file keeps the tool's JSON and the library's progress data
// apart and is replaced atomically; a resumed run takes the saved settings.
#include <gtest/gtest.h>

#include <filesystem>

#include "Platform.h"
#include "Scanner.h"
#include "StateFile.h"
#include "support/TestSupport.h"

using namespace trcli;

TEST(CliStateFile, ProgressFollowsTheJsonAndAFailedSaveKeepsThePreviousState) {
  trtest::TempDir dir;
  std::string path = dir.path() + "/state", error;
  ASSERT_TRUE(WriteStateFile(path, {{"position", 1536}}, [](int fd) { return platform::WriteAll(fd, "\x01\x02\x00\x00", 4); },
                             &error)) << error;
  EXPECT_FALSE(WriteStateFile(path, {{"position", 2}}, [](int) { return false; }, &error));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  StateReader reader;
  ASSERT_TRUE(reader.Open(path, &error)) << error;
  EXPECT_EQ(reader.Info()["position"], 1536);
  char progress[5] = {};
  EXPECT_EQ(platform::Read(reader.Fd(), progress, 5), 4);
  EXPECT_EQ(0, memcmp(progress, "\x01\x02\x00\x00", 4));

  dir.Write("junk", {'T', 'R', 'S', 'T', 'A', 'T', 'E', '1', 200, 0, 0, 0, '{'});
  dir.Write("other", {'h', 'e', 'l', 'l', 'o'});
  for (const char* bad : {"junk", "other", "none"}) {
    StateReader damaged;
    EXPECT_FALSE(damaged.Open(dir.path() + "/" + bad, &error)) << bad;
  }
}

TEST(CliRunOptions, ResumeTakesTheSavedSettings) {
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
}
