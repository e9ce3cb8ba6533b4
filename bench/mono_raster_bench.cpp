// The player's 1-bit rasteriser beside FreeType's monochrome one, which
// lights the same pixels: FreeType renders a bit plane that is then
// expanded to coverage bytes (as the player did), ours writes the bytes.
// The anti-aliased pair likewise: ours writes FreeType's grey bytes
// without its per-row cell lists, FreeType renders them itself.
// Shapes of the path benchmark: a star inside two boxes, a circle of
// radius 110 (four cubic arcs), and the star's outline stroked 2 px wide
// with round joins, in a 260 x 260 buffer.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "graphics/outline_grey.h"
#include "graphics/outline_mono.h"
#include "graphics/outline_raster.h"

#include FT_BITMAP_H
#include FT_STROKER_H

namespace {

constexpr int kSize = 260;

struct Shape {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;
  FT_Outline View() {
    FT_Outline o{};
    o.n_points = static_cast<short>(points.size());
    o.n_contours = static_cast<short>(contours.size());
    o.points = points.data();
    o.tags = tags.data();
    o.contours = contours.data();
    o.flags = FT_OUTLINE_IGNORE_DROPOUTS | FT_OUTLINE_HIGH_PRECISION;
    return o;
  }
  void Add(double x, double y, char tag) {
    points.push_back({std::lround((x + 10) * 64), std::lround((y + 10) * 64)});
    tags.push_back(tag);
  }
  void Close() { contours.push_back(static_cast<short>(points.size() - 1)); }
};

Shape Star() {
  Shape s;
  auto box = [&](double x, double y, double w, double h) {
    s.Add(x, y, FT_CURVE_TAG_ON), s.Add(x, y + h, FT_CURVE_TAG_ON);
    s.Add(x + w, y + h, FT_CURVE_TAG_ON), s.Add(x + w, y, FT_CURVE_TAG_ON);
    s.Close();
  };
  box(0, 0, 240, 240);
  box(20, 20, 200, 200);
  const int order[5] = {0, 2, 4, 1, 3};
  for (int k : order) {
    const double a = (-90 + 72 * k) * M_PI / 180;
    s.Add(120 + 95 * std::cos(a), 120 + 95 * std::sin(a), FT_CURVE_TAG_ON);
  }
  s.Close();
  return s;
}

Shape Circle() {
  Shape s;
  const double r = 110, k = 0.5522847498 * r;
  const double c = 120;
  s.Add(c + r, c, FT_CURVE_TAG_ON);
  const double q[4][6] = {{c + r, c + k, c + k, c + r, c, c + r},
                          {c - k, c + r, c - r, c + k, c - r, c},
                          {c - r, c - k, c - k, c - r, c, c - r},
                          {c + k, c - r, c + r, c - k, c + r, c}};
  for (int i = 0; i < 4; ++i) {
    s.Add(q[i][0], q[i][1], FT_CURVE_TAG_CUBIC);
    s.Add(q[i][2], q[i][3], FT_CURVE_TAG_CUBIC);
    if (i < 3) s.Add(q[i][4], q[i][5], FT_CURVE_TAG_ON);
  }
  s.Close();
  return s;
}

Shape Stroked(Shape in) {
  FT_Outline o = in.View();
  FT_Stroker stroker;
  FT_Stroker_New(OutlineLibrary(), &stroker);
  FT_Stroker_Set(stroker, 64, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
  FT_Stroker_ParseOutline(stroker, &o, false);
  FT_UInt points, contours;
  FT_Stroker_GetCounts(stroker, &points, &contours);
  Shape s;
  s.points.resize(points);
  s.tags.resize(points);
  s.contours.resize(contours);
  FT_Outline out = s.View();
  out.n_points = out.n_contours = 0;
  FT_Stroker_Export(stroker, &out);
  FT_Stroker_Done(stroker);
  return s;
}

Shape ByIndex(int i) { return i == 0 ? Star() : i == 1 ? Circle() : Stroked(Star()); }

// A fill writing coverage bytes, on a cleared buffer each time.
template <typename Fill>
void Run(benchmark::State& state, Fill fill) {
  Shape s = ByIndex(static_cast<int>(state.range(0)));
  std::vector<uint8_t> cover(kSize * kSize);
  for (auto _ : state) {
    std::memset(cover.data(), 0, cover.size());
    FT_Outline o = s.View();
    benchmark::DoNotOptimize(fill(&o, cover.data(), kSize, kSize, kSize));
    benchmark::ClobberMemory();
  }
}

void Ours(benchmark::State& state) {
  Run(state, [](const FT_Outline* o, uint8_t* b, int32_t r, int32_t w, int32_t h) {
    return FillOutlineMono(o, b, r, w, h);
  });
}

void FreeType(benchmark::State& state) {
  Shape s = ByIndex(static_cast<int>(state.range(0)));
  std::vector<uint8_t> cover(kSize * kSize);
  const int pitch = ((kSize + 15) >> 3) & ~1;
  std::vector<uint8_t> bits(pitch * kSize);
  static const auto kExpand = [] {
    std::array<std::array<uint8_t, 8>, 256> t{};
    for (int b = 0; b < 256; ++b)
      for (int i = 0; i < 8; ++i) t[b][i] = (b & (0x80 >> i)) ? 255 : 0;
    return t;
  }();
  for (auto _ : state) {
    std::memset(bits.data(), 0, bits.size());
    FT_Bitmap bm;
    FT_Bitmap_Init(&bm);
    bm.rows = kSize;
    bm.width = kSize;
    bm.pitch = -pitch;
    bm.buffer = bits.data();
    bm.pixel_mode = FT_PIXEL_MODE_MONO;
    bm.num_grays = 2;
    FT_Outline o = s.View();
    benchmark::DoNotOptimize(FT_Outline_Get_Bitmap(OutlineLibrary(), &o, &bm));
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x + 8 <= kSize; x += 8) std::memcpy(&cover[y * kSize + x], kExpand[bits[y * pitch + x / 8]].data(), 8);
    benchmark::ClobberMemory();
  }
}

void GreyOurs(benchmark::State& state) { Run(state, FillOutlineGrey); }
void GreyFreeType(benchmark::State& state) { Run(state, FreeTypeGreyCoverage); }

// 0 star, 1 circle, 2 stroked star.
BENCHMARK(Ours)->DenseRange(0, 2);
BENCHMARK(FreeType)->DenseRange(0, 2);
BENCHMARK(GreyOurs)->DenseRange(0, 2);
BENCHMARK(GreyFreeType)->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
