// Every fast path against the general kernels, bit for bit: random sizes
// (odd widths included), clip positions, row lengths, byte alignments and
// pixel values (coverage 0 and 255 often), each instruction set apart.
// Buffers end at the last pixel of the rectangle, so a vector load past
// the end shows under ASan.
#include "graphics/fast_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "graphics/band_workers.h"
#include "graphics/bitmap.h"
#include "graphics/blit_loops.h"
#include "graphics/image_kernels.h"
#include "graphics/pixel_kernels.h"
#include "graphics/scaler.h"
#include "graphics/transition_kernels.h"
#include "graphics/yuv_convert.h"

namespace {

struct Plane {
  int32_t x, y, w, h, row;  // rectangle and row length, in elements of size bytes
  int32_t size, shift;      // element size; bytes before the first element
  std::vector<uint8_t> bytes;
  uint8_t* base() { return bytes.data() + shift; }
  uint8_t* at() { return base() + (static_cast<size_t>(y) * row + x) * size; }
};

// A rectangle w x h at a random position in a random row length; the
// buffer ends exactly after its last element.
Plane MakePlane(std::mt19937& rng, int32_t w, int32_t h, int32_t size, bool coverage = false) {
  Plane p{};
  p.w = w;
  p.h = h;
  p.size = size;
  p.x = static_cast<int32_t>(rng() % 5);
  p.y = static_cast<int32_t>(rng() % 3);
  p.row = p.x + w + static_cast<int32_t>(rng() % 9);
  p.shift = static_cast<int32_t>(rng() % 4);
  const size_t elements = static_cast<size_t>(p.y + h - 1) * p.row + p.x + w;
  p.bytes.resize(p.shift + elements * size);
  const uint32_t kind = rng() % 3;  // coverage: mostly 0/255, mixed, or random
  for (auto& b : p.bytes) {
    const uint32_t r = rng();
    if (!coverage || kind == 2) b = static_cast<uint8_t>(r);
    else if (kind == 0) b = (r & 0x100) ? 255 : 0;
    else b = (r % 4 == 0) ? 0 : (r % 4 == 1) ? 255 : static_cast<uint8_t>(r >> 8);
  }
  return p;
}

// The instruction sets of this processor, each alone (also where the
// fastest of several would be measured and chosen), then all together.
std::vector<uint32_t> FastSets(uint32_t detected) {
  std::vector<uint32_t> sets;
  if (detected & VL_CPU_AVX2) sets.push_back(VL_CPU_PLAIN | VL_CPU_AVX2);
  if (detected & VL_CPU_AVX2) sets.push_back(VL_CPU_PLAIN | VL_CPU_SSE2 | VL_CPU_AVX2);
  if (detected & VL_CPU_SSE2) sets.push_back(VL_CPU_PLAIN | VL_CPU_SSE2);
  if (detected & VL_CPU_PLAIN) sets.push_back(VL_CPU_PLAIN);
  return sets;
}

class FastPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFastPathFeatures(~0u);  // ask the processor (and the environment) again
    detected_ = FastPathFeatures();
  }
  void TearDown() override { SetFastPathFeatures(~0u); }

  // Runs op on a copy of the target for the general path and for each
  // instruction set and compares the copies. op gets the target buffer.
  void Compare(const char* what, int iteration, const std::vector<uint8_t>& target,
               const std::function<void(std::vector<uint8_t>&)>& op) {
    std::vector<uint8_t> general = target;
    SetFastPathFeatures(0);
    op(general);
    for (uint32_t set : FastSets(detected_)) {
      std::vector<uint8_t> fast = target;
      SetFastPathFeatures(set);
      op(fast);
      ASSERT_EQ(general, fast) << what << " iteration " << iteration << " features " << set;
    }
    SetFastPathFeatures(0);
  }
  // A w x h frame converted at 1:1 (tw = 0) or scaled to tw x th, compared
  // path against path; smoothly as the video player does it: in one pass
  // when it can, else converted whole and scaled.
  void YUVCase(std::mt19937& rng, int it, int32_t w, int32_t h, int32_t tw, int32_t th, int32_t format,
               bool smooth = false) {
    const int32_t bpp = format == 4 ? 2 : 4;
    Plane ys = MakePlane(rng, w, h, 1), us = MakePlane(rng, (w + 1) / 2, (h + 1) / 2, 1);
    Plane vs = MakePlane(rng, (w + 1) / 2, (h + 1) / 2, 1), dst = MakePlane(rng, tw ? tw : w, tw ? th : h, bpp);
    Compare(tw ? "scaled yuv" : "yuv", it, dst.bytes, [&](std::vector<uint8_t>& t) {
      vlYUVConvert j;
      j.planes[0] = ys.at();
      j.planes[1] = us.at();
      j.planes[2] = vs.at();
      j.planeRowBytes[0] = ys.row;
      j.planeRowBytes[1] = us.row;
      j.planeRowBytes[2] = vs.row;
      j.target = t.data() + dst.shift + (static_cast<size_t>(dst.y) * dst.row + dst.x) * bpp;
      j.sourceWidth = w;
      j.sourceHeight = h;
      j.targetWidth = tw;
      j.targetHeight = th;
      j.targetRowLength = dst.row;
      j.targetFormat = format;
      j.targetBytesPerPixel = bpp;
      if (smooth) {
        if (YUV420ToRGBSmooth(j)) return;
        std::vector<uint8_t> whole(static_cast<size_t>(w) * h * 4);
        vlYUVConvert one = j;
        one.target = whole.data();
        one.targetRowLength = w;
        ASSERT_EQ(YUV420ToRGB(one), 1);
        vlScaleJob sj{};
        sj.srcPixels = whole.data();
        sj.dstPixels = j.target;
        sj.srcWidth = sj.srcRowLength = w;
        sj.srcHeight = h;
        sj.dstWidth = tw;
        sj.dstHeight = th;
        sj.dstRowLength = dst.row;
        sj.smooth = 1;
        sj.format = format;
        sj.bytesPerPixel = 4;
        ScalePixels(sj);
        return;
      }
      ASSERT_EQ(tw ? YUV420ToRGBScaled(j) : YUV420ToRGB(j), 1);
    });
  }
  uint32_t detected_ = 0;
};

