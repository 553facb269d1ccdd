#include "Merge.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "ExitCodes.h"
#include "Message.h"
#include "Scanner.h"
#include "Segment.h"

namespace trcli {
namespace {

struct Partial {
  std::string path;
  std::filesystem::path folder;  // where its root names start
  nlohmann::json json;
};

bool ReadJson(const std::filesystem::path& path, nlohmann::json* json) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  *json = nlohmann::json::parse(text.str(), nullptr, false);
  return json->is_object() && json->contains("typerecovery_partial");
}

// The partial-result files an argument names: itself, or those in a folder
// (a carve's output folder keeps them in .typerecovery-segments).
bool Collect(const std::string& argument, std::vector<Partial>* partials, std::string* error) {
  const std::filesystem::path given = std::filesystem::u8path(argument);
  std::error_code failed;
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(given, failed)) {
    std::filesystem::path folder = std::filesystem::u8path(SegmentsFolder(argument));
    if (!std::filesystem::is_directory(folder, failed)) folder = given;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failed))
      if (entry.is_regular_file() && entry.path().extension() == ".json") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
  } else {
    files.push_back(given);
  }
  size_t found = 0;
  for (const auto& file : files) {
    Partial partial;
    if (!std::filesystem::exists(file, failed)) {
      *error = "no such file or folder: " + argument;
      return false;
    }
    if (!ReadJson(file, &partial.json)) {
      if (files.size() == 1 && !std::filesystem::is_directory(given, failed)) {
        *error = argument + " is not a partial result of 'scan --segment' or 'carve --segment'";
        return false;
      }
      continue;  // another JSON file in the folder
    }
    partial.path = file.u8string();
    partial.folder = file.parent_path();
    partials->push_back(std::move(partial));
    ++found;
  }
  if (found == 0) {
    *error = "no partial result in " + argument;
    return false;
  }
  return true;
}

// What must be the same in every partial of one run, with its name in a message.
const std::pair<const char*, const char*> kMustMatch[] = {
    {"command", "command"},   {"segments", "number of segments"}, {"source", "source"},
    {"settings", "options"},  {"codes", "types"},                 {"segment_bytes", "cut"}};

}  // namespace

int ExecuteMerge(const MergeOptions& options) {
  std::vector<Partial> partials;
  std::string error;
  for (const std::string& argument : options.partials) {
    if (!Collect(argument, &partials, &error)) {
      Message(error);
      return kExitUsage;
    }
  }
  std::vector<SegmentLog> segments;
  RunOptions run;
  try {
    const nlohmann::json& first = partials.front().json;
    for (const Partial& partial : partials) {
      for (const auto& field : kMustMatch) {
        if (partial.json.at(field.first) != first.at(field.first)) {
          Message(partial.path + " and " + partials.front().path + " differ in their " + field.second +
                  ": merge only the segments of one run");
          return kExitUsage;
        }
      }
    }
    const unsigned count = first.at("segments").get<unsigned>();
    std::map<unsigned, const Partial*> bySegment;
    for (const Partial& partial : partials) {
      const unsigned k = partial.json.at("segment").get<unsigned>();
      if (k < 1 || k > count) throw nlohmann::json::other_error::create(501, "segment out of range", &partial.json);
      if (bySegment.count(k)) {
        Message("segment " + std::to_string(k) + " of " + std::to_string(count) + " is given twice (" +
                bySegment[k]->path + ", " + partial.path + ")");
        return kExitUsage;
      }
      bySegment[k] = &partial;
    }
    std::string missing;
    for (unsigned k = 1; k <= count; ++k)
      if (!bySegment.count(k)) missing += (missing.empty() ? "" : ", ") + std::to_string(k);
    if (!missing.empty()) {
      Message("segment(s) " + missing + " of " + std::to_string(count) +
              " missing: run them with --segment K/" + std::to_string(count) + " and merge all " +
              std::to_string(count));
      return kExitUsage;
    }
    // The segments of the cut in source order; a short range has fewer than asked.
    const nlohmann::json& source = first.at("source");
    const uint64_t start = source.at("start").get<uint64_t>(), end = source.at("end").get<uint64_t>();
    const uint64_t step = first.at("segment_bytes").get<uint64_t>();
    for (unsigned k = 1; k <= count && start + uint64_t{k - 1} * step < end; ++k) {
      const Partial& partial = *bySegment[k];
      SegmentLog log = SegmentLogFromJson(partial.json.at("result"));
      if (!log.root.empty()) log.root = (partial.folder / std::filesystem::u8path(log.root)).u8string();
      segments.push_back(std::move(log));
    }
    run.mode = first.at("command") == "carve" ? RunOptions::Mode::kCarve : RunOptions::Mode::kScan;
    if (!run.AdoptSettings(first.at("settings"), &error)) {
      Message(partials.front().path + ": " + error);
      return kExitUsage;
    }
    run.source = source.at("path").get<std::string>();
    run.mergedFrom = nlohmann::json::array();
    for (const auto& [k, partial] : bySegment)
      run.mergedFrom.push_back({{"segment", k},
                                {"command_line", partial->json.value("command_line", "")},
                                {"start_time", partial->json.value("start_time", "")},
                                {"end_time", partial->json.value("end_time", "")}});
    run.segmentBytes = step;
  } catch (const nlohmann::json::exception& e) {
    Message(std::string("a damaged partial result (") + e.what() + ")");
    return kExitUsage;
  }
  if (run.mode == RunOptions::Mode::kCarve) {
    run.outputDir = options.output;
    if (run.outputDir.empty()) {
      // Partials in OUT/.typerecovery-segments merge into OUT.
      for (const Partial& partial : partials) {
        std::string folder = partial.folder.parent_path().u8string();
        if (partial.folder.filename() != ".typerecovery-segments" || (!run.outputDir.empty() && folder != run.outputDir)) {
          Message("the partial results lie in more than one output folder: name the merged one with -o DIR");
          return kExitUsage;
        }
        run.outputDir = folder;
      }
    }
  } else {
    run.reportPath = options.output;
  }
  // The source must still be the one the segments read.
  SourceReader reader;
  if (!OpenSegmentSource(run, &reader, &error)) {
    Message(error);
    return kExitSource;
  }
  if (SourceIdentity(run, reader) != partials.front().json["source"]) {
    Message(run.source + " is not the source the partial results were made of (its size, range or first bytes "
            "differ)");
    return kExitUsage;
  }
  run.quiet = options.quiet;
  run.jobs = 2;
  run.commandLine = options.commandLine;
  // Should the merge be stopped, its state resumes as a carve or scan.
  run.arguments = {"typerecovery", run.ModeName(), run.source, "-o",
                   run.mode == RunOptions::Mode::kCarve ? run.outputDir : run.reportPath};
  run.mergedSegments = std::make_shared<const std::vector<SegmentLog>>(std::move(segments));
  const int status = ExecuteRun(run);
  if (status == kExitOk && run.mode == RunOptions::Mode::kCarve) {
    // The files no segment's joined results name, and the partials, are done with.
    std::error_code ignored;
    for (const Partial& partial : partials) {
      std::filesystem::path root = std::filesystem::u8path(partial.path);
      std::filesystem::remove_all(root.replace_extension(), ignored);
      std::filesystem::remove(std::filesystem::u8path(partial.path), ignored);
      if (partial.folder.filename() == ".typerecovery-segments") std::filesystem::remove(partial.folder, ignored);
    }
  }
  return status;
}

}  // namespace trcli
