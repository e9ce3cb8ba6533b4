// Frames mixed per second by the software mixer: mixes of 1, 4 and 16
// sources into 16-bit stereo, plain and with gain, and Protracker frames
// rendered per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "media/sound/mixer.h"
#include "media/sound/protracker.h"

namespace {

void BM_MixSources(benchmark::State& state) {
  int count = int(state.range(0));
  bool gain = state.range(1) != 0;
  constexpr uint32_t kFrames = 48000;
  std::vector<int16_t> pcm(44100 * 2);
  for (size_t i = 0; i < pcm.size(); i++) pcm[i] = int16_t((i * 7919) % 60000 - 30000);
  std::vector<vlMixSource> sources(count);
  std::vector<uint8_t> out(kFrames * 4);
  for (auto _ : state) {
    for (int n = 0; n < count; n++) {
      vlMixSource& s = sources[n];
      s = vlMixSource{};
      s.format = n % 2 ? 5 : 4;
      s.pcm = reinterpret_cast<const uint8_t*>(pcm.data());
      s.frames = n % 2 ? 44100 : 88200;
      s.loop = 1;
      s.volume = 65536;
      s.length = -1;
      s.step = (22050.0 + n * 1000) / 48000.0;
      s.scale = gain ? 0.5 : 1.0;
      s.scaled = gain;
    }
    MixSources(sources.data(), count, out.data(), kFrames, 5);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kFrames);
}
BENCHMARK(BM_MixSources)->Args({1, 0})->Args({4, 0})->Args({4, 1})->Args({16, 0});

void BM_RenderModule(benchmark::State& state) {
  // Four voices playing a looped instrument with vibrato and volume slides.
  std::vector<uint8_t> image(1084 + 1024 + 64, 0);
  std::memcpy(&image[1080], "M.K.", 4);
  image[950] = 1;
  image[20 + 23] = 32;  // 64 bytes
  image[20 + 25] = 64;
  image[20 + 29] = 32;
  for (int v = 0; v < 4; v++) {
    for (int row = 0; row < 64; row += 4) {
      uint8_t* c = &image[1084 + (row * 4 + v) * 4];
      c[0] = 0x01;
      c[1] = uint8_t(0xAC - v * 20);
      c[2] = 0x16;  // instrument 1, effect 6
      c[3] = 0x01;
    }
  }
  for (int i = 0; i < 64; i++) image[2108 + i] = uint8_t(i < 32 ? 90 : 166);
  size_t size = ParseProtrackerModule(nullptr, image.data(), image.size(), 48000);
  std::vector<uint8_t> block(size);
  auto* module = reinterpret_cast<vlModuleState*>(block.data());
  ParseProtrackerModule(module, image.data(), image.size(), 48000);
  std::vector<int16_t> out(4800 * 2);
  for (auto _ : state) {
    RenderModuleAudio(module, out.data(), 4800);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 4800);
}
BENCHMARK(BM_RenderModule);

}  // namespace

BENCHMARK_MAIN();
