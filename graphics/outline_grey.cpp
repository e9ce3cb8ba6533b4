// The anti-aliased fill, byte for byte as FreeType's grey rasteriser makes
// it, so that pictures drawn before stay the same. Every step that decides
// a byte is kept as it is: sides walked from cell to cell with its integer
// steps and divisions, conics flattened by its forward differences, cubics
// by its halvings and flatness test, the outline walked as its decomposer
// walks it, each cell's cover and area summed with wrapping, and a sum
// turned into a byte by the fill rule's fold or clamp. What changes is
// where the cells go. FreeType keeps each row's cells in a sorted list (a
// search for every cell) in a 16 KB pool that it fills band by band; here
// each cell is summed in place in a dense frame of the buffer's cells,
// whose touched ones a bit mask per row yields in order for the sweep.
// Sums do not depend on their order, and a band only drops the cells
// outside it, so the bytes are those of a single band.
#include "graphics/outline_grey.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "graphics/bezier_split.h"
#include "graphics/outline_decompose.h"

namespace {

using vl_bezier::SplitCubic;
using TPos = long;
static_assert(sizeof(TPos) == 8, "FreeType's coordinates and products are 64-bit here");

constexpr int kPixelBits = 8;
constexpr TPos kOnePixel = 1 << kPixelBits;
// FreeType's pool of 16384 bytes holds 682 cells of 24 bytes; a band of
// one row takes one for its row list and one as the null cell. A row that
// needs more makes FreeType fail, after drawing the rows below it.
constexpr int kRowCells = 680;
// FreeType counts rows and columns in 16 bits elsewhere.
constexpr int32_t kLargest = 32767;
// The frame's cells (8 bytes each): bigger buffers are left to FreeType.
// Up to kKeptCells (a 1280 x 720 display's) they are kept for the thread
// between calls; a larger frame is given back after its call.
constexpr size_t kFrameCells = size_t{1} << 22;
constexpr size_t kKeptCells = size_t{1} << 20;
// FreeType's cubic stack: 16 halvings.
constexpr int kCubicStack = 16 * 3 + 1;

inline int Trunc(TPos x) { return static_cast<int>(x >> kPixelBits); }
inline int Fract(TPos x) { return static_cast<int>(x & (kOnePixel - 1)); }
inline TPos Upscale(FT_Pos x) { return x * (kOnePixel >> 6); }

// A cell's sums; they wrap, as FreeType's do.
struct Sum {
  uint32_t cover, area;
};

// The cells of the buffer, x from -1 (everything left of the buffer, as
// FreeType clamps it) to width - 1, with a bit a cell marking the ones
// touched. Kept between calls on a thread, and left zero after each.
struct Frame {
  Sum* sums = nullptr;
  uint64_t* touched = nullptr;
  size_t sumCapacity = 0, wordCapacity = 0;
  size_t stride = 0, words = 0;  // per row

  ~Frame() {
    std::free(sums);
    std::free(touched);
  }

  bool Reserve(int32_t width, int32_t height) {
    stride = static_cast<size_t>(width) + 1;
    words = (stride + 63) / 64;
    const size_t needSums = stride * static_cast<size_t>(height), needWords = words * static_cast<size_t>(height);
    if (needSums > sumCapacity) {
      std::free(sums);
      // calloc: the zero pages of a large block cost nothing until touched.
      sums = static_cast<Sum*>(std::calloc(needSums, sizeof(Sum)));
      sumCapacity = sums ? needSums : 0;
    }
    if (needWords > wordCapacity) {
      std::free(touched);
      touched = static_cast<uint64_t*>(std::calloc(needWords, sizeof(uint64_t)));
      wordCapacity = touched ? needWords : 0;
    }
    return sums && touched;
  }

  // A frame too large to keep is given back (it is all zero again).
  void Trim() {
    if (sumCapacity <= kKeptCells) return;
    std::free(sums);
    std::free(touched);
    sums = nullptr;
    touched = nullptr;
    sumCapacity = wordCapacity = 0;
  }

