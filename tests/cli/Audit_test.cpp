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
  for (const auto& file : CarvedTree(out)) onDisk.insert(file.first);
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
// The audit's records, one per line so that a failure shows the diff.
std::string AuditRecords(const std::string& root) {
  std::string records;
  for (auto r : ParseDfxmlFileObjects(ReadText(root + "/report.xml")))
    records += r["filename"] + " " + r["filesize"] + " " + r["byte_run@img_offset"] + " " + r["hashdigest"] + " " +
               r["tr:complete"] + " " + r["tr:picture@width"] + " " + r["tr:picture@make"] + " " +
               r["tr:picture@model"] + " " + r["tr:picture@date_time_original"] + "\n";
  return records;
}

#endif

TEST(CarveAudit, StoppedAnywhereAndResumedEndsAsAnUninterruptedRun) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs SIGKILL and SIGTERM; the Windows stop request is tested in CliTool";
#else
  // The tool reads its source in 4 MiB chunks: fed all but the last byte of
  // a longer image through a pipe, it carves the first chunk and waits, with
  // the files that cross the chunk's end half written. The first round puts
  // a JPEG with EXIF data there; a seeded lead of zero sectors moves other
  // files there in the next.
  trtest::TempDir dir;
  size_t fixtures = 0;
  const std::vector<uint8_t> tile = FixtureImage(&fixtures);
  const std::vector<uint8_t> jpeg = ReadBytes(std::string(TYPERECOVERY_TEST_DATA) + "/image/jpeg_progressive.jpg");
  const uint64_t jpegAt =
      static_cast<uint64_t>(std::search(tile.begin(), tile.end(), jpeg.begin(), jpeg.end()) - tile.begin());
  std::mt19937 random(99);
  int run = 0;
  for (int round = 0; round < 2; ++round) {
    const uint64_t lead = round == 0 ? ((4u << 20) - 1024 + 64 * tile.size() - jpegAt) % tile.size()
                                     : (random() % 2048) * 512;
    std::vector<uint8_t> image(lead, 0);
    while (image.size() < (5u << 20)) image.insert(image.end(), tile.begin(), tile.end());
    const std::string imagePath = dir.path() + "/image" + std::to_string(round);
    dir.Write("image" + std::to_string(round), image);
    const std::string whole = dir.path() + "/whole" + std::to_string(round);
    ASSERT_EQ(RunTool({"carve", imagePath, "-q", "-o", whole, "--hash", "sha256"}).status, 0);
    const auto wholeFiles = CarvedTree(whole);
    const auto wholeRecords = AuditRecords(whole);
    ASSERT_EQ(RunTool({"scan", imagePath, "-q", "-o", whole + ".jsonl"}).status, 0);
    for (int signal : {SIGINT, SIGTERM, SIGKILL}) {
      const std::string out = dir.path() + "/run" + std::to_string(run++);
      SCOPED_TRACE("round " + std::to_string(round) + " signal " + std::to_string(signal));
      const int stoppedStatus = signal == SIGKILL ? 128 + SIGKILL : 130;
      EXPECT_EQ(RunFedThenStopped({"carve", "-", "-q", "-o", out, "--hash", "sha256", "--autosave", "0.05"}, image,
                                  image.size() - 1, out + "/.typerecovery-state", signal).status,
                stoppedStatus);
      ToolResult resumed = RunTool({"carve", imagePath, "-q", "-o", out, "--resume"});
      ASSERT_EQ(resumed.status, 0) << resumed.err;
      EXPECT_TRUE(CarvedTree(out) == wholeFiles);
      EXPECT_EQ(AuditRecords(out), wholeRecords);
      EXPECT_NE(::access((out + "/.typerecovery-journal").c_str(), F_OK), 0);

      EXPECT_EQ(RunFedThenStopped({"scan", "-", "-q", "-o", out + ".jsonl"}, image, image.size() - 1,
                                  out + ".jsonl.typerecovery-state", signal).status,
                stoppedStatus);
      resumed = RunTool({"scan", imagePath, "-q", "-o", out + ".jsonl", "--resume"});
      ASSERT_EQ(resumed.status, 0) << resumed.err;
      EXPECT_EQ(ReadText(out + ".jsonl"), ReadText(whole + ".jsonl"));
    }
  }
#endif
}

