// Video frame conversion checked pixel by pixel against a slow reference
// built from the BT.601 integer ratios, the sampling rules and the field
// layouts of every target format.
#include "graphics/yuv_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct Rgb { int r, g, b; };

int Clamp(long long v) { return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v); }

Rgb RefColor(int y, int u, int v) {
  return {Clamp((2609823LL * v + 1904000LL * y - 363703744LL) / 1635200),
          Clamp((3827562LL * y - 1287801LL * u - 2672387LL * v + 447306710LL) / 3287200),
          Clamp((1649289LL * u + 952000LL * y - 225932192LL) / 817600)};
}

// Bytes of one pixel in memory, little-endian words.
std::vector<uint8_t> RefBytes(Rgb c, int format) {
  const unsigned R = c.r, G = c.g, B = c.b;
  unsigned w = 0;
  switch (format) {
    case 0: case 2: w = (R & 0xF8) << 7 | (G & 0xF8) << 2 | B >> 3; break;
    case 1: case 3: w = (B & 0xF8) << 7 | (G & 0xF8) << 2 | R >> 3; break;
    case 4: case 6: w = (R & 0xF8) << 8 | (G & 0xFC) << 3 | B >> 3; break;
    case 5: case 7: w = (B & 0xF8) << 8 | (G & 0xFC) << 3 | R >> 3; break;
    case 8: return {uint8_t(R), uint8_t(G), uint8_t(B)};
    case 9: return {uint8_t(B), uint8_t(G), uint8_t(R)};
    case 10: w = R << 16 | G << 8 | B; break;
    case 11: w = B << 24 | G << 16 | R << 8; break;
    case 12: w = R << 24 | G << 16 | B << 8; break;
    case 13: w = B << 16 | G << 8 | R; break;
  }
  if (format <= 7) {
    if (format == 2 || format == 3 || format == 6 || format == 7) return {uint8_t(w >> 8), uint8_t(w)};
    return {uint8_t(w), uint8_t(w >> 8)};
  }
  return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
}

int Bpp(int format) { return format <= 7 ? 2 : format <= 9 ? 3 : 4; }

// A frame whose planes carry padding bytes past each row.
struct Frame {
  int w, h;
  std::vector<uint8_t> y, u, v;
  int yRow, cRowU, cRowV;
  Frame(int w_, int h_, unsigned seed) : w(w_), h(h_) {
    std::mt19937 rng(seed);
    yRow = w + 5;
    cRowU = (w + 1) / 2 + 3;
    cRowV = (w + 1) / 2 + 7;
    y.resize(size_t(yRow) * h);
    u.resize(size_t(cRowU) * ((h + 1) / 2));
    v.resize(size_t(cRowV) * ((h + 1) / 2));
    for (auto& b : y) b = rng();
    for (auto& b : u) b = rng();
    for (auto& b : v) b = rng();
  }
  Rgb At(int sx, int sy) const {
    return RefColor(y[size_t(sy) * yRow + sx], u[size_t(sy / 2) * cRowU + sx / 2], v[size_t(sy / 2) * cRowV + sx / 2]);
  }
};

vlYUVConvert Job(const Frame& f, std::vector<uint8_t>& out, int format, int tw, int th, int rowLen) {
  vlYUVConvert j;
  j.planes[0] = f.y.data();
  j.planes[1] = f.u.data();
  j.planes[2] = f.v.data();
  j.planeRowBytes[0] = f.yRow;
  j.planeRowBytes[1] = f.cRowU;
  j.planeRowBytes[2] = f.cRowV;
  out.assign(size_t(rowLen) * th * Bpp(format), 0xA5);
  j.target = out.data();
  j.sourceWidth = f.w;
  j.sourceHeight = f.h;
  j.targetWidth = tw;
  j.targetHeight = th;
  j.targetRowLength = rowLen;
  j.targetFormat = format;
  j.targetBytesPerPixel = Bpp(format);
  return j;
}

// Every written pixel against the reference at its source position; the
// row padding keeps its fill.
template <typename SourceOf>
void ExpectPicture(const std::vector<uint8_t>& out, int format, int tw, int th, int rowLen, const Frame& f,
                   SourceOf sourceOf) {
  const int bpp = Bpp(format);
  for (int y = 0; y < th; y++)
    for (int x = 0; x < rowLen; x++) {
      const uint8_t* p = &out[(size_t(y) * rowLen + x) * bpp];
      if (x >= tw) {
        for (int k = 0; k < bpp; k++) ASSERT_EQ(p[k], 0xA5) << "padding " << x << "," << y;
        continue;
      }
      int sx, sy;
      sourceOf(x, y, sx, sy);
      const auto want = RefBytes(f.At(sx, sy), format);
      for (int k = 0; k < bpp; k++)
        ASSERT_EQ(p[k], want[k]) << "format " << format << " pixel " << x << "," << y << " byte " << k;
    }
}

