// `typerecovery merge PARTIAL...`: joins the partial results of the
// segments of one source (Segment.h) into the report, audit, summary and
// folder that one run over the whole source gives.
#ifndef TYPERECOVERY_CLI_MERGE_H
#define TYPERECOVERY_CLI_MERGE_H

#include <string>
#include <vector>

namespace trcli {

struct MergeOptions {
  // Partial-result files, or folders holding them (a carve's output folder).
  std::vector<std::string> partials;
  std::string output;  // carve: the folder ("" : the partials' own); scan: the report ("" : standard output)
  bool quiet = false;
  std::string commandLine;
};

// Answers the exit status (ExitCodes.h): 2 when the partials do not form one
// whole run (another source, other options, a segment missing or twice).
int ExecuteMerge(const MergeOptions& options);

}  // namespace trcli

#endif
