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
#include <vector>

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
  // Recognizer failures of the joined strips (each dropped the file it followed).
  virtual void JoinFaults(uint64_t count) { (void)count; }
};

// What a manager told during one strip: a found file (report mode) or a
// closed one (folder mode), its path below the segment's folder.
struct SegmentEvent {
  bool closed = false;
  std::u16string extension, path;
  uint32_t disposition = 0, typeCode = 0, complete = 0;
  uint64_t fileStart = 0, size = 0, leadIn = 0, expectedSize = 0, unwritten = 0;
  bool hasPicture = false;
  tag_PictureInfo picture{};
};

// A strip that told something or changed the oldest file still followed.
struct SegmentEntry {
  uint64_t position = 0, next = 0;
  bool flush = false;  // the end of the range: what the flush ended
  uint64_t faults = 0;  // recognizer failures the manager counted in the strip
  std::vector<SegmentEvent> events;
  std::optional<uint64_t> oldest;  // after the strip
};

// One segment's manager from the segment's first strip to where it handed
// over: everything the join needs of it.
struct SegmentLog {
  uint64_t begin = 0, end = 0;
  std::string root;  // carve: the folder its manager wrote in
  std::vector<SegmentEntry> log;
  uint64_t stop = 0;
  long handOver = -1;  // the segment that took over at stop; -1 at the range's end
};

struct ParallelSettings {
  unsigned jobs = 2;
  uint64_t segmentBytes = 64u << 20;  // rounded to whole strips
  uint64_t start = 0, end = 0;        // the scanned range
  uint32_t block = 512;
  std::string outputDir;              // carve: the output folder; scan: ""
  // carve: segment k writes below partsDir/k ("": outputDir/.typerecovery-parts)
  std::string partsDir;
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

// Runs only segment `index` of the cut (for a run on many machines), on to
// where it hands over; the managers of later segments are run only as far
// as that question needs. Its log goes to *result, its files stay below
// partsDir/index.
ParallelOutcome RunOneSegment(ParallelHost& host, const ParallelSettings& settings, size_t index,
                              SegmentLog* result);

// Joins the logs of every segment of the cut (as RunOneSegment made them)
// into host, as RunParallel joins them.
ParallelOutcome JoinSegmentLogs(ParallelHost& host, const ParallelSettings& settings,
                                const std::vector<SegmentLog>& segments);

// The number of a numbered output name ("jpg(001)\01234.jpg" or
// "jpg/01234.jpg"), and the same name with another number.
std::optional<uint32_t> OutputNumber(const std::string& path);
std::string RenumberedPath(const std::string& path, uint32_t number);

}  // namespace trcli

#endif
