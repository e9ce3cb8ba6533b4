// The colour and geometry loops against per-pixel references written from
// the format rules, in every 2- and 4-byte format, plus ImageMagick for
// invert and the flips.
#include "graphics/image_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "graphics/pixel_kernels.h"
#include "tests/graphics/imagemagick_util.h"
#include "tests/graphics/kernel_test_util.h"

using namespace vltest;

namespace {

int LumaRef(uint32_t c) { return static_cast<int>(0.299 * R(c) + 0.587 * G(c) + 0.114 * B(c)); }

// Runs op on a copy and compares every pixel with ref(colour) -> colour.
template <typename Op, typename Ref>
void CheckColourMap(const char* what, Op op, Ref ref, int minBytes = 2) {
  std::mt19937 rng(7);
  for (int32_t f : KernelFormats())
    if (BytesPerPixelOfFormat(f) >= minBytes)
    for (auto [w, h] : {std::pair{1, 1}, {13, 7}, {0, 4}, {32, 3}}) {
      Buffer in(f, w, h), out;
      in.randomize(rng);
      out = in;
      op(out);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(out.raw(x, y), ColorToPixel(ref(in.color(x, y)), f, 0))
              << what << " format " << f << " at " << x << "," << y;
      // Pixels beyond the width are never touched.
      for (int y = 0; y < h; ++y)
        for (int x = w; x < in.row; ++x) ASSERT_EQ(out.raw(x, y), in.raw(x, y));
    }
}

void Dispatch(Buffer& b, void (*k32)(uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t),
              void (*k16)(uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t), int32_t arg) {
  (b.bpp == 4 ? k32 : k16)(b.data(), b.w, b.h, b.row, b.format, arg);
}

}  // namespace

TEST(IntSqrt, FloorOfTheRootForEveryRange) {
  EXPECT_EQ(IntSqrt(-1), -1);
  EXPECT_EQ(IntSqrt(INT32_MIN), -1);
  for (int32_t n = 0; n < 300000; ++n) {
    const int32_t r = IntSqrt(n);
    ASSERT_TRUE(int64_t{r} * r <= n && int64_t{r + 1} * (r + 1) > n) << n;
  }
  for (int64_t k = 500; k <= 46341; k += 7)
    for (int64_t d = -2; d <= 2; ++d) {
      const int64_t n = k * k + d;
      if (n > INT32_MAX) continue;
      const int32_t r = IntSqrt(static_cast<int32_t>(n));
      ASSERT_TRUE(int64_t{r} * r <= n && int64_t{r + 1} * (r + 1) > n) << n;
    }
  EXPECT_EQ(IntSqrt(INT32_MAX), 46340);
}

TEST(ImageKernels, GrayInvertSolarizeSepiaMatchReferences) {
  CheckColourMap("gray", [](Buffer& b) { (b.bpp == 4 ? GrayPix32 : GrayPix16)(b.data(), b.w, b.h, b.format, b.row, 0); },
                 [](uint32_t c) {
                   const int l = LumaRef(c);
                   return RGBc(l, l, l);
                 });
  CheckColourMap("two-level 32", [](Buffer& b) { if (b.bpp == 4) GrayPix32(b.data(), b.w, b.h, b.format, b.row, 1); },
                 [](uint32_t c) { return LumaRef(c) > 128 ? 0xFFFFFFu : 0u; }, 4);
  std::mt19937 r16(1);
  for (int f = 0; f < 8; ++f) {  // 16-bit white is 0xFFFF in every field layout
    Buffer b(f, 11, 3), out;
    b.randomize(r16);
    out = b;
    GrayPix16(out.data(), 11, 3, f, out.row, 1);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 11; ++x) ASSERT_EQ(out.raw(x, y), LumaRef(b.color(x, y)) >= 129 ? 0xFFFFu : 0u);
  }
  for (int t : {0, 100, 200, 255})
    CheckColourMap("solarize", [t](Buffer& b) { Dispatch(b, SolarizePix32, SolarizePix16, t); },
                   [t](uint32_t c) {
                     auto s = [t](int v) { return v > t ? 255 - v : v; };
                     return RGBc(s(R(c)), s(G(c)), s(B(c)));
                   });
  for (int t : {0, 80, 204, 255})
    CheckColourMap("sepia", [t](Buffer& b) { Dispatch(b, SepiaPix32, SepiaPix16, t); },
                   [t](uint32_t c) {
                     const double i = 0.299 * R(c) + 0.587 * G(c) + 0.114 * B(c);
                     int r = i > t ? 255 : Trunc255(i + 255 - t);
                     int g = i > 7.0 * t / 6.0 ? 255 : Trunc255(i + 255 - 7.0 * t / 6.0);
                     int bl = i < t / 6.0 ? 0 : Trunc255(i - t / 6.0);
                     const int lo = Trunc255(t / 7.0);
                     g = g < lo ? lo : g;
                     bl = bl < lo ? lo : bl;
                     return RGBc(r, g, bl);
                   });
  // Invert flips every bit, alpha included.
  std::mt19937 rng(3);
  for (int32_t f : KernelFormats()) {
    Buffer b(f, 9, 5), c;
    b.randomize(rng);
    c = b;
    (b.bpp == 4 ? InvertPix32 : InvertPix16)(c.data(), 9, 5, c.row);
    const uint32_t all = b.bpp == 4 ? 0xFFFFFFFFu : 0xFFFFu;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 9; ++x) ASSERT_EQ(c.raw(x, y), b.raw(x, y) ^ all);
  }
}

