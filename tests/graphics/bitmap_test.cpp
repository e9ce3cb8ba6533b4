// Pictures and planes: plane row padding, queries, pixel read and write in
// every format, fills, mask modes, ARGB import and export, and an
// ImageMagick round trip through the ARGB paths.
#include "graphics/bitmap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "graphics/adapter.h"
#include "graphics/blit.h"
#include "tests/graphics/graphics_test_util.h"
#include "vm/error_codes.h"

using vltest::Access;
using vltest::GetRaw;
using vltest::NewPicture;

namespace {

TEST(Planes, RowsArePaddedAndMaskRowsFollowThePicture) {
  vlBitmap* a = NewAlphaPlane(5, 3, 1, nullptr, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(QueryBitmap(a, 1), 8);
  EXPECT_EQ(QueryBitmap(a, 2), 0);  // not a mask
  vlPixelAccess acc;
  ASSERT_TRUE(LockPixels(a, 0, &acc));
  EXPECT_EQ(acc.format, 14);
  EXPECT_EQ(acc.bytesPerPixel, 1);
  EXPECT_EQ(acc.rowLength, 8);
  EXPECT_EQ(acc.direct, 1);
  EXPECT_EQ(reinterpret_cast<intptr_t>(acc.pixels), QueryBitmap(a, 3));
  for (int i = 0; i < 24; ++i) EXPECT_EQ(acc.pixels[i], 0);  // cleared
  UnlockPixels(a, &acc);
  DeleteAlphaPlane(a);

  vlBitmap* m = NewMaskPlane(nullptr, 17, 2, 1, nullptr, 0);
  EXPECT_EQ(QueryBitmap(m, 2), 4);
  DeleteMaskPlane(m);
  m = NewMaskPlane(nullptr, 16, 2, 1, nullptr, 0);
  EXPECT_EQ(QueryBitmap(m, 2), 2);
  DeleteMaskPlane(m);

  vlBitmap* pic = NewPicture(10, 17, 2);  // rows of 20 pixels
  EXPECT_EQ(QueryBitmap(pic, 13), 20);
  m = NewMaskPlane(pic, 17, 2, 1, nullptr, 0);
  EXPECT_EQ(QueryBitmap(m, 2), 4);
  DeleteMaskPlane(m);
  DeleteBitmap(pic);

  uint8_t buf[64] = {};
  vlBitmap* borrowed = NewAlphaPlane(10, 4, 0, buf, 16);
  EXPECT_EQ(QueryBitmap(borrowed, 1), 16);
  FillAlphaRect(borrowed, 1, 1, 2, 1, 77);
  EXPECT_EQ(buf[17], 77);
  EXPECT_EQ(buf[18], 77);
  EXPECT_EQ(buf[19], 0);
  DeleteAlphaPlane(borrowed);  // the buffer stays the caller's
  EXPECT_EQ(buf[17], 77);
}

TEST(Bitmaps, QueriesOfPicturesAndNull) {
  for (int code : {0, 1, 2, 3, 4, 13, 14, 18, 19, 20, 21, 22, 23}) EXPECT_EQ(QueryBitmap(nullptr, code), 0) << code;
  // The platform answers the other codes, with or without a bitmap.
  EXPECT_EQ(QueryBitmap(nullptr, 16), 1);
  EXPECT_EQ(QueryBitmap(nullptr, 5), 32);
  EXPECT_EQ(QueryBitmap(nullptr, 6), 0);  // no window to ask for the pointer
  vlBitmap* b = NewPicture(5, 9, 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(QueryBitmap(b, 0), 9);
  EXPECT_EQ(QueryBitmap(b, 14), 4);
  EXPECT_EQ(QueryBitmap(b, 13), 12);
  EXPECT_EQ(QueryBitmap(b, 21), 5);
  EXPECT_EQ(QueryBitmap(b, 18), 0);
  EXPECT_EQ(QueryBitmap(b, 22), 0);
  EXPECT_NE(QueryBitmap(b, 23), 0);
  EXPECT_EQ(QueryBitmap(b, 11), 16);
  EXPECT_EQ(QueryBitmap(b, 7), 0);
  EXPECT_EQ(NewBitmap(0, 5, 0, nullptr), nullptr);
  DeleteBitmap(b);
}

// $123456 as stored by each format, lowest address first.
const std::vector<std::vector<uint8_t>> kBytes = {
    {0xCA, 0x08}, {0xC2, 0x28}, {0x08, 0xCA}, {0x28, 0xC2}, {0xAA, 0x11}, {0xA2, 0x51}, {0x11, 0xAA},
    {0x51, 0xA2}, {0x12, 0x34, 0x56}, {0x56, 0x34, 0x12}, {0x56, 0x34, 0x12, 0x00}, {0x00, 0x12, 0x34, 0x56},
    {0x00, 0x56, 0x34, 0x12}, {0x12, 0x34, 0x56, 0x00}};

TEST(Bitmaps, PixelWriteReadAndFillInEveryFormat) {
  for (int f = 0; f < 14; ++f) {
    SCOPED_TRACE(f);
    vlBitmap* b = NewPicture(f, 7, 3);
    ASSERT_NE(b, nullptr);
    vlPixelAccess a = Access(b);
    std::memset(a.pixels, 0xEE, static_cast<size_t>(a.rowLength) * 3 * a.bytesPerPixel);
    WriteBitmapPixel(b, 6, 2, 0xFF123456, 0);
    const uint8_t* p = a.pixels + (2 * a.rowLength + 6) * a.bytesPerPixel;
    EXPECT_EQ(std::vector<uint8_t>(p, p + a.bytesPerPixel), kBytes[f]);
    EXPECT_EQ(p[-1], 0xEE);  // neighbour untouched
    const uint32_t back = ReadBitmapPixel(b, 6, 2, 0);
    EXPECT_EQ(back, f < 4 ? 0x103050u : f < 8 ? 0x103450u : 0x123456u);
    WriteBitmapPixel(b, 7, 0, 0, 0);   // outside: ignored
    WriteBitmapPixel(b, -1, 0, 0, 0);
    EXPECT_EQ(ReadBitmapPixel(b, 99, 0, 0), 0u);

    FillBitmapRect(b, -2, 1, 4, 5, 0x123456);  // clipped to x 0-1, y 1-2
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x) {
        const uint8_t* q = a.pixels + (y * a.rowLength + x) * a.bytesPerPixel;
        const bool inFill = y >= 1 && x < 2 && f != 8 && f != 9;  // 3-byte pixels are not filled
        const bool written = inFill || (x == 6 && y == 2);
        if (written) EXPECT_EQ(std::vector<uint8_t>(q, q + a.bytesPerPixel), kBytes[f]) << x << "," << y;
        else EXPECT_EQ(q[0], 0xEE) << x << "," << y;
      }
    DeleteBitmap(b);
  }
}

TEST(Bitmaps, FillPixelsBlendsBelowFullOpacity) {
  vlBitmap* b = NewPicture(4, 4, 1);
  vlPixelAccess a = Access(b);
  FillPixels(a.pixels, 0, 0, 4, 1, 0x000000, 255, a.rowLength, 4);
  // White at 128 over black, the colour going through 5-6-5 first:
  // 248 * 128 >> 8 = 124 -> 0x78 (5 bits), 252 * 128 >> 8 = 126 -> 0x7C.
  FillPixels(a.pixels, 1, 0, 2, 1, 0xFFFFFF, 128, a.rowLength, 4);
  EXPECT_EQ(GetRaw(a, 0, 0), 0u);
  EXPECT_EQ(PixelToColor(GetRaw(a, 1, 0), 4, 0), 0x787C78u);
  EXPECT_EQ(GetRaw(a, 3, 0), 0u);
  DeleteBitmap(b);
  b = NewPicture(12, 2, 1);
  a = Access(b);
  FillPixels(a.pixels, 0, 0, 2, 1, 0x204060, 255, a.rowLength, 12);
  FillPixels(a.pixels, 0, 0, 1, 1, 0xFFFFFF, 255, a.rowLength, 12);
  FillPixels(a.pixels, 0, 0, 2, 1, 0x000000, 64, a.rowLength, 12);
  // 255 + ((0 - 255) * 64 >> 8) = 255 - 64 = 191; 0x20 - 8 = 0x18 ...
  EXPECT_EQ(PixelToColor(GetRaw(a, 0, 0), 12, 0), 0xBFBFBFu);
  EXPECT_EQ(PixelToColor(GetRaw(a, 1, 0), 12, 0), 0x183048u);
  DeleteBitmap(b);
}

TEST(Bitmaps, ReadARGBAlphaDependsOnTheFormatPath) {
  for (int f : {0, 4, 10, 11, 12, 13, 8}) {
    vlBitmap* b = NewPicture(f, 3, 2);
    FillBitmapRect(b, 0, 0, 3, 2, 0xFFFFFF);
    WriteBitmapPixel(b, 1, 1, 0x123456, 0);
    uint32_t* argb = ReadBitmapARGB(b, 1, 1, 2, 1, 0);
    ASSERT_NE(argb, nullptr);
    const uint32_t alpha = argb[0] & 0xFF000000u;
    if (f == 4) EXPECT_EQ(argb[0], 0x00103450u);
    else if (f == 0) EXPECT_EQ(argb[0], 0x00103050u);
    else if (f == 8) EXPECT_EQ(argb[0], 0x00123456u);  // written pixel by pixel
    else EXPECT_EQ(argb[0] & 0xFFFFFF, 0x123456u) << f;
    if (f == 0 || f == 8) {
      EXPECT_EQ(alpha, 0u);
    }
    delete[] argb;
    EXPECT_EQ(ReadBitmapARGB(b, 2, 0, 2, 1, 0), nullptr);  // past the right edge
    DeleteBitmap(b);
  }
}

// Expected result of a mask fill and copy per mode on one byte.
TEST(MaskPlanes, FillAndCopyModes) {
  const uint8_t before = 0b10100101, src = 0b11001100;
  const uint8_t fillWant[6] = {0xFF, 0x00, 0xFF, static_cast<uint8_t>(~before), before, 0xFF};
  const uint8_t copyWant[6] = {before | src, static_cast<uint8_t>(before & ~src), src,
                               static_cast<uint8_t>(before ^ src), before & src, before | src};
  for (int mode = 0; mode <= 6; ++mode) {
    SCOPED_TRACE(mode);
    vlBitmap* m = NewMaskPlane(nullptr, 16, 1, 1, nullptr, 0);
    vlBitmap* s = NewMaskPlane(nullptr, 16, 1, 1, nullptr, 0);
    vlPixelAccess ma = Access(m), sa = Access(s);
    ma.pixels[0] = before;
    ma.pixels[1] = before;
    sa.pixels[0] = src;
    FillMaskRect(m, 0, 0, 8, 1, mode);
    EXPECT_EQ(ma.pixels[0], mode <= 5 ? fillWant[mode] : before);
    EXPECT_EQ(ma.pixels[1], before);
    // Copy source bits 0-7 into target bits 8-15: crosses the byte edge.
    CopyMaskRegion(s, 0, 0, m, 8, 0, 8, 1, mode, nullptr, 0);
    EXPECT_EQ(ma.pixels[1], mode <= 5 ? copyWant[mode] : before);
    DeleteMaskPlane(m);
    DeleteMaskPlane(s);
  }
  vlBitmap* m = NewMaskPlane(nullptr, 20, 2, 1, nullptr, 0);
  vlPixelAccess ma = Access(m);
  FillMaskRect(m, 3, 1, 10, 1, 0);  // bits 3-12 of row 1, MSB first
  EXPECT_EQ(ma.pixels[0], 0);
  EXPECT_EQ(ma.pixels[4], 0b00011111);
  EXPECT_EQ(ma.pixels[5], 0b11111000);
  EXPECT_EQ(ReadBitmapPixel(m, 3, 1, 1), 1u);
  EXPECT_EQ(ReadBitmapPixel(m, 2, 1, 1), 0u);
  WriteBitmapPixel(m, 3, 1, 3, 1);  // toggle
  EXPECT_EQ(ReadBitmapPixel(m, 3, 1, 1), 0u);
  DeleteMaskPlane(m);
}

TEST(Bitmaps, FromARGBMakesMaskAndAlphaPlanes) {
  const uint32_t argb[] = {0x80FF0000, 0x00000000, 0xFF00FF00, 0x40000000, 0x12345678, 0xFF000001};
  vlBitmap *b, *m, *a;
  ASSERT_EQ(BitmapFromARGB(argb, 0x000000, 3, 2, 3, 1, 2, 0, &b, &m, &a), 0);
  ASSERT_NE(m, nullptr);
  ASSERT_NE(a, nullptr);
  vlPixelAccess ma = Access(m), aa = Access(a);
  EXPECT_EQ(ma.pixels[0] & 0xE0, 0b10100000);  // black pixels transparent
  EXPECT_EQ(ma.pixels[ma.rowLength] & 0xE0, 0b01100000);
  EXPECT_EQ(aa.pixels[0], 0x80);
  EXPECT_EQ(aa.pixels[aa.rowLength + 1], 0x12);
  EXPECT_EQ(ReadBitmapPixel(b, 1, 1, 0), 0x345678u);
  uint32_t* back = ReadBitmapARGBMasked(b, 0, 0, 3, 2, m, nullptr, -1, 1, 0);
  EXPECT_EQ(back[0], 0xFFFF0000u);
  EXPECT_EQ(back[1], 0x00000000u);
  delete[] back;
  back = ReadBitmapARGBMasked(b, 0, 0, 3, 2, m, nullptr, 0xABCDEF, 0, 0);
  EXPECT_EQ(back[1], 0xABCDEFu);
  delete[] back;
  back = ReadBitmapARGBMasked(b, 0, 0, 3, 2, nullptr, a, 0x0000FF, 0, 0);
  EXPECT_EQ(back[0], 0x80FF0000u);
  EXPECT_EQ(back[1], 0x000000FFu);  // alpha 0: the colour ORed in
  delete[] back;
  DeleteMaskPlane(m);
  DeleteAlphaPlane(a);
  DeleteBitmap(b);
}

std::string TempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/vl_gfx_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// ImageMagick makes a picture and its composite over grey; the engine
// composites the same picture by its alpha plane into every 4-byte and
// 16-bit format and must agree within the rounding of >> 8 blends and
// 5-6-5 truncation.
TEST(BitmapsImageMagick, AlphaCompositeMatchesConvert) {
  // A real ImageMagick, not a stand-in earlier on the path.
  std::string convert;
  for (const char* c : {"convert", "/usr/bin/convert", "magick"}) {
    const std::string probe = std::string(c) + " -version 2>/dev/null | grep -q 'Version: ImageMagick'";
    if (std::system(probe.c_str()) == 0) {
      convert = c;
      break;
    }
  }
  if (convert.empty()) GTEST_SKIP() << "ImageMagick missing";
  const int w = 37, h = 11;
  const std::string src = TempPath("src.rgba"), want = TempPath("want.rgb");
  const std::string mk = convert + " -size " + std::to_string(w) + "x" + std::to_string(h) +
                         " gradient:'rgba(255,0,0,1)-rgba(0,64,255,0.1)' -depth 8 rgba:" + src;
  ASSERT_EQ(std::system(mk.c_str()), 0);
  const std::string comp = convert + " -size " + std::to_string(w) + "x" + std::to_string(h) + " -depth 8 rgba:" + src +
                           " -background 'rgb(128,128,128)' -flatten -depth 8 rgb:" + want;
  ASSERT_EQ(std::system(comp.c_str()), 0);
  std::vector<uint8_t> rgba = ReadFile(src), expect = ReadFile(want);
  std::remove(src.c_str());
  std::remove(want.c_str());
  ASSERT_EQ(rgba.size(), static_cast<size_t>(w * h * 4));
  ASSERT_EQ(expect.size(), static_cast<size_t>(w * h * 3));
  std::vector<uint32_t> argb(w * h);
  for (int i = 0; i < w * h; ++i)
    argb[i] = uint32_t{rgba[4 * i + 3]} << 24 | rgba[4 * i] << 16 | rgba[4 * i + 1] << 8 | rgba[4 * i + 2];
  for (int f : {4, 6, 10, 11, 12, 13}) {
    SCOPED_TRACE(f);
    SetGlobalPixelFormat(f);
    vlBitmap *pic, *mask, *alpha;
    ASSERT_EQ(BitmapFromARGB(argb.data(), -1, w, h, w, 1, 2, 0, &pic, &mask, &alpha), 0);
    vlBitmap* out = NewBitmap(w, h, 0, nullptr);
    SetGlobalPixelFormat(-1);
    FillBitmapRect(out, 0, 0, w, h, 0x808080);
    BltBitmapAlpha(pic, 0, 0, out, 0, 0, w, h, alpha);
    uint32_t* got = ReadBitmapARGB(out, 0, 0, w, h, 0);
    // 5-6-5 truncation of both pictures costs up to 7 + 4 steps.
    const int tol = f < 10 ? 12 : 2;
    int worst = 0;
    for (int i = 0; i < w * h; ++i)
      for (int c = 0; c < 3; ++c) {
        const int g = (got[i] >> (16 - 8 * c)) & 0xFF;
        const int d = std::abs(g - expect[3 * i + c]);
        if (d > worst) worst = d;
      }
    EXPECT_LE(worst, tol);
    delete[] got;
    DeleteAlphaPlane(alpha);
    DeleteBitmap(pic);
    DeleteBitmap(out);
  }
}

}  // namespace
