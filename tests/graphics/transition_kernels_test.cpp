// Dissolve planes, region copies and roll steps against references written
// from the visibility, copy and strip rules, on rows with padding.
#include "graphics/transition_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = rng();
  return v;
}

int Bit(const std::vector<uint8_t>& p, int rowBytes, int x, int y) {
  return (p[size_t(y) * rowBytes + x / 8] >> (7 - x % 8)) & 1;
}

TEST(Dissolve, BytePlanesFollowTheOrderMap) {
  const int w = 13, h = 5, srcRow = 16, dstRow = 15;
  const auto src = Random(size_t(srcRow) * h, 1), map = Random(size_t(w) * h, 2);
  for (int disappear : {0, 1})
    for (int level : {0, 1, 77, 128, 255})
      for (bool withSource : {true, false}) {
        std::vector<uint8_t> dst(size_t(dstRow) * h, 0x5A);
        vlDissolveJob j{withSource ? src.data() : nullptr, dst.data(), w, h, srcRow, dstRow, map.data(), 1, disappear};
        DissolveKernel(j, level);
        for (int y = 0; y < h; y++)
          for (int x = 0; x < dstRow; x++) {
            const uint8_t got = dst[size_t(y) * dstRow + x];
            if (x >= w) {
              ASSERT_EQ(got, 0x5A);
              continue;
            }
            const uint8_t s = withSource ? src[size_t(y) * srcRow + x] : 255;
            const bool below = map[size_t(y) * w + x] < level;
            const uint8_t want = below ? (disappear ? 0 : s) : (disappear ? s : 0);
            ASSERT_EQ(got, want) << x << "," << y << " level " << level << " disappear " << disappear;
          }
      }
}

TEST(Dissolve, MaskPlanesFollowTheOrderMap) {
  const int w = 19, h = 4, srcRow = 4, dstRow = 5;  // 19 bits fit 3 bytes
  const auto src = Random(size_t(srcRow) * h, 3);
  auto map = Random(size_t(w) * h, 4);
  map[0] = 255;
  for (int disappear : {0, 1})
    for (int level : {0, 100, 255})
      for (bool withSource : {true, false}) {
        std::vector<uint8_t> dst = Random(size_t(dstRow) * h, 5);
        const auto before = dst;
        vlDissolveJob j{withSource ? src.data() : nullptr, dst.data(), w, h, srcRow, dstRow, map.data(), 0, disappear};
        DissolveKernel(j, level);
        for (int y = 0; y < h; y++) {
          for (int x = 0; x < dstRow * 8; x++) {
            if (x >= w) {
              ASSERT_EQ(Bit(dst, dstRow, x, y), Bit(before, dstRow, x, y)) << "bit past the width changed";
              continue;
            }
            const int s = withSource ? Bit(src, srcRow, x, y) : 1;
            const bool below = map[size_t(y) * w + x] < level;
            const int want = below ? (disappear ? 0 : s) : (disappear ? s : 0);
            ASSERT_EQ(Bit(dst, dstRow, x, y), want) << x << "," << y << " level " << level;
          }
        }
        // Level 0 hides all when appearing; 255 leaves only map byte 255 in the old state.
        if (level == 0 && !disappear) {
          EXPECT_EQ(Bit(dst, dstRow, 5, 1), 0);
        }
        if (level == 255 && disappear) {
          EXPECT_EQ(Bit(dst, dstRow, 0, 0), withSource ? Bit(src, srcRow, 0, 0) : 1);
        }
      }
}

TEST(Dissolve, ShortRowsWriteNothing) {
  std::vector<uint8_t> dst(40, 7), map(40, 0), src(40, 9);
  DissolveKernel({src.data(), dst.data(), 10, 4, 10, 9, map.data(), 1, 0}, 255);
  DissolveKernel({src.data(), dst.data(), 10, 4, 1, 10, map.data(), 0, 0}, 255);
  for (uint8_t b : dst) EXPECT_EQ(b, 7);
}

