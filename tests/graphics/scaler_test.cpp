// The scaler: nearest column choice by 16.16 steps, row accumulation,
// bilinear fractions, plane handling and the one-pixel edge.
#include "graphics/scaler.h"

#include <gtest/gtest.h>

#include <vector>

#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"

namespace {

vlScaleJob Job(const void* src, void* dst, int sw, int sh, int dw, int dh, int format, int bpp, int smooth) {
  vlScaleJob j{};
  j.srcPixels = static_cast<const uint8_t*>(src);
  j.dstPixels = static_cast<uint8_t*>(dst);
  j.srcWidth = sw;
  j.srcHeight = sh;
  j.dstWidth = dw;
  j.dstHeight = dh;
  j.srcRowLength = sw;
  j.dstRowLength = dw;
  j.format = format;
  j.bytesPerPixel = bpp;
  j.smooth = smooth;
  return j;
}

TEST(Scaler, NearestPicksColumnsByTruncatedSteps) {
  const uint32_t src[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  uint32_t out[6] = {};
  ScalePixels(Job(src, out, 3, 1, 6, 1, 10, 4, 0));
  const uint32_t want[6] = {0, 0, 1, 1, 2, 2};
  EXPECT_TRUE(std::equal(want, want + 6, out));
  ScalePixels(Job(src, out, 10, 1, 3, 1, 10, 4, 0));  // step 218453
  EXPECT_EQ(out[0], 0u);
  EXPECT_EQ(out[1], 3u);
  EXPECT_EQ(out[2], 6u);
  // Nineteen columns cover the unrolled loop and its tail.
  std::vector<uint16_t> s16(10), o16(19);
  for (int i = 0; i < 10; ++i) s16[i] = static_cast<uint16_t>(100 + i);
  ScalePixels(Job(s16.data(), o16.data(), 10, 1, 19, 1, 4, 2, 0));
  for (int i = 0; i < 19; ++i) {
    const uint32_t step = static_cast<uint32_t>(10.0L / 19 * 65536);
    EXPECT_EQ(o16[i], 100 + ((i * step) >> 16)) << i;
  }
}

TEST(Scaler, NearestRowsAccumulateTheRatio) {
  const uint32_t src[3] = {10, 20, 30};  // one column, three rows
  uint32_t out[7] = {};
  ScalePixels(Job(src, out, 1, 3, 1, 7, 10, 4, 0));
  // 3/7 added per row: rows 0,0,0,1,1,2,2.
  const uint32_t want[7] = {10, 10, 10, 20, 20, 30, 30};
  EXPECT_TRUE(std::equal(want, want + 7, out));
}

TEST(Scaler, SmoothFractionsAndInterpolation) {
  // 2 -> 4 columns: S_x = 16384, fractions 0, 1/4, 1/2, 3/4 of column 0 -> 1.
  const uint32_t src[4] = {0x000000, 0xFF8040, 0x000000, 0xFF8040};  // 2 x 2
  uint32_t out[8] = {};
  ScalePixels(Job(src, out, 2, 2, 4, 2, 10, 4, 1));
  EXPECT_EQ(out[0], 0x000000u);
  EXPECT_EQ(out[1], 0x3F2010u);  // 255 * 16384 >> 16 = 63
  EXPECT_EQ(out[2], 0x7F4020u);
  EXPECT_EQ(out[3], 0xBF6030u);
  EXPECT_EQ(out[7], 0xBF6030u);
  // A source one pixel wide repeats its column instead of reading past it.
  const uint32_t one[2] = {0x102030, 0x405060};
  uint32_t tall[4] = {};
  ScalePixels(Job(one, tall, 1, 2, 1, 4, 10, 4, 1));
  EXPECT_EQ(tall[0], 0x102030u);
  EXPECT_EQ(tall[2], 0x283848u);  // halfway between the two rows
  // 16-bit pictures go through the shift-expanded channels.
  const uint16_t s565[2] = {0x0000, 0xFFFF};
  uint16_t o565[4] = {};
  ScalePixels(Job(s565, o565, 2, 1, 4, 1, 4, 2, 1));
  EXPECT_EQ(PixelToColor(o565[2], 4, 0), 0x787C78u);  // 124, 126, 124 packed to 5-6-5
}

TEST(Scaler, PlanesFollowTheirRules) {
  // Mask 8 wide -> 16 wide doubles each bit; alpha alike.
  const uint8_t mask[2] = {0b10110000, 0};
  uint8_t outMask[2] = {};
  const uint8_t alpha[4] = {0, 100, 200, 255};
  uint8_t outAlpha[8] = {};
  uint32_t src[8] = {}, dst[16] = {};
  vlScaleJob j = Job(src, dst, 8, 1, 16, 1, 10, 4, 0);
  j.srcMask = mask;
  j.dstMask = outMask;
  j.srcMaskRowBytes = 2;
  j.dstMaskRowBytes = 2;
  ScalePixels(j);
  EXPECT_EQ(outMask[0], 0b11001111);
  EXPECT_EQ(outMask[1], 0b00000000);
  // Planes only: both scaled by nearest whatever the smooth flag.
  vlScaleJob p = Job(nullptr, nullptr, 4, 1, 8, 1, 10, 4, 1);
  p.srcAlpha = alpha;
  p.dstAlpha = outAlpha;
  p.srcAlphaRowBytes = 4;
  p.dstAlphaRowBytes = 8;
  ScalePixels(p);
  const uint8_t wantA[8] = {0, 0, 100, 100, 200, 200, 255, 255};
  EXPECT_TRUE(std::equal(wantA, wantA + 8, outAlpha));
  // Smooth with a mask and an alpha plane: only the mask is scaled.
  uint8_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
  vlScaleJob s = j;
  s.smooth = 1;
  s.srcAlpha = alpha;
  s.dstAlpha = untouched;
  s.srcAlphaRowBytes = 4;
  s.dstAlphaRowBytes = 16;
  s.x = 2;  // the mask starts at source bit 2
  outMask[0] = outMask[1] = 0;
  ScalePixels(s);
  EXPECT_EQ(untouched[0], 7);
  EXPECT_EQ(outMask[0] >> 7, 1);  // source bit 2 is set
  // Smooth alpha without a mask interpolates like a channel.
  uint8_t smoothA[8] = {};
  vlScaleJob a = Job(src, dst, 4, 1, 8, 1, 10, 4, 1);
  a.srcAlpha = alpha;
  a.dstAlpha = smoothA;
  a.srcAlphaRowBytes = 4;
  a.dstAlphaRowBytes = 8;
  ScalePixels(a);
  EXPECT_EQ(smoothA[0], 0);
  EXPECT_EQ(smoothA[1], 37);  // S_x = 3 * 65536 / 8 = 24576: 100 * 24576 >> 16
}

}  // namespace