  // Zero again the touched cells of rows [first, last].
  void Clear(long first, long last) {
    for (long y = first; y <= last; ++y) {
      uint64_t* row = touched + static_cast<size_t>(y) * words;
      Sum* rowSums = sums + static_cast<size_t>(y) * stride;
      for (size_t w = 0; w < words; ++w) {
        for (uint64_t m = row[w]; m; m &= m - 1) rowSums[w * 64 + std::countr_zero(m)] = {0, 0};
        row[w] = 0;
      }
    }
  }
};

struct Point {
  TPos x, y;
};

enum class Status { kOk, kInvalid, kTooDeep };

// Walks the outline into the frame's cells; cells right of, above or
// below the buffer are dropped.
class CellMaker {
 public:
  CellMaker(int width, int height, Frame* frame) : width_(width), height_(height), frame_(frame) {}

  // The rows holding cells (first > last: none).
  long FirstRow() const { return cur_.firstRow; }
  long LastRow() const { return cur_.lastRow; }

  Status Decompose(const FT_Outline& o) {
    int first = 0;
    for (int n = 0; n < o.n_contours; ++n) {
      const int last = o.contours[n];
      if (Status s = Contour(o, first, last); s != Status::kOk) return s;
      first = last + 1;
    }
    Current c = cur_;
    SetCell(c, 0, -1);
    cur_ = c;
    return Status::kOk;
  }

 private:
  // The steps of a contour in 26.6, as FreeType's decomposer hands them on.
  struct Walker {
    CellMaker& m;
    FT_Vector Load(const FT_Vector& v) const { return v; }
    bool MoveTo(const FT_Vector& to) {
      m.MoveTo(to);
      return true;
    }
    bool LineTo(const FT_Vector& to) {
      m.RenderLine(Upscale(to.x), Upscale(to.y));
      return true;
    }
    bool ConicTo(const FT_Vector& control, const FT_Vector& to) {
      m.RenderConic(control, to);
      return true;
    }
    // false: halved deeper than FreeType's stack holds
    bool CubicTo(const FT_Vector& c1, const FT_Vector& c2, const FT_Vector& to) { return m.RenderCubic(c1, c2, to); }
  };

  Status Contour(const FT_Outline& o, int first, int last) {
    Walker w{*this};
    switch (WalkContour(o, first, last, w)) {
      case vlContourWalk::kDone: break;
      case vlContourWalk::kInvalid: return Status::kInvalid;
      case vlContourWalk::kStopped: return Status::kTooDeep;
    }
    return Status::kOk;
  }

  // The cell being summed, held in registers while a side is walked
  // (kept in members between sides). All fields are 64-bit so that each
  // is read back at the width it was stored.
  struct Current {
    long x, y;  // y -1: none (outside)
    uint64_t cover, area;
    long firstRow, lastRow;
  };

  // The current cell moves; the one left is kept (even when empty: FreeType
  // spends a pool cell on it all the same).
  void SetCell(Current& c, int ex, int ey) {
    long x = std::max(ex, -1), y = ey;
    if (ey < 0 || ey >= height_ || ex >= width_) x = 0, y = -1;
    if (x == c.x && y == c.y) return;
    if (c.y >= 0) {
      const size_t i = static_cast<size_t>(c.x + 1);
      Sum& sum = frame_->sums[static_cast<size_t>(c.y) * frame_->stride + i];
      sum.cover += static_cast<uint32_t>(c.cover);
      sum.area += static_cast<uint32_t>(c.area);
      frame_->touched[static_cast<size_t>(c.y) * frame_->words + (i >> 6)] |= uint64_t{1} << (i & 63);
      c.firstRow = std::min(c.firstRow, c.y);
      c.lastRow = std::max(c.lastRow, c.y);
    }
    c.x = x;
    c.y = y;
    c.cover = 0;
    c.area = 0;
  }

  static void Integrate(Current& c, int a, int b) {
    c.cover += static_cast<uint32_t>(a);
    c.area += static_cast<uint32_t>(a * b);
  }

  void MoveTo(const FT_Vector& to) {
    x_ = Upscale(to.x);
    y_ = Upscale(to.y);
    Current c = cur_;
    SetCell(c, Trunc(x_), Trunc(y_));
    cur_ = c;
  }

