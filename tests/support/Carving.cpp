#include "support/Carving.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace trtest {

void AddEveryType(CTypeRecoveryManager* m) {
  TypeRecovery_AddAllTypes(m);
  // The library's own list leaves these two kinds off; the tool adds them.
  TypeRecovery_AddType(m, 2305, ~uint64_t{0});
  TypeRecovery_AddType(m, 2319, ~uint64_t{0});
}

void AddTypes(CTypeRecoveryManager* m, const std::vector<AddedType>& types) {
  for (const AddedType& t : types) {
    if (t.code == kEveryType) {
      AddEveryType(m);
    } else {
      TypeRecovery_AddType(m, t.code, t.maxSize);
    }
  }
}

Scan::Scan(const std::vector<AddedType>& types, const TempDir* folder) {
  if (folder != nullptr) {
    m_root = folder->root();
    m_manager = TypeRecovery_CreateManager(0, nullptr, m_root.c_str());
  } else {
    m_manager =
        TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), RecordReport, nullptr);
  }
  AddTypes(m_manager, types);
}

Scan::~Scan() { TypeRecovery_CloseManager(m_manager); }

uint32_t Scan::Strip(const std::vector<uint8_t>& image, size_t from, uint32_t length,
                     uint32_t lookahead) {
  const size_t end = std::min(image.size(), from + length + lookahead);
  std::vector<uint8_t> buffer(image.begin() + static_cast<long>(from),
                              image.begin() + static_cast<long>(end));
  const uint32_t ahead = static_cast<uint32_t>(buffer.size() - length);
  buffer.resize(std::max<size_t>(buffer.size(), 16), 0);
  return TypeRecovery_Analyse(m_manager, from, buffer.data(), length, ahead, &errorFlag);
}

uint32_t Scan::Feed(const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead) {
  return FeedImage(m_manager, image, strip, lookahead, &errorFlag);
}

std::vector<Report> ReportRun(const std::vector<AddedType>& types,
                              const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead,
                              uint32_t* ended) {
  Scan scan(types);
  const uint32_t n = scan.Feed(image, strip, lookahead);
  if (ended != nullptr) *ended = n;
  return scan.log.reports;
}

std::vector<Report> ShortStripRun(const AddedType& type, const std::vector<uint8_t>& image,
                                  uint32_t first, uint32_t strip, uint32_t lookahead) {
  Scan scan({type});
  uint32_t length = first;
  for (size_t pos = 0; pos < image.size(); pos += length, length = strip) {
    length = static_cast<uint32_t>(std::min<size_t>(length, image.size() - pos));
    scan.Strip(image, pos, length, lookahead);
  }
  scan.Flush();
  return scan.log.reports;
}

uint32_t FolderRun(const TempDir& dir, const std::vector<AddedType>& types,
                   const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead,
                   uint32_t* errorFlag) {
  Scan scan(types, &dir);
  if (errorFlag != nullptr) scan.errorFlag = *errorFlag;
  const uint32_t n = scan.Feed(image, strip, lookahead);
  if (errorFlag != nullptr) *errorFlag = scan.errorFlag;
  return n;
}

std::vector<Report> ResumedRun(const std::vector<AddedType>& types,
                               const std::vector<uint8_t>& image, uint32_t strip,
                               uint32_t lookahead, size_t stopAt) {
  std::vector<Report> all;
  FILE* progress = std::tmpfile();
  size_t pos = 0;
  {
    Scan first(types);
    for (; pos < stopAt && pos < image.size(); pos += strip) {
      first.Strip(image, pos, static_cast<uint32_t>(std::min<size_t>(strip, image.size() - pos)),
                  lookahead);
    }
    if (progress == nullptr ||
        TypeRecovery_SaveProgress(first.manager(), TYPERECOVERY_FILE_FROM_FD(fileno(progress))) !=
            1) {
      all.push_back(Report{});
    }
    all.insert(all.end(), first.log.reports.begin(), first.log.reports.end());
  }
  Scan second(types);
  if (progress == nullptr || ::lseek(fileno(progress), 0, SEEK_SET) != 0 ||
      TypeRecovery_LoadProgress(second.manager(), TYPERECOVERY_FILE_FROM_FD(fileno(progress))) !=
          1) {
    all.push_back(Report{});
  }
  if (progress != nullptr) std::fclose(progress);
  for (; pos < image.size(); pos += strip) {
    second.Strip(image, pos, static_cast<uint32_t>(std::min<size_t>(strip, image.size() - pos)),
                 lookahead);
  }
  second.Flush();
  all.insert(all.end(), second.log.reports.begin(), second.log.reports.end());
  return all;
}

