// A set of two-byte openings, for the sub-type scans that look for any of a
// list of names in file data: a position is worth comparing names at only
// when its first two bytes open one of them. One bit per pair (8 KiB) says
// so exactly; with SSE2, sixteen positions at a time are first sifted by
// the openings' second bytes and the range of first bytes that goes with
// each, so that stretches without a candidate pass at vector speed, as
// memchr passes bytes it does not look for.
#ifndef TYPERECOVERY_FRAMEWORK_PAIRSET_H
#define TYPERECOVERY_FRAMEWORK_PAIRSET_H

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace typerecovery {

class PairSet {
 public:
  void Add(uint8_t first, uint8_t second) {
    const uint32_t key = Key(first, second);
    m_bits[key >> 6] |= uint64_t{1} << (key & 63);
    for (size_t g = 0; g < m_groupCount; ++g) {
      Group& group = m_groups[g];
      if (group.second != second) continue;
      if (first < group.low) group.low = first;
      if (first > group.high) group.high = first;
      SetLanes(g);
      return;
    }
    if (m_groupCount == kMaxGroups) {
      m_sifted = false;  // too many second bytes to sift by: every position is looked up
      return;
    }
    m_groups[m_groupCount] = Group{second, first, first};
    SetLanes(m_groupCount++);
  }

  // The first position p in [from, end) whose bytes p and p + 1 form a pair
  // of the set, or end. data[end] must be readable.
  uint64_t Next(const uint8_t* data, uint64_t from, uint64_t end) const {
    uint64_t p = from;
#if defined(__SSE2__)
    if (m_sifted) {
      for (; end - p >= 16 && p < end; p += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 1));
        __m128i sifted = _mm_setzero_si128();
        for (size_t g = 0; g < m_groupCount; ++g) {
          const GroupLanes& lanes = m_lanes[g];
          const __m128i isSecond = _mm_cmpeq_epi8(second, lanes.second);
          // first - low <= high - low, unsigned: within the group's range.
          const __m128i above = _mm_sub_epi8(first, lanes.low);
          const __m128i within = _mm_cmpeq_epi8(_mm_min_epu8(above, lanes.span), above);
          sifted = _mm_or_si128(sifted, _mm_and_si128(isSecond, within));
        }
        for (uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(sifted)); mask != 0;
             mask &= mask - 1) {
          const uint64_t at = p + static_cast<uint64_t>(__builtin_ctz(mask));
          if (Has(data + at)) return at;
        }
      }
    }
#endif
    for (; p < end; ++p) {
      if (Has(data + p)) return p;
    }
    return end;
  }

 private:
  struct Group {
    uint8_t second;
    uint8_t low;  // range of the first bytes that open a pair with this second byte
    uint8_t high;
  };
  static constexpr size_t kMaxGroups = 12;

  static uint32_t Key(uint8_t first, uint8_t second) { return first | (uint32_t{second} << 8); }

  bool Has(const uint8_t* at) const {
    const uint32_t key = Key(at[0], at[1]);
    return ((m_bits[key >> 6] >> (key & 63)) & 1) != 0;
  }

#if defined(__SSE2__)
  // Each group's bytes in all sixteen lanes, made when the set is built.
  struct GroupLanes {
    __m128i second;
    __m128i low;
    __m128i span;
  };
  void SetLanes(size_t g) {
    const Group& group = m_groups[g];
    m_lanes[g].second = _mm_set1_epi8(static_cast<char>(group.second));
    m_lanes[g].low = _mm_set1_epi8(static_cast<char>(group.low));
    m_lanes[g].span = _mm_set1_epi8(static_cast<char>(group.high - group.low));
  }
  GroupLanes m_lanes[kMaxGroups] = {};
#else
  void SetLanes(size_t) {}
#endif

  uint64_t m_bits[1024] = {};
  Group m_groups[kMaxGroups] = {};
  size_t m_groupCount = 0;
  bool m_sifted = true;
};

}  // namespace typerecovery

#endif
