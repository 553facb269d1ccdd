// The analysis driver: one call per strip. A header pass over the
// prototypes (first answer wins, asking only those whose header test can
// answer at this strip's leading bytes), the walk over the active recognizers
// (retiring idle ones), and a clone of the candidate prototype when no
// active recognizer of its class is following a file. Flush ends whatever
// is still in progress and removes the type folders left empty. Each
// recognizer's call is guarded on its own: one that throws loses only the
// file it follows (its output file is removed), is retired and counted in
// the manager's faults; the others go on.
#include <cstring>

#include "containers/Items.h"
#include "framework/TypeRecovery.h"
#include "interface/Manager.h"
#include "interface/Operations.h"

using typerecovery::ItemsOf;

namespace {

// A strip whose first 16 bytes repeat one 8-byte pattern (a blank or filled
// sector) gets no header pass.
bool IsRepeatedPattern(const uint8_t* buffer) { return std::memcmp(buffer, buffer + 8, 8) == 0; }

// A recognizer call threw: count the fault and let the recognizer's file go.
void ContainFault(CTypeRecoveryManager* m, CTypeRecovery* r) {
  ++m->m_faults;
  try {
    r->DiscardOutputFile();
  } catch (...) {
  }
}

// One recognizer's strip. False when it threw: its file is then discarded
// and the fault counted; the caller retires it.
bool AnalyseGuarded(CTypeRecoveryManager* m, CTypeRecovery* r, uint64_t stripPosition,
                    const uint8_t* buffer, uint32_t length, uint32_t lookahead,
                    uint32_t headerTypeCode, uint32_t* errorFlag, uint32_t* ended) {
  try {
    *ended = r->Analyse(stripPosition, buffer, length, lookahead, headerTypeCode, errorFlag);
    return true;
  } catch (...) {
    ContainFault(m, r);
    *ended = 0;
    return false;
  }
}

}  // namespace

namespace typerecovery {

uint32_t AnalyseManagerStrip(CTypeRecoveryManager* m, uint64_t stripPosition, const uint8_t* buffer,
                             uint32_t length, uint32_t lookahead, uint32_t* errorFlag) {
  uint32_t headerTypeCode = 0;
  CTypeRecovery* candidate = nullptr;
  uint32_t count = 0;

  if (!IsRepeatedPattern(buffer)) {
    if (!m->m_headerDispatch.IsBuiltFor(m->m_prototypes)) m->m_headerDispatch.Build(m->m_prototypes);
    headerTypeCode = m->m_headerDispatch.Match(buffer, length, &candidate);
  }

  long i = 0;
  while (i < m->m_actives.GetCount()) {
    CTypeRecovery* active = ItemsOf(m->m_actives)[i];
    const bool wasIdle = active->IsIdle();
    uint32_t ended = 0;
    if (!AnalyseGuarded(m, active, stripPosition, buffer, length, lookahead, headerTypeCode,
                        errorFlag, &ended)) {
      m->RetireActive(i);
      continue;
    }
    count += ended;
    // A buffered write that failed (in this call, perhaps at a close).
    if (m->m_outputBuffers.TakeWriteFailure()) *errorFlag = 1;
    if (*errorFlag != 0) break;
    if (active->IsIdle()) {
      // A recognizer that began a file at this strip and ended it here too
      // (idle before and ended one, or cut one and ended the next) has
      // already taken this strip's header: cloning its class again would
      // carve the same file twice.
      if (candidate != nullptr && candidate->GetTypeCode() == active->GetTypeCode() &&
          ((wasIdle && ended >= 1) || ended >= 2)) {
        candidate = nullptr;
      }
      m->RetireActive(i);
      continue;
    }
    ++i;
    if (candidate != nullptr && candidate->GetTypeCode() == active->GetTypeCode()) {
      candidate = nullptr;
    }
  }

  if (candidate != nullptr) {
    CTypeRecovery* active = candidate->Clone();
    if (active != nullptr) {
      m->m_actives.Add(active);
      uint32_t ended = 0;
      if (AnalyseGuarded(m, active, stripPosition, buffer, length, lookahead, headerTypeCode,
                         errorFlag, &ended)) {
        count += ended;
      } else {
        m->RetireActive(m->m_actives.GetCount() - 1);
      }
      if (m->m_outputBuffers.TakeWriteFailure()) *errorFlag = 1;
    }
  }
  return count;
}

uint32_t FlushManager(CTypeRecoveryManager* m) {
  uint32_t count = 0;
  for (long i = 0; i < m->m_actives.GetCount(); ++i) {
    CTypeRecovery* active = ItemsOf(m->m_actives)[i];
    try {
      count += active->FinishFile();
    } catch (...) {
      ContainFault(m, active);
    }
  }
  m->DestroyActives();
  m->RemoveEmptyFolders();
  // Flush has no error flag to set: a failed last write is not carried into
  // a later strip.
  m->m_outputBuffers.TakeWriteFailure();
  return count;
}

}  // namespace typerecovery
