// The gradient renderer against positions computed directly per pixel,
// and the colour quantizer: exact small palettes, palette bounds, nearest
// palette entries by the weighted distance of the histogram cell, the
// transparent colour and determinism.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "graphics/bitmap.h"
#include "graphics/gradient_render.h"
#include "graphics/quantize.h"
#include "platform/offscreen_bitmap.h"
#include "tests/graphics/graphics_test_util.h"
#include "tests/graphics/kernel_test_util.h"
#include "vm/error_codes.h"

using namespace vltest;

namespace {

constexpr double kPi = 3.141592653589793;

// Two stops held beyond the ends, 8-bit weight from the 16.16 position.
uint32_t TwoStop(uint32_t c0, uint32_t c1, double t) {
  int64_t p = t > 2 ? 2 << 16 : t < -2 ? -(2 << 16) : static_cast<int64_t>(t * 65536);
  p = std::clamp<int64_t>(p, 0, 65536);
  const int w = static_cast<int>(p >> 8);
  auto ch = [&](int s) { return static_cast<uint32_t>(((((c0 >> s) & 0xFF) * (256 - w) + ((c1 >> s) & 0xFF) * w) >> 8) & 0xFF) << s; };
  return ch(16) | ch(8) | ch(0);
}

Buffer Render(int32_t f, int w, int h, const vlGradientDesc& g) {
  Buffer b(f, w, h);
  vlGradientJob j;
  j.pixels = b.data();
  j.bytesPerPixel = b.bpp;
  j.format = f;
  j.width = w;
  j.height = h;
  j.rowLength = b.row;
  j.bufferWidth = w;
  j.bufferHeight = h;
  j.gradient = &g;
  RenderGradient(j);
  return b;
}

int MaxDiff(uint32_t a, uint32_t b) {
  return std::max({std::abs(R(a) - R(b)), std::abs(G(a) - G(b)), std::abs(B(a) - B(b))});
}

}  // namespace

TEST(Gradient, LinearFollowsItsDirection) {
  vlGradientDesc g;
  g.type = VL_GRADIENT_LINEAR;
  g.startColor = 0xFF2000;
  g.endColor = 0x00E0FF;
  for (int angle : {0, 30, 90, 135, 180, 225, 270, 333}) {
    g.angle = angle;
    const int w = 37, h = 23;
    Buffer b = Render(10, w, h, g);
    const double a = angle * kPi / 180, ux = std::sin(a), uy = std::cos(a);
    const double c0x = ux >= 0 ? 0 : w, c0y = uy >= 0 ? 0 : h, c1x = ux >= 0 ? w : 0, c1y = uy >= 0 ? h : 0;
    const double len = (c1x - c0x) * ux + (c1y - c0y) * uy;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double t = ((x + 0.5 - c0x) * ux + (y + 0.5 - c0y) * uy) / len;
        ASSERT_LE(MaxDiff(b.color(x, y), TwoStop(g.startColor, g.endColor, t)), 1) << angle << " " << x << "," << y;
      }
  }
  // 90 and 450 agree; -90 is 270.
  g.angle = 90;
  const Buffer a90 = Render(4, 20, 9, g);
  g.angle = 450;
  EXPECT_EQ(Render(4, 20, 9, g).bytes, a90.bytes);
  g.angle = -90;
  const Buffer m90 = Render(12, 20, 9, g);
  g.angle = 270;
  EXPECT_EQ(Render(12, 20, 9, g).bytes, m90.bytes);
  // At 45 degrees on a square: 0 at the top-left corner, 1 at the bottom
  // right, 0.5 along the anti-diagonal.
  g.angle = 45;
  g.startColor = 0x000000;
  g.endColor = 0xFFFFFF;
  Buffer sq = Render(10, 64, 64, g);
  EXPECT_LE(R(sq.color(0, 0)), 4);
  EXPECT_GE(R(sq.color(63, 63)), 251);
  for (int x = 0; x < 64; ++x) EXPECT_NEAR(R(sq.color(x, 63 - x)), 127, 1);
}

