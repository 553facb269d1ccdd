// A run on many cores whose results are those of one core: the source is cut
// into segments at strip boundaries, one manager analyses each, and the
// results are joined in source order (Parallel.cpp tells why they are the
// same).
#ifndef TYPERECOVERY_CLI_PARALLEL_H
#define TYPERECOVERY_CLI_PARALLEL_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "SourceReader.h"
#include "typerecovery.h"

namespace trcli {

// Where the joined results go: the run that would have made them on one core.
class ParallelHost {
 public:
  virtual ~ParallelHost() = default;
  // A manager set up as the run's own (types, sizes, numbers used so far),
  // folder mode below root when root is not empty, else report mode; its
  // callbacks are the ones given.
  virtual CTypeRecoveryManager* NewWorkerManager(const std::string& root, uintptr_t user,
                                                 TypeRecoveryFoundFileFn found,
                                                 TypeRecoveryFileClosedFn closed) = 0;
  // A reader of the run's source from position `from` to the run's end.
  virtual bool OpenWorkerReader(SourceReader* reader, uint64_t from, std::string* error) = 0;
  // The joined results, in the order a one-core run met them.
  virtual void JoinFound(const char16_t* extension, uint64_t fileStart, uint64_t size, uint32_t complete,
                         const tag_PictureInfo* picture) = 0;
  virtual void JoinClosed(const tag_ClosedFileInfo& info) = 0;
  // The end of a strip that told something or changed the oldest file still
  // followed (nullopt: none); strips in between told nothing and kept it.
  virtual void JoinStripEnd(uint64_t next, std::optional<uint64_t> oldest) = 0;
};

struct ParallelSettings {
  unsigned jobs = 2;
  uint64_t segmentBytes = 64u << 20;  // rounded to whole strips
  uint64_t start = 0, end = 0;        // the scanned range
  uint32_t block = 512;
  std::string outputDir;              // carve: the output folder; scan: ""
  const volatile int* stopFlag = nullptr;
  // Called at every point where the joined results are those of a one-core
  // run stopped there with no recognizer active (a state can be saved);
  // answers false to stop the run there.
  std::function<bool(uint64_t position)> atRest;
  // Called about five times a second with the bytes analysed so far.
  std::function<void(uint64_t done)> progress;
};

struct ParallelOutcome {
  // kUnreadable: a block of the source could not be read past position;
  // one core goes on from there, and counts and records such blocks.
  enum class Status { kFinished, kStopped, kFailed, kUnreadable };
  Status status = Status::kFinished;
  uint64_t position = 0;  // where the joined results end (a point at rest)
  std::string error;      // kFailed
  bool outputFailed = false;  // kFailed because found files could not be written
};

// Runs the segments on settings.jobs threads and joins their results into
// host. Answers where the joined results end and why.
ParallelOutcome RunParallel(ParallelHost& host, const ParallelSettings& settings);

// The number of a numbered output name ("jpg(001)\01234.jpg" or
// "jpg/01234.jpg"), and the same name with another number.
std::optional<uint32_t> OutputNumber(const std::string& path);
std::string RenumberedPath(const std::string& path, uint32_t number);

}  // namespace trcli

#endif
