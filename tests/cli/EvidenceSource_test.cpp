// Evidence images, partitions and free space, end to end: the disks that
// tests/data/forensic/make_disks.sh makes with the real tools (mkfs.vfat and
// mtools, mke2fs and debugfs, sfdisk, sgdisk, ewfacquire), read back by the
// built tool.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

#include "EvidenceSource.h"
#include "Hasher.h"
#include "Text.h"
#include "cli/CliTestSupport.h"
#include "support/TestSupport.h"

using namespace trclitest;
using nlohmann::json;

namespace {

const std::string kData = TYPERECOVERY_TEST_DATA;
// What make_disks.sh deletes (slides.pptx in two pieces) and what it keeps.
const std::vector<std::string> kDeleted = {kData + "/document/slides.pptx", kData + "/image/little.tif",
                                           kData + "/document/text.odt"};
const std::vector<std::string> kLive = {kData + "/image/jpeg_baseline.jpg", kData + "/image/lossless.png",
                                        kData + "/media/plain.mp3"};
constexpr uint64_t kMiB = 1 << 20;

std::string Sha256(const std::vector<uint8_t>& bytes) {
  return trcli::HashBytes(bytes.data(), bytes.size(), "sha256").value_or("");
}

// Standard output of a shell command, or "" when it fails.
std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  return ::pclose(pipe) == 0 ? out : "";
}

std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> records;
  for (const std::string& line : trcli::SplitList(text, "\n")) records.push_back(json::parse(line));
  return records;
}

class ForensicDisks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new trtest::TempDir;
    std::string command = "bash " + kData + "/forensic/make_disks.sh " + s_dir->path() + " >" + s_dir->path() +
                          "/make.log 2>&1";
    s_made = std::system(command.c_str()) == 0;
  }
  static void TearDownTestSuite() {
    delete s_dir;
    s_dir = nullptr;
  }
  void SetUp() override {
    if (!trcli::EvidenceSupportBuilt()) GTEST_SKIP() << "built without The Sleuth Kit";
    ASSERT_TRUE(s_made) << ReadText(s_dir->path() + "/make.log");
  }
  static std::string Disk(const std::string& name) { return s_dir->path() + "/" + name; }
  static std::string Out(const std::string& name) { return s_dir->path() + "/out-" + name; }

  // Runs a quiet scan; answers its JSON Lines records.
  static std::vector<json> Scan(std::vector<std::string> args) {
    args.insert(args.begin(), {"scan", "-q"});
    ToolResult result = RunTool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    return JsonLines(result.out);
  }

  // The bytes a record's pieces hold in the disk image.
  static std::vector<uint8_t> PieceBytes(const std::string& disk, const json& record) {
    std::vector<uint8_t> bytes;
    for (const json& piece : record["pieces"]) {
      std::vector<uint8_t> part = ReadBytes(disk, piece["offset"], piece["length"]);
      bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
  }

  static trtest::TempDir* s_dir;
  static bool s_made;
};

trtest::TempDir* ForensicDisks::s_dir = nullptr;
bool ForensicDisks::s_made = false;

}  // namespace

TEST_F(ForensicDisks, EveryImageFormatOfOneDiskGivesTheSameReportsAndCarvedFiles) {
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, std::vector<std::string>{"--unallocated"}}) {
    std::map<std::string, std::string> reports;
    std::map<std::string, std::map<std::string, std::vector<uint8_t>>> trees;
    const char* const sources[] = {"mbr.img", "mbr.E01", "mbr.001", "mbr.vhd", "mbr.vmdk", "mbr.aff"};
    for (const char* source : sources) {
      std::vector<std::string> args = {"scan", Disk(source), "-q", "--hash", "md5", "--format", "dfxml"};
      args.insert(args.end(), extra.begin(), extra.end());
      ToolResult scan = RunTool(args);
      ASSERT_EQ(scan.status, 0) << source << ": " << scan.err;
      // The report names its source and ends with the run's own usage and
      // times; everything between must agree.
      reports[source] = scan.out.substr(scan.out.find("</source>"));
      reports[source] = reports[source].substr(0, reports[source].find("  <rusage>"));
      std::string out = Out(std::string("carve-") + source + std::to_string(extra.size()));
      args = {"carve", Disk(source), "-q", "-o", out};
      args.insert(args.end(), extra.begin(), extra.end());
      ASSERT_EQ(RunTool(args).status, 0) << source;
      trees[source] = CarvedTree(out);
    }
    EXPECT_NE(reports["mbr.img"].find("<fileobject>"), std::string::npos);
    EXPECT_FALSE(trees["mbr.img"].empty());
    for (const char* source : sources) {
      EXPECT_EQ(reports[source], reports["mbr.img"]) << source;
      EXPECT_EQ(trees[source], trees["mbr.img"]) << source;
    }
  }
}

