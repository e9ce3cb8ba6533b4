// The 1-bit even-odd fill must light exactly the pixels the winding sweep
// it replaced lit (and the non-zero fill, which shares its outline walk,
// what it lit): that sweep is kept here as it was, and both fill random
// outlines (straight sides and curves, conics and cubics; points on pixel
// centres, on pixel edges and anywhere on FreeType's 1/64 grid; points far
// outside the buffer; several contours; rows crossed hundreds of times;
// widths either side of 64-pixel steps; tall buffers) into rows wider
// than the picture, whose spare bytes must stay untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "graphics/outline_raster.h"
#include "graphics/outline_scanline.h"

namespace {

// The sweep before: the sides that reach each row, their crossings summed
// as windings per pixel.
class WindingSweep {
 public:
  WindingSweep(int32_t width, int32_t height, bool evenOdd = true)
      : width_(width), height_(height), evenOdd_(evenOdd) {}

  void Fill(const FT_Outline* o, uint8_t* buffer, int32_t rowBytes) {
    Add(o, 0, 0);
    Render(buffer, rowBytes);
  }
  // An outline's contours moved by -origin (26.6).
  void Add(const FT_Outline* o, FT_Pos originX, FT_Pos originY) {
    static const FT_Outline_Funcs kFuncs = {Move, Line, Conic, Cubic, 0, 0};
    dx = Px(originX);
    dy = Px(originY);
    ASSERT_EQ(FT_Outline_Decompose(const_cast<FT_Outline*>(o), &kFuncs, this), 0);
    Close();
  }
  void MoveTo(double x, double y) {
    Close();
    penX = startX = x;
    penY = startY = y;
    contour = true;
  }
  void LineTo(double x, double y) {
    Side(penX, penY, x, y);
    penX = x;
    penY = y;
  }
  void Render(uint8_t* buffer, int32_t rowBytes) {
    Close();
    std::sort(edges_.begin(), edges_.end(), [](const Edge& a, const Edge& b) { return a.first < b.first; });
    Sweep(buffer, rowBytes);
  }

 private:
  struct Edge {
    double xTop, yTop, yBottom, slope;
    int32_t first, last, dir;
  };
  struct Along {
    int32_t row;
    double x0, x1;
  };

  static double Px(FT_Pos v) { return static_cast<double>(v) / 64.0; }
  static int32_t Clamp(double v, int32_t low, int32_t high) {
    return static_cast<int32_t>(std::clamp(v, static_cast<double>(low), static_cast<double>(high)));
  }
  static int Move(const FT_Vector* to, void* user) {
    auto& f = *static_cast<WindingSweep*>(user);
    f.MoveTo(Px(to->x) - f.dx, Px(to->y) - f.dy);
    return 0;
  }
  static int Line(const FT_Vector* to, void* user) {
    auto& f = *static_cast<WindingSweep*>(user);
    f.LineTo(Px(to->x) - f.dx, Px(to->y) - f.dy);
    return 0;
  }
  static int Conic(const FT_Vector* control, const FT_Vector* to, void* user) {
    auto& f = *static_cast<WindingSweep*>(user);
    const double cx = Px(control->x) - f.dx, cy = Px(control->y) - f.dy;
    const double ex = Px(to->x) - f.dx, ey = Px(to->y) - f.dy;
    f.CubicTo(f.penX + 2.0 / 3 * (cx - f.penX), f.penY + 2.0 / 3 * (cy - f.penY), ex + 2.0 / 3 * (cx - ex),
              ey + 2.0 / 3 * (cy - ey), ex, ey, 0);
    return 0;
  }
  static int Cubic(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto& f = *static_cast<WindingSweep*>(user);
    f.CubicTo(Px(c1->x) - f.dx, Px(c1->y) - f.dy, Px(c2->x) - f.dx, Px(c2->y) - f.dy, Px(to->x) - f.dx,
              Px(to->y) - f.dy, 0);
    return 0;
  }