TEST(ImageKernels, GrayTwoLevelSplitsAtLuma128) {
  // (128, 128, 128) has luma 128 (black); (129, 129, 129) 129 (white).
  for (int32_t f : {10, 11, 12, 13}) {
    Buffer b(f, 2, 1);
    b.setColor(0, 0, 0x808080);
    b.setColor(1, 0, 0x818181);
    GrayPix32(b.data(), 2, 1, f, b.row, 1);
    EXPECT_EQ(b.raw(0, 0), 0u);
    EXPECT_EQ(b.raw(1, 0), ColorToPixel(0xFFFFFF, f, 0));
  }
  // Every 32-bit colour result carries alpha 0.
  Buffer b(10, 1, 1);
  b.setRaw(0, 0, 0xFF123456);
  GrayPix32(b.data(), 1, 1, 10, b.row, 0);
  EXPECT_EQ(b.raw(0, 0) >> 24, 0u);
}

TEST(ImageKernels, GammaTablesAndLookup) {
  uint8_t t[256];
  BuildGammaTable(t, 1.0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], i);
  BuildGammaTable(t, 0.0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], 0);
  uint8_t g2[256], g05[256];
  BuildGammaTable(g2, 2.0);
  BuildGammaTable(g05, 0.5);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(g2[i], static_cast<int>(255 * std::sqrt(i / 255.0) + 0.5)) << i;
    EXPECT_EQ(g05[i], static_cast<int>(255 * (i / 255.0) * (i / 255.0) + 0.5)) << i;
  }
  for (int flags : {1, 2, 4, 7, 5})
    CheckColourMap("gamma",
                   [&](Buffer& b) {
                     vlGammaJob j{b.data(), b.w, b.h, b.row, b.format, g2, g05, g2, flags};
                     (b.bpp == 4 ? GammaPix32 : GammaPix16)(j);
                   },
                   [&](uint32_t c) {
                     return RGBc(flags & 1 ? g2[R(c)] : R(c), flags & 2 ? g05[G(c)] : G(c), flags & 4 ? g2[B(c)] : B(c));
                   });
}

TEST(ImageKernels, MixBlendsThroughTheMask) {
  std::mt19937 rng(11);
  for (int32_t f : KernelFormats())
    for (int ratio : {0, 1, 128, 255}) {
      const int w = 19, h = 4, bit = 3;
      Buffer s(f, w, h), d(f, w, h);
      s.randomize(rng);
      d.randomize(rng);
      std::vector<uint8_t> mask(4 * h);
      for (auto& m : mask) m = static_cast<uint8_t>(rng());
      Buffer out = d;
      vlMixJob job{s.data(), out.data(), mask.data(), bit};
      (s.bpp == 4 ? MixPix32 : MixPix16)(job, w, h, ratio, f, s.row, d.row, 4);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int i = bit + x;
          const bool on = (mask[y * 4 + i / 8] >> (7 - i % 8)) & 1;
          if (!on) {
            ASSERT_EQ(out.raw(x, y), d.raw(x, y));
            continue;
          }
          const uint32_t a = s.color(x, y), b = d.color(x, y);
          auto m = [ratio](int sv, int dv) { return (sv + (((dv - sv) * (255 - ratio)) >> 8)) & 0xFF; };
          ASSERT_EQ(out.raw(x, y), ColorToPixel(RGBc(m(R(a), R(b)), m(G(a), G(b)), m(B(a), B(b))), f, 0))
              << f << " " << x << "," << y;
        }
    }
}

