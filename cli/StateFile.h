// The state file of an interrupted run: the tool's own description of the
// run (source identity, options, position, counts) followed by the library's
// progress record of its manager.
//
// Layout, integers little-endian:
//   0  8 bytes  "TRSTATE2"
//   8  u32      format version (2)
//  12  u32      length of the JSON
//  16  u64      length of the whole file
//  24  32 bytes SHA-256 of the whole file with these 32 bytes left out
//  56           the JSON, then the library's progress data
// The library reads and writes its part at the descriptor's current
// position, so the reader leaves the descriptor just after the JSON.
//
// A state file defends itself: every length is checked against the file's
// size before anything is allocated, and the checksum before anything is
// believed; any damage is an error that names the file as damaged. Writing
// goes to a temporary file next to the target, synced, renamed over it, and
// the folder synced: a crash during a save leaves the previous state intact.
#ifndef TYPERECOVERY_CLI_STATEFILE_H
#define TYPERECOVERY_CLI_STATEFILE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace trcli {

// writeProgress is called with the descriptor positioned after the JSON; it
// answers false when the library could not save.
bool WriteStateFile(const std::string& path, const nlohmann::json& info,
                    const std::function<bool(int fd)>& writeProgress, std::string* error);

class StateReader {
 public:
  StateReader() = default;
  ~StateReader();
  StateReader(const StateReader&) = delete;
  StateReader& operator=(const StateReader&) = delete;

  // False with a message when the file cannot be read or is damaged
  // (*damaged then true).
  bool Open(const std::string& path, std::string* error, bool* damaged = nullptr);
  const nlohmann::json& Info() const { return m_info; }
  // Positioned at the library's progress data.
  int Fd() const { return m_fd; }

 private:
  int m_fd = -1;
  nlohmann::json m_info;
};

// Positioned reads and writes of exactly size bytes at offset (retried when
// a signal interrupts them); false on an error or the end of the file.
bool PreadAll(int fd, void* data, size_t size, uint64_t offset);
bool PwriteAll(int fd, const void* data, size_t size, uint64_t offset);

// True when every field the tool reads from a state file's JSON is present
// where required and of its type; else *which names the first that is not.
bool CheckStateInfo(const nlohmann::json& info, std::string* which);

// The checks of StateReader::Open on bytes in memory (for the fuzz target):
// true when they hold a sound state file, with its JSON in *info.
bool ParseStateBytes(const uint8_t* data, size_t size, nlohmann::json* info, size_t* progressAt);

}  // namespace trcli

#endif
