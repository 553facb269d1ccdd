// The progress file: one record per active recognizer, in active-list
// order, ended by a 32-bit zero. Read and written at the handle's current
// position; the handle is never moved or closed here.
#include "containers/Items.h"
#include "framework/TypeRecovery.h"
#include "interface/Manager.h"
#include "interface/Operations.h"
#include "platform/FileSystem.h"

namespace {

constexpr uint8_t kEndMarker[4] = {0, 0, 0, 0};

CTypeRecovery* FindPrototype(CTypeRecoveryManager* m, uint32_t typeCode) {
  for (long i = 0; i < m->m_prototypes.GetCount(); ++i) {
    CTypeRecovery* prototype = typerecovery::ItemsOf(m->m_prototypes)[i];
    if (prototype->GetTypeCode() == typeCode) return prototype;
  }
  return nullptr;
}

}  // namespace

namespace typerecovery {

uint32_t SaveManagerProgress(CTypeRecoveryManager* m, TypeRecoveryFile f) {
  if (f == TYPERECOVERY_INVALID_FILE) return 1;
  // The records tell how much of each output file was written: what the
  // buffers hold goes to disk first, and a record is not written unless it did.
  for (long i = 0; i < m->m_actives.GetCount(); ++i) {
    if (!typerecovery::ItemsOf(m->m_actives)[i]->FlushOutput()) return 0;
  }
  for (long i = 0; i < m->m_actives.GetCount(); ++i) {
    if (typerecovery::ItemsOf(m->m_actives)[i]->SaveProgress(f) == 0) return 0;
  }
  // A stop may end the run here: no folder emptied so far is left behind.
  m->RemoveEmptyFolders();
  return typerecovery::WriteAll(f, kEndMarker, sizeof kEndMarker) ? 1 : 0;
}

uint32_t LoadManagerProgress(CTypeRecoveryManager* m, TypeRecoveryFile f) {
  if (f == TYPERECOVERY_INVALID_FILE) return 1;
  m->DestroyActives();
  for (;;) {
    uint8_t bytes[4];
    if (!typerecovery::ReadAll(f, bytes, sizeof bytes)) return 0;
    const uint32_t typeCode = typerecovery::ReadU32LE(typerecovery::ByteView(bytes, 4), 0);
    if (typeCode == 0) return 1;
    // A record of a class this manager lacks cannot be skipped (its length
    // depends on its class), so the load stops there.
    CTypeRecovery* prototype = FindPrototype(m, typeCode);
    if (prototype == nullptr) return 0;
    CTypeRecovery* active = prototype->Clone();
    if (active == nullptr) return 0;
    if (active->LoadProgress(f) == 0) {
      active->HandBackToPrototype();
      delete active;
      return 0;
    }
    m->m_actives.Add(active);
  }
}

}  // namespace typerecovery
