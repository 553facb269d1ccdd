// Progress on stderr: a bar redrawn in place when stderr is a terminal
// (percent, bytes done, MB/s, ETA, files found so far), a plain line every
// few seconds when it is not, or nothing at all.
#ifndef TYPERECOVERY_CLI_PROGRESSMETER_H
#define TYPERECOVERY_CLI_PROGRESSMETER_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace trcli {

struct ProgressSnapshot {
  uint64_t done = 0;                 // bytes of the range scanned
  std::optional<uint64_t> total;     // bytes of the range, when known
  double seconds = 0;                // elapsed in this session
  uint64_t sessionBytes = 0;         // bytes scanned in this session (for the rate)
  uint64_t files = 0;
};

// Mebibytes (2^20 bytes) per second, the unit sizes are shown in; 0 for no time.
double Throughput(uint64_t bytes, double seconds);

// "[#######.....]  35.2%  12.0 MiB / 34.1 MiB  48.3 MiB/s  ETA 0:01  7 files",
// at most width - 1 columns: a narrow terminal drops the sizes, then the
// speed, then the ETA, and shortens the bar; the file count always shows.
std::string FormatBar(const ProgressSnapshot& snapshot, int width);
// "35.2% 12.0 MiB of 34.1 MiB, 48.3 MiB/s, ETA 0:01, 7 files found"
std::string FormatLine(const ProgressSnapshot& snapshot);

class ProgressMeter {
 public:
  enum class Style { kBar, kLines, kOff };
  // The style a run gets: nothing when quiet, the bar on a terminal, lines otherwise.
  static Style Choose(bool quiet, FILE* stream);

  ProgressMeter(Style style, FILE* stream, double linePeriodSeconds = 10.0);
  // Cheap to call often: draws only when the period has passed.
  void Update(const ProgressSnapshot& snapshot);
  // Clears the bar line so that later messages start on a clean line.
  void Finish();

 private:
  Style m_style;
  FILE* m_stream;
  double m_period;
  double m_lastDraw = -1e9;
  bool m_drawn = false;
};

}  // namespace trcli

#endif
