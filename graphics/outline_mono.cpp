// The 1-bit fill, pixel for pixel as FreeType's monochrome rasteriser
// makes it, so that pictures drawn before stay the same. Its steps are
// kept as they are, since each of them decides pixels: coordinates on a
// 1/4096 grid shifted half a pixel so centres fall on whole units, sides
// cut into y-monotonic profiles holding one crossing per row, curves split
// to 1/16 pixel near each row, a work pool of FreeType's size whose
// overflow makes it fill in bands (a band cuts its sides differently),
// rows filled between the n-th rising and the n-th falling profile, and a
// second pass along the columns lighting the centres an edge passes
// exactly. What changes is how the rows are swept: bytes are written
// straight into the coverage, without a bit plane to expand.
#include "graphics/outline_mono.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "graphics/bezier_split.h"
#include "graphics/outline_decompose.h"

namespace {

using Long = long;
static_assert(sizeof(Long) == 8, "crossings are 64-bit, as FreeType keeps them here");

constexpr int kBits = 12;
constexpr Long kPrec = Long{1} << kBits;
constexpr Long kHalf = kPrec >> 1;
constexpr Long kScale = kPrec >> 6;  // from 26.6
constexpr Long kStep = 256;          // curves are split until a piece is this tall
constexpr Long kPool = 16384 / sizeof(Long);
constexpr Long kProfileLongs = 8;  // a profile's record in the pool
constexpr int kMaxBezier = 32;

inline Long Floor(Long x) { return x & -kPrec; }
inline Long Ceiling(Long x) { return (x + kPrec - 1) & -kPrec; }
inline Long Trunc(Long x) { return x >> kBits; }
inline Long Frac(Long x) { return x & (kPrec - 1); }
inline Long Scaled(Long x) { return x * kScale - kHalf; }

// a * b / c on magnitudes, signs applied after; rounded to nearest or not.
Long MulDiv(Long a_, Long b_, Long c_, bool round) {
  int s = 1;
  uint64_t a = static_cast<uint64_t>(a_), b = static_cast<uint64_t>(b_), c = static_cast<uint64_t>(c_);
  if (a_ < 0) a = 0u - a, s = -s;
  if (b_ < 0) b = 0u - b, s = -s;
  if (c_ < 0) c = 0u - c, s = -s;
  // Magnitudes stay below 2^31 (the box was checked), so the product fits;
  // below 2^52 a double quotient truncates as the integer one does.
  const uint64_t n = a * b + (round ? c >> 1 : 0);
  uint64_t d;
  if (c == 0) d = 0x7FFFFFFFu;
  else if (n < (uint64_t{1} << 52)) d = static_cast<uint64_t>(static_cast<double>(n) / static_cast<double>(c));
  else d = n / c;
  const Long r = static_cast<Long>(d);
  return s < 0 ? static_cast<Long>(0u - static_cast<uint64_t>(r)) : r;
}

// n / d truncated, for 0 < d < 256: through doubles while n is small
// enough that the quotient cannot round across a whole number (a quotient
// 1/255 short of one stays short of it), as integer division elsewhere.
inline Long Quotient(Long n, Long d) {
  constexpr Long kExact = Long{1} << 44;
  if (n > -kExact && n < kExact) return static_cast<Long>(static_cast<double>(n) / static_cast<double>(d));
  return n / d;
}

struct Point {
  Long x, y;
};

// The pen's place. Its halves are written one at a time as each side
// ends; kept apart so that they are never read back as one 16-byte
// load, which would wait for both stores to land.
struct Pen {
  Long x = 0;
  Long gap = 0;
  Long y = 0;
};

enum State { kUnknown, kAscending, kDescending };
enum Error { kOk, kOverflow, kInvalid, kNegativeHeight };

struct Profile {
  Long offset = 0;  // pool index of its first crossing
  Long height = 0;  // rows
  Long start = 0;   // first row
  bool up = false;
};

using vl_bezier::SplitConic;
using vl_bezier::SplitCubic;

class MonoRaster {
 public:
  MonoRaster(const FT_Outline* o, uint8_t* buffer, int32_t rowBytes, int32_t width, int32_t height)
      : outline_(*o), buffer_(buffer), rowBytes_(rowBytes), width_(width), height_(height) {}

