// Every real-file fixture of tests/data in one synthetic disk image, and the
// measures of a carve of it: which fixtures came out whole, which were cut
// or missed, and which files were found where no fixture starts.
#ifndef TYPERECOVERY_TESTS_SUPPORT_FIXTUREIMAGE_H
#define TYPERECOVERY_TESTS_SUPPORT_FIXTUREIMAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/Carving.h"

namespace trtest {

// Every file of tests/data/<group>/ except the scripts that made them,
// sorted by group and name ("document/sample.tar").
std::vector<std::string> AllFixtureNames();

// A report-mode manager with every type, fed the image in strips; flushed.
std::vector<Report> EveryTypeRun(const std::vector<uint8_t>& image, uint32_t strip,
                                 uint32_t lookahead);

struct PlacedFixture {
  std::string name;
  uint64_t offset;
  std::vector<uint8_t> bytes;
};

// The fixtures one after another, each at a sector boundary after one or two
// sectors of random filler; behind each the rest of its last sector and the
// filler are random, or zeros (as slack space often is) with zerosAfter.
struct FixtureImage {
  explicit FixtureImage(const std::vector<std::string>& names, bool zerosAfter = false,
                        uint32_t seed = 17);
  std::vector<PlacedFixture> placed;
  std::vector<uint8_t> bytes;
};

// How the carve of a fixture image went.
struct CarveTally {
  std::vector<std::string> whole;   // a complete report at its offset with exactly its size
  std::vector<std::string> cut;     // a report at its offset, another size or incomplete
  std::vector<std::string> missed;  // no report at its offset
  std::vector<std::string> strays;  // reports at no fixture's offset
  std::string Summary() const;
};
CarveTally Tally(const FixtureImage& image, const std::vector<Report>& reports);

}  // namespace trtest

#endif