TEST(ImageKernels, ColourKeyMasksLeaveTheAlphaBitsOut) {
  // Colour key: alpha bytes do not count in 32-bit formats.
  for (int32_t f : {10, 11, 12, 13, 4}) {
    Buffer b(f, 13, 2);
    std::mt19937 rng(f);
    b.randomize(rng);
    const uint32_t key = ColorToPixel(0xABCDEF, f, 0);
    b.setRaw(5, 1, key | (b.bpp == 4 ? ~ColorCompareMask(f) : 0));
    b.setRaw(0, 0, key);
    std::vector<uint8_t> mask(4 * 2, 0xAA);
    if (b.bpp == 4) MaskFromKeyPix32(b.data(), mask.data(), 13, 2, 4, key, b.row, ColorCompareMask(f));
    else MaskFromKeyPix16(b.data(), mask.data(), 13, 2, 4, key, b.row);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 13; ++x) {
        const bool bit = (mask[y * 4 + x / 8] >> (7 - x % 8)) & 1;
        const uint32_t cmp = b.bpp == 4 ? ColorCompareMask(f) : 0xFFFF;
        EXPECT_EQ(bit, (b.raw(x, y) & cmp) != (key & cmp)) << f << " " << x << "," << y;
      }
    EXPECT_EQ(mask[1] & 0x07, 0xAA & 0x07);  // bits past the width untouched
  }
}

TEST(ImageKernels, FlipsMatchImageMagickAndCarryPlanes) {
  const std::string convert = FindConvert();
  std::mt19937 rng(5);
  const int w = 13, h = 5;
  for (int mirror : {0, 1})
    for (int32_t f : {10, 4, 13}) {
      Buffer b(f, w, h);
      b.randomize(rng);
      const int mrow = 4, arow = 16;
      std::vector<uint8_t> mask(mrow * h), alpha(arow * h), scratch(mrow);
      for (auto& m : mask) m = static_cast<uint8_t>(rng());
      for (auto& a : alpha) a = static_cast<uint8_t>(rng());
      Buffer out = b;
      std::vector<uint8_t> om = mask, oa = alpha;
      vlFlipJob job{out.data(), w, h, out.row, om.data(), mrow, oa.data(), arow, mirror, out.bpp, scratch.data()};
      FlipPixels(job);
      std::vector<uint8_t> inRgb, outRgb;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int sx = mirror ? w - 1 - x : x, sy = mirror ? y : h - 1 - y;
          ASSERT_EQ(out.raw(x, y), b.raw(sx, sy));
          ASSERT_EQ(oa[y * arow + x], alpha[sy * arow + sx]);
          ASSERT_EQ((om[y * mrow + x / 8] >> (7 - x % 8)) & 1, (mask[sy * mrow + sx / 8] >> (7 - sx % 8)) & 1);
          for (int s : {16, 8, 0}) {
            inRgb.push_back(static_cast<uint8_t>(b.color(x, y) >> s));
            outRgb.push_back(static_cast<uint8_t>(out.color(x, y) >> s));
          }
        }
      if (mirror) {  // the three padding bits of each 13-bit row stay as they were
        for (int y = 0; y < h; ++y) EXPECT_EQ(om[y * mrow + 1] & 0x07, mask[y * mrow + 1] & 0x07);
      }
      if (!convert.empty()) {
        EXPECT_EQ(ImageMagickAE(convert, inRgb, w, h, mirror ? "-flop" : "-flip", outRgb, w, h), 0);
      }
    }
}

TEST(ImageKernels, InvertMatchesImageMagickNegate) {
  const std::string convert = FindConvert();
  if (convert.empty()) GTEST_SKIP() << "ImageMagick missing";
  std::mt19937 rng(9);
  Buffer b(10, 23, 9);
  b.randomize(rng);
  std::vector<uint8_t> in, out;
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 23; ++x)
      for (int s : {16, 8, 0}) in.push_back(static_cast<uint8_t>(b.color(x, y) >> s));
  InvertPix32(b.data(), 23, 9, b.row);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 23; ++x)
      for (int s : {16, 8, 0}) out.push_back(static_cast<uint8_t>(b.color(x, y) >> s));
  EXPECT_EQ(ImageMagickAE(convert, in, 23, 9, "-negate", out, 23, 9), 0);
}