int32_t Format32(std::mt19937& rng) { return 10 + static_cast<int32_t>(rng() % 4); }

vlScaleJob ScaleJob(Plane& src, Plane& dst, uint8_t* target, int32_t format, int32_t smooth = 1) {
  vlScaleJob j{};
  j.srcPixels = src.at();
  j.dstPixels = target + dst.shift + (static_cast<size_t>(dst.y) * dst.row + dst.x) * dst.size;
  j.srcWidth = src.w;
  j.srcHeight = src.h;
  j.dstWidth = dst.w;
  j.dstHeight = dst.h;
  j.srcRowLength = src.row;
  j.dstRowLength = dst.row;
  j.smooth = smooth;
  j.format = format;
  j.bytesPerPixel = dst.size;
  return j;
}

// The alpha planes of a scale job; the target plane's bytes start at buffer.
void AddAlpha(vlScaleJob& j, Plane& src, Plane& dst, uint8_t* buffer) {
  j.srcAlpha = src.at();
  j.dstAlpha = buffer + dst.shift + static_cast<size_t>(dst.y) * dst.row + dst.x;
  j.srcAlphaRowBytes = src.row;
  j.dstAlphaRowBytes = dst.row;
}

TEST_F(FastPaths, EveryThirtyTwoBitFormatHasVectorRowsOnThisProcessor) {
  if (!(detected_ & VL_CPU_SSE2)) GTEST_SKIP() << "no x86 vector unit";
  for (int32_t f = 10; f <= 13; ++f) {
    EXPECT_NE(FastAlphaBlend(f), nullptr) << f;
    EXPECT_NE(FastCoverageCopy(f), nullptr) << f;
    EXPECT_NE(FastMaskCopy(f), nullptr) << f;
    EXPECT_NE(FastFill(f), nullptr) << f;
    EXPECT_NE(FastBlendColor(f), nullptr) << f;
    EXPECT_NE(FastCoverageColour(f), nullptr) << f;
    EXPECT_NE(FastMix(f, false), nullptr) << f;
    EXPECT_NE(FastMix(f, true), nullptr) << f;
    EXPECT_NE(FastScaleSmooth(f), nullptr) << f;
    EXPECT_NE(FastYUV420Row(f), nullptr) << f;
    EXPECT_NE(FastScaleNearest(f), nullptr) << f;
    EXPECT_NE(FastConvert(10, f), nullptr) << f;
    EXPECT_NE(FastConvert(f, 10), nullptr) << f;
  }
  EXPECT_NE(FastScaleNearest(4), nullptr);
  EXPECT_NE(FastConvert(10, 4), nullptr);
  EXPECT_NE(FastConvert(4, 10), nullptr);
  EXPECT_NE(FastJPEGYCCRow(), nullptr);
  EXPECT_NE(FastJPEGGreyRow(), nullptr);
  // The general path keeps every other format; switched off, nothing is fast.
  EXPECT_NE(FastAlphaBlend(4), nullptr);
  EXPECT_EQ(FastAlphaBlend(5), nullptr);
  EXPECT_EQ(FastAlphaBlend(8), nullptr);
  SetFastPathFeatures(0);
  EXPECT_EQ(FastAlphaBlend(10), nullptr);
  SetFastPathFeatures(VL_CPU_PLAIN);
  EXPECT_EQ(FastMix(10, false), nullptr);
}

// The environment switch, read again when the features are reset.
TEST_F(FastPaths, EnvironmentTurnsPathsOff) {
  const char* before = getenv("VL_FASTPATHS");
  const std::string saved = before ? before : "";
  setenv("VL_FASTPATHS", "noavx2", 1);
  SetFastPathFeatures(~0u);
  EXPECT_EQ(FastPathFeatures() & VL_CPU_AVX2, 0u);
  EXPECT_EQ(FastPathFeatures() & VL_CPU_SSE2, detected_ & VL_CPU_SSE2);
  setenv("VL_FASTPATHS", "nosse2", 1);
  SetFastPathFeatures(~0u);
  EXPECT_EQ(FastPathFeatures(), detected_ & VL_CPU_PLAIN);
  setenv("VL_FASTPATHS", "off", 1);
  SetFastPathFeatures(~0u);
  EXPECT_EQ(FastPathFeatures(), 0u);
  EXPECT_EQ(FastYUV420Row(10), nullptr);
  if (before) setenv("VL_FASTPATHS", saved.c_str(), 1);
  else unsetenv("VL_FASTPATHS");
}