  // The vertical pass, then the pass along the columns.
  Error Render() {
    if (Error e = RenderPass(false, 0, height_ - 1)) return e;
    if (outline_.flags & FT_OUTLINE_SINGLE_PASS) return kOk;
    return RenderPass(true, 0, width_ - 1);
  }

 private:
  // Renders [yMin, yMax] (rows, or columns when flipped), halving the band
  // whenever the pool overflows.
  Error RenderPass(bool flipped, int yMin, int yMax) {
    int bands[32], bandTop = 0;
    for (;;) {
      minY_ = Long{yMin} * kPrec;
      maxY_ = Long{yMax} * kPrec;
      top_ = 0;
      error_ = kOk;
      if (!ConvertGlyph(flipped)) {
        if (error_ != kOverflow) return error_;  // kOk: the pass ends here, as FreeType's does
        if (yMin == yMax) return error_;
        const int mid = (yMin + yMax) >> 1;
        if (bandTop == 32) return kOverflow;
        bands[bandTop++] = yMin;
        yMin = mid + 1;
      } else {
        if (haveFirst_) Sweep(flipped);
        if (--bandTop < 0) break;
        yMax = yMin - 1;
        yMin = bands[bandTop];
      }
    }
    return kOk;
  }

  bool Fail(Error e) {
    error_ = e;
    return false;
  }

  bool NewProfile(State s) {
    if (!haveFirst_) {
      cur_ = 0;
      haveFirst_ = true;
      top_ += kProfileLongs;
    }
    if (top_ >= maxBuff_) return Fail(kOverflow);
    Profile& p = profiles_[cur_];
    p.start = 0;
    p.height = 0;
    p.offset = top_;
    p.up = s == kAscending;
    if (gProfile_ < 0) gProfile_ = cur_;
    state_ = s;
    fresh_ = true;
    joint_ = false;
    return true;
  }

  bool EndProfile() {
    const Long h = top_ - profiles_[cur_].offset;
    if (h < 0) return Fail(kNegativeHeight);
    if (h > 0) {
      profiles_[cur_].height = h;
      top_ += kProfileLongs;
      Profile next;
      next.offset = top_;
      profiles_.push_back(next);
      cur_ = profiles_.size() - 1;
      ++numProfs_;
    }
    if (top_ >= maxBuff_) return Fail(kOverflow);
    joint_ = false;
    return true;
  }

  // Keeps the rows where profiles start or end, sorted, at the pool's end.
  bool InsertTurn(Long yl) {
    int y = static_cast<int>(yl);
    int n = numTurns_ - 1;
    Long* turns = pool_ + (kPool - numTurns_);
    while (n >= 0 && y < turns[n]) n--;
    if (n >= 0 && y > turns[n]) do {
        const int y2 = static_cast<int>(turns[n]);
        turns[n] = y;
        y = y2;
      } while (--n >= 0);
    if (n < 0) {
      maxBuff_--;
      if (maxBuff_ <= top_) return Fail(kOverflow);
      numTurns_++;
      pool_[kPool - numTurns_] = y;
    }
    return true;
  }

  bool FinalizeProfiles() {
    const size_t n = numProfs_;
    if (n > 1 && haveFirst_) {
      for (size_t k = 0; k < n; ++k) {
        Profile& p = profiles_[k];
        int bottom, topRow;
        if (p.up) {
          bottom = static_cast<int>(p.start);
          topRow = static_cast<int>(p.start + p.height - 1);
        } else {
          bottom = static_cast<int>(p.start - p.height + 1);
          topRow = static_cast<int>(p.start);
          p.start = bottom;
          p.offset += p.height - 1;
        }
        if (!InsertTurn(bottom) || !InsertTurn(topRow + 1)) return false;
      }
    } else {
      haveFirst_ = false;
    }
    return true;
  }

