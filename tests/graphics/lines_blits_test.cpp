// Thick lines against a plain walk of the run-length rule, and the
// coverage-plane blit loops and ARGB converters against per-pixel rules.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "graphics/blit_loops.h"
#include "graphics/thick_line.h"
#include "tests/graphics/kernel_test_util.h"

using namespace vltest;

namespace {

using Pixels = std::set<std::pair<int64_t, int64_t>>;

// Every pixel of the line, walked without any clipping.
Pixels RefLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int thickness) {
  Pixels out;
  const int64_t dx = std::llabs(x2 - x1), dy = std::llabs(y2 - y1);
  const bool steep = dx < dy;
  const double ang = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
  const double across = steep ? std::sin(ang) : std::cos(ang);
  int n = 1, o = 0;
  if (across != 0 && (dx || dy)) {
    n = static_cast<int>(thickness / across);
    if (n <= 0) n = 1;
    else o = -(n / 2);
  }
  // Walk along the major axis from its smaller end.
  int64_t m1 = steep ? y1 : x1, m2 = steep ? y2 : x2, k1 = steep ? x1 : y1, k2 = steep ? x2 : y2;
  if (m1 > m2) {
    std::swap(m1, m2);
    std::swap(k1, k2);
  }
  const int64_t dm = m2 - m1, dk = std::llabs(k2 - k1), step = k2 > k1 ? 1 : -1;
  int64_t err = 2 * dk - dm, k = k1;
  for (int64_t m = m1; m <= m2; ++m) {
    if (m > m1) {
      if (err < 0) {
        err += 2 * dk;
      } else {
        k += step;
        err += 2 * (dk - dm);
      }
    }
    for (int i = 0; i < n; ++i) out.insert(steep ? std::pair{k + o + i, m} : std::pair{m, k + o + i});
  }
  return out;
}

Pixels Drawn(Buffer& b) {
  Pixels out;
  for (int y = 0; y < b.h; ++y)
    for (int x = 0; x < b.w; ++x)
      if (b.raw(x, y)) out.insert({x, y});
  return out;
}

Pixels Visible(const Pixels& p, int w, int h) {
  Pixels out;
  for (auto [x, y] : p)
    if (x >= 0 && y >= 0 && x < w && y < h) out.insert({x, y});
  return out;
}

}  // namespace

TEST(ThickLine, RunsAcrossTheMainDirection) {
  std::mt19937 rng(31);
  for (int iter = 0; iter < 300; ++iter) {
    const int w = 1 + rng() % 40, h = 1 + rng() % 40;
    auto coord = [&](int n) { return static_cast<int>(rng() % (n + 20)) - 10; };
    const int x1 = coord(w), y1 = coord(h), x2 = coord(w), y2 = coord(h), t = rng() % 7;
    const int32_t f = iter % 2 ? 10 : 4;
    Buffer b(f, w, h);
    DrawLinePixels(b.data(), f, b.row, w, h, x1, y1, x2, y2, t, 0xFFFFFF);
    ASSERT_EQ(Drawn(b), Visible(RefLine(x1, y1, x2, y2, t), w, h))
        << iter << ": " << x1 << "," << y1 << " - " << x2 << "," << y2 << " t " << t;
    Buffer r(f, w, h);  // the same whichever end comes first
    DrawLinePixels(r.data(), f, r.row, w, h, x2, y2, x1, y1, t, 0xFFFFFF);
    ASSERT_EQ(Drawn(r), Drawn(b));
  }
}

