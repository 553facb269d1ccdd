// Photo dates: the EXIF date fields of a picture ("2021:07:04 13:22:05", the
// camera's wall clock, no zone) as ISO 8601 text for reports, and as the
// modification time of a carved picture for --set-mtime, so that recovered
// photos sort by when they were taken.
#ifndef TYPERECOVERY_CLI_PHOTODATES_H
#define TYPERECOVERY_CLI_PHOTODATES_H

#include <ctime>
#include <optional>
#include <string>

namespace trcli {

// "2021-07-04T13:22:05" from an EXIF date ("2021:07:04 13:22:05"; dashes or
// slashes between the date's parts are read too, and a fraction of a second
// or a zone offset that follows is kept: "...:05.25+02:00"). Empty for text
// that is not a date: blank, all zeros as cameras write for "unknown", or
// out-of-range parts.
std::string ExifDateToIso(const std::string& exif);

// The moment an ISO date from ExifDateToIso stands for: with its offset when
// it has one, else read as this computer's local time (as the camera's wall
// clock is); whole seconds.
std::optional<std::time_t> IsoDateToTime(const std::string& iso);

// Sets the modification time of the file at path, leaving its access time.
bool SetModificationTime(const std::string& path, std::time_t when);

}  // namespace trcli

#endif
