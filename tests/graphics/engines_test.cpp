// The picture engines over real bitmaps and planes: argument rules,
// plane choices, error codes, and ImageMagick as the counterpart of
// nearest scaling and quarter turns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "abi/plugin_abi.h"
#include "graphics/adapter_bitmap.h"
#include "graphics/bitmap.h"
#include "graphics/effect_engines.h"
#include "graphics/picture_engines.h"
#include "graphics/pixel_format.h"
#include "graphics/quantize.h"
#include "platform/display_adapter.h"
#include "platform/offscreen_bitmap.h"
#include "runtime/tag_list.h"
#include "tests/graphics/graphics_test_util.h"
#include "tests/graphics/imagemagick_util.h"
#include "vm/error_codes.h"

using vltest::Access;
using vltest::NewPicture;

namespace {

// A picture of random pixels in a format, deleted at the end of the scope.
struct Pic {
  vlBitmap* b;
  int w, h;
  Pic(int32_t format, int width, int height, uint32_t seed = 1) : b(NewPicture(format, width, height)), w(width), h(height) {
    std::mt19937 rng(seed);
    vlPixelAccess a = Access(b);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * a.bytesPerPixel; ++x) a.pixels[(y * a.rowLength) * a.bytesPerPixel + x] = static_cast<uint8_t>(rng());
  }
  ~Pic() { DeleteBitmap(b); }
  uint32_t color(int x, int y) {
    vlPixelAccess a = Access(b);
    return ReadRawPixelColor(&a, x, y);
  }
  std::vector<uint32_t> colors() {
    std::vector<uint32_t> out;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) out.push_back(color(x, y));
    return out;
  }
  std::vector<uint8_t> raw() {
    vlPixelAccess a = Access(b);
    return std::vector<uint8_t>(a.pixels, a.pixels + static_cast<size_t>(a.rowLength) * h * a.bytesPerPixel);
  }
};

std::vector<uint8_t> PlaneBytes(vlBitmap* p) {
  vlPixelAccess a;
  LockPixels(p, 0, &a);
  std::vector<uint8_t> out(a.pixels, a.pixels + static_cast<size_t>(a.rowLength) * a.height);
  UnlockPixels(p, &a);
  return out;
}

int MaskBit(vlBitmap* m, int x, int y) { return static_cast<int>(ReadBitmapPixel(m, x, y, 1)); }

// New objects of the engines take the display format; the tests set it.
struct Format {
  explicit Format(int32_t f) { SetGlobalPixelFormat(f); }
  ~Format() { SetGlobalPixelFormat(-1); }
};

}  // namespace

TEST(EffectEngines, ThreeBytePicturesStayAsTheyAre) {
  for (int32_t f : {8, 9}) {
    Pic p(f, 9, 7);
    const auto before = p.raw();
    EXPECT_EQ(OilPaintBitmap(p.b, 9, 7, 1), 0);
    EXPECT_EQ(WaterRippleBitmap(p.b, nullptr, nullptr, 9, 7, 3, 2, 0, 0.5, 0.5), 0);
    EXPECT_EQ(SwirlBitmap(p.b, nullptr, nullptr, 9, 7, 90), 0);
    EXPECT_EQ(NormalizeBitmap(p.b, 9, 7, nullptr), 0);
    EXPECT_EQ(ModulateBitmap(p.b, 9, 7, 1.5, 0.5, 1.2), 0);
    EXPECT_EQ(ContrastBitmap(p.b, 9, 7, 1, 3, nullptr), 0);
    EXPECT_EQ(SepiaToneBitmap(p.b, 9, 7, 80), 0);
    EXPECT_EQ(GammaBitmap(p.b, 9, 7, 2, 0.5, 1.5), 0);
    EXPECT_EQ(SolarizeBitmap(p.b, 9, 7, 100), 0);
    for (uint32_t op : {'b', 's', 'g', 'e'}) EXPECT_EQ(ConvolveBitmap(op, p.b, nullptr, 9, 7, 0, 1, nullptr), 0);
    EXPECT_EQ(PixelateBitmap(p.b, nullptr, nullptr, 9, 7, 3), 0);
    EXPECT_EQ(InvertBitmapColors(p.b, 9, 7, nullptr), 0);
    EXPECT_EQ(FlipBitmap(p.b, nullptr, nullptr, 9, 7, 1), 0);
    EXPECT_EQ(GrayBitmap(p.b, 9, 7, 0, nullptr), 0);
    EXPECT_EQ(MonochromeBitmap(p.b, 9, 7, 1), 0);
    EXPECT_EQ(CharcoalBitmap(p.b, nullptr, 9, 7, 1, 1), 0);
    EXPECT_EQ(p.raw(), before) << f;
    vlBitmap* mask = MaskFromColorKey(p.b, 9, 7, 0x000000);
    ASSERT_NE(mask, nullptr);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x) EXPECT_EQ(MaskBit(mask, x, y), 0);
    DeleteMaskPlane(mask);
    // The quantizer handles them.
    EXPECT_EQ(QuantizeBitmap(p.b, 9, 7, 4, 0), 0);
    EXPECT_NE(p.raw(), before);
  }
}