  bool LineUp(Long x1, Long y1, Long x2, Long y2, Long miny, Long maxy) {
    Long dx = x2 - x1;
    const Long dy = y2 - y1;
    if (dy <= 0 || y2 < miny || y1 > maxy) return true;
    int e1, e2, f1, f2;
    if (y1 < miny) {
      x1 += MulDiv(dx, miny - y1, dy, true);
      e1 = static_cast<int>(Trunc(miny));
      f1 = 0;
    } else {
      e1 = static_cast<int>(Trunc(y1));
      f1 = static_cast<int>(Frac(y1));
    }
    if (y2 > maxy) {
      e2 = static_cast<int>(Trunc(maxy));
      f2 = 0;
    } else {
      e2 = static_cast<int>(Trunc(y2));
      f2 = static_cast<int>(Frac(y2));
    }
    if (f1 > 0) {
      if (e1 == e2) return true;
      x1 += MulDiv(dx, kPrec - f1, dy, true);
      e1 += 1;
    } else if (joint_) {
      top_--;
      joint_ = false;
    }
    joint_ = f2 == 0;
    if (fresh_) {
      profiles_[cur_].start = e1;
      fresh_ = false;
    }
    int size = e2 - e1 + 1;
    if (top_ + size >= maxBuff_) return Fail(kOverflow);
    Long ix, rx;
    if (dx > 0) {
      ix = MulDiv(kPrec, dx, dy, false);
      rx = kPrec * dx - ix * dy;  // the remainder
      dx = 1;
    } else {
      ix = -MulDiv(kPrec, -dx, dy, false);
      rx = kPrec * -dx + ix * dy;
      dx = -1;
    }
    Long ax = -dy;
    Long* out = pool_ + top_;
    while (size > 0) {
      *out++ = x1;
      x1 += ix;
      ax += rx;
      if (ax >= 0) {
        ax -= dy;
        x1 += dx;
      }
      size--;
    }
    top_ = out - pool_;
    return true;
  }

  bool LineDown(Long x1, Long y1, Long x2, Long y2, Long miny, Long maxy) {
    const bool fresh = fresh_;
    const bool ok = LineUp(x1, -y1, x2, -y2, -maxy, -miny);
    if (fresh && !fresh_) profiles_[cur_].start = -profiles_[cur_].start;
    return ok;
  }

  // No pixel centre (no whole number of the grid) within the x range of
  // the piece's points.
  template <int kDegree>
  static bool BetweenCentres(const Point* arc) {
    Long lo = arc[0].x, hi = arc[0].x;
    for (int i = 1; i <= kDegree; ++i) {
      lo = std::min(lo, arc[i].x);
      hi = std::max(hi, arc[i].x);
    }
    return Floor(lo) == Floor(hi) && Frac(lo) != 0;
  }

