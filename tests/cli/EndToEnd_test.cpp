// The built typerecovery tool, run as a user runs it: on the sample image
// and on images made from it, checking carved bytes, reports in all three
// formats, hashes, exit statuses, interruption and resume, and a full disk.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <map>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "Hasher.h"
#include "Platform.h"
#include "StateFile.h"
#include "Text.h"
#include "TypeCatalog.h"
#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

using namespace trclitest;
using nlohmann::json;

namespace {

const std::string kSample = std::string(TYPERECOVERY_SAMPLES) + "/sample.img";
constexpr uint64_t kPhotoOffset = 32768;
constexpr uint64_t kPhotoSize = 15743;

bool LibraryHas(uint32_t code) { return trcli::TypeCatalog::FromLibrary().Find(code) != nullptr; }

std::vector<json> ParseJsonLines(const std::string& text) {
  std::vector<json> records;
  for (const std::string& line : trcli::SplitList(text, "\n")) records.push_back(json::parse(line));
  return records;
}

// Records of a quiet scan of the sample (or of stdin) with extra arguments.
std::vector<json> Scan(std::vector<std::string> args, const std::string& stdinPath = "") {
  args.insert(args.begin(), {"scan", stdinPath.empty() ? kSample : "-", "-q"});
  ToolResult result = RunTool(args, stdinPath);
  EXPECT_EQ(result.status, 0) << result.err;
  return ParseJsonLines(result.out);
}

// Checks that every reported file was carved byte for byte into its
// extension's folder; answers how many reported files had no such copy.
// (Windows has no small disk to fill, the one test that uses it.)
[[maybe_unused]] size_t CountMissingCopies(const std::vector<json>& records, const std::string& source,
                                           const std::string& outDir) {
  auto tree = CarvedTree(outDir);
  size_t missing = 0;
  for (const json& record : records) {
    std::vector<uint8_t> bytes = ReadBytes(source, record["offset"], record["size"]);
    std::string folder = record["extension"].get<std::string>() + "/";
    bool found = false;
    for (const auto& file : tree)
      found = found || (file.first.rfind(folder, 0) == 0 && file.second == bytes);
    if (!found) ++missing;
  }
  return missing;
}

// The sample, 12 MiB of zeros, pseudo-random sectors, the sample again.
std::vector<uint8_t> LongImage() {
  std::vector<uint8_t> sample = ReadBytes(kSample);
  std::vector<uint8_t> image = sample;
  image.resize(image.size() + (12u << 20), 0);
  uint32_t state = 12345;
  for (int i = 0; i < 64 * 512; ++i) {
    state = state * 1103515245u + 12345u;
    image.push_back(i % 512 == 0 ? 0x2E : static_cast<uint8_t>(state >> 24));
  }
  image.insert(image.end(), sample.begin(), sample.end());
  return image;
}

// Whether a stop request reaches the tool: Wine sends no console Ctrl
// events to another process.
bool CtrlEvents() {
#if defined(_WIN32)
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
#else
  return true;
#endif
}

}  // namespace

TEST(CliTool, UsageSourceAndOutputErrorsHaveDistinctStatuses) {
  trtest::TempDir dir;
  // Bad option values; --offset 100 is not on a block boundary, 20000000T overflows.
  const std::vector<std::vector<std::string>> bad = {
      {"--block", "1000"}, {"--types", "nosuchtype"}, {"--types", ""}, {"--format", "xlsx"}, {"--hash", "crc32"},
      {"--offset", "20000000T"}, {"--offset", "100"}, {"--autosave", "nan"}, {"--min-size", "0"},
      {"--min-size", "-1"}, {"--min-size", "ten"}, {"--skip-larger", "0"}, {"--skip-larger", "-1"},
      {"--skip-larger", "ten"}, {"--min-resolution", "640"}, {"--min-resolution", "0x480"},
      {"--min-resolution", "640x"}, {"--min-resolution", "x"}, {"--min-resolution", "640x480x2"},
      {"--min-resolution", "-1x5"}};
  for (const auto& option : bad)
    EXPECT_EQ(RunTool({"scan", kSample, option[0], option[1]}).status, 2) << option[0] << " " << option[1];
  EXPECT_EQ(RunTool({"carve", kSample, "-o", dir.path() + "/o", "--format", "csv"}).status, 2);  // no report
  ToolResult missing = RunTool({"scan", dir.path() + "/absent.img"});
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.err.find("absent.img"), std::string::npos);
  dir.Write("plain", {1});
  ToolResult unwritable = RunTool({"carve", kSample, "-o", dir.path() + "/plain/out"});
  EXPECT_EQ(unwritable.status, 4);
  EXPECT_NE(unwritable.err.find("plain/out"), std::string::npos);
}

