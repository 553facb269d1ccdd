// Runs images through a manager for the recognizer tests: managers in report
// or folder mode with chosen types, strips fed one at a time or a whole image
// at once, scans paused by a progress file and resumed in a fresh manager,
// reports as comparable text, synthetic disk images and the fixtures of
// tests/data.
#ifndef TYPERECOVERY_TESTS_SUPPORT_CARVING_H
#define TYPERECOVERY_TESTS_SUPPORT_CARVING_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/TestSupport.h"
#include "typerecovery.h"

namespace trtest {

// A type to add to a manager, with its largest file size (none by default).
struct AddedType {
  // Not explicit: a bare type code stands for a type without a size limit.
  AddedType(uint32_t code, uint64_t maxSize = ~uint64_t{0})  // NOLINT(runtime/explicit)
      : code(code), maxSize(maxSize) {}
  uint32_t code;
  uint64_t maxSize;
};

// Stands for every type the command-line tool adds by default: every type of
// the library, the generic executable and compound-document kinds included.
constexpr uint32_t kEveryType = ~uint32_t{0};
void AddEveryType(CTypeRecoveryManager* m);

void AddTypes(CTypeRecoveryManager* m, const std::vector<AddedType>& types);

// A manager with these types; report mode without a folder, else folder mode.
class Scan {
 public:
  explicit Scan(const std::vector<AddedType>& types, const TempDir* folder = nullptr);
  ~Scan();
  Scan(const Scan&) = delete;
  Scan& operator=(const Scan&) = delete;

  // Analyses bytes [from, from + length) of image with up to lookahead more
  // (at least 16 readable bytes).
  uint32_t Strip(const std::vector<uint8_t>& image, size_t from, uint32_t length,
                 uint32_t lookahead);
  // Every strip of image in turn, then the flush; answers the files ended.
  uint32_t Feed(const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead);
  uint32_t Flush() { return TypeRecovery_Flush(m_manager); }
  CTypeRecoveryManager* manager() const { return m_manager; }

  ReportLog log;
  uint32_t errorFlag = 0;

 private:
  std::u16string m_root;
  CTypeRecoveryManager* m_manager;
};

// Report mode: every found file, in order; *ended gets the files ended.
std::vector<Report> ReportRun(const std::vector<AddedType>& types,
                              const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead,
                              uint32_t* ended = nullptr);

// Report mode for one type with a first strip of its own length (large
// enough for the header test) and strips of strip bytes after it, so that
// records and fields fall across strip ends.
std::vector<Report> ShortStripRun(const AddedType& type, const std::vector<uint8_t>& image,
                                  uint32_t first, uint32_t strip, uint32_t lookahead);

// Folder mode into dir; answers the files ended.
uint32_t FolderRun(const TempDir& dir, const std::vector<AddedType>& types,
                   const std::vector<uint8_t>& image, uint32_t strip, uint32_t lookahead,
                   uint32_t* errorFlag = nullptr);

// Report mode with a pause: progress is saved after the strips that start
// before stopAt and loaded into a new manager that gets the rest. Answers the
// reports of both managers in order; a failed save or load adds an empty
// report so that comparisons fail visibly.
std::vector<Report> ResumedRun(const std::vector<AddedType>& types,
                               const std::vector<uint8_t>& image, uint32_t strip,
                               uint32_t lookahead, size_t stopAt);

// Found-file reports in one comparable line, so that a table of crafted
// inputs can state its expected outcome as text: "wav@0+1024~ wav@1024+708"
// is two files, the first of 1024 bytes at offset 0 reported incomplete (~).
std::string Spans(const std::vector<Report>& reports);

// Report mode over the whole image, as Spans.
std::string CarvedSpans(const std::vector<AddedType>& types, const std::vector<uint8_t>& image,
                        uint32_t strip = 512, uint32_t lookahead = 64);

// Folder mode over the whole image: the files written, as TempDir::Files.
std::vector<std::string> CarvedFiles(const std::vector<AddedType>& types,
                                     const std::vector<uint8_t>& image, uint32_t strip = 512,
                                     uint32_t lookahead = 64);

// The whole progress file written by a manager (for layout checks).
std::vector<uint8_t> SavedProgress(CTypeRecoveryManager* m);

// A disk image: each file placed at the next sector boundary after random or
// zero filler, its last sector padded with zeros; offsets of the placed files
// in order.
class DiskImage {
 public:
  explicit DiskImage(uint32_t seed = 7) : m_random(seed) {}
  DiskImage& Random(size_t sectors);
  DiskImage& Zeros(size_t sectors);
  DiskImage& File(const std::vector<uint8_t>& file);
  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  const std::vector<uint64_t>& offsets() const { return m_offsets; }

 private:
  void Align();
  std::mt19937 m_random;
  std::vector<uint8_t> m_bytes;
  std::vector<uint64_t> m_offsets;
};

// A disk image of random filler with pieces written at chosen offsets (the
// filler runs on right behind each piece).
class RandomImage {
 public:
  explicit RandomImage(size_t size, uint32_t seed = 1);
  RandomImage& Zero(size_t from, size_t count);
  RandomImage& Put(size_t at, const std::vector<uint8_t>& piece);
  RandomImage& PutByte(size_t at, uint8_t value);
  const std::vector<uint8_t>& bytes() const { return m_bytes; }

 private:
  std::vector<uint8_t> m_bytes;
};

// A file of tests/data/<group>.
std::vector<uint8_t> Fixture(const std::string& group, const std::string& name);

// The first n bytes of v (all of it if shorter).
std::vector<uint8_t> Prefix(const std::vector<uint8_t>& v, size_t n);

// Bytes followed by filler zero bytes.
std::vector<uint8_t> Padded(std::vector<uint8_t> bytes, size_t filler);

}  // namespace trtest

#endif
