// What each type code is, in a user's words: the extension its files are
// written under, the other extensions the same kind goes by, and a one-line
// description. The library lists codes with their family's extensions only;
// this table gives each code its own line in `typerecovery types`.
#ifndef TYPERECOVERY_CLI_TYPEDESCRIPTIONS_H
#define TYPERECOVERY_CLI_TYPEDESCRIPTIONS_H

#include <cstdint>

namespace trcli {

struct TypeDescription {
  uint32_t code;
  const char* extension;  // spelt as the type's files and folders are named (TIFF and camera raw: upper case)
  const char* aliases;    // other extensions of the same kind, space-separated
  const char* text;
};

// The description of a code, or nullptr for a code the table lacks (a type
// the library gained after this table was written).
const TypeDescription* DescribeType(uint32_t code);

}  // namespace trcli

#endif