  void OnCentreLine(double yc, double x0, double x1) {
    const double row = yc - 0.5;
    if (row == std::floor(row) && row >= 0 && row < height_)
      along_.push_back({static_cast<int32_t>(row), std::min(x0, x1), std::max(x0, x1)});
  }
  void Side(double x0, double y0, double x1, double y1) {
    if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) return;
    if (y0 == y1) {
      OnCentreLine(y0, x0, x1);
      return;
    }
    const double low = std::min(y0, y1), high = std::max(y0, y1);
    OnCentreLine(high, y1 == high ? x1 : x0, y1 == high ? x1 : x0);
    Edge e;
    e.dir = y1 > y0 ? 1 : -1;
    e.yTop = low;
    e.yBottom = high;
    e.xTop = y1 > y0 ? x0 : x1;
    e.slope = (x1 - x0) / (y1 - y0);
    const double first = std::max(std::ceil(low - 0.5), 0.0);
    const double last = std::min(std::ceil(high - 0.5) - 1, static_cast<double>(height_) - 1);
    if (first > last) return;
    e.first = static_cast<int32_t>(first);
    e.last = static_cast<int32_t>(last);
    edges_.push_back(e);
  }
  void Close() {
    if (contour) LineTo(startX, startY);
    contour = false;
  }
  void CubicTo(double x1, double y1, double x2, double y2, double x3, double y3, int depth) {
    const double x0 = penX, y0 = penY;
    const bool away = std::max({y0, y1, y2, y3}) <= 0 || std::min({y0, y1, y2, y3}) >= height_ ||
                      std::min({x0, x1, x2, x3}) >= width_ || std::max({x0, x1, x2, x3}) <= 0;
    const double bend = std::max({std::fabs(x0 - 2 * x1 + x2), std::fabs(y0 - 2 * y1 + y2),
                                  std::fabs(x1 - 2 * x2 + x3), std::fabs(y1 - 2 * y2 + y3)});
    if (away || depth >= 16 || !(bend > 1.0 / 64)) {
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
  void Sweep(uint8_t* buffer, int32_t rowBytes) {
    std::vector<int32_t> delta(static_cast<size_t>(width_) + 1, 0);
    std::vector<uint8_t> onSide(static_cast<size_t>(width_) + 1, 0);
    std::vector<uint32_t> active;
    std::vector<int32_t> marked;
    size_t next = 0;
    for (int32_t row = 0; row < height_; ++row) {
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
        const int32_t px = Clamp(at, 0, width_);
        delta[px] += e.dir;
        marked.push_back(px);
        if (at == x - 0.5 && px < width_ && at >= 0) onSide[px] = 1;
        ++count;
        if (rightmost < 0 || x > rightmostX) rightmost = px, rightmostX = x;
      }
      active.resize(kept);
      if (evenOdd_ && (count & 1)) delta[rightmost] -= 1;
      uint8_t* out = buffer + static_cast<size_t>(row) * rowBytes;
      int32_t winding = 0, from = 0;
      auto inside = [&] { return evenOdd_ ? (winding & 1) != 0 : winding != 0; };
      if (marked.size() * 16 > static_cast<size_t>(width_)) {
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
        if (x == width_) break;
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
    for (const Along& l : along_) {
      const int32_t x0 = Clamp(std::ceil(l.x0 - 0.5), 0, width_);
      const int32_t x1 = Clamp(std::floor(l.x1 - 0.5), -1, width_ - 1);
      if (x0 <= x1) std::memset(buffer + static_cast<size_t>(l.row) * rowBytes + x0, 255, size_t(x1 - x0 + 1));
    }
  }

  int32_t width_, height_;
  bool evenOdd_;
  double penX = 0, penY = 0, startX = 0, startY = 0, dx = 0, dy = 0;
  bool contour = false;
  std::vector<Edge> edges_;
  std::vector<Along> along_;
};

struct Shape {
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> ends;
};

// A point of the buffer's grid, or anywhere near it, or far outside it.
FT_Vector RandomPoint(std::mt19937& rng, int32_t w, int32_t h) {
  auto coordinate = [&](int32_t size) -> FT_Pos {
    switch (rng() % 8) {
      case 0: return (static_cast<FT_Pos>(rng() % (size + 1)) * 64) + 32;  // a pixel centre
      case 1: return static_cast<FT_Pos>(rng() % (size + 1)) * 64;         // a pixel edge
      case 2: return static_cast<FT_Pos>(rng() % 2000000) - 1000000;       // far off
      default: return static_cast<FT_Pos>(rng() % ((size + 40) * 64)) - 20 * 64;
    }
  };
  return {coordinate(w), coordinate(h)};
}

// Contours of lines, conics and cubics; without conics the fill walks the
// outline itself, with them through FreeType.
Shape RandomShape(std::mt19937& rng, int32_t w, int32_t h, int maxSides, bool conics = true) {
  Shape s;
  const int contours = 1 + static_cast<int>(rng() % 4);
  for (int c = 0; c < contours; ++c) {
    const int sides = 2 + static_cast<int>(rng() % maxSides);
    FT_Vector at = RandomPoint(rng, w, h);
    s.points.push_back(at);
    s.tags.push_back(FT_CURVE_TAG_ON);
    for (int i = 0; i < sides; ++i) {
      const unsigned kind = rng() % 6 + (conics ? 0 : 1);
      // Short steps too, so that runs of sides stay within a few pixels.
      auto next = [&] {
        if (rng() % 3) return RandomPoint(rng, w, h);
        const FT_Pos dx = static_cast<FT_Pos>(rng() % 1025) - 512, dy = static_cast<FT_Pos>(rng() % 1025) - 512;
        return FT_Vector{at.x + dx, at.y + dy};
      };
      if (kind == 0) {
        s.points.push_back(next());
        s.tags.push_back(FT_CURVE_TAG_CONIC);
      } else if (kind == 1) {
        s.points.push_back(next());
        s.tags.push_back(FT_CURVE_TAG_CUBIC);
        s.points.push_back(next());
        s.tags.push_back(FT_CURVE_TAG_CUBIC);
      }
      at = next();
      s.points.push_back(at);
      s.tags.push_back(FT_CURVE_TAG_ON);
    }
    if (rng() % 3 == 0) {  // the last arc ends on the contour's start
      for (int k = 0; k < 2; ++k) {
        s.points.push_back(RandomPoint(rng, w, h));
        s.tags.push_back(FT_CURVE_TAG_CUBIC);
      }
    }
    s.ends.push_back(static_cast<short>(s.points.size() - 1));
  }
  return s;
}

FT_Outline View(const Shape& s) {
  FT_Outline o{};
  o.n_points = static_cast<short>(s.points.size());
  o.n_contours = static_cast<short>(s.ends.size());
  o.points = const_cast<FT_Vector*>(s.points.data());
  o.tags = const_cast<char*>(s.tags.data());
  o.contours = const_cast<short*>(s.ends.data());
  o.flags = FT_OUTLINE_EVEN_ODD_FILL;
  return o;
}

// Both fills into rows with spare bytes after the picture, from garbage;
// the non-zero sweep too, which shares the outline walk and the sides.
void ExpectSamePixels(const Shape& s, int32_t w, int32_t h, const char* what, int round, size_t* lit) {
  FT_Outline o = View(s);
  const int32_t rowBytes = w + 3;
  for (const bool evenOdd : {true, false}) {
    std::vector<uint8_t> before(static_cast<size_t>(rowBytes) * h, 0x5A), after(before.size(), 0xA5);
    WindingSweep(w, h, evenOdd).Fill(&o, before.data(), rowBytes);
    ASSERT_TRUE(evenOdd ? FillOutlineEvenOdd(&o, after.data(), rowBytes, w, h)
                        : FillOutlineScanline(&o, false, false, after.data(), rowBytes, w, h));
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* a = &before[static_cast<size_t>(y) * rowBytes];
      const uint8_t* b = &after[static_cast<size_t>(y) * rowBytes];
      for (int32_t x = 0; x < w; ++x) {
        ASSERT_EQ(a[x], b[x]) << what << (evenOdd ? " even-odd" : " non-zero") << " round " << round << " at " << x
                              << "," << y << " in " << w << "x" << h;
        *lit += evenOdd && b[x] != 0;
      }
      for (int32_t x = w; x < rowBytes; ++x) ASSERT_EQ(b[x], 0xA5) << "spare byte overwritten, row " << y;
    }
  }
}

TEST(EvenOddFill, LightsTheSamePixelsAsTheWindingSweep) {
  std::mt19937 rng(20261210);
  size_t lit = 0, pixels = 0;
  const int32_t widths[] = {1, 7, 63, 64, 65, 127, 128, 129, 200, 333};
  for (int round = 0; round < 1500; ++round) {
    const int32_t w = round % 4 ? widths[round % 10] : 1 + static_cast<int32_t>(rng() % 400);
    const int32_t h = 1 + static_cast<int32_t>(rng() % 300);
    ExpectSamePixels(RandomShape(rng, w, h, round % 5 == 0 ? 120 : 12, round % 2 == 0), w, h, "random", round, &lit);
    if (HasFatalFailure()) return;
    pixels += static_cast<size_t>(w) * h;
  }
  // Neither all dark nor all lit: the shapes cut through the pictures.
  EXPECT_GT(lit, pixels / 10);
  EXPECT_LT(lit, pixels * 9 / 10);
}

// Tall and wide buffers run through many bands of rows; a zig-zag crosses
// each row hundreds of times, and stars with points on centres cross
// themselves on centres.
TEST(EvenOddFill, TallBuffersDenseRowsAndCrossingsOnCentres) {
  std::mt19937 rng(7);
  size_t lit = 0;
  const std::pair<int32_t, int32_t> sizes[] = {{3, 9000}, {300, 2500}, {4100, 40}, {700, 700}};
  for (int round = 0; round < 8; ++round) {
    const auto [w, h] = sizes[round % 4];
    ExpectSamePixels(RandomShape(rng, w, h, 60, round % 2 == 0), w, h, "large", round, &lit);
    if (HasFatalFailure()) return;
  }
  for (const int32_t w : {64, 250, 1000}) {
    Shape zigzag;
    const int32_t h = 120;
    for (int32_t i = 0; i <= w; i += 1) {
      zigzag.points.push_back({i * 64 + (i % 3) * 16, (i & 1) ? (h + 4) * 64 : -4 * 64 + (i % 5) * 32});
      zigzag.tags.push_back(FT_CURVE_TAG_ON);
    }
    zigzag.ends.push_back(static_cast<short>(zigzag.points.size() - 1));
    ExpectSamePixels(zigzag, w, h, "zig-zag", w, &lit);
    if (HasFatalFailure()) return;
  }
  for (int n = 5; n <= 41; n += 4) {
    Shape star;
    for (int k = 0; k < n; ++k) {
      const double a = 2 * 3.14159265358979323846 * ((k * (n / 2)) % n) / n;
      star.points.push_back({static_cast<FT_Pos>(std::lround(60 + 50 * std::cos(a))) * 64 + 32,
                             static_cast<FT_Pos>(std::lround(60 + 50 * std::sin(a))) * 64 + 32});
      star.tags.push_back(FT_CURVE_TAG_ON);
    }
    star.ends.push_back(static_cast<short>(n - 1));
    ExpectSamePixels(star, 121, 121, "star", n, &lit);
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(lit, 100000u);
}

// A path too long for one outline is filled from several, each moved by
// the buffer's corner, as one shape.
TEST(EvenOddFill, SeveralOutlinesFillAsOne) {
  std::mt19937 rng(31);
  size_t lit = 0;
  for (int round = 0; round < 200; ++round) {
    const int32_t w = 1 + static_cast<int32_t>(rng() % 300), h = 1 + static_cast<int32_t>(rng() % 300);
    const FT_Pos ox = static_cast<FT_Pos>(rng() % 4000) - 2000, oy = static_cast<FT_Pos>(rng() % 4000) - 2000;
    WindingSweep before(w, h);
    vlScanlineFill after(w, h, false, true);
    const int pieces = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < pieces; ++i) {
      Shape s = RandomShape(rng, w, h, 20, i % 2 == 0);
      for (FT_Vector& p : s.points) p = {p.x + ox, p.y + oy};
      const FT_Outline o = View(s);
      before.Add(&o, ox, oy);
      ASSERT_TRUE(after.AddOutline(&o, ox, oy));
    }
    std::vector<uint8_t> a(static_cast<size_t>(w) * h, 3), b(a.size(), 4);
    before.Render(a.data(), w);
    ASSERT_TRUE(after.Render(b.data(), w));
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], b[i]) << "round " << round << " at " << i % w << "," << i / w;
    lit += static_cast<size_t>(std::count(b.begin(), b.end(), 255));
  }
  EXPECT_GT(lit, 100000u);
}

