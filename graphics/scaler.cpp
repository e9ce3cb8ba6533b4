// The scaler: nearest neighbour with 16.16 column steps, or bilinear
// through per-column and per-row step tables. Depends on the pixel
// kernels' pixUnpackRGB/pixPackRGB and vm/convert.h.
#include "graphics/scaler.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "graphics/fast_paths.h"
#include "graphics/pixel_format.h"
#include "graphics/pixel_kernels.h"
#include "vm/convert.h"

namespace {

uint32_t StepOf(long double ratio) {
  return static_cast<uint32_t>(vl::DoubleToInt64(static_cast<double>(ratio * 65536.0L)));
}

void ScaleMaskNearest(const vlScaleJob& j, float xr, float yr) {
  const uint32_t s = StepOf(xr);
  long double rowAcc = 0;
  for (int32_t ty = 0; ty < j.dstHeight; ++ty, rowAcc += yr) {
    const int32_t sy = vl::DoubleToInt32(static_cast<double>(rowAcc));
    const uint8_t* srow = j.srcMask + static_cast<intptr_t>(sy) * j.srcMaskRowBytes;
    uint8_t* drow = j.dstMask + static_cast<intptr_t>(ty) * j.dstMaskRowBytes;
    uint64_t acc = 0;
    for (int32_t i = 0; i < j.dstWidth; ++i, acc += s)
      SetMaskBit(drow, i, GetMaskBit(srow, static_cast<int32_t>(acc >> 16) + j.x));
  }
}

void ScaleAlphaNearest(const vlScaleJob& j, float xr, float yr) {
  const uint32_t s = StepOf(xr);
  long double rowAcc = 0;
  for (int32_t ty = 0; ty < j.dstHeight; ++ty, rowAcc += yr) {
    const int32_t sy = vl::DoubleToInt32(static_cast<double>(rowAcc));
    const uint8_t* srow = j.srcAlpha + static_cast<intptr_t>(sy) * j.srcAlphaRowBytes;
    uint8_t* drow = j.dstAlpha + static_cast<intptr_t>(ty) * j.dstAlphaRowBytes;
    uint64_t acc = 0;
    for (int32_t i = 0; i < j.dstWidth; ++i, acc += s) drow[i] = srow[acc >> 16];
  }
}

template <int B>
void NearestPixels(const vlScaleJob& j, long double xr, long double yr) {
  const uint64_t s = StepOf(xr);
  long double rowAcc = 0;
  for (int32_t ty = 0; ty < j.dstHeight; ++ty, rowAcc += yr) {
    const int32_t sy = vl::DoubleToInt32(static_cast<double>(rowAcc));
    const uint8_t* srow = j.srcPixels + static_cast<intptr_t>(sy) * j.srcRowLength * B;
    uint8_t* d = j.dstPixels + static_cast<intptr_t>(ty) * j.dstRowLength * B;
    uint64_t acc = 0;
    int32_t i = 0;
    for (; i + 8 <= j.dstWidth; i += 8, d += 8 * B)
      for (int k = 0; k < 8; ++k, acc += s) std::memcpy(d + k * B, srow + (acc >> 16) * B, B);
    for (; i < j.dstWidth; ++i, d += B, acc += s) std::memcpy(d, srow + (acc >> 16) * B, B);
  }
}

// What a scale needs besides the pictures, kept per thread from call to
// call: made afresh for every picture, the tables and row buffers cost
// more (allocation, clearing, the first touch of their pages) than a small
// scale itself. The column tables are redone only when the widths change.
struct Scratch {
  std::vector<uint16_t> xFrac, yFrac;
  std::vector<int32_t> xStep, yStep;
  std::vector<int32_t> index;   // source column of each target column
  std::vector<uint16_t> frac4;  // its fraction, once per channel
  int32_t columnsFor[2] = {-1, -1};  // source and target widths of index and frac4
  std::vector<uint16_t> rows;   // two rows interpolated along x
  std::vector<uint8_t> made;    // two made source rows
  std::vector<int32_t> nearest; // nearest scaling's source columns
};
thread_local Scratch tScratch;
thread_local bool tScratchBusy = false;

// The thread's scratch for one scale, or, when a made-rows callback scales
// again while its own scale runs, one for the inner scale alone.
class ScratchLease {
 public:
  ScratchLease() : own_(tScratchBusy ? new Scratch : nullptr) { tScratchBusy = true; }
  ~ScratchLease() {
    if (!own_) tScratchBusy = false;
  }
  ScratchLease(const ScratchLease&) = delete;
  ScratchLease& operator=(const ScratchLease&) = delete;
  Scratch& get() { return own_ ? *own_ : tScratch; }

