// The brush-effect kernels against straightforward references: clamped
// neighbour reads instead of padded copies, colours through the format
// rules, every 2- and 4-byte format, bit for bit.
#include "graphics/effect_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>

#include "graphics/image_kernels.h"
#include "graphics/warp_kernels.h"
#include "tests/graphics/kernel_test_util.h"

using namespace vltest;

namespace {

constexpr double kSqrt2Pi = 2.5066282746310002, k2Pi = 6.283185307179586;

int Clamp(int v, int n) { return std::min(std::max(v, 0), n - 1); }
int Ch(uint32_t c, int i) { return (c >> (16 - 8 * i)) & 0xFF; }

using Taps = std::vector<double>;

// A sum that is whole but for the taps' rounding counts as whole.
int SumTo255(double s) {
  const double whole = std::nearbyint(s);
  return Trunc255(std::fabs(s - whole) < 1e-6 ? whole : s);
}

// Convolves every channel by a row of taps (horizontal or vertical).
void Pass1D(Buffer& b, const Taps& k, bool vertical) {
  const Buffer src = b;
  const int half = static_cast<int>(k.size()) / 2;
  for (int y = 0; y < b.h; ++y)
    for (int x = 0; x < b.w; ++x) {
      int out[3];
      for (int c = 0; c < 3; ++c) {
        double s = 0;
        for (size_t i = 0; i < k.size(); ++i) {
          const int o = static_cast<int>(i) - half;
          const int sx = vertical ? x : Clamp(x + o, b.w), sy = vertical ? Clamp(y + o, b.h) : y;
          s += k[i] * Ch(src.color(sx, sy), c);
        }
        out[c] = SumTo255(s);
      }
      b.setColor(x, y, RGBc(out[0], out[1], out[2]));
    }
}

void Pass2D(Buffer& b, const Taps& k, int w) {
  const Buffer src = b;
  const int j = w / 2;
  for (int y = 0; y < b.h; ++y)
    for (int x = 0; x < b.w; ++x) {
      int out[3];
      for (int c = 0; c < 3; ++c) {
        double s = 0;
        for (int v = -j; v <= j; ++v)
          for (int u = -j; u <= j; ++u)
            s += k[(v + j) * w + u + j] * Ch(src.color(Clamp(x + u, b.w), Clamp(y + v, b.h)), c);
        out[c] = SumTo255(s);
      }
      b.setColor(x, y, RGBc(out[0], out[1], out[2]));
    }
}

Taps BlurTaps(int w, double s) {
  Taps k(w, 0.0);
  const int bias = 3 * w / 2;
  for (int i = -bias; i <= bias; ++i) k[(i + bias) / 3] += std::exp(-static_cast<double>(i) * i / (18.0 * s * s)) / (kSqrt2Pi * s);
  double sum = 0;
  for (double t : k) sum += t;
  for (double& t : k) t /= sum;
  return k;
}

Taps Taps2D(char op, int w, double s) {
  Taps k(w * w, 0.0);
  const int j = w / 2;
  for (int v = -j; v <= j; ++v)
    for (int u = -j; u <= j; ++u) {
      const double g = std::exp(-static_cast<double>(u * u + v * v) / (2.0 * s * s)) / (k2Pi * s * s);
      double& t = k[(v + j) * w + u + j];
      if (op == 's') t = -g;
      else if (op == 'g') t = -1;
      else if (u == -v) t = (u < 0 || v < 0) ? -8 * g : 8 * g;
    }
  if (op == 's') {
    double sum = 0;
    for (double t : k) sum += t;
    k[j * w + j] = -2 * sum;
  }
  if (op == 'g') k[j * w + j] = w * w - 1.0;
  double n = 0;
  for (double t : k) n += t;
  const double f = std::fabs(n) <= 1e-10 ? 1.0 : 1.0 / n;
  for (double& t : k) t *= f;
  return k;
}

vlConvolveJob JobFor(Buffer& b, uint32_t op, double radius, double sigma) {
  vlConvolveJob j;
  j.pixels = b.data();
  j.width = b.w;
  j.height = b.h;
  j.rowLength = b.row;
  j.format = b.format;
  j.bytesPerPixel = b.bpp;
  j.radius = radius;
  j.sigma = sigma;
  j.op = op;
  return j;
}

}  // namespace

