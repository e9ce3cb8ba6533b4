// Swirl and water ripple: one displacement loop, two ways of finding the
// source position. Depends on the channel access helpers and IntSqrt.
#include "graphics/warp_kernels.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "graphics/channel_access.h"
#include "graphics/image_kernels.h"

using namespace vlpix;

namespace {

constexpr double kTwoPi = 6.283185307179586;

template <typename T>
std::unique_ptr<T[]> CopyRows(const T* src, intptr_t rowElems, int32_t rows, intptr_t count) {
  std::unique_ptr<T[]> out(new (std::nothrow) T[static_cast<size_t>(rows) * count]);
  if (!out) return out;
  for (int32_t y = 0; y < rows; ++y) std::memcpy(out.get() + y * count, src + y * rowElems, count * sizeof(T));
  return out;
}

inline int32_t ClampTo(int32_t v, int32_t n) { return v < 0 ? 0 : v >= n ? n - 1 : v; }

// Brings an angle into [0, 2 pi) by whole turns.
double ReduceTurns(double a) {
  if (!(std::fabs(a) < 1e6)) a = std::fmod(a, kTwoPi);  // wild phases (and NaN) at once
  while (a < 0) a += kTwoPi;
  while (a >= kTwoPi) a -= kTwoPi;
  return a;
}

// The fields both jobs share, by reference.
struct WarpView {
  const uint8_t* source;
  const uint8_t* second;
  uint8_t* target;
  int32_t sourceRow, secondRow, targetRow;
  int32_t format, width, height, fadeOut;
  const uint8_t* sourceAlpha;
  int32_t sourceAlphaRowBytes;
  uint8_t* targetAlpha;
  int32_t targetAlphaRowBytes;
  const uint8_t* sourceMask;
  int32_t sourceMaskRowBytes;
  uint8_t* targetMask;
  int32_t targetMaskRowBytes;
};

template <typename Job>
WarpView ViewOf(const Job& j) {
  return {j.source, j.second, j.target, j.sourceRow, j.secondRow, j.targetRow, j.format, j.width, j.height,
          j.fadeOut, j.sourceAlpha, j.sourceAlphaRowBytes, j.targetAlpha, j.targetAlphaRowBytes,
          j.sourceMask, j.sourceMaskRowBytes, j.targetMask, j.targetMaskRowBytes};
}

// fade: 0..255 for the second-source blend and the transition alpha.
template <int B, typename SourceOf>
void Warp(WarpView v, int32_t fade, SourceOf sourceOf) {
  const int32_t w = v.width, h = v.height;
  if (w <= 0 || h <= 0 || !v.target) return;
  std::unique_ptr<uint8_t[]> pixCopy, maskCopy, alphaCopy;
  const uint8_t* src = v.source;
  intptr_t srcRow = v.sourceRow;
  if (!src) {
    pixCopy = CopyRows(v.target, static_cast<intptr_t>(v.targetRow) * B, h, static_cast<intptr_t>(w) * B);
    if (!pixCopy) return;
    src = pixCopy.get();
    srcRow = w;
  }
  const uint8_t* smask = v.sourceMask;
  intptr_t smaskRow = v.sourceMaskRowBytes;
  if (!smask && v.targetMask) {
    maskCopy = CopyRows(v.targetMask, v.targetMaskRowBytes, h, v.targetMaskRowBytes);
    if (!maskCopy) return;
    smask = maskCopy.get();
    smaskRow = v.targetMaskRowBytes;
  }
  const bool brush = !v.sourceAlpha;
  const uint8_t* salpha = v.sourceAlpha;
  intptr_t salphaRow = v.sourceAlphaRowBytes;
  if (brush && v.targetAlpha) {
    alphaCopy = CopyRows(v.targetAlpha, v.targetAlphaRowBytes, h, w);
    if (!alphaCopy) return;
    salpha = alphaCopy.get();
    salphaRow = w;
  }
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* drow = v.target + static_cast<intptr_t>(y) * v.targetRow * B;
    for (int32_t x = 0; x < w; ++x) {
      int32_t sx, sy;
      sourceOf(x, y, &sx, &sy);
      sx = ClampTo(sx, w);
      sy = ClampTo(sy, h);
      const uint8_t* sp = src + (sy * srcRow + sx) * B;
      int32_t a = 255;
      if (salpha) a = salpha[sy * salphaRow + sx];
      if (!brush && a == 0) {
        if (v.targetAlpha) v.targetAlpha[static_cast<intptr_t>(y) * v.targetAlphaRowBytes + x] = 0;
        continue;
      }
      uint32_t out = Load<B>(sp);
      if (v.second) {
        const RGB f = ReadRGB<B>(v.format, sp);
        const RGB s = ReadRGB<B>(v.format, v.second + (static_cast<intptr_t>(y) * v.secondRow + x) * B);
        out = Pack<B>(v.format, Join<B>({(s.r + (((f.r - s.r) * fade) >> 8)) & 0xFF,
                                         (s.g + (((f.g - s.g) * fade) >> 8)) & 0xFF,
                                         (s.b + (((f.b - s.b) * fade) >> 8)) & 0xFF}));
      }
      Store<B>(drow + x * B, out);
      if (v.targetAlpha)
        v.targetAlpha[static_cast<intptr_t>(y) * v.targetAlphaRowBytes + x] =
            static_cast<uint8_t>(brush ? a : v.fadeOut ? a * (255 - fade) / 255 : a * fade / 255);
      if (v.targetMask && smask)
        SetMaskBit(v.targetMask + static_cast<intptr_t>(y) * v.targetMaskRowBytes, x,
                   GetMaskBit(smask + sy * smaskRow, sx));
    }
  }
}