// The blit of the source rectangle onto the target buffer (laid out as
// dst) through the coverage rectangle.
vlBlitJob BlendJob(Plane& src, Plane& cov, uint8_t* target, const Plane& dst, int32_t format) {
  vlBlitJob j;
  j.source = src.base();
  j.sourceX = src.x;
  j.sourceY = src.y;
  j.sourceRow = src.row;
  j.target = target + dst.shift;
  j.targetX = dst.x;
  j.targetY = dst.y;
  j.targetRow = dst.row;
  j.planeX = cov.x;
  j.planeY = cov.y;
  j.coverage = cov.base();
  j.coverageRowBytes = cov.row;
  j.width = dst.w;
  j.height = dst.h;
  j.format = format;
  return j;
}

TEST_F(FastPaths, AlphaBlendAndCoverageCopy) {
  for (int it = 0; it < 500; ++it) {
    std::mt19937 rng(it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 41), h = 1 + static_cast<int32_t>(rng() % 5);
    // Every fifth picture in RGB565, whose alpha blend has a fast path too.
    const int32_t format = it % 5 == 4 ? 4 : Format32(rng);
    const int32_t bpp = format == 4 ? 2 : 4;
    Plane src = MakePlane(rng, w, h, bpp), dst = MakePlane(rng, w, h, bpp), cov = MakePlane(rng, w, h, 1, true);
    for (int32_t mode : {VL_ALPHABLIT_BLEND, VL_ALPHABLIT_MASKED}) {
      Compare(mode ? "coverage copy" : "alpha blend", it, dst.bytes, [&](std::vector<uint8_t>& target) {
        AlphaBlitPixels(BlendJob(src, cov, target.data(), dst, format), bpp, mode);
      });
    }
  }
}

// Blends large enough to be split into bands on helper threads give the
// bytes of the general kernel run whole, on every instruction set, for odd
// widths, unaligned starts and sub-rectangles, coverage 0/255 or mixed.
TEST_F(FastPaths, AlphaBlendInBandsEqualsTheWholeGeneralBlend) {
  struct Size {
    int32_t w, h;
  };
  const Size sizes[] = {{1023, 300}, {517, 513}, {1920, 137}, {3, 90001}, {65, 4099}};
  SetBandFromBytes(0);  // these fit a large cache: split them all the same
  for (int it = 0; it < 10; ++it) {
    std::mt19937 rng(9100 + it);
    const Size size = sizes[it % 5];
    const int32_t format = it % 5 == 3 ? 4 : Format32(rng);
    const int32_t bpp = format == 4 ? 2 : 4;
    Plane src = MakePlane(rng, size.w, size.h, bpp), dst = MakePlane(rng, size.w, size.h, bpp);
    Plane cov = MakePlane(rng, size.w, size.h, 1, true);
    ASSERT_GE(int64_t{size.w} * size.h, kBandFromPixels);
    std::vector<uint8_t> whole = dst.bytes;
    SetFastPathFeatures(0);
    SetBandHelpers(0);
    AlphaBlitPixels(BlendJob(src, cov, whole.data(), dst, format), bpp, VL_ALPHABLIT_BLEND);
    std::vector<uint32_t> sets = FastSets(detected_);
    sets.push_back(0);
    for (uint32_t set : sets)
      for (int32_t helpers : {1, 3}) {
        std::vector<uint8_t> split = dst.bytes;
        SetFastPathFeatures(set);
        SetBandHelpers(helpers);
        AlphaBlitPixels(BlendJob(src, cov, split.data(), dst, format), bpp, VL_ALPHABLIT_BLEND);
        ASSERT_TRUE(split == whole) << "iteration " << it << " features " << set << " helpers " << helpers;
      }
  }
  SetBandHelpers(-1);
  SetBandFromBytes(-1);
}

// A picture blended onto itself a row lower reads rows that earlier rows
// wrote: the one top-to-bottom pass stays the result with helpers allowed.
TEST_F(FastPaths, AlphaBlendOntoItselfStaysOnePass) {
  const int32_t w = 1024, h = 600;
  std::mt19937 rng(77);
  std::vector<uint8_t> picture(static_cast<size_t>(w) * (h + 1) * 4), cov(static_cast<size_t>(w) * h);
  for (auto& b : picture) b = static_cast<uint8_t>(rng());
  for (auto& a : cov) a = static_cast<uint8_t>(64 + rng() % 128);
  auto blend = [&](std::vector<uint8_t>& p) {
    vlBlitJob j{};
    j.source = p.data();
    j.sourceRow = w;
    j.target = p.data();
    j.targetY = 1;
    j.targetRow = w;
    j.coverage = cov.data();
    j.coverageRowBytes = w;
    j.width = w;
    j.height = h;
    j.format = 10;
    AlphaBlitPixels(j, 4, VL_ALPHABLIT_BLEND);
  };
  SetBandFromBytes(0);
  for (uint32_t set : FastSets(detected_)) {
    SetFastPathFeatures(set);
    std::vector<uint8_t> whole = picture, split = picture;
    SetBandHelpers(0);
    blend(whole);
    SetBandHelpers(3);
    blend(split);
    ASSERT_TRUE(split == whole) << "features " << set;
  }
  SetBandHelpers(-1);
  SetBandFromBytes(-1);
}