TEST(EffectKernels, KernelWidths) {
  EXPECT_EQ(OptimalKernelWidth1D(0, 1.0), 7);  // radius 0 uses sigma 1: 7 taps
  EXPECT_EQ(OptimalKernelWidth1D(0, 0.5), 3);
  EXPECT_EQ(OptimalKernelWidth1D(0, 0), 1);
  EXPECT_EQ(OptimalKernelWidth1D(2.5, 9), 7);
  EXPECT_EQ(OptimalKernelWidth1D(1e300, 1), kVlMaxKernelWidth1D);
  EXPECT_EQ(OptimalKernelWidth2D(0, 1.0), 7);
  EXPECT_EQ(OptimalKernelWidth2D(0, 0.5), 3);  // oil paint at radius 0: 3 x 3
  EXPECT_EQ(OptimalKernelWidth2D(1, 3), 3);
  EXPECT_LE(OptimalKernelWidth2D(0, 1e6), kVlMaxKernelWidth2D);
  EXPECT_GE(OptimalKernelWidth1D(0, 3.0), 15);
  EXPECT_EQ(OptimalKernelWidth1D(0, std::nan("")), 1);
}

TEST(EffectKernels, ConvolutionsMatchTheReference) {
  std::mt19937 rng(21);
  struct Case {
    uint32_t op;
    double radius, sigma;
  };
  const Case cases[] = {{'b', 0, 1.0}, {'b', 2, 0.8}, {'b', 1, -1.5}, {'b', 20, 6.0}, {'s', 0, 1.0}, {'s', 1, 0.7},
                        {'g', 0, 0.0}, {'g', 1, 0.0}, {'e', 0, 1.0}, {'e', 2, 1.3}};
  for (int32_t f : {4, 0, 7, 10, 11, 13})
    for (const Case& c : cases) {
      Buffer b(f, 17, 11);
      b.randomize(rng);
      Buffer want = b;
      if (c.op == 'b') {
        const Taps k = BlurTaps(OptimalKernelWidth1D(c.radius, c.sigma), c.sigma);
        Pass1D(want, k, false);
        Pass1D(want, k, true);
      } else {
        const int w = c.op == 'g' ? OptimalKernelWidth1D(c.radius, 0.5) : OptimalKernelWidth2D(c.radius, c.sigma);
        Pass2D(want, Taps2D(static_cast<char>(c.op), w, std::fabs(c.sigma) <= 1e-10 ? 1.0 : c.sigma), w);
      }
      ConvolvePix(JobFor(b, c.op, c.radius, c.sigma));
      for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x)
          ASSERT_EQ(b.color(x, y), want.color(x, y)) << "op " << static_cast<char>(c.op) << " r " << c.radius
                                                     << " format " << f << " at " << x << "," << y;
    }
}

// Kernels wider than 31 taps (the sums across and down, and emboss's
// diagonal) give what the dense kernel gives.
TEST(EffectKernels, WideConvolutionsMatchTheDenseKernel) {
  std::mt19937 rng(33);
  for (int32_t f : {4, 10})
    for (uint32_t op : {'s', 'g', 'e'}) {
      Buffer b(f, 37, 70);  // taller than one band of rows
      b.randomize(rng);
      Buffer want = b;
      const double radius = op == 'g' ? 17 : 16, sigma = op == 'e' ? 5.0 : 3.0;
      const int w = op == 'g' ? OptimalKernelWidth1D(radius, 0.5) : OptimalKernelWidth2D(radius, sigma);
      ASSERT_GT(w, kVlMaxKernelWidth2D);
      Pass2D(want, Taps2D(static_cast<char>(op), w, sigma), w);
      ConvolvePix(JobFor(b, op, radius, sigma));
      for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x)
          ASSERT_EQ(b.color(x, y), want.color(x, y)) << static_cast<char>(op) << " format " << f << " at " << x << "," << y;
    }
}

