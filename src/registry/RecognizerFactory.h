// Recognizer classes register a factory under their class name when the
// library is loaded; the type registry and the header verification table
// name classes and construct them through this lookup. A class that is not
// built yet has no factory, and its rows behave as if its allocation failed.
#ifndef TYPERECOVERY_REGISTRY_RECOGNIZERFACTORY_H
#define TYPERECOVERY_REGISTRY_RECOGNIZERFACTORY_H

#include <new>
#include <typeinfo>

#include "framework/TypeRecovery.h"

namespace typerecovery {

using RecognizerFactory = CTypeRecovery* (*)(CTypeRecoveryManager* host, const char16_t* outputRoot);

bool RegisterRecognizer(const char* className, RecognizerFactory factory,
                        const std::type_info& type);
// Null when no class of that name is registered.
RecognizerFactory FindRecognizer(const char* className);
// Constructs the named class; null when it is not registered or allocation fails.
CTypeRecovery* ConstructRecognizer(const char* className, CTypeRecoveryManager* host,
                                   const char16_t* outputRoot);
// The registered name of a recognizer's class; null for a class that is not
// registered (a host's or a test's own).
const char* RecognizerClassName(const CTypeRecovery& recognizer);

}  // namespace typerecovery

// Placed once in the source of each recognizer class.
#define TYPERECOVERY_REGISTER_RECOGNIZER(Class)                                                 \
  namespace {                                                                                  \
  CTypeRecovery* Make##Class(CTypeRecoveryManager* host, const char16_t* outputRoot) {          \
    return new (std::nothrow) Class(host, outputRoot);                                         \
  }                                                                                            \
  const bool kRegistered##Class = ::typerecovery::RegisterRecognizer(#Class, &Make##Class,     \
                                                                      typeid(Class));          \
  }

#endif
