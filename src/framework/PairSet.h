// A set of two-byte openings, for the sub-type scans that look for any of a
// list of names in file data: a position is worth comparing names at only
// when its first two bytes open one of them. One bit per pair, 8 KiB, so
// the test per position is a load and a bit test.
#ifndef TYPERECOVERY_FRAMEWORK_PAIRSET_H
#define TYPERECOVERY_FRAMEWORK_PAIRSET_H

#include <cstdint>

namespace typerecovery {

class PairSet {
 public:
  void Add(uint8_t first, uint8_t second) {
    const uint32_t key = Key(first, second);
    m_bits[key >> 6] |= uint64_t{1} << (key & 63);
  }
  // The first position p in [from, end) whose bytes p and p + 1 form a pair
  // of the set, or end. data[end] must be readable.
  uint64_t Next(const uint8_t* data, uint64_t from, uint64_t end) const {
    for (uint64_t p = from; p < end; ++p) {
      const uint32_t key = Key(data[p], data[p + 1]);
      if ((m_bits[key >> 6] >> (key & 63)) & 1) return p;
    }
    return end;
  }

 private:
  static uint32_t Key(uint8_t first, uint8_t second) { return first | (uint32_t{second} << 8); }
  uint64_t m_bits[1024] = {};
};

}  // namespace typerecovery

#endif
