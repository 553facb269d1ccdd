// Sub-type enable flags and per-sub-type maximum sizes of the multi-format
// recognizers (one prototype serving several type codes).
//
// A class keeps its codes in flag order in a constant array; the flags are
// one byte each in that order, all off at construction. The registry turns
// them on through the class's EnableSubType/EnableAllSubTypes; a clone copies
// them normalised to 0 or 1; the progress record stores them one byte each.
// The maxima, where a class keeps them, are unsigned 64-bit, stored
// little-endian 8 bytes each.
#ifndef TYPERECOVERY_FRAMEWORK_SUBTYPEFLAGS_H
#define TYPERECOVERY_FRAMEWORK_SUBTYPEFLAGS_H

#include <cstddef>
#include <cstdint>

#include "platform/FileSystem.h"

namespace typerecovery {

// The row of code in a class's flag-order code list, or -1.
template <size_t N>
int SubTypeRow(const uint32_t (&codes)[N], uint32_t code) {
  for (size_t i = 0; i < N; ++i) {
    if (codes[i] == code) return static_cast<int>(i);
  }
  return -1;
}

template <size_t N>
struct SubTypeFlags {
  uint8_t on[N] = {};

  bool IsOn(size_t row) const { return row < N && on[row] != 0; }
  // Turns on the flag of code; false when code has no flag here.
  bool Enable(const uint32_t (&codes)[N], uint32_t code) {
    const int row = SubTypeRow(codes, code);
    if (row < 0) return false;
    on[row] = 1;
    return true;
  }
  // Every flag on except that of exceptCode (0: none excepted).
  void EnableAll(const uint32_t (&codes)[N], uint32_t exceptCode) {
    for (size_t i = 0; i < N; ++i) on[i] = codes[i] != exceptCode ? 1 : 0;
  }
  void CopyFrom(const SubTypeFlags& other) {
    for (size_t i = 0; i < N; ++i) on[i] = other.on[i] != 0 ? 1 : 0;
  }
  bool Save(TypeRecoveryFile file) const { return WriteAll(file, on, N); }
  bool Load(TypeRecoveryFile file) { return ReadAll(file, on, N); }
};

template <size_t N>
struct SubTypeMaxima {
  uint64_t size[N];

  explicit SubTypeMaxima(uint64_t initial) {
    for (size_t i = 0; i < N; ++i) size[i] = initial;
  }
  bool Save(TypeRecoveryFile file) const {
    for (size_t i = 0; i < N; ++i) {
      uint8_t bytes[8];
      for (int b = 0; b < 8; ++b) bytes[b] = static_cast<uint8_t>(size[i] >> (8 * b));
      if (!WriteAll(file, bytes, 8)) return false;
    }
    return true;
  }
  bool Load(TypeRecoveryFile file) {
    for (size_t i = 0; i < N; ++i) {
      uint8_t bytes[8];
      if (!ReadAll(file, bytes, 8)) return false;
      uint64_t value = 0;
      for (int b = 7; b >= 0; --b) value = (value << 8) | bytes[b];
      size[i] = value;
    }
    return true;
  }
};

}  // namespace typerecovery

#endif
