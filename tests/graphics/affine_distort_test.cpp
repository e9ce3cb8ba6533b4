// The affine renderer and the distortion engine: exact cases (identity,
// quarter turns against ImageMagick), random matrices against the
// per-pixel sampling rule, and the distortion set-up's geometry and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "graphics/affine.h"
#include "graphics/distort.h"
#include "graphics/pixel_kernels.h"
#include "tests/graphics/imagemagick_util.h"
#include "tests/graphics/kernel_test_util.h"
#include "vm/error_codes.h"

using namespace vltest;

namespace {

struct Planes {
  std::vector<uint8_t> mask, alpha;
  int mrow = 0, arow = 0;
  Planes(int w, int h) : mask(((w + 15) / 16 * 2) * h), alpha(((w + 3) & ~3) * h), mrow((w + 15) / 16 * 2), arow((w + 3) & ~3) {}
  int bit(int x, int y) const { return (mask[y * mrow + x / 8] >> (7 - x % 8)) & 1; }
};

vlAffineJob Job(Buffer& s, Buffer& d, Planes* sp, Planes& dp, const double m[6], int smooth) {
  vlAffineJob j;
  j.source = s.data();
  j.sourceRow = s.row;
  j.sourceWidth = s.w;
  j.sourceHeight = s.h;
  j.target = d.data();
  j.targetRow = d.row;
  j.targetWidth = d.w;
  j.targetHeight = d.h;
  j.bytesPerPixel = s.bpp;
  j.format = s.format;
  if (sp && !sp->mask.empty()) {
    j.sourceMask = sp->mask.data();
    j.sourceMaskRowBytes = sp->mrow;
  }
  j.targetMask = dp.mask.data();
  j.targetMaskRowBytes = dp.mrow;
  j.targetAlpha = dp.alpha.data();
  j.targetAlphaRowBytes = dp.arow;
  j.smooth = smooth;
  j.sx = m[0];
  j.rx = m[1];
  j.ry = m[2];
  j.sy = m[3];
  j.tx = m[4];
  j.ty = m[5];
  return j;
}

std::vector<uint8_t> RGBBytes(Buffer& b) {
  std::vector<uint8_t> out;
  for (int y = 0; y < b.h; ++y)
    for (int x = 0; x < b.w; ++x)
      for (int s : {16, 8, 0}) out.push_back(static_cast<uint8_t>(b.color(x, y) >> s));
  return out;
}

}  // namespace

TEST(Affine, IdentityReproducesAndSetsEveryMaskBit) {
  std::mt19937 rng(41);
  const double id[6] = {1, 0, 0, 1, 0, 0};
  for (int32_t f : {10, 12, 4, 1, 8})
    for (int smooth : {0, 1}) {
      Buffer s(f, 13, 7), d(f, 13, 7);
      s.randomize(rng);
      Planes dp(13, 7);
      vlAffineJob j = Job(s, d, nullptr, dp, id, smooth);
      AffineRenderPix(j);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
          ASSERT_EQ(d.color(x, y), s.color(x, y)) << f << " " << smooth;
          ASSERT_EQ(dp.bit(x, y), 1);
        }
    }
}

TEST(Affine, QuarterTurnMatchesImageMagick) {
  const std::string convert = FindConvert();
  std::mt19937 rng(42);
  for (int32_t f : {10, 4}) {
    const int w = 11, h = 6;
    Buffer s(f, w, h), d(f, h, w);
    s.randomize(rng);
    Planes dp(h, w);
    const double m[6] = {0, 1, -1, 0, static_cast<double>(h), 0};  // (x, y) -> (h - y, x): clockwise
    vlAffineJob j = Job(s, d, nullptr, dp, m, 0);
    AffineRenderPix(j);
    for (int y = 0; y < w; ++y)
      for (int x = 0; x < h; ++x) {
        ASSERT_EQ(d.raw(x, y), s.raw(y, h - 1 - x)) << x << "," << y;  // every pixel once
        ASSERT_EQ(dp.bit(x, y), 1);
      }
    if (!convert.empty()) {
      EXPECT_EQ(ImageMagickAE(convert, RGBBytes(s), w, h, "-rotate 90", RGBBytes(d), h, w), 0);
    }
  }
}

