// The header pass by dispatch. Built from the prototype list before a scan:
// for every value of a strip's first byte, the prototypes whose header test
// can answer there, in list order: those whose lead is that first byte, those
// led by a later byte (asked when that byte fits, judged once per strip for
// all of them) and those led by none (always asked). Most strips open no
// gate: for them a second, shorter list per first byte leaves the gated
// prototypes out. A strip's pass stops at
// the first answer, so it finds the same type code and candidate as asking
// every prototype in turn.
#ifndef TYPERECOVERY_DRIVER_HEADERDISPATCH_H
#define TYPERECOVERY_DRIVER_HEADERDISPATCH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "typerecovery.h"

class CTypeRecovery;

namespace typerecovery {

class HeaderDispatch {
 public:
  // True when the tables were built from this list as it is now. The list
  // only grows (types are added before a scan), so its count and item block
  // tell a change.
  bool IsBuiltFor(const CDynArray<CTypeRecovery*>& prototypes) const {
    return m_built && m_count == prototypes.GetCount() && m_items == prototypes.GetData();
  }
  void Build(const CDynArray<CTypeRecovery*>& prototypes);

  // The first prototype in list order whose header test answers for this
  // strip, and its answer; 0 and no candidate when none does. The buffer
  // holds at least 16 readable bytes.
  uint32_t Match(const uint8_t* buffer, uint32_t length, CTypeRecovery** candidate) const;

 private:
  // A prototype to ask, and the gate that must be open for it: gate 0
  // always is; gate g > 0 is open when the byte at its position is one of
  // its values.
  struct Entry {
    uint32_t index;  // in the prototype list
    uint32_t gate;
  };
  // The strip positions that gates look at, each with the gates that every
  // byte value there opens (bit g for gate g).
  struct GatePosition {
    uint32_t offset;
    uint32_t opens[256];
  };
  static constexpr size_t kMaxGates = 31;

  bool m_built = false;
  long m_count = 0;
  const void* m_items = nullptr;
  std::vector<CTypeRecovery*> m_prototypes;
  // For first byte b, the prototypes to ask in list order:
  // m_entries[m_start[b]] up to m_entries[m_start[b + 1]].
  std::vector<Entry> m_entries;
  uint32_t m_start[257] = {};
  // The same without the gated entries, for strips that open no gate.
  std::vector<Entry> m_ungated;
  uint32_t m_ungatedStart[257] = {};
  std::vector<GatePosition> m_gatePositions;
};

}  // namespace typerecovery

#endif
