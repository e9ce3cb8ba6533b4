// The player's own scanline fill. Without anti-aliasing each pixel row is
// cut at its centre line by every side (curves flattened to within a small
// fraction of a pixel), and a pixel is lit when its centre has an odd
// number of crossings to its left (even-odd) or a winding other than 0
// (non-zero), or lies on the outline itself: the 1-bit fill's own rule, so
// a shape that does not cross itself gets the same pixels by either rule.
// With anti-aliasing each side adds the area it covers to the right of it
// in each row, and the row's running sum is each pixel's winding. Rows are
// swept in order with the sides that reach them, and an end signal stops
// the sweep between rows. Depends on FreeType's outline walk and the event
// pump's signal flag.
#include "graphics/outline_scanline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/event_pump.h"

namespace {

// Flat enough when no control point strays further than this (pixels) from
// where a straight side would put it; and never split deeper than this.
constexpr double kFlatness = 1.0 / 64;
constexpr int kMaxDepth = 16;

double Px(FT_Pos v) { return static_cast<double>(v) / 64.0; }

struct WalkContext {
  vlScanlineFill* fill;
  double dx, dy;
};

// FreeType's walk calls back through its own frames: nothing may be thrown
// across them, so running out of memory ends the walk with an error.
template <typename F>
int Guarded(F&& step) {
  try {
    step();
    return 0;
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

int OnMove(const FT_Vector* to, void* user) {
  auto* c = static_cast<WalkContext*>(user);
  return Guarded([&] { c->fill->MoveTo(Px(to->x) - c->dx, Px(to->y) - c->dy); });
}
int OnLine(const FT_Vector* to, void* user) {
  auto* c = static_cast<WalkContext*>(user);
  return Guarded([&] { c->fill->LineTo(Px(to->x) - c->dx, Px(to->y) - c->dy); });
}
int OnConic(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* c = static_cast<WalkContext*>(user);
  return Guarded([&] {
    vlScanlineFill& f = *c->fill;
    const double cx = Px(control->x) - c->dx, cy = Px(control->y) - c->dy;
    const double ex = Px(to->x) - c->dx, ey = Px(to->y) - c->dy;
    f.CubicTo(f.penX + 2.0 / 3 * (cx - f.penX), f.penY + 2.0 / 3 * (cy - f.penY), ex + 2.0 / 3 * (cx - ex),
              ey + 2.0 / 3 * (cy - ey), ex, ey);
  });
}
int OnCubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* c = static_cast<WalkContext*>(user);
  return Guarded([&] {
    c->fill->CubicTo(Px(c1->x) - c->dx, Px(c1->y) - c->dy, Px(c2->x) - c->dx, Px(c2->y) - c->dy,
                     Px(to->x) - c->dx, Px(to->y) - c->dy);
  });
}

// Clamped before conversion: far-off sides must not overflow an int.
int32_t ClampToInt(double v, int32_t low, int32_t high) {
  return static_cast<int32_t>(std::clamp(v, static_cast<double>(low), static_cast<double>(high)));
}

// The ceiling of v, taken after v is held within [-1, high + 1]: the same
// as the ceiling for whatever is then kept within [0, high], and an int
// holds it.
int32_t CeilWithin(double v, int32_t high) {
  const double held = std::min(std::max(v, -1.0), high + 1.0);
  const int32_t whole = static_cast<int32_t>(held);
  return whole + (static_cast<double>(whole) < held);
}

// Adds the area a side covers right of it within one row, from (xa, top)
// to (xb, bottom) with d the signed height, to the cells it crosses and
// the cell after them: each cell's share is the trapezoid of the side
// inside it. xa and xb lie in [0, width].
void Accumulate(double* acc, double xa, double xb, double d) {
  const double x0 = std::min(xa, xb), x1 = std::max(xa, xb);
  const int32_t x0i = static_cast<int32_t>(std::floor(x0));
  const double x1c = std::ceil(x1);
  const int32_t x1i = static_cast<int32_t>(x1c);
  if (x1i <= x0i + 1) {
    const double mid = 0.5 * (xa + xb) - x0i;
    acc[x0i] += d - d * mid;
    acc[x0i + 1] += d * mid;
    return;
  }
  const double s = 1.0 / (x1 - x0);
  const double x0f = x0 - x0i;
  const double a0 = 0.5 * s * (1 - x0f) * (1 - x0f);
  const double x1f = x1 - x1c + 1;
  const double am = 0.5 * s * x1f * x1f;
  acc[x0i] += d * a0;
  if (x1i == x0i + 2) {
    acc[x0i + 1] += d * (1 - a0 - am);
  } else {
    const double a1 = s * (1.5 - x0f);
    acc[x0i + 1] += d * (a1 - a0);
    for (int32_t x = x0i + 2; x < x1i - 1; ++x) acc[x] += d * s;
    const double a2 = a1 + (x1i - x0i - 3) * s;
    acc[x1i - 1] += d * (1 - a2 - am);
  }
  acc[x1i] += d * am;
}

#if defined(__SSE2__)
// 16 pixels, 255 where their bit is set: each of the two bytes copied into
// eight, each copy keeping one bit.
inline void Spread16(uint64_t bits, uint8_t* out) {
  const __m128i mask = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201));
  __m128i v = _mm_cvtsi32_si128(static_cast<int>(bits & 0xFFFF));
  v = _mm_unpacklo_epi8(v, v);
  v = _mm_unpacklo_epi16(v, v);
  v = _mm_unpacklo_epi32(v, v);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_cmpeq_epi8(_mm_and_si128(v, mask), mask));
}
#endif