TEST(EffectEngines, ArgumentRules) {
  Pic p(10, 16, 12, 2);
  const auto before = p.raw();
  EXPECT_EQ(GammaBitmap(p.b, 16, 12, 1.0, 1.0, 1.0), 0);
  EXPECT_EQ(ModulateBitmap(p.b, 16, 12, 1.0, 1.0, 1.0), 0);
  EXPECT_EQ(PixelateBitmap(p.b, nullptr, nullptr, 16, 12, 1), 0);
  EXPECT_EQ(ContrastBitmap(p.b, 16, 12, 1, 0, nullptr), 0);
  EXPECT_EQ(p.raw(), before);
  // Swirl angles beyond a turn act as 359 degrees.
  Pic a(10, 16, 12, 3), b(10, 16, 12, 3);
  SwirlBitmap(a.b, nullptr, nullptr, 16, 12, 720);
  SwirlBitmap(b.b, nullptr, nullptr, 16, 12, 359);
  EXPECT_EQ(a.colors(), b.colors());
  Pic c(10, 16, 12, 3), d(10, 16, 12, 3);
  SwirlBitmap(c.b, nullptr, nullptr, 16, 12, -720);
  SwirlBitmap(d.b, nullptr, nullptr, 16, 12, -359);
  EXPECT_EQ(c.colors(), d.colors());
  // Ripple: wave length 0 is 1; a centre outside 0..1 sits on the edge.
  Pic r1(4, 20, 10, 4), r2(4, 20, 10, 4);
  WaterRippleBitmap(r1.b, nullptr, nullptr, 20, 10, 0, 3, 1, 1.7, -2);
  WaterRippleBitmap(r2.b, nullptr, nullptr, 20, 10, 1, 3, 1, 1.0, 0);
  EXPECT_EQ(r1.colors(), r2.colors());
  // Radius 0 blurs with sigma 1 whatever sigma is given.
  Pic s1(10, 12, 9, 5), s2(10, 12, 9, 5);
  ConvolveBitmap('b', s1.b, nullptr, 12, 9, 0, 7.5, nullptr);
  ConvolveBitmap('b', s2.b, nullptr, 12, 9, -3, 1.0, nullptr);
  EXPECT_EQ(s1.colors(), s2.colors());
  // Pixelate: a block larger than the picture is cut to its smaller side.
  Pic q1(10, 7, 5, 6), q2(10, 7, 5, 6);
  PixelateBitmap(q1.b, nullptr, nullptr, 7, 5, 100);
  PixelateBitmap(q2.b, nullptr, nullptr, 7, 5, 5);
  EXPECT_EQ(q1.colors(), q2.colors());
  EXPECT_EQ(q1.color(4, 4), q1.color(0, 0));
  EXPECT_EQ(ConvolveBitmap('b', nullptr, nullptr, 5, 5, 1, 1, nullptr), 0);
  vlBitmap bad;
  bad.kind = 7;
  EXPECT_EQ(OilPaintBitmap(&bad, 4, 4, 1), ERR_LOCKBMAP);
  EXPECT_EQ(GrayBitmap(nullptr, 4, 4, 0, nullptr), ERR_LOCKBMAP);
}