  template <int kDegree>
  bool BezierUp(Point* arc, Long miny, Long maxy) {
    Long y1 = arc[kDegree].y, y2 = arc[0].y;
    Long* out = pool_ + top_;
    if (y2 < miny || y1 > maxy) {
      top_ = out - pool_;
      return true;
    }
    Long e2 = Floor(y2);
    if (e2 > maxy) e2 = maxy;
    Long e0 = miny, e;
    if (y1 < miny) {
      e = miny;
    } else {
      e = Ceiling(y1);
      const int16_t f1 = static_cast<int16_t>(Frac(y1));
      e0 = e;
      if (f1 == 0) {
        if (joint_) {
          out--;
          joint_ = false;
        }
        *out++ = arc[kDegree].x;
        e += kPrec;
      }
    }
    if (fresh_) {
      profiles_[cur_].start = Trunc(e0);
      fresh_ = false;
    }
    if (e2 < e) {
      top_ = out - pool_;
      return true;
    }
    if ((out - pool_) + Trunc(e2 - e) + 1 >= maxBuff_) {
      top_ = out - pool_;
      return Fail(kOverflow);
    }
    Point* const startArc = arc;
    bool joint = false;  // kept in a register through the loop
    do {
      joint = false;
      y2 = arc[0].y;
      if (y2 > e) {
        y1 = arc[kDegree].y;
        if (y2 - y1 >= kStep) {
          // A piece holding this row alone (and not the arc's last row)
          // whose points lie between two centres: halving keeps every
          // point within the piece's range, so the crossing the splits
          // would reach lies there too, lighting what any value there
          // lights, and what follows inside the piece changes nothing.
          if (y2 < e + kPrec && e + kPrec <= e2 && BetweenCentres<kDegree>(arc)) {
            *out++ = arc[0].x;
            arc -= kDegree;
            e += kPrec;
            continue;
          }
          if (arc + 2 * kDegree >= arcsEnd_) return Fail(kInvalid);
          if constexpr (kDegree == 2) SplitConic(arc);
          else SplitCubic(arc);
          arc += kDegree;
        } else {
          *out++ = arc[kDegree].x + Quotient((arc[0].x - arc[kDegree].x) * (e - y1), y2 - y1);
          arc -= kDegree;
          e += kPrec;
        }
      } else {
        if (y2 == e) {
          joint = true;
          *out++ = arc[0].x;
          e += kPrec;
        }
        arc -= kDegree;
      }
    } while (arc >= startArc && e <= e2);
    joint_ = joint;
    top_ = out - pool_;
    return true;
  }

  template <int kDegree>
  bool BezierDown(Point* arc, Long miny, Long maxy) {
    for (int i = 0; i <= kDegree; ++i) arc[i].y = -arc[i].y;
    const bool fresh = fresh_;
    const bool ok = BezierUp<kDegree>(arc, -maxy, -miny);
    if (fresh && !fresh_) profiles_[cur_].start = -profiles_[cur_].start;
    arc[0].y = -arc[0].y;
    return ok;
  }

  // last: the pen, moved to the end.
  bool LineTo(Pen& last, Long x, Long y) {
    switch (state_) {
      case kUnknown:
        if (y > last.y) {
          if (!NewProfile(kAscending)) return false;
        } else if (y < last.y) {
          if (!NewProfile(kDescending)) return false;
        }
        break;
      case kAscending:
        if (y < last.y && (!EndProfile() || !NewProfile(kDescending))) return false;
        break;
      case kDescending:
        if (y > last.y && (!EndProfile() || !NewProfile(kAscending))) return false;
        break;
    }
    if (state_ == kAscending) {
      if (!LineUp(last.x, last.y, x, y, minY_, maxY_)) return false;
    } else if (state_ == kDescending) {
      if (!LineDown(last.x, last.y, x, y, minY_, maxY_)) return false;
    }
    last.x = x;
    last.y = y;
    return true;
  }

  // A monotonic arc met: a new profile when the direction turns, then
  // its crossings.
  template <int kDegree>
  bool ArcCrossings(Point* arc, Long yStart, Long yEnd) {
    const State s = kDegree == 2 ? (yStart < yEnd ? kAscending : kDescending)
                                 : (yStart <= yEnd ? kAscending : kDescending);
    if (state_ != s) {
      if (state_ != kUnknown && !EndProfile()) return false;
      if (!NewProfile(s)) return false;
    }
    return s == kAscending ? BezierUp<kDegree>(arc, minY_, maxY_) : BezierDown<kDegree>(arc, minY_, maxY_);
  }

  bool ConicTo(Pen& last, Long cx, Long cy, Long x, Long y) {
    Point* arc = arcs_;
    arc[2].x = last.x;
    arc[2].y = last.y;
    arc[1] = {cx, cy};
    arc[0] = {x, y};
    Long x3 = x, y3 = y;
    do {
      const Long y1 = arc[2].y, y2 = arc[1].y;
      y3 = arc[0].y;
      x3 = arc[0].x;
      const Long ymin = std::min(y1, y3), ymax = y1 <= y3 ? y3 : y1;
      if (y2 < ymin || y2 > ymax) {
        if (arc + 4 >= arcsEnd_) return Fail(kInvalid);
        SplitConic(arc);
        arc += 2;
      } else if (y1 == y3) {
        arc -= 2;
      } else {
        if (!ArcCrossings<2>(arc, y1, y3)) return false;
        arc -= 2;
      }
    } while (arc >= arcs_);
    last.x = x3;
    last.y = y3;
    return true;
  }

