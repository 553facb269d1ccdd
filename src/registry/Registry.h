// The type registry: the fixed table of the 142 type codes and the 87
// recognizer classes that serve them, in the order of the supported-type
// list, and the order in which TypeRecovery_AddAllTypes builds prototypes
// (which is the priority of the header pass).
#ifndef TYPERECOVERY_REGISTRY_REGISTRY_H
#define TYPERECOVERY_REGISTRY_REGISTRY_H

#include <cstddef>
#include <cstdint>

namespace typerecovery {

struct RegistryRow {
  const char* className;
  uint32_t codes[21];  // class code first, then sub-type codes; 0 ends the list
  const char16_t* extensionList;
};

const RegistryRow* RegistryRows(size_t* count);
const char* const* AddAllTypesOrder(size_t* count);

}  // namespace typerecovery

#endif
