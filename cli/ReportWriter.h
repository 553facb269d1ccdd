// Report records of found files and the three formats they are written in:
// JSON Lines (one object per line), CSV (a header line, then one row per
// file) and DFXML (the digital-forensics XML report: one fileobject per file
// with filename, filesize, a byte_run and, when hashing, a hashdigest).
//
// Writers only produce text: a header, one piece per record and a footer.
// The caller owns the stream, so that a resumed run can cut a report back to
// where the state was saved and append to it.
#ifndef TYPERECOVERY_CLI_REPORTWRITER_H
#define TYPERECOVERY_CLI_REPORTWRITER_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MediaMap.h"
#include "typerecovery.h"

namespace trcli {

struct PictureData {
  uint32_t typeCode = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  std::string software, exifVersion, make, model;
  std::string dateTimeOriginal, dateTime;  // ISO 8601 ("2021-07-04T13:22:05"), empty when absent
  std::string latitudeRef, longitudeRef, altitudeRef;
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
  bool HasGps() const;
};

PictureData FromPictureInfo(const tag_PictureInfo& info);

struct FoundFile {
  uint64_t offset = 0;  // in the media: where the first byte lies
  uint64_t size = 0;
  uint32_t typeCode = 0;
  std::string extension;
  bool complete = false;
  std::optional<PictureData> picture;
  std::string hash;  // lower-case hex, empty when not hashed
  // Carve: the written file's path below the output folder ("jpg/00000.jpg").
  std::string path;
  // Carve with --dedup: the written file with the same bytes, when this one
  // was not written again (path is then empty).
  std::string duplicateOf;
  // Carve: the first leadIn bytes of the written file are zeros the format's
  // rules put in place of source bytes; the rest is the source from
  // offset + leadIn on.
  uint64_t leadIn = 0;
  // Where the file's source bytes begin in the stream the library saw (the
  // free-space stream with --unallocated, else the media).
  uint64_t streamStart = 0;
  // Found in free space: the media pieces that hold the file, in order.
  std::vector<MediaRun> pieces;
  // Some of the file's source bytes could not be read and are zeros in the
  // written file and in its digest.
  bool zeroFilled = false;
  // The pieces, or the one run offset..size of a file found in the media itself.
  std::vector<MediaRun> Runs() const;
};

enum class ReportFormat { kJsonLines, kCsv, kDfxml };
bool ParseReportFormat(const std::string& name, ReportFormat* format);
const char* ReportFormatName(ReportFormat format);

// What the writers say about the run as a whole.
struct ReportContext {
  std::string sourcePath;
  std::string hashName;  // empty when not hashing
  std::string commandLine;
  std::string startTime;  // UTC, ISO 8601; empty when not known
  bool carve = false;     // records name written files
  bool pieced = false;    // files were found in free space: records list their pieces
  bool dedup = false;     // carve with --dedup: records may point at an earlier file
};

// How a run ended, for the writers that say so at their end (DFXML).
struct RunEnd {
  RunEnd(std::string status_ = "", std::string endTime_ = "", std::string detail_ = "", bool withUsage_ = false)
      : status(std::move(status_)), endTime(std::move(endTime_)), detail(std::move(detail_)), withUsage(withUsage_) {}
  std::string status;   // "running", "finished", "interrupted", "failed"
  std::string endTime;  // UTC, ISO 8601; empty while running
  std::string detail;   // why it stopped, when it did
  bool withUsage = false;  // add the process's resource usage
  std::vector<MediaRun> unreadable;  // regions of the source read as zeros
  uint64_t faults = 0;               // recognizer calls that failed; their files were dropped
};

class ReportWriter {
 public:
  virtual ~ReportWriter() = default;
  virtual std::string Header() const = 0;
  virtual std::string Record(const FoundFile& file) const = 0;
  // The end of the report; end describes the run (DFXML only).
  virtual std::string Footer(const RunEnd& end = RunEnd()) const = 0;
};

std::unique_ptr<ReportWriter> MakeReportWriter(ReportFormat format, const ReportContext& context);

// The name a found file is given in reports: its path below the output
// folder when it was written, else its offset and extension.
std::string ReportFileName(const FoundFile& file);

// The current time, UTC, as ISO 8601 ("2026-01-31T12:00:00Z").
std::string UtcNow();

// The tool's own XML namespace in DFXML reports.
extern const char* const kToolXmlNamespace;

}  // namespace trcli

#endif