// n pixels (up to 64), 255 where their bit is set, the first pixel the
// lowest bit.
void SpreadBits(uint64_t bits, uint8_t* out, int32_t n) {
  int32_t i = 0;
#if defined(__SSE2__)
  // A last part shorter than 16 is written as the 16 pixels ending with
  // it, again over some already written.
  if (bits == 0 || bits == ~uint64_t{0}) {  // a run: no call out for 64 bytes
    const __m128i v = _mm_set1_epi8(static_cast<char>(bits & 0xFF));
    for (; i + 16 <= n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    if (i < n && n >= 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + n - 16), v);
  } else if (n == 64) {
    Spread16(bits, out);
    Spread16(bits >> 16, out + 16);
    Spread16(bits >> 32, out + 32);
    Spread16(bits >> 48, out + 48);
    return;
  } else {
    for (; i + 16 <= n; i += 16) Spread16(bits >> i, out + i);
    if (i < n && n >= 16) Spread16(bits >> (n - 16), out + n - 16);
  }
  if (n >= 16) return;
#endif
  for (; i < n; ++i) out[i] = (bits >> i) & 1 ? 255 : 0;
}

}  // namespace

vlScanlineFill::vlScanlineFill(int32_t width, int32_t height, bool antiAlias, bool evenOdd)
    : width_(width), height_(height), antiAlias_(antiAlias), evenOdd_(evenOdd) {}

void vlScanlineFill::OnCentreLine(double yc, double x0, double x1) {
  if (antiAlias_) return;
  const double row = yc - 0.5;
  // Within the rows, row is whole when it survives a round trip through
  // an int.
  if (row >= 0 && row < height_ && row == static_cast<double>(static_cast<int32_t>(row)))
    AddAlong(static_cast<int32_t>(row), std::min(x0, x1), std::max(x0, x1));
}

void vlScanlineFill::AddAlong(int32_t row, double x0, double x1) { onLines_.push_back({row, x0, x1}); }

