// Hostile input: strips that begin with each document format's signature and
// continue with random bytes, in short strips with little or no lookahead
// and exact-size heap buffers, so that any read outside the strip plus its
// lookahead shows under the sanitizers.
#include <gtest/gtest.h>

#include <random>

#include "support/Carving.h"

namespace {

std::vector<uint8_t> Signature(uint32_t code, std::mt19937& random) {
  switch (code) {
    case 276: return trtest::Bytes().Text("%PDF-1.7\n");
    case 1794: return trtest::Bytes().Text("Rar!").Raw({0x1A, 0x07, 0x00, 0, 0, 0x73});
    case 1795: return trtest::Bytes().Raw({0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C});
    case 1797: return trtest::Bytes().Text("MSCF");
    case 280: return trtest::Bytes().Text("{\\rtf1");
    case 282: return trtest::Bytes().Text("From: boundary=\"");
    case 1281: return random() % 2 ? trtest::Bytes().Raw({0xFF, 0xFE, '<', 0, 'h', 0, 't', 0, 'm', 0, 'l', 0})
                                   : trtest::Bytes().Text("<html>");
    default: {  // a PE stub whose PE header offset stays small
      trtest::Bytes b;
      b.Text("MZ").U16LE(0x90).Zeros(6).U16LE(0).U16LE(0xFFFF).Zeros(4).U16LE(0).PadTo(60);
      b.U32LE(64 + random() % 200).PadTo(64).Text("PE");
      return b;
    }
  }
}

}  // namespace

TEST(DocumentHostileInput, RandomBytesAfterSignaturesNeverReadOutsideTheStrip) {
  const uint32_t codes[] = {276, 1794, 1795, 1797, 280, 282, 1281, 2319, 2322};
  std::mt19937 random(2026);
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> image;
    while (image.size() < 16384) {
      std::vector<uint8_t> piece = Signature(codes[random() % std::size(codes)], random);
      const size_t noise = 20 + random() % 700;
      for (size_t i = 0; i < noise; ++i) {
        const uint32_t r = random();
        // Sprinkle the markers the walks look for.
        piece.push_back(r % 50 == 0 ? '}' : r % 53 == 0 ? 0 : r % 61 == 0 ? 0x7B : static_cast<uint8_t>(r >> 8));
      }
      image.insert(image.end(), piece.begin(), piece.end());
    }
    const uint32_t strip = 33 + random() % 600;
    const uint32_t lookahead = random() % 3 == 0 ? 0 : random() % 64;
    trtest::ReportLog log;
    CTypeRecoveryManager* m =
        TypeRecovery_CreateManager(reinterpret_cast<uintptr_t>(&log), trtest::RecordReport, nullptr);
    for (uint32_t code : codes) TypeRecovery_AddType(m, code, 100000);
    uint32_t error = 0;
    for (size_t pos = 0; pos < image.size(); pos += strip) {
      const size_t length = std::min<size_t>(strip, image.size() - pos);
      const size_t ahead = std::min<size_t>(lookahead, image.size() - pos - length);
      std::vector<uint8_t> buffer(image.begin() + static_cast<long>(pos),
                                  image.begin() + static_cast<long>(pos + length + ahead));
      if (buffer.size() < 16) buffer.resize(16, 0);
      TypeRecovery_Analyse(m, pos, buffer.data(), static_cast<uint32_t>(length),
                           static_cast<uint32_t>(ahead), &error);
    }
    TypeRecovery_Flush(m);
    TypeRecovery_CloseManager(m);
    for (const trtest::Report& r : log.reports) EXPECT_LT(r.start, image.size());
  }
}