TEST(EffectEngines, CompoundEffectsAndPlanes) {
  Pic p(11, 20, 14, 7);
  EXPECT_EQ(CharcoalBitmap(p.b, nullptr, 20, 14, 1, 0.5), 0);
  for (uint32_t c : p.colors()) ASSERT_TRUE(((c >> 16) & 0xFF) == ((c >> 8) & 0xFF) && (c & 0xFF) == ((c >> 8) & 0xFF));
  Pic m(4, 20, 14, 8);
  EXPECT_EQ(MonochromeBitmap(m.b, 20, 14, 1), 0);
  const std::vector<uint32_t> mono = m.colors();
  const std::set<uint32_t> seen(mono.begin(), mono.end());
  for (uint32_t c : seen) EXPECT_TRUE(c == 0 || c == 0xF8FCF8) << c;
  EXPECT_EQ(seen.size(), 2u);
  // Flipping twice gives the picture back, planes included.
  Pic f(13, 13, 6, 9);
  vlBitmap* mask = NewMaskPlane(f.b, 13, 6, 1, nullptr, 0);
  vlBitmap* alpha = NewAlphaPlane(13, 6, 1, nullptr, 0);
  WriteBitmapPixel(mask, 0, 0, 0, 1);
  FillAlphaRect(alpha, 0, 0, 3, 1, 200);
  const auto pix = f.raw(), mb = PlaneBytes(mask), ab = PlaneBytes(alpha);
  EXPECT_EQ(FlipBitmap(f.b, mask, alpha, 13, 6, 1), 0);
  EXPECT_EQ(MaskBit(mask, 12, 0), 1);
  EXPECT_EQ(MaskBit(mask, 0, 0), 0);
  EXPECT_EQ(PlaneBytes(alpha)[12], 200);
  EXPECT_EQ(FlipBitmap(f.b, mask, alpha, 13, 6, 1), 0);
  EXPECT_EQ(FlipBitmap(f.b, mask, alpha, 13, 6, 0), 0);
  EXPECT_EQ(FlipBitmap(f.b, mask, alpha, 13, 6, 0), 0);
  EXPECT_EQ(f.raw(), pix);
  EXPECT_EQ(PlaneBytes(mask), mb);
  EXPECT_EQ(PlaneBytes(alpha), ab);
  DeleteMaskPlane(mask);
  DeleteAlphaPlane(alpha);
  // Mix at ratio 255 gives the source; tint cut at the edges.
  Pic t(10, 8, 8, 10), s(10, 8, 8, 11);
  EXPECT_EQ(MixBitmaps(t.b, s.b, nullptr, 2, 2, 0, 0, 6, 6, 255, nullptr, 0, 0), 0);
  EXPECT_EQ(t.color(2, 2), s.color(0, 0));
  EXPECT_EQ(t.color(7, 7), s.color(5, 5));
  EXPECT_EQ(TintBitmap(t.b, -4, -4, 100, 100, 0xFF0000, 255), 0);
  EXPECT_EQ(t.color(7, 7), 0xFF0000u);
  // A shadow grows by the radius and is blurred.
  vlBitmap* shadow = MakeShadowAlpha(nullptr, nullptr, 0, 0, 10, 6, 3, 1.5, 255, 0, 0);
  ASSERT_NE(shadow, nullptr);
  EXPECT_EQ(QueryBitmap(shadow, 0), 16);
  EXPECT_EQ(QueryBitmap(shadow, 14), 12);
  const std::vector<uint8_t> sb = PlaneBytes(shadow);
  EXPECT_GT(sb[6 * 16 + 8], 200);
  const int edge = sb[6 * 16 + 2];
  EXPECT_GT(edge, 0);
  EXPECT_LT(edge, 255);
  DeleteAlphaPlane(shadow);
  vlBitmap* hard = MakeShadowAlpha(nullptr, nullptr, 0, 0, 10, 6, 3, 1.5, 40, 1, 0);
  const std::vector<uint8_t> hb = PlaneBytes(hard);
  EXPECT_EQ(hb[6 * 16 + 2], 255);
  EXPECT_EQ(hb[0], 0);
  DeleteAlphaPlane(hard);
}

TEST(PictureEngines, ScalingMatchesImageMagickSample) {
  const std::string convert = vltest::FindConvert();
  if (convert.empty()) GTEST_SKIP() << "ImageMagick missing";
  for (int32_t f : {10, 4}) {
    Pic p(f, 13, 7, 12);
    Format fmt(f);
    vlBitmap *out = nullptr, *m = nullptr, *a = nullptr;
    ASSERT_EQ(ScaleBitmap(p.b, nullptr, nullptr, 0, 0, nullptr, 13, 7, 26, 14, 0, 0, &out, &m, &a), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(m, nullptr);
    std::vector<uint8_t> in, got;
    for (uint32_t c : p.colors())
      for (int s : {16, 8, 0}) in.push_back(static_cast<uint8_t>(c >> s));
    vlPixelAccess acc = Access(out);
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 26; ++x)
        for (int s : {16, 8, 0}) got.push_back(static_cast<uint8_t>(ReadRawPixelColor(&acc, x, y) >> s));
    EXPECT_EQ(vltest::ImageMagickAE(convert, in, 13, 7, "-sample 200%", got, 26, 14), 0);
    DeleteBitmap(out);
  }
  FreeScaleTables();
}