  // FreeType's walk for 64-bit builds: the exit side of each cell from the
  // sign of one running product, the exit point by a multiply-shift.
  void RenderLine(TPos toX, TPos toY) {
    int ey1 = Trunc(y_);
    const int ey2 = Trunc(toY);
    if ((ey1 >= height_ && ey2 >= height_) || (ey1 < 0 && ey2 < 0)) {
      x_ = toX;
      y_ = toY;
      return;
    }
    Current c = cur_;
    int ex1 = Trunc(x_);
    const int ex2 = Trunc(toX);
    int fx1 = Fract(x_), fy1 = Fract(y_);
    const TPos dx = toX - x_, dy = toY - y_;
    if (ex1 == ex2 && ey1 == ey2) {
      // inside one cell
    } else if (dy == 0) {
      SetCell(c, ex2, ey2);
      cur_ = c;
      x_ = toX;
      y_ = toY;
      return;
    } else if (dx == 0) {
      if (dy > 0) {
        do {
          Integrate(c, kOnePixel - fy1, fx1 * 2);
          fy1 = 0;
          ey1++;
          SetCell(c, ex1, ey1);
        } while (ey1 != ey2);
      } else {
        do {
          Integrate(c, -fy1, fx1 * 2);
          fy1 = kOnePixel;
          ey1--;
          SetCell(c, ex1, ey1);
        } while (ey1 != ey2);
      }
    } else {
      int64_t prod = dx * int64_t{fy1} - dy * int64_t{fx1};
      const int64_t dxR = ex1 != ex2 ? int64_t{0xFFFFFFFF} / dx : 0;
      const int64_t dyR = ey1 != ey2 ? int64_t{0xFFFFFFFF} / dy : 0;
      auto udiv = [](int64_t a, int64_t r) {
        return static_cast<int>((static_cast<uint64_t>(a) * static_cast<uint64_t>(r)) >> 32);
      };
      do {
        int fx2, fy2;
        if (prod - dx * kOnePixel > 0 && prod <= 0) {  // left
          fx2 = 0;
          fy2 = udiv(-prod, -dxR);
          prod -= dy * kOnePixel;
          Integrate(c, fy2 - fy1, fx1 + fx2);
          fx1 = kOnePixel;
          fy1 = fy2;
          ex1--;
        } else if (prod - dx * kOnePixel + dy * kOnePixel > 0 && prod - dx * kOnePixel <= 0) {  // up
          prod -= dx * kOnePixel;
          fx2 = udiv(-prod, dyR);
          fy2 = kOnePixel;
          Integrate(c, fy2 - fy1, fx1 + fx2);
          fx1 = fx2;
          fy1 = 0;
          ey1++;
        } else if (prod + dy * kOnePixel >= 0 && prod - dx * kOnePixel + dy * kOnePixel <= 0) {  // right
          prod += dy * kOnePixel;
          fx2 = kOnePixel;
          fy2 = udiv(prod, dxR);
          Integrate(c, fy2 - fy1, fx1 + fx2);
          fx1 = 0;
          fy1 = fy2;
          ex1++;
        } else {  // down
          fx2 = udiv(prod, -dyR);
          fy2 = 0;
          prod += dx * kOnePixel;
          Integrate(c, fy2 - fy1, fx1 + fx2);
          fx1 = fx2;
          fy1 = kOnePixel;
          ey1--;
        }
        SetCell(c, ex1, ey1);
      } while (ex1 != ex2 || ey1 != ey2);
    }
    Integrate(c, Fract(toY) - fy1, fx1 + Fract(toX));
    cur_ = c;
    x_ = toX;
    y_ = toY;
  }

  // All points above the buffer, or all below: nothing of the arc is in it.
  bool OutsideRows(std::initializer_list<TPos> ys) const {
    bool above = true, below = true;
    for (TPos y : ys) {
      above = above && Trunc(y) >= height_;
      below = below && Trunc(y) < 0;
    }
    return above || below;
  }