template <int B>
void Swirl(const vlSwirlJob& j, int32_t degrees) {
  if (j.width <= 0 || j.height <= 0 || !j.sines || !j.cosines) return;
  if (degrees == 0 && !j.sourceAlpha && !j.second && !j.source) return;  // no turn: the picture as it is
  const double cx = 0.5 * j.width, cy = 0.5 * j.height;
  const double R = cx > cy ? cx : cy;
  double sx = 1, sy = 1;
  if (j.width <= j.height) sx = static_cast<double>(j.height) / j.width;
  else sy = static_cast<double>(j.width) / j.height;
  const double theta = degrees * 0.017453292519943295;
  int32_t fade = degrees * 255 / 720;
  if (fade < 0) fade = 0;
  Warp<B>(ViewOf(j), fade, [&](int32_t x, int32_t y, int32_t* ox, int32_t* oy) {
    const double dx = (x - cx) * sx, dy = (y - cy) * sy;
    const double D = dx * dx + dy * dy;
    if (D >= R * R) {
      *ox = x;
      *oy = y;
      return;
    }
    const double f = 1 - IntSqrt(vl::DoubleToInt32(D)) / R;
    const double a = theta * (f * f);
    double s, c;
    if (a >= 0) {
      int32_t i = vl::DoubleToInt32(a / 0.001);
      if (i > kVlWarpTableSize - 1 || i < 0) i = kVlWarpTableSize - 1;
      s = j.sines[i];
      c = j.cosines[i];
    } else {
      s = std::sin(a);
      c = std::cos(a);
    }
    *ox = vl::DoubleToInt32((c * dx - s * dy) / sx + cx);
    *oy = vl::DoubleToInt32((s * dx + c * dy) / sy + cy);
  });
}

template <int B>
void Ripple(vlRippleJob& j, int32_t frame) {
  if (j.width <= 0 || j.height <= 0 || !j.distances || !j.sines) return;
  int32_t fade = 0;
  if (frame >= 0) {
    const int64_t steps = j.steps > 0 ? j.steps : 1;
    fade = static_cast<int32_t>(int64_t{frame} * 255 / (2 * steps));
    if (fade > 255) fade = 255;
    j.phase = frame;
    j.amplitude = (frame < steps ? frame : 2 * steps - frame) * j.amplitudeStep;
  }
  j.cursor = j.distances;
  Warp<B>(ViewOf(j), fade, [&j](int32_t x, int32_t y, int32_t* ox, int32_t* oy) {
    RipplePoint(x, y, j);
    *ox = j.sourceX;
    *oy = j.sourceY;
  });
}

}  // namespace

void BuildSwirlTables(double* sines, double* cosines) {
  double a = 0;
  for (int32_t i = 0; i < kVlWarpTableSize; ++i, a += 0.001) {
    sines[i] = std::sin(a);
    cosines[i] = std::cos(a);
  }
}

void BuildRippleTable(double* sines, int32_t* distances, int32_t w, int32_t h, int32_t cx, int32_t cy) {
  double a = 0;
  for (int32_t i = 0; i < kVlWarpTableSize; ++i, a += 0.001) sines[i] = std::sin(a);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int64_t dx = int64_t{x} - cx, dy = int64_t{y} - cy;
      const int64_t d2 = dx * dx + dy * dy;
      *distances++ = IntSqrt(d2 > INT32_MAX ? INT32_MAX : static_cast<int32_t>(d2));
    }
}

void RipplePoint(int32_t x, int32_t y, vlRippleJob& j) {
  const int32_t d = j.cursor ? *j.cursor++ : 0;
  const double a = ReduceTurns(d / j.waveLength * kTwoPi - j.phase);
  int32_t i = vl::DoubleToInt32(a / 0.001);
  if (i < 0 || i > kVlWarpTableSize - 1) i = kVlWarpTableSize - 1;
  double s = j.amplitude * j.sines[i];
  // A centre on the picture's top-left corner leaves no radius to fade
  // over: (R - d) / R would be 0 / 0 or infinite and send every pixel to
  // the corner, so nothing moves.
  s = j.radius > 0 ? s * ((j.radius - d) / j.radius) : 0;
  if (d != 0) s *= j.waveLength / d;
  j.sourceX = ClampTo(vl::DoubleToInt32(s * (x - j.centerX) + x), j.width);
  j.sourceY = ClampTo(vl::DoubleToInt32(s * (y - j.centerY) + y), j.height);
}

void SwirlPix16(const vlSwirlJob& j, int32_t degrees) { Swirl<2>(j, degrees); }
void SwirlPix32(const vlSwirlJob& j, int32_t degrees) { Swirl<4>(j, degrees); }
void WaterRipplePix16(vlRippleJob& j, int32_t frame) { Ripple<2>(j, frame); }
void WaterRipplePix32(vlRippleJob& j, int32_t frame) { Ripple<4>(j, frame); }
