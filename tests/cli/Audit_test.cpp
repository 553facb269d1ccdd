// The audit a carve leaves in its output folder, checked against the disk
// and the source: an image made of the project's real fixtures with seeded
// filler between them is carved, and every record must name a file that
// exists with the bytes of the source range it names; scan must report the
// same files; the DFXML must validate against the schema.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "Hasher.h"
#include "Text.h"
#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

using namespace trclitest;
using nlohmann::json;

namespace {

const std::string kSchema = std::string(TYPERECOVERY_TEST_DATA) + "/dfxml/dfxml.xsd";

// Every fixture under tests/data (not the scripts that made them), in name
// order, each at a sector start behind 1 to 8 sectors of seeded filler whose
// sectors begin with zeros (so that filler starts no file).
std::vector<uint8_t> FixtureImage(size_t* count) {
  std::vector<std::filesystem::path> fixtures;
  for (const char* group : {"image", "document", "media"}) {
    for (const auto& entry : std::filesystem::directory_iterator(std::string(TYPERECOVERY_TEST_DATA) + "/" + group))
      if (entry.is_regular_file() && entry.path().extension() != ".sh") fixtures.push_back(entry.path());
  }
  std::sort(fixtures.begin(), fixtures.end());
  std::mt19937 random(20240517);
  std::vector<uint8_t> image;
  for (const auto& path : fixtures) {
    const size_t sectors = 1 + random() % 8;
    for (size_t s = 0; s < sectors; ++s) {
      for (size_t i = 0; i < 512; ++i) image.push_back(i < 16 ? 0 : static_cast<uint8_t>(random()));
    }
    std::vector<uint8_t> bytes = ReadBytes(path.string());
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.resize((image.size() + 511) / 512 * 512, 0);
  }
  image.resize(image.size() + 4096, 0);
  *count = fixtures.size();
  return image;
}

std::string Sha256(const std::vector<uint8_t>& bytes) {
  return trcli::HashBytes(bytes.data(), bytes.size(), "sha256").value_or("?");
}

// xmllint's verdict on a document against the DFXML schema.
void ExpectValidDfxml(const std::string& path) {
#if defined(_WIN32)
  (void)path;  // no xmllint on Windows: the Linux run validates the same writer's output
#else
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
    ADD_FAILURE() << "xmllint is missing (bash scripts/install-deps.sh installs libxml2-utils)";
    return;
  }
  std::string command = "xmllint --noout --schema '" + kSchema + "' '" + path + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[512];
  while (size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, got);
  EXPECT_EQ(::pclose(pipe), 0) << output;
#endif
}

using Entry = std::tuple<uint64_t, uint64_t, bool>;  // offset, size, complete

