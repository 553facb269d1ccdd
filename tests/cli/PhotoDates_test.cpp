// EXIF dates as cameras and editors write them, read into ISO 8601 and into
// the moment they stand for.
#include <gtest/gtest.h>

#include "PhotoDates.h"

namespace {

TEST(PhotoDates, ExifTextBecomesIsoOrNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"2021:07:04 13:22:05", "2021-07-04T13:22:05"},
      {"2021-07-04 13:22:05", "2021-07-04T13:22:05"},
      {"2021:07:04 13:22:05.25+02:00", "2021-07-04T13:22:05.25+02:00"},
      {"2024:02:29 00:00:00", "2024-02-29T00:00:00"},
      {"0000:00:00 00:00:00", ""},  // "unknown", as many cameras write it
      {"                   ", ""},
      {"2023:02:29 10:00:00", ""},  // no such day
      {"2021:13:04 13:22:05", ""},
      {"2021:07:04 24:00:00", ""},
      {"2021:07-04 13:22:05", ""},
      {"2021:07:04", ""}};
  for (const auto& [exif, iso] : cases) EXPECT_EQ(trcli::ExifDateToIso(exif), iso) << exif;
  // With an offset the moment is exact; without one it is this computer's
  // local time, as the camera's clock was.
  EXPECT_EQ(trcli::IsoDateToTime("2021-07-04T13:22:05+02:00"), std::optional<std::time_t>(1625397725));
  EXPECT_EQ(trcli::IsoDateToTime("2021-07-04T11:22:05.5Z"), std::optional<std::time_t>(1625397725));
  std::tm local{};
  local.tm_year = 121, local.tm_mon = 6, local.tm_mday = 4, local.tm_hour = 13, local.tm_min = 22, local.tm_sec = 5;
  local.tm_isdst = -1;
  EXPECT_EQ(trcli::IsoDateToTime("2021-07-04T13:22:05"), std::optional<std::time_t>(std::mktime(&local)));
}

}  // namespace
