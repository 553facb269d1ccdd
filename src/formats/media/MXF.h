// CTypeRecoveryMXF: MXF files (type 1038, "mxf").
//
// A file starts at a strip that begins with a header partition pack (the
// partition-pack key with kind 02, this partition at offset 0) that names
// its footer partition. Packs of other kinds (the primer pack 512 bytes into
// a file, body and footer partitions) never start a file, so they do not
// cut the file they belong to. Strips are taken whole up to the footer
// partition's offset (64-bit, from the header pack); from there the footer's
// KLV packets (16-byte key, BER length, value) are walked: the file ends
// after the random index pack that closes an MXF file, or before the first
// packet whose key is not an SMPTE key (a file without that pack).
// A packet header that begins in one strip and ends in a later one is kept
// (ByteCarry) and judged when its last byte arrives; its bytes are written
// only once they are known to belong to the file. The lookahead is never
// read. A new header pack at a strip start cuts a file in progress (complete
// flag 0); a flush ends it. No maximum size.
//
// Progress record: the base record, then, with a file in progress, the
// packet cursor (file offset, 8 bytes), the end once known (8 bytes, 0
// before) and the kept bytes of a split packet header.
#ifndef TYPERECOVERY_FORMATS_MEDIA_MXF_H
#define TYPERECOVERY_FORMATS_MEDIA_MXF_H

#include <cstdint>

#include "framework/ByteCarry.h"
#include "framework/TypeRecovery.h"

class CTypeRecoveryMXF : public CTypeRecovery {
 public:
  TYPERECOVERY_RECOGNIZER(CTypeRecoveryMXF, 1038)
  TYPERECOVERY_STRIP_ANALYSIS
  TYPERECOVERY_PROGRESS_FIELDS

  // Key (16 bytes) and the longest BER length (9 bytes) of a packet header.
  static constexpr uint32_t kLongestPacketHeader = 25;

 private:
  uint64_t m_packetCursor;  // file offset of the next packet to judge (the footer first)
  uint64_t m_end;           // file size once the closing pack was read, else 0
  typerecovery::ByteCarry<kLongestPacketHeader> m_split;
};

#endif