// Without anti-aliasing every row centre r + 0.5 in [low, high) of the side
// meets it once, so a vertex on a centre line counts once where the outline
// passes through and twice or not at all where it turns back. A side along
// a centre line, or ending on one, is kept apart: its pixels are on the
// outline. With anti-aliasing a side reaches the rows it overlaps.
void vlScanlineFill::Side(double x0, double y0, double x1, double y1) {
  if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) return;
  if (y0 == y1) {
    OnCentreLine(y0, x0, x1);
    return;
  }
  const double low = std::min(y0, y1), high = std::max(y0, y1);
  OnCentreLine(high, y1 == high ? x1 : x0, y1 == high ? x1 : x0);
  Edge e;
  if (antiAlias_) {
    const double first = std::max(std::floor(low), 0.0);
    const double last = std::min(std::ceil(high) - 1, static_cast<double>(height_) - 1);
    if (first > last) return;
    e.first = static_cast<int32_t>(first);
    e.last = static_cast<int32_t>(last);
  } else {
    e.first = std::max(CeilWithin(low - 0.5, height_), 0);
    e.last = std::min(CeilWithin(high - 0.5, height_) - 1, height_ - 1);
    if (e.first > e.last) return;
  }
  e.dir = y1 > y0 ? 1 : -1;
  e.yTop = low;
  e.yBottom = high;
  e.xTop = y1 > y0 ? x0 : x1;
  e.slope = (x1 - x0) / (y1 - y0);
  edges_.push_back(e);
}

void vlScanlineFill::LineTo(double x, double y) {
  Side(penX, penY, x, y);
  penX = x;
  penY = y;
}

void vlScanlineFill::Close() {
  if (contour_) LineTo(startX_, startY_);
  contour_ = false;
}

void vlScanlineFill::MoveTo(double x, double y) {
  Close();
  penX = startX_ = x;
  penY = startY_ = y;
  contour_ = true;
}

void vlScanlineFill::CubicTo(double x1, double y1, double x2, double y2, double x3, double y3, int depth) {
  const double x0 = penX, y0 = penY;
  // A curve all of whose points coincide (a round join of radius 0) is
  // not bent.
  if (x1 == x0 && x2 == x0 && x3 == x0 && y1 == y0 && y2 == y0 && y3 == y0) {
    LineTo(x3, y3);
    return;
  }
  // The second differences bound how far the curve bends from its chord.
  const double bend = std::max({std::fabs(x0 - 2 * x1 + x2), std::fabs(y0 - 2 * y1 + y2),
                                std::fabs(x1 - 2 * x2 + x3), std::fabs(y1 - 2 * y2 + y3)});
  // A curve wholly above, below or right of the buffer adds nothing to it,
  // and one wholly left of it adds to each row what its chord adds: the
  // chord stands in, so a far-off curve is not split 2^16 times.
  auto away = [&] {
    return std::max({y0, y1, y2, y3}) <= 0 || std::min({y0, y1, y2, y3}) >= height_ ||
           std::min({x0, x1, x2, x3}) >= width_ || std::max({x0, x1, x2, x3}) <= 0;
  };
  if (depth >= kMaxDepth || !(bend > kFlatness) || away()) {
    LineTo(x3, y3);
    return;
  }
  const double ax = (x0 + x1) / 2, ay = (y0 + y1) / 2, bx = (x1 + x2) / 2, by = (y1 + y2) / 2;
  const double cx = (x2 + x3) / 2, cy = (y2 + y3) / 2;
  const double abx = (ax + bx) / 2, aby = (ay + by) / 2, bcx = (bx + cx) / 2, bcy = (by + cy) / 2;
  const double mx = (abx + bcx) / 2, my = (aby + bcy) / 2;
  CubicTo(ax, ay, abx, aby, mx, my, depth + 1);
  CubicTo(bcx, bcy, cx, cy, x3, y3, depth + 1);
}

namespace {

// Whether every contour is straight sides and cubic arcs, well formed
// (the fill outlines of polylines, round joins included): those are
// walked here as FreeType's walk would walk them, without a call through
// FreeType for every point.
bool StraightAndCubic(const FT_Outline& o) {
  int first = 0;
  for (int c = 0; c < o.n_contours; ++c) {
    const int last = o.contours[c];
    if (last < first || last >= o.n_points || FT_CURVE_TAG(o.tags[first]) != FT_CURVE_TAG_ON) return false;
    for (int i = first + 1; i <= last; ++i) {
      const int tag = FT_CURVE_TAG(o.tags[i]);
      if (tag == FT_CURVE_TAG_ON) continue;
      // Two control points, then the end (the contour's start when the
      // contour ends first), whatever its tag.
      if (tag != FT_CURVE_TAG_CUBIC || i + 1 > last || FT_CURVE_TAG(o.tags[i + 1]) != FT_CURVE_TAG_CUBIC) return false;
      i += 2;
    }
    first = last + 1;
  }
  return true;
}

}  // namespace