TEST(Gradient, RadialAndConicalPositions) {
  vlGradientDesc g;
  g.type = VL_GRADIENT_RADIAL;
  g.startColor = 0x0000FF;
  g.endColor = 0xFFFF00;
  const int w = 40, h = 30;
  Buffer b = Render(10, w, h, g);
  const double R0 = std::sqrt(40.0 * 40 + 30 * 30) * 0.5;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double d = std::hypot(x + 0.5 - 20, y + 0.5 - 15);
      ASSERT_EQ(b.color(x, y), TwoStop(g.startColor, g.endColor, d / R0)) << x << "," << y;
    }
  g.border = 1.0;                        // 0.99: almost everything at the end colour
  Buffer bb = Render(10, w, h, g);
  EXPECT_EQ(bb.color(0, 0), 0xFFFF00u);
  EXPECT_EQ(bb.color(30, 5), 0xFFFF00u);

  g.type = VL_GRADIENT_CONICAL;
  g.border = 0;
  g.balance = 0.25;
  g.angle = 30;
  Buffer c = Render(10, w, h, g);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double t = std::fmod(std::atan2(y + 0.5 - 15, x + 0.5 - 20) + 2 * kPi + 30 * kPi / 180, 2 * kPi) / (-2 * kPi) + 1;
      // Stops: end at 0, start at the balance, end at 1.
      const uint32_t want = t <= 0.25 ? TwoStop(g.endColor, g.startColor, t / 0.25) : TwoStop(g.startColor, g.endColor, (t - 0.25) / 0.75);
      ASSERT_LE(MaxDiff(c.color(x, y), want), 2) << x << "," << y;
    }
}

TEST(Gradient, StopsFormatsAndClipping) {
  vlGradientDesc g;
  g.type = VL_GRADIENT_LINEAR;
  g.angle = 90;
  g.stopCount = 3;
  g.stops[0] = {0xFF0000, 0.0};
  g.stops[1] = {0x00FF00, 0.5};
  g.stops[2] = {0x0000FF, 1.0};
  Buffer b = Render(10, 64, 1, g);
  EXPECT_EQ(b.color(0, 0) >> 16, 0xFBu);  // 0.5 / 64 of the way: weight 512 * 512 >> 16 = 4
  EXPECT_GE(G(b.color(32, 0)), 0xF8);     // the middle stop
  EXPECT_GE(B(b.color(63, 0)), 0xF8);
  // 16-bit formats get the 565 form of the 32-bit colours' channels.
  for (int32_t f : {4, 5, 2}) {
    Buffer s = Render(f, 64, 1, g);
    for (int x = 0; x < 64; ++x) ASSERT_EQ(s.color(x, 0), PixelToColor(ColorToPixel(b.color(x, 0), f, 0), f, 0));
  }
  // 3-byte pictures, other types and empty rectangles draw nothing.
  Buffer p24(8, 5, 5);
  const auto before = p24.bytes;
  vlGradientJob j;
  j.pixels = p24.data();
  j.bytesPerPixel = 3;
  j.format = 8;
  j.width = j.height = j.bufferWidth = j.bufferHeight = 5;
  j.rowLength = p24.row;
  j.gradient = &g;
  RenderGradient(j);
  EXPECT_EQ(p24.bytes, before);
  vlGradientDesc bad = g;
  bad.type = 7;
  EXPECT_EQ(Render(10, 4, 4, bad).bytes, Buffer(10, 4, 4).bytes);
  // A rectangle sticking out of the picture keeps its geometry.
  SetGlobalPixelFormat(10);
  vlBitmap* bm = NewBitmap(20, 10, 0, nullptr);
  SetGlobalPixelFormat(-1);
  ASSERT_NE(bm, nullptr);
  FillBitmapRect(bm, 0, 0, 20, 10, 0);
  g.stopCount = 0;
  g.startColor = 0x000000;
  g.endColor = 0xFFFFFF;
  EXPECT_EQ(DrawGradient(bm, -10, 2, 30, 20, &g), 0);
  const Buffer full = Render(10, 30, 20, g);
  vlPixelAccess a = Access(bm);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      const uint32_t want = y >= 2 ? full.color(x + 10, y - 2) : 0;
      ASSERT_EQ(ReadRawPixelColor(&a, x, y), want) << x << "," << y;
    }
  DeleteBitmap(bm);
}

