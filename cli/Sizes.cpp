// Sizes read from the command line (byte counts, K/M/G/T suffixes, hex) and
// written for people.
#include "Sizes.h"

#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace trcli {

std::optional<uint64_t> ParseSize(const std::string& text) {
  size_t i = 0;
  uint64_t value = 0;
  bool any = false;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    for (i = 2; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
      if (value >> 60) return std::nullopt;
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
      value = value * 16 + static_cast<uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
      any = true;
    }
    if (!any || i != text.size()) return std::nullopt;
    return value;
  }
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    any = true;
  }
  if (!any) return std::nullopt;
  std::string suffix;
  for (; i < text.size(); ++i) suffix += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  int shift;
  if (suffix.empty() || suffix == "B") shift = 0;
  else if (suffix == "K" || suffix == "KB" || suffix == "KIB") shift = 10;
  else if (suffix == "M" || suffix == "MB" || suffix == "MIB") shift = 20;
  else if (suffix == "G" || suffix == "GB" || suffix == "GIB") shift = 30;
  else if (suffix == "T" || suffix == "TB" || suffix == "TIB") shift = 40;
  else return std::nullopt;
  if (shift > 0 && (value >> (64 - shift)) != 0) return std::nullopt;
  return value << shift;
}

std::string FormatBytes(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  char text[48];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%" PRIu64 " B", bytes);
    return text;
  }
  double value = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (value >= 1024.0 && unit < 4) {
    value /= 1024.0;
    ++unit;
  }
  std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : (value < 100 ? "%.1f %s" : "%.0f %s"),
                value, kUnits[unit]);
  return text;
}

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || std::isinf(seconds)) return "-:--";
  uint64_t total = static_cast<uint64_t>(seconds + 0.5);
  char text[48];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u", total / 3600,
                  static_cast<unsigned>(total / 60 % 60), static_cast<unsigned>(total % 60));
  } else {
    std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(total / 60),
                  static_cast<unsigned>(total % 60));
  }
  return text;
}

}  // namespace trcli