TEST(ImageKernels, PixelateBlocksAndPlanes) {
  std::mt19937 rng(2);
  for (int32_t f : {10, 4}) {
    const int w = 10, h = 10;
    Buffer s(f, w, h), d(f, w, h);
    s.randomize(rng);
    d.randomize(rng);
    const int mrow = 2;
    std::vector<uint8_t> sm(mrow * h), dm(mrow * h, 0x55);
    for (auto& m : sm) m = static_cast<uint8_t>(rng());
    Buffer out = d;
    vlPixelateJob job{s.data(), out.data(), sm.data(), dm.data(), nullptr, nullptr, s.row, out.row, mrow, mrow, 0, 0,
                      w, h, 4};
    (s.bpp == 4 ? PixelatePix32 : PixelatePix16)(job);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int bx = x / 4 * 4, by = y / 4 * 4;
        const int bit = (sm[by * mrow + bx / 8] >> (7 - bx % 8)) & 1;
        ASSERT_EQ((dm[y * mrow + x / 8] >> (7 - x % 8)) & 1, bit);
        ASSERT_EQ(out.raw(x, y), bit ? s.raw(bx, by) : d.raw(x, y)) << x << "," << y;
      }
    // Alpha plane without a mask: zero alpha clears the block, else copies.
    std::vector<uint8_t> sa(12 * h), da(12 * h, 7);
    for (auto& a : sa) a = rng() % 3 == 0 ? 0 : static_cast<uint8_t>(rng());
    out = d;
    vlPixelateJob ja{s.data(), out.data(), nullptr, nullptr, sa.data(), da.data(), s.row, out.row, 0, 0, 12, 12,
                     w, h, 3};
    (s.bpp == 4 ? PixelatePix32 : PixelatePix16)(ja);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int bx = x / 3 * 3, by = y / 3 * 3;
        const int a = sa[by * 12 + bx];
        ASSERT_EQ(da[y * 12 + x], a);
        ASSERT_EQ(out.raw(x, y), a ? s.raw(bx, by) : d.raw(x, y));
      }
  }
}

TEST(ImageKernels, MonochromeAndPlaneInvert) {
  std::mt19937 rng(8);
  for (int32_t f : KernelFormats()) {
    Buffer b(f, 7, 3);
    std::vector<uint8_t> idx(21);
    for (auto& i : idx) i = rng() % 2;
    (b.bpp == 4 ? MonoPix32 : MonoPix16)(b.data(), 7, 3, f, b.row, idx.data());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x) {
        const uint32_t white = b.bpp == 2 ? 0xFFFF : (f == 11 || f == 12) ? 0xFFFFFF00u : 0x00FFFFFFu;
        ASSERT_EQ(b.raw(x, y), idx[y * 7 + x] ? white : 0u);
      }
  }
  std::vector<uint8_t> plane = {0, 1, 255, 128, 7, 9, 10, 11};
  InvertPlaneBytes(plane.data(), 2, 4);
  EXPECT_EQ(plane, (std::vector<uint8_t>{255, 254, 0, 127, 248, 246, 245, 244}));
}

TEST(ImageKernels, RGBToHSLStandardConversion) {
  double h, s, l;
  RGBToHSL(128, 128, 128, &h, &s, &l);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s, 0);
  EXPECT_DOUBLE_EQ(l, 128 / 255.0);
  RGBToHSL(255, 0, 0, &h, &s, &l);
  EXPECT_DOUBLE_EQ(h, 0);
  EXPECT_DOUBLE_EQ(s, 1);
  EXPECT_DOUBLE_EQ(l, 0.5);
  RGBToHSL(0, 255, 0, &h, &s, &l);
  EXPECT_NEAR(h, 1.0 / 3, 1e-12);
  RGBToHSL(0, 0, 255, &h, &s, &l);
  EXPECT_NEAR(h, 2.0 / 3, 1e-12);
  RGBToHSL(255, 0, 128, &h, &s, &l);  // between blue and red: near the top of the circle
  EXPECT_GT(h, 0.9);
  EXPECT_LT(h, 1.0);
  RGBToHSL(200, 180, 40, &h, &s, &l);
  EXPECT_LT(l, 0.5);
  EXPECT_NEAR(s, 160.0 / 240.0, 1e-12);
  RGBToHSL(250, 230, 120, &h, &s, &l);
  EXPECT_GT(l, 0.5);
  EXPECT_NEAR(s, (130 / 255.0) / (2 - 370 / 255.0), 1e-12);
}
