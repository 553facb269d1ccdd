// The record-chain cursor shared by the PNG, PSP, EMF and ABR recognizers.
#include "formats/image/RecordWalk.h"

#include <cstring>

#include "platform/FileSystem.h"

namespace typerecovery {

ByteView RecordWalk::Header(const ByteView& data, uint8_t* window) const {
  if (m_stripOffset >= 0) return data.From(static_cast<uint64_t>(m_stripOffset));
  // The header began in the previous strip: its first bytes are in the carry.
  if (static_cast<uint64_t>(-m_stripOffset) != m_carryLength) return ByteView();
  std::memcpy(window, m_carry, m_carryLength);
  uint32_t n = m_carryLength;
  for (uint64_t i = 0; n < kWindowSize && i < data.size; ++i) window[n++] = data.data[i];
  return ByteView(window, n);
}

void RecordWalk::KeepCutHeader(const ByteView& data, uint32_t length) {
  const int64_t p = m_stripOffset;
  if (p >= static_cast<int64_t>(length)) return;  // it starts in a later strip
  if (p >= 0) m_carryLength = 0;
  for (int64_t i = p < 0 ? 0 : p;
       i < length && i < static_cast<int64_t>(data.size) && m_carryLength < sizeof m_carry; ++i) {
    m_carry[m_carryLength++] = data.data[i];
  }
}

namespace {

bool PutU64(TypeRecoveryFile file, uint64_t value) {
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return WriteAll(file, bytes, 8);
}

bool GetU64(TypeRecoveryFile file, uint64_t* value) {
  uint8_t bytes[8];
  if (!ReadAll(file, bytes, 8)) return false;
  *value = ReadU64LE(ByteView(bytes, 8), 0);
  return true;
}

}  // namespace

bool RecordWalk::Save(TypeRecoveryFile file, bool withFlag) const {
  if (!PutU64(file, m_fileOffset) || !PutU64(file, static_cast<uint64_t>(m_stripOffset))) {
    return false;
  }
  return !withFlag || WriteAll(file, &m_flag, 1);
}

bool RecordWalk::Load(TypeRecoveryFile file, bool withFlag) {
  uint64_t stripOffset = 0;
  if (!GetU64(file, &m_fileOffset) || !GetU64(file, &stripOffset)) return false;
  m_stripOffset = static_cast<int64_t>(stripOffset);
  m_carryLength = 0;
  m_flag = kWalking;
  if (withFlag && !ReadAll(file, &m_flag, 1)) return false;
  if (m_flag > kStoppedIncomplete) m_flag = kStoppedIncomplete;  // a hostile record
  return true;
}

}  // namespace typerecovery
