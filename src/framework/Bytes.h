// Bounded reads of format fields. A ByteView is the strip plus its lookahead:
// everything a recognizer may read in one call. Every read checks its range;
// a read that would leave the view answers 0 (or false) instead of touching
// memory outside it. Big-endian formats say so at the call (ReadU32BE).
#ifndef TYPERECOVERY_FRAMEWORK_BYTES_H
#define TYPERECOVERY_FRAMEWORK_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace typerecovery {

struct ByteView {
  const uint8_t* data = nullptr;
  uint64_t size = 0;

  ByteView() = default;
  ByteView(const uint8_t* d, uint64_t n) : data(d), size(d != nullptr ? n : 0) {}

  // True when [offset, offset + count) lies inside the view.
  bool Has(uint64_t offset, uint64_t count) const { return offset <= size && count <= size - offset; }
  const uint8_t* At(uint64_t offset) const { return data + offset; }
  ByteView From(uint64_t offset) const {
    return offset >= size ? ByteView() : ByteView(data + offset, size - offset);
  }
};

inline uint8_t ReadU8(const ByteView& v, uint64_t offset) {
  return offset < v.size ? v.data[offset] : 0;
}
inline uint16_t ReadU16LE(const ByteView& v, uint64_t offset) {
  if (!v.Has(offset, 2)) return 0;
  const uint8_t* p = v.data + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint16_t ReadU16BE(const ByteView& v, uint64_t offset) {
  if (!v.Has(offset, 2)) return 0;
  const uint8_t* p = v.data + offset;
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t ReadU24BE(const ByteView& v, uint64_t offset) {
  if (!v.Has(offset, 3)) return 0;
  const uint8_t* p = v.data + offset;
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
inline uint32_t ReadU32LE(const ByteView& v, uint64_t offset) {
  if (!v.Has(offset, 4)) return 0;
  const uint8_t* p = v.data + offset;
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint32_t ReadU32BE(const ByteView& v, uint64_t offset) {
  if (!v.Has(offset, 4)) return 0;
  const uint8_t* p = v.data + offset;
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint64_t ReadU64LE(const ByteView& v, uint64_t offset) {
  if (!v.Has(offset, 8)) return 0;
  return uint64_t{ReadU32LE(v, offset)} | (uint64_t{ReadU32LE(v, offset + 4)} << 32);
}
inline uint64_t ReadU64BE(const ByteView& v, uint64_t offset) {
  if (!v.Has(offset, 8)) return 0;
  return (uint64_t{ReadU32BE(v, offset)} << 32) | uint64_t{ReadU32BE(v, offset + 4)};
}

// True when the view holds exactly these bytes at offset.
inline bool BytesEqual(const ByteView& v, uint64_t offset, const void* bytes, size_t count) {
  return v.Has(offset, count) && std::memcmp(v.data + offset, bytes, count) == 0;
}
// Same for a string literal, without its terminating zero.
template <size_t N>
inline bool BytesEqual(const ByteView& v, uint64_t offset, const char (&text)[N]) {
  return BytesEqual(v, offset, text, N - 1);
}

// Offset of the first occurrence of pattern in [from, to) (the whole pattern
// must fit before to), or -1.
inline int64_t FindBytes(const ByteView& v, uint64_t from, uint64_t to, const void* pattern,
                         size_t count) {
  if (to > v.size) to = v.size;
  if (count == 0 || from >= to || to - from < count) return -1;
  const uint8_t* p = static_cast<const uint8_t*>(pattern);
  const uint8_t* begin = v.data + from;
  const uint8_t* last = v.data + to - count;
  while (begin <= last) {
    const void* hit = std::memchr(begin, p[0], static_cast<size_t>(last - begin) + 1);
    if (hit == nullptr) return -1;
    const uint8_t* h = static_cast<const uint8_t*>(hit);
    if (std::memcmp(h, p, count) == 0) return h - v.data;
    begin = h + 1;
  }
  return -1;
}

}  // namespace typerecovery

#endif