// Every coverage value against the channel values at the ends of the
// blend's range (where a product or a sum would first overflow), each
// source and target pair in every byte of the pixel, format by format.
TEST_F(FastPaths, AlphaBlendEveryCoverageAtTheChannelEnds) {
  const uint8_t ends[] = {0, 1, 2, 126, 127, 128, 129, 253, 254, 255};
  std::vector<uint8_t> src, dst, cov;
  for (uint8_t d : ends)
    for (uint8_t c : ends)
      for (int a = 0; a < 256; ++a) {
        const uint8_t sb[4] = {c, d, c, static_cast<uint8_t>(255 - c)};
        const uint8_t db[4] = {d, c, static_cast<uint8_t>(255 - d), d};
        src.insert(src.end(), sb, sb + 4);
        dst.insert(dst.end(), db, db + 4);
        cov.push_back(static_cast<uint8_t>(a));
      }
  const int32_t w = 256, h = static_cast<int32_t>(cov.size()) / w;
  for (int32_t format = 10; format <= 13; ++format)
    Compare("alpha blend at the ends", format, dst, [&](std::vector<uint8_t>& target) {
      vlBlitJob j{};
      j.source = src.data();
      j.sourceRow = w;
      j.target = target.data();
      j.targetRow = w;
      j.coverage = cov.data();
      j.coverageRowBytes = w;
      j.width = w;
      j.height = h;
      j.format = format;
      AlphaBlitPixels(j, 4, VL_ALPHABLIT_BLEND);
    });
}

// The masked blit as BltBitmapMasked chooses it.
TEST_F(FastPaths, MaskCopy) {
  for (int it = 0; it < 300; ++it) {
    std::mt19937 rng(700 + it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 45), h = 1 + static_cast<int32_t>(rng() % 4);
    const int32_t format = Format32(rng);
    Plane src = MakePlane(rng, w, h, 4), dst = MakePlane(rng, w, h, 4);
    const int32_t bit = static_cast<int32_t>(rng() % 8);
    const int32_t maskRowBytes = (bit + w + 7) / 8 + static_cast<int32_t>(rng() % 3);
    std::vector<uint8_t> mask(static_cast<size_t>(maskRowBytes) * (h - 1) + (bit + w + 7) / 8);
    for (auto& b : mask) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng() % 3 == 0 ? 0 : rng());
    Compare("mask copy", it, dst.bytes, [&](std::vector<uint8_t>& t) {
      const vlMaskCopyFn fast = FastMaskCopy(format);
      (fast ? fast : PixelKernelsFor(format)->copyMasked)(src.at(), src.row,
                                                           t.data() + dst.shift + (size_t(dst.y) * dst.row + dst.x) * 4,
                                                           dst.row, w, h, mask.data(), maskRowBytes, bit);
    });
  }
}

TEST_F(FastPaths, AlphaPlaneColour) {
  for (int it = 0; it < 300; ++it) {
    std::mt19937 rng(500 + it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 39), h = 1 + static_cast<int32_t>(rng() % 4);
    const int32_t format = Format32(rng);
    Plane dst = MakePlane(rng, w, h, 4), cov = MakePlane(rng, w, h, 1, true);
    const int32_t mode = 1 + it % 4;
    const uint32_t colour = rng();  // the top byte too
    Compare("alpha-plane colour", it, dst.bytes, [&](std::vector<uint8_t>& target) {
      vlAlphaChannelJob j{};
      j.dst = target.data() + dst.shift + (static_cast<size_t>(dst.y) * dst.row + dst.x) * 4;
      j.dstRow = dst.row;
      j.width = w;
      j.height = h;
      j.coverage = cov.at();
      j.coverageRowBytes = cov.row;
      j.color = colour;
      j.intensity = 255;
      j.mode = mode;
      AlphaChannelPixels(format, j);
    });
  }
}

TEST_F(FastPaths, FillAndColourBlend) {
  for (int it = 0; it < 300; ++it) {
    std::mt19937 rng(1000 + it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 37), h = 1 + static_cast<int32_t>(rng() % 4);
    const int32_t format = Format32(rng);
    Plane dst = MakePlane(rng, w, h, 4);
    const uint32_t color = rng();
    const int32_t opacity = it % 5 == 0 ? 255 : it % 7 == 0 ? 0 : static_cast<int32_t>(rng() % 256);
    Compare("fill", it, dst.bytes, [&](std::vector<uint8_t>& target) {
      FillPixels(target.data() + dst.shift, dst.x, dst.y, w, h, color, opacity, dst.row, format);
    });
  }
}

