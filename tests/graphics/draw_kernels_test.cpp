// Anti-aliased plots and lines, coverage images and polygon mask fills.
#include "graphics/draw_kernels.h"
#include "graphics/cover_over.h"

#include <gtest/gtest.h>

#include <vector>

#include "graphics/bitmap.h"
#include "graphics/adapter.h"
#include "graphics/pixel_kernels.h"
#include "tests/graphics/graphics_test_util.h"

namespace {

struct Canvas {
  std::vector<uint32_t> px;
  vlDrawContext ctx;
  Canvas(int w, int h) : px(w * h, 0) {
    ctx.pixels = reinterpret_cast<uint8_t*>(px.data());
    ctx.rowLength = w;
    ctx.width = w;
    ctx.height = h;
    ctx.color = 0xFFFFFF;
  }
  int at(int x, int y) const { return px[y * ctx.rowLength + x] & 0xFF; }  // blue channel = coverage
};

TEST(DrawKernels, LineCoveragesOfEachColumnAddUp) {
  Canvas c(8, 4);
  DrawLineAA(c.ctx, 0, 0, 4, 1);
  for (int x = 0; x <= 4; ++x) {
    int sum = 0;
    for (int y = 0; y < 4; ++y) sum += c.at(x, y);
    // Blending white over black by a gives a exactly (255 * a >> 8 = a - 1
    // for a < 255); the straddling pair sums to 254 or 255.
    EXPECT_GE(sum, 253) << x;
    EXPECT_LE(sum, 255) << x;
  }
  EXPECT_EQ(c.at(0, 0), 255);
  EXPECT_EQ(c.at(5, 0) + c.at(5, 1), 0);  // nothing past the end
  Canvas one(3, 3);
  one.ctx.drawAlpha = 100;
  DrawLineAA(one.ctx, 1, 1, 1, 1);
  EXPECT_EQ(one.at(1, 1), 99);  // 255 * 100 >> 8
  EXPECT_EQ(one.at(0, 0), 0);
  // Steep lines step along y; end points outside the target are dropped.
  Canvas steep(4, 6);
  DrawLineAA(steep.ctx, 1, 5, 1, -3);
  for (int y = 0; y < 6; ++y) EXPECT_EQ(steep.at(1, y), 255) << y;
}

TEST(DrawKernels, PlotRespectsClipAndUpdatesPlanes) {
  Canvas c(16, 2);
  uint8_t mask[4] = {0, 0, 0, 0}, alpha[32] = {}, clipMask[4] = {0xFF, 0x00, 0xFF, 0xFF};
  c.ctx.mask = mask;
  c.ctx.maskRowBytes = 2;
  c.ctx.maskMode = 0;
  c.ctx.alpha = alpha;
  c.ctx.alphaRowBytes = 16;
  c.ctx.alphaValue = 9;
  c.ctx.clip = 1;
  c.ctx.clipX1 = 1, c.ctx.clipY1 = 0, c.ctx.clipX2 = 14, c.ctx.clipY2 = 1;
  c.ctx.clipMask = clipMask;
  c.ctx.clipMaskRowBytes = 2;
  for (int x = 0; x < 16; ++x) PlotPixelAA(c.ctx, x, 0);
  EXPECT_EQ(c.at(0, 0), 0);    // left of the clip rectangle
  EXPECT_EQ(c.at(1, 0), 255);
  EXPECT_EQ(c.at(8, 0), 0);    // clip-mask bit clear
  EXPECT_EQ(mask[0], 0x7F);
  EXPECT_EQ(mask[1], 0x00);
  EXPECT_EQ(alpha[1], 9);
  EXPECT_EQ(alpha[8], 0);
  c.ctx.maskMode = 3;
  PlotPixelAA(c.ctx, 1, 0);
  EXPECT_EQ(mask[0], 0x3F);
}

TEST(DrawKernels, CoverageImageScalesByDrawAlpha) {
  Canvas c(4, 1);
  const uint8_t cov[4] = {0, 255, 128, 255};
  c.ctx.drawAlpha = 255;
  CoverageToPixels(c.ctx, cov, 4, 0, 0, 4, 1, 0);
  EXPECT_EQ(c.at(0, 0), 0);
  EXPECT_EQ(c.at(1, 0), 255);
  EXPECT_EQ(c.at(2, 0), 127);  // 255 * 128 >> 8
  Canvas f(4, 1);
  f.ctx.drawAlpha = 64;
  CoverageToPixels(f.ctx, cov, 4, 0, 0, 4, 1, 1);
  EXPECT_EQ(f.at(2, 0), 63);  // full coverage: the drawing alpha for all
}

TEST(DrawKernels, PolygonFillSetsSpansAndIgnoresFlatPolygons) {
  std::vector<uint8_t> mask(2 * 6, 0);
  const int32_t square[] = {2, 1, 9, 1, 9, 4, 2, 4};
  ScanFillPolygonMask(square, 4, mask.data(), 2, 16, 6);
  EXPECT_EQ(mask[0], 0);
  EXPECT_EQ(mask[2], 0b00111111);  // row 1: bits 2-9
  EXPECT_EQ(mask[3], 0b11000000);
  EXPECT_EQ(mask[8], 0b00111111);  // row 4 via the last-scanline rule
  EXPECT_EQ(mask[10], 0);
  std::vector<uint8_t> flat(2 * 6, 0);
  const int32_t line[] = {0, 3, 5, 3, 10, 3};
  ScanFillPolygonMask(line, 3, flat.data(), 2, 16, 6);
  for (uint8_t b : flat) EXPECT_EQ(b, 0);
  // A polygon reaching past the plane is cut at its edges.
  std::vector<uint8_t> wide(2 * 2, 0);
  const int32_t big[] = {-5, 0, 40, 0, 40, 1, -5, 1};
  ScanFillPolygonMask(big, 4, wide.data(), 2, 16, 2);
  EXPECT_EQ(wide[0], 0xFF);
  EXPECT_EQ(wide[1], 0xFF);
}

}  // namespace

