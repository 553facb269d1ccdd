// Throughput of the library on a mixed disk image, per core (the library is
// single-threaded): MB/s of source in report mode and in folder mode, with
// every type added, strips of 512 bytes and 64 KiB of lookahead, as the
// command-line tool feeds them. The image repeats samples/sample.img (real
// files of many types among zero and random sectors) between stretches of
// pseudo-random data, to 64 MiB.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "typerecovery.h"

namespace {

constexpr uint32_t kStrip = 512;
constexpr uint32_t kLookahead = 64u << 10;

const std::vector<uint8_t>& MixedImage() {
  static const std::vector<uint8_t> image = [] {
    std::ifstream in(std::string(TYPERECOVERY_SAMPLES) + "/sample.img", std::ios::binary);
    std::vector<uint8_t> sample((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::mt19937 rng(7);
    std::vector<uint8_t> out;
    while (out.size() < (64u << 20)) {
      out.insert(out.end(), sample.begin(), sample.end());
      for (int i = 0; i < 512 * 512; ++i) out.push_back(static_cast<uint8_t>(rng()));
    }
    out.resize(out.size() + kLookahead, 0);  // readable tail for the last strips
    return out;
  }();
  return image;
}

uint32_t Found(uintptr_t, uint32_t folder, uint32_t*, const char16_t*, uint64_t, uint64_t, uint32_t,
               const tag_PictureInfo*) {
  return folder;
}

void Feed(benchmark::State& state, CTypeRecoveryManager* manager) {
  const std::vector<uint8_t>& image = MixedImage();
  size_t end = image.size() - kLookahead;
  uint32_t error = 0;
  for (size_t at = 0; at < end; at += kStrip)
    TypeRecovery_Analyse(manager, at, image.data() + at, kStrip, kLookahead, &error);
  TypeRecovery_Flush(manager);
  if (error != 0) state.SkipWithError("output could not be written");
}

void BM_MixedImageReportMode(benchmark::State& state) {
  const size_t bytes = MixedImage().size() - kLookahead;
  for (auto _ : state) {
    CTypeRecoveryManager* manager = TypeRecovery_CreateManager(1, Found, nullptr);
    TypeRecovery_AddAllTypes(manager);
    Feed(state, manager);
    TypeRecovery_CloseManager(manager);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MixedImageReportMode)->Unit(benchmark::kMillisecond);

void BM_MixedImageFolderMode(benchmark::State& state) {
  const size_t bytes = MixedImage().size() - kLookahead;
  char folder[] = "/tmp/typerecovery-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  for (auto _ : state) {
    std::u16string root;
    for (const char* c = folder; *c != 0; ++c) root += static_cast<char16_t>(*c);
    CTypeRecoveryManager* manager = TypeRecovery_CreateManager(0, nullptr, root.c_str());
    TypeRecovery_AddAllTypes(manager);
    Feed(state, manager);
    TypeRecovery_CloseManager(manager);
    state.PauseTiming();
    std::string command = std::string("rm -rf ") + folder + "/*";
    if (std::system(command.c_str()) != 0) state.SkipWithError("cannot clean the output folder");
    state.ResumeTiming();
  }
  ::rmdir(folder);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MixedImageFolderMode)->Unit(benchmark::kMillisecond);

}  // namespace
