// Table-driven carving checks for the recognizer tests: a crafted image, the
// types to look for, how the image is fed, and the files a report-mode scan
// must find in it, in order.
#ifndef TYPERECOVERY_TESTS_SUPPORT_CARVINGCASES_H
#define TYPERECOVERY_TESTS_SUPPORT_CARVINGCASES_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/Carving.h"

namespace trtest {

struct Expected {
  uint64_t size;
  uint32_t complete;
  int64_t width = -1, height = -1;  // the picture record's: width 0 for none, -1 not asked
  std::string extension = "";       // not asked when empty
};

struct CarvingCase {
  std::string what;
  std::vector<AddedType> types;
  std::vector<uint8_t> image;
  std::vector<Expected> files;
  uint32_t first = 512, strip = 512, lookahead = 512;  // a first strip of its own: one type only
  size_t pauseAt = 0;  // where the scan saves its progress and a new one resumes
};

// Scans the case's image and checks every report; a file followed by another
// ends where that one starts.
inline void ExpectCarving(const CarvingCase& c) {
  SCOPED_TRACE(c.what + " strip " + std::to_string(c.strip) + " lookahead " +
               std::to_string(c.lookahead) + " pause " + std::to_string(c.pauseAt));
  const std::vector<Report> reports =
      c.pauseAt ? ResumedRun(c.types, c.image, c.strip, c.lookahead, c.pauseAt)
      : c.first != c.strip
          ? ShortStripRun(c.types.at(0), c.image, c.first, c.strip, c.lookahead)
          : ReportRun(c.types, c.image, c.strip, c.lookahead);
  ASSERT_EQ(reports.size(), c.files.size());
  for (size_t i = 0; i < reports.size(); ++i) {
    const Expected& e = c.files[i];
    EXPECT_TRUE(e.extension.empty() || reports[i].extension == e.extension) << i;
    EXPECT_EQ(reports[i].size, e.size) << i;
    EXPECT_EQ(reports[i].complete, e.complete) << i;
    EXPECT_TRUE(i == 0 || reports[i].start == reports[i - 1].start + reports[i - 1].size) << i;
    if (e.width < 0) continue;
    ASSERT_EQ(reports[i].hasPicture, e.width > 0) << i;
    if (e.width == 0) continue;
    EXPECT_EQ(reports[i].picture.typeCode, c.types.at(0).code) << i;
    EXPECT_EQ(reports[i].picture.width, e.width) << i;
    EXPECT_EQ(reports[i].picture.height, e.height) << i;
  }
}

}  // namespace trtest

#endif
