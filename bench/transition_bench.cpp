// Whole transition effects on a 640 x 480 picture drawn off screen: the
// cost of every frame of one effect, per family. And one crossfade frame at
// 1080p beside the memory bound: a frame reads two pictures and writes one,
// 1.5 times what a memcpy of one picture moves, measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "display/display.h"
#include "display/layers/safe_blt.h"
#include "graphics/bitmap.h"
#include "graphics/pixel_format.h"
#include "platform/offscreen_bitmap.h"
#include "transitions/fx_engine.h"

namespace {

vlBitmap* Filled(int w, int h, uint32_t colour) {
  vlBitmap* b = NewBitmap(w, h, 0, nullptr);
  FillBitmapRect(b, 0, 0, w, h, colour);
  return b;
}

// An effect of w x h drawn off screen into target, through its phase 0.
vlFxContext* StartFx(int32_t id, int w, int h, int32_t step, vlBitmap* source, vlBitmap* old, vlBitmap* target) {
  auto* fx = static_cast<vlFxContext*>(std::calloc(1, sizeof(vlFxContext)));
  fx->objectType = VL_FX_BGPIC;
  fx->effect = id;
  fx->stepSize = fx->speed = step;
  fx->parameter = 0;
  fx->width = fx->destWidth = w;
  fx->height = fx->destHeight = h;
  fx->source = source;
  fx->oldPicture = old;
  fx->blitFlags = 4 | VL_SAFEBLT_OFFSCREEN;
  fx->target = target;
  fx->step = vlFxTable[id].step;
  fx->cleanup = vlFxTable[id].cleanup;
  int32_t done = 0;
  fx->step(fx, &done);
  fx->phase = 1;
  return fx;
}

// ARGB pictures and a spare display record, so that off-screen blits run.
struct Offscreen {
  vlDisplay spare{};
  Offscreen() {
    SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
    spare.outputType = VL_OUTPUT_DISPLAY;
    vlSpareDisplay = &spare;
  }
  ~Offscreen() {
    vlSpareDisplay = nullptr;
    SetGlobalPixelFormat(-1);
  }
};

void RunEffect(benchmark::State& state) {
  const auto id = static_cast<int32_t>(state.range(0));
  const int w = 640, h = 480;
  Offscreen offscreen;
  vlBitmap* target = Filled(w, h, 0xFF000080u);
  int64_t frames = 0;
  for (auto _ : state) {
    vlFxContext* fx = StartFx(id, w, h, -1, Filled(w, h, 0xFF804020u), Filled(w, h, 0xFF000080u), target);
    fx->ownsSource = 1;
    int32_t done = 0;
    while (!done) fx->step(fx, &done);
    frames += fx->frame;
    FreeFXContext(fx, 1);
  }
  state.counters["frames"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  DeleteBitmap(target);
}

// A picture with gradients and noise, so that no frame is a constant.
vlBitmap* Noisy(int w, int h, uint32_t seed) {
  vlBitmap* b = NewBitmap(w, h, 0, nullptr);
  vlLockedPixels p(b, 0);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(p.access.pixels + static_cast<size_t>(y) * p.access.rowLength * 4);
    for (int x = 0; x < w; ++x)
      row[x] = ((x * 255 / w + (rng() & 7)) & 255) << 16 | ((y * 255 / h + seed) & 255) << 8 | ((x + y) / 9 & 255);
  }
  return b;
}

// Seconds of this thread's processor time: on a shared machine the wall
// clock also counts the time other processes held the core.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The median of a run's timings.
double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// One frame of a crossfade (step 1: 254 frames, then it starts again) of
// two 1920 x 1080 pictures onto an off-screen picture, beside a memcpy of
// one such picture between two other buffers. Warm (argument 0): frames
// back to back, and the memcpy 30 times in a row before them, each as hot
// in the caches as it gets. Cold (argument 1): one memcpy after each frame,
// out of the timed part, so that both meet caches the other has just
// filled. bound_fraction = 1.5 x memcpy time / frame time (medians of the
// thread's processor time; best_fraction from the fastest of each): 1.0
// would move the frame's bytes at memcpy's speed.
void CrossfadeFrame1080(benchmark::State& state) {
  const int w = 1920, h = 1080;
  Offscreen offscreen;
  vlBitmap* target = Filled(w, h, 0xFF000080u);
  vlBitmap* fresh = Noisy(w, h, 1);
  vlBitmap* old = Noisy(w, h, 2);
  std::vector<uint8_t> from(static_cast<size_t>(w) * h * 4, 1), to(from.size(), 2);
  std::vector<double> frames, copies;
  const bool cold = state.range(0) != 0;
  auto copy = [&] {
    const double t0 = ThreadSeconds();
    std::memcpy(to.data(), from.data(), to.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
    copies.push_back(ThreadSeconds() - t0);
  };
  if (!cold)
    for (int i = 0; i < 30; ++i) copy();
  vlFxContext* fx = nullptr;
  int32_t done = 1;
  for (auto _ : state) {
    if (done) {
      state.PauseTiming();
      if (fx) fx->oldPicture = nullptr, FreeFXContext(fx, 1);  // the pictures are kept for the next run
      fx = StartFx(115, w, h, 1, fresh, old, target);
      done = 0;
      state.ResumeTiming();
    }
    const double t0 = ThreadSeconds();
    fx->step(fx, &done);
    frames.push_back(ThreadSeconds() - t0);
    if (cold) {
      state.PauseTiming();
      copy();
      state.ResumeTiming();
    }
  }
  if (!frames.empty()) {
    const double frame = Median(frames), moved = Median(copies);
    state.counters["frame_ms"] = frame * 1e3;
    state.counters["memcpy_ms"] = moved * 1e3;
    state.counters["bound_fraction"] = 1.5 * moved / frame;
    state.counters["best_fraction"] = 1.5 * *std::min_element(copies.begin(), copies.end()) /
                                      *std::min_element(frames.begin(), frames.end());
  }
  fx->oldPicture = nullptr;
  FreeFXContext(fx, 1);
  DeleteBitmap(fresh);
  DeleteBitmap(old);
  DeleteBitmap(target);
}
BENCHMARK(CrossfadeFrame1080)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Stripes, blinds, rectangle, puzzle, stretch, zoom-in, roll, clock wipe,
// crossfade, water, strudel, dissolve.
BENCHMARK(RunEffect)->Arg(3)->Arg(14)->Arg(38)->Arg(82)->Arg(55)->Arg(118)->Arg(85)->Arg(97)->Arg(115)->Arg(134)->Arg(138)->Arg(139)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