std::string Spans(const std::vector<Report>& reports) {
  std::string out;
  for (const Report& r : reports) {
    if (!out.empty()) out += ' ';
    out += r.extension + "@" + std::to_string(r.start) + "+" + std::to_string(r.size);
    if (r.complete != 1) out += '~';
  }
  return out;
}

std::string CarvedSpans(const std::vector<AddedType>& types, const std::vector<uint8_t>& image,
                        uint32_t strip, uint32_t lookahead) {
  return Spans(ReportRun(types, image, strip, lookahead));
}

std::vector<std::string> CarvedFiles(const std::vector<AddedType>& types,
                                     const std::vector<uint8_t>& image, uint32_t strip,
                                     uint32_t lookahead) {
  TempDir dir;
  FolderRun(dir, types, image, strip, lookahead);
  return dir.Files();
}

std::vector<uint8_t> SavedProgress(CTypeRecoveryManager* m) {
  FILE* progress = std::tmpfile();
  std::vector<uint8_t> bytes;
  if (progress == nullptr) return bytes;
  if (TypeRecovery_SaveProgress(m, TYPERECOVERY_FILE_FROM_FD(fileno(progress))) == 1) {
    ::lseek(fileno(progress), 0, SEEK_SET);
    uint8_t chunk[256];
    for (ssize_t n; (n = ::read(fileno(progress), chunk, sizeof chunk)) > 0;) {
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
  }
  std::fclose(progress);
  return bytes;
}

DiskImage& DiskImage::Random(size_t sectors) {
  for (size_t i = 0; i < sectors * 512; ++i) m_bytes.push_back(static_cast<uint8_t>(m_random()));
  return *this;
}

DiskImage& DiskImage::Zeros(size_t sectors) {
  m_bytes.insert(m_bytes.end(), sectors * 512, 0);
  return *this;
}

DiskImage& DiskImage::File(const std::vector<uint8_t>& file) {
  Align();
  m_offsets.push_back(m_bytes.size());
  m_bytes.insert(m_bytes.end(), file.begin(), file.end());
  Align();
  return *this;
}

void DiskImage::Align() {
  while (m_bytes.size() % 512 != 0) m_bytes.push_back(0);
}

RandomImage::RandomImage(size_t size, uint32_t seed) : m_bytes(size) {
  std::mt19937 random(seed);
  for (uint8_t& b : m_bytes) b = static_cast<uint8_t>(random());
}

RandomImage& RandomImage::Zero(size_t from, size_t count) {
  std::fill_n(m_bytes.begin() + static_cast<long>(from), count, 0);
  return *this;
}

RandomImage& RandomImage::Put(size_t at, const std::vector<uint8_t>& piece) {
  std::copy(piece.begin(), piece.end(), m_bytes.begin() + static_cast<long>(at));
  return *this;
}

RandomImage& RandomImage::PutByte(size_t at, uint8_t value) {
  m_bytes[at] = value;
  return *this;
}

std::vector<uint8_t> Fixture(const std::string& group, const std::string& name) {
  return ReadFile(DataPath(group + "/" + name));
}

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& v, size_t n) {
  return std::vector<uint8_t>(v.begin(), v.begin() + static_cast<long>(std::min(n, v.size())));
}

std::vector<uint8_t> Padded(std::vector<uint8_t> bytes, size_t filler) {
  bytes.insert(bytes.end(), filler, 0);
  return bytes;
}

}  // namespace trtest
