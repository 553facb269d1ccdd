// ByteCarry: a few source bytes a recognizer keeps from one strip for the
// next.
//
// A walk that meets a record header beginning near a strip's end cannot
// always read it whole: the host may give little or no lookahead. Rather
// than guess, the walk keeps the header's first bytes here and completes it
// from the next strip, so that it decides exactly as it would have with the
// whole header in view. The same holds for bytes whose ownership is not yet
// decided (a recognizer that must see what follows before it knows whether
// they belong to the file). The capacity is fixed and small; Append refuses
// what would not fit, and the caller decides what that means for its format.
// The bytes are part of the progress record of the class that keeps them:
// a 32-bit count, then the bytes.
#ifndef TYPERECOVERY_FRAMEWORK_BYTECARRY_H
#define TYPERECOVERY_FRAMEWORK_BYTECARRY_H

#include <cstdint>
#include <cstring>

#include "framework/Bytes.h"
#include "platform/FileSystem.h"

namespace typerecovery {

template <uint32_t Capacity>
class ByteCarry {
 public:
  uint32_t Size() const { return m_size; }
  bool Empty() const { return m_size == 0; }
  const uint8_t* Data() const { return m_bytes; }
  ByteView View() const { return ByteView(m_bytes, m_size); }
  void Clear() { m_size = 0; }

  // Appends count bytes; false (and nothing appended) when they do not fit.
  bool Append(const uint8_t* data, uint64_t count) {
    if (count > Capacity - m_size) return false;
    std::memcpy(m_bytes + m_size, data, static_cast<size_t>(count));
    m_size += static_cast<uint32_t>(count);
    return true;
  }

  // Completes a record of `whole` bytes whose first bytes were kept from
  // earlier strips with the first bytes of this strip, and copies the kept
  // bytes to `earlierCopy` (the part the walk still has to write). Answers
  // false when the strip is too short to complete it: then the whole strip
  // is kept as well and the record waits for the next strip.
  bool CompleteFrom(const uint8_t* strip, uint32_t length, uint32_t whole, uint8_t* earlierCopy) {
    const uint32_t earlier = m_size;
    const uint32_t need = whole - earlier;
    if (need > length) {
      Append(strip, length);
      return false;
    }
    std::memcpy(earlierCopy, m_bytes, earlier);
    Append(strip, need);
    return true;
  }

  bool Save(TypeRecoveryFile file) const {
    uint8_t count[4] = {static_cast<uint8_t>(m_size), static_cast<uint8_t>(m_size >> 8),
                        static_cast<uint8_t>(m_size >> 16), static_cast<uint8_t>(m_size >> 24)};
    return WriteAll(file, count, 4) && (m_size == 0 || WriteAll(file, m_bytes, m_size));
  }
  bool Load(TypeRecoveryFile file) {
    uint8_t count[4];
    if (!ReadAll(file, count, 4)) return false;
    const uint32_t size = count[0] | (count[1] << 8) | (count[2] << 16) | (uint32_t{count[3]} << 24);
    if (size > Capacity) return false;
    m_size = size;
    return m_size == 0 || ReadAll(file, m_bytes, m_size);
  }

 private:
  uint8_t m_bytes[Capacity];
  uint32_t m_size = 0;
};

}  // namespace typerecovery

#endif
