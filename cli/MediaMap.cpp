// The media runs a free-space stream is made of, and a stream range mapped
// back to the media pieces that hold it.
#include "MediaMap.h"

#include <algorithm>

namespace trcli {

void MediaMap::Add(uint64_t offset, uint64_t length) {
  if (length == 0) return;
  if (!m_runs.empty() && m_runs.back().offset + m_runs.back().length == offset) {
    m_runs.back().length += length;
  } else {
    m_runs.push_back({offset, length});
    m_starts.push_back(m_size);
  }
  m_size += length;
}

std::vector<MediaRun> MediaMap::Pieces(uint64_t streamOffset, uint64_t size) const {
  std::vector<MediaRun> pieces;
  if (streamOffset >= m_size) return pieces;
  size = std::min(size, m_size - streamOffset);
  // The run holding streamOffset: the last one starting at or before it.
  size_t index = static_cast<size_t>(std::upper_bound(m_starts.begin(), m_starts.end(), streamOffset) -
                                     m_starts.begin()) - 1;
  uint64_t within = streamOffset - m_starts[index];
  while (size > 0 && index < m_runs.size()) {
    uint64_t take = std::min(size, m_runs[index].length - within);
    pieces.push_back({m_runs[index].offset + within, take});
    size -= take;
    within = 0;
    ++index;
  }
  return pieces;
}

}  // namespace trcli
