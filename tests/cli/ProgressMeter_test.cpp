// The progress bar at the widths terminals have: it never wraps, and the
// file count is the last thing it gives up (never).
#include <gtest/gtest.h>

#include "ProgressMeter.h"

namespace {

TEST(ProgressMeter, BarFitsTheTerminalAndKeepsTheFileCount) {
  trcli::ProgressSnapshot s;
  s.done = 12345678901;
  s.total = 98765432109;
  s.seconds = 100;
  s.sessionBytes = s.done;
  s.files = 1234567;
  for (int width : {40, 60, 70, 80, 200}) {
    const std::string bar = trcli::FormatBar(s, width);
    EXPECT_LT(static_cast<int>(bar.size()), width) << bar;
    EXPECT_NE(bar.find("1234567 files"), std::string::npos) << width << ": " << bar;
    EXPECT_NE(bar.find("12.5%"), std::string::npos) << width << ": " << bar;
  }
  EXPECT_NE(trcli::FormatBar(s, 60).find("MiB/s"), std::string::npos);  // sizes and speeds in one unit system
  EXPECT_NE(trcli::FormatBar(s, 60).find("["), std::string::npos);
  EXPECT_NE(trcli::FormatBar(s, 120).find("11.5 GiB / 92.0 GiB"), std::string::npos);
  s.total.reset();
  EXPECT_NE(trcli::FormatBar(s, 60).find("1234567 files"), std::string::npos);
}

}  // namespace
