// CTypeRecoveryManager: what a host holds behind the opaque pointer.
//
// Folder mode: an output root, no callback; report mode: a found-file
// callback and its user value, no root. The mode is fixed at creation. The
// manager owns every recognizer in its two lists (a recognizer is in exactly
// one); destruction destroys the actives first, because their destructors
// merge their counters into the prototypes.
//
// Not thread-safe: one thread at a time per manager.
#ifndef TYPERECOVERY_INTERFACE_MANAGER_H
#define TYPERECOVERY_INTERFACE_MANAGER_H

#include <cstdint>
#include <exception>

#include "driver/HeaderDispatch.h"
#include "framework/OutputBuffer.h"
#include "typerecovery.h"

class CTypeRecoveryManager {
 public:
  static constexpr uint32_t kRootUnits = 32768;

  // Folder mode when root is non-empty, else report mode.
  CTypeRecoveryManager(uintptr_t userValue, TypeRecoveryFoundFileFn foundFile,
                       const char16_t* outputRoot);
  virtual ~CTypeRecoveryManager();
  CTypeRecoveryManager(const CTypeRecoveryManager&) = delete;
  CTypeRecoveryManager& operator=(const CTypeRecoveryManager&) = delete;

  // Calls the found-file callback; 0 without calling anything when none is set.
  uint32_t ReportFoundFile(uint32_t typeFolderValue, uint32_t* fileCounter,
                           const char16_t* extension, uint64_t fileStart, uint64_t size,
                           uint32_t complete, const tag_PictureInfo* picture) const;
  // Calls the process-wide folder-ID callback if it is set; has is false when not.
  uint32_t AskTypeFolderId(const char16_t* extension, bool* has) const;

  // Calls the file-closed callback when one is set.
  void TellFileClosed(const tag_ClosedFileInfo& info) const {
    if (m_fileClosed != nullptr) m_fileClosed(m_fileClosedValue, &info);
  }

  // Retires the active recognizer at index: it hands its prototype what
  // outlives it (HandBackToPrototype), leaves the active list and is
  // destroyed. The one way an active recognizer ends.
  void RetireActive(long index);
  // Retires every active recognizer.
  void DestroyActives();
  // Removes the type folders that moves and discards left empty; a folder
  // that cannot be removed is no failure of the caller.
  void RemoveEmptyFolders();

  TypeRecoveryFoundFileFn m_foundFile;
  char16_t* m_outputRoot;
  uintptr_t m_userValue;
  CDynArray<CTypeRecovery*> m_prototypes;
  CDynArray<CTypeRecovery*> m_actives;
  uint64_t m_restrictedSize;
  typerecovery::HeaderDispatch m_headerDispatch;  // built by the first strip after a change
  typerecovery::OutputBufferPool m_outputBuffers;  // of the recognizers' output files
  // Folder mode: told of every output file closed or removed (null: nobody).
  TypeRecoveryFileClosedFn m_fileClosed = nullptr;
  uintptr_t m_fileClosedValue = 0;
  // Recognizer calls that threw and were contained (TypeRecovery_GetFaultCount).
  uint32_t m_faults = 0;
};

// A processor fault turned into an ordinary exception. On POSIX there is no
// structured-exception translation: faults are contained by bounded reads,
// and this type carries a small portable fault record.
class CR_SEHException : public std::exception {
 public:
  struct FaultRecord {
    uint32_t code = 0;
    uintptr_t address = 0;
  };
  CR_SEHException() = default;
  explicit CR_SEHException(const FaultRecord& record) : m_record(record) {}
  const char* what() const noexcept override { return "CR Exception"; }
  const FaultRecord& Record() const { return m_record; }

 private:
  FaultRecord m_record;
};

// The process-wide folder-ID callback shared by all managers.
TypeRecoveryFolderIdFn GetFolderIdCallback();

#endif
