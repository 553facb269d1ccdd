// The descriptor of a recognizer class: everything the registry and the
// header verification need to know about a format, written once next to the
// class (TYPERECOVERY_FORMAT in the class's source). The registry lists the
// descriptors by address in its two orders (Registry.cpp), so a class that
// is not listed, or a misspelt name, fails to compile, and a static-library
// build keeps every format: the lists pull each format's object in.
//
// Descriptors are constant data, built before main and never changed.
#ifndef TYPERECOVERY_REGISTRY_RECOGNIZERFACTORY_H
#define TYPERECOVERY_REGISTRY_RECOGNIZERFACTORY_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <typeinfo>

#include "framework/TypeRecovery.h"

namespace typerecovery {

using RecognizerFactory = CTypeRecovery* (*)(CTypeRecoveryManager* host, const char16_t* outputRoot);

struct FormatDescriptor {
  const char* className;
  RecognizerFactory factory;
  const std::type_info* type;
  uint32_t codes[21];  // class code first, then sub-type codes; 0 ends the list
  // The extensions of the supported-type list, ";"-separated with dots.
  const char16_t* extensionList;
  // The extensions (without dots) for which the header verification asks
  // this class; null ends the list.
  const char16_t* checkedExtensions[24];
};

template <class T>
CTypeRecovery* MakeRecognizer(CTypeRecoveryManager* host, const char16_t* outputRoot) {
  return new (std::nothrow) T(host, outputRoot);
}

// The descriptors in the order of the supported-type list (87 classes).
const FormatDescriptor* const* RegisteredFormats(size_t* count);
// The descriptors in the prototype order of TypeRecovery_AddAllTypes.
const FormatDescriptor* const* AddAllTypesOrder(size_t* count);
// Null when no class of that name is registered.
const FormatDescriptor* FindFormat(const char* className);
RecognizerFactory FindRecognizer(const char* className);
// Constructs the named class; null when it is not registered or allocation fails.
CTypeRecovery* ConstructRecognizer(const char* className, CTypeRecoveryManager* host,
                                   const char16_t* outputRoot);
// The registered name of a recognizer's class; null for a class that is not
// registered (a host's or a test's own).
const char* RecognizerClassName(const CTypeRecovery& recognizer);

}  // namespace typerecovery

// Placed once in the source of each recognizer class, at global scope:
// TYPERECOVERY_FORMAT(CTypeRecoveryPNG, {1539}, u".png", {u"png"})
// gives the class's codes, its supported-type extensions and the
// extensions the header verification asks it for. It also defines the
// class's Clone (declared in the class): a new object of the class with the
// same host context and output path, given the prototype's state by
// CopyStateFrom, which a class with state of its own to hand on extends.
#define TYPERECOVERY_FORMAT(Class, ...)                                                      \
  namespace typerecovery {                                                                  \
  extern const FormatDescriptor kFormat##Class;                                             \
  const FormatDescriptor kFormat##Class = {#Class, &MakeRecognizer<::Class>, &typeid(::Class), \
                                           __VA_ARGS__};                                     \
  }                                                                                         \
  CTypeRecovery* Class::Clone() { return CloneRecognizer(this, m_host, m_outputPath); }

#endif