TEST(EffectKernels, ConvolutionEdgeRules) {
  std::mt19937 rng(5);
  Buffer b(10, 9, 6);
  b.randomize(rng);
  const auto before = b.bytes;
  ConvolvePix(JobFor(b, 'b', 3, 0.0));  // sigma 0: nothing
  EXPECT_EQ(b.bytes, before);
  ConvolvePix(JobFor(b, 's', 4, 1.0));  // 9 x 9 on a 9 x 6 picture: nothing
  ConvolvePix(JobFor(b, 'e', 3, 1.0));
  ConvolvePix(JobFor(b, 'x', 0, 1.0));  // unknown code
  EXPECT_EQ(b.bytes, before);
  Buffer p24(8, 5, 5);
  p24.randomize(rng);
  const auto b24 = p24.bytes;
  ConvolvePix(JobFor(p24, 'b', 0, 1.0));
  EXPECT_EQ(p24.bytes, b24);
  // A uniform picture stays uniform under every convolution; blur and
  // sharpen (taps summing to 1) keep its very colour, white included, in
  // 5-6-5 pixels as in 32-bit ones.
  for (uint32_t op : {'b', 's', 'g', 'e'}) {
    for (int format : {5, 4, 10}) {
      for (uint32_t colour : {0x8040C0u, 0xFFFFFFu}) {
        Buffer u(format, 8, 8);
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) u.setColor(x, y, colour);
        const uint32_t was = u.raw(0, 0);
        ConvolvePix(JobFor(u, op, 1, 1.0));
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) ASSERT_EQ(u.raw(x, y), u.raw(0, 0)) << static_cast<char>(op);
        if (op == 'b' || op == 's') {
          EXPECT_EQ(u.raw(0, 0), was) << static_cast<char>(op) << format << colour;
        }
      }
    }
  }
  // 1 x 1, empty and huge radii do not misbehave.
  Buffer one(10, 1, 1);
  one.setColor(0, 0, 0x123456);
  ConvolvePix(JobFor(one, 'b', 0, 1.0));  // the taps sum to 1
  EXPECT_EQ(one.color(0, 0), 0x123456u);
  Buffer none(10, 0, 0);
  ConvolvePix(JobFor(none, 'b', 0, 1.0));
  ConvolvePix(JobFor(b, 'b', 1e12, 1.0));
  ConvolvePix(JobFor(b, 's', 1e12, 1.0));
}

TEST(EffectKernels, AlphaPlaneAloneIsBlurred) {
  std::mt19937 rng(6);
  const int w = 12, h = 7, row = 16;
  std::vector<uint8_t> a(row * h);
  for (auto& v : a) v = static_cast<uint8_t>(rng());
  // The reference runs the same passes on a 32-bit picture whose three
  // channels all hold the alpha byte.
  Buffer ref(10, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = a[y * row + x];
      ref.setColor(x, y, RGBc(v, v, v));
    }
  const Taps k = BlurTaps(OptimalKernelWidth1D(0, 1.0), 1.0);
  Pass1D(ref, k, false);
  Pass1D(ref, k, true);
  vlConvolveJob j;
  j.width = w;
  j.height = h;
  j.alpha = a.data();
  j.alphaRowBytes = row;
  j.sigma = 1.0;
  ConvolvePix(j);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(a[y * row + x], B(ref.color(x, y)));
}