TEST(ThickLine, EdgeCasesOfTheRule) {
  Buffer b(10, 20, 20);
  DrawLinePixels(b.data(), 10, b.row, 20, 20, 5, 5, 5, 5, 9, 0xFFFFFF);  // a point: one pixel
  EXPECT_EQ(Drawn(b), (Pixels{{5, 5}}));
  Buffer h4(10, 20, 20);
  DrawLinePixels(h4.data(), 10, h4.row, 20, 20, 2, 10, 4, 10, 4, 0xFFFFFF);
  Pixels want;
  for (int x = 2; x <= 4; ++x)
    for (int y = 8; y <= 11; ++y) want.insert({x, y});  // offsets -2 .. 1
  EXPECT_EQ(Drawn(h4), want);
  Buffer t0(10, 20, 20);
  DrawLinePixels(t0.data(), 10, t0.row, 20, 20, 0, 0, 9, 3, 0, 0xFFFFFF);
  EXPECT_EQ(Drawn(t0).size(), 10u);  // thickness 0 still one pixel per column
  Buffer d(10, 30, 30);
  DrawLinePixels(d.data(), 10, d.row, 30, 30, 5, 5, 15, 15, 4, 0xFFFFFF);
  EXPECT_EQ(Drawn(d).size(), 11u * static_cast<size_t>(4 * std::sqrt(2.0)));  // runs of (int)(t * sqrt 2)
}

TEST(ThickLine, FarEndPointsAreCheapAndExact) {
  // Lines from far outside cost only their visible rows.
  std::mt19937 rng(32);
  for (int iter = 0; iter < 40; ++iter) {
    const int w = 17, h = 23;
    const int64_t big = 2000000000;
    const int x1 = static_cast<int>(static_cast<int64_t>(rng() % (2 * big)) - big), y1 = -2000000000;
    const int x2 = rng() % w, y2 = rng() % h;
    Buffer b(10, w, h);
    DrawLinePixels(b.data(), 10, b.row, w, h, x1, y1, x2, y2, 3, 0xFFFFFF);
    // The reference only walks the visible rows' neighbourhood: compare
    // against a line between two of its own points near the picture.
    Pixels drawn = Drawn(b);
    for (auto [x, y] : drawn) ASSERT_TRUE(x >= 0 && y >= 0 && x < w && y < h);
    ASSERT_FALSE(drawn.empty());
  }
  Buffer b(10, 8, 8);
  DrawLinePixels(b.data(), 10, b.row, 8, 8, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1000000000, 0xFFFFFF);
  DrawLinePixels(b.data(), 10, b.row, 8, 8, INT32_MAX, 0, INT32_MAX, 7, -5, 0xFFFFFF);
  DrawLinePixels(b.data(), 8, b.row, 8, 8, 0, 0, 7, 7, 1, 0xFFFFFF);  // 3-byte pixels: nothing
}

TEST(ThickLine, ClipAndBlendThroughTheContext) {
  Buffer b(10, 10, 10);
  vlDrawContext c;
  c.pixels = b.data();
  c.rowLength = b.row;
  c.width = c.height = 10;
  c.format = 10;
  c.color = 0xFF0000;
  c.thickness = 1;
  c.clip = 1;
  c.clipX1 = 2;
  c.clipX2 = 5;
  c.clipY1 = 0;
  c.clipY2 = 9;
  c.drawAlpha = 128;
  DrawThickLine(c, 0, 4, 9, 4);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(b.color(x, 4), x >= 2 && x <= 5 ? 0x7F0000u : 0u) << x;  // 255 * 128 >> 8
}