  bool CubicTo(Pen& last, Long cx1, Long cy1, Long cx2, Long cy2, Long x, Long y) {
    // A curve of one point (a fill's degenerate join) is flat: nothing.
    const Long lx = last.x, ly = last.y;
    if (cx1 == lx && cx2 == lx && x == lx && cy1 == ly && cy2 == ly && y == ly) return true;
    Point* arc = arcs_;
    arc[3].x = lx;
    arc[3].y = ly;
    arc[2] = {cx1, cy1};
    arc[1] = {cx2, cy2};
    arc[0] = {x, y};
    Long x4 = x, y4 = y;
    do {
      const Long y1 = arc[3].y, y2 = arc[2].y, y3 = arc[1].y;
      y4 = arc[0].y;
      x4 = arc[0].x;
      const Long ymin1 = y1 <= y4 ? y1 : y4, ymax1 = y1 <= y4 ? y4 : y1;
      const Long ymin2 = y2 <= y3 ? y2 : y3, ymax2 = y2 <= y3 ? y3 : y2;
      if (ymin2 < ymin1 || ymax2 > ymax1) {
        if (arc + 6 >= arcsEnd_) return Fail(kInvalid);
        SplitCubic(arc);
        arc += 3;
      } else if (y1 == y4) {
        arc -= 3;
      } else {
        if (!ArcCrossings<3>(arc, y1, y4)) return false;
        arc -= 3;
      }
    } while (arc >= arcs_);
    last.x = x4;
    last.y = y4;
    return true;
  }

  Point Scaled2(const FT_Vector& v, bool flipped) const {
    const Long x = Scaled(v.x), y = Scaled(v.y);
    return flipped ? Point{y, x} : Point{x, y};
  }

  // The steps of a contour, on the pen.
  struct Walker {
    MonoRaster& r;
    bool flipped;
    Pen& pen;
    Point Load(const FT_Vector& v) const { return r.Scaled2(v, flipped); }
    bool MoveTo(Point p) {
      pen.x = p.x;
      pen.y = p.y;
      return true;
    }
    bool LineTo(Point p) { return r.LineTo(pen, p.x, p.y); }
    bool ConicTo(Point c, Point p) { return r.ConicTo(pen, c.x, c.y, p.x, p.y); }
    bool CubicTo(Point c1, Point c2, Point p) { return r.CubicTo(pen, c1.x, c1.y, c2.x, c2.y, p.x, p.y); }
  };

  // end: where the pen stops.
  bool DecomposeContour(int first, int lastPoint, bool flipped, Pen* end) {
    Walker w{*this, flipped, *end};
    switch (WalkContour(outline_, first, lastPoint, w)) {
      case vlContourWalk::kDone: return true;
      case vlContourWalk::kInvalid: return Fail(kInvalid);
      case vlContourWalk::kStopped: break;
    }
    return false;
  }

  bool ConvertGlyph(bool flipped) {
    haveFirst_ = false;
    joint_ = false;
    fresh_ = false;
    maxBuff_ = kPool - kProfileLongs;
    numTurns_ = 0;
    profiles_.clear();
    Profile first;
    first.offset = top_;
    profiles_.push_back(first);
    cur_ = 0;
    numProfs_ = 0;
    int start = 0;
    for (int c = 0; c < outline_.n_contours; ++c) {
      state_ = kUnknown;
      gProfile_ = -1;
      Pen end;
      if (!DecomposeContour(start, outline_.contours[c], flipped, &end)) return false;
      start = outline_.contours[c] + 1;
      // A contour closing on a row keeps that row's crossing once when its
      // first and last profiles run the same way.
      if (Frac(end.y) == 0 && end.y >= minY_ && end.y <= maxY_)
        if (gProfile_ >= 0 && profiles_[gProfile_].up == profiles_[cur_].up) top_--;
      if (!EndProfile()) return false;
    }
    if (!FinalizeProfiles()) return false;
    return top_ < maxBuff_;
  }