  // FreeType's forward differences on 64-bit builds: 2^shift steps, each
  // quartering the deviation, in 32.32 fixed point.
  void RenderConic(const FT_Vector& control, const FT_Vector& to) {
    const TPos p0x = x_, p0y = y_;
    const TPos p1x = Upscale(control.x), p1y = Upscale(control.y);
    const TPos p2x = Upscale(to.x), p2y = Upscale(to.y);
    if (OutsideRows({p0y, p1y, p2y})) {
      x_ = p2x;
      y_ = p2y;
      return;
    }
    const TPos bx = p1x - p0x, by = p1y - p0y;
    const TPos ax = p2x - p1x - bx, ay = p2y - p1y - by;
    TPos d = std::max(ax < 0 ? -ax : ax, ay < 0 ? -ay : ay);
    if (d <= kOnePixel / 4) {
      RenderLine(p2x, p2y);
      return;
    }
    int shift = 0;
    do {
      d >>= 2;
      shift += 1;
    } while (d > kOnePixel / 4);
    auto leftShift = [](TPos a, int b) { return static_cast<int64_t>(static_cast<uint64_t>(a) << b); };
    const int64_t rx = leftShift(ax, 33 - 2 * shift), ry = leftShift(ay, 33 - 2 * shift);
    int64_t qx = leftShift(bx, 33 - shift) + leftShift(ax, 32 - 2 * shift);
    int64_t qy = leftShift(by, 33 - shift) + leftShift(ay, 32 - 2 * shift);
    int64_t px = leftShift(p0x, 32), py = leftShift(p0y, 32);
    for (unsigned count = 1u << shift; count > 0; count--) {
      px += qx;
      py += qy;
      qx += rx;
      qy += ry;
      RenderLine(static_cast<TPos>(px >> 32), static_cast<TPos>(py >> 32));
    }
  }

  // Halved until both controls lie near the chord's thirds; false when the
  // halvings would pass FreeType's stack.
  bool RenderCubic(const FT_Vector& c1, const FT_Vector& c2, const FT_Vector& to) {
    Point stack[kCubicStack];
    Point* arc = stack;
    arc[0] = {Upscale(to.x), Upscale(to.y)};
    arc[1] = {Upscale(c2.x), Upscale(c2.y)};
    arc[2] = {Upscale(c1.x), Upscale(c1.y)};
    arc[3] = {x_, y_};
    if (OutsideRows({arc[0].y, arc[1].y, arc[2].y, arc[3].y})) {
      x_ = arc[0].x;
      y_ = arc[0].y;
      return true;
    }
    auto far = [](TPos v) { return (v < 0 ? -v : v) > kOnePixel / 2; };
    for (;;) {
      if (far(2 * arc[0].x - 3 * arc[1].x + arc[3].x) || far(2 * arc[0].y - 3 * arc[1].y + arc[3].y) ||
          far(arc[0].x - 3 * arc[2].x + 2 * arc[3].x) || far(arc[0].y - 3 * arc[2].y + 2 * arc[3].y)) {
        if (arc + 6 >= stack + kCubicStack) return false;
        SplitCubic(arc);
        arc += 3;
        continue;
      }
      RenderLine(arc[0].x, arc[0].y);
      if (arc == stack) return true;
      arc -= 3;
    }
  }

