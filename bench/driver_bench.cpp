// Throughput of the analysis driver with every type added: the header pass
// on every strip is the hot path. Random strips (headers almost never
// match), blank strips (the repeated-pattern skip) and a stream of JPEG-like
// strips (one active recognizer scanning for its end marker).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "typerecovery.h"

namespace {

uint32_t Found(uintptr_t, uint32_t folder, uint32_t*, const char16_t*, uint64_t, uint64_t, uint32_t,
               const tag_PictureInfo*) {
  return folder;
}

void RunStrips(benchmark::State& state, const std::vector<uint8_t>& source, uint32_t strip) {
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, Found, nullptr);
  TypeRecovery_AddAllTypes(m);
  const uint32_t lookahead = 4096;
  uint32_t error = 0;
  uint64_t position = 0;
  for (auto _ : state) {
    for (size_t at = 0; at + strip + lookahead <= source.size(); at += strip) {
      TypeRecovery_Analyse(m, position, source.data() + at, strip, lookahead, &error);
      position += strip;
    }
  }
  TypeRecovery_Flush(m);
  TypeRecovery_CloseManager(m);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(source.size() - lookahead));
}

std::vector<uint8_t> RandomSource(size_t size) {
  std::mt19937 rng(42);
  std::vector<uint8_t> v(size);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

void BM_RandomStrips(benchmark::State& state) {
  static const std::vector<uint8_t> source = RandomSource(4 << 20);
  RunStrips(state, source, static_cast<uint32_t>(state.range(0)));
}
BENCHMARK(BM_RandomStrips)->Arg(512)->Arg(4096);

void BM_BlankStrips(benchmark::State& state) {
  static const std::vector<uint8_t> source(4 << 20, 0);
  RunStrips(state, source, 512);
}
BENCHMARK(BM_BlankStrips);

void BM_InsideJpegScan(benchmark::State& state) {
  std::vector<uint8_t> source = RandomSource(4 << 20);
  const uint8_t header[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00,
                            0xFF, 0xDA, 0x00, 0x04, 0x00, 0x00};
  std::copy(std::begin(header), std::end(header), source.begin());
  for (size_t i = 14; i + 1 < source.size(); ++i) {
    if (source[i] == 0xFF && source[i + 1] == 0xD9) source[i + 1] = 0;
  }
  RunStrips(state, source, 512);
}
BENCHMARK(BM_InsideJpegScan);

}  // namespace