// Two pictures of bpp bytes per pixel with planes; rows padded.
struct Pair {
  int bpp, w = 11, h = 6, srcRow = 13, dstRow = 12, maskRow = 3, alphaRow = 14;
  std::vector<uint8_t> sp, dp, sm, dm, sa, da;
  explicit Pair(int bpp_, unsigned seed) : bpp(bpp_) {
    sp = Random(size_t(srcRow) * h * bpp, seed);
    dp = Random(size_t(dstRow) * h * bpp, seed + 1);
    sm = Random(size_t(maskRow) * h, seed + 2);
    dm = Random(size_t(maskRow) * h, seed + 3);
    sa = Random(size_t(alphaRow) * h, seed + 4);
    for (size_t i = 0; i < sa.size(); i += 3) sa[i] = 0;
    da = Random(size_t(alphaRow) * h, seed + 5);
  }
  vlRegionCopy Record(bool mask, bool alpha) {
    vlRegionCopy rc;
    rc.sourcePixels = sp.data();
    rc.targetPixels = dp.data();
    rc.sourceMask = mask ? sm.data() : nullptr;
    rc.targetMask = dm.data();
    rc.sourceAlpha = alpha ? sa.data() : nullptr;
    rc.targetAlpha = da.data();
    rc.sourceRow = srcRow;
    rc.targetRow = dstRow;
    rc.sourceMaskRowBytes = rc.targetMaskRowBytes = maskRow;
    rc.sourceAlphaRowBytes = rc.targetAlphaRowBytes = alphaRow;
    return rc;
  }
};

// Applies the copy rule to copies of the target planes.
void RefCopy(const Pair& p, bool mask, bool alpha, int sx, int sy, int w, int h, int tx, int ty,
             std::vector<uint8_t>& dp, std::vector<uint8_t>& dm, std::vector<uint8_t>& da) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const size_t s = size_t(sy + y) * p.srcRow + sx + x, d = size_t(ty + y) * p.dstRow + tx + x;
      bool copy = true;
      if (mask) {
        const int on = Bit(p.sm, p.maskRow, sx + x, sy + y);
        copy = on;
        uint8_t& byte = dm[size_t(ty + y) * p.maskRow + (tx + x) / 8];
        const uint8_t m = uint8_t(0x80 >> ((tx + x) % 8));
        byte = on ? byte | m : byte & ~m;
      } else if (alpha) {
        const uint8_t a = p.sa[size_t(sy + y) * p.alphaRow + sx + x];
        copy = a != 0;
        da[size_t(ty + y) * p.alphaRow + tx + x] = a;
      }
      if (copy)
        for (int k = 0; k < p.bpp; k++) dp[d * p.bpp + k] = p.sp[s * p.bpp + k];
    }
}

TEST(RegionCopy, MaskAlphaAndPlainFor32And16) {
  for (int bpp : {4, 2})
    for (auto [mask, alpha] : {std::pair{true, false}, {false, true}, {false, false}, {true, true}}) {
      Pair p(bpp, unsigned(bpp * 10 + mask * 2 + alpha));
      auto dp = p.dp, dm = p.dm, da = p.da;
      RefCopy(p, mask, alpha, 3, 1, 7, 4, 2, 2, dp, dm, da);
      const vlRegionCopy rc = p.Record(mask, alpha);
      ASSERT_EQ((bpp == 4 ? RegionCopyPix32 : RegionCopyPix16)(rc, 3, 1, 7, 4, 2, 2), 1);
      EXPECT_EQ(p.dp, dp) << "bpp " << bpp << " mask " << mask << " alpha " << alpha;
      EXPECT_EQ(p.dm, dm);
      EXPECT_EQ(p.da, da);
    }
}

