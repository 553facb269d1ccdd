// EXIF dates turned into ISO 8601 text and into a file's modification time.
#include "PhotoDates.h"

#include <cctype>
#include <cstdio>

#include "Platform.h"

namespace trcli {
namespace {

// Reads count digits at text[at]; false when any is not a digit.
bool Digits(const std::string& text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian calendar).
long long DaysFromEpoch(int year, int month, int day) {
  const int y = year - (month <= 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yearOfEra = y - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::string ExifDateToIso(const std::string& exif) {
  // YYYY?MM?DD?hh:mm:ss with the date separator one of ':', '-', '/' and a
  // space or 'T' before the time.
  int year, month, day, hour, minute, second;
  if (!Digits(exif, 0, 4, &year) || !Digits(exif, 5, 2, &month) || !Digits(exif, 8, 2, &day) ||
      !Digits(exif, 11, 2, &hour) || !Digits(exif, 14, 2, &minute) || !Digits(exif, 17, 2, &second))
    return "";
  const char separator = exif[4];
  if ((separator != ':' && separator != '-' && separator != '/') || exif[7] != separator ||
      (exif[10] != ' ' && exif[10] != 'T') || exif[13] != ':' || exif[16] != ':')
    return "";
  if (year == 0 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60)
    return "";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
  std::string iso = text;
  // What follows the seconds: a fraction, then a zone ("Z" or +hh:mm).
  size_t at = 19;
  if (at < exif.size() && exif[at] == '.') {
    size_t end = at + 1;
    while (end < exif.size() && std::isdigit(static_cast<unsigned char>(exif[end]))) ++end;
    if (end > at + 1) iso += exif.substr(at, end - at);
    at = end;
  }
  int zoneHour, zoneMinute;
  if (at < exif.size() && exif[at] == 'Z') {
    iso += 'Z';
  } else if (at < exif.size() && (exif[at] == '+' || exif[at] == '-') && Digits(exif, at + 1, 2, &zoneHour) &&
             at + 3 < exif.size() && exif[at + 3] == ':' && Digits(exif, at + 4, 2, &zoneMinute) &&
             zoneHour <= 14 && zoneMinute <= 59) {
    iso += exif.substr(at, 6);
  }
  return iso;
}

std::optional<std::time_t> IsoDateToTime(const std::string& iso) {
  int year, month, day, hour, minute, second;
  if (!Digits(iso, 0, 4, &year) || !Digits(iso, 5, 2, &month) || !Digits(iso, 8, 2, &day) ||
      !Digits(iso, 11, 2, &hour) || !Digits(iso, 14, 2, &minute) || !Digits(iso, 17, 2, &second) ||
      month < 1 || month > 12 || day < 1 || day > 31)
    return std::nullopt;
  size_t at = 19;
  if (at < iso.size() && iso[at] == '.')
    for (++at; at < iso.size() && std::isdigit(static_cast<unsigned char>(iso[at]));) ++at;
  int zoneHour, zoneMinute;
  if (at < iso.size() && iso[at] == 'Z')
    return static_cast<std::time_t>(DaysFromEpoch(year, month, day) * 86400LL + hour * 3600 + minute * 60 + second);
  if (at < iso.size() && (iso[at] == '+' || iso[at] == '-') && Digits(iso, at + 1, 2, &zoneHour) &&
      Digits(iso, at + 4, 2, &zoneMinute)) {
    const long long offset = (zoneHour * 3600LL + zoneMinute * 60LL) * (iso[at] == '-' ? -1 : 1);
    return static_cast<std::time_t>(DaysFromEpoch(year, month, day) * 86400LL + hour * 3600 + minute * 60 +
                                    second - offset);
  }
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;  // the zone's rules decide whether summer time applied then
  const std::time_t when = std::mktime(&local);
  if (when == static_cast<std::time_t>(-1)) return std::nullopt;
  return when;
}

bool SetModificationTime(const std::string& path, std::time_t when) {
  return platform::SetModificationTime(path, when);
}

}  // namespace trcli
