// Building the header pass's per-first-byte lists and gates from the
// prototypes' header leads, and asking them at each strip.
#include "driver/HeaderDispatch.h"

#include "containers/Items.h"
#include "framework/TypeRecovery.h"
#include "registry/HeaderLeads.h"
#include "registry/RecognizerFactory.h"

namespace typerecovery {

namespace {

bool Admits(const HeaderLead& lead, uint8_t value) {
  for (size_t k = 0; k < lead.count; ++k) {
    if (static_cast<uint8_t>(lead.bytes[k]) == value) return true;
  }
  return false;
}

}  // namespace

void HeaderDispatch::Build(const CDynArray<CTypeRecovery*>& prototypes) {
  const long count = prototypes.GetCount();
  CTypeRecovery* const* items = ItemsOf(prototypes);
  m_prototypes.assign(items, items + count);
  m_entries.clear();
  m_ungated.clear();
  m_gatePositions.clear();

  // Each prototype's lead, and the gate of those led by a later byte: one
  // gate per distinct lead.
  std::vector<const HeaderLead*> leads(static_cast<size_t>(count));
  std::vector<uint32_t> gates(static_cast<size_t>(count), 0);
  std::vector<const HeaderLead*> gateLeads;
  for (long i = 0; i < count; ++i) {
    const HeaderLead* lead = FindHeaderLead(RecognizerClassName(*items[i]));
    leads[static_cast<size_t>(i)] = lead;
    if (lead == nullptr || lead->offset == 0) continue;
    size_t g = 0;
    while (g < gateLeads.size() && gateLeads[g] != lead) ++g;
    if (g == gateLeads.size()) {
      if (g == kMaxGates) continue;  // no gate left: asked at every strip
      gateLeads.push_back(lead);
    }
    const uint32_t gate = static_cast<uint32_t>(g + 1);
    gates[static_cast<size_t>(i)] = gate;
    size_t at = 0;
    while (at < m_gatePositions.size() && m_gatePositions[at].offset != lead->offset) ++at;
    if (at == m_gatePositions.size()) m_gatePositions.push_back(GatePosition{lead->offset, {}});
    for (size_t k = 0; k < lead->count; ++k) {
      m_gatePositions[at].opens[static_cast<uint8_t>(lead->bytes[k])] |= 1u << gate;
    }
  }

  for (uint32_t first = 0; first < 256; ++first) {
    m_start[first] = static_cast<uint32_t>(m_entries.size());
    m_ungatedStart[first] = static_cast<uint32_t>(m_ungated.size());
    for (long i = 0; i < count; ++i) {
      const HeaderLead* lead = leads[static_cast<size_t>(i)];
      if (lead != nullptr && lead->offset == 0 && !Admits(*lead, static_cast<uint8_t>(first))) continue;
      const Entry entry{static_cast<uint32_t>(i), gates[static_cast<size_t>(i)]};
      m_entries.push_back(entry);
      if (entry.gate == 0) m_ungated.push_back(entry);
    }
  }
  m_start[256] = static_cast<uint32_t>(m_entries.size());
  m_ungatedStart[256] = static_cast<uint32_t>(m_ungated.size());
  m_count = count;
  m_items = prototypes.GetData();
  m_built = true;
}

uint32_t HeaderDispatch::Match(const uint8_t* buffer, uint32_t length,
                               CTypeRecovery** candidate) const {
  // Which gates this strip opens; a test cannot see a byte beyond its length.
  uint32_t open = 1;
  for (const GatePosition& position : m_gatePositions) {
    if (position.offset < length) open |= position.opens[buffer[position.offset]];
  }
  const bool anyGate = open != 1;
  const std::vector<Entry>& list = anyGate ? m_entries : m_ungated;
  const uint32_t* start = anyGate ? m_start : m_ungatedStart;
  const Entry* entry = list.data() + start[buffer[0]];
  const Entry* const end = list.data() + start[buffer[0] + 1];
  for (; entry != end; ++entry) {
    if (((open >> entry->gate) & 1) == 0) continue;
    CTypeRecovery* prototype = m_prototypes[entry->index];
    const uint32_t code = prototype->IsHeaderMatched(buffer, length, 0);
    if (code != 0) {
      *candidate = prototype;
      return code;
    }
  }
  *candidate = nullptr;
  return 0;
}

}  // namespace typerecovery
