#include "support/FixtureImage.h"

#include <dirent.h>

#include <algorithm>
#include <map>
#include <random>

namespace trtest {
namespace {

std::vector<std::string> FilesOf(const std::string& group) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(DataPath(group).c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name[0] == '.' || (name.size() > 3 && name.compare(name.size() - 3, 3, ".sh") == 0)) continue;
    names.push_back(group + "/" + name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::vector<std::string> AllFixtureNames() {
  std::vector<std::string> all;
  for (const char* group : {"document", "image", "media"}) {
    const std::vector<std::string> names = FilesOf(group);
    all.insert(all.end(), names.begin(), names.end());
  }
  return all;
}

std::vector<Report> EveryTypeRun(const std::vector<uint8_t>& image, uint32_t strip,
                                 uint32_t lookahead) {
  ReportLog log;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), RecordReport, nullptr);
  AddEveryType(m);
  // Strips are handed out of one copy of the image (plus the 16 bytes a
  // call may need at its end) rather than copied: a megabyte of lookahead
  // per strip would otherwise dominate the run. Reads past the lookahead
  // are the other tests' concern (they copy each strip exactly).
  std::vector<uint8_t> padded = image;
  padded.resize(image.size() + 16, 0);
  uint32_t error = 0;
  for (size_t pos = 0; pos < image.size(); pos += strip) {
    const size_t length = std::min<size_t>(strip, image.size() - pos);
    const size_t ahead = std::min<size_t>(lookahead, image.size() - pos - length);
    TypeRecovery_Analyse(m, pos, padded.data() + pos, static_cast<uint32_t>(length),
                         static_cast<uint32_t>(ahead), &error);
  }
  TypeRecovery_Flush(m);
  TypeRecovery_CloseManager(m);
  return log.reports;
}

FixtureImage::FixtureImage(const std::vector<std::string>& names, bool zerosAfter, uint32_t seed) {
  std::mt19937 random(seed);
  auto filler = [&](size_t count) {
    for (size_t i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(random()));
  };
  filler(512);
  for (const std::string& name : names) {
    filler((512 - bytes.size() % 512) % 512);
    filler(512 * (1 + random() % 2));
    PlacedFixture p{name, bytes.size(), ReadFile(DataPath(name))};
    bytes.insert(bytes.end(), p.bytes.begin(), p.bytes.end());
    placed.push_back(std::move(p));
    if (zerosAfter) bytes.insert(bytes.end(), (512 - bytes.size() % 512) % 512 + 512, 0);
  }
  filler(4096);
}

CarveTally Tally(const FixtureImage& image, const std::vector<Report>& reports) {
  std::map<uint64_t, const PlacedFixture*> at;
  for (const PlacedFixture& p : image.placed) at[p.offset] = &p;
  std::map<uint64_t, std::vector<const Report*>> found;
  CarveTally tally;
  for (const Report& r : reports) {
    if (at.count(r.start) != 0) {
      found[r.start].push_back(&r);
    } else {
      tally.strays.push_back(Spans({r}));
    }
  }
  for (const PlacedFixture& p : image.placed) {
    const auto f = found.find(p.offset);
    if (f == found.end()) {
      tally.missed.push_back(p.name);
      continue;
    }
    const Report& r = *f->second.front();
    if (r.complete == 1 && r.size == p.bytes.size()) {
      tally.whole.push_back(p.name);
    } else {
      tally.cut.push_back(p.name + " (" + Spans({r}) + " of " + std::to_string(p.bytes.size()) + ")");
    }
  }
  return tally;
}

std::string CarveTally::Summary() const {
  std::string text = std::to_string(whole.size()) + " whole, " + std::to_string(cut.size()) +
                     " cut, " + std::to_string(missed.size()) + " missed, " +
                     std::to_string(strays.size()) + " found where no fixture starts";
  for (const std::string& c : cut) text += "\n  cut: " + c;
  for (const std::string& m : missed) text += "\n  missed: " + m;
  for (const std::string& s : strays) text += "\n  stray: " + s;
  return text;
}

}  // namespace trtest