void vlScanlineFill::WalkStraightAndCubic(const FT_Outline& o, double dx, double dy) {
  auto x = [&](int i) { return Px(o.points[i].x) - dx; };
  auto y = [&](int i) { return Px(o.points[i].y) - dy; };
  int first = 0;
  for (int c = 0; c < o.n_contours; ++c) {
    const int last = o.contours[c];
    MoveTo(x(first), y(first));
    for (int i = first + 1; i <= last; ++i) {
      if (FT_CURVE_TAG(o.tags[i]) == FT_CURVE_TAG_ON) {
        LineTo(x(i), y(i));
      } else if (i + 2 <= last) {
        CubicTo(x(i), y(i), x(i + 1), y(i + 1), x(i + 2), y(i + 2));
        i += 2;
      } else {
        CubicTo(x(i), y(i), x(i + 1), y(i + 1), x(first), y(first));
        break;
      }
    }
    LineTo(x(first), y(first));  // FreeType's walk closes every contour
    first = last + 1;
  }
}

bool vlScanlineFill::AddOutline(const FT_Outline* outline, FT_Pos originX, FT_Pos originY) {
  if (!outline || failed_) return false;
  static const FT_Outline_Funcs kFuncs = {OnMove, OnLine, OnConic, OnCubic, 0, 0};
  WalkContext context{this, Px(originX), Px(originY)};
  const bool own = StraightAndCubic(*outline);
  try {
    edges_.reserve(edges_.size() + static_cast<size_t>(std::max<short>(outline->n_points, 0)) + 1);
    if (own) WalkStraightAndCubic(*outline, context.dx, context.dy);
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return false;
  }
  if (!own && FT_Outline_Decompose(const_cast<FT_Outline*>(outline), &kFuncs, &context)) {
    failed_ = true;
    return false;
  }
  try {
    Close();
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return false;
  }
  return true;
}