// Outlines FreeType's walk refuses are refused, whichever walk reads them:
// a contour opening on a control point, a cubic with one control point
// or with its second in the next contour.
TEST(EvenOddFill, MalformedOutlinesAreRefused) {
  const char on = FT_CURVE_TAG_ON, cubic = FT_CURVE_TAG_CUBIC;
  struct Case {
    std::vector<char> tags;
    std::vector<short> ends;
  };
  const Case cases[] = {{{cubic, cubic, on, on}, {3}},
                        {{cubic, on, on, on}, {3}},
                        {{on, on, cubic, on}, {3}},
                        {{on, on, on, cubic}, {3}},
                        {{on, cubic, cubic, on}, {1, 3}}};
  for (const Case& c : cases) {
    std::vector<FT_Vector> points = {{64, 64}, {640, 128}, {320, 900}, {100, 500}};
    FT_Outline o{};
    o.n_points = 4;
    o.n_contours = static_cast<short>(c.ends.size());
    o.points = points.data();
    o.tags = const_cast<char*>(c.tags.data());
    o.contours = const_cast<short*>(c.ends.data());
    o.flags = FT_OUTLINE_EVEN_ODD_FILL;
    std::vector<uint8_t> buffer(20 * 20, 7);
    EXPECT_FALSE(FillOutlineEvenOdd(&o, buffer.data(), 20, 20, 20));
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 7), 400);
  }
}