namespace {

TEST(BitmapLines, SoftwareLinesAndTheAdapterRoute) {
  vlBitmap* b = vltest::NewPicture(4, 8, 4);
  FillBitmapRect(b, 0, 0, 8, 4, 0x000000);
  DrawBitmapLine(b, 0, 0, 5, 2, 0xFFFFFF);
  // Bresenham: (0,0) (1,0) (2,1) (3,1) (4,2) (5,2).
  const int want[4][8] = {{1, 1, 0, 0, 0, 0, 0, 0}, {0, 0, 1, 1, 0, 0, 0, 0}, {0, 0, 0, 0, 1, 1, 0, 0}, {}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(ReadBitmapPixel(b, x, y, 0), want[y][x] ? 0xF8FCF8u : 0u) << x << "," << y;
  DrawBitmapLine(b, -100, 3, 100, 3, 0x0000FF);  // cut at both edges
  EXPECT_EQ(ReadBitmapPixel(b, 0, 3, 0), 0x0000F8u);
  EXPECT_EQ(ReadBitmapPixel(b, 7, 3, 0), 0x0000F8u);
  static int lines = 0;
  vlGfxAdapter ad{};
  ad.accel = VL_ACCEL_LINE;
  ad.line = [](void*, int32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t mode) { lines += mode == 1; };
  SetGfxAdapter(&ad);
  DrawBitmapLine(b, 0, 1, 7, 1, 0xFFFFFF);
  SetGfxAdapter(nullptr);
  EXPECT_EQ(lines, 1);
  EXPECT_EQ(ReadBitmapPixel(b, 7, 1, 0), 0u);  // the adapter drew, not the software
  DeleteBitmap(b);
}

}  // namespace

// The one "over" rule of shapes, paths and text edges.
TEST(CoverOver, CoverageAndChannelsStayInRange) {
  // White over white at the faintest coverages: the channel sum would reach
  // 509 and spill into the next channel without the cap.
  vlCover c = CoverOver(0xFFFFFF, 1, {0xFFFFFF, 1});
  EXPECT_EQ(c.rgb, 0xFFFFFFu);
  EXPECT_EQ(c.cover, 1u);
  // Half red over half blue: coverage 128 + 128 * 127 / 255 = 191.
  c = CoverOver(0xFF0000, 128, {0x0000FF, 128});
  EXPECT_EQ(c.cover, 191u);
  EXPECT_EQ(c.rgb, (255u * 128 / 191) << 16 | (255u * (128 * 127) / 255) / 191);
  // Over nothing the colour stays; nothing over nothing keeps the upper colour.
  EXPECT_EQ(CoverOver(0x123456, 77, {0xABCDEF, 0}).rgb, 0x123456u);
  EXPECT_EQ(CoverOver(0x123456, 0, {0xABCDEF, 0}).cover, 0u);
  // Full coverage hides what is under it.
  EXPECT_EQ(CoverOver(0x102030, 255, {0xFFFFFF, 200}).rgb, 0x102030u);
}

// CoverOver multiplies where the rule divides: every coverage pair with
// every upper channel value (the lower channels and the three upper ones
// varied against each other) gives what the divisions give, and so do the
// reciprocals for every divisor over the whole range they serve.
TEST(CoverOver, GivesTheDivisionsResultForEveryCoverage) {
  auto byDivision = [](uint32_t rgb, uint32_t a, vlCover under) {
    const uint32_t rest = under.cover * (255 - a), out = a + rest / 255;
    if (out == 0) return vlCover{rgb & 0xFFFFFF, 0};
    uint32_t mixed = 0;
    for (int sh = 0; sh < 24; sh += 8) {
      const uint32_t m = (((rgb >> sh) & 0xFF) * a + ((under.rgb >> sh) & 0xFF) * rest / 255) / out;
      mixed |= (m > 255 ? 255 : m) << sh;
    }
    return vlCover{mixed, out};
  };
  int wrong = 0;
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t u = 0; u < 256; ++u)
      for (uint32_t c = 0; c < 256; ++c) {
        const uint32_t rgb = c << 16 | (255 - c) << 8 | (c ^ 0x5A);
        const uint32_t d = (c * 37 + a * 11 + u) & 0xFF;
        const vlCover under{d << 16 | (255 - d) << 8 | ((d * 7 + u) & 0xFF), u};
        const vlCover got = CoverOver(rgb | 0xAB000000u, a, under), want = byDivision(rgb | 0xAB000000u, a, under);
        if ((got.rgb != want.rgb || got.cover != want.cover) && ++wrong <= 5)
          ADD_FAILURE() << "a " << a << " under " << u << " channel " << c;
      }
  EXPECT_EQ(wrong, 0);
  for (uint32_t d = 1; d < 256; ++d)
    for (uint32_t n = 0; n < (d == 255 ? (1u << 24) : (1u << 16)); ++n)
      if (vl_cover::Divide(n, d) != n / d && ++wrong <= 5) ADD_FAILURE() << n << " / " << d;
  EXPECT_EQ(wrong, 0);
}