bool vlScanlineFill::Render(uint8_t* buffer, int32_t rowBytes) {
  if (failed_ || !buffer || width_ <= 0 || height_ <= 0 || rowBytes < width_) return false;
  try {
    Close();
    if (!antiAlias_ && evenOdd_) return RenderEvenOdd(buffer, rowBytes);
    std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) { return a.first < b.first; });
    return antiAlias_ ? RenderSmooth(buffer, rowBytes) : RenderPlain(buffer, rowBytes);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool vlScanlineFill::RenderPlain(uint8_t* buffer, int32_t rowBytes) {
  // Per row: the change of winding at each pixel (a crossing at x counts
  // for the pixels whose centre lies at or right of it), and the pixels
  // whose centre a side meets exactly. Only the columns a side marks are
  // visited: between two of them the row is one run, in or out.
  std::vector<int32_t> delta(static_cast<size_t>(width_) + 1, 0);
  std::vector<uint8_t> onSide(static_cast<size_t>(width_) + 1, 0);
  std::vector<uint32_t> active;
  std::vector<int32_t> marked;
  size_t next = 0;
  for (int32_t row = 0; row < height_; ++row) {
    if (QuitSignal()) return false;
    while (next < edges_.size() && edges_[next].first <= row) active.push_back(static_cast<uint32_t>(next++));
    int32_t count = 0, rightmost = -1;
    double rightmostX = 0;
    size_t kept = 0;
    const double centre = row + 0.5;
    marked.clear();
    for (uint32_t i : active) {
      const Edge& e = edges_[i];
      if (e.last < row) continue;
      active[kept++] = i;
      const double x = e.xTop + (centre - e.yTop) * e.slope;
      const double at = std::ceil(x - 0.5);
      const int32_t px = ClampToInt(at, 0, width_);
      delta[px] += e.dir;
      marked.push_back(px);
      if (at == x - 0.5 && px < width_ && at >= 0) onSide[px] = 1;
      ++count;
      if (rightmost < 0 || x > rightmostX) rightmost = px, rightmostX = x;
    }
    active.resize(kept);
    // A lone crossing cannot come from closed contours (a side cut by the
    // float's precision): the rightmost is left out.
    if (evenOdd_ && (count & 1)) delta[rightmost] -= 1;
    uint8_t* out = buffer + static_cast<size_t>(row) * rowBytes;
    int32_t winding = 0, from = 0;
    auto inside = [&] { return evenOdd_ ? (winding & 1) != 0 : winding != 0; };
    if (marked.size() * 16 > static_cast<size_t>(width_)) {
      // Crossings about as many as pixels: every pixel, without sorting.
      for (int32_t x = 0; x < width_; ++x) {
        winding += delta[x];
        out[x] = inside() || onSide[x] ? 255 : 0;
        delta[x] = 0;
        onSide[x] = 0;
      }
      delta[width_] = 0;
      onSide[width_] = 0;
      continue;
    }
    std::sort(marked.begin(), marked.end());
    for (size_t k = 0; k < marked.size(); ++k) {
      const int32_t x = marked[k];
      if (k && x == marked[k - 1]) continue;
      if (x == width_) break;  // right of every pixel
      std::memset(out + from, inside() ? 255 : 0, static_cast<size_t>(x - from));
      winding += delta[x];
      out[x] = inside() || onSide[x] ? 255 : 0;
      delta[x] = 0;
      onSide[x] = 0;
      from = x + 1;
    }
    std::memset(out + from, inside() ? 255 : 0, static_cast<size_t>(width_ - from));
    delta[width_] = 0;
    onSide[width_] = 0;
  }
  LightAlong(buffer, rowBytes);
  return true;
}

// The pixels x of a row with a <= x + 0.5 <= b.
void vlScanlineFill::LightAlong(uint8_t* buffer, int32_t rowBytes) const {
  for (const Along& l : onLines_) {
    const int32_t x0 = ClampToInt(std::ceil(l.x0 - 0.5), 0, width_);
    const int32_t x1 = ClampToInt(std::floor(l.x1 - 0.5), -1, width_ - 1);
    if (x0 <= x1) std::memset(buffer + static_cast<size_t>(l.row) * rowBytes + x0, 255, size_t(x1 - x0 + 1));
  }
}