TEST(PictureEngines, ScaleCopyAndReadRules) {
  Pic p(10, 10, 6, 13);
  Format fmt(10);
  vlBitmap* mask = NewMaskPlane(p.b, 10, 6, 1, nullptr, 0);
  FillMaskRect(mask, 2, 1, 3, 2, 0);
  vlBitmap *out = reinterpret_cast<vlBitmap*>(1), *m = nullptr, *a = nullptr;
  EXPECT_EQ(ScaleBitmap(p.b, mask, nullptr, 0, 0, nullptr, 10, 6, 0, 5, 1, 0, &out, &m, &a), 0);
  EXPECT_EQ(out, reinterpret_cast<vlBitmap*>(1));  // nothing made
  // Smooth scaling with a mask scales the mask by nearest samples.
  ASSERT_EQ(ScaleBitmap(p.b, mask, nullptr, 1, 1, nullptr, 8, 4, 16, 8, 1, 0, &out, &m, &a), 0);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(MaskBit(m, 3, 0), 1);  // column steps 0, 0, 0, 1: source (2, 1)
  EXPECT_EQ(MaskBit(m, 0, 0), 0);  // source (1, 1)
  DeleteBitmap(out);
  DeleteMaskPlane(m);
  // A copy of a rectangle with its mask; without a source bitmap planes only.
  vlBitmap *cb = nullptr, *cm = nullptr, *ca = nullptr;
  ASSERT_EQ(CopyBitmapRegion(p.b, mask, nullptr, 2, 1, 5, 3, 0, 0, 0, &cb, &cm, &ca), 0);
  ASSERT_NE(cb, nullptr);
  EXPECT_EQ(ReadBitmapPixel(cb, 0, 0, 0), p.color(2, 1));
  EXPECT_EQ(MaskBit(cm, 0, 0), 1);
  EXPECT_EQ(MaskBit(cm, 3, 0), 0);
  DeleteBitmap(cb);
  DeleteMaskPlane(cm);
  cb = nullptr;
  ASSERT_EQ(CopyBitmapRegion(nullptr, mask, nullptr, 2, 1, 5, 3, 0, 0, 0, &cb, &cm, &ca), 0);
  EXPECT_EQ(cb, nullptr);
  ASSERT_NE(cm, nullptr);
  DeleteMaskPlane(cm);
  DeleteMaskPlane(mask);
  // ARGB read-out keeps alpha bytes, moved to the top.
  Pic r(12, 3, 2, 14);
  uint32_t* buf = nullptr;
  uintptr_t extra = 7;
  ASSERT_EQ(ReadBitmapRectARGB(r.b, 1, 0, 2, 2, &extra, &buf), 0);
  vlPixelAccess acc = Access(r.b);
  uint32_t raw;
  std::memcpy(&raw, acc.pixels + 4, 4);
  EXPECT_EQ(buf[0], (raw >> 8) | (raw << 24));
  EXPECT_EQ(extra, 0u);
  delete[] buf;
  EXPECT_EQ(ReadBitmapRectARGB(r.b, 2, 0, 2, 2, &extra, &buf), ERR_LOCKBMAP);
  FreeScaleTables();
}

