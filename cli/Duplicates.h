// --dedup: which carved files have the same bytes as a file carved before
// them. The first file with given bytes stays; a later one is removed and its
// record points at the first. The digests of the files kept are listed in a
// file in the output folder as they are added, so that a resumed carve knows
// them again: the state saves how long the list was, and a resume keeps that
// much of it and forgets the rest, whose files are written again.
#ifndef TYPERECOVERY_CLI_DUPLICATES_H
#define TYPERECOVERY_CLI_DUPLICATES_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace trcli {

class DuplicateIndex {
 public:
  DuplicateIndex() = default;
  DuplicateIndex(const DuplicateIndex&) = delete;
  DuplicateIndex& operator=(const DuplicateIndex&) = delete;
  ~DuplicateIndex();

  // Opens (creates) the list at path and keeps its first keepLength bytes:
  // 0 for a new run, the saved length on resume. False with a message when
  // the list cannot be written or is shorter than keepLength.
  bool Open(const std::string& path, uint64_t keepLength, std::string* error);
  // The path of an earlier file with this digest and size; else "" after
  // noting this file as the first with them.
  std::string FirstWith(const std::string& sha256, uint64_t size, const std::string& path);
  // Bytes of the list so far (for the saved state), after syncing it.
  uint64_t Sync();
  // The run is finished: the list goes.
  void Remove();

 private:
  int m_fd = -1;
  std::string m_path;
  uint64_t m_length = 0;
  std::map<std::pair<std::string, uint64_t>, std::string> m_first;
};

}  // namespace trcli

#endif