TEST(CarveAudit, EveryRecordMatchesTheDiskAndTheSourceAndScanAgrees) {
  trtest::TempDir dir;
  size_t fixtures = 0;
  const std::vector<uint8_t> image = FixtureImage(&fixtures);
  const std::string imagePath = dir.path() + "/fixtures.img";
  dir.Write("fixtures.img", image);
  const std::string out = dir.path() + "/out";
  ToolResult carve = RunTool({"carve", imagePath, "-o", out, "--hash", "sha256", "-q"});
  ASSERT_EQ(carve.status, 0) << carve.err;
  ExpectValidDfxml(out + "/report.xml");

  const auto records = ParseDfxmlFileObjects(ReadText(out + "/report.xml"));
  EXPECT_GE(records.size(), fixtures / 2) << "too few files found to say much";
  std::set<std::string> recorded;
  std::set<Entry> audit;
  uint64_t previous = 0, totalBytes = 0;
  for (auto record : records) {
    const std::string path = record["filename"];
    SCOPED_TRACE(path);
    EXPECT_TRUE(recorded.insert(path).second) << "recorded twice";
    const uint64_t size = std::stoull(record["filesize"]);
    const uint64_t leadIn = std::stoull(record["byte_run@file_offset"]);
    const uint64_t copiedFrom = std::stoull(record["byte_run@img_offset"]);
    ASSERT_GE(copiedFrom, leadIn);
    const uint64_t offset = copiedFrom - leadIn;
    EXPECT_GE(offset, previous) << "records out of source order";
    previous = offset;
    EXPECT_EQ(std::stoull(record["byte_run@len"]), size - leadIn);
    EXPECT_LE(copiedFrom + size - leadIn, image.size()) << "runs past the end of the source";

    const std::vector<uint8_t> written = ReadBytes(out + "/" + path);
    ASSERT_EQ(written.size(), size);
    EXPECT_EQ(Sha256(written), record["hashdigest"]);
    // The written file is the source range, except a zero-filled lead-in
    // the record names.
    std::vector<uint8_t> expected(leadIn, 0);
    std::vector<uint8_t> source = ReadBytes(imagePath, copiedFrom, size - leadIn);
    expected.insert(expected.end(), source.begin(), source.end());
    EXPECT_TRUE(written == expected) << "written bytes differ from the source range";
    if (leadIn == 0) {
      EXPECT_EQ(record["hashdigest"], Sha256(ReadBytes(imagePath, offset, size)));
    }
    audit.emplace(offset, size, record["tr:complete"] == "1");
    totalBytes += size;
  }

  // The folder holds exactly the recorded files, beside the audit itself.
  std::set<std::string> onDisk;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
    std::string relative = entry.path().lexically_relative(out).generic_u8string();
    if (entry.is_regular_file() && relative != "report.xml" && relative != "report.json") onDisk.insert(relative);
  }
  EXPECT_EQ(onDisk, recorded);

  const json summary = json::parse(ReadText(out + "/report.json"));
  EXPECT_EQ(summary["status"], "finished");
  EXPECT_EQ(summary["total"]["files"], records.size());
  EXPECT_EQ(summary["total"]["bytes"], totalBytes);
  EXPECT_EQ(summary["bytes_scanned"], image.size());

  // Scan finds the same files at the same places, complete or cut alike.
  ToolResult scan = RunTool({"scan", imagePath, "-q"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  std::set<Entry> scanned;
  for (const std::string& line : trcli::SplitList(scan.out, "\n")) {
    json r = json::parse(line);
    scanned.emplace(r["offset"], r["size"], r["complete"]);
  }
  EXPECT_EQ(scanned, audit);

  const std::string dfxml = dir.path() + "/scan.xml";
  ASSERT_EQ(RunTool({"scan", imagePath, "-q", "--format", "dfxml", "--hash", "sha256", "-o", dfxml}).status, 0);
  ExpectValidDfxml(dfxml);
}

TEST(CarveAudit, FiltersCutsAndSecondCarvesAreRecordedAsTheyHappened) {
  trtest::TempDir dir;
  const std::string sample = std::string(TYPERECOVERY_SAMPLES) + "/sample.img";
  const std::string out = dir.path() + "/out";
  ToolResult first = RunTool({"carve", sample, "-o", out, "-q", "--min-size", "2K", "--max-size", "jpg=1K"});
  ASSERT_EQ(first.status, 0) << first.err;
  const json summary = json::parse(ReadText(out + "/report.json"));
  EXPECT_EQ(summary["options"]["min-size"], 2048);
  for (auto record : ParseDfxmlFileObjects(ReadText(out + "/report.xml"))) {
    EXPECT_GE(std::stoull(record["filesize"]), 2048u) << record["filename"];
    if (record["tr:extension"] == "jpg") {
      EXPECT_EQ(record["tr:complete"], "0") << "cut at its limit";
    }
  }
  EXPECT_GT(summary["total"]["filtered"].get<uint64_t>(), 0u);

  // A second carve into the folder is refused, or kept apart with --append.
  ToolResult again = RunTool({"carve", sample, "-o", out, "-q"});
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("--append"), std::string::npos) << again.err;
  ToolResult appended = RunTool({"carve", sample, "-o", out, "-q", "--append"});
  ASSERT_EQ(appended.status, 0) << appended.err;
  EXPECT_NE(appended.out.find("report-2.xml"), std::string::npos) << appended.out;
  for (auto record : ParseDfxmlFileObjects(ReadText(out + "/report-2.xml")))
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(out + "/" + record["filename"])))
        << record["filename"];
}