TEST(PictureEngines, TransformsCarryExactlyOnePlane) {
  const std::string convert = vltest::FindConvert();
  Pic p(4, 9, 5, 15);
  Format fmt(4);
  const double quarter[4] = {0, 1, -1, 0};  // x' = -y, y' = x
  vlBitmap *out = nullptr, *m = nullptr, *a = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_EQ(TransformBitmap(p.b, nullptr, nullptr, 0, 0, 9, 5, quarter, 0, 0, &out, &m, &a, &w, &h), 0);
  EXPECT_EQ(w, 5);
  EXPECT_EQ(h, 9);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(a, nullptr);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) EXPECT_EQ(MaskBit(m, x, y), 1);
  if (!convert.empty()) {
    std::vector<uint8_t> in, got;
    for (uint32_t c : p.colors())
      for (int s : {16, 8, 0}) in.push_back(static_cast<uint8_t>(c >> s));
    vlPixelAccess acc = Access(out);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int s : {16, 8, 0}) got.push_back(static_cast<uint8_t>(ReadRawPixelColor(&acc, x, y) >> s));
    EXPECT_EQ(vltest::ImageMagickAE(convert, in, 9, 5, "-rotate 90", got, 5, 9), 0);
  }
  DeleteBitmap(out);
  DeleteMaskPlane(m);
  // With an alpha plane the result has one too and no mask; a 45-degree
  // turn leaves the corners transparent.
  vlBitmap* alpha = NewAlphaPlane(9, 5, 0, nullptr, 0);
  FillAlphaRect(alpha, 0, 0, 9, 5, 255);
  const double c = std::sqrt(0.5), turn[4] = {c, c, -c, c};
  ASSERT_EQ(TransformBitmap(p.b, nullptr, alpha, 0, 0, 9, 5, turn, 1, 0, &out, &m, &a, &w, &h), 0);
  EXPECT_EQ(m, nullptr);
  ASSERT_NE(a, nullptr);
  const std::vector<uint8_t> ab2 = PlaneBytes(a);
  const int arow = (w + 3) & ~3;
  EXPECT_EQ(ab2[0], 0);
  EXPECT_EQ(ab2[(h / 2) * arow + w / 2], 255);
  DeleteBitmap(out);
  DeleteAlphaPlane(a);
  // Without a source picture the planes alone turn, as they do with one.
  vlBitmap *none = nullptr, *a2 = nullptr;
  ASSERT_EQ(TransformBitmap(p.b, nullptr, alpha, 0, 0, 9, 5, quarter, 0, 0, &out, &m, &a, &w, &h), 0);
  ASSERT_EQ(TransformBitmap(nullptr, nullptr, alpha, 0, 0, 9, 5, quarter, 0, 0, &none, &m, &a2, &w, &h), 0);
  EXPECT_EQ(none, nullptr);
  ASSERT_NE(a2, nullptr);
  EXPECT_EQ(PlaneBytes(a2), PlaneBytes(a));
  DeleteBitmap(out);
  DeleteAlphaPlane(a);
  DeleteAlphaPlane(a2);
  vlBitmap* shape = NewMaskPlane(nullptr, 9, 5, 1, nullptr, 0);
  FillMaskRect(shape, 2, 1, 4, 3, 0);
  ASSERT_EQ(TransformBitmap(nullptr, shape, nullptr, 0, 0, 9, 5, quarter, 0, 0, &none, &m, &a, &w, &h), 0);
  ASSERT_NE(m, nullptr);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(MaskBit(m, x, y), MaskBit(shape, y, 4 - x)) << x << "," << y;
  DeleteMaskPlane(m);
  DeleteMaskPlane(shape);
  DeleteAlphaPlane(alpha);
  // A matrix that collapses the picture still yields 1 x 1.
  const double flat[4] = {0, 0, 0, 0};
  ASSERT_EQ(TransformBitmap(p.b, nullptr, nullptr, 0, 0, 9, 5, flat, 0, 0, &out, &m, &a, &w, &h), 0);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  DeleteBitmap(out);
  DeleteMaskPlane(m);
  const double huge[4] = {1e9, 0, 0, 1e9};
  EXPECT_EQ(TransformBitmap(p.b, nullptr, nullptr, 0, 0, 9, 5, huge, 0, 0, &out, &m, &a, &w, &h), ERR_BITMAP);
}

TEST(PictureEngines, DistortChoosesItsPlane) {
  Pic p(10, 12, 8, 16);
  Format fmt(10);
  const double id[4] = {0, 0, 0, 1};
  vlBitmap *out = nullptr, *m = nullptr, *a = nullptr;
  int32_t w = 0, h = 0;
  ASSERT_EQ(DistortBitmap(p.b, nullptr, nullptr, 12, 8, 12, 4, id, 0, &out, &m, &a, &w, &h), 0);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(w, 12);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x) {
      ASSERT_EQ(ReadBitmapPixel(out, x, y, 0), p.color(x, y));
      ASSERT_EQ(MaskBit(m, x, y), 1);
    }
  DeleteBitmap(out);
  DeleteMaskPlane(m);
  ASSERT_EQ(DistortBitmap(p.b, nullptr, nullptr, 12, 8, 12, 4, id, 1, &out, &m, &a, &w, &h), 0);
  EXPECT_EQ(m, nullptr);
  ASSERT_NE(a, nullptr);
  DeleteBitmap(out);
  DeleteAlphaPlane(a);
  out = nullptr;
  EXPECT_EQ(DistortBitmap(p.b, nullptr, nullptr, 12, 8, 12, 3, id, 0, &out, &m, &a, &w, &h), ERR_WRONGUSAGE);
  EXPECT_EQ(out, nullptr);
  // The colour key ignores alpha bytes.
  vlPixelAccess acc = Access(p.b);
  const uint32_t v = 0xAB123456;
  std::memcpy(acc.pixels, &v, 4);
  vlBitmap* key = MaskFromColorKey(p.b, 12, 8, 0x123456);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(MaskBit(key, 0, 0), 0);
  EXPECT_EQ(MaskBit(key, 1, 0), p.color(1, 0) != 0x123456u);
  DeleteMaskPlane(key);
}