TEST(Affine, RandomMatricesSampleByTheRule) {
  std::mt19937 rng(43);
  std::uniform_real_distribution<double> u(-2, 2);
  for (int iter = 0; iter < 200; ++iter) {
    const int32_t f = iter % 3 == 0 ? 4 : iter % 3 == 1 ? 10 : 13;
    const int w = 1 + rng() % 20, h = 1 + rng() % 20, tw = 1 + rng() % 30, th = 1 + rng() % 30;
    Buffer s(f, w, h), d(f, tw, th);
    s.randomize(rng);
    Planes sp(w, h), dp(tw, th);
    for (auto& m : sp.mask) m = static_cast<uint8_t>(rng() % 4 ? 0xFF : rng());
    const bool useMask = iter % 4 == 0;
    const int smooth = iter % 2;
    double m[6] = {u(rng), u(rng), u(rng), u(rng), u(rng) * 10 + tw / 2.0, u(rng) * 10 + th / 2.0};
    const Buffer before = d;
    AffineRenderPix(Job(s, d, useMask ? &sp : nullptr, dp, m, smooth));
    const double det = m[0] * m[3] - m[2] * m[1];
    const double isx = m[3] / det, irx = -m[1] / det, iry = -m[2] / det, isy = m[0] / det;
    const double itx = -m[4] * isx - m[5] * iry, ity = -m[4] * irx - m[5] * isy;
    for (int y = 0; y < th; ++y)
      for (int x = 0; x < tw; ++x) {
        const double X = isx * (x + 0.5) + iry * (y + 0.5) + itx, Y = irx * (x + 0.5) + isy * (y + 0.5) + ity;
        const bool drawn = d.raw(x, y) != before.raw(x, y) || dp.bit(x, y);
        if (!drawn) continue;
        // Spans are found for pixel centres: the centre's source point lies
        // inside, give or take one step of the inverse.
        const double Xc = X, Yc = Y;
        const double tol = std::fabs(isx) + std::fabs(iry) + std::fabs(irx) + std::fabs(isy) + 1;
        ASSERT_TRUE(Xc > -tol && Xc < w + tol && Yc > -tol && Yc < h + tol) << iter << " " << Xc << "," << Yc;
        const int nx = std::clamp(static_cast<int>(X), 0, w - 1), ny = std::clamp(static_cast<int>(Y), 0, h - 1);
        if (!smooth) {
          ASSERT_EQ(d.raw(x, y), s.raw(nx, ny)) << iter;
          ASSERT_EQ(dp.bit(x, y), useMask ? sp.bit(nx, ny) : 1);
          continue;
        }
        const int x0 = static_cast<int>(std::floor(X - 0.5)), y0 = static_cast<int>(std::floor(Y - 0.5));
        const double fx = X - 0.5 - std::floor(X - 0.5), fy = Y - 0.5 - std::floor(Y - 0.5);
        uint32_t c[4];
        int set[4], last = -1;
        for (int k = 0; k < 4; ++k) {
          const int px = std::clamp(x0 + (k & 1), 0, w - 1), py = std::clamp(y0 + (k >> 1), 0, h - 1);
          c[k] = s.color(px, py);
          set[k] = useMask ? sp.bit(px, py) : 1;
          if (set[k]) last = k;
        }
        if (last < 0) {
          ASSERT_EQ(dp.bit(x, y), 0);
          continue;
        }
        for (int k = 0; k < 4; ++k)
          if (!set[k]) c[k] = c[last];
        int out[3];
        for (int ch = 0; ch < 3; ++ch) {
          const int sh = 16 - 8 * ch;
          auto v = [&](int k) { return static_cast<double>((c[k] >> sh) & 0xFF); };
          out[ch] = static_cast<int>(((1 - fx) * v(0) + fx * v(1)) * (1 - fy) + ((1 - fx) * v(2) + fx * v(3)) * fy + 0.5);
        }
        ASSERT_EQ(d.raw(x, y), ColorToPixel(RGBc(out[0], out[1], out[2]), f, 0)) << iter;
        ASSERT_EQ(dp.bit(x, y), useMask ? sp.bit(nx, ny) : 1);
      }
  }
}