TEST(EffectKernels, OilPaintTakesTheFirstMostFrequentNeighbour) {
  std::mt19937 rng(8);
  for (int32_t f : {10, 12, 4, 1})
    for (double radius : {0.0, 1.0, 2.0}) {
      Buffer b(f, 10, 8);
      // Few distinct colours, so that counts tie often.
      const uint32_t palette[4] = {0x000000, 0xFFFFFF, 0x808080, 0x20C040};
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) b.setColor(x, y, palette[rng() % 4]);
      Buffer want = b;
      const int w = OptimalKernelWidth2D(radius, 0.5), j = w / 2;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 10; ++x) {
          int hist[256] = {}, best = 0;
          uint32_t chosen = 0;
          for (int v = -j; v <= j; ++v)
            for (int u = -j; u <= j; ++u) {
              const int sx = Clamp(x + u, 10), sy = Clamp(y + v, 8);
              const uint32_t c = b.color(sx, sy);
              const int n = ++hist[static_cast<int>(0.299 * R(c) + 0.587 * G(c) + 0.114 * B(c))];
              if (n > best) {
                best = n;
                chosen = b.raw(sx, sy);
              }
            }
          want.setRaw(x, y, chosen);
        }
      vlOilPaintJob job{b.data(), 10, 8, b.row, f, radius};
      (b.bpp == 4 ? OilPaintPix32 : OilPaintPix16)(job);
      ASSERT_EQ(b.bytes, want.bytes) << f << " " << radius;
    }
}

namespace {

// HSB contrast, written from the formulas.
uint32_t ContrastRef(uint32_t c, int sign) {
  const double r = R(c), g = G(c), b = B(c);
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  if (mx == 0) return c;
  const double sat = (mx - mn) / mx;
  double bri = mx / 255.0, hue = 0;
  if (mx != mn) {
    const double d = mx - mn;
    hue = r == mx ? (g - b) / d : g == mx ? 2 + (b - r) / d : 4 + (r - g) / d;
    hue /= 6;
    if (hue < 0) hue += 1;
  }
  bri = std::clamp(bri + 0.5 * sign * (0.5 * (std::sin(3.141592653589793 * (bri - 0.5)) + 1) - bri), 0.0, 1.0);
  if (sat == 0) {
    const int v = Trunc255(255 * bri);
    return RGBc(v, v, v);
  }
  const double h = 6 * (hue - std::floor(hue)), f = h - std::floor(h);
  const double p = bri * (1 - sat), q = bri * (1 - sat * f), t = bri * (1 - sat * (1 - f));
  const double table[6][3] = {{bri, t, p}, {q, bri, p}, {p, bri, t}, {p, q, bri}, {t, p, bri}, {bri, p, q}};
  const double* o = table[static_cast<int>(h) % 6];
  return RGBc(Trunc255(255 * o[0]), Trunc255(255 * o[1]), Trunc255(255 * o[2]));
}

}  // namespace

TEST(EffectKernels, ContrastFollowsTheHSBCurve) {
  std::mt19937 rng(12);
  for (int32_t f : KernelFormats())
    for (int sign : {1, -1}) {
      Buffer b(f, 15, 4);
      b.randomize(rng);
      Buffer want = b;
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 15; ++x) want.setColor(x, y, ContrastRef(b.color(x, y), sign));
      (b.bpp == 4 ? ContrastPix32 : ContrastPix16)(b.data(), 15, 4, b.row, f, sign);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 15; ++x) ASSERT_EQ(b.raw(x, y), want.raw(x, y)) << f << " " << sign;
    }
  // Black stays black; sharpening pushes a light grey lighter.
  int r = 0, g = 0, bl = 0;
  ContrastRGB(1, &r, &g, &bl);
  EXPECT_EQ(r + g + bl, 0);
  r = g = bl = 192;
  ContrastRGB(1, &r, &g, &bl);
  EXPECT_GT(r, 192);
  EXPECT_EQ(r, g);
}

