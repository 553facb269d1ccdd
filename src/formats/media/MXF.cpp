// MXF: header partition pack, then the KLV walk of the footer partition.
#include "formats/media/MXF.h"

#include <algorithm>

#include "registry/RecognizerFactory.h"

using namespace typerecovery;

namespace {

constexpr uint32_t kMinimumLength = 65;
// Partition pack key: 06 0E 2B 34 02 05 01 01 0D 01 02 01 01, then the kind
// (02 header, 03 body, 04 footer) and the status.
const uint8_t kPartitionKey[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01,
                                 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01};
constexpr uint32_t kPartitionKindAt = 13;
constexpr uint8_t kHeaderPartition = 0x02;
// Partition pack value (behind the 16-byte key and a 4-byte BER length):
// versions, KAG size, then ThisPartition, PreviousPartition and
// FooterPartition, 8 bytes each, big-endian.
constexpr uint32_t kThisPartitionAt = 28;
constexpr uint32_t kFooterPartitionAt = 44;
// Every SMPTE key begins so.
const uint8_t kSmpteKeyPrefix[] = {0x06, 0x0E, 0x2B, 0x34};
// The random index pack closes the file.
const uint8_t kRandomIndexKey[] = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                   0x0D, 0x01, 0x02, 0x01, 0x01, 0x11, 0x01, 0x00};
constexpr uint32_t kKeySize = 16;

// A packet header at the view's start: its key and BER length. Answers
// false when the view does not hold all of it yet.
struct Packet {
  bool smpte;
  bool closing;
  uint64_t size;  // header and value; 0 when the length cannot be a packet's
};
bool ReadPacket(const ByteView& v, Packet* packet) {
  if (!v.Has(0, sizeof kSmpteKeyPrefix)) return false;
  packet->smpte = BytesEqual(v, 0, kSmpteKeyPrefix, sizeof kSmpteKeyPrefix);
  packet->closing = false;
  packet->size = 0;
  if (!packet->smpte) return true;
  if (!v.Has(0, kKeySize + 1)) return false;
  packet->closing = BytesEqual(v, 0, kRandomIndexKey, sizeof kRandomIndexKey);
  const uint8_t first = v.data[kKeySize];
  uint64_t header = kKeySize + 1;
  uint64_t value = first;
  if (first & 0x80) {
    const uint32_t bytes = first & 0x7F;
    if (bytes == 0 || bytes > 8) return true;  // not a length: size 0
    if (!v.Has(0, header + bytes)) return false;
    value = 0;
    for (uint32_t i = 0; i < bytes; ++i) value = (value << 8) | v.data[header + i];
    header += bytes;
    if (value > (uint64_t{1} << 62)) return true;
  }
  packet->size = header + value;
  return true;
}

}  // namespace

CTypeRecoveryMXF::CTypeRecoveryMXF(CTypeRecoveryManager* host, const char16_t* outputRoot)
    : CTypeRecovery(kTypeCode, host, outputRoot), m_packetCursor(0), m_end(0) {
  SetExtension(u"mxf");
  m_typePropertyFlag = 0;
}

uint32_t CTypeRecoveryMXF::IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t) {
  if (buffer == nullptr || length < kMinimumLength) return 0;
  const ByteView header(buffer, length);
  if (!BytesEqual(header, 0, kPartitionKey, sizeof kPartitionKey) ||
      ReadU8(header, kPartitionKindAt) != kHeaderPartition) {
    return 0;
  }
  // The header partition is the file's first; without a footer offset the
  // file's end cannot be found.
  const uint64_t footer = ReadU64BE(header, kFooterPartitionAt);
  return ReadU64BE(header, kThisPartitionAt) == 0 && footer != 0 ? kTypeCode : 0;
}

uint32_t CTypeRecoveryMXF::Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                                   uint32_t, uint32_t, uint32_t* errorFlag) {
  if (buffer == nullptr) return 0;
  uint32_t count = 0;
  if (IsHeaderMatched(buffer, length, 0) != 0) {
    count += CutAtNewHeader(0);
    BeginFile(stripPosition, errorFlag);
    m_packetCursor = ReadU64BE(ByteView(buffer, length), kFooterPartitionAt);
    m_end = 0;
    m_split.Clear();
  }
  if (!HasOpenOutputFile() && m_fileInProgress == 0) return count;

  // File offset of the strip's first byte (held bytes are not yet written).
  const uint64_t base = m_bytesWritten + m_split.Size();
  uint64_t part = length;
  bool ended = false;
  while (!ended) {
    if (m_end != 0) {
      if (m_end - base <= length) {
        part = m_end - base;
        ended = true;
      }
      break;
    }
    const uint32_t earlier = m_split.Size();
    Packet packet{};
    if (earlier != 0) {
      const uint32_t more = static_cast<uint32_t>(
          std::min<uint64_t>(length, kLongestPacketHeader - earlier));
      uint8_t joined[kLongestPacketHeader];
      std::copy(m_split.Data(), m_split.Data() + earlier, joined);
      std::copy(buffer, buffer + more, joined + earlier);
      if (!ReadPacket(ByteView(joined, earlier + more), &packet)) {
        m_split.Append(buffer, length);
        part = 0;
        break;
      }
    } else {
      if (m_packetCursor < base || m_packetCursor - base >= length) break;
      const uint64_t at = m_packetCursor - base;
      if (!ReadPacket(ByteView(buffer + at, length - at), &packet)) {
        // Judged when the rest of its header arrives; held back until then.
        m_split.Append(buffer + at, length - at);
        part = at;
        break;
      }
    }
    const bool belongs = packet.smpte && packet.size != 0;
    if (earlier != 0) {
      if (belongs) TakeBytes(m_split.Data(), earlier, errorFlag);
      m_split.Clear();
    }
    if (!belongs) {
      // The file ended before this packet.
      part = m_packetCursor > base ? m_packetCursor - base : 0;
      ended = true;
      break;
    }
    m_packetCursor += packet.size;
    if (packet.closing) m_end = m_packetCursor;
  }

  TakeBytes(buffer, static_cast<uint32_t>(part), errorFlag);
  m_expectedSize = m_bytesWritten;
  return count + EndOfStrip(ended, 1);
}

void CTypeRecoveryMXF::ProgressFields(ProgressRecord& record) {
  if (record.Loading()) m_split.Clear();
  record.FileFields()(m_packetCursor)(m_end).Nested(m_split);
}

TYPERECOVERY_FORMAT(CTypeRecoveryMXF, {1038}, u".mxf", {u"mxf"})
