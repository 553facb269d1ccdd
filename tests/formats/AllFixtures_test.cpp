// Every real-file fixture of the project carved with every type: the same
// files whatever lookahead the host gives, the same files when the scan is
// paused at any strip and resumed in a fresh manager, and each fixture found
// whole in a mixed image.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>

#include "support/FixtureImage.h"

namespace {

using trtest::FixtureImage;

// The reports of one run that the other lacks, both ways.
std::string Differences(const std::vector<trtest::Report>& got, const std::vector<trtest::Report>& want) {
  auto missing = [](const std::vector<trtest::Report>& from, const std::vector<trtest::Report>& in) {
    std::string out;
    for (const trtest::Report& r : from) {
      bool found = false;
      for (const trtest::Report& o : in) {
        found = found || (o.start == r.start && o.size == r.size && o.complete == r.complete &&
                          o.extension == r.extension);
      }
      if (!found) out += " " + trtest::Spans({r});
    }
    return out;
  };
  const std::string extra = missing(got, want), lacking = missing(want, got);
  return extra.empty() && lacking.empty() ? "" : "found" + extra + "; instead of" + lacking;
}

TEST(AllFixtures, TheLookaheadNeverChangesWhatIsFound) {
  const FixtureImage image(trtest::AllFixtureNames());
  for (uint32_t strip : {512u, 4096u}) {
    const std::vector<trtest::Report> without = trtest::EveryTypeRun(image.bytes, strip, 0);
    for (uint32_t lookahead : {64u, 4096u, 65536u, 1048576u}) {
      EXPECT_EQ(Differences(trtest::EveryTypeRun(image.bytes, strip, lookahead), without), "")
          << "strip " << strip << " lookahead " << lookahead;
    }
  }
}

// Fixtures whose format does not let a carver find exactly their bytes.
const char* const kNotExact[] = {
    // The end rule keeps two bytes (two units) after the closing tag.
    "document/sample.html", "document/sample-utf16le.html", "document/sample-utf16be.html",
    // No end code or size: they run to the next header.
    "media/program.mpg", "media/program.vob", "media/speech.amr",
    // Transport streams end at the last whole packet, flagged incomplete.
    "media/stream.ts", "media/stream.m2ts",
    // The muxer's DATA chunk states 10 bytes more than it wrote.
    "media/video.rm",
    // The end-record bytes also stand inside one of its records, and the
    // end search is a byte-pattern scan: cut at 146 bytes.
    "image/drawing.wmf",
};

bool IsExact(const std::string& name) {
  for (const char* n : kNotExact) {
    if (name == n) return false;
  }
  return true;
}

// The extension a fixture is reported under where it is not its own: the
// folder of its class or sub-type.
const std::map<std::string, std::string> kReportedAs = {
    {"html", "htm"}, {"tif", "TIF"}, {"nef", "NEF"}, {"sr2", "SR2"},  {"aiff", "aif"}, {"asf", "wmv"},
    {"opus", "ogg"}, {"webm", "mkv"}, {"ts", "mts"},  {"m2ts", "mts"}, {"rm", "rmvb"},
};

TEST(AllFixtures, EachFixtureComesOutWholeInAMixedImageInBothModes) {
  const FixtureImage image(trtest::AllFixtureNames());
  const std::vector<trtest::Report> reports = trtest::EveryTypeRun(image.bytes, 512, 64);
  const trtest::CarveTally tally = trtest::Tally(image, reports);
  std::cout << "mixed image of " << image.placed.size() << " fixtures: " << tally.Summary() << "\n";
  for (const std::string& name : tally.whole) EXPECT_TRUE(IsExact(name)) << name << " is whole now";
  std::vector<std::string> lost = tally.cut;
  lost.insert(lost.end(), tally.missed.begin(), tally.missed.end());
  for (const std::string& name : lost) EXPECT_FALSE(IsExact(name.substr(0, name.find(' ')))) << name;
  // Each found under the extension of its kind (a sub-type's, not its family's).
  for (const trtest::PlacedFixture& p : image.placed) {
    for (const trtest::Report& r : reports) {
      if (r.start != p.offset) continue;
      const std::string own = p.name.substr(p.name.rfind('.') + 1);
      const auto as = kReportedAs.find(own);
      EXPECT_EQ(r.extension, as == kReportedAs.end() ? own : as->second) << p.name;
      break;
    }
  }

  // Folder mode: every exact fixture is one of the files written.
  trtest::TempDir dir;
  uint32_t error = 0;
  trtest::FolderRun(dir, {trtest::kEveryType}, image.bytes, 512, 64, &error);
  EXPECT_EQ(error, 0u);
  std::set<std::vector<uint8_t>> written;
  for (const std::string& file : dir.Files()) written.insert(dir.Read(file));
  for (const trtest::PlacedFixture& p : image.placed) {
    if (IsExact(p.name)) {
      EXPECT_EQ(written.count(p.bytes), 1u) << p.name;
    }
  }
}

TEST(AllFixtures, APauseAtAnyStripResumesToTheSameFiles) {
  for (const std::string& name : trtest::AllFixtureNames()) {
    const FixtureImage image({name}, true);
    // Large fixtures in larger strips, so that every strip is still a pause.
    const uint32_t strip = image.bytes.size() > 65536 ? 4096 : 512;
    const std::vector<trtest::Report> whole = trtest::EveryTypeRun(image.bytes, strip, 64);
    for (size_t stop = strip; stop < image.bytes.size(); stop += strip) {
      EXPECT_EQ(Differences(trtest::ResumedRun({trtest::kEveryType}, image.bytes, strip, 64, stop), whole), "")
          << name << " paused at " << stop;
    }
  }
}

}  // namespace
