#include "support/FixtureImage.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
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

std::string Describe(const Report& r) {
  return r.extension + "@" + std::to_string(r.start) + "+" + std::to_string(r.size) +
         (r.complete == 1 ? "" : "~");
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

void AddEveryType(CTypeRecoveryManager* m) {
  TypeRecovery_AddAllTypes(m);
  // The library's own list leaves these two kinds off; the tool adds them.
  TypeRecovery_AddType(m, 2305, ~uint64_t{0});
  TypeRecovery_AddType(m, 2319, ~uint64_t{0});
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

std::vector<Report> EveryTypeResumedRun(const std::vector<uint8_t>& image, uint32_t strip,
                                        uint32_t lookahead, size_t stopAt) {
  std::vector<Report> all;
  FILE* progress = std::tmpfile();
  uint32_t error = 0;
  size_t pos = 0;
  std::vector<uint8_t> buffer;
  auto feed = [&](CTypeRecoveryManager* m, size_t until) {
    for (; pos < until && pos < image.size(); pos += strip) {
      const size_t length = std::min<size_t>(strip, image.size() - pos);
      const size_t ahead = std::min<size_t>(lookahead, image.size() - pos - length);
      buffer.assign(image.begin() + static_cast<long>(pos),
                    image.begin() + static_cast<long>(pos + length + ahead));
      buffer.resize(std::max<size_t>(buffer.size(), 16), 0);
      TypeRecovery_Analyse(m, pos, buffer.data(), static_cast<uint32_t>(length),
                           static_cast<uint32_t>(ahead), &error);
    }
  };
  ReportLog first, second;
  CTypeRecoveryManager* m =
      TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&first), RecordReport, nullptr);
  AddEveryType(m);
  feed(m, stopAt);
  if (progress == nullptr ||
      TypeRecovery_SaveProgress(m, TYPERECOVERY_FILE_FROM_FD(fileno(progress))) != 1) {
    all.push_back(Report{});
  }
  TypeRecovery_CloseManager(m);
  m = TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&second), RecordReport, nullptr);
  AddEveryType(m);
  if (progress == nullptr || std::fseek(progress, 0, SEEK_SET) != 0 ||
      TypeRecovery_LoadProgress(m, TYPERECOVERY_FILE_FROM_FD(fileno(progress))) != 1) {
    all.push_back(Report{});
  }
  if (progress != nullptr) std::fclose(progress);
  feed(m, image.size());
  TypeRecovery_Flush(m);
  TypeRecovery_CloseManager(m);
  all.insert(all.end(), first.reports.begin(), first.reports.end());
  all.insert(all.end(), second.reports.begin(), second.reports.end());
  return all;
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
      tally.strays.push_back(Describe(r));
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
      tally.cut.push_back(p.name + " (" + Describe(r) + " of " + std::to_string(p.bytes.size()) + ")");
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