// The even-odd rule needs only where each row's crossings fall, not their
// order or direction: the rows are swept a band at a time, each side
// toggling one bit per row it crosses (the bit past the last pixel takes
// the crossings right of every pixel, so that a row's bits hold its count's
// parity), and a row's bits turned into its pixels by a running parity, 64
// pixels a step. Lights exactly the pixels the winding sweep above would.
bool vlScanlineFill::RenderEvenOdd(uint8_t* buffer, int32_t rowBytes) {
  const size_t words = static_cast<size_t>(width_) / 64 + 1;
  // A band's bits stay within a cache-sized block, and an end signal is
  // seen at least every 256 rows.
  int shift = 8;
  while (shift > 0 && (words << shift) > (size_t{1} << 15)) --shift;
  const int32_t bandRows = int32_t{1} << shift;
  const int32_t bands = ((height_ - 1) >> shift) + 1;
  // Sides grouped by the band of their first row: the sides a band meets
  // are those of its group and the ones still running from earlier bands.
  std::vector<uint32_t> start(static_cast<size_t>(bands) + 1, 0);
  for (const Edge& e : edges_) ++start[static_cast<size_t>(e.first >> shift) + 1];
  for (int32_t b = 0; b < bands; ++b) start[b + 1] += start[b];
  std::vector<uint32_t> order(edges_.size());
  {
    std::vector<uint32_t> at(start.begin(), start.end() - 1);
    for (uint32_t i = 0; i < edges_.size(); ++i) order[at[static_cast<size_t>(edges_[i].first >> shift)]++] = i;
  }
  std::vector<uint64_t> flips(words * bandRows), onSide(words * bandRows);
  std::vector<uint32_t> active;
  // The column of a side's crossing of a row's centre, from 0 to width
  // (right of every pixel), as the winding sweep computes it, to the bit.
  // The ceiling of a value held within [0, width] is the ceiling held
  // there, and the centre lies on the side when the value is whole there.
  const double right = width_;
  auto crossing = [&](const Edge& e, int32_t row, bool* onCentre) {
    const double at = (e.xTop + ((row + 0.5) - e.yTop) * e.slope) - 0.5;
    const double held = std::min(std::max(at, 0.0), right);
    const int32_t whole = static_cast<int32_t>(held);
    const double back = static_cast<double>(whole);
    *onCentre = back == at && whole < width_;
    return whole + (back < held);
  };
  for (int32_t b = 0; b < bands; ++b) {
    if (QuitSignal()) return false;
    const int32_t top = b * bandRows, bottom = std::min(top + bandRows, height_) - 1;
    for (uint32_t k = start[b]; k < start[b + 1]; ++k) active.push_back(order[k]);
    size_t kept = 0;
    for (uint32_t i : active) {
      const Edge& e = edges_[i];
      if (e.last < top) continue;
      active[kept++] = i;
      const int32_t to = std::min(e.last, bottom);
      for (int32_t row = std::max(e.first, top); row <= to; ++row) {
        bool onCentre;
        const int32_t px = crossing(e, row, &onCentre);
        const size_t word = static_cast<size_t>(row - top) * words + static_cast<size_t>(px) / 64;
        const uint64_t bit = uint64_t{1} << (px % 64);
        flips[word] ^= bit;
        if (onCentre) onSide[word] |= bit;
      }
    }
    active.resize(kept);
    for (int32_t row = top; row <= bottom; ++row) {
      uint64_t* f = &flips[static_cast<size_t>(row - top) * words];
      uint64_t* s = &onSide[static_cast<size_t>(row - top) * words];
      uint64_t parity = 0;
      for (size_t k = 0; k < words; ++k) parity ^= f[k];
      if (__builtin_parityll(parity)) {
        // A lone crossing cannot come from closed contours (a side cut by
        // the float's precision): the rightmost is left out.
        int32_t rightmost = 0;
        bool onCentre;
        for (uint32_t i : active)
          if (edges_[i].first <= row && edges_[i].last >= row)
            rightmost = std::max(rightmost, crossing(edges_[i], row, &onCentre));
        f[rightmost / 64] ^= uint64_t{1} << (rightmost % 64);
      }
      f[words - 1] &= ~(uint64_t{1} << (width_ % 64));  // right of every pixel
      uint8_t* out = buffer + static_cast<size_t>(row) * rowBytes;
      uint64_t carry = 0;
      for (int32_t x = 0; x < width_; x += 64) {
        uint64_t in = f[x / 64];
        in ^= in << 1;
        in ^= in << 2;
        in ^= in << 4;
        in ^= in << 8;
        in ^= in << 16;
        in ^= in << 32;
        in ^= carry;
        carry = in >> 63 ? ~uint64_t{0} : 0;
        const uint64_t lit = in | s[x / 64];
        f[x / 64] = 0;
        s[x / 64] = 0;
        SpreadBits(lit, out + x, std::min(64, width_ - x));
      }
      f[words - 1] = 0;
    }
  }
  LightAlong(buffer, rowBytes);
  return true;
}