// In place, and into a third picture (toward pixels of their own row
// length): the crossfade's single pass.
TEST_F(FastPaths, MixWithAndWithoutMask) {
  for (int it = 0; it < 600; ++it) {
    std::mt19937 rng(2000 + it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 45), h = 1 + static_cast<int32_t>(rng() % 4);
    const int32_t format = Format32(rng);
    Plane src = MakePlane(rng, w, h, 4), dst = MakePlane(rng, w, h, 4), toward = MakePlane(rng, w, h, 4);
    const bool third = it >= 300;
    const int32_t bit = static_cast<int32_t>(rng() % 8);
    const int32_t maskRowBytes = (bit + w + 7) / 8 + static_cast<int32_t>(rng() % 3);
    std::vector<uint8_t> mask(static_cast<size_t>(maskRowBytes) * (h - 1) + (bit + w + 7) / 8);
    for (auto& b : mask) b = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng() % 3 == 0 ? 0 : rng());
    const int32_t ratio = it % 6 == 0 ? 255 : it % 6 == 1 ? 0 : static_cast<int32_t>(rng() % 256);
    const bool masked = it % 2;
    Compare("mix", it, dst.bytes, [&](std::vector<uint8_t>& target) {
      vlMixJob j{src.at(), target.data() + dst.shift + (static_cast<size_t>(dst.y) * dst.row + dst.x) * 4,
                 masked ? mask.data() : nullptr, bit};
      if (third) j.toward = toward.at(), j.towardRow = toward.row;
      MixPix32(j, w, h, ratio, format, src.row, dst.row, maskRowBytes);
    });
  }
}

TEST_F(FastPaths, DissolveBytePlanes) {
  for (int it = 0; it < 200; ++it) {
    std::mt19937 rng(4000 + it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 80), h = 1 + static_cast<int32_t>(rng() % 4);
    Plane map = MakePlane(rng, w, h, 1), src = MakePlane(rng, w, h, 1, true), dst = MakePlane(rng, w, h, 1);
    map.row = w;  // the order map has no padding
    map.bytes.resize(static_cast<size_t>(w) * h);
    const int32_t level = it % 7 == 0 ? 0 : it % 7 == 1 ? 255 : static_cast<int32_t>(rng() % 256);
    Compare("dissolve", it, dst.bytes, [&](std::vector<uint8_t>& t) {
      vlDissolveJob j;
      j.source = it % 3 ? src.at() : nullptr;
      j.target = t.data() + dst.shift + static_cast<size_t>(dst.y) * dst.row + dst.x;
      j.width = w;
      j.height = h;
      j.sourceRowBytes = src.row;
      j.targetRowBytes = dst.row;
      j.orderMap = map.bytes.data();
      j.bytePlanes = 1;
      j.disappear = it % 2;
      DissolveKernel(j, level);
    });
  }
}

TEST_F(FastPaths, AlphaTimesOpacity) {
  for (int it = 0; it < 100; ++it) {
    std::mt19937 rng(6000 + it);
    const int32_t count = 1 + static_cast<int32_t>(rng() % 150);
    Plane src = MakePlane(rng, count, 1, 1, true), dst = MakePlane(rng, count, 1, 1);
    const int32_t intensity = it == 0 ? 0 : it == 1 ? 255 : static_cast<int32_t>(rng() % 256);
    Compare("alpha times opacity", it, dst.bytes,
            [&](std::vector<uint8_t>& t) { ScaleAlphaBytes(src.at(), t.data() + dst.shift + dst.x, count, intensity); });
  }
}

// The cover rule a row at a time, against the general path (which is
// the rule checked against its divisions in draw_kernels_test): every pair
// of coverages with every upper channel value, the lower channels varied
// with them; rows starting anywhere and ending in every tail length, half
// of them written in place over their inputs.
TEST_F(FastPaths, CoverOverRows) {
  constexpr int32_t kPairs = 256 * 256;
  std::vector<uint8_t> a(kPairs), under(kPairs);
  for (int32_t i = 0; i < kPairs; ++i) {
    a[i] = static_cast<uint8_t>(i);
    under[i] = static_cast<uint8_t>(i >> 8);
  }
  std::vector<uint32_t> rgb(kPairs), underRgb(kPairs);
  for (uint32_t c = 0; c < 256; ++c) {
    for (int32_t i = 0; i < kPairs; ++i) {
      const uint32_t d = (c * 37 + static_cast<uint32_t>(i) * 11) & 0xFF;
      rgb[i] = 0x5A000000u | c << 16 | (255 - c) << 8 | (c ^ 0x5A);
      underRgb[i] = d << 16 | (255 - d) << 8 | ((d * 7 + (i >> 8)) & 0xFF);
    }
    const int32_t from = static_cast<int32_t>(c % 5), count = kPairs - from - static_cast<int32_t>(c % 9);
    const bool inPlace = c % 2;
    std::vector<uint8_t> target(static_cast<size_t>(kPairs) * 5);
    std::memcpy(target.data(), rgb.data(), kPairs * 4);
    std::memcpy(target.data() + kPairs * 4, a.data(), kPairs);
    Compare("cover over", static_cast<int>(c), target, [&](std::vector<uint8_t>& t) {
      auto* outRgb = reinterpret_cast<uint32_t*>(t.data()) + from;
      uint8_t* outCover = t.data() + kPairs * 4 + from;
      CoverOverRow(inPlace ? outRgb : rgb.data() + from, inPlace ? outCover : a.data() + from,
                   underRgb.data() + from, under.data() + from, outRgb, outCover, count);
    });
  }
}

