// The progress display on stderr: a bar redrawn in place on a terminal, a
// plain line every few seconds elsewhere.
#include "ProgressMeter.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "Platform.h"
#include "Sizes.h"

namespace trcli {
namespace {

std::string Rate(const ProgressSnapshot& s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB/s", Throughput(s.sessionBytes, s.seconds));
  return text;
}

std::string Eta(const ProgressSnapshot& s) {
  if (!s.total || s.sessionBytes == 0 || s.seconds <= 0) return "-:--";
  double rate = static_cast<double>(s.sessionBytes) / s.seconds;
  uint64_t left = *s.total > s.done ? *s.total - s.done : 0;
  return FormatDuration(static_cast<double>(left) / rate);
}

std::string Files(uint64_t files) {
  return std::to_string(files) + (files == 1 ? " file" : " files");
}

int TerminalWidth(FILE* stream) {
  int columns = platform::TerminalColumns(stream);
  return columns > 20 ? columns : 80;
}

}  // namespace

double Throughput(uint64_t bytes, double seconds) {
  return seconds > 0 ? static_cast<double>(bytes) / 1048576.0 / seconds : 0.0;
}

std::string FormatBar(const ProgressSnapshot& s, int width) {
  const int room = std::max(1, width - 1);  // the last column would wrap
  // Pieces in the order they are given up when the line is too wide.
  std::vector<std::string> pieces;
  char percent[16] = "";
  double fraction = 0;
  const bool known = s.total && *s.total > 0;
  if (known) {
    fraction = std::min(1.0, static_cast<double>(s.done) / static_cast<double>(*s.total));
    std::snprintf(percent, sizeof percent, "%5.1f%%", fraction * 100.0);
    pieces = {FormatBytes(s.done) + " / " + FormatBytes(*s.total), Rate(s), "ETA " + Eta(s)};
  } else {
    pieces = {FormatBytes(s.done), Rate(s)};
  }
  const std::string files = Files(s.files);
  auto tailOf = [&](size_t kept) {
    std::string tail = percent;
    for (size_t i = pieces.size() - kept; i < pieces.size(); ++i) tail += (tail.empty() ? "" : "  ") + pieces[i];
    return tail + (tail.empty() ? "" : "  ") + files;
  };
  constexpr int kMinBar = 10, kMaxBar = 40;
  const int frame = known ? 4 : 0;  // "[" "]" and two spaces
  size_t kept = pieces.size();
  while (kept > 0 && static_cast<int>(tailOf(kept).size()) + (known ? kMinBar + frame : 0) > room) --kept;
  const std::string tail = tailOf(kept);
  if (!known) return tail;
  const int barWidth = std::min(kMaxBar, room - static_cast<int>(tail.size()) - frame);
  if (barWidth < kMinBar) return tail;
  const int filled = static_cast<int>(fraction * barWidth);
  return "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]  " + tail;
}

std::string FormatLine(const ProgressSnapshot& s) {
  if (s.total && *s.total > 0) {
    char percent[16];
    double fraction = std::min(1.0, static_cast<double>(s.done) / static_cast<double>(*s.total));
    std::snprintf(percent, sizeof percent, "%.1f%%", fraction * 100.0);
    return std::string(percent) + " " + FormatBytes(s.done) + " of " + FormatBytes(*s.total) + ", " +
           Rate(s) + ", ETA " + Eta(s) + ", " + Files(s.files) + " found";
  }
  return FormatBytes(s.done) + ", " + Rate(s) + ", " + Files(s.files) + " found";
}

ProgressMeter::Style ProgressMeter::Choose(bool quiet, FILE* stream) {
  if (quiet) return Style::kOff;
  return platform::IsTerminal(stream) ? Style::kBar : Style::kLines;
}

ProgressMeter::ProgressMeter(Style style, FILE* stream, double linePeriodSeconds)
    : m_style(style), m_stream(stream), m_period(linePeriodSeconds) {
  // Plain lines start after one period: short runs print none.
  if (style == Style::kLines) m_lastDraw = 0;
}

void ProgressMeter::Update(const ProgressSnapshot& snapshot) {
  if (m_style == Style::kOff) return;
  double period = m_style == Style::kBar ? 0.2 : m_period;
  if (snapshot.seconds - m_lastDraw < period) return;
  m_lastDraw = snapshot.seconds;
  if (m_style == Style::kBar) {
    int width = TerminalWidth(m_stream);
    const std::string line = FormatBar(snapshot, width);
    std::fprintf(m_stream, "\r%s\x1b[K", line.c_str());
    m_drawn = true;
  } else {
    std::fprintf(m_stream, "typerecovery: %s\n", FormatLine(snapshot).c_str());
  }
  std::fflush(m_stream);
}

void ProgressMeter::Finish() {
  if (m_style == Style::kBar && m_drawn) {
    std::fprintf(m_stream, "\r\x1b[K");
    std::fflush(m_stream);
  }
  m_drawn = false;
}

}  // namespace trcli
