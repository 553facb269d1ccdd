// The state file keeps the tool's JSON and the library's progress data
// apart and is replaced atomically; a resumed run takes the saved settings.
#include <gtest/gtest.h>

#include <filesystem>

#include "Platform.h"
#include "Scanner.h"
#include "StateFile.h"
#include "support/TestSupport.h"

using namespace trcli;

namespace {

// The smallest JSON a state file must hold.
nlohmann::json ValidInfo() {
  return {{"format", 2},
          {"command", "scan"},
          {"settings", {{"types", {"jpg"}}, {"block", 512}}},
          {"codes", {513}},
          {"source", {{"path", "disk.img"}, {"size", 4096}, {"prefix_length", 0}, {"prefix_sha256", ""}}},
          {"position", 1536},
          {"report_length", 0},
          {"stats", {{"bytes_scanned", 1536}, {"seconds", 0.5}, {"sessions", 1}, {"unhashed", 0},
                     {"extensions", {{"jpg", {1, 1, 0, 700, 0, 0}}}}}},
          {"pending", {{{"offset", 512}, {"size", 700}, {"type", 513}, {"ext", "jpg"}, {"complete", true},
                        {"path", ""}, {"lead_in", 0}, {"stream", 512}}}}};
}

bool WriteProgress(int fd) { return platform::WriteAll(fd, "\x01\x02\x00\x00", 4); }

}  // namespace

TEST(CliStateFile, ProgressFollowsTheJsonAndAFailedSaveKeepsThePreviousState) {
  trtest::TempDir dir;
  std::string path = dir.path() + "/state", error;
  // Linux paths need not be UTF-8: they come back byte for byte.
  nlohmann::json saved = ValidInfo();
  saved["source"]["path"] = "/data/\xFF\xFE" "disk";
  saved["settings"]["types"] = {"jpg", "x\x80"};
  ASSERT_TRUE(WriteStateFile(path, saved, WriteProgress, &error)) << error;
  nlohmann::json other = ValidInfo();
  other["position"] = 2;
  EXPECT_FALSE(WriteStateFile(path, other, [](int) { return false; }, &error));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  StateReader reader;
  ASSERT_TRUE(reader.Open(path, &error)) << error;
  EXPECT_EQ(reader.Info(), saved);
  char progress[5] = {};
  EXPECT_EQ(platform::Read(reader.Fd(), progress, 5), 4);
  EXPECT_EQ(0, memcmp(progress, "\x01\x02\x00\x00", 4));

  dir.Write("other", {'h', 'e', 'l', 'l', 'o'});
  for (const char* bad : {"other", "none"}) {
    StateReader damaged;
    EXPECT_FALSE(damaged.Open(dir.path() + "/" + bad, &error)) << bad;
  }
}

TEST(CliStateFile, EveryTruncationAndBitFlipIsCaughtAsDamage) {
  trtest::TempDir dir;
  std::string path = dir.path() + "/state", error;
  ASSERT_TRUE(WriteStateFile(path, ValidInfo(), WriteProgress, &error)) << error;
  const std::vector<uint8_t> good = trtest::ReadFile(path);
  // In memory every time; through a file (the reader the tool uses) for
  // every 16th case.
  size_t cases = 0;
  auto damagedAs = [&](const std::vector<uint8_t>& bytes) {
    nlohmann::json info;
    size_t at = 0;
    if (ParseStateBytes(bytes.data(), bytes.size(), &info, &at)) return false;
    if (cases++ % 16 != 0) return true;
    dir.Write("bad", bytes);
    StateReader reader;
    bool damaged = false;
    const bool opened = reader.Open(dir.path() + "/bad", &error, &damaged);
    return !opened && damaged && error.find("damaged state file") != std::string::npos;
  };
  for (size_t length = 0; length < good.size(); ++length)
    EXPECT_TRUE(damagedAs(std::vector<uint8_t>(good.begin(), good.begin() + length))) << "cut at " << length;
  for (size_t bit = 0; bit < good.size() * 8; ++bit) {
    std::vector<uint8_t> flipped = good;
    flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    EXPECT_TRUE(damagedAs(flipped)) << "bit " << bit;
  }
  // Lengths far beyond the file are refused before anything is allocated.
  std::vector<uint8_t> huge = good;
  for (size_t i = 12; i < 24; ++i) huge[i] = 0xFF;
  EXPECT_TRUE(damagedAs(huge));
}

TEST(CliStateFile, FieldsOfTheWrongTypeAreDamage) {
  const std::vector<std::pair<nlohmann::json::json_pointer, nlohmann::json>> wrong = {
      {"/position"_json_pointer, "1536"},        {"/position"_json_pointer, -1},
      {"/command"_json_pointer, 7},              {"/settings/block"_json_pointer, "512"},
      {"/settings/types"_json_pointer, {1, 2}},  {"/source/size"_json_pointer, nullptr},
      {"/stats/extensions/jpg"_json_pointer, {1, 2}}, {"/pending/0/offset"_json_pointer, 1.5},
      {"/pending/0/complete"_json_pointer, 1},   {"/format"_json_pointer, 1},
      {"/pending"_json_pointer, nlohmann::json::object()}};
  std::string which;
  EXPECT_TRUE(CheckStateInfo(ValidInfo(), &which)) << which;
  trtest::TempDir dir;
  for (const auto& change : wrong) {
    nlohmann::json info = ValidInfo();
    info[change.first] = change.second;
    EXPECT_FALSE(CheckStateInfo(info, &which)) << change.first.to_string();
    std::string path = dir.path() + "/state", error;
    ASSERT_TRUE(WriteStateFile(path, info, WriteProgress, &error)) << error;
    StateReader reader;
    bool damaged = false;
    EXPECT_FALSE(reader.Open(path, &error, &damaged)) << change.first.to_string();
    EXPECT_TRUE(damaged);
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