TEST(Affine, AlphaPlanesAndDegenerateMatrices) {
  Buffer s(10, 4, 4), d(10, 8, 8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) s.setColor(x, y, 0x102030 * (x + 1));
  Planes sp(4, 4), dp(8, 8);
  for (int i = 0; i < static_cast<int>(sp.alpha.size()); ++i) sp.alpha[i] = static_cast<uint8_t>(i * 16);
  const double scale2[6] = {2, 0, 0, 2, 0, 0};
  vlAffineJob j = Job(s, d, nullptr, dp, scale2, 0);
  j.sourceAlpha = sp.alpha.data();
  j.sourceAlphaRowBytes = sp.arow;
  AffineRenderPix(j);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      ASSERT_EQ(d.color(x, y), s.color(x / 2, y / 2));
      ASSERT_EQ(dp.alpha[y * dp.arow + x], sp.alpha[(y / 2) * sp.arow + x / 2]);
      ASSERT_EQ(dp.bit(x, y), 0);  // with an alpha plane the mask is left alone
    }
  const Buffer before = d;
  const double singular[6] = {1, 2, 2, 4, 0, 0}, huge[6] = {1e300, 0, 0, 1e300, -1e308, 1e308};
  AffineRenderPix(Job(s, d, nullptr, dp, singular, 1));
  AffineRenderPix(Job(s, d, nullptr, dp, huge, 1));
  const double nanM[6] = {std::nan(""), 0, 0, 1, 0, 0};
  AffineRenderPix(Job(s, d, nullptr, dp, nanM, 0));
  EXPECT_EQ(d.bytes, before.bytes);
  Buffer tiny(10, 1, 1), out(10, 1, 1);
  tiny.setColor(0, 0, 0xABCDEF);
  Planes p1(1, 1);
  // Shrunk to a hundredth the picture covers no target pixel centre.
  const double shrink[6] = {0.01, 0, 0, 0.01, 0, 0};
  AffineRenderPix(Job(tiny, out, nullptr, p1, shrink, 1));
  EXPECT_EQ(out.color(0, 0), 0u);
  EXPECT_EQ(p1.bit(0, 0), 0);
  const double grow[6] = {100, 0, 0, 100, -50, -50};  // the middle of the pixel fills the target
  AffineRenderPix(Job(tiny, out, nullptr, p1, grow, 1));
  EXPECT_EQ(out.color(0, 0), 0xABCDEFu);
}