TEST_F(ForensicDisks, PartitionsListTheTablesThatSfdiskAndSgdiskWrote) {
  for (const char* disk : {"mbr.img", "gpt.img", "mbr.E01"}) {
    std::string image = Disk(std::string(disk) == "mbr.E01" ? "mbr.img" : disk);
    std::string written = Capture("sfdisk --json " + image);
    ASSERT_FALSE(written.empty()) << "sfdisk cannot read " << image;
    json table = json::parse(written)["partitiontable"];
    ToolResult listed = RunTool({"partitions", Disk(disk), "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    json layout = json::parse(listed.out);
    EXPECT_EQ(layout["volume_system"], table["label"] == "dos" ? "dos" : "gpt") << disk;
    EXPECT_EQ(layout["media_size"], 8 * kMiB);
    ASSERT_EQ(layout["partitions"].size(), table["partitions"].size()) << disk;
    for (size_t i = 0; i < table["partitions"].size(); ++i) {
      const json& mine = layout["partitions"][i];
      EXPECT_EQ(mine["index"], i + 1);
      EXPECT_EQ(mine["start"], table["partitions"][i]["start"].get<uint64_t>() * 512) << disk << " " << i;
      EXPECT_EQ(mine["length"], table["partitions"][i]["size"].get<uint64_t>() * 512) << disk << " " << i;
    }
    EXPECT_EQ(layout["partitions"][0]["file_system"], "fat12");
    EXPECT_EQ(layout["partitions"][1]["file_system"], "ext4");
    EXPECT_TRUE(layout["partitions"][2]["file_system"].is_null());
  }
  ToolResult text = RunTool({"partitions", Disk("gpt.img")});
  EXPECT_NE(text.out.find("volume system: gpt"), std::string::npos) << text.out;
  json bare = json::parse(RunTool({"partitions", Disk("ext4.img"), "--json"}).out);
  EXPECT_TRUE(bare["volume_system"].is_null());
  EXPECT_EQ(bare["file_system"], "ext4");
}

TEST_F(ForensicDisks, OnePartitionIsScannedAtItsMediaOffsets) {
  std::vector<json> whole = Scan({Disk("gpt.img")});
  std::vector<json> expected;
  for (const json& record : whole)
    if (record["offset"] >= 3 * kMiB && record["offset"] < 7 * kMiB) expected.push_back(record);
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(Scan({Disk("gpt.img"), "--partition", "2"}), expected);
  EXPECT_EQ(Scan({Disk("mbr.E01"), "--partition", "2"}), expected);
  ToolResult carve = RunTool({"carve", Disk("mbr.E01"), "--partition", "2", "-o", Out("partition")});
  EXPECT_NE(carve.out.find("scanned 4.00 MiB"), std::string::npos) << carve.out;
}

TEST_F(ForensicDisks, FreeSpaceHoldsEveryDeletedFileWholeAndNoLiveOne) {
  std::set<std::string> deleted, live;
  for (const std::string& path : kDeleted) deleted.insert(Sha256(ReadBytes(path)));
  for (const std::string& path : kLive) live.insert(Sha256(ReadBytes(path)));
  struct Case { const char* disk; std::vector<std::string> args; size_t fileSystems; };
  for (const Case& c : {Case{"fat.img", {}, 1}, Case{"ext4.img", {}, 1}, Case{"mbr.img", {"--partition", "1"}, 1},
                        Case{"gpt.img", {"--partition", "2"}, 1}, Case{"mbr.E01", {}, 2}}) {
    std::vector<std::string> args = {Disk(c.disk), "--unallocated", "--hash", "sha256"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<json> records = Scan(args);
    std::multiset<std::string> found;
    size_t pieced = 0;
    for (const json& record : records) {
      std::string hash = record["sha256"];
      found.insert(hash);
      EXPECT_EQ(live.count(hash), 0u) << c.disk << ": a live file was found at " << record["offset"];
      // The pieces hold exactly the hashed bytes, and the offset is the first one's.
      std::string disk = Disk(std::string(c.disk) == "mbr.E01" ? "mbr.img" : c.disk);
      EXPECT_EQ(Sha256(PieceBytes(disk, record)), hash) << c.disk << " " << record.dump();
      EXPECT_EQ(record["offset"], record["pieces"][0]["offset"]);
      if (record["pieces"].size() > 1) ++pieced;
    }
    for (const std::string& hash : deleted) EXPECT_EQ(found.count(hash), c.fileSystems) << c.disk;
    EXPECT_EQ(found.size(), deleted.size() * c.fileSystems) << c.disk;
    EXPECT_EQ(pieced, c.fileSystems) << c.disk << ": slides.pptx lies in two free runs";
  }

  // Carved: exactly the deleted files; DFXML and CSV list the pieces too.
  std::string out = Out("free-ext4");
  ASSERT_EQ(RunTool({"carve", Disk("ext4.img"), "-q", "--unallocated", "-o", out, "--report", out + ".xml",
                     "--format", "dfxml"}).status, 0);
  std::multiset<std::string> carved;
  for (const auto& file : CarvedTree(out)) carved.insert(Sha256(file.second));
  EXPECT_EQ(carved, std::multiset<std::string>(deleted.begin(), deleted.end()));
  std::string xml = ReadText(out + ".xml");
  size_t pptx = xml.find("<byte_runs>", xml.find(".pptx<"));
  std::string runs = xml.substr(pptx, xml.find("</byte_runs>", pptx) - pptx);
  EXPECT_NE(runs.find("<byte_run file_offset=\"0\""), std::string::npos) << runs;
  EXPECT_NE(runs.find("<byte_run file_offset=\"3072\""), std::string::npos) << runs;
  ToolResult csv = RunTool({"scan", Disk("fat.img"), "-q", "--unallocated", "--format", "csv"});
  auto rows = ParseCsv(csv.out);
  ASSERT_EQ(rows.size(), 4u) << csv.out;
  EXPECT_EQ(rows[0].back(), "pieces");
  EXPECT_EQ(trcli::SplitList(rows[1].back(), " ").size(), 2u) << rows[1].back();
}

TEST_F(ForensicDisks, FreeSpaceRunsSayWhatWasScannedAndWhatWasLeftOut) {
  ToolResult carve = RunTool({"carve", Disk("mbr.E01"), "--unallocated", "-o", Out("summary")});
  ASSERT_EQ(carve.status, 0) << carve.err;
  for (const char* said : {"EWF image of a 8.00 MiB disk", "partition 1: fat12", "partition 2: ext4",
                           "partition 3: no file system", "space outside the partitions is not scanned",
                           "free space scanned: "})
    EXPECT_NE(carve.out.find(said), std::string::npos) << said << "\n" << carve.out;
}

TEST_F(ForensicDisks, SourcesThatCannotBeReadAsAskedAreRefusedWithoutScanning) {
  namespace fs = std::filesystem;
  auto copySet = [&](const std::string& folder, const std::string& glob) {
    fs::create_directories(Disk(folder));
    for (const auto& entry : fs::directory_iterator(s_dir->path()))
      if (entry.path().filename().string().rfind(glob, 0) == 0)
        fs::copy_file(entry.path(), Disk(folder) / entry.path().filename(), fs::copy_options::overwrite_existing);
  };
  copySet("cut", "mbr.E0");
  fs::resize_file(Disk("cut/mbr.E03"), 400000);
  copySet("gap", "mbr.E0");
  fs::remove(Disk("gap/mbr.E05"));
  copySet("split", "mbr.00");
  fs::remove(Disk("split/mbr.002"));
  struct Case { std::vector<std::string> args; int status; const char* says; };
  for (const Case& c : std::vector<Case>{
           {{"scan", Disk("cut/mbr.E01")}, 3, "mbr.E03 is damaged or cut short"},
           {{"partitions", Disk("cut/mbr.E01")}, 3, "mbr.E03 is damaged"},
           {{"scan", Disk("gap/mbr.E01")}, 3, "segment after"},
           {{"scan", Disk("split/mbr.001")}, 3, "mbr.002 of the split image is missing"},
           {{"scan", Disk("mbr.002")}, 3, "not the first segment"},
           {{"scan", Disk("mbr.img"), "--unallocated", "--partition", "3"}, 3, "holds none that can be read"},
           {{"scan", Disk("mbr.img"), "--partition", "4"}, 3, "there is no partition 4"},
           {{"scan", Disk("ext4.img"), "--partition", "1"}, 3, "no partition table"},
           {{"scan", Disk("mbr.img"), "--source-format", "ewf"}, 3, "as a EWF image"},
           {{"scan", Disk("mbr.img"), "--partition", "1", "--offset", "0"}, 2, "cannot be combined"},
           {{"scan", "-", "--unallocated"}, 3, "need a file"}}) {
    std::vector<std::string> args = c.args;
    if (args[0] == "scan") args.push_back("-q");
    ToolResult result = RunTool(args);
    EXPECT_EQ(result.status, c.status) << args[1] << "\n" << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << args[1];
  }
  // Media without any file system: nothing is free, so nothing is scanned.
  std::vector<uint8_t> noise = ReadBytes(Disk("mbr.img"), 7 * kMiB, 512 * 1024);
  s_dir->Write("noise.img", noise);
  ToolResult none = RunTool({"scan", Disk("noise.img"), "--unallocated"});
  EXPECT_EQ(none.status, 3);
  EXPECT_NE(none.err.find("none that can be read was found"), std::string::npos) << none.err;
  EXPECT_EQ(none.out, "");
  // Partition 3 holds only noise: with no partition named it is left out, not scanned whole.
  ToolResult partial = RunTool({"scan", Disk("mbr.img"), "--unallocated"});
  EXPECT_EQ(partial.status, 0);
  EXPECT_NE(partial.err.find("partition 3: no file system"), std::string::npos) << partial.err;
}

TEST_F(ForensicDisks, FreeSpaceCarveOfAnEwfImageStoppedByAFullDiskResumesToTheSameResult) {
  std::string mountPoint = Out("small");
  SmallDisk small(mountPoint, "40k");
  if (!small.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  std::string full = Out("free-full");
  ASSERT_EQ(RunTool({"carve", Disk("mbr.E01"), "-q", "--unallocated", "-o", full, "--report", full + ".jsonl",
                     "--hash", "sha1"}).status, 0);
  std::string out = mountPoint + "/out", state = Out("free-state");
  ToolResult stopped = RunTool({"carve", Disk("mbr.E01"), "-q", "--unallocated", "-o", out, "--state", state,
                                "--report", Out("free-part.jsonl"), "--hash", "sha1"});
  ASSERT_EQ(stopped.status, 4) << stopped.err;
  ASSERT_TRUE(small.Grow("4m"));
  // The free-space options come back from the state file.
  ToolResult resumed = RunTool({"carve", Disk("mbr.E01"), "-q", "-o", out, "--state", state, "--resume"});
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  // A picture being written at the stop keeps its bytes but not its
  // metadata, which the saved progress does not hold.
  auto withoutPictures = [](std::vector<json> records) {
    for (json& record : records) record.erase("picture");
    return records;
  };
  EXPECT_EQ(withoutPictures(JsonLines(ReadText(Out("free-part.jsonl")))),
            withoutPictures(JsonLines(ReadText(full + ".jsonl"))));
  // Only the file being written when the disk filled up may be short.
  auto expected = CarvedTree(full), carved = CarvedTree(out);
  size_t differ = 0;
  for (const auto& file : expected) differ += carved.count(file.first) == 0 || carved[file.first] != file.second;
  EXPECT_LE(differ, 1u);
}

TEST(CliEvidenceSource, KindIsRecognisedByContentAndNumberedNamesOnlyWithTheirSegments) {
  trtest::TempDir dir;
  auto file = [&](const std::string& name, std::vector<uint8_t> head, size_t size = 4096) {
    head.resize(std::max(head.size(), size), 0x41);
    dir.Write(name, head);
    return dir.path() + "/" + name;
  };
  auto bytes = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
  std::vector<uint8_t> fixedVhd(4096, 0x41);
  std::copy_n("conectix", 8, fixedVhd.end() - 512);
  struct Case { std::string path; trcli::SourceFormat format; };
  for (const Case& c : std::vector<Case>{
           {file("a.bin", bytes(std::string("EVF\x09\x0d\x0a\xff\x00", 8))), trcli::SourceFormat::kEwf},
           {file("b.bin", bytes(std::string("AFF10\x0d\x0a\x00", 8))), trcli::SourceFormat::kAff},
           {file("c.bin", bytes("KDMV")), trcli::SourceFormat::kVmdk},
           {file("d.vmdk", bytes("# Disk DescriptorFile\n")), trcli::SourceFormat::kVmdk},
           {file("e.bin", bytes("conectix")), trcli::SourceFormat::kVhd},
           {file("f.bin", fixedVhd, 0), trcli::SourceFormat::kVhd},
           {file("g.E01", bytes("not an image")), trcli::SourceFormat::kRaw},  // content, not name
           {file("photos.2024", {}), trcli::SourceFormat::kRaw},
           {file("lone.001", {}), trcli::SourceFormat::kRaw},
           {file("pair.001", {}), trcli::SourceFormat::kSplit}}) {
    if (c.path.find("pair.001") != std::string::npos) file("pair.002", {});
    EXPECT_EQ(trcli::DetectSourceFormat(c.path), c.format) << c.path;
  }
  // A plain file whose name ends in a number is read as it is.
  ToolResult year = RunTool({"scan", "-q", dir.path() + "/photos.2024"});
  EXPECT_EQ(year.status, 0) << year.err;
}
