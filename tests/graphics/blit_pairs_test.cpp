// Every pair of pixel formats through the blits (plain, through a mask,
// through an alpha plane, the coverage copy and the blend over a target
// alpha), 24-bit pictures on either side, against a reference built from
// the single-pixel rules alone; with the fast paths and without.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "graphics/blit.h"
#include "graphics/fast_paths.h"
#include "graphics/pixel_format.h"
#include "tests/graphics/graphics_test_util.h"

using vltest::Access;
using vltest::GetRaw;
using vltest::RefBlend;
using vltest::NewPicture;

namespace {

uint32_t Colour(int format, uint32_t v) {
  return BytesPerPixelOfFormat(format) == 3 ? Pixel24ToColor(v, format) : PixelToColor(v, format, 0);
}

std::vector<uint32_t> Raw(vlBitmap* b) {
  const vlPixelAccess a = Access(b);
  std::vector<uint32_t> out;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) out.push_back(GetRaw(a, x, y));
  return out;
}

void Randomise(vlBitmap* b, std::mt19937& rng, bool edges) {
  const vlPixelAccess a = Access(b);
  const int bytes = a.rowLength * a.height * std::max(a.bytesPerPixel, 1);
  for (int i = 0; i < bytes; ++i) {
    const int k = edges ? static_cast<int>(rng() % 4) : 3;  // plenty of 0 and 255
    a.pixels[i] = k == 0 ? 0 : k == 1 ? 255 : static_cast<uint8_t>(rng());
  }
}

enum Op { kCopy, kMasked, kAlpha, kCoverage, kOver, kOps };

void CheckEveryPair() {
  constexpr int SW = 19, SH = 7, DW = 23, DH = 9, SX = 2, SY = 1, DX = 3, DY = 2, W = 15, H = 5;
  for (int sf = 0; sf <= 13; ++sf)
    for (int df = 0; df <= 13; ++df)
      for (int op = 0; op < kOps; ++op) {
        std::mt19937 rng(static_cast<uint32_t>(sf * 1000 + df * 10 + op));
        vlBitmap* src = NewPicture(sf, SW, SH);
        vlBitmap* dst = NewPicture(df, DW, DH);
        ASSERT_TRUE(src && dst);
        vlBitmap* mask = NewMaskPlane(src, SW, SH, 0, nullptr, 0);
        vlBitmap* alpha = NewAlphaPlane(SW, SH, 0, nullptr, 0);
        vlBitmap* tAlpha = NewAlphaPlane(DW, DH, 0, nullptr, 0);
        Randomise(src, rng, false);
        Randomise(dst, rng, false);
        Randomise(mask, rng, true);
        Randomise(alpha, rng, true);
        Randomise(tAlpha, rng, true);
        const std::vector<uint32_t> s = Raw(src);
        std::vector<uint32_t> want = Raw(dst);
        const vlPixelAccess m = Access(mask), al = Access(alpha), ta = Access(tAlpha);
        switch (op) {
          case kCopy: BltBitmap(src, SX, SY, dst, DX, DY, W, H); break;
          case kMasked: BltBitmapMasked(src, SX, SY, dst, DX, DY, W, H, mask); break;
          case kAlpha: BltBitmapAlpha(src, SX, SY, dst, DX, DY, W, H, alpha); break;
          case kCoverage: AlphaBlitBitmaps(src, SX, SY, dst, DX, DY, W, H, alpha, nullptr, 1); break;
          default: AlphaBlitBitmaps(src, SX, SY, dst, DX, DY, W, H, alpha, tAlpha, 2); break;
        }
        for (int y = 0; y < H; ++y)
          for (int x = 0; x < W; ++x) {
            const int px = SX + x, py = SY + y;
            // The source pixel in the target's format: raw in the same
            // format, else through its colour.
            const uint32_t raw = s[py * SW + px];
            const uint32_t sv = sf == df ? raw : ColorToPixel(Colour(sf, raw), df, 0);
            uint32_t& out = want[(DY + y) * DW + DX + x];
            const int a = al.pixels[py * al.rowLength + px];
            const bool bit = (m.pixels[py * m.rowLength + (px >> 3)] >> (7 - (px & 7))) & 1;
            if (op == kCopy || (op == kMasked && bit) || (op != kMasked && a == 255) || (op == kCoverage && a)) {
              out = sv;
            } else if (a && op == kAlpha) {
              out = ColorToPixel(RefBlend(Colour(df, out), Colour(df, sv), a), df, 0);
            } else if (a && op == kOver) {
              const int t = ta.pixels[(DY + y) * ta.rowLength + DX + x];
              const int o = std::min(255, ((255 - a) * t + 255 * a + 127) / 255);
              const int k = ((255 - a) * t + 127) / 255;
              const uint32_t sc = Colour(df, sv), dc = Colour(df, out);
              uint32_t mixed = 0;
              for (int sh = 0; sh <= 16; sh += 8) {
                const int v = (static_cast<int>((sc >> sh) & 0xFF) * a +
                               static_cast<int>((dc >> sh) & 0xFF) * k + 127) / o;
                mixed |= static_cast<uint32_t>(std::min(v, 255)) << sh;
              }
              out = ColorToPixel(mixed, df, 0);
            }
          }
        ASSERT_EQ(Raw(dst), want) << "source format " << sf << " target format " << df << " op " << op;
        DeleteMaskPlane(mask);
        DeleteAlphaPlane(alpha);
        DeleteAlphaPlane(tAlpha);
        DeleteBitmap(src);
        DeleteBitmap(dst);
      }
}

TEST(BlitPairs, EveryPairOfColourFormatsFollowsThePixelRules) {
  const uint32_t features = FastPathFeatures();
  CheckEveryPair();
  SetFastPathFeatures(VL_CPU_PLAIN);  // the general kernels alone
  CheckEveryPair();
  SetFastPathFeatures(features);
}

// The planes hold no colours: a blit between a plane and a picture, either
// way round, leaves the target as it was.
TEST(BlitPairs, PlanesAndPicturesDoNotMix) {
  std::mt19937 rng(7);
  for (int f = 0; f <= 13; ++f) {
    vlBitmap* pic = NewPicture(f, 16, 4);
    vlBitmap* alpha = NewAlphaPlane(16, 4, 0, nullptr, 0);
    vlBitmap* mask = NewMaskPlane(pic, 16, 4, 0, nullptr, 0);
    Randomise(pic, rng, false);
    Randomise(alpha, rng, false);
    Randomise(mask, rng, false);
    const std::vector<uint32_t> before = Raw(pic);
    const vlPixelAccess a = Access(alpha);
    const std::vector<uint8_t> alphaBefore(a.pixels, a.pixels + a.rowLength * 4);
    BltBitmap(alpha, 0, 0, pic, 0, 0, 16, 4);
    BltBitmap(mask, 0, 0, pic, 0, 0, 16, 4);
    BltBitmap(pic, 0, 0, alpha, 0, 0, 16, 4);
    EXPECT_EQ(Raw(pic), before) << f;
    EXPECT_EQ(std::vector<uint8_t>(a.pixels, a.pixels + a.rowLength * 4), alphaBefore) << f;
    DeleteMaskPlane(mask);
    DeleteAlphaPlane(alpha);
    DeleteBitmap(pic);
  }
}

}  // namespace
