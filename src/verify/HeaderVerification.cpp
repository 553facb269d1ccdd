// TypeRecovery_IsFileHeaderMatched: does a buffer begin like a file of the
// type an extension names? The classes whose descriptors list the extension
// decide (tried in the order of the supported-type list, built without host
// or output path, asked with the verification flag 1); "iso" has its own
// test of a zero system area. Touches no shared state.
#include <cstring>

#include "framework/TypeRecovery.h"
#include "interface/Operations.h"
#include "registry/RecognizerFactory.h"

namespace {

// Case folding of A to Z only, as the extension comparison requires.
char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool SameExtension(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (Fold(*a) != Fold(*b)) return false;
  }
  return *a == *b;
}

bool Checks(const typerecovery::FormatDescriptor& format, const char16_t* extension) {
  for (const char16_t* const* e = format.checkedExtensions; *e != nullptr; ++e) {
    if (SameExtension(extension, *e)) return true;
  }
  return false;
}

// A disc image begins with a zero system area: every 8-byte word at offset
// k with k + 64 <= length must be zero (the last 56 bytes are not examined).
int32_t ZeroAreaTest(const uint8_t* buffer, uint32_t length) {
  static const uint8_t kZero[8] = {};
  for (uint64_t k = 0; k + 64 <= length; k += 8) {
    if (std::memcmp(buffer + k, kZero, 8) != 0) return -1;
  }
  return 1;
}

}  // namespace

namespace typerecovery {

int32_t IsFileHeaderMatched(const uint8_t* buffer, uint32_t length, const char16_t* extension) {
  if (extension == nullptr) return 0;
  if (extension[0] == u'.') ++extension;
  if (SameExtension(extension, u"iso")) return ZeroAreaTest(buffer, length);
  size_t count = 0;
  const typerecovery::FormatDescriptor* const* formats = typerecovery::RegisteredFormats(&count);
  bool selected = false, allocated = false;
  for (size_t i = 0; i < count; ++i) {
    if (!Checks(*formats[i], extension)) continue;
    selected = true;
    CTypeRecovery* recognizer = formats[i]->factory(nullptr, nullptr);
    allocated = recognizer != nullptr;
    if (!allocated) continue;
    const uint32_t code = recognizer->IsHeaderMatched(buffer, length, 1);
    delete recognizer;
    if (code != 0) return 1;
  }
  // An unknown extension, or an allocation failure of the last class asked,
  // answers 0.
  return selected && allocated ? -1 : 0;
}

}  // namespace typerecovery