 private:
  std::unique_ptr<Scratch> own_;
};

// Grows v to n elements at least (never shrinks: the next call reuses it).
template <typename T>
T* Room(std::vector<T>& v, size_t n) {
  if (v.size() < n) v.resize(n);
  return v.data();
}

// The same rule through a fast row kernel: each target column's source
// column is worked out once per call, and a target row that reads the same
// source row as the one above is a copy of it. False (nothing written)
// when there is no fast path, memory is short, or the target overlaps the
// source (a row above may then have changed what the next one reads).
bool NearestFast(const vlScaleJob& j, long double xr, long double yr, Scratch& sc) {
  const int32_t B = j.bytesPerPixel;
  const vlNearestRowFn row = B == BytesPerPixelOfFormat(j.format) ? FastScaleNearest(j.format) : nullptr;
  if (!row) return false;
  const auto span = [B](const uint8_t* p, int32_t rows, int32_t rowLength, int32_t width) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    return std::pair{a, a + ((static_cast<uintptr_t>(rows) - 1) * rowLength + width) * B};
  };
  const auto [s0, s1] = span(j.srcPixels, j.srcHeight, j.srcRowLength, j.srcWidth);
  const auto [d0, d1] = span(j.dstPixels, j.dstHeight, j.dstRowLength, j.dstWidth);
  if (s0 < d1 && d0 < s1) return false;
  int32_t* index;
  try {
    index = Room(sc.nearest, j.dstWidth);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const uint64_t s = StepOf(xr);
  uint64_t acc = 0;
  for (int32_t i = 0; i < j.dstWidth; ++i, acc += s) index[i] = static_cast<int32_t>(acc >> 16);
  long double rowAcc = 0;
  int32_t above = -1;
  for (int32_t ty = 0; ty < j.dstHeight; ++ty, rowAcc += yr) {
    const int32_t sy = vl::DoubleToInt32(static_cast<double>(rowAcc));
    uint8_t* d = j.dstPixels + static_cast<intptr_t>(ty) * j.dstRowLength * B;
    if (sy == above) std::memcpy(d, d - static_cast<intptr_t>(j.dstRowLength) * B, static_cast<size_t>(j.dstWidth) * B);
    else row(j.srcPixels + static_cast<intptr_t>(sy) * j.srcRowLength * B, index, j.dstWidth, j.srcWidth, d);
    above = sy;
  }
  return true;
}

int32_t Lerp(int32_t a, int32_t b, uint32_t f) { return a + (((b - a) * static_cast<int32_t>(f)) >> 16); }

void FillTables(int32_t srcSize, int32_t dstSize, uint16_t* frac, int32_t* step) {
  const uint32_t s = static_cast<uint32_t>((int64_t{srcSize} - 1) * 65536 / dstSize);
  uint32_t a = 0;
  for (int32_t i = 0; i <= dstSize; ++i) {
    step[i] = static_cast<int32_t>(a >> 16);
    frac[i] = static_cast<uint16_t>(a & 0xFFFF);
    a = frac[i] + s;
  }
}

// The pixels in two passes: each source row used is interpolated along x
// once (kept while the next target row still needs it), then pairs of
// such rows along y, which is the same arithmetic in the same order as
// the per-pixel rule.
void SmoothRows(const vlScaleJob& j, const vlScaleRows& k, const uint16_t* xFrac, const int32_t* xStep,
                const uint16_t* yFrac, const int32_t* yStep, Scratch& sc, const vlMadeRows* made = nullptr) {
  int32_t* index = Room(sc.index, j.dstWidth);
  uint16_t* frac4 = Room(sc.frac4, static_cast<size_t>(j.dstWidth) * 4);
  if (sc.columnsFor[0] != j.srcWidth || sc.columnsFor[1] != j.dstWidth) {
    sc.columnsFor[0] = -1;
    int32_t sx = 0;
    for (int32_t tx = 0; tx < j.dstWidth; ++tx) {
      index[tx] = sx;
      for (int c = 0; c < 4; ++c) frac4[tx * 4 + c] = xFrac[tx];
      sx += xStep[tx + 1];
      if (sx >= j.srcWidth) sx = j.srcWidth - 1;
    }
    sc.columnsFor[0] = j.srcWidth;
    sc.columnsFor[1] = j.dstWidth;
  }
  const size_t rowValues = static_cast<size_t>(j.dstWidth) * 4;
  uint16_t* buffers = Room(sc.rows, rowValues * 2);
  uint16_t* rows[2] = {buffers, buffers + rowValues};
  int32_t held[2] = {-1, -1};  // source row in each buffer
  // Made rows: two at most are read at once, so two buffers take turns.
  uint8_t* madeRows = made ? Room(sc.made, static_cast<size_t>(j.srcWidth) * 8) : nullptr;
  int turn = 0;
  auto source = [&](int32_t sy) -> const uint8_t* {
    if (!made) return j.srcPixels + static_cast<intptr_t>(sy) * j.srcRowLength * 4;
    uint8_t* out = madeRows + static_cast<size_t>(turn) * j.srcWidth * 4;
    turn ^= 1;
    made->row(made->context, sy, out);
    return out;
  };
  int32_t sy = 0;
  for (int32_t ty = 0; ty < j.dstHeight; ++ty) {
    const int32_t sy2 = sy + 1 < j.srcHeight ? sy + 1 : sy;
    // Rows only move down: keep a buffer that holds sy or sy2, fill the other.
    const int top = held[0] == sy ? 0 : held[1] == sy ? 1 : -1;
    const int bottom = held[0] == sy2 ? 0 : held[1] == sy2 ? 1 : -1;
    if (top < 0 && bottom < 0) {
      k.horizontal(source(sy), sy2 != sy ? source(sy2) : nullptr, index, frac4, j.dstWidth, j.srcWidth, rows[0],
                   rows[1]);
      held[0] = sy;
      held[1] = sy2 != sy ? sy2 : -1;
    } else if (top < 0 || bottom < 0) {
      const int slot = top < 0 ? 1 - bottom : 1 - top;
      const int32_t want = top < 0 ? sy : sy2;
      k.horizontal(source(want), nullptr, index, frac4, j.dstWidth, j.srcWidth, rows[slot], nullptr);
      held[slot] = want;
    }
    const uint16_t* t = rows[held[0] == sy ? 0 : 1];
    const uint16_t* b = rows[held[0] == sy2 ? 0 : 1];
    k.vertical(t, b, yFrac[ty], j.dstPixels + static_cast<intptr_t>(ty) * j.dstRowLength * 4, j.dstWidth);
    sy += yStep[ty + 1];
    if (sy >= j.srcHeight) sy = j.srcHeight - 1;
  }
}

// The job's tables, or the thread's own, filled for the job.
struct Tables {
  uint16_t *xFrac, *yFrac;
  int32_t *xStep, *yStep;
};
Tables SmoothTables(const vlScaleJob& j, Scratch& sc) {
  Tables t{j.xFraction, j.yFraction, j.xStep, j.yStep};
  if (!t.xFrac || !t.xStep) {
    t.xFrac = Room(sc.xFrac, static_cast<size_t>(j.dstWidth) + 1);
    t.xStep = Room(sc.xStep, static_cast<size_t>(j.dstWidth) + 1);
  }
  if (!t.yFrac || !t.yStep) {
    t.yFrac = Room(sc.yFrac, static_cast<size_t>(j.dstHeight) + 1);
    t.yStep = Room(sc.yStep, static_cast<size_t>(j.dstHeight) + 1);
  }
  FillTables(j.srcWidth, j.dstWidth, t.xFrac, t.xStep);
  FillTables(j.srcHeight, j.dstHeight, t.yFrac, t.yStep);
  return t;
}

void Smooth(const vlScaleJob& j, Scratch& sc) {
  const auto [xFrac, yFrac, xStep, yStep] = SmoothTables(j, sc);
  const int32_t B = j.bytesPerPixel;
  const vlScaleRows* fast = B == 4 && j.srcPixels ? FastScaleSmooth(j.format) : nullptr;
  if (fast) {
    SmoothRows(j, *fast, xFrac, xStep, yFrac, yStep, sc);
    if (!(j.srcMask && j.dstMask) && !(j.srcAlpha && j.dstAlpha)) return;
  }
  int32_t sy = 0;
  for (int32_t ty = 0; ty < j.dstHeight; ++ty) {
    // A source one row high (or the last row) repeats itself below.
    const int32_t sy2 = sy + 1 < j.srcHeight ? sy + 1 : sy;
    const uint32_t fy = yFrac[ty];
    int32_t sx = 0;
    for (int32_t tx = 0; tx < j.dstWidth; ++tx) {
      const int32_t sx2 = sx + 1 < j.srcWidth ? sx + 1 : sx;
      const uint32_t fx = xFrac[tx];
      if (j.srcPixels && !fast) {
        const uint8_t* r0 = j.srcPixels + static_cast<intptr_t>(sy) * j.srcRowLength * B;
        const uint8_t* r1 = j.srcPixels + static_cast<intptr_t>(sy2) * j.srcRowLength * B;
        uint8_t p[3], p2[3], q[3], q2[3], out[3];
        pixUnpackRGB(j.format, r0 + sx * B, p);
        pixUnpackRGB(j.format, r0 + sx2 * B, p2);
        pixUnpackRGB(j.format, r1 + sx * B, q);
        pixUnpackRGB(j.format, r1 + sx2 * B, q2);
        for (int c = 0; c < 3; ++c) {
          const int32_t top = Lerp(p[c], p2[c], fx), bottom = Lerp(q[c], q2[c], fx);
          out[c] = static_cast<uint8_t>(Lerp(top, bottom, fy));
        }
        pixPackRGB(j.format, out, j.dstPixels + (static_cast<intptr_t>(ty) * j.dstRowLength + tx) * B);
      }
      if (j.srcMask && j.dstMask) {
        SetMaskBit(j.dstMask + static_cast<intptr_t>(ty) * j.dstMaskRowBytes, tx,
                   GetMaskBit(j.srcMask + static_cast<intptr_t>(sy) * j.srcMaskRowBytes, sx + j.x));
      } else if (j.srcAlpha && j.dstAlpha) {
        const uint8_t* a0 = j.srcAlpha + static_cast<intptr_t>(sy) * j.srcAlphaRowBytes;
        const uint8_t* a1 = j.srcAlpha + static_cast<intptr_t>(sy2) * j.srcAlphaRowBytes;
        const int32_t top = Lerp(a0[sx], a0[sx2], fx) & 0xFF, bottom = Lerp(a1[sx], a1[sx2], fx) & 0xFF;
        j.dstAlpha[static_cast<intptr_t>(ty) * j.dstAlphaRowBytes + tx] = static_cast<uint8_t>(Lerp(top, bottom, fy));
      }
      sx += xStep[tx + 1];
      if (sx >= j.srcWidth) sx = j.srcWidth - 1;
    }
    sy += yStep[ty + 1];
    if (sy >= j.srcHeight) sy = j.srcHeight - 1;
  }
}

}  // namespace