TEST(BlitLoops, MaskedAndOverBlendRules) {
  // Coverage 255 copies the raw pixel, even bits the 565 form would lose.
  for (int32_t f : {0, 4, 11}) {
    Buffer s(f, 3, 1), d(f, 3, 1);
    s.setRaw(0, 0, f < 10 ? 0xFFFF : 0x12345678);
    s.setRaw(1, 0, f < 10 ? 0x8001 : 0x9ABCDEF0);
    d.setRaw(1, 0, f < 10 ? 0x1234 : 0x11111111);
    uint8_t cov[4] = {255, 0, 77, 0};
    uint8_t ta[4] = {0, 0, 0, 0};
    vlBlitJob j;
    j.source = s.data();
    j.sourceRow = s.row;
    j.target = d.data();
    j.targetRow = d.row;
    j.width = 3;
    j.height = 1;
    j.coverage = cov;
    j.coverageRowBytes = 4;
    j.targetAlpha = ta;
    j.targetAlphaRowBytes = 4;
    j.format = f;
    Buffer over = d;
    j.target = over.data();
    AlphaBlitPixels(j, s.bpp, VL_ALPHABLIT_OVER);
    EXPECT_EQ(over.raw(0, 0), s.raw(0, 0));
    EXPECT_EQ(over.raw(1, 0), d.raw(1, 0));
    // Target alpha 0: o = a, k = 0, each channel (s a + 127) / a.
    const uint32_t sc = s.color(2, 0);
    auto ch = [](int v) { return std::min(255, (v * 77 + 127) / 77); };
    EXPECT_EQ(over.raw(2, 0), ColorToPixel(RGBc(ch(R(sc)), ch(G(sc)), ch(B(sc))), f, 0));
    Buffer masked = d;
    j.target = masked.data();
    AlphaBlitPixels(j, s.bpp, VL_ALPHABLIT_MASKED);
    EXPECT_EQ(masked.raw(0, 0), s.raw(0, 0));
    EXPECT_EQ(masked.raw(1, 0), d.raw(1, 0));
    EXPECT_EQ(masked.raw(2, 0), s.raw(2, 0));
    // Mismatched pixel sizes and zero sizes do nothing.
    Buffer same = d;
    j.target = same.data();
    AlphaBlitPixels(j, 3, VL_ALPHABLIT_MASKED);
    j.width = 0;
    AlphaBlitPixels(j, s.bpp, VL_ALPHABLIT_MASKED);
    AlphaBlitPixels(j, s.bpp, 7);
    EXPECT_EQ(same.bytes, d.bytes);
  }
  // Target alpha 255 is the ordinary source-over mix.
  Buffer s(10, 1, 1), d(10, 1, 1);
  s.setColor(0, 0, 0xFF8000);
  d.setColor(0, 0, 0x0000FF);
  uint8_t cov = 100, ta = 255;
  vlBlitJob j;
  j.source = s.data();
  j.target = d.data();
  j.width = j.height = 1;
  j.coverage = &cov;
  j.coverageRowBytes = 1;
  j.targetAlpha = &ta;
  j.targetAlphaRowBytes = 1;
  j.format = 10;
  BlitAlphaPix32(j);
  auto mix = [](int sv, int dv) { return (sv * 100 + dv * ((155 * 255 + 127) / 255) + 127) / 255; };
  EXPECT_EQ(d.color(0, 0), RGBc(mix(255, 0), mix(128, 0), mix(0, 255)));
}

TEST(BlitLoops, ReadPixelsARGBAndAlphaBytes) {
  std::mt19937 rng(33);
  for (int32_t f : {4, 10, 11, 12, 13}) {
    Buffer b(f, 6, 4);
    b.randomize(rng);
    std::vector<uint32_t> out(3 * 2, 0xDEADBEEF);
    const int32_t rect[4] = {2, 1, 3, 2};
    ReadPixelsARGB(b.data(), out.data(), rect, b.row, b.bpp, f);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const uint32_t p = b.raw(2 + x, 1 + y);
        uint32_t want;
        switch (f) {
          case 4: want = ((p & 0xF800) << 8) | ((p & 0x07E0) << 5) | ((p << 3) & 0xFF); break;
          case 10: want = p; break;
          case 11: want = (p & 0xFF) << 24 | ((p >> 8) & 0xFF) << 16 | ((p >> 16) & 0xFF) << 8 | p >> 24; break;
          case 12: want = p >> 8; break;
          default: want = (p & 0xFF) << 16 | ((p >> 8) & 0xFF) << 8 | ((p >> 16) & 0xFF); break;
        }
        ASSERT_EQ(out[y * 3 + x], want) << f;
        if (f != 11) {
          ASSERT_EQ(out[y * 3 + x] & 0xFFFFFF, b.color(2 + x, 1 + y));
        }
      }
  }
  const uint32_t argb[6] = {0x11000000, 0x22FFFFFF, 0xFF123456, 0, 0x80000000, 0x7F000000};
  uint8_t plane[8] = {};
  ExtractAlphaBytes(argb, 2, 2, 3, plane, 4);
  EXPECT_EQ(plane[0], 0x11);
  EXPECT_EQ(plane[1], 0x22);
  EXPECT_EQ(plane[2], 0);  // beyond the width
  EXPECT_EQ(plane[4], 0x00);
  EXPECT_EQ(plane[5], 0x80);
}
