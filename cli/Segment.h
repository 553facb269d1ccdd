// A run on many machines: `scan/carve --segment K/N` does segment K's share
// of the source, on to where its results meet the next segment's, and
// writes a partial result (a JSON file; for a carve its files wait below
// the output folder under temporary names). `merge` (Merge.h) joins the N
// partial results into what one run gives.
#ifndef TYPERECOVERY_CLI_SEGMENT_H
#define TYPERECOVERY_CLI_SEGMENT_H

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "Parallel.h"
#include "Scanner.h"
#include "SourceReader.h"

namespace trcli {

// Where a carve's partial results wait: OUT/.typerecovery-segments.
std::string SegmentsFolder(const std::string& outputDir);
// "K-of-N".
std::string SegmentName(unsigned segment, unsigned segments);

// "K/N" with 1 <= K <= N <= 100000.
bool ParseSegment(const std::string& text, unsigned* segment, unsigned* segments);

// The bytes of every segment when the range start..end is cut into `count`:
// whole blocks, the last segment the shortest.
uint64_t SegmentStep(uint64_t start, uint64_t end, unsigned count, uint32_t block);

// Opens the run's source as the workers of a segment read it: a file or
// device read directly, of known length. False with a message otherwise.
bool OpenSegmentSource(const RunOptions& options, SourceReader* reader, std::string* error);
// What identifies the source and its scanned range: path, size, range and
// the digest of the range's first bytes.
nlohmann::json SourceIdentity(const RunOptions& options, SourceReader& reader);
// The options that decide what a run finds (not where it writes).
nlohmann::json FindingSettings(const RunOptions& options);

nlohmann::json SegmentLogToJson(const SegmentLog& log);
// Throws nlohmann::json::exception on a log of the wrong shape.
SegmentLog SegmentLogFromJson(const nlohmann::json& json);

// Runs segment options.segment of options.segments; answers the exit status.
int ExecuteSegment(RunOptions options);

}  // namespace trcli

#endif
