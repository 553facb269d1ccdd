// ProgressRecord: one list of fields serves both halves of a recognizer's
// progress record. A class lists the state it keeps for the file in
// progress once, in record order (CTypeRecovery::FileProgressFields); the
// record either writes each field or reads it back, so the two halves
// cannot drift apart.
//
// Encoding, the same as the hand-written records it replaces: unsigned
// integers little-endian in their own width (1, 2, 4 or 8 bytes), a signed
// 64-bit value as its unsigned bit pattern, byte arrays as they are, a flag
// as one byte read back as 0 or 1, and parts with their own Save and Load
// (ByteCarry, sub-type flags) as they save themselves. Fields listed after
// FileFields() are moved only while a file is in progress; otherwise those
// calls do nothing. After the first failed transfer nothing more is read or
// written and Ok() is false; Fail() marks a loaded record as unusable.
#ifndef TYPERECOVERY_FRAMEWORK_PROGRESSRECORD_H
#define TYPERECOVERY_FRAMEWORK_PROGRESSRECORD_H

#include <cstddef>
#include <cstdint>

#include "platform/FileSystem.h"

namespace typerecovery {

class ProgressRecord {
 public:
  ProgressRecord(TypeRecoveryFile file, bool saving, bool fileInProgress)
      : m_file(file), m_saving(saving), m_fileInProgress(fileInProgress) {}

  bool Saving() const { return m_saving; }
  bool Loading() const { return !m_saving; }
  bool Ok() const { return m_ok; }
  bool FileInProgress() const { return m_fileInProgress; }
  // The fields listed from here on belong to the file in progress.
  ProgressRecord& FileFields() {
    m_active = m_fileInProgress;
    return *this;
  }
  void Fail() { m_ok = false; }

  ProgressRecord& operator()(uint8_t& value) { return Bytes(&value, 1); }
  ProgressRecord& operator()(uint16_t& value) { return Unsigned(value); }
  ProgressRecord& operator()(uint32_t& value) { return Unsigned(value); }
  ProgressRecord& operator()(uint64_t& value) { return Unsigned(value); }
  ProgressRecord& operator()(int64_t& value) {
    uint64_t bits = static_cast<uint64_t>(value);
    Unsigned(bits);
    value = static_cast<int64_t>(bits);
    return *this;
  }
  template <size_t N>
  ProgressRecord& operator()(uint8_t (&bytes)[N]) {
    return Bytes(bytes, N);
  }
  // One byte, read back as 0 or 1.
  ProgressRecord& Flag(uint8_t& value) {
    Bytes(&value, 1);
    if (Loading()) value = value != 0 ? 1 : 0;
    return *this;
  }
  ProgressRecord& Bytes(void* data, size_t count) {
    if (m_active && m_ok) {
      m_ok = m_saving ? WriteAll(m_file, data, count) : ReadAll(m_file, data, count);
    }
    return *this;
  }
  template <class Part>
  ProgressRecord& Nested(Part& part) {
    if (m_active && m_ok) m_ok = m_saving ? part.Save(m_file) : part.Load(m_file);
    return *this;
  }

 private:
  template <class T>
  ProgressRecord& Unsigned(T& value) {
    uint8_t bytes[sizeof(T)];
    if (m_saving) {
      for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    Bytes(bytes, sizeof(T));
    if (!m_saving && m_active && m_ok) {
      T read = 0;
      for (size_t i = sizeof(T); i > 0; --i) read = static_cast<T>((read << 8) | bytes[i - 1]);
      value = read;
    }
    return *this;
  }

  TypeRecoveryFile m_file;
  bool m_saving;
  bool m_fileInProgress;
  bool m_active = true;
  bool m_ok = true;
};

}  // namespace typerecovery

#endif