TEST(Distort, SetupErrorsAndGeometry) {
  vlDistortSetup s;
  s.width = 40;
  s.height = 20;
  const double a[11] = {0, 0, 0, 1, 5, 5, 0, 0, 0, 0, 0};
  for (int n : {3, 5, 7, 9, 0, 11}) {
    s.method = VL_DISTORT_BARREL;
    s.count = n;
    s.args = a;
    EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE) << n;
    EXPECT_EQ(s.error, ERR_WRONGUSAGE);
  }
  s.method = VL_DISTORT_POLAR;
  s.count = 3;
  EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE);
  const double zero[1] = {0};
  s.method = VL_DISTORT_ARC;
  s.args = zero;
  s.count = 1;
  EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE);
  const double neg[1] = {-30};
  s.args = neg;
  EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE);
  s.method = 7;
  s.count = 0;
  EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE);
  const double singular[16] = {0, 0, 5, 5, 40, 0, 5, 5, 40, 20, 5, 5, 0, 20, 5, 5};
  s.method = VL_DISTORT_PERSPECTIVE;
  s.args = singular;
  s.count = 16;
  EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE);
  const double nanArgs[4] = {std::nan(""), 0, 0, 1};
  s.method = VL_DISTORT_BARREL;
  s.args = nanArgs;
  s.count = 4;
  EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE);
  // A polar map of a huge radius would need a giant picture.
  const double hugeR[2] = {1e7, 0};
  s.method = VL_DISTORT_POLAR;
  s.args = hugeR;
  s.count = 2;
  EXPECT_EQ(DistortSetup(s), ERR_WRONGUSAGE);

  // Polar radii: 0 is the nearest edge, -1 the farthest corner.
  const double p0[4] = {0, 0, 10, 5};
  s.args = p0;
  s.count = 4;
  ASSERT_EQ(DistortSetup(s), 0);
  EXPECT_DOUBLE_EQ(s.coeffs[0], 5.0);
  EXPECT_DOUBLE_EQ(s.coeffs[5] - s.coeffs[4], 2 * 3.141592653589793);  // same angles: a full circle
  const double p1[4] = {-1, 0, 10, 5};
  s.args = p1;
  ASSERT_EQ(DistortSetup(s), 0);
  EXPECT_DOUBLE_EQ(s.coeffs[0], std::sqrt(30.0 * 30 + 15 * 15));
  EXPECT_EQ(s.outWidth, static_cast<int>(std::ceil(10 + s.coeffs[0] - std::floor(10 - s.coeffs[0] - 0.5) + 0.5)));
}

namespace {

struct Rendered {
  Buffer out;
  Planes planes;
};

Rendered RenderDistort(Buffer& src, int method, std::vector<double> args, int resample, Planes* sp = nullptr) {
  vlDistortSetup s;
  s.method = method;
  s.args = args.data();
  s.count = static_cast<int>(args.size());
  s.width = src.w;
  s.height = src.h;
  EXPECT_EQ(DistortSetup(s), 0);
  Rendered r{Buffer(src.format, s.outWidth, s.outHeight), Planes(s.outWidth, s.outHeight)};
  std::mt19937 fill(1);
  r.out.randomize(fill);  // the render must write every pixel
  vlDistortRender j;
  j.method = method;
  j.coeffs = &s.coeffs;
  j.width = src.w;
  j.height = src.h;
  j.outWidth = s.outWidth;
  j.outHeight = s.outHeight;
  j.x0 = s.x0;
  j.y0 = s.y0;
  j.resample = resample;
  j.source = src.data();
  j.sourceRow = src.row;
  j.bytesPerPixel = src.bpp;
  j.format = src.format;
  j.target = r.out.data();
  j.targetRow = r.out.row;
  if (sp) {
    j.sourceMask = sp->mask.data();
    j.sourceMaskRowBytes = sp->mrow;
  }
  j.targetMask = r.planes.mask.data();
  j.targetMaskRowBytes = r.planes.mrow;
  j.targetAlpha = r.planes.alpha.data();
  j.targetAlphaRowBytes = r.planes.arow;
  EXPECT_EQ(DistortRender(j), 0);
  return r;
}

}  // namespace