TEST(CliTool, TypesListsExactlyTheLibrarysTypes) {
  trcli::TypeCatalog catalog = trcli::TypeCatalog::FromLibrary();
  ToolResult result = RunTool({"types", "--json"});
  ASSERT_EQ(result.status, 0);
  json types = json::parse(result.out);
  ASSERT_EQ(types.size(), catalog.Types().size());
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(types[i]["code"], catalog.Types()[i].code);
    EXPECT_NE(types[i]["group"], "unknown");
  }
}

TEST(CliTool, CheckAnswersByExtensionWithDistinctStatuses) {
  trtest::TempDir dir;
  dir.Write("note.jpg", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', ' ', 't', 'e', 'x', 't', '!', '!'});
  EXPECT_EQ(RunTool({"check", dir.path() + "/note.jpg"}).status, 1);
  EXPECT_EQ(RunTool({"check", dir.path() + "/note.jpg", "--as", "nosuchext"}).status, 6);
  EXPECT_EQ(RunTool({"check", dir.path() + "/absent.jpg"}).status, 3);
  dir.Write("noext", {1, 2, 3});
  EXPECT_EQ(RunTool({"check", dir.path() + "/noext"}).status, 2);
  if (!LibraryHas(513)) GTEST_SKIP() << "no JPEG recognizer yet";
  dir.Write("photo.JPG", ReadBytes(kSample, kPhotoOffset, kPhotoSize));
  ToolResult match = RunTool({"check", dir.path() + "/photo.JPG"});
  EXPECT_EQ(match.status, 0) << match.out << match.err;
  EXPECT_NE(match.out.find("begins like a JPG file"), std::string::npos) << match.out;
  EXPECT_EQ(RunTool({"check", dir.path() + "/noext", "--as", ".jpeg"}).status, 1);
}

TEST(CliTool, CarveWritesExactlyTheReportedFilesOfTheSample) {
  trtest::TempDir dir;
  ToolResult carve = RunTool({"carve", kSample, "-o", dir.path() + "/out", "--quiet"});
  ASSERT_EQ(carve.status, 0) << carve.err;
  std::vector<json> records = Scan({});
  EXPECT_EQ(CarvedTree(dir.path() + "/out").size(), records.size());  // and no state or journal left
  std::istringstream summary(carve.out.substr(carve.out.find("\ntotal ") + 1));
  std::string word;
  uint64_t files = 0;
  summary >> word >> files;
  EXPECT_EQ(files, records.size()) << carve.out;

  if (!LibraryHas(513)) GTEST_SKIP() << "no JPEG recognizer yet";
  EXPECT_EQ(ReadBytes(dir.path() + "/out/jpg/00000.jpg"), ReadBytes(kSample, kPhotoOffset, kPhotoSize));
  auto photo = std::find_if(records.begin(), records.end(), [](const json& r) { return r["offset"] == kPhotoOffset; });
  ASSERT_NE(photo, records.end());
  EXPECT_EQ((*photo)["size"], kPhotoSize);
  EXPECT_EQ((*photo)["type_code"], 513);
  EXPECT_EQ((*photo)["complete"], true);
  EXPECT_EQ((*photo)["picture"]["make"], "Examplecam");
  EXPECT_EQ((*photo)["picture"]["date_time_original"], "2024-05-17T10:32:08");
  // A picture without EXIF has no such fields at all, not empty ones.
  auto png = std::find_if(records.begin(), records.end(), [](const json& r) { return r["extension"] == "png"; });
  ASSERT_NE(png, records.end());
  EXPECT_EQ((*png)["picture"], json({{"width", 96}, {"height", 64}}));
  EXPECT_NEAR((*photo)["picture"]["gps"]["latitude"].get<double>(), 48.8584, 1e-4);
}

TEST(CliTool, ScanFormatsCarryTheSameFilesAndHashes) {
  trtest::TempDir dir;
  std::map<std::string, std::set<std::tuple<uint64_t, uint64_t, std::string>>> seen;
  for (const char* format : {"jsonl", "csv", "dfxml"}) {
    std::string path = dir.path() + "/report." + format;
    ToolResult result = RunTool({"scan", kSample, "--format", format, "--hash", "sha256", "-o", path, "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::string text = ReadText(path);
    auto& files = seen[format];
    if (std::string(format) == "jsonl") {
      for (const json& r : ParseJsonLines(text)) files.emplace(r["offset"], r["size"], r["sha256"]);
    } else if (std::string(format) == "csv") {
      auto rows = ParseCsv(text);
      ASSERT_FALSE(rows.empty());
      ASSERT_EQ(rows[0].back(), "sha256");
      for (size_t i = 1; i < rows.size(); ++i)
        files.emplace(std::stoull(rows[i][0]), std::stoull(rows[i][1]), rows[i].back());
    } else {
      for (auto& object : ParseDfxmlFileObjects(text)) {
        EXPECT_EQ(object["byte_run@len"], object["filesize"]);
        EXPECT_EQ(object["hashdigest@type"], "sha256");
        files.emplace(std::stoull(object["byte_run@img_offset"]), std::stoull(object["filesize"]),
                      object["hashdigest"]);
      }
    }
  }
  EXPECT_EQ(seen["jsonl"], seen["csv"]);
  EXPECT_EQ(seen["jsonl"], seen["dfxml"]);
  for (const auto& file : seen["jsonl"]) {
    std::vector<uint8_t> bytes = ReadBytes(kSample, std::get<0>(file), std::get<1>(file));
    EXPECT_EQ(trcli::HashBytes(bytes.data(), bytes.size(), "sha256").value_or(""), std::get<2>(file));
  }
}

TEST(CliTool, StdinRangesTypesAndRestrictedSizeSelectWhatIsFound) {
  std::vector<json> all = Scan({});
  EXPECT_EQ(Scan({}, kSample), all);
  std::vector<json> range = Scan({"--offset", "32K", "--length", "16K"}), photos = Scan({"--types", "photos"});
  for (const json& r : range) EXPECT_TRUE(r["offset"] >= 32768 && r["offset"] < 49152) << r;
  for (const json& r : photos) EXPECT_EQ(r["group"], "photos");
  if (LibraryHas(513)) {
    EXPECT_EQ(range.size(), 1u);
    EXPECT_EQ(photos.size(), 4u);  // the JPEG, PNG, GIF and BMP pictures
  }
  trtest::TempDir dir;
  ToolResult restricted = RunTool({"carve", kSample, "-o", dir.path(), "--restricted-size", "4K"});
  ASSERT_EQ(restricted.status, 0) << restricted.err;
  size_t small = 0;
  for (const json& r : all) small += r["size"].get<uint64_t>() <= 4096;
  auto tree = CarvedTree(dir.path());
  EXPECT_EQ(tree.size(), small);
  for (const auto& entry : tree) EXPECT_LE(entry.second.size(), 4096u) << entry.first;
  if (small < all.size()) {
    EXPECT_NE(restricted.out.find("not kept"), std::string::npos) << restricted.out;
  }
  EXPECT_EQ(Scan({"--restricted-size", "4K"}).size(), small);
}

TEST(CliTool, InterruptedRunsResumeToTheSameResults) {
  if (!CtrlEvents()) GTEST_SKIP() << "Wine delivers no console Ctrl event (GenerateConsoleCtrlEvent) to the tool";
  trtest::TempDir dir;
  std::vector<uint8_t> image = LongImage();
  std::string imagePath = dir.path() + "/long.img";
  dir.Write("long.img", image);
  size_t head = ReadBytes(kSample).size() + (12u << 20);  // the sample and the zeros after it

  ToolResult full = RunTool({"scan", imagePath, "-q", "-o", dir.path() + "/full.jsonl"});
  ASSERT_EQ(full.status, 0) << full.err;
  ASSERT_EQ(RunTool({"carve", imagePath, "-q", "-o", dir.path() + "/full"}).status, 0);

  // Scan: stopped on a stream, resumed from the image file.
  ToolResult stopped = RunFedThenStopped({"scan", "-", "-o", dir.path() + "/part.jsonl"}, image, head);
  ASSERT_EQ(stopped.status, 130) << stopped.err;
  EXPECT_NE(stopped.err.find("scan - -o " + dir.path() + "/part.jsonl --resume"), std::string::npos) << stopped.err;
  std::string state = dir.path() + "/part.jsonl.typerecovery-state";
  ASSERT_TRUE(std::filesystem::exists(state));

  // A changed option, a different source or a fresh start are refused.
  EXPECT_EQ(RunTool({"scan", imagePath, "-o", dir.path() + "/part.jsonl", "--resume", "--block", "4096"}).status, 5);
  std::vector<uint8_t> other = image;
  other[100] ^= 1;
  dir.Write("other.img", other);
  EXPECT_EQ(RunTool({"scan", dir.path() + "/other.img", "-o", dir.path() + "/part.jsonl", "--resume"}).status, 5);
  EXPECT_EQ(RunTool({"scan", imagePath, "-o", dir.path() + "/part.jsonl"}).status, 5);
  EXPECT_EQ(RunTool({"scan", imagePath, "-o", dir.path() + "/none.jsonl", "--resume"}).status, 5);

  ToolResult resumed = RunTool({"scan", imagePath, "-q", "-o", dir.path() + "/part.jsonl", "--resume"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(ParseJsonLines(ReadText(dir.path() + "/part.jsonl")), ParseJsonLines(ReadText(dir.path() + "/full.jsonl")));
  EXPECT_FALSE(std::filesystem::exists(state));

  // Carve: the same, comparing the output trees.
  stopped = RunFedThenStopped({"carve", "-", "-o", dir.path() + "/part"}, image, head);
  ASSERT_EQ(stopped.status, 130) << stopped.err;
  // The audit of the stopped carve is a whole document.
  EXPECT_EQ(ReadText(dir.path() + "/part/report.xml").rfind("</dfxml>\n"),
            ReadText(dir.path() + "/part/report.xml").size() - 9);

  // A damaged state file changes nothing and says so.
  const std::string carveState = dir.path() + "/part/.typerecovery-state";
  const std::vector<uint8_t> savedState = ReadBytes(carveState);
  auto everything = [&] {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path() + "/part"))
      if (entry.is_regular_file()) files[entry.path().string()] = ReadBytes(entry.path().string());
    return files;
  };
  const auto before = everything();
  // Cut short, a bit flipped, lengths far beyond the file (every other
  // damage the reader meets is CliStateFile's), and a field of the wrong
  // type under a sound checksum.
  std::vector<std::vector<uint8_t>> damages(3, savedState);
  damages[0].resize(savedState.size() / 2);
  damages[1][savedState.size() / 2] ^= 0x10;
  std::fill(damages[2].begin() + 12, damages[2].begin() + 24, 0xFF);
  {
    trcli::StateReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(carveState, &error)) << error;
    json info = reader.Info();
    info["open_files"] = json::object();
    const off_t at = ::lseek(reader.Fd(), 0, SEEK_CUR);
    const std::vector<uint8_t> progress = ReadBytes(carveState, static_cast<uint64_t>(at));
    ASSERT_TRUE(trcli::WriteStateFile(dir.path() + "/typed", info, [&](int fd) {
      return ::write(fd, progress.data(), progress.size()) == static_cast<ssize_t>(progress.size());
    }, &error)) << error;
    damages.push_back(ReadBytes(dir.path() + "/typed"));
  }
  for (size_t i = 0; i < damages.size(); ++i) {
    dir.Write("part/.typerecovery-state", damages[i]);
    ToolResult damaged = RunTool({"carve", imagePath, "-q", "-o", dir.path() + "/part", "--resume"});
    EXPECT_EQ(damaged.status, 5) << "damage " << i;
    EXPECT_NE(damaged.err.find("damaged state file"), std::string::npos) << "damage " << i << ": " << damaged.err;
    EXPECT_LT(damaged.peakKb, 256 * 1024) << "damage " << i;
    dir.Write("part/.typerecovery-state", savedState);
    EXPECT_EQ(everything(), before) << "damage " << i;
  }

  resumed = RunTool({"carve", imagePath, "-q", "-o", dir.path() + "/part", "--resume"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(CarvedTree(dir.path() + "/part"), CarvedTree(dir.path() + "/full"));
  EXPECT_NE(resumed.out.find("over 2 sessions"), std::string::npos) << resumed.out;
}

// The sample twice: --dedup writes the second copy's files only as records
// pointing at the first, also when the run was stopped between the copies
// (the partial summary shows what was written); --set-mtime dates the photo.
TEST(CliTool, DedupSurvivesAResumeAndSetMtimeDatesPhotos) {
  if (!CtrlEvents()) GTEST_SKIP() << "Wine delivers no console Ctrl event (GenerateConsoleCtrlEvent) to the tool";
  trtest::TempDir dir;
  const std::vector<uint8_t> image = LongImage();
  dir.Write("long.img", image);
  ASSERT_EQ(RunTool({"carve", kSample, "-q", "-o", dir.path() + "/once"}).status, 0);
  const size_t head = ReadBytes(kSample).size() + (12u << 20);
  const std::string out = dir.path() + "/twice";
  const ToolResult stopped = RunFedThenStopped({"carve", "-", "-o", out, "--dedup", "--set-mtime"}, image, head);
  ASSERT_EQ(stopped.status, 130) << stopped.err;
  EXPECT_NE(stopped.out.find("stopped; written so far:"), std::string::npos) << stopped.out;
  EXPECT_NE(stopped.out.find("\ntotal "), std::string::npos) << stopped.out;
  EXPECT_NE(stopped.err.find("continue with:"), std::string::npos) << stopped.err;
  const ToolResult resumed = RunTool({"carve", dir.path() + "/long.img", "-q", "-o", out, "--resume"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  const auto once = CarvedTree(dir.path() + "/once");
  EXPECT_EQ(CarvedTree(out), once);
  EXPECT_NE(resumed.out.find(std::to_string(once.size()) + " more found file(s) repeated an earlier file's bytes"),
            std::string::npos) << resumed.out;
  size_t pointers = 0;
  for (const auto& record : ParseDfxmlFileObjects(ReadText(out + "/report.xml"))) {
    if (!record.count("tr:duplicate_of")) continue;
    ++pointers;
    EXPECT_EQ(once.count(record.at("tr:duplicate_of")), 1u) << record.at("tr:duplicate_of");
  }
  EXPECT_EQ(pointers, once.size());

  if (!LibraryHas(513)) return;
  struct stat info;
  ASSERT_EQ(::stat((out + "/jpg/00000.jpg").c_str(), &info), 0);
  std::tm taken{};
  taken.tm_year = 124, taken.tm_mon = 4, taken.tm_mday = 17, taken.tm_hour = 10, taken.tm_min = 32, taken.tm_sec = 8;
  taken.tm_isdst = -1;
  EXPECT_EQ(info.st_mtime, std::mktime(&taken));  // the EXIF original date, local time
  ASSERT_EQ(::stat((out + "/png/00000.png").c_str(), &info), 0);
  EXPECT_GT(info.st_mtime, std::mktime(&taken));  // no date: the time it was written
}

TEST(CliTool, FullOutputDiskStopsCleanlyAndResumesAfterSpaceIsFreed) {
  trtest::TempDir dir;
#if defined(_WIN32)
  GTEST_SKIP() << "no small file system to fill up here (a tmpfs mount on Linux)";
#else
  std::string mountPoint = dir.path() + "/small";
  SmallDisk small(mountPoint, "24k");
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  std::string statePath = dir.path() + "/state";
  ToolResult full = RunTool({"carve", kSample, "-o", mountPoint + "/out", "--state", statePath, "-q"});
  std::vector<json> records = Scan({});
  uint64_t total = 0;
  for (const json& r : records) total += r["size"].get<uint64_t>();
  if (total > 20 * 1024) {
    EXPECT_EQ(full.status, 4) << full.err;
    EXPECT_NE(full.err.find(mountPoint + "/out"), std::string::npos) << full.err;
    EXPECT_TRUE(std::filesystem::exists(statePath));
    ASSERT_TRUE(small.Grow("4m"));
    ToolResult resumed = RunTool({"carve", kSample, "-o", mountPoint + "/out", "--state", statePath, "--resume", "-q"});
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    // Only the file being written when the disk filled up may be short.
    EXPECT_LE(CountMissingCopies(records, kSample, mountPoint + "/out"), 1u);
    EXPECT_GE(CarvedTree(mountPoint + "/out").size(), records.size());

    // From a stream, which cannot be read again: the file the disk cut
    // stays as written, and every record of it says incomplete.
    const std::string streamed = dir.path() + "/streamed", fifo = dir.path() + "/fifo";
    SmallDisk smallStreamed(streamed, "24k");
    ASSERT_TRUE(smallStreamed.Mounted());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::signal(SIGPIPE, SIG_IGN);
    auto throughPipe = [&](const std::vector<std::string>& args) {
      std::thread feed([&] {
        const std::vector<uint8_t> bytes = ReadBytes(kSample);
        int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        for (size_t done = 0; fd >= 0 && done < bytes.size();) {
          ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
          if (put <= 0) break;
          done += static_cast<size_t>(put);
        }
        ::close(fd);
      });
      ToolResult result = RunTool(args, fifo);
      feed.join();
      return result;
    };
    const std::vector<std::string> carve = {"carve", "-", "-o", streamed + "/out", "--state", statePath + "2", "-q"};
    EXPECT_EQ(throughPipe(carve).status, 4);
    ASSERT_TRUE(smallStreamed.Grow("4m"));
    std::vector<std::string> resume = carve;
    resume.push_back("--resume");
    ToolResult streamResumed = throughPipe(resume);
    ASSERT_EQ(streamResumed.status, 0) << streamResumed.err;
    const json incomplete = json::parse(ReadText(streamed + "/out/report.json"))["incomplete_files"];
    ASSERT_FALSE(incomplete.empty());
    EXPECT_NE(streamResumed.out.find("incomplete: " + incomplete[0].get<std::string>()), std::string::npos);
    for (auto record : ParseDfxmlFileObjects(ReadText(streamed + "/out/report.xml"))) {
      if (std::find(incomplete.begin(), incomplete.end(), record["filename"]) != incomplete.end()) {
        EXPECT_EQ(record["tr:complete"], "0") << record["filename"];
        // The cut file stays on disk as its record describes it.
        EXPECT_EQ(ReadBytes(streamed + "/out/" + record["filename"]).size(), std::stoull(record["filesize"]))
            << record["filename"];
      }
    }
  }
#endif
}

TEST(CliTool, OneRunPerOutputAtATimeAndStopsKeepTheirPromise) {
  trtest::TempDir dir;
  using trcli::platform::Close;
  const bool ctrlEvents = CtrlEvents();
  // A carve waiting for its source holds the folder; a second one is told who.
  int pipeFds[2];
  ASSERT_TRUE(MakePipe(pipeFds));
  int devNull = OpenNull(true);
  int pid = StartTool({"carve", "-", "-o", dir.path() + "/out"}, pipeFds[0], devNull, devNull);
  Close(pipeFds[0]);
  ToolResult second;
  for (int tries = 0; tries < 50; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    second = RunTool({"carve", kSample, "-o", dir.path() + "/out", "-q"});
    if (second.status == 4) break;
  }
  EXPECT_EQ(second.status, 4) << second.err;
  EXPECT_NE(second.err.find("in use by another run (pid " + std::to_string(pid)), std::string::npos) << second.err;
  if (ctrlEvents) {
    StopTool(pid);
    StopTool(pid);  // a second stop request waits for the save
    EXPECT_EQ(WaitTool(pid), 130);
    EXPECT_TRUE(trcli::platform::PathExists(dir.path() + "/out/.typerecovery-state"));
  }
  Close(pipeFds[1]);  // without a stop request, the stream's end ends the run
  if (!ctrlEvents) {
    EXPECT_EQ(WaitTool(pid), 0);
  }
  Close(devNull);
  EXPECT_FALSE(trcli::platform::PathExists(dir.path() + "/out/.typerecovery-lock"));

  if (ctrlEvents) {
    // A scan to standard output keeps no state: stopped, it says so and does
    // not claim a saved state.
    ASSERT_TRUE(MakePipe(pipeFds));
    std::string errName;
    int errFd = TemporaryFile(&errName);
    devNull = OpenNull(true);
    pid = StartTool({"scan", "-"}, pipeFds[0], devNull, errFd);
    Close(pipeFds[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    StopTool(pid);
    EXPECT_EQ(WaitTool(pid), 7);
    for (int fd : {pipeFds[1], devNull, errFd}) Close(fd);
    EXPECT_NE(ReadText(errName).find("no state was kept"), std::string::npos) << ReadText(errName);
    trcli::platform::RemoveFile(errName);
  }

#if !defined(_WIN32)
  // Output that cannot be written is an error, also for the summary.
  int full = ::open("/dev/full", O_WRONLY);
  if (full >= 0) {
    devNull = ::open("/dev/null", O_WRONLY);
    EXPECT_EQ(WaitTool(StartTool({"types"}, devNull, full, devNull)), 4);
    EXPECT_EQ(WaitTool(StartTool({"carve", kSample, "-q", "-o", dir.path() + "/full"}, devNull, full, devNull)), 4);
    ::close(full);
    ::close(devNull);
  }
#endif
}