TEST(EffectEngines, WildParametersNeitherCrashNorHang) {
  const double nan = std::nan(""), inf = HUGE_VAL;
  for (int32_t f : {10, 5}) {
    for (auto [w, h] : {std::pair{1, 1}, {17, 3}}) {
      Pic p(f, w, h, 20);
      Format fmt(f);
      for (double v : {nan, inf, -inf, 1e300, -1e300, 0.0}) {
        OilPaintBitmap(p.b, w, h, v);
        WaterRippleBitmap(p.b, nullptr, nullptr, w, h, v, v, v, v, v);
        ModulateBitmap(p.b, w, h, v, v, v);
        GammaBitmap(p.b, w, h, v, v, v);
        for (uint32_t op : {'b', 's', 'g', 'e'}) {
          ConvolveBitmap(op, p.b, nullptr, w, h, v, 1.0, nullptr);
          ConvolveBitmap(op, p.b, nullptr, w, h, 1.0, v, nullptr);
        }
        CharcoalBitmap(p.b, nullptr, w, h, v, v);
        vlBitmap* s = MakeShadowAlpha(nullptr, nullptr, 0, 0, w, h, v, v, 255, 1, 1);
        if (s) DeleteAlphaPlane(s);
        const double m[4] = {v, 0, 0, v};
        vlBitmap *out = nullptr, *mk = nullptr, *al = nullptr;
        int32_t ow = 0, oh = 0;
        if (TransformBitmap(p.b, nullptr, nullptr, 0, 0, w, h, m, 1, 0, &out, &mk, &al, &ow, &oh) == 0) {
          DeleteBitmap(out);
          if (mk) DeleteMaskPlane(mk);
        }
        const double args[4] = {v, v, v, v};
        if (DistortBitmap(p.b, nullptr, nullptr, w, h, 12, 4, args, 1, &out, &mk, &al, &ow, &oh) == 0) {
          DeleteBitmap(out);
          if (mk) DeleteMaskPlane(mk);
          if (al) DeleteAlphaPlane(al);
        }
      }
      // Every method with every count and extreme numbers: an error or a
      // picture, never a crash.
      std::mt19937 rng(21);
      const double extremes[] = {0, -1, 1, 1e-300, 1e300, -1e300, 360, -720, 1e6, 0.5};
      for (int method : {4, 9, 10, 12})
        for (int count = 0; count <= 16; ++count)
          for (int round = 0; round < 3; ++round) {
            double args[16];
            for (double& a : args) a = extremes[rng() % 10];
            vlBitmap *out = nullptr, *mk = nullptr, *al = nullptr;
            int32_t ow = 0, oh = 0;
            if (DistortBitmap(p.b, nullptr, nullptr, w, h, method, count, args, round & 1, &out, &mk, &al, &ow,
                              &oh) == 0) {
              EXPECT_GE(ow, 1);
              DeleteBitmap(out);
              if (mk) DeleteMaskPlane(mk);
              if (al) DeleteAlphaPlane(al);
            }
          }
      for (int32_t v : {INT32_MIN, -1, 0, 256, INT32_MAX}) {
        SwirlBitmap(p.b, nullptr, nullptr, w, h, v);
        SepiaToneBitmap(p.b, w, h, v);
        SolarizeBitmap(p.b, w, h, v);
        PixelateBitmap(p.b, nullptr, nullptr, w, h, v);
        ContrastBitmap(p.b, w, h, v, v > 4 ? 4 : v, nullptr);
        TintBitmap(p.b, v, v, v, v, 0x123456, v);
        MixBitmaps(p.b, p.b, nullptr, 0, 0, 0, 0, w, h, v, nullptr, 0, 0);
        QuantizeBitmap(p.b, w, h, v, v & 1);
      }
    }
  }
  FreeScaleTables();
}