TEST(EffectKernels, ContrastStretchMapsTheHistogramEnds) {
  std::mt19937 rng(13);
  for (int32_t f : {10, 13, 4, 2}) {
    Buffer b(f, 20, 10);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x) {
        const int v = 60 + rng() % 90;
        b.setColor(x, y, RGBc(v, v + rng() % 20, v - rng() % 20));
      }
    const int n = 200, kb = static_cast<int>(n * 0.02), kw = static_cast<int>(n * 0.99);
    long hist[256] = {};
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x) {
        const uint32_t c = b.color(x, y);
        ++hist[static_cast<int>(0.299 * R(c) + 0.587 * G(c) + 0.114 * B(c))];
      }
    int black = 0, white = 0;
    for (long s = 0; black < 256; ++black)
      if ((s += hist[black]) > kb) break;
    for (long s = 0, i = 255; i >= 1; --i)
      if ((s += hist[i]) > n - kw) {
        white = static_cast<int>(i);
        break;
      }
    ASSERT_LT(black, white);
    auto map = [&](int v) { return v < black ? 0 : v > white ? 255 : static_cast<int>(255.0 * (v - black) / (white - black)); };
    Buffer want = b;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x) {
        const uint32_t c = b.color(x, y);
        want.setColor(x, y, RGBc(map(R(c)), map(G(c)), map(B(c))));
      }
    vlStretchJob job{b.data(), 20, 10, b.row, kb, kw, f, b.bpp};
    ContrastStretchPix(job);
    ASSERT_EQ(b.bytes, want.bytes) << f;
    // A picture of a single intensity is left as it is.
    Buffer u(f, 6, 6);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) u.setColor(x, y, 0x707070);
    const auto before = u.bytes;
    vlStretchJob uj{u.data(), 6, 6, u.row, 0, 35, f, u.bpp};
    ContrastStretchPix(uj);
    EXPECT_EQ(u.bytes, before);
  }
}

namespace {

double HueRef(double m1, double m2, double h) {
  h = h < 0 ? h + 1 : h > 1 ? h - 1 : h;
  if (h * 6 < 1) return m1 + 6 * (m2 - m1) * h;
  if (h * 2 < 1) return m2;
  if (h * 3 < 2) return m1 + 6 * (m2 - m1) * (2.0 / 3.0 - h);
  return m1;
}

}  // namespace

TEST(EffectKernels, ModulateThroughHSL) {
  std::mt19937 rng(14);
  for (int32_t f : {10, 11, 4, 3})
    for (auto [pl, ps, ph] : {std::tuple{100, 100, 100}, {150, 80, 130}, {50, 200, 0}, {100, 0, 300}}) {
      Buffer b(f, 9, 5);
      b.randomize(rng);
      Buffer want = b;
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) {
          const uint32_t c = b.color(x, y);
          double h, s, l;
          RGBToHSL(R(c), G(c), B(c), &h, &s, &l);
          l *= 0.01 * pl;
          s *= 0.01 * ps;
          h += 0.5 * (0.01 * ph - 1);
          while (h < 0) h += 1;
          while (h > 1) h -= 1;
          if (s == 0) {
            const int v = Trunc255(255 * l);
            want.setColor(x, y, RGBc(v, v, v));
            continue;
          }
          const double m2 = l <= 0.5 ? l * (s + 1) : l + s - l * s, m1 = 2 * l - m2;
          const double rr = HueRef(m1, m2, h + 1.0 / 3.0), gg = HueRef(m1, m2, h), bb = HueRef(m1, m2, h - 1.0 / 3.0);
          want.setColor(x, y, RGBc(Trunc255(255 * rr), Trunc255(255 * gg), Trunc255(255 * bb)));
        }
      vlModulateJob job{b.data(), 9, 5, b.row, f, pl, ps, ph};
      (b.bpp == 4 ? ModulatePix32 : ModulatePix16)(job);
      ASSERT_EQ(b.bytes, want.bytes) << f << " " << pl << " " << ps << " " << ph;
    }
  // Wild hues still end.
  int r = 10, g = 200, bl = 30;
  ModulateRGB(100, 100, INT32_MAX, &r, &g, &bl);
  ModulateRGB(INT32_MAX, INT32_MIN, INT32_MIN, &r, &g, &bl);
}

