// The state file of an interrupted run: the tool's own description of the
// run (source identity, options, position, counts) followed by the library's
// progress records of each manager, in the order the managers were saved.
//
// Layout: the 8 bytes "TRSTATE1", a 32-bit little-endian length, that many
// bytes of JSON, then the library's progress data. The library reads and
// writes its part at the descriptor's current position, so the JSON is read
// with plain reads that stop exactly at its end.
//
// Writing goes to a temporary file next to the target, synced and renamed
// over it: a crash during a save leaves the previous state intact.
#ifndef TYPERECOVERY_CLI_STATEFILE_H
#define TYPERECOVERY_CLI_STATEFILE_H

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

  bool Open(const std::string& path, std::string* error);
  const nlohmann::json& Info() const { return m_info; }
  // Positioned at the library's progress data.
  int Fd() const { return m_fd; }

 private:
  int m_fd = -1;
  nlohmann::json m_info;
};

}  // namespace trcli

#endif