namespace {

struct Quantized {
  std::vector<uint8_t> index;
  uint32_t palette[256];
  int32_t colors;
  int32_t key;
  int32_t ok;
};

Quantized Quantize(Buffer& b, int wanted, int64_t transparent = -1, int dither = 0, int reserve = 0) {
  Quantized q{std::vector<uint8_t>(static_cast<size_t>(b.w) * b.h), {}, wanted, -7, 0};
  q.ok = ReduceColors(b.data(), b.format, b.bpp, b.w, b.h, b.row, q.index.data(), q.palette, &q.colors, transparent,
                      reserve, dither, &q.key);
  return q;
}

// Weighted distance from the histogram cell's centre.
int64_t CellDistance(uint32_t c, uint32_t p) {
  const int64_t r = ((R(c) >> 3) << 3) + 4 - R(p), g = ((G(c) >> 2) << 2) + 2 - G(p), b = ((B(c) >> 3) << 3) + 4 - B(p);
  return 4 * r * r + 9 * g * g + b * b;
}

}  // namespace

TEST(Quantizer, FewColoursAreKeptExactlyInOrder) {
  std::mt19937 rng(51);
  for (int32_t f : {10, 11, 4, 8, 9}) {
    Buffer b(f, 40, 10);
    std::vector<uint32_t> colours;
    for (int i = 0; i < 200; ++i) colours.push_back(rng() & 0xFFFFFF);
    for (int i = 0; i < 400; ++i) b.setColor(i % 40, i / 40, colours[i % 200]);
    Quantized q = Quantize(b, 256);
    ASSERT_EQ(q.ok, 1);
    std::vector<uint32_t> order;
    for (int i = 0; i < 400; ++i) {
      const uint32_t c = b.color(i % 40, i / 40);
      if (std::find(order.begin(), order.end(), c) == order.end()) order.push_back(c);
    }
    ASSERT_EQ(q.colors, static_cast<int>(order.size())) << f;
    for (int i = 0; i < q.colors; ++i) ASSERT_EQ(q.palette[i], order[i]) << f;
    for (int i = 0; i < 400; ++i) ASSERT_EQ(q.palette[q.index[i]], b.color(i % 40, i / 40));
    EXPECT_EQ(q.key, -1);
  }
  Buffer one(10, 7, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) one.setColor(x, y, 0x336699);
  Quantized q1 = Quantize(one, 16, 0x336699);
  EXPECT_EQ(q1.colors, 1);
  EXPECT_EQ(q1.palette[0], 0x336699u);
  EXPECT_EQ(q1.key, 0);
  for (uint8_t i : q1.index) EXPECT_EQ(i, 0);
}

TEST(Quantizer, MedianCutMapsToTheNearestPaletteEntry) {
  std::mt19937 rng(52);
  for (int32_t f : {10, 13, 4, 9})
    for (int wanted : {2, 16, 256}) {
      Buffer b(f, 61, 33);
      b.randomize(rng);
      Quantized q = Quantize(b, wanted);
      ASSERT_EQ(q.ok, 1);
      ASSERT_GE(q.colors, 1);
      ASSERT_LE(q.colors, wanted);
      for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x) {
          const uint32_t c = b.color(x, y);
          const int got = q.index[y * b.w + x];
          ASSERT_LT(got, q.colors);
          int best = 0;
          for (int i = 1; i < q.colors; ++i)
            if (CellDistance(c, q.palette[i]) < CellDistance(c, q.palette[best])) best = i;
          ASSERT_EQ(CellDistance(c, q.palette[got]), CellDistance(c, q.palette[best])) << f << " " << wanted;
        }
      // The same pixels give the same palette and indices.
      Quantized again = Quantize(b, wanted);
      ASSERT_EQ(again.index, q.index);
      ASSERT_TRUE(std::equal(q.palette, q.palette + q.colors, again.palette));
    }
}