// At 1:1 and scaled up and down (rows converted whole and picked from, or
// gathered when they narrow below half; smoothly in one pass), odd sizes
// and every format row.
TEST_F(FastPaths, YUV420Frames) {
  for (int it = 0; it < 240; ++it) {
    std::mt19937 rng(5000 + it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 37), h = 1 + static_cast<int32_t>(rng() % 7);
    const int32_t format = it % 5 == 4 ? 4 : Format32(rng);
    const int32_t tw = it % 2 ? 1 + static_cast<int32_t>(rng() % 60) : 0, th = 1 + static_cast<int32_t>(rng() % 15);
    YUVCase(rng, it, w, h, tw, th, format, tw && format != 4 && it % 4 == 1);
  }
  std::mt19937 rng(11);
  YUVCase(rng, 1, 1920, 6, 1280, 4, 10);
  YUVCase(rng, 2, 640, 5, 1283, 11, 10);
  YUVCase(rng, 3, 641, 5, 1000, 9, 4);
  YUVCase(rng, 4, 1001, 5, 300, 7, 10);
  YUVCase(rng, 5, 1920, 9, 1280, 6, 10, true);
  YUVCase(rng, 6, 641, 5, 1283, 11, 12, true);
}

// Every luma and chroma triple through the vector rows of each
// instruction set, against the per-pixel rule.
TEST_F(FastPaths, YUVRowsEveryTriple) {
  std::vector<uint8_t> y(256), u(128), v(128), want(256 * 4), got(256 * 4);
  for (int i = 0; i < 256; ++i) y[i] = static_cast<uint8_t>(i);
  std::vector<vlYUVRowFn> rows;
  for (uint32_t set : FastSets(detected_)) {
    SetFastPathFeatures(set);
    rows.push_back(FastYUV420Row(10));
    ASSERT_NE(rows.back(), nullptr);
  }
  for (int uv = 0; uv < 65536; ++uv) {
    std::fill(u.begin(), u.end(), static_cast<uint8_t>(uv >> 8));
    std::fill(v.begin(), v.end(), static_cast<uint8_t>(uv));
    for (int i = 0; i < 256; ++i) {
      const uint32_t px = YUVToRGB(i, uv >> 8, uv & 255);
      std::memcpy(&want[i * 4], &px, 4);
    }
    for (size_t k = 0; k < rows.size(); ++k) {
      rows[k](y.data(), u.data(), v.data(), got.data(), 256);
      ASSERT_EQ(want, got) << "u " << (uv >> 8) << " v " << (uv & 255) << " row set " << k;
    }
  }
}

// ARGB words into every colour format (the fast ones: 4 and 10-13) as
// pictures are written from ARGB, and back as they are read to ARGB.
TEST_F(FastPaths, FormatConversionsBothWays) {
  for (int it = 0; it < 400; ++it) {
    std::mt19937 rng(8000 + it);
    const int32_t w = 1 + static_cast<int32_t>(rng() % 70), h = 1 + static_cast<int32_t>(rng() % 4);
    const int32_t format = it % 3 == 0 ? static_cast<int32_t>(rng() % 8) : Format32(rng);
    const int32_t bpp = format >= 10 ? 4 : 2;
    Plane pix = MakePlane(rng, w, h, bpp), argb = MakePlane(rng, w, h, 4);
    argb.bytes.erase(argb.bytes.begin(), argb.bytes.begin() + argb.shift);  // ARGB words are aligned
    argb.shift = 0;
    Compare("argb to format", it, pix.bytes, [&](std::vector<uint8_t>& t) {
      WriteARGBPixels(*PixelKernelsFor(format), format, reinterpret_cast<const uint32_t*>(argb.at()), argb.row,
                      t.data() + pix.shift + (static_cast<size_t>(pix.y) * pix.row + pix.x) * bpp, pix.row, w, h);
    });
    if (format != 4 && format < 10) continue;  // read back to ARGB: formats 4 and 10-13
    const int32_t rect[4] = {pix.x, pix.y, w, h};
    Compare("format to argb", it, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4, 0xA5),
            [&](std::vector<uint8_t>& t) {
              ReadPixelsARGB(pix.base(), reinterpret_cast<uint32_t*>(t.data()), rect, pix.row, bpp, format);
            });
  }
}

TEST_F(FastPaths, SmoothScaleWithPlanes) {
  for (int it = 0; it < 250; ++it) {
    std::mt19937 rng(3000 + it);
    const int32_t sw = 1 + static_cast<int32_t>(rng() % 30), sh = 1 + static_cast<int32_t>(rng() % 12);
    const int32_t dw = 1 + static_cast<int32_t>(rng() % 50), dh = 1 + static_cast<int32_t>(rng() % 14);
    const int32_t format = Format32(rng);
    Plane src = MakePlane(rng, sw, sh, 4), dst = MakePlane(rng, dw, dh, 4);
    Plane srcAlpha = MakePlane(rng, sw, sh, 1, true), dstAlpha = MakePlane(rng, dw, dh, 1);
    const bool withAlpha = it % 3 == 0;
    // The target pixels and its alpha plane side by side in one buffer.
    std::vector<uint8_t> target = dst.bytes;
    target.insert(target.end(), dstAlpha.bytes.begin(), dstAlpha.bytes.end());
    Compare("smooth scale", it, target, [&](std::vector<uint8_t>& t) {
      vlScaleJob j = ScaleJob(src, dst, t.data(), format);
      if (withAlpha) AddAlpha(j, srcAlpha, dstAlpha, t.data() + dst.bytes.size());
      ScalePixels(j);
    });
  }
}

