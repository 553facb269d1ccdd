// The manager's lifecycle and the exported functions that only touch it.
#include "interface/Manager.h"

#include <cstdlib>
#include <new>

#include "framework/TypeRecovery.h"
#include "platform/FileSystem.h"

namespace {
TypeRecoveryFolderIdFn g_folderIdCallback = nullptr;
}  // namespace

TypeRecoveryFolderIdFn GetFolderIdCallback() { return g_folderIdCallback; }

CTypeRecoveryManager::CTypeRecoveryManager(uintptr_t userValue, TypeRecoveryFoundFileFn foundFile,
                                           const char16_t* outputRoot)
    : m_foundFile(nullptr), m_outputRoot(nullptr), m_userValue(0), m_restrictedSize(~uint64_t{0}) {
  if (outputRoot != nullptr && outputRoot[0] != 0) {
    m_outputRoot = static_cast<char16_t*>(std::malloc(kRootUnits * sizeof(char16_t)));
    if (m_outputRoot != nullptr) {
      uint32_t n = 0;
      for (; n < kRootUnits && outputRoot[n] != 0; ++n) m_outputRoot[n] = outputRoot[n];
      if (n < kRootUnits) m_outputRoot[n] = 0;
      m_outputRoot[kRootUnits - 1] = 0;
    }
  } else {
    m_foundFile = foundFile;
    m_userValue = userValue;
  }
}

void CTypeRecoveryManager::RetireActive(long index) {
  CTypeRecovery* active = m_actives.GetAt(index);
  m_actives.RemoveAt(index);
  active->HandBackToPrototype();
  delete active;
}

void CTypeRecoveryManager::RemoveEmptyFolders() {
  try {
    for (long i = 0; i < m_prototypes.GetCount(); ++i) m_prototypes.GetAt(i)->RemoveEmptyFolders();
  } catch (...) {
  }
}

void CTypeRecoveryManager::DestroyActives() {
  // In list order: a later hand-back of the same class overwrites an earlier.
  while (m_actives.GetCount() > 0) RetireActive(0);
}

CTypeRecoveryManager::~CTypeRecoveryManager() {
  DestroyActives();
  for (long i = 0; i < m_prototypes.GetCount(); ++i) delete m_prototypes.GetAt(i);
  m_prototypes.RemoveAll();
  std::free(m_outputRoot);
}

uint32_t CTypeRecoveryManager::ReportFoundFile(uint32_t typeFolderValue, uint32_t* fileCounter,
                                               const char16_t* extension, uint64_t fileStart,
                                               uint64_t size, uint32_t complete,
                                               const tag_PictureInfo* picture) const {
  if (m_foundFile == nullptr) return 0;
  return m_foundFile(m_userValue, typeFolderValue, fileCounter, extension, fileStart, size,
                     complete, picture);
}

uint32_t CTypeRecoveryManager::AskTypeFolderId(const char16_t* extension, bool* has) const {
  TypeRecoveryFolderIdFn callback = g_folderIdCallback;
  *has = callback != nullptr;
  return callback != nullptr ? callback(m_userValue, extension) : 0;
}

extern "C" {

TYPERECOVERY_API CTypeRecoveryManager* TYPERECOVERY_CALL TypeRecovery_CreateManager(
    uintptr_t userValue, TypeRecoveryFoundFileFn foundFile, const char16_t* outputRoot) {
  const bool folderMode = outputRoot != nullptr && outputRoot[0] != 0;
  if (!folderMode && (userValue == 0 || foundFile == nullptr)) return nullptr;
  return new (std::nothrow) CTypeRecoveryManager(userValue, foundFile, outputRoot);
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_CloseManager(CTypeRecoveryManager* m) {
  delete m;
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_SetRestrictedSize(CTypeRecoveryManager* m,
                                                                       uint64_t size) {
  if (m != nullptr) m->m_restrictedSize = size;
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_SetFuncGetTypeFolderID(TypeRecoveryFolderIdFn fn) {
  g_folderIdCallback = fn;
}

TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_SetFileClosedCallback(
    CTypeRecoveryManager* m, TypeRecoveryFileClosedFn fn, uintptr_t userValue) {
  if (m == nullptr || m->m_outputRoot == nullptr) return;  // folder mode only
  m->m_fileClosed = fn;
  m->m_fileClosedValue = fn != nullptr ? userValue : 0;
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_IsAtRest(CTypeRecoveryManager* m) {
  return m != nullptr && m->m_actives.GetCount() == 0 ? 1 : 0;
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetOldestOpenFileStart(
    CTypeRecoveryManager* m, uint64_t* start) {
  if (m == nullptr || start == nullptr) return 0;
  uint32_t found = 0;
  for (long i = 0; i < m->m_actives.GetCount(); ++i) {
    const CTypeRecovery* active = m->m_actives.GetAt(i);
    if (!active->IsFileInProgress() && !active->HasOpenOutputFile()) continue;
    uint64_t begin = active->GetFileStart();
    if (active->HasOpenOutputFile()) {
      const uint64_t leadIn = active->LeadInBytes();
      begin = begin > leadIn ? begin - leadIn : 0;
    }
    if (found == 0 || begin < *start) *start = begin;
    found = 1;
  }
  return found;
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetOpenOutputFiles(
    CTypeRecoveryManager* m, TypeRecoveryOpenFileFn fn, uintptr_t userValue) {
  if (m == nullptr || fn == nullptr || m->m_outputRoot == nullptr) return 0;
  uint32_t count = 0;
  for (long i = 0; i < m->m_actives.GetCount(); ++i) {
    CTypeRecovery* active = m->m_actives.GetAt(i);
    if (!active->HasOpenOutputFile() || !active->IsFileInProgress()) continue;
    TypeRecoveryFile file = active->GetOutputFile();
    uint64_t size = 0;
    // The size on disk is the bytes written: the buffered ones go first.
    if (!active->FlushOutput() || !typerecovery::CurrentFileSystem().SizeOf(file, &size)) continue;
    fn(userValue, active->GetOutputPath() + active->GetRootLength(), active->GetTypeCode(),
       active->GetFileStart(), size, file);
    ++count;
  }
  return count;
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_ReopenOutputFile(
    CTypeRecoveryManager* m, uint32_t typeCode, uint64_t fileStart, const char16_t* path,
    TypeRecoveryFile file) {
  if (m == nullptr || m->m_outputRoot == nullptr) return 0;
  for (long i = 0; i < m->m_actives.GetCount(); ++i) {
    CTypeRecovery* active = m->m_actives.GetAt(i);
    if (active->GetTypeCode() == typeCode && active->GetFileStart() == fileStart &&
        active->AdoptOutputFile(file, path)) {
      return 1;
    }
  }
  return 0;
}

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetFaultCount(CTypeRecoveryManager* m) {
  return m != nullptr ? m->m_faults : 0;
}

}  // extern "C"
