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
#include <vector>

#include "MediaMap.h"
#include "typerecovery.h"

namespace trcli {

struct PictureData {
  uint32_t typeCode = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  std::string software, exifVersion, make, model, dateTimeOriginal, dateTime;
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
  // Found in free space: the media pieces that hold the file, in order.
  std::vector<MediaRun> pieces;
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
  bool pieced = false;  // files were found in free space: records list their pieces
};

class ReportWriter {
 public:
  virtual ~ReportWriter() = default;
  virtual std::string Header() const = 0;
  virtual std::string Record(const FoundFile& file) const = 0;
  virtual std::string Footer() const = 0;
};

std::unique_ptr<ReportWriter> MakeReportWriter(ReportFormat format, const ReportContext& context);

// The name a found file is given in reports: its offset and extension.
std::string ReportFileName(const FoundFile& file);

}  // namespace trcli

#endif