TEST(WarpKernels, SwirlMovesPixelsInsideTheRadiusOnly) {
  std::vector<double> sines(kVlWarpTableSize), cosines(kVlWarpTableSize);
  BuildSwirlTables(sines.data(), cosines.data());
  EXPECT_EQ(sines[0], 0.0);
  EXPECT_EQ(cosines[0], 1.0);
  double acc = 0;
  for (int i = 0; i < 1234; ++i) acc += 0.001;
  EXPECT_EQ(sines[1234], std::sin(acc));
  std::mt19937 rng(15);
  for (int32_t f : {10, 12, 4})
    for (auto [w, h] : {std::pair{16, 16}, {21, 9}, {5, 13}, {1, 1}})
      for (int deg : {0, 90, -200, 359}) {
        Buffer b(f, w, h);
        b.randomize(rng);
        const int mrow = 4, arow = 24;
        std::vector<uint8_t> mask(mrow * h), alpha(arow * h);
        for (auto& m : mask) m = static_cast<uint8_t>(rng());
        for (auto& a : alpha) a = static_cast<uint8_t>(rng());
        Buffer out = b;
        std::vector<uint8_t> om = mask, oa = alpha;
        vlSwirlJob j;
        j.target = out.data();
        j.targetRow = out.row;
        j.sines = sines.data();
        j.cosines = cosines.data();
        j.format = f;
        j.width = w;
        j.height = h;
        j.targetAlpha = oa.data();
        j.targetAlphaRowBytes = arow;
        j.targetMask = om.data();
        j.targetMaskRowBytes = mrow;
        (b.bpp == 4 ? SwirlPix32 : SwirlPix16)(j, deg);
        const double cx = w / 2.0, cy = h / 2.0, R0 = std::max(cx, cy);
        const double sx = w <= h ? static_cast<double>(h) / w : 1, sy = w <= h ? 1 : static_cast<double>(w) / h;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const double dx = (x - cx) * sx, dy = (y - cy) * sy, D = dx * dx + dy * dy;
            int px = x, py = y;
            if (D < R0 * R0 && deg != 0) {
              const double fr = 1 - static_cast<int>(std::sqrt(static_cast<double>(static_cast<int>(D)))) / R0;
              const double a = deg * 0.017453292519943295 * (fr * fr);
              double s, c;
              if (a >= 0) {
                const int i = std::min(static_cast<int>(a / 0.001), kVlWarpTableSize - 1);
                s = sines[i];
                c = cosines[i];
              } else {
                s = std::sin(a);
                c = std::cos(a);
              }
              px = Clamp(static_cast<int>((c * dx - s * dy) / sx + cx), w);
              py = Clamp(static_cast<int>((s * dx + c * dy) / sy + cy), h);
            }
            ASSERT_EQ(out.raw(x, y), b.raw(px, py)) << f << " " << w << "x" << h << " " << deg;
            ASSERT_EQ(oa[y * arow + x], alpha[py * arow + px]);
            ASSERT_EQ((om[y * mrow + x / 8] >> (7 - x % 8)) & 1, (mask[py * mrow + px / 8] >> (7 - px % 8)) & 1);
            if (deg == 0) {
              ASSERT_EQ(out.raw(x, y), b.raw(x, y));
            }
          }
      }
}