// A 1080p-sized row through the bilinear passes, up and down, so the
// vector bodies (not only the tails) meet every fraction.
TEST_F(FastPaths, SmoothScaleLargePictures) {
  std::mt19937 rng(7);
  for (auto [sw, sh, dw, dh] : {std::array<int32_t, 4>{640, 9, 427, 6}, std::array<int32_t, 4>{320, 7, 641, 15}}) {
    Plane src = MakePlane(rng, sw, sh, 4), dst = MakePlane(rng, dw, dh, 4);
    Compare("large smooth scale", sw, dst.bytes,
            [&](std::vector<uint8_t>& t) { ScalePixels(ScaleJob(src, dst, t.data(), 10)); });
  }
}

// Nearest scaling up and down by any ratio (one load, two loads or a
// gather per vector, and the tails), 32-bit and RGB565, with the alpha
// plane alongside; every seventh picture is scaled within its own buffer,
// where the rows written change what the rule reads next.
TEST_F(FastPaths, NearestScale) {
  for (int it = 0; it < 400; ++it) {
    std::mt19937 rng(8000 + it);
    const int32_t sw = 1 + static_cast<int32_t>(rng() % 70), sh = 1 + static_cast<int32_t>(rng() % 9);
    const int32_t dw = 1 + static_cast<int32_t>(rng() % 90), dh = 1 + static_cast<int32_t>(rng() % 14);
    const int32_t format = it % 4 == 3 ? 4 : Format32(rng);
    const int32_t bpp = format == 4 ? 2 : 4;
    Plane src = MakePlane(rng, sw, sh, bpp), dst = MakePlane(rng, dw, dh, bpp);
    Plane srcAlpha = MakePlane(rng, sw, sh, 1, true), dstAlpha = MakePlane(rng, dw, dh, 1);
    const bool inPlace = it % 7 == 0;
    if (inPlace) dst = src;
    std::vector<uint8_t> target = dst.bytes;
    target.insert(target.end(), dstAlpha.bytes.begin(), dstAlpha.bytes.end());
    Compare("nearest scale", it, target, [&](std::vector<uint8_t>& t) {
      vlScaleJob j = ScaleJob(src, dst, t.data(), format, 0);
      if (inPlace) {  // the source one pixel right of the target, at most half as high
        j.srcPixels = j.dstPixels + (sw > 1 ? bpp : 0);
        j.srcWidth = sw > 1 ? sw - 1 : 1;
        j.srcHeight = 1 + (sh - 1) / 2;
        j.dstWidth = 1 + dw % sw;
        j.dstHeight = 1 + dh % sh;
      }
      if (it % 3 == 0 && !inPlace) AddAlpha(j, srcAlpha, dstAlpha, t.data() + dst.bytes.size());
      ScalePixels(j);
    });
  }
  // Picture-sized rows: the ratios of 1080p to 720p and 2160p, and steps
  // too wide for the loads.
  std::mt19937 rng(9);
  for (auto [sw, dw, bpp] : {std::array<int32_t, 3>{1920, 1280, 4}, std::array<int32_t, 3>{1920, 3840, 4},
                             std::array<int32_t, 3>{1001, 347, 4}, std::array<int32_t, 3>{640, 1283, 2},
                             std::array<int32_t, 3>{641, 300, 2}}) {
    Plane src = MakePlane(rng, sw, 5, bpp), dst = MakePlane(rng, dw, 9, bpp);
    const int32_t format = bpp == 2 ? 4 : 10;
    Compare("large nearest scale", sw, dst.bytes,
            [&](std::vector<uint8_t>& t) { ScalePixels(ScaleJob(src, dst, t.data(), format, 0)); });
  }
}

// The smooth scaler keeps its tables and row buffers from one call to the
// next: a scale of another source width to the same target width, one
// narrower after a wider one, one with the caller's tables after one
// without, must each come out as a fresh general scale does.
TEST_F(FastPaths, SmoothScaleReusesNothingStale) {
  std::mt19937 rng(11);
  const std::array<std::array<int32_t, 4>, 7> sizes{{{640, 9, 427, 6},
                                                     {641, 9, 427, 6},
                                                     {200, 5, 427, 7},
                                                     {640, 9, 426, 6},
                                                     {30, 3, 1000, 4},
                                                     {1000, 4, 30, 3},
                                                     {640, 9, 427, 6}}};
  for (int pass = 0; pass < 2; ++pass)
    for (size_t n = 0; n < sizes.size(); ++n) {
      const auto [sw, sh, dw, dh] = sizes[n];
      Plane src = MakePlane(rng, sw, sh, 4), dst = MakePlane(rng, dw, dh, 4);
      std::vector<uint16_t> xf(dw + 1), yf(dh + 1);
      std::vector<int32_t> xs(dw + 1), ys(dh + 1);
      const bool ownTables = (n + pass) % 2 == 1;
      Compare("smooth scale after another", static_cast<int>(n), dst.bytes, [&](std::vector<uint8_t>& t) {
        vlScaleJob j = ScaleJob(src, dst, t.data(), 10 + static_cast<int32_t>(n % 4));
        if (ownTables) {
          j.xFraction = xf.data();
          j.yFraction = yf.data();
          j.xStep = xs.data();
          j.yStep = ys.data();
        }
        ScalePixels(j);
      });
    }
}

