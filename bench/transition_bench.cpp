// Whole transition effects on a 640 x 480 picture drawn off screen: the
// cost of every frame of one effect, per family.
#include <benchmark/benchmark.h>

#include <cstdlib>

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

void RunEffect(benchmark::State& state) {
  const auto id = static_cast<int32_t>(state.range(0));
  const int w = 640, h = 480;
  SetGlobalPixelFormat(VL_PIXFMT_ARGB32);
  vlDisplay spare{};
  spare.outputType = VL_OUTPUT_DISPLAY;
  vlSpareDisplay = &spare;
  vlBitmap* target = Filled(w, h, 0xFF000080u);
  int64_t frames = 0;
  for (auto _ : state) {
    auto* fx = static_cast<vlFxContext*>(std::calloc(1, sizeof(vlFxContext)));
    fx->objectType = VL_FX_BGPIC;
    fx->effect = id;
    fx->stepSize = fx->speed = -1;
    fx->parameter = 0;
    fx->width = fx->destWidth = w;
    fx->height = fx->destHeight = h;
    fx->source = Filled(w, h, 0xFF804020u);
    fx->ownsSource = 1;
    fx->oldPicture = Filled(w, h, 0xFF000080u);
    fx->blitFlags = 4 | VL_SAFEBLT_OFFSCREEN;
    fx->target = target;
    fx->step = vlFxTable[id].step;
    fx->cleanup = vlFxTable[id].cleanup;
    int32_t done = 0;
    fx->step(fx, &done);
    fx->phase = 1;
    while (!done) fx->step(fx, &done);
    frames += fx->frame;
    FreeFXContext(fx, 1);
  }
  state.counters["frames"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  DeleteBitmap(target);
  vlSpareDisplay = nullptr;
  SetGlobalPixelFormat(-1);
}

// Stripes, blinds, rectangle, puzzle, stretch, zoom-in, roll, clock wipe,
// crossfade, water, strudel, dissolve.
BENCHMARK(RunEffect)->Arg(3)->Arg(14)->Arg(38)->Arg(82)->Arg(55)->Arg(118)->Arg(85)->Arg(97)->Arg(115)->Arg(134)->Arg(138)->Arg(139)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