void ScalePixels(const vlScaleJob& j) {
  if (j.srcWidth <= 0 || j.srcHeight <= 0 || j.dstWidth <= 0 || j.dstHeight <= 0) return;
  const bool planesOnly = !j.srcPixels;
  if (j.smooth && !planesOnly) {
    // 3-byte pixels unpack and pack as nothing; planes still scale. Short
    // of memory for the tables, the target is left as it was.
    try {
      ScratchLease lease;
      Smooth(j, lease.get());
    } catch (const std::bad_alloc&) {
    }
    return;
  }
  const long double xr = static_cast<long double>(j.srcWidth) / j.dstWidth;
  const long double yr = static_cast<long double>(j.srcHeight) / j.dstHeight;
  if (j.srcMask && j.dstMask) ScaleMaskNearest(j, static_cast<float>(xr), static_cast<float>(yr));
  if (j.srcAlpha && j.dstAlpha) ScaleAlphaNearest(j, static_cast<float>(xr), static_cast<float>(yr));
  if (planesOnly) return;
  bool done = false;
  try {
    ScratchLease lease;
    done = NearestFast(j, xr, yr, lease.get());
  } catch (const std::bad_alloc&) {
  }
  if (done) return;
  if (j.bytesPerPixel == 2) NearestPixels<2>(j, xr, yr);
  else if (j.bytesPerPixel == 3) NearestPixels<3>(j, xr, yr);  // whole pixels copy as they are
  else if (j.bytesPerPixel == 4) NearestPixels<4>(j, xr, yr);
}

bool ScaleMadeRowsSmooth(const vlScaleJob& j, const vlMadeRows& made) {
  if (j.srcWidth <= 0 || j.srcHeight <= 0 || j.dstWidth <= 0 || j.dstHeight <= 0) return true;
  const vlScaleRows* fast = j.bytesPerPixel == 4 ? FastScaleSmooth(j.format) : nullptr;
  if (!fast) return false;
  // Every buffer is made before the first row is written, so memory
  // running short leaves the target untouched for the caller's own way.
  try {
    ScratchLease lease;
    const auto [xFrac, yFrac, xStep, yStep] = SmoothTables(j, lease.get());
    SmoothRows(j, *fast, xFrac, xStep, yFrac, yStep, lease.get(), &made);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}