// A display adapter that holds pictures (ARGB words) and records what the
// engines ask of it: the copy, scale and transform requests reach it with
// their words, a refusal falls back to software only where the adapter
// allows it, and without the offer the engines never ask.
namespace adapter_engines {

struct Held {
  int32_t w, h;
  uint32_t pixels[64 * 64];
};
struct Request {
  int32_t w, h;
  uint32_t flags;
  uintptr_t source, word1, word2, word3, display;
  double m0;
};
std::vector<Request> gRequests;
bool gRefuse = false;

void* Alloc(int32_t w, int32_t h, uint32_t flags, const vlTagItem* tags) {
  Request r{w, h, flags, GetTagValue(tags, 1, 0), GetTagValue(tags, 2, 0), GetTagValue(tags, 3, 0),
            GetTagValue(tags, 4, 0), GetTagValue(tags, 6, 0), 0};
  if (uintptr_t m = GetTagValue(tags, 5, 0)) r.m0 = reinterpret_cast<const double*>(m)[0];
  gRequests.push_back(r);
  if (gRefuse || w > 64 || h > 64) return nullptr;
  auto* b = new Held{w, h, {}};
  const uint32_t* from = (flags & 2) ? reinterpret_cast<Held*>(r.source)->pixels
                                     : reinterpret_cast<const uint32_t*>(r.source);
  // Copies and plain pictures take the source's words; the rest is left 0.
  if (from && !r.word1) std::memcpy(b->pixels, from, 4u * static_cast<size_t>(w) * h);
  return b;
}
void Free(void* handle) { delete static_cast<Held*>(handle); }
int Lock(void* handle, uint32_t, vlAdapterLock* a) {
  auto* b = static_cast<Held*>(handle);
  a->pixels = reinterpret_cast<uint8_t*>(b->pixels);
  a->rowLength = a->width = b->w;
  a->height = b->h;
  return 1;
}
void Unlock(void*) {}
// Pixels handed out for reading are a copy, given back through FreePixels.
void* ReadPixels(void* handle, vlVideoPixels* r) {
  auto* b = static_cast<Held*>(handle);
  auto* copy = new uint32_t[static_cast<size_t>(b->w) * b->h];
  std::memcpy(copy, b->pixels, 4u * static_cast<size_t>(b->w) * b->h);
  *r = {copy, 4 * b->w, 10, 0};
  return copy;
}
void FreePixels(void* pixels) { delete[] static_cast<uint32_t*>(pixels); }

struct Installed {
  vlPluginInfo info{};
  explicit Installed(uint32_t offers) {
    info.capabilities = PLUGINCAPS_DISPLAYADAPTER;
    info.displayCaps = offers;  // bit 0 scaling (and falling back), bit 1 transforming
    info.displayFlags = 16;      // video bitmaps
    info.AllocVideoBitMap = Alloc;
    info.FreeVideoBitMap = Free;
    info.LockBitMap = Lock;
    info.UnLockBitMap = Unlock;
    info.ReadVideoPixels = ReadPixels;
    info.FreeVideoPixels = FreePixels;
    vlDisplayAdapter = &info;
    BindAdapterBitmapEntries(&info);
    gRequests.clear();
    gRefuse = false;
  }
  ~Installed() {
    BindAdapterBitmapEntries(nullptr);
    vlDisplayAdapter = nullptr;
  }
};

// A 4 x 2 picture of the adapter's: red left half, blue right half.
vlBitmap* HeldPicture() {
  uint32_t argb[8];
  for (int i = 0; i < 8; ++i) argb[i] = (i % 4) < 2 ? 0xFFFF0000u : 0xFF0000FFu;
  const vlTagItem tags[] = {{1, reinterpret_cast<uintptr_t>(argb)}, {0, 0}};
  return NewVideoBitmap(4, 2, 8, tags);
}

}  // namespace adapter_engines