bool vlScanlineFill::RenderSmooth(uint8_t* buffer, int32_t rowBytes) {
  std::vector<double> acc(static_cast<size_t>(width_) + 2, 0.0);
  std::vector<uint32_t> active;
  size_t next = 0;
  const double w = width_;
  // A piece of a side within the row: cut where it crosses the buffer's
  // left and right borders, each part then held inside them (a part left
  // of the buffer covers the whole row right of it, one right of it
  // nothing).
  auto piece = [&](double xa, double ya, double xb, double yb, double dir) {
    double cuts[4] = {0, 1, 1, 1};
    int n = 1;
    for (double border : {0.0, w})
      if ((xa < border) != (xb < border)) cuts[n++] = (border - xa) / (xb - xa);
    if (n == 3 && cuts[2] < cuts[1]) std::swap(cuts[1], cuts[2]);
    cuts[n] = 1;
    for (int k = 0; k < n; ++k) {
      const double t0 = cuts[k], t1 = cuts[k + 1];
      if (t1 <= t0) continue;
      const double p = std::clamp(xa + (xb - xa) * t0, 0.0, w), q = std::clamp(xa + (xb - xa) * t1, 0.0, w);
      Accumulate(acc.data(), p, q, dir * (yb - ya) * (t1 - t0));
    }
  };
  for (int32_t row = 0; row < height_; ++row) {
    if (QuitSignal()) return false;
    while (next < edges_.size() && edges_[next].first <= row) active.push_back(static_cast<uint32_t>(next++));
    size_t kept = 0;
    for (uint32_t i : active) {
      const Edge& e = edges_[i];
      if (e.last < row) continue;
      active[kept++] = i;
      const double ya = std::max(e.yTop, static_cast<double>(row));
      const double yb = std::min(e.yBottom, static_cast<double>(row) + 1);
      const double xa = e.xTop + (ya - e.yTop) * e.slope, xb = e.xTop + (yb - e.yTop) * e.slope;
      if (xa >= w && xb >= w) continue;
      if (xa <= 0 && xb <= 0) {
        acc[0] += e.dir * (yb - ya);
        continue;
      }
      piece(xa, ya, xb, yb, e.dir);
    }
    active.resize(kept);
    uint8_t* out = buffer + static_cast<size_t>(row) * rowBytes;
    double sum = 0;
    for (int32_t x = 0; x < width_; ++x) {
      sum += acc[x];
      acc[x] = 0;
      double v = std::fabs(sum);
      if (evenOdd_) {
        v = std::fmod(v, 2.0);
        if (v > 1) v = 2 - v;
      } else {
        v = std::min(v, 1.0);
      }
      out[x] = static_cast<uint8_t>(v * 255 + 0.5);
    }
    acc[width_] = 0;
    acc[static_cast<size_t>(width_) + 1] = 0;
  }
  return true;
}

bool FillOutlineScanline(const FT_Outline* outline, bool antiAlias, bool evenOdd, uint8_t* buffer,
                         int32_t rowBytes, int32_t width, int32_t height) {
  if (!outline || !buffer || width <= 0 || height <= 0 || rowBytes < width) return false;
  vlScanlineFill fill(width, height, antiAlias, evenOdd);
  return fill.AddOutline(outline, 0, 0) && fill.Render(buffer, rowBytes);
}

bool FillOutlineEvenOdd(const FT_Outline* outline, uint8_t* buffer, int32_t rowBytes, int32_t width,
                        int32_t height) {
  return FillOutlineScanline(outline, false, true, buffer, rowBytes, width, height);
}

double OutlineCells(const FT_Outline* o) {
  if (!o || o->n_points <= 0 || o->n_contours <= 0) return 0;
  // The control polygon bounds the sides' length, row by row and column by
  // column.
  // In 26.6 units, two sums apart so that the additions overlap; scaled
  // once at the end.
  double units[2] = {0, 0};
  int first = 0;
  for (int c = 0; c < o->n_contours; ++c) {
    const int last = o->contours[c];
    if (last < first || last >= o->n_points) return 0;
    for (int i = first; i <= last; ++i) {
      const FT_Vector a = o->points[i], b = o->points[i == last ? first : i + 1];
      units[i & 1] += std::fabs(static_cast<double>(b.x - a.x)) + std::fabs(static_cast<double>(b.y - a.y));
    }
    first = last + 1;
  }
  return (units[0] + units[1]) / 64;
}