  const int width_, height_;
  Frame* const frame_;
  TPos x_ = 0, y_ = 0;  // the pen, 24.8
  Current cur_{0, -1, 0, 0, LONG_MAX, -1};
};

// FreeType's byte for a summed area: a 9-bit shift, then for the non-zero
// rule negatives folded (~) and values past 255 clamped, for the even-odd
// rule odd multiples of 256 folded and the rest cut to 8 bits.
inline uint8_t Coverage(uint32_t sum, int fill) {
  int c = static_cast<int32_t>(sum) >> (kPixelBits * 2 + 1 - 8);
  if (c & fill) c = ~c;
  if (c > 255 && (fill & INT_MIN)) c = 255;
  return static_cast<uint8_t>(c);
}

// Rows with more cells than FreeType's pool takes for a row.
bool AnyRowTooDense(const Frame& f, long first, long last) {
  for (long y = first; y <= last; ++y) {
    const uint64_t* row = f.touched + static_cast<size_t>(y) * f.words;
    int distinct = 0;
    for (size_t w = 0; w < f.words; ++w) distinct += std::popcount(row[w]);
    if (distinct > kRowCells) return true;
  }
  return false;
}

// gray_sweep over one row: runs between touched cells take the running
// cover's byte when it is not zero, a touched cell in the buffer its own.
void SweepRow(Frame& f, long y, int fill, int32_t width, uint8_t* line) {
  uint64_t* const touched = f.touched + static_cast<size_t>(y) * f.words;
  Sum* const sums = f.sums + static_cast<size_t>(y) * f.stride;
  int32_t x = 0;
  uint32_t run = 0;
  for (size_t w = 0; w < f.words; ++w) {
    uint64_t m = touched[w];
    if (!m) continue;
    touched[w] = 0;
    do {
      const size_t i = w * 64 + static_cast<size_t>(std::countr_zero(m));
      m &= m - 1;
      const int32_t cx = static_cast<int32_t>(i) - 1;
      if (run != 0 && cx > x) std::memset(line + x, Coverage(run, fill), static_cast<size_t>(cx - x));
      run += sums[i].cover * (kOnePixel * 2);
      const uint32_t a = run - sums[i].area;
      if (a != 0 && cx >= 0) line[cx] = Coverage(a, fill);
      x = cx + 1;
      sums[i] = {0, 0};
    } while (m);
  }
  if (run != 0 && x < width) std::memset(line + x, Coverage(run, fill), static_cast<size_t>(width - x));
}

}  // namespace

vlGreyFill FillOutlineGrey(const FT_Outline* o, uint8_t* buffer, int32_t rowBytes, int32_t width, int32_t height) {
  if (!o || !buffer || width <= 0 || height <= 0 || rowBytes < width) return vlGreyFill::kFailed;
  if (width > kLargest || height > kLargest) return vlGreyFill::kNotHandled;
  if (o->n_points < 0 || (o->n_points > 0 && !o->points)) return vlGreyFill::kNotHandled;
  // FreeType's checks, in its order.
  FT_BBox box;
  FT_Outline_Get_CBox(o, &box);
  if (box.xMin < -0x1000000L || box.yMin < -0x1000000L || box.xMax > 0x1000000L || box.yMax > 0x1000000L)
    return vlGreyFill::kFailed;
  if (o->n_points == 0 || o->n_contours <= 0) return vlGreyFill::kDrawn;
  if (!o->contours || !o->points || o->n_points != o->contours[o->n_contours - 1] + 1) return vlGreyFill::kFailed;
  if (!o->tags) return vlGreyFill::kNotHandled;
  for (int c = 0, start = 0; c < o->n_contours; ++c) {
    // Empty contours or ones out of order make FreeType read past them.
    const int end = o->contours[c];
    if (end < start || end >= o->n_points) return vlGreyFill::kNotHandled;
    start = end + 1;
  }

  thread_local Frame frame;
  if (static_cast<size_t>(width + 1) * static_cast<size_t>(height) > kFrameCells ||
      !frame.Reserve(width, height))
    return vlGreyFill::kNotHandled;
  CellMaker maker(width, height, &frame);
  const Status status = maker.Decompose(*o);
  const long first = maker.FirstRow(), last = maker.LastRow();
  if (status != Status::kOk || (width + 1 > kRowCells && AnyRowTooDense(frame, first, last))) {
    frame.Clear(first, last);
    frame.Trim();
    // FreeType draws nothing for a bad outline; its failing on a dense row
    // (after drawing the rows below) is left to it.
    return status == Status::kInvalid ? vlGreyFill::kFailed : vlGreyFill::kNotHandled;
  }
  const int fill = (o->flags & FT_OUTLINE_EVEN_ODD_FILL) ? 0x100 : INT_MIN;
  for (long y = first; y <= last; ++y) SweepRow(frame, y, fill, width, buffer + static_cast<size_t>(y) * rowBytes);
  frame.Trim();
  return vlGreyFill::kDrawn;
}