TEST(YUVConvert, ColourCornersAndClamping) {
  auto eq = [](uint32_t c, int r, int g, int b) { EXPECT_EQ(c, uint32_t(r << 16 | g << 8 | b)); };
  eq(YUVToRGB(16, 128, 128), 0, 0, 0);
  eq(YUVToRGB(235, 128, 128), 255, 255, 255);
  EXPECT_EQ(YUVToRGB(255, 128, 255) >> 16, 255u);
  EXPECT_EQ(YUVToRGB(0, 0, 128) & 0xFF, 0u);
  // Every input against the reference, and within one step of the
  // real-valued BT.601 expression it approximates.
  for (int y = 0; y < 256; y += 3)
    for (int u = 0; u < 256; u += 5)
      for (int v = 0; v < 256; v += 7) {
        const Rgb want = RefColor(y, u, v);
        const uint32_t got = YUVToRGB(y, u, v);
        ASSERT_EQ(got, uint32_t(want.r << 16 | want.g << 8 | want.b)) << y << " " << u << " " << v;
        const double yy = 255.0 / 219 * (y - 16), cu = 255.0 / 224 * (u - 128), cv = 255.0 / 224 * (v - 128);
        const double fr = yy + 1.402 * cv, fg = yy - 0.344136 * cu - 0.714136 * cv, fb = yy + 1.772 * cu;
        auto near = [](int got8, double f) { return std::abs(got8 - std::clamp(f, 0.0, 255.0)) <= 1.0; };
        ASSERT_TRUE(near(int(got >> 16), fr) && near(int((got >> 8) & 0xFF), fg) && near(int(got & 0xFF), fb))
            << y << " " << u << " " << v;
      }
}

TEST(YUVConvert, OneToOneAllFormatsOddSizes) {
  for (int format = 0; format <= 13; format++)
    for (auto [w, h] : {std::pair{1, 1}, {7, 5}, {16, 9}, {13, 12}}) {
      const Frame f(w, h, unsigned(format * 100 + w * 7 + h));
      std::vector<uint8_t> out;
      const int rowLen = w + 3;
      ASSERT_EQ(YUV420ToRGB(Job(f, out, format, 999, 999, rowLen)), 1);  // target size ignored
      ExpectPicture(out, format, w, h, rowLen, f, [](int x, int y, int& sx, int& sy) { sx = x, sy = y; });
    }
}

TEST(YUVConvert, LastEvenRowUsesLastChromaRow) {
  Frame f(4, 4, 3);
  // Make the last chroma row distinct so a wrong row shows.
  for (int i = 0; i < 2; i++) f.u[size_t(f.cRowU) + i] = 250, f.v[size_t(f.cRowV) + i] = 10;
  std::vector<uint8_t> out;
  ASSERT_EQ(YUV420ToRGB(Job(f, out, 10, 4, 4, 4)), 1);
  const Rgb c = RefColor(f.y[size_t(3) * f.yRow], 250, 10);
  EXPECT_EQ(out[size_t(12) * 4 + 2], c.r);
  EXPECT_EQ(out[size_t(12) * 4 + 0], c.b);
}

TEST(YUVConvert, ScaledMatchesStepRules) {
  const std::pair<int, int> sizes[] = {{7, 5}, {16, 9}, {3, 3}, {20, 1}, {9, 17}};
  for (int format = 0; format <= 13; format++)
    for (auto [w, h] : {std::pair{7, 5}, {16, 10}})
      for (auto [tw, th] : sizes) {
        const Frame f(w, h, unsigned(format + w * 31 + tw * 7 + th));
        std::vector<uint8_t> out;
        const int rowLen = tw + 2;
        ASSERT_EQ(YUV420ToRGBScaled(Job(f, out, format, tw, th, rowLen)), 1);
        const long long step = static_cast<long long>(std::trunc(static_cast<long double>(w) / tw * 65536));
        std::vector<int> rows;
        double acc = 0;
        for (int y = 0; y < th; y++, acc += double(h) / th) rows.push_back(int(acc));
        ExpectPicture(out, format, tw, th, rowLen, f, [&](int x, int y, int& sx, int& sy) {
          sx = int((step * x) >> 16);
          sy = rows[size_t(y)];
        });
      }
}

TEST(YUVConvert, ScaledSameSizeIsOneToOne) {
  const Frame f(11, 7, 9);
  std::vector<uint8_t> a, b;
  ASSERT_EQ(YUV420ToRGB(Job(f, a, 12, 11, 7, 11)), 1);
  ASSERT_EQ(YUV420ToRGBScaled(Job(f, b, 12, 11, 7, 11)), 1);
  EXPECT_EQ(a, b);
}

TEST(YUVConvert, RejectsShortRowsAndMismatchedFormats) {
  const Frame f(8, 4, 5);
  std::vector<uint8_t> out;
  vlYUVConvert j = Job(f, out, 10, 8, 4, 8);
  auto untouched = [&] {
    for (uint8_t b : out)
      if (b != 0xA5) return false;
    return true;
  };
  j.targetRowLength = 7;
  EXPECT_EQ(YUV420ToRGB(j), 0);
  EXPECT_EQ(YUV420ToRGBScaled(j), 0);
  j = Job(f, out, 10, 8, 4, 8);
  j.planeRowBytes[0] = 7;
  EXPECT_EQ(YUV420ToRGB(j), 0);
  j = Job(f, out, 10, 8, 4, 8);
  j.planeRowBytes[2] = 3;
  EXPECT_EQ(YUV420ToRGB(j), 0);
  j = Job(f, out, 10, 8, 4, 8);
  j.planes[1] = nullptr;
  EXPECT_EQ(YUV420ToRGB(j), 0);
  j = Job(f, out, 10, 0, 4, 8);
  EXPECT_EQ(YUV420ToRGBScaled(j), 0);
  EXPECT_TRUE(untouched());
  // Four bytes per pixel with a 16-bit format code writes nothing.
  j = Job(f, out, 10, 8, 4, 8);
  j.targetFormat = 4;
  EXPECT_EQ(YUV420ToRGB(j), 1);
  EXPECT_TRUE(untouched());
}

}  // namespace