  // Rows (columns when flipped) from the lowest profile up: the n-th
  // rising crossing pairs with the n-th falling one, both in order.
  void Sweep(bool flipped) {
    const size_t n = numProfs_;
    // The column pass lights only crossings lying exactly on a centre.
    if (flipped && !AnyCentre()) return;
    int minRow = static_cast<int>(Trunc(maxY_)), maxRow = static_cast<int>(Trunc(minY_));
    order_.resize(n);
    for (size_t k = 0; k < n; ++k) {
      const Profile& p = profiles_[k];
      minRow = std::min(minRow, static_cast<int>(p.start));
      maxRow = std::max(maxRow, static_cast<int>(p.start + p.height - 1));
      order_[k] = static_cast<uint32_t>(k);
    }
    // Profiles by first row: they join the active lists in that order.
    std::sort(order_.begin(), order_.end(),
              [&](uint32_t a, uint32_t b) { return profiles_[a].start < profiles_[b].start; });
    left_.clear();
    right_.clear();
    size_t next = 0;
    Long retire = maxRow;  // the first row after which an active profile ends
    for (int y = minRow; y <= maxRow; ++y) {
      while (next < n && profiles_[order_[next]].start == y) {
        const Profile& p = profiles_[order_[next]];
        (p.up ? left_ : right_).push_back({0, p.offset, p.up ? 1 : -1, p.start + p.height - 1});
        retire = std::min(retire, p.start + p.height - 1);
        ++next;
      }
      if (left_.empty() && right_.empty()) continue;
      Advance(&left_, pool_);
      Advance(&right_, pool_);
      const size_t pairs = std::min(left_.size(), right_.size());
      for (size_t i = 0; i < pairs; ++i) {
        Long x1 = left_[i].x, x2 = right_[i].x;
        if (x1 > x2) std::swap(x1, x2);
        if (flipped) {
          Centres(y, x1, x2);
          continue;
        }
        Span(y, x1, x2);
      }
      if (y < retire) continue;
      Retire(&left_, y);
      Retire(&right_, y);
      retire = maxRow;
      for (const Active& a : left_) retire = std::min(retire, a.last);
      for (const Active& a : right_) retire = std::min(retire, a.last);
    }
  }

  bool AnyCentre() const {
    for (size_t k = 0; k < numProfs_; ++k) {
      const Profile& p = profiles_[k];
      const Long* v = pool_ + (p.up ? p.offset : p.offset - p.height + 1);
      // Branch-free, so that it runs as vectors: the top bit of
      // fraction - 1 is set only for a fraction of 0.
      uint64_t onCentre = 0;
      for (Long i = 0; i < p.height; ++i) onCentre |= (static_cast<uint64_t>(v[i] & (kPrec - 1)) - 1) >> 63;
      if (onCentre) return true;
    }
    return false;
  }

  struct Active {
    Long x;
    Long offset;  // pool index of the crossing for the current row
    int step;     // +1 rising, -1 falling (stored top-down)
    Long last;    // last row
  };

  // Reads each active profile's crossing for row y and keeps the list in
  // order of it (nearly sorted from the row before).
  static void Advance(std::vector<Active>* list, const Long* pool) {
    Active* a = list->data();
    const size_t n = list->size();
    for (size_t i = 0; i < n; ++i) {
      a[i].x = pool[a[i].offset];
      a[i].offset += a[i].step;
    }
    for (size_t i = 1; i < n; ++i) {
      const Active v = a[i];
      size_t j = i;
      while (j > 0 && a[j - 1].x > v.x) {
        a[j] = a[j - 1];
        --j;
      }
      a[j] = v;
    }
  }

