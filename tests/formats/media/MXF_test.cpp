// MXF: only a header partition pack starts a file; the file runs to its
// footer partition and ends after the random index pack that closes it (or
// before the first packet that is not an SMPTE one), judged the same way
// whatever the strips and the lookahead.
#include "formats/media/MXF.h"

#include <gtest/gtest.h>

#include "support/Carving.h"

namespace {

using trtest::Bytes;

constexpr uint32_t kMxf = 1038;

// A partition pack of the given kind (2 header, 3 body, 4 footer).
Bytes PartitionPack(uint8_t kind, uint64_t self, uint64_t footer) {
  return Bytes{0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, kind, 0x04, 0x00}
      .U8(0x83).U8(0).U8(0).U8(88)
      .U16BE(1).U16BE(3).U32BE(512).U64BE(self).U64BE(0).U64BE(footer).Zeros(88 - 32);
}
// A KLV fill item of the given total size (short BER length).
Bytes Fill(size_t total) {
  return Bytes{0x06, 0x0E, 0x2B, 0x34, 0x01, 0x01, 0x01, 0x02, 0x03, 0x01, 0x02, 0x10, 0x01, 0x00, 0x00, 0x00}
      .U8(static_cast<uint8_t>(total - 17)).Fill(total - 17, 0);
}
// The random index pack with one entry (long BER length).
Bytes RandomIndex() {
  return Bytes{0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01, 0x0D, 0x01, 0x02, 0x01, 0x01, 0x11, 0x01, 0x00}
      .U8(0x83).U8(0).U8(0).U8(16).U32BE(0).U64BE(0).U32BE(40);
}

// Header partition, body, footer partition at 2048 with a fill item, then
// the random index pack (or not), then foreign bytes.
std::vector<uint8_t> Mxf(bool closed) {
  Bytes b = PartitionPack(2, 0, 2048);
  b.Raw(Fill(512 - b.size())).PadTo(2048, 0x44);
  b.Raw(PartitionPack(4, 2048, 2048)).Raw(Fill(100));
  if (closed) b.Raw(RandomIndex());
  return b;
}

TEST(Mxf, OnlyAHeaderPartitionPackNamingItsFooterStartsAFile) {
  CTypeRecoveryMXF r(nullptr, nullptr);
  const std::vector<uint8_t> header = Bytes(PartitionPack(2, 0, 2048)).PadTo(128);
  EXPECT_EQ(r.IsHeaderMatched(header.data(), 128, 0), kMxf);
  EXPECT_EQ(r.IsHeaderMatched(header.data(), 64, 0), 0u);
  const std::vector<std::vector<uint8_t>> refused = {
      Bytes(PartitionPack(3, 6144, 58368)).PadTo(128),  // a body partition inside a file
      Bytes(PartitionPack(4, 2048, 2048)).PadTo(128),   // the footer
      Bytes(PartitionPack(2, 512, 2048)).PadTo(128),    // a header partition not at the start
      Bytes(PartitionPack(2, 0, 0)).PadTo(128),         // no footer to end at
      Bytes(Fill(128)),                                 // another SMPTE key (the primer pack's kind)
  };
  for (const std::vector<uint8_t>& bytes : refused) EXPECT_EQ(r.IsHeaderMatched(bytes.data(), 128, 0), 0u);
}

TEST(Mxf, EndsAfterTheRandomIndexPackOrBeforeForeignData) {
  const std::vector<uint8_t> closed = Mxf(true), open = Mxf(false);
  for (const auto& [strip, lookahead] : {std::pair<uint32_t, uint32_t>{512, 0}, {512, 64}, {64, 0}, {7, 0}, {4096, 0}}) {
    if (strip < 512) {
      // The header test wants its pack in the first strip.
      EXPECT_EQ(trtest::Spans(trtest::ShortStripRun({kMxf}, trtest::Padded(closed, 4096 - closed.size()), 512, strip, lookahead)),
                "mxf@0+" + std::to_string(closed.size()));
      continue;
    }
    EXPECT_EQ(trtest::CarvedSpans({kMxf}, trtest::Padded(closed, 4096 - closed.size()), strip, lookahead),
              "mxf@0+" + std::to_string(closed.size()));
    EXPECT_EQ(trtest::CarvedSpans({kMxf}, trtest::Padded(open, 4096 - open.size()), strip, lookahead),
              "mxf@0+" + std::to_string(open.size()));
  }
}

}  // namespace
