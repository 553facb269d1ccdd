// Random bytes as a state file of the tool: the reader's checks (header,
// lengths, checksum) must refuse damage without reading outside the bytes
// or allocating by a length field; and random text as the state's JSON must
// be refused or accepted by the field checks without an exception escaping.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "StateFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nlohmann::json info;
  size_t progressAt = 0;
  if (trcli::ParseStateBytes(data, size, &info, &progressAt) && progressAt > size) __builtin_trap();

  nlohmann::json text = nlohmann::json::parse(data, data + size, nullptr, false);
  if (!text.is_discarded()) {
    std::string which;
    trcli::CheckStateInfo(text, &which);
  }
  return 0;
}
