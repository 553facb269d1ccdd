// A carve or scan run: the loop that reads the source strip by strip, feeds
// the library, collects found-file reports, shows progress, saves the state
// every few seconds and on SIGINT/SIGTERM, and stops cleanly when output
// cannot be written.
//
// Carve runs one folder-mode manager: the library writes the files and
// tells of each one it closes; those records (what is on disk) give the
// summary, the optional report and the audit kept in the output folder
// (report.xml, DFXML, written as files close, and report.json, the run
// summary). Scan runs one report-mode manager. Records go out in source
// order. The manager's progress is saved in the state file and loaded back
// on resume.
#ifndef TYPERECOVERY_CLI_SCANNER_H
#define TYPERECOVERY_CLI_SCANNER_H

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ReportWriter.h"

namespace trcli {

struct SegmentLog;

struct RunOptions {
  enum class Mode { kCarve, kScan };
  Mode mode = Mode::kScan;
  std::string source;
  std::string outputDir;   // carve: the output root
  std::string reportPath;  // scan: "" or "-" for standard output; carve: "" for none
  ReportFormat format = ReportFormat::kJsonLines;
  std::string hashName;    // "" for none
  std::vector<std::string> types;
  std::vector<std::string> maxSizes;
  std::optional<uint64_t> restrictedSize;  // --skip-larger: larger files are not kept
  std::optional<uint64_t> minSize;         // smaller files are not kept
  uint32_t minWidth = 0;                   // --min-resolution: pictures smaller
  uint32_t minHeight = 0;                  // in either dimension are not kept
  bool append = false;                     // carve into a folder that holds a carve
  bool dedup = false;                      // carve: a file with an earlier file's bytes is not written again
  bool setMtime = false;                   // carve: pictures get their EXIF original date as modification time
  uint32_t block = 512;
  uint64_t offset = 0;
  std::optional<uint64_t> length;
  std::string sourceFormat = "auto";  // auto, raw, split, ewf, aff, vhd, vmdk
  std::optional<unsigned> partition;  // 1-based, as `partitions` lists them
  bool unallocated = false;           // only the blocks the file system marks free
  bool quiet = false;
  std::string statePath;   // "" for the default
  bool resume = false;
  double autosaveSeconds = 5.0;
  uint32_t chunk = 4u << 20;
  uint32_t lookahead = 64u << 10;
  unsigned jobs = 1;          // analysing threads; 1 is the one-core loop
  uint64_t segmentBytes = 0;  // with jobs > 1: bytes per segment (0: the default)
  unsigned segment = 0, segments = 0;  // --segment K/N: only segment K (from 1) of N
  // merge: every segment's log, joined in place of an analysis
  std::shared_ptr<const std::vector<SegmentLog>> mergedSegments;
  nlohmann::json mergedFrom;  // merge: each segment's run (command line, times), for the summary
  std::string commandLine;
  std::vector<std::string> arguments;  // the command line as given, argv[0] first
  // Options named on the command line (by their long names), so that a
  // resumed run can tell a conflicting option from an omitted one.
  std::set<std::string> given;

  const char* ModeName() const { return mode == Mode::kCarve ? "carve" : "scan"; }
  // The options that decide what a run finds; they must not change on resume.
  nlohmann::json Settings() const;
  // Takes the saved settings; false with a message naming the first option
  // that was given with a different value.
  bool AdoptSettings(const nlohmann::json& saved, std::string* error);
  std::string DefaultStatePath() const;
};

struct ExtensionStats {
  uint64_t files = 0;
  uint64_t complete = 0;
  uint64_t cut = 0;
  uint64_t bytes = 0;
  uint64_t dropped = 0;   // over --skip-larger: not kept
  uint64_t filtered = 0;  // under --min-size or --min-resolution: not kept
};

struct RunStats {
  std::map<std::string, ExtensionStats> byExtension;
  uint64_t bytesScanned = 0;   // over all sessions
  double seconds = 0;          // over all sessions
  uint64_t sessions = 0;
  uint64_t unhashed = 0;       // records whose bytes could not all be read for the digest
  uint64_t duplicates = 0;     // --dedup: found files with an earlier file's bytes, not written again
  uint64_t faults = 0;         // recognizer calls that failed in earlier sessions; their files were dropped

  uint64_t Files() const;
  nlohmann::json ToJson() const;
  static RunStats FromJson(const nlohmann::json& json);
};

// The table printed at the end of a carve.
std::string FormatSummary(const RunStats& stats, const std::string& outputDir);

// "WxH" (for example 640x480), both above zero.
bool ParseResolution(const std::string& text, uint32_t* width, uint32_t* height);

// Valid strip sizes: powers of two from 512 to 1 MiB.
bool IsValidBlock(uint64_t block);

// Runs a carve or scan; answers the process exit status (ExitCodes.h).
int ExecuteRun(RunOptions options);

}  // namespace trcli

#endif