// Threads scaling pictures of different sizes at once each get the bytes
// of the general path: nothing a scale keeps is shared between threads.
TEST_F(FastPaths, SmoothScaleOnSeveralThreads) {
  struct Case {
    Plane src, dst;
    std::vector<uint8_t> general;
    bool same = false;
  };
  std::mt19937 rng(12);
  std::vector<Case> cases(4);
  for (size_t i = 0; i < cases.size(); ++i) {
    const int32_t sw = 300 + 97 * static_cast<int32_t>(i), dw = 211 + 151 * static_cast<int32_t>(i);
    cases[i].src = MakePlane(rng, sw, 12, 4);
    cases[i].dst = MakePlane(rng, dw, 17, 4);
    cases[i].general = cases[i].dst.bytes;
  }
  SetFastPathFeatures(0);
  for (auto& c : cases) ScalePixels(ScaleJob(c.src, c.dst, c.general.data(), 10));
  SetFastPathFeatures(~0u);
  FastPathFeatures();
  std::vector<std::thread> threads;
  for (auto& c : cases)
    threads.emplace_back([&c] {
      bool same = true;
      for (int round = 0; round < 20; ++round) {
        std::vector<uint8_t> t = c.dst.bytes;
        ScalePixels(ScaleJob(c.src, c.dst, t.data(), 10));
        same = same && t == c.general;
      }
      c.same = same;
    });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_TRUE(cases[i].same) << "thread " << i;
}

// A made-rows scale whose row maker scales another picture on the same
// thread (of other sizes, with the thread's own tables) gives the bytes of
// scaling the whole source, and so does the inner scale.
TEST_F(FastPaths, SmoothScaleOfMadeRowsThatScaleAgain) {
  std::mt19937 rng(13);
  Plane src = MakePlane(rng, 333, 41, 4), dst = MakePlane(rng, 201, 29, 4);
  Plane other = MakePlane(rng, 97, 13, 4), otherDst = MakePlane(rng, 150, 31, 4);
  std::vector<uint8_t> whole = dst.bytes, otherWhole = otherDst.bytes;
  ScalePixels(ScaleJob(src, dst, whole.data(), 10));
  ScalePixels(ScaleJob(other, otherDst, otherWhole.data(), 10));
  struct Maker {
    Plane *src, *other, *otherDst;
    std::vector<uint8_t> otherOut;
    int calls = 0;
  } maker{&src, &other, &otherDst, otherDst.bytes};
  std::vector<uint8_t> made = dst.bytes;
  vlScaleJob j = ScaleJob(src, dst, made.data(), 10);
  j.srcPixels = nullptr;
  const vlMadeRows rows{[](void* context, int32_t sy, uint8_t* out) {
                          auto& m = *static_cast<Maker*>(context);
                          std::memcpy(out, m.src->at() + static_cast<size_t>(sy) * m.src->row * 4,
                                      static_cast<size_t>(m.src->w) * 4);
                          m.otherOut = m.otherDst->bytes;
                          ScalePixels(ScaleJob(*m.other, *m.otherDst, m.otherOut.data(), 10));
                          ++m.calls;
                        },
                        &maker};
  ASSERT_TRUE(ScaleMadeRowsSmooth(j, rows));
  EXPECT_GT(maker.calls, 0);
  EXPECT_EQ(made, whole);
  EXPECT_EQ(maker.otherOut, otherWhole);
}

// The smooth rows are chosen by speed among the sets allowed now, and
// chosen again when the allowed sets change.
TEST_F(FastPaths, SmoothScaleRowsChosenAmongAllowedSets) {
  if (!(detected_ & VL_CPU_AVX2)) GTEST_SKIP() << "one instruction set only";
  SetFastPathFeatures(VL_CPU_PLAIN | VL_CPU_SSE2);
  const vlScaleRows* sse2 = FastScaleSmooth(10);
  const vlScaleRows* sse2For12 = FastScaleSmooth(12);
  SetFastPathFeatures(VL_CPU_PLAIN | VL_CPU_AVX2);
  const vlScaleRows* avx2 = FastScaleSmooth(10);
  const vlScaleRows* avx2For12 = FastScaleSmooth(12);
  ASSERT_NE(sse2, nullptr);
  ASSERT_NE(avx2, nullptr);
  EXPECT_NE(sse2, avx2);
  EXPECT_NE(sse2For12, avx2For12);
  SetFastPathFeatures(VL_CPU_PLAIN | VL_CPU_SSE2 | VL_CPU_AVX2);
  const vlScaleRows* both = FastScaleSmooth(10);
  EXPECT_TRUE(both == sse2 || both == avx2);
  // One set serves every format.
  EXPECT_EQ(FastScaleSmooth(12), both == sse2 ? sse2For12 : avx2For12);
  SetFastPathFeatures(VL_CPU_PLAIN | VL_CPU_SSE2);
  EXPECT_EQ(FastScaleSmooth(10), sse2);
  SetFastPathFeatures(VL_CPU_PLAIN | VL_CPU_AVX2);
  EXPECT_EQ(FastScaleSmooth(10), avx2);
  SetFastPathFeatures(VL_CPU_PLAIN);
  EXPECT_EQ(FastScaleSmooth(10), nullptr);
}

}  // namespace
