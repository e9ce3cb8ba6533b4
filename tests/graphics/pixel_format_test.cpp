// Colour <-> pixel conversions for all sixteen formats with their byte
// orders, colour mixing, position constants and the geometry helpers.
#include "graphics/pixel_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "graphics/adapter.h"
#include "graphics/geometry.h"
#include "graphics/pixel_access.h"
#include "graphics/position.h"

namespace {

// Memory bytes, lowest address first, of $123456 with alpha $78 per format.
struct FormatCase {
  int32_t format;
  std::vector<uint8_t> bytes;
  uint32_t readBack;  // colour ReadRawPixelColor gives
};

const FormatCase kCases[] = {
    {0, {0xCA, 0x08}, 0x103050}, {1, {0xC2, 0x28}, 0x103050}, {2, {0x08, 0xCA}, 0x103050},
    {3, {0x28, 0xC2}, 0x103050}, {4, {0xAA, 0x11}, 0x103450}, {5, {0xA2, 0x51}, 0x103450},
    {6, {0x11, 0xAA}, 0x103450}, {7, {0x51, 0xA2}, 0x103450}, {8, {0x12, 0x34, 0x56}, 0x123456},
    {9, {0x56, 0x34, 0x12}, 0x123456}, {10, {0x56, 0x34, 0x12, 0x78}, 0x123456},
    {11, {0x78, 0x12, 0x34, 0x56}, 0x123456}, {12, {0x78, 0x56, 0x34, 0x12}, 0x123456},
    {13, {0x12, 0x34, 0x56, 0x78}, 0x123456},
};

TEST(PixelFormat, EveryFormatStoresItsBytesInOrderAndReadsBack) {
  for (const FormatCase& c : kCases) {
    SCOPED_TRACE(c.format);
    const uint32_t v = ColorToPixel(0x78123456, c.format, 1);
    uint8_t mem[4] = {};
    const int bpp = BytesPerPixelOfFormat(c.format);
    ASSERT_EQ(static_cast<size_t>(bpp), c.bytes.size());
    if (bpp == 3) {  // stored as the value's bytes from the top down
      mem[0] = v >> 16;
      mem[1] = v >> 8;
      mem[2] = v;
    } else {
      std::memcpy(mem, &v, bpp);  // the host is little-endian
    }
    EXPECT_EQ(std::vector<uint8_t>(mem, mem + bpp), c.bytes);
    vlPixelAccess acc;
    acc.pixels = mem;
    acc.format = c.format;
    acc.bytesPerPixel = bpp;
    acc.rowLength = 1;
    EXPECT_EQ(ReadRawPixelColor(&acc, 0, 0), c.readBack);
  }
  EXPECT_EQ(ColorToPixel(0x123456, 14, 0), 0u);
  EXPECT_EQ(ColorToPixel(0x123456, 15, 0), 0u);
  EXPECT_EQ(ColorToPixel(0x123456, 99, 0), 0u);
  EXPECT_EQ(BitsPerPixelOfFormat(14), 0);
  EXPECT_EQ(BytesPerPixelOfFormat(15), 0);
  EXPECT_EQ(BitsPerPixelOfFormat(1), 15);
  EXPECT_EQ(BitsPerPixelOfFormat(7), 16);
}

TEST(PixelFormat, KnownValuesAndPlainShiftExpansion) {
  EXPECT_EQ(ColorToPixel(0x123456, 4, 0), 0x11AAu);
  EXPECT_EQ(ColorToPixel(0x123456, 0, 0), 0x08CAu);
  EXPECT_EQ(ColorToPixel(0x123456, 2, 0), 0xCA08u);
  EXPECT_EQ(PixelToColor(0xFFFF, 4, 0), 0xF8FCF8u);
  EXPECT_EQ(PixelToColor(0x7FFF, 0, 0), 0xF8F8F8u);
  EXPECT_EQ(PixelToColor(ColorToPixel(0xFFFFFF, 4, 0), 4, 0), 0xF8FCF8u);
  EXPECT_EQ(PixelToColor(0x80112233, 10, 0), 0x112233u);
  EXPECT_EQ(PixelToColor(0x80112233, 10, 1), 0x80112233u);
  EXPECT_EQ(PixelToColor(0xFFFF, 4, 1), 0xF8FCF8u);  // no alpha from 16 bits
  EXPECT_EQ(PixelToColor(0x123456, 8, 0), 0u);       // left open: 24-bit gives 0
  for (int f : {11, 12, 13}) EXPECT_EQ(PixelToColor(ColorToPixel(0x9A123456, f, 1), f, 1), 0x9A123456u) << f;
  EXPECT_EQ(ColorToPixel(0x9A123456, 10, 0), 0x00123456u);  // no alpha unless asked
}

TEST(PixelFormat, MixColorsShiftsArithmeticallyAndDropsAlpha) {
  EXPECT_EQ(MixColors(0xFF102030, 0x00FFFFFF, 0), 0x102030u);
  EXPECT_EQ(MixColors(0x000000, 0xFFFFFF, 255), 0xFEFEFEu);
  // (0 - 255) * 1 >> 8 = -1: the red channel steps down by one.
  EXPECT_EQ(MixColors(0xFF0000, 0x000000, 1), 0xFE0000u);
  EXPECT_EQ(MixColors(0x204060, 0x406080, 128), 0x305070u);
}

TEST(PixelFormat, InverseAlphaAdapterFlipsAlpha) {
  EXPECT_EQ(AdjustAlphaForAdapter(0x40123456), 0x40123456u);
  vlGfxAdapter a{};
  a.flags = VL_ADAPTER_INVERSE_ALPHA;
  SetGfxAdapter(&a);
  EXPECT_EQ(AdjustAlphaForAdapter(0x40123456), 0xBF123456u);
  EXPECT_EQ(AdjustAlphaForAdapter(0x00123456), 0xFF123456u);
  SetGfxAdapter(nullptr);
}

TEST(Position, ConstantsWithOffsetsAgainstGivenAndCurrentReference) {
  EXPECT_EQ(ResolvePosX(VL_POS_CENTER + 10, 100, 640, 0), 280);
  EXPECT_EQ(ResolvePosX(VL_POS_RIGHTOUT - 5, 100, 640, 0), 635);
  EXPECT_EQ(ResolvePosX(-105000, 100, 640, 0), -105000);
  EXPECT_EQ(ResolvePosX(VL_POS_CENTER - 4999, 100, 640, 0), 270 - 4999);
  EXPECT_EQ(ResolvePosX(-95000, 100, 640, 0), -95000);  // between the bands
  EXPECT_EQ(ResolvePosX(-94999, 100, 640, 0), -4999);   // LEFT, offset -4999
  EXPECT_EQ(ResolvePosX(VL_POS_LEFT, 100, 640, 0), 0);
  EXPECT_EQ(ResolvePosX(VL_POS_RIGHT + 3, 100, 640, 0), 543);
  EXPECT_EQ(ResolvePosX(VL_POS_LEFTOUT, 100, 640, 0), -100);
  EXPECT_EQ(ResolvePosX(VL_POS_TOP, 100, 640, 0), VL_POS_TOP);
  EXPECT_EQ(ResolvePosY(VL_POS_LEFT, 100, 480, 0), VL_POS_LEFT);
  EXPECT_EQ(ResolvePosY(VL_POS_BOTTOM, 100, 480, 0), 380);
  EXPECT_EQ(ResolvePosY(VL_POS_TOPOUT + 1, 100, 480, 0), -99);
  EXPECT_EQ(ResolvePosY(VL_POS_BOTTOMOUT, 100, 480, 0), 480);
  EXPECT_EQ(ResolvePosY(VL_POS_CENTER, 101, 480, 0), 189);  // (480 - 101) / 2 truncates
  EXPECT_EQ(ResolvePosX(VL_POS_CENTER, 100, 640, -0.5), 220);  // factor x width added
  EXPECT_EQ(ResolvePosX(17, 100, 640, -0.5), 17);  // plain coordinates stay
  EXPECT_EQ(ResolvePosX(VL_POS_CENTER, 100, 0, 0), -50);  // no output: 0 wide

  SetOutputReferenceProvider([](vlOutputRef* r) {
    r->width = 800;
    r->height = 600;
  });
  EXPECT_EQ(ResolvePosX(VL_POS_CENTER, 100, 0, 0), 350);
  EXPECT_EQ(ResolvePosY(VL_POS_BOTTOM, 100, 0, 0), 500);
  SetOutputReferenceProvider([](vlOutputRef* r) {
    r->width = 800;
    r->height = 600;
    r->hasClip = 1;
    r->clipX = 100;
    r->clipY = 50;
    r->clipWidth = 200;
    r->clipHeight = 100;
  });
  EXPECT_EQ(ResolvePosX(VL_POS_CENTER, 100, 0, 0), 150);
  EXPECT_EQ(ResolvePosY(VL_POS_BOTTOM, 10, 0, 0), 140);
  EXPECT_EQ(ResolvePosX(VL_POS_CENTER, 100, 640, 0), 270);  // a given width has base 0
  SetOutputReferenceProvider(nullptr);
}

TEST(Geometry, ClipBlitRectsAtEveryEdgeAndAgainstARegion) {
  int32_t sx = 0, sy = 0, dx = -5, dy = -3, w = 20, h = 10;
  ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &w, &h, 20, 10, 100, 100, 0);
  EXPECT_EQ(sx, 5);
  EXPECT_EQ(sy, 3);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(dy, 0);
  EXPECT_EQ(w, 15);
  EXPECT_EQ(h, 7);
  sx = 2, sy = 0, dx = 95, dy = 98, w = 20, h = 10;
  ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &w, &h, 20, 10, 100, 100, 0);
  EXPECT_EQ(w, 5);
  EXPECT_EQ(h, 2);
  sx = 15, sy = 0, dx = 0, dy = 0, w = 20, h = 10;
  ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &w, &h, 20, 10, 100, 100, 0);
  EXPECT_EQ(w, 5);
  vlClipRegion r;
  r.x = 10, r.y = 20, r.width = 30, r.height = 40;
  sx = 0, sy = 0, dx = 0, dy = 0, w = 100, h = 100;
  ClipBlitRects(&r, &sx, &sy, &dx, &dy, &w, &h, 100, 100, 640, 480, 1);
  EXPECT_EQ(sx, 10);
  EXPECT_EQ(sy, 20);
  EXPECT_EQ(dx, 10);
  EXPECT_EQ(dy, 20);
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 40);
  sx = 0, sy = 0, dx = 0, dy = 0, w = 100, h = 100;
  ClipBlitRects(&r, &sx, &sy, &dx, &dy, &w, &h, 100, 100, 640, 480, 0);  // region off
  EXPECT_EQ(w, 100);
  sx = 0, sy = 0, dx = 200, dy = 0, w = 10, h = 10;
  ClipBlitRects(nullptr, &sx, &sy, &dx, &dy, &w, &h, 100, 100, 100, 100, 0);
  EXPECT_LT(w, 1);  // fully outside
}