TEST(CarveAudit, AFullReportDiskKeepsTheScanStateElsewhereAndTheResumeLosesNothing) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs a small tmpfs to fill; Windows has no such mount";
#else
  trtest::TempDir dir;
  const std::string small = dir.path() + "/small";
  SmallDisk disk(small, "16k");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  size_t fixtures = 0;
  dir.Write("fixtures.img", FixtureImage(&fixtures));
  auto scan = [&](const std::string& report, std::vector<std::string> more) {
    std::vector<std::string> args = {"scan", dir.path() + "/fixtures.img", "-q", "--format", "dfxml",
                                     "--hash", "sha256", "-o", report};
    args.insert(args.end(), more.begin(), more.end());
    return RunTool(args);
  };
  ASSERT_EQ(scan(dir.path() + "/whole.xml", {}).status, 0);
  ToolResult full = scan(small + "/report.xml", {});
  ASSERT_EQ(full.status, 4) << full.err;
  const size_t at = full.err.find(" --state ");
  ASSERT_NE(at, std::string::npos) << full.err;
  const std::string state = full.err.substr(at + 9, full.err.find(" --resume", at) - at - 9);
  EXPECT_NE(state.rfind(small, 0), 0u) << "the state belongs off the full disk: " << state;
  ASSERT_TRUE(disk.Grow("1m"));
  ToolResult resumed = scan(small + "/report.xml", {"--state", state, "--resume"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(ParseDfxmlFileObjects(ReadText(small + "/report.xml")),
            ParseDfxmlFileObjects(ReadText(dir.path() + "/whole.xml")));
  ExpectValidDfxml(small + "/report.xml");
#endif
}


TEST(CarveAudit, UnreadableSectorsAreZerosListedFlaggedAndResumedAcross) {
#ifndef TYPERECOVERY_READ_ERROR_SHIM
  GTEST_SKIP() << "the read-error double is a preloaded library: not on this platform";
#else
  trtest::TempDir dir;
  size_t fixtures = 0;
  const std::vector<uint8_t> tile = FixtureImage(&fixtures);
  std::vector<uint8_t> image;
  while (image.size() < (5u << 20)) image.insert(image.end(), tile.begin(), tile.end());
  // Among the first bytes (they identify the source on resume), inside the
  // largest fixture before the stop, and past the stop.
  const std::vector<uint8_t> tiff = ReadBytes(std::string(TYPERECOVERY_TEST_DATA) + "/image/large.tif");
  const uint64_t inTiff =
      static_cast<uint64_t>(std::search(tile.begin(), tile.end(), tiff.begin(), tiff.end()) - tile.begin()) + 30000;
  const std::vector<std::pair<uint64_t, uint64_t>> bad = {{20000, 100}, {inTiff, 10}, {(4u << 20) + 200000, 1000}};
  std::string regions;
  std::vector<uint8_t> zeroed = image;
  json expectedRegions = json::array();
  for (const auto& region : bad) {
    regions += (regions.empty() ? "" : ",") + std::to_string(region.first) + "+" + std::to_string(region.second);
    const uint64_t from = region.first / 512 * 512, to = (region.first + region.second + 511) / 512 * 512;
    std::fill(zeroed.begin() + static_cast<long>(from), zeroed.begin() + static_cast<long>(to), 0);
    expectedRegions.push_back({{"offset", from}, {"length", to - from}});
  }
  const std::string imagePath = dir.path() + "/bad.img", zeroedPath = dir.path() + "/zeroed.img";
  dir.Write("bad.img", image);
  dir.Write("zeroed.img", zeroed);
  const std::string whole = dir.path() + "/whole", out = dir.path() + "/out";
  ASSERT_EQ(RunTool({"carve", zeroedPath, "-q", "-o", whole, "--hash", "sha256"}).status, 0);

  // Stopped by Ctrl-C past the second region, resumed: as a carve of the
  // image with those sectors zeroed, with the regions listed.
  ToolResult stopped = RunOnBadDisk({"carve", imagePath, "-q", "-o", out, "--hash", "sha256"}, imagePath, regions,
                                    "4300000");
  ASSERT_EQ(stopped.status, 130) << stopped.err;
  ToolResult resumed = RunOnBadDisk({"carve", imagePath, "-q", "-o", out, "--resume"}, imagePath, regions);
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_NE(resumed.out.find("3 unreadable region(s)"), std::string::npos) << resumed.out;
  EXPECT_TRUE(CarvedTree(out) == CarvedTree(whole));
  EXPECT_EQ(AuditRecords(out), AuditRecords(whole));
  EXPECT_EQ(json::parse(ReadText(out + "/report.json"))["unreadable"], expectedRegions);
  const std::string audit = ReadText(out + "/report.xml");
  EXPECT_NE(audit.find("<tr:unreadable offset=\"19968\" length=\"512\"/>"), std::string::npos);
  ExpectValidDfxml(out + "/report.xml");
  size_t flagged = 0;
  for (auto record : ParseDfxmlFileObjects(audit)) {
    const uint64_t from = std::stoull(record["byte_run@img_offset"]), to = from + std::stoull(record["byte_run@len"]);
    bool touched = false;
    for (const json& r : expectedRegions)
      touched = touched || (r["offset"].get<uint64_t>() < to && from < r["offset"].get<uint64_t>() + r["length"].get<uint64_t>());
    EXPECT_EQ(record.count("tr:unreadable_read_as_zeros") == 1, touched) << record["filename"];
    flagged += touched;
  }
  EXPECT_GE(flagged, 2u) << "the regions inside files were not flagged";

  // Scan hashes from the source: every digest is given, over the zeros.
  ToolResult scan = RunOnBadDisk({"scan", imagePath, "-q", "--hash", "sha256"}, imagePath, regions);
  ASSERT_EQ(scan.status, 0) << scan.err;
  size_t scanFlagged = 0;
  for (const std::string& line : trcli::SplitList(scan.out, "\n")) {
    json r = json::parse(line);
    ASSERT_TRUE(r["sha256"].is_string()) << line;
    const uint64_t offset = r["offset"], size = r["size"];
    EXPECT_EQ(r["sha256"], Sha256(std::vector<uint8_t>(zeroed.begin() + static_cast<long>(offset),
                                                       zeroed.begin() + static_cast<long>(offset + size))));
    scanFlagged += r.value("unreadable_read_as_zeros", false);
  }
  EXPECT_EQ(scanFlagged, flagged);
  ToolResult csv = RunOnBadDisk({"scan", imagePath, "-q", "--format", "csv"}, imagePath, regions);
  ASSERT_EQ(csv.status, 0) << csv.err;
  const auto rows = ParseCsv(csv.out);
  const auto column = std::find(rows[0].begin(), rows[0].end(), "unreadable_read_as_zeros") - rows[0].begin();
  ASSERT_LT(static_cast<size_t>(column), rows[0].size());
  EXPECT_EQ(static_cast<size_t>(std::count_if(rows.begin() + 1, rows.end(),
                                              [&](const auto& row) { return row.at(column) == "1"; })),
            flagged);
#endif
}
}  // namespace