TEST(Quantizer, TransparentColourAndReserveTakeTheLastEntry) {
  std::mt19937 rng(53);
  Buffer b(10, 50, 50);
  b.randomize(rng);
  for (int i = 0; i < 50; ++i) b.setColor(i, i, 0x00FF00);
  Quantized q = Quantize(b, 256, 0x00FF00);
  ASSERT_EQ(q.ok, 1);
  ASSERT_LE(q.colors, 256);
  EXPECT_EQ(q.key, q.colors - 1);
  EXPECT_EQ(q.palette[q.key], 0x00FF00u);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_EQ(q.index[y * 50 + x] == q.key, b.color(x, y) == 0x00FF00u) << x << "," << y;
  Quantized r = Quantize(b, 256, -1, 0, 1);
  EXPECT_EQ(r.colors, 256);
  EXPECT_EQ(r.key, -1);
  for (uint8_t i : r.index) ASSERT_LT(i, 255);
  // Dithering keeps the key pixels and stays in the palette.
  Quantized d = Quantize(b, 64, 0x00FF00, 1);
  ASSERT_EQ(d.ok, 1);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 50; ++x) ASSERT_EQ(d.index[y * 50 + x] == d.key, b.color(x, y) == 0x00FF00u);
}

TEST(Quantizer, DitherErrorLimits) {
  EXPECT_EQ(DitherErrorLimit(0), 0);
  EXPECT_EQ(DitherErrorLimit(15), 15);
  EXPECT_EQ(DitherErrorLimit(16), 16);
  EXPECT_EQ(DitherErrorLimit(17), 16);
  EXPECT_EQ(DitherErrorLimit(20), 18);
  EXPECT_EQ(DitherErrorLimit(47), 31);
  EXPECT_EQ(DitherErrorLimit(48), 32);
  EXPECT_EQ(DitherErrorLimit(100), 32);
  EXPECT_EQ(DitherErrorLimit(-100), -32);
  EXPECT_EQ(DitherErrorLimit(-20), -18);
  EXPECT_EQ(DitherErrorLimit(255), 32);
}

TEST(Quantizer, DitherSpreadsTheErrorOfASmoothRamp) {
  // A grey ramp reduced to 2 colours: without dither each half is flat,
  // with dither the local average follows the ramp.
  Buffer b(10, 256, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 256; ++x) b.setColor(x, y, RGBc(x, x, x));
  Quantized plain = Quantize(b, 2), dith = Quantize(b, 2, -1, 1);
  ASSERT_EQ(dith.colors, 2);
  double errPlain = 0, errDith = 0;
  for (int x0 = 0; x0 < 256; x0 += 16) {
    double sp = 0, sd = 0, want = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = x0; x < x0 + 16; ++x) {
        sp += R(plain.palette[plain.index[y * 256 + x]]);
        sd += R(dith.palette[dith.index[y * 256 + x]]);
        want += x;
      }
    // Only where the two palette greys can reach the ramp's level.
    const int lo = std::min(R(dith.palette[0]), R(dith.palette[1])), hi = std::max(R(dith.palette[0]), R(dith.palette[1]));
    if (want / 256 < lo || want / 256 > hi) continue;
    errPlain += std::fabs(sp - want) / 256;
    errDith += std::fabs(sd - want) / 256;
  }
  EXPECT_GT(errPlain, 100);
  EXPECT_LT(errDith, errPlain / 2);
  EXPECT_EQ(Quantize(b, 2, -1, 1).index, dith.index);
}

TEST(Quantizer, QuantizeBitmapWritesPaletteColours) {
  std::mt19937 rng(54);
  for (int32_t f : {10, 4, 8}) {
    vlBitmap* bm = NewPicture(f, 30, 20);
    ASSERT_NE(bm, nullptr);
    vlPixelAccess a = Access(bm);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30 * a.bytesPerPixel; ++x) a.pixels[y * a.rowLength * a.bytesPerPixel + x] = static_cast<uint8_t>(rng());
    EXPECT_EQ(QuantizeBitmap(bm, 30, 20, 8, 0), 0);
    std::set<uint32_t> seen;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) seen.insert(ReadRawPixelColor(&a, x, y));
    EXPECT_LE(seen.size(), 8u) << f;
    EXPECT_GE(seen.size(), 2u);
    DeleteBitmap(bm);
  }
  EXPECT_EQ(QuantizeBitmap(nullptr, 4, 4, 8, 0), 0);
}