TEST(Distort, BarrelAndPerspectiveIdentitiesReproduce) {
  std::mt19937 rng(44);
  for (int32_t f : {10, 4, 9})
    for (int resample : {0, 1}) {
      Buffer s(f, 21, 13);
      s.randomize(rng);
      Rendered r = RenderDistort(s, VL_DISTORT_BARREL, {0, 0, 0, 1}, resample);
      ASSERT_EQ(r.out.w, 21);
      for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 21; ++x) {
          ASSERT_EQ(r.out.color(x, y), s.color(x, y)) << f << " " << resample << " " << x << "," << y;
          ASSERT_EQ(r.planes.alpha[y * r.planes.arow + x], 255);
          ASSERT_EQ(r.planes.bit(x, y), 1);
        }
      // Corners onto themselves, and moved by whole pixels: the picture
      // inside a one-pixel border that is clear on all four sides.
      const double w = 21, h = 13;
      for (const auto& [tx, ty] : std::vector<std::pair<double, double>>{{0, 0}, {3, -2}, {-7, 5}, {40, 17}}) {
        Rendered p = RenderDistort(
            s, VL_DISTORT_PERSPECTIVE,
            {0, 0, tx, ty, w, 0, w + tx, ty, w, h, w + tx, h + ty, 0, h, tx, h + ty}, resample);
        ASSERT_EQ(p.out.w, 23);
        ASSERT_EQ(p.out.h, 15);
        int wrong = 0, border = 0;
        for (int y = 0; y < 15; ++y)
          for (int x = 0; x < 23; ++x) {
            const bool inside = x >= 1 && y >= 1 && x <= 21 && y <= 13;
            if (!inside)
              border += p.planes.bit(x, y) || p.planes.alpha[y * p.planes.arow + x] || p.out.color(x, y);
            else
              wrong += p.out.color(x, y) != s.color(x - 1, y - 1);
          }
        EXPECT_EQ(wrong, 0) << f << " " << resample << " " << tx << "," << ty;
        EXPECT_EQ(border, 0) << f << " " << resample << " " << tx << "," << ty;
      }
    }
}

TEST(Distort, ArcCoversItsAnnulusAndMasksFollowTheSource) {
  std::mt19937 rng(45);
  Buffer s(10, 60, 20);
  s.randomize(rng);
  Planes sp(60, 20);
  for (auto& m : sp.mask) m = 0xFF;
  for (int resample : {0, 1}) {
    Rendered r = RenderDistort(s, VL_DISTORT_ARC, {}, resample, &sp);
    // No numbers: 90 degrees centred at the top, outer radius w / (pi / 2) + (h - 1) / 2.
    const double R = 60 / (3.141592653589793 / 2) + 19 / 2.0, r0 = R - 19;
    const double area = 3.141592653589793 / 4 * (R * R - r0 * r0);
    long covered = 0;
    for (int y = 0; y < r.out.h; ++y)
      for (int x = 0; x < r.out.w; ++x) covered += r.planes.bit(x, y);
    EXPECT_NEAR(covered, area, area * 0.1) << resample;
    EXPECT_GT(r.out.w, r.out.h);  // a bow lying on its back
  }
  // A clear source mask leaves no target bit.
  for (auto& m : sp.mask) m = 0;
  Rendered none = RenderDistort(s, VL_DISTORT_ARC, {120, 10}, 0, &sp);
  for (int y = 0; y < none.out.h; ++y)
    for (int x = 0; x < none.out.w; ++x) ASSERT_EQ(none.planes.bit(x, y), 0);
  Rendered ewa = RenderDistort(s, VL_DISTORT_POLAR, {0}, 1, &sp);
  for (int y = 0; y < ewa.out.h; ++y)
    for (int x = 0; x < ewa.out.w; ++x) ASSERT_EQ(ewa.planes.alpha[y * ewa.planes.arow + x], 0);
}

TEST(Distort, StrongBarrelAveragesWithoutLeavingThePicture) {
  std::mt19937 rng(46);
  for (int32_t f : {10, 4}) {
    Buffer s(f, 32, 24);
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 32; ++x) s.setColor(x, y, 0x406080);
    Rendered r = RenderDistort(s, VL_DISTORT_BARREL, {0.2, 0.0, 0.0, 0.3}, 1);
    // A uniform source gives the same colour wherever anything maps.
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 32; ++x)
        if (r.planes.alpha[y * r.planes.arow + x]) {
          ASSERT_EQ(r.out.color(x, y), s.color(0, 0)) << x << "," << y;
        }
    EXPECT_EQ(r.planes.alpha[12 * r.planes.arow + 16], 255);
  }
}