TEST(WarpKernels, RippleSamplesClampedDisplacements) {
  std::mt19937 rng(16);
  for (int32_t f : {10, 13, 6})
    for (auto [w, h] : {std::pair{24, 18}, {7, 30}, {1, 1}})
      for (auto [len, amp, phase] : {std::tuple{8.0, 2.0, 0.0}, {1.0, 50.0, 3.0}, {30.0, -4.0, 1e12}}) {
        Buffer b(f, w, h);
        b.randomize(rng);
        const int cx = w / 3, cy = h / 2;
        std::vector<double> sines(kVlWarpTableSize);
        std::vector<int32_t> dist(w * h);
        BuildRippleTable(sines.data(), dist.data(), w, h, cx, cy);
        const int arow = 32;
        std::vector<uint8_t> alpha(arow * h);
        for (auto& a : alpha) a = static_cast<uint8_t>(rng());
        Buffer out = b;
        std::vector<uint8_t> oa = alpha;
        vlRippleJob j;
        j.target = out.data();
        j.targetRow = out.row;
        j.distances = dist.data();
        j.sines = sines.data();
        j.waveLength = len;
        j.amplitude = amp;
        j.width = w;
        j.height = h;
        j.format = f;
        j.targetAlpha = oa.data();
        j.targetAlphaRowBytes = arow;
        j.centerX = cx;
        j.centerY = cy;
        j.radius = std::max(cx, cy) > 0 ? std::max(cx, cy) : 1;
        j.phase = phase;
        (b.bpp == 4 ? WaterRipplePix32 : WaterRipplePix16)(j, -1);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const int d = static_cast<int>(std::floor(std::sqrt(static_cast<double>((x - cx) * (x - cx) + (y - cy) * (y - cy)))));
            ASSERT_EQ(dist[y * w + x], d);
            double a = d / len * k2Pi - phase;
            if (std::fabs(a) >= 1e6) a = std::fmod(a, k2Pi);
            while (a < 0) a += k2Pi;
            while (a >= k2Pi) a -= k2Pi;
            double s = amp * sines[std::min(static_cast<int>(a / 0.001), kVlWarpTableSize - 1)];
            s *= (j.radius - d) / j.radius;
            if (d) s *= len / d;
            const int px = Clamp(static_cast<int>(s * (x - cx) + x), w), py = Clamp(static_cast<int>(s * (y - cy) + y), h);
            ASSERT_EQ(out.raw(x, y), b.raw(px, py)) << f << " " << x << "," << y;
            ASSERT_EQ(oa[y * arow + x], alpha[py * arow + px]);
          }
      }
}

TEST(WarpKernels, TransitionModeFadesThroughTheSecondSource) {
  // A swirl of 0 degrees keeps positions; the fade of 360 degrees is 127.
  std::vector<double> sines(kVlWarpTableSize), cosines(kVlWarpTableSize);
  BuildSwirlTables(sines.data(), cosines.data());
  Buffer first(10, 4, 1), second(10, 4, 1), out(10, 4, 1);
  for (int x = 0; x < 4; ++x) {
    first.setColor(x, 0, 0xC08040);
    second.setColor(x, 0, 0x204060);
  }
  std::vector<uint8_t> sa = {255, 0, 128, 40}, ta(4, 9);
  out.setColor(1, 0, 0x010203);
  vlSwirlJob j;
  j.source = first.data();
  j.sourceRow = first.row;
  j.second = second.data();
  j.secondRow = second.row;
  j.target = out.data();
  j.targetRow = out.row;
  j.sines = sines.data();
  j.cosines = cosines.data();
  j.format = 10;
  j.width = 4;
  j.height = 1;
  j.sourceAlpha = sa.data();
  j.sourceAlphaRowBytes = 4;
  j.targetAlpha = ta.data();
  j.targetAlphaRowBytes = 4;
  // Positions move with a non-zero angle, so check only what the fade does
  // at the picture's corners, which lie on the swirl radius.
  SwirlPix32(j, 0);
  const int f = 0;  // 0 degrees: fade 0, the second source shows
  EXPECT_EQ(out.color(0, 0), 0x204060u);
  EXPECT_EQ(ta[0], 255 * f / 255);
  EXPECT_EQ(out.color(1, 0), 0x010203u);  // zero source alpha: pixel left, alpha 0
  EXPECT_EQ(ta[1], 0);
  j.fadeOut = 1;
  SwirlPix32(j, 0);
  EXPECT_EQ(ta[2], 128);  // fading out from full
}
