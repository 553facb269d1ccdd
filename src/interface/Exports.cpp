// The exported functions of the driver, the registry and the header
// verification: each checks its pointers and runs its operation
// (Operations.h) under one guard, so that nothing thrown inside the library
// crosses into the host; a call that threw answers as a call that failed.
#include "interface/Operations.h"

namespace {

template <class Result, class Operation>
Result Guarded(Result failure, Operation operation) {
  try {
    return operation();
  } catch (...) {
    return failure;
  }
}

template <class Operation>
void Guarded(Operation operation) {
  try {
    operation();
  } catch (...) {
  }
}

}  // namespace

extern "C" {

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_Analyse(CTypeRecoveryManager* m,
                                                                 uint64_t stripPosition,
                                                                 const uint8_t* buffer,
                                                                 uint32_t length,
                                                                 uint32_t lookahead,
                                                                 uint32_t* errorFlag) {
  if (m == nullptr) return 0;
  return Guarded(0u, [&] {
    return typerecovery::AnalyseManagerStrip(m, stripPosition, buffer, length, lookahead, errorFlag);
  });
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_Flush(CTypeRecoveryManager* m) {
  if (m == nullptr) return 0;
  return Guarded(0u, [&] { return typerecovery::FlushManager(m); });
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_SaveProgress(CTypeRecoveryManager* m,
                                                                      TypeRecoveryFile f) {
  if (m == nullptr) return 0;
  return Guarded(0u, [&] { return typerecovery::SaveManagerProgress(m, f); });
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_LoadProgress(CTypeRecoveryManager* m,
                                                                      TypeRecoveryFile f) {
  if (m == nullptr) return 0;
  return Guarded(0u, [&] { return typerecovery::LoadManagerProgress(m, f); });
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_AddType(CTypeRecoveryManager* m,
                                                             uint32_t typeCode,
                                                             uint64_t maxFileSize) {
  if (m == nullptr) return;
  Guarded([&] { typerecovery::AddType(m, typeCode, maxFileSize); });
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_AddAllTypes(CTypeRecoveryManager* m) {
  if (m == nullptr) return;
  Guarded([&] { typerecovery::AddAllTypes(m); });
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetAllSupportedFileTypes(
    CTypeRecoveryManager* m, TypeRecoveryFileTypeArray* fileTypes) {
  if (m == nullptr || fileTypes == nullptr) return 0;
  return Guarded(0u, [&] { return typerecovery::GetAllSupportedFileTypes(m, fileTypes); });
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_NoteUsedFileNumber(
    CTypeRecoveryManager* m, const char16_t* extension, uint32_t number) {
  if (m == nullptr) return;
  Guarded([&] { typerecovery::NoteUsedFileNumber(m, extension, number); });
}

TYPERECOVERY_API int32_t TYPERECOVERY_CALL TypeRecovery_IsFileHeaderMatched(
    const uint8_t* buffer, uint32_t length, const char16_t* extension) {
  return Guarded(int32_t{0}, [&] { return typerecovery::IsFileHeaderMatched(buffer, length, extension); });
}

}  // extern "C"
