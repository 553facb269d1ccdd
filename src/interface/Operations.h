// The library's operations behind the exported functions of Exports.cpp,
// one per exported function, with the same arguments and answers. The
// exported function checks its manager (and other required pointers) and
// guards the call; an operation may take them as valid and may throw.
#ifndef TYPERECOVERY_INTERFACE_OPERATIONS_H
#define TYPERECOVERY_INTERFACE_OPERATIONS_H

#include <cstdint>

#include "typerecovery.h"

namespace typerecovery {

// The driver (driver/Driver.cpp, driver/Progress.cpp).
uint32_t AnalyseManagerStrip(CTypeRecoveryManager* m, uint64_t stripPosition, const uint8_t* buffer,
                             uint32_t length, uint32_t lookahead, uint32_t* errorFlag);
uint32_t FlushManager(CTypeRecoveryManager* m);
uint32_t SaveManagerProgress(CTypeRecoveryManager* m, TypeRecoveryFile f);
uint32_t LoadManagerProgress(CTypeRecoveryManager* m, TypeRecoveryFile f);

// The registry (registry/Registry.cpp).
void AddType(CTypeRecoveryManager* m, uint32_t typeCode, uint64_t maxFileSize);
void AddAllTypes(CTypeRecoveryManager* m);
uint32_t GetAllSupportedFileTypes(CTypeRecoveryManager* m, TypeRecoveryFileTypeArray* fileTypes);
void NoteUsedFileNumber(CTypeRecoveryManager* m, const char16_t* extension, uint32_t number);

// The header verification (verify/HeaderVerification.cpp).
int32_t IsFileHeaderMatched(const uint8_t* buffer, uint32_t length, const char16_t* extension);

}  // namespace typerecovery

#endif