#if !defined(_WIN32)
// The carved files (not the audit and the tool's own files beside them)
// and the audit's records without what a resumed file cannot know again
// (the EXIF data of a picture cut by the stop).
std::map<std::string, std::vector<uint8_t>> CarvedFiles(const std::string& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string relative = entry.path().lexically_relative(root).string();
    if (entry.is_regular_file() && relative.find('/') != std::string::npos) files[relative] = ReadBytes(entry.path());
  }
  return files;
}

std::vector<std::string> AuditRecords(const std::string& root) {
  std::vector<std::string> records;
  for (auto r : ParseDfxmlFileObjects(ReadText(root + "/report.xml")))
    records.push_back(r["filename"] + " " + r["filesize"] + " " + r["byte_run@img_offset"] + " " + r["hashdigest"] +
                      " " + r["tr:complete"]);
  return records;
}

// A carve fed the first `head` bytes of image through a pipe, stopped by
// signal once it waits for more; answers its exit status.
int CarveStopped(const std::string& out, const std::vector<uint8_t>& image, size_t head, int signal) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  int devNull = ::open("/dev/null", O_WRONLY);
  int pid = StartTool({"carve", "-", "-q", "-o", out, "--hash", "sha256", "--autosave", "0.05"}, pipeFds[0],
                      devNull, devNull);
  ::close(pipeFds[0]);
  for (size_t done = 0; done < head;) {
    ssize_t put = ::write(pipeFds[1], image.data() + done, head - done);
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  // Stopped once it has saved a state (the autosave runs every 50 ms while
  // it carves), or after a few seconds: a tool that finished its first chunk
  // before the first autosave waits for input with nothing saved.
  const std::string state = out + "/.typerecovery-state";
  for (int waited = 0; waited < 100 && ::access(state.c_str(), F_OK) != 0; ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(pid, signal);
  int status = WaitTool(pid);
  ::close(pipeFds[1]);
  ::close(devNull);
  return status;
}

#endif

TEST(CarveAudit, StoppedAnywhereAndResumedEndsAsAnUninterruptedCarve) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs SIGKILL and SIGTERM; the Windows stop request is tested in CliTool";
#else
  // The tool reads its source in 4 MiB chunks: fed all but the last byte of
  // a longer image through a pipe, it carves the first chunk and waits, with
  // the files that cross the chunk's end half written. A seeded lead of
  // zero sectors moves other files there each round.
  trtest::TempDir dir;
  size_t fixtures = 0;
  const std::vector<uint8_t> tile = FixtureImage(&fixtures);
  std::mt19937 random(99);
  int run = 0;
  for (int round = 0; round < 2; ++round) {
    std::vector<uint8_t> image((random() % 2048) * 512, 0);
    while (image.size() < (5u << 20)) image.insert(image.end(), tile.begin(), tile.end());
    const std::string imagePath = dir.path() + "/image" + std::to_string(round);
    dir.Write("image" + std::to_string(round), image);
    const std::string whole = dir.path() + "/whole" + std::to_string(round);
    ASSERT_EQ(RunTool({"carve", imagePath, "-q", "-o", whole, "--hash", "sha256"}).status, 0);
    const auto wholeFiles = CarvedFiles(whole);
    const auto wholeRecords = AuditRecords(whole);
    for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
      const std::string out = dir.path() + "/run" + std::to_string(run++);
      SCOPED_TRACE("round " + std::to_string(round) + " signal " + std::to_string(signal));
      EXPECT_EQ(CarveStopped(out, image, image.size() - 1, signal), signal == SIGKILL ? 128 + SIGKILL : 130);
      // SIGINT and SIGTERM save a state; a kill leaves the last autosave,
      // if one came before it (timing decides that, not the tool).
      if (signal == SIGKILL && ::access((out + "/.typerecovery-state").c_str(), F_OK) != 0) continue;
      ASSERT_EQ(::access((out + "/.typerecovery-state").c_str(), F_OK), 0);
      ToolResult resumed = RunTool({"carve", imagePath, "-q", "-o", out, "--resume"});
      ASSERT_EQ(resumed.status, 0) << resumed.err;
      EXPECT_TRUE(CarvedFiles(out) == wholeFiles);
      EXPECT_EQ(AuditRecords(out), wholeRecords);
      EXPECT_NE(::access((out + "/.typerecovery-journal").c_str(), F_OK), 0);
    }
  }
#endif
}

}  // namespace