TEST(RegionCopy, RowsTooShortForTheRectangleWriteNothing) {
  for (auto [mask, alpha] : {std::pair{true, false}, {false, true}, {false, false}}) {
    Pair p(4, 77);
    const auto dp = p.dp, dm = p.dm, da = p.da;
    vlRegionCopy rc = p.Record(mask, alpha);
    EXPECT_EQ(RegionCopyPix32(rc, 8, 0, 6, 2, 0, 0), 1);  // past the source row
    EXPECT_EQ(RegionCopyPix32(rc, 0, 0, 6, 2, 7, 0), 1);  // past the target row
    EXPECT_EQ(RegionCopyPix32(rc, -1, 0, 6, 2, 0, 0), 1);
    rc.sourceMaskRowBytes = 1;
    rc.sourceAlphaRowBytes = 5;
    EXPECT_EQ(RegionCopyPix32(rc, 0, 0, 10, 2, 0, 0), 1);
    if (!mask && !alpha) {
      EXPECT_NE(p.dp, dp);  // plain copies ignore the planes' rows
      continue;
    }
    EXPECT_EQ(p.dp, dp);
    EXPECT_EQ(p.dm, dm);
    EXPECT_EQ(p.da, da);
  }
}

// Reference roll step: which strips land where.
void RefRoll(Pair& p, bool columns, int n, int pos, const std::vector<double>& off, int& copied, int& first) {
  copied = 0;
  first = -100000;
  const int limit = columns ? p.w : p.h;
  for (int i = 0; i < n; i++) {
    const int t = pos - n + 1 + i;
    const int s = pos + int(std::trunc(off[size_t(i)] / (2 * M_PI / n)));
    if (t < 0 || t >= limit || s < 0 || s >= limit) continue;
    if (columns) RefCopy(p, false, false, s, 0, 1, p.h, t, 0, p.dp, p.dm, p.da);
    else RefCopy(p, false, false, 0, s, p.w, 1, 0, t, p.dp, p.dm, p.da);
    if (copied++ == 0) first = t;
  }
}

TEST(Roll, StripsLandAtCurledPositions) {
  for (int bpp : {4, 2})
    for (bool columns : {true, false})
      for (int pos : {0, 3, 8, 14}) {
        const int n = 5;
        std::vector<double> off = {0.0, 0.4, 1.3, 2.6, -3.0};
        Pair got(bpp, unsigned(pos + bpp)), want(bpp, unsigned(pos + bpp));
        int copied, first;
        RefRoll(want, columns, n, pos, off, copied, first);
        vlRollJob j;
        j.copy = got.Record(false, false);
        j.width = got.w;
        j.height = got.h;
        j.offsets = off.data();
        j.columns = columns;
        j.count = n;
        j.position = pos;
        j.bytesPerPixel = bpp;
        RollEffectKernel(j);
        EXPECT_EQ(got.dp, want.dp) << "bpp " << bpp << " columns " << columns << " pos " << pos;
        EXPECT_EQ(j.copied, copied);
        EXPECT_EQ(j.firstStrip, first);
        EXPECT_EQ(j.resultPosition, pos);
      }
}

TEST(Roll, StepOutsideThePictureCopiesNothing) {
  Pair p(4, 9);
  const auto before = p.dp;
  std::vector<double> off = {0, 0, 0};
  vlRollJob j;
  j.copy = p.Record(false, false);
  j.width = p.w;
  j.height = p.h;
  j.offsets = off.data();
  j.columns = 1;
  j.count = 3;
  j.position = 40;
  j.bytesPerPixel = 4;
  RollEffectKernel(j);
  EXPECT_EQ(j.copied, 0);
  EXPECT_EQ(j.firstStrip, -100000);
  EXPECT_EQ(p.dp, before);
  // Three bytes per pixel has no region copy: nothing is written.
  j.position = 2;
  j.bytesPerPixel = 3;
  RollEffectKernel(j);
  EXPECT_EQ(j.copied, 0);
  EXPECT_EQ(p.dp, before);
  // A NaN offset gives no source strip.
  off[2] = std::nan("");
  j.bytesPerPixel = 4;
  RollEffectKernel(j);
  EXPECT_EQ(j.copied, 2);
}

}  // namespace