// A side that cannot be placed (a point at infinity or not a number) is
// left out, and the rows it crossed have a lone crossing: both leave out
// the rightmost. Paths given in pixels, off FreeType's grid.
TEST(EvenOddFill, RowsWithALoneCrossingLeaveOutTheRightmost) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> across(-30, 330), step(-6, 6);
  for (int round = 0; round < 400; ++round) {
    const int32_t w = 40 + static_cast<int32_t>(rng() % 260), h = 20 + static_cast<int32_t>(rng() % 200);
    WindingSweep before(w, h);
    vlScanlineFill after(w, h, false, true);
    for (int c = 0; c < 1 + static_cast<int>(rng() % 3); ++c) {
      double x = across(rng), y = across(rng) * h / 300;
      before.MoveTo(x, y);
      after.MoveTo(x, y);
      for (int i = 0; i < 3 + static_cast<int>(rng() % 30); ++i) {
        const unsigned kind = rng() % 10;
        if (kind == 0) x = rng() % 2 ? HUGE_VAL : NAN;
        else if (kind < 4) x = std::round(across(rng)) + 0.5, y = std::round(across(rng) * h / 300) + 0.5;
        else if (kind < 7) x = std::isfinite(x) ? x + step(rng) : across(rng), y += step(rng);
        else x = across(rng), y = across(rng) * h / 300;
        before.LineTo(x, y);
        after.LineTo(x, y);
      }
    }
    const int32_t rowBytes = w + 5;
    std::vector<uint8_t> a(static_cast<size_t>(rowBytes) * h, 1), b(a.size(), 2);
    before.Render(a.data(), rowBytes);
    ASSERT_TRUE(after.Render(b.data(), rowBytes));
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x)
        ASSERT_EQ(a[static_cast<size_t>(y) * rowBytes + x], b[static_cast<size_t>(y) * rowBytes + x])
            << "round " << round << " at " << x << "," << y;
      ASSERT_EQ(b[static_cast<size_t>(y) * rowBytes + w], 2);
    }
  }
}

}  // namespace
