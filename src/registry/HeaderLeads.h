// Header leads: for each recognizer class, one strip position and the byte
// values that its header test requires there. The header pass uses them to
// ask a class only at strips where its test can answer. A class without a
// lead can answer at any strip and is always asked.
#ifndef TYPERECOVERY_REGISTRY_HEADERLEADS_H
#define TYPERECOVERY_REGISTRY_HEADERLEADS_H

#include <cstddef>
#include <cstdint>

namespace typerecovery {

struct HeaderLead {
  const char* className;
  uint32_t offset;    // strip position of the byte
  const char* bytes;  // the values it may take
  size_t count;
};

// Null when the class has no lead (its test can answer anywhere).
const HeaderLead* FindHeaderLead(const char* className);

}  // namespace typerecovery

#endif