  static void Retire(std::vector<Active>* list, int y) {
    list->erase(std::remove_if(list->begin(), list->end(), [y](const Active& a) { return a.last <= y; }),
                list->end());
  }

  // The centres from x1 to x2 (none when both lie between the same two).
  void Span(int y, Long x1, Long x2) {
    Long e1 = Trunc(Ceiling(x1)), e2 = Trunc(Floor(x2));
    if (e2 < 0 || e1 >= width_ || y < 0 || y >= height_) return;
    e1 = std::max<Long>(e1, 0);
    e2 = std::min<Long>(e2, width_ - 1);
    if (e1 > e2) return;
    std::memset(buffer_ + static_cast<size_t>(y) * rowBytes_ + e1, 255, static_cast<size_t>(e2 - e1 + 1));
  }

  // Column y: the ends lying exactly on a pixel centre.
  void Centres(int y, Long x1, Long x2) {
    for (const Long x : {x1, x2}) {
      if (Frac(x) != 0) continue;
      const Long row = Trunc(x);
      if (row >= 0 && row < height_ && y >= 0 && y < width_) buffer_[static_cast<size_t>(row) * rowBytes_ + y] = 255;
    }
  }

  FT_Outline outline_;
  uint8_t* buffer_;
  int32_t rowBytes_, width_, height_;

  Long pool_[kPool];
  Long top_ = 0, maxBuff_ = 0;
  int numTurns_ = 0;
  Long minY_ = 0, maxY_ = 0;
  bool fresh_ = false, joint_ = false, haveFirst_ = false;
  State state_ = kUnknown;
  std::vector<Profile> profiles_;
  size_t cur_ = 0, numProfs_ = 0;
  long gProfile_ = -1;
  Error error_ = kOk;
  // The curve stack: room for FreeType's depth of splits and more.
  Point arcs_[3 * 2 * kMaxBezier + 1];
  Point* const arcsEnd_ = arcs_ + 3 * 2 * kMaxBezier + 1;
  std::vector<uint32_t> order_;
  std::vector<Active> left_, right_;
};

}  // namespace

vlMonoFill FillOutlineMono(const FT_Outline* o, uint8_t* buffer, int32_t rowBytes, int32_t width, int32_t height,
                           const FT_BBox* control) {
  if (!o || !buffer || width <= 0 || height <= 0 || rowBytes < width) return vlMonoFill::kFailed;
  // FreeType counts rows and columns in 16 bits.
  if (width > 32767 || height > 32767) return vlMonoFill::kNotHandled;
  if (o->n_points == 0 || o->n_contours <= 0) return vlMonoFill::kDrawn;
  if (!o->contours || !o->points || !o->tags || o->n_points != o->contours[o->n_contours - 1] + 1)
    return vlMonoFill::kFailed;
  FT_BBox box;
  if (control)
    box = *control;
  else
    FT_Outline_Get_CBox(o, &box);
  if (box.xMin < -0x1000000L || box.yMin < -0x1000000L || box.xMax > 0x1000000L || box.yMax > 0x1000000L)
    return vlMonoFill::kFailed;
  int first = 0;
  for (int c = 0; c < o->n_contours; ++c) {
    const int last = o->contours[c];
    // Contours out of order, or tags choosing a drop-out mode, go to FreeType.
    if (last < first - 1 || last >= o->n_points) return vlMonoFill::kNotHandled;
    if (last >= first && (o->tags[first] & FT_CURVE_TAG_HAS_SCANMODE)) return vlMonoFill::kNotHandled;
    first = last + 1;
  }
  auto raster = std::make_unique<MonoRaster>(o, buffer, rowBytes, width, height);
  if (raster->Render() == kOk) return vlMonoFill::kDrawn;
  for (int32_t y = 0; y < height; ++y) std::memset(buffer + static_cast<size_t>(y) * rowBytes, 0, width);
  return vlMonoFill::kFailed;
}