TEST(PictureEngines, AdapterMakesScaledTransformedAndCopiedPictures) {
  using namespace adapter_engines;
  Installed adapter(1 | 2);
  vlBitmap* src = HeldPicture();
  ASSERT_NE(src, nullptr);
  ASSERT_EQ(gRequests.size(), 1u);
  vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
  // Scaling: the adapter's own picture with its size, the smooth flag and
  // the display word; no planes come back.
  ASSERT_EQ(ScaleBitmap(src, nullptr, nullptr, 0, 0, nullptr, 4, 2, 8, 6, 1, 0x77, &b, &m, &a), 0);
  ASSERT_EQ(gRequests.size(), 2u);
  const Request& s = gRequests[1];
  EXPECT_EQ(s.w, 8);
  EXPECT_EQ(s.h, 6);
  EXPECT_EQ(s.flags & 2, 2u);
  EXPECT_EQ(s.source, reinterpret_cast<uintptr_t>(src->handle));
  EXPECT_EQ(s.word1, 4u);
  EXPECT_EQ(s.word2, 2u);
  EXPECT_EQ(s.word3, 1u);
  EXPECT_EQ(s.display, 0x77u);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(QueryBitmap(b, 18), 1);
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(a, nullptr);
  DeleteBitmap(b);
  // Transforming: the matrix goes along, the result has the bounding size.
  const double quarter[4] = {0, 1, -1, 0};
  int32_t tw = 0, th = 0;
  ASSERT_EQ(TransformBitmap(src, nullptr, nullptr, 0, 0, 4, 2, quarter, 0, 0, &b, &m, &a, &tw, &th), 0);
  ASSERT_EQ(gRequests.size(), 3u);
  EXPECT_EQ(gRequests[2].m0, 0.0);
  EXPECT_EQ(gRequests[2].word1, 4u);
  EXPECT_EQ(tw, 2);
  EXPECT_EQ(th, 4);
  EXPECT_EQ(QueryBitmap(b, 18), 1);
  EXPECT_EQ(m, nullptr);
  DeleteBitmap(b);
  // A copy for another display is read out as ARGB words and made there.
  ASSERT_EQ(CopyBitmapRegion(src, nullptr, nullptr, 0, 0, 4, 2, 1, 0x10, 0x20, &b, &m, &a), 0);
  ASSERT_EQ(gRequests.size(), 4u);
  EXPECT_EQ(gRequests[3].flags & 2, 0u);
  EXPECT_EQ(gRequests[3].display, 0x20u);
  EXPECT_EQ(ReadBitmapPixel(b, 1, 1, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(ReadBitmapPixel(b, 3, 0, 0) & 0xFFFFFF, 0x0000FFu);
  DeleteBitmap(b);
  // Part of a picture, or no adapter flag: software, the adapter not asked.
  ASSERT_EQ(CopyBitmapRegion(src, nullptr, nullptr, 2, 0, 2, 2, 1, 0x10, 0x10, &b, &m, &a), 0);
  ASSERT_EQ(CopyBitmapRegion(src, nullptr, nullptr, 0, 0, 4, 2, 0, 0, 0, &m, nullptr, nullptr), 0);
  EXPECT_EQ(gRequests.size(), 4u);
  EXPECT_EQ(QueryBitmap(b, 18), 0);
  EXPECT_EQ(ReadBitmapPixel(b, 0, 0, 0) & 0xFFFFFF, 0x0000FFu);
  DeleteBitmap(b);
  DeleteBitmap(m);
  DeleteBitmap(src);
  FreeScaleTables();
}

TEST(PictureEngines, RefusedAdapterWorkFallsBackOnlyWhereAllowed) {
  using namespace adapter_engines;
  const double twice[4] = {2, 0, 0, 2};
  vlBitmap *b = nullptr, *m = nullptr, *a = nullptr;
  int32_t tw = 0, th = 0;
  {
    // Offers scaling and with it falling back: the software result, with
    // the mask plane a held picture does not have in software.
    Installed adapter(1 | 2);
    vlBitmap* src = HeldPicture();
    gRefuse = true;
    ASSERT_EQ(ScaleBitmap(src, nullptr, nullptr, 0, 0, nullptr, 4, 2, 8, 4, 0, 0, &b, &m, &a), 0);
    EXPECT_EQ(gRequests.size(), 2u);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(QueryBitmap(b, 18), 0);
    EXPECT_EQ(ReadBitmapPixel(b, 7, 3, 0) & 0xFFFFFF, 0x0000FFu);
    DeleteBitmap(b);
    ASSERT_EQ(TransformBitmap(src, nullptr, nullptr, 0, 0, 4, 2, twice, 0, 0, &b, &m, &a, &tw, &th), 0);
    EXPECT_EQ(gRequests.size(), 3u);
    EXPECT_EQ(tw, 8);
    ASSERT_NE(m, nullptr);
    DeleteBitmap(b);
    DeleteMaskPlane(m);
    DeleteBitmap(src);
  }
  {
    // Transforms but may not fall back: a refusal fails the engine; scaling
    // it does not offer is never asked.
    Installed adapter(2);
    vlBitmap* src = HeldPicture();
    gRefuse = true;
    b = nullptr;
    EXPECT_EQ(TransformBitmap(src, nullptr, nullptr, 0, 0, 4, 2, twice, 0, 0, &b, &m, &a, &tw, &th), ERR_BITMAP);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(gRequests.size(), 2u);
    ASSERT_EQ(ScaleBitmap(src, nullptr, nullptr, 0, 0, nullptr, 4, 2, 8, 4, 0, 0, &b, &m, &a), 0);
    EXPECT_EQ(gRequests.size(), 2u);
    DeleteBitmap(b);
    EXPECT_EQ(CopyBitmapRegion(src, nullptr, nullptr, 0, 0, 4, 2, 1, 0, 0, &b, &m, &a), ERR_BITMAP);
    DeleteBitmap(src);
  }
  FreeScaleTables();
}