TEST(Geometry, PolygonEdgeClipAddsCrossings) {
  int32_t pts[] = {0, 0, 10, 0, 10, 10, 0, 10, 0, 0};
  int32_t out[16];
  ASSERT_EQ(ClipPolygonToEdge(4, pts, out, 5, 0), 4);
  const int32_t want[] = {5, 0, 10, 0, 10, 10, 5, 10};
  EXPECT_TRUE(std::equal(want, want + 8, out));
  int32_t tri[] = {0, 0, 10, 10, 0, 10, 0, 0};
  ASSERT_EQ(ClipPolygonToEdge(3, tri, out, 5, 3), 3);  // keep y <= 5
  const int32_t want2[] = {0, 0, 5, 5, 0, 5};
  EXPECT_TRUE(std::equal(want2, want2 + 6, out));
}

TEST(Geometry, EllipsePointsSlicesAndTables) {
  EXPECT_EQ(Cos1024Table()[0], 1024);
  EXPECT_EQ(Cos1024Table()[180], -1024);
  EXPECT_EQ(Sin1024Table()[90], 1024);
  EXPECT_EQ(Sin1024Table()[270], -1024);
  EXPECT_EQ(Cos1024Table()[60], 512);
  std::vector<int32_t> pts(2 * 400);
  EXPECT_EQ(SinCosEllipsePoint(pts, 10, 5, 0, 90), 93);
  EXPECT_EQ(pts[0], 20);  // 10 + 21 * 1024 / 2048 = 10 + 10
  EXPECT_EQ(pts[1], 5);
  EXPECT_EQ(pts[2 * 91], 10);  // the centre
  EXPECT_EQ(pts[2 * 91 + 1], 5);
  EXPECT_EQ(pts[2 * 92], 20);  // the first point again
  EXPECT_EQ(SinCosEllipsePoint(pts, 10, 5, 0, 360), 361);
  EXPECT_EQ(pts[2 * 180], 0);  // 10 + 21 * -1024 / 2048 rounds toward zero: 10 - 10
  std::vector<int32_t> few(4);
  EXPECT_EQ(SinCosEllipsePoint(few, 10, 5, 0, 360), 361);  // only two written
}

TEST(Geometry, FitRotatedRectOfAQuarterTurn) {
  double m[4];
  SetIdentityMatrix(m);
  int32_t x, y, w, h;
  FitRotatedRect(3, 4, 10, 20, 0, 0, m, &x, &y, &w, &h);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 4);
  EXPECT_EQ(w, 10);
  EXPECT_EQ(h, 20);
  const double q[4] = {0, 1, -1, 0};  // 90 degrees about the top-left corner
  FitRotatedRect(0, 0, 10, 20, 0, 0, q, &x, &y, &w, &h);
  EXPECT_EQ(x, -19);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 10);
  FitRotatedRect(0, 0, 10, 20, 0.5, 0.5, q, nullptr, nullptr, &w, nullptr);
  EXPECT_EQ(w, 20);
}

}  // namespace
