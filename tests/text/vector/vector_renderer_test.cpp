// The built-in vector engine: coverage of boxes, circles, rounded corners,
// pies and strokes against their analytic areas, extents (control points
// and stroke width included), anti-aliasing, fill rules, transforms,
// translation in place, the current point, and text outlines through a
// TrueType face (whose text rendering must not change).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "abi/plugin_abi.h"
#include "text/fonts/engine_font.h"
#include "text/fonts/truetype_font.h"
#include "text/vector/vector_engine.h"
#include "graphics/outline_scanline.h"
#include "tests/text/vector/polygon_reference.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A command buffer as the path library writes it.
struct Path {
  std::vector<uint8_t> bytes;
  void U32(uint32_t v) { Put(&v, 4); }
  void F64(double v) { Put(&v, 8); }
  void Put(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  Path& Move(double x, double y, uint32_t rel = 0) { U32(VL_PATH_MOVE); U32(rel); F64(x); F64(y); return *this; }
  Path& Line(double x, double y, uint32_t rel = 0) { U32(VL_PATH_LINE); U32(rel); F64(x); F64(y); return *this; }
  Path& Curve(double x1, double y1, double x2, double y2, double x3, double y3) {
    U32(VL_PATH_CURVE); U32(0); F64(x1); F64(y1); F64(x2); F64(y2); F64(x3); F64(y3);
    return *this;
  }
  Path& Close() { U32(VL_PATH_CLOSE); return *this; }
  Path& Arc(double cx, double cy, double rx, double ry, double s, double e, uint32_t cw) {
    U32(VL_PATH_ARC); F64(cx); F64(cy); F64(rx); F64(ry); F64(s); F64(e); U32(cw);
    return *this;
  }
  Path& Box(double x, double y, double w, double h, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0) {
    U32(VL_PATH_BOX); F64(x); F64(y); F64(w); F64(h); U32(a); U32(b); U32(c); U32(d);
    return *this;
  }
  Path& Text(void* face, uint32_t size, const char* text) {
    U32(VL_PATH_TEXT);
    Put(&face, sizeof face);
    U32(size);
    size_t n = PathStringBytes(std::strlen(text));
    std::vector<uint8_t> s(n, 0);
    std::memcpy(s.data(), text, std::strlen(text));
    Put(s.data(), n);
    return *this;
  }
  const uint8_t* Data() {
    if (bytes.size() < 4 || std::memcmp(&bytes[bytes.size() - 4], "\0\0\0\0", 4) != 0 || terminated_ != bytes.size()) {
      U32(0);
      terminated_ = bytes.size();
    }
    return bytes.data();
  }
  size_t terminated_ = 0;
};

struct Extents {
  double x1, y1, x2, y2;
};

class VectorTest : public testing::Test {
 protected:
  void TearDown() override { ShutdownFontEngines(); }

  Extents Measure(Path& p, bool fill, uint32_t width = 1, const vlPathTransform* t = nullptr) {
    vlPathExtentsRequest r{};
    r.commands = p.Data();
    r.lineState = &ls;
    r.fill = fill;
    r.lineWidth = width;
    r.transform = t;
    r.x1 = r.y1 = r.x2 = r.y2 = -12345;
    GetPathExtents(&r);
    return {r.x1, r.y1, r.x2, r.y2};
  }
  // Coverage of the path drawn at its own extents; empty on failure.
  std::vector<uint8_t> Draw(Path& p, bool fill, uint32_t width, int* w, int* h,
                            const vlPathTransform* t = nullptr) {
    Extents e = Measure(p, fill, width, t);
    *w = int(std::ceil(e.x2) - std::floor(e.x1));
    *h = int(std::ceil(e.y2) - std::floor(e.y1));
    std::vector<uint8_t> cov(size_t(*w) * *h, 0);
    vlPathDrawRequest r{};
    r.commands = p.Data();
    r.lineState = &ls;
    r.fill = fill;
    r.lineWidth = width;
    r.coverage = cov.data();
    r.rowBytes = *w;
    r.width = *w;
    r.height = *h;
    r.transform = t;
    if (!DrawPath(&r)) return {};
    return cov;
  }
  static double Area(const std::vector<uint8_t>& cov) {
    double sum = 0;
    for (uint8_t v : cov) sum += v;
    return sum / 255.0;
  }

  vlLineStateCopy ls{VL_JOINMITER, VL_CAPBUTT, VL_FILLRULEWINDING, 1, 0, nullptr, 0};
};

TEST_F(VectorTest, BoxesAndCirclesCoverTheirArea) {
  Path box;
  box.Box(10, 10, 40, 20);
  Extents e = Measure(box, true);
  EXPECT_EQ(e.x1, 10);
  EXPECT_EQ(e.y1, 10);
  EXPECT_EQ(e.x2, 50);
  EXPECT_EQ(e.y2, 30);
  int w, h;
  std::vector<uint8_t> cov = Draw(box, true, 1, &w, &h);
  ASSERT_EQ(w, 40);
  ASSERT_EQ(h, 20);
  for (uint8_t v : cov) ASSERT_EQ(v, 255);

  // A circle of radius 100 is two half-turn cubics.
  Path circle;
  circle.Arc(0, 0, 100, 100, 0, 360, 1).Close();
  e = Measure(circle, true);
  EXPECT_NEAR(e.x1, -100, 0.05);
  EXPECT_NEAR(e.x2, 100, 0.05);
  EXPECT_NEAR(e.y1, -100, 0.05);
  EXPECT_NEAR(e.y2, 100, 0.05);
  cov = Draw(circle, true, 1, &w, &h);
  ASSERT_FALSE(cov.empty());
  // Half-turn cubics bulge out between their ends, so the area is that of
  // the two cubics (Green's theorem), clearly more than the circle's.
  auto cubicArea = [](double r) {
    // Half circle from angle 0 to pi as one cubic: control points from h = 4/3.
    const double hh = 4.0 / 3.0;
    double p[4][2] = {{r, 0}, {r, hh * r}, {-r, hh * r}, {-r, 0}};
    double area = 0;
    const int n = 20000;
    double px = p[0][0], py = p[0][1];
    for (int i = 1; i <= n; ++i) {
      double t = double(i) / n, u = 1 - t;
      double x = u * u * u * p[0][0] + 3 * u * u * t * p[1][0] + 3 * u * t * t * p[2][0] + t * t * t * p[3][0];
      double y = u * u * u * p[0][1] + 3 * u * u * t * p[1][1] + 3 * u * t * t * p[2][1] + t * t * t * p[3][1];
      area += (px * y - x * py) / 2;
      px = x;
      py = y;
    }
    return 2 * area;
  };
  EXPECT_NEAR(Area(cov), cubicArea(100), cubicArea(100) * 0.002);
  EXPECT_GT(cubicArea(100), kPi * 10000 * 1.005);
  // A 100 x 40 box rounded 50 at corner a has a corner radius of 10.
  Path rounded;
  rounded.Box(0, 0, 100, 40, 50);
  cov = Draw(rounded, true, 1, &w, &h);
  const double want = 4000 - (100 - kPi * 100 / 4);
  EXPECT_NEAR(Area(cov), want, 3);
  EXPECT_LT(cov[0], 10);         // the rounded corner
  EXPECT_EQ(cov[w - 1], 255);    // corner d stays square
  EXPECT_EQ(cov[size_t(h - 1) * w], 255);
}

TEST_F(VectorTest, ArcsSweepByTheirFlagAndEqualAnglesDrawNoCurve) {
  int w, h;
  Path cw, ccw;
  cw.Move(0, 0).Arc(0, 0, 60, 60, 90, 0, 1).Close();
  ccw.Move(0, 0).Arc(0, 0, 60, 60, 90, 0, 0).Close();
  double big = Area(Draw(cw, true, 1, &w, &h)), small = Area(Draw(ccw, true, 1, &w, &h));
  EXPECT_NEAR(big, 0.75 * kPi * 3600, 0.75 * kPi * 3600 * 0.01);
  EXPECT_NEAR(small, 0.25 * kPi * 3600, 0.25 * kPi * 3600 * 0.01);
  Path none;
  none.Move(0, 0).Arc(50, 0, 10, 10, 0, 0, 1);
  Extents e = Measure(none, true);
  EXPECT_EQ(e.x2, 60);  // only the line to the arc's start at 0 degrees
  EXPECT_EQ(e.y1, 0);
  EXPECT_EQ(e.y2, 0);
}

TEST_F(VectorTest, StrokesFollowWidthCapsAndJoins) {
  int w, h;
  Path line;
  line.Move(0, 0).Line(100, 0);
  Extents e = Measure(line, false, 10);
  EXPECT_EQ(e.y1, -5);  // half the width on each side
  EXPECT_EQ(e.y2, 5);
  EXPECT_EQ(e.x1, 0);
  EXPECT_EQ(e.x2, 100);
  EXPECT_NEAR(Area(Draw(line, false, 10, &w, &h)), 1000, 2);
  ls.cap = VL_CAPSQUARE;
  EXPECT_NEAR(Area(Draw(line, false, 10, &w, &h)), 1100, 2);
  ls.cap = VL_CAPROUND;
  std::vector<uint8_t> round = Draw(line, false, 10, &w, &h);
  EXPECT_NEAR(Area(round), 1000 + kPi * 25, 3);
  // Round at both ends: the corners of the box around it stay empty.
  EXPECT_EQ(round[0], 0);
  EXPECT_EQ(round[w - 1], 0);
  // A closed path has no caps at all.
  Path square;
  square.Move(0, 0).Line(50, 0).Line(50, 50).Line(0, 50).Close();
  ls.cap = VL_CAPROUND;
  ls.join = VL_JOINMITER;
  std::vector<uint8_t> ring = Draw(square, false, 4, &w, &h);
  EXPECT_EQ(w, 54);
  EXPECT_NEAR(Area(ring), 54 * 54 - 46 * 46, 3);
  EXPECT_EQ(ring[0], 255);  // mitred corner
  ls.join = VL_JOINBEVEL;
  ring = Draw(square, false, 4, &w, &h);
  EXPECT_NEAR(Area(ring), 54 * 54 - 46 * 46 - 4 * 2, 3);  // four corner triangles cut off
  ls.join = VL_JOINROUND;
  ring = Draw(square, false, 4, &w, &h);
  EXPECT_NEAR(Area(ring), 54 * 54 - 46 * 46 - 4 * (4 - kPi), 3);
  // Each sub-path keeps its own ends: open, closed, open and closed again
  // in one path, the open ones with their round caps, the closed ones
  // with none.
  Path mixed;
  mixed.Move(0, 0).Line(100, 0).Move(0, 40).Line(50, 40).Line(50, 90).Line(0, 90).Close();
  mixed.Move(0, 130).Line(100, 130).Move(0, 170).Line(50, 170).Line(50, 220).Line(0, 220).Close();
  ls.join = VL_JOINMITER;
  EXPECT_NEAR(Area(Draw(mixed, false, 10, &w, &h)), 2 * (1000 + kPi * 25) + 2 * (60 * 60 - 40 * 40), 6);
}

TEST_F(VectorTest, AntiAliasFillRuleTransformAndOpenFills) {
  int w, h;
  Path circle;
  circle.Arc(20, 20, 15, 15, 0, 360, 1).Close();
  ls.antiAlias = 0;
  std::vector<uint8_t> hard = Draw(circle, true, 1, &w, &h);
  bool grey = false;
  for (uint8_t v : hard) ASSERT_TRUE(v == 0 || v == 255);
  ls.antiAlias = 1;
  for (uint8_t v : Draw(circle, true, 1, &w, &h)) grey = grey || (v > 0 && v < 255);
  EXPECT_TRUE(grey);
  EXPECT_NEAR(Area(hard), kPi * 225, kPi * 225 * 0.05);

  // Two boxes, one inside the other: winding fills both, even-odd leaves a
  // hole, anti-aliased and 1-bit.
  Path nested;
  nested.Box(0, 0, 40, 40).Box(10, 10, 20, 20);
  for (uint32_t aa : {1u, 0u}) {
    ls.antiAlias = aa;
    EXPECT_NEAR(Area(Draw(nested, true, 1, &w, &h)), 1600, 1) << aa;
    ls.fillRule = VL_FILLRULEEVENODD;
    const std::vector<uint8_t> holed = Draw(nested, true, 1, &w, &h);
    ls.fillRule = VL_FILLRULEWINDING;
    EXPECT_NEAR(Area(holed), 1200, 1) << aa;
    ASSERT_EQ(w, 40);
    EXPECT_EQ(holed[size_t(20) * w + 20], 0) << aa;
    EXPECT_EQ(holed[size_t(5) * w + 5], 255) << aa;
  }
  // A shape that does not cross itself has the same 1-bit pixels by either
  // rule, curves included (up to centres within a hair of the outline), and
  // centres on the outline lit (the box's bottom side lies on one).
  ls.antiAlias = 0;
  Path round;
  round.Arc(30.3, 25.6, 24.2, 17.7, 0, 360, 1).Close().Box(70.25, 3.5, 30, 40, 100, 40, 0, 70);
  const std::vector<uint8_t> winding = Draw(round, true, 1, &w, &h);
  ls.fillRule = VL_FILLRULEEVENODD;
  const std::vector<uint8_t> evenOdd = Draw(round, true, 1, &w, &h);
  ls.fillRule = VL_FILLRULEWINDING;
  ASSERT_EQ(winding.size(), evenOdd.size());
  int differ = 0;
  for (size_t i = 0; i < winding.size(); ++i) differ += winding[i] != evenOdd[i];
  EXPECT_LE(differ, 2);
  EXPECT_NEAR(Area(evenOdd), Area(winding), 2);
  ls.antiAlias = 1;

  // Scaled twice in x: twice the area and twice the extents.
  vlPathTransform t{2, 0, 0, 1};
  Path box;
  box.Box(0, 0, 30, 10);
  Extents e = Measure(box, true, 1, &t);
  EXPECT_EQ(e.x2, 60);
  EXPECT_NEAR(Area(Draw(box, true, 1, &w, &h, &t)), 600, 1);
  // A filled path left open is filled as if closed.
  Path triangle;
  triangle.Move(0, 0).Line(40, 0).Line(0, 40);
  EXPECT_NEAR(Area(Draw(triangle, true, 1, &w, &h)), 800, 2);
}

TEST_F(VectorTest, TranslateCurrentPointAndCommandSizes) {
  Path p;
  p.Move(1, 2).Line(3, 4, 1).Curve(5, 6, 7, 8, 9, 10).Arc(11, 12, 5, 5, 0, 90, 1).Box(13, 14, 2, 2);
  vlPathTranslateRequest r{const_cast<uint8_t*>(p.Data()), 100, 200};
  TranslatePath(&r);
  auto f64 = [&](size_t at) {
    double v;
    std::memcpy(&v, &p.bytes[at], 8);
    return v;
  };
  EXPECT_EQ(f64(8), 101);    // absolute move
  EXPECT_EQ(f64(16), 202);
  EXPECT_EQ(f64(24 + 8), 3);  // relative line unchanged
  EXPECT_EQ(f64(48 + 8), 105);
  EXPECT_EQ(f64(48 + 8 + 32), 109);
  EXPECT_EQ(f64(48 + 56 + 4), 111);  // arc centre
  EXPECT_EQ(f64(48 + 56 + 56 + 4 + 8), 214);  // box y
  double x, y;
  Path q;
  q.Move(10, 10).Line(5, 5, 1).Arc(0, 0, 10, 10, 0, 90, 1);
  GetCurrentPoint(q.Data(), &ls, &x, &y);
  EXPECT_NEAR(x, 0, 1e-9);
  EXPECT_NEAR(y, 10, 1e-9);
  Path closed;
  closed.Move(3, 4).Line(20, 4).Line(20, 30).Close();
  GetCurrentPoint(closed.Data(), &ls, &x, &y);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 4);
  Path empty;
  GetCurrentPoint(empty.Data(), &ls, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(PathStringBytes(3), 4u);  // "abc" and NUL
  EXPECT_EQ(PathStringBytes(4), 8u);

  vlPluginInfo info{};
  FillBuiltinVectorEngine(&info);
  EXPECT_TRUE(info.capabilities & PLUGINCAPS_VECTOR);
  EXPECT_EQ(info.extensions[5] & 1, 1u);
  EXPECT_EQ(reinterpret_cast<void*>(info.DrawPath), reinterpret_cast<void*>(&DrawPath));
}

TEST_F(VectorTest, TextOutlinesLeaveTheFontsOwnRenderingAlone) {
  vlEngineFont* font = nullptr;
  ASSERT_EQ(OpenEngineFont("Bitstream Vera Sans", 20, VL_FONTENGINE_INBUILT, 1, 0, &font), 0);
  SetFontScale(font, 1.5, 1.5);
  vlTextExtent before{};
  MeasureText(font, "Hi", 2, 0, 0, &before);
  FT_Face face = GetTTFace(font);
  ASSERT_EQ(CreateVectorFont(face), face);
  Path text;
  text.Move(10, 50).Text(CreateVectorFont(face), 40, "H\xC3\xA9");
  Extents e = Measure(text, true);
  // The capital stands on the baseline at y 50, about 0.73 em tall.
  EXPECT_NEAR(e.y2, 50, 1);
  EXPECT_NEAR(e.y1, 50 - 0.73 * 40 - 10, 12);  // the accent reaches higher
  EXPECT_GT(e.x2, 10 + 40);
  int w, h;
  EXPECT_GT(Area(Draw(text, true, 1, &w, &h)), 100);
  double x, y;
  GetCurrentPoint(text.Data(), &ls, &x, &y);
  FT_Set_Char_Size(face, 0, 40 * 64, 72, 72);
  EXPECT_GT(x, 10 + 40);
  vlTextExtent after{};
  FlushGlyphCache(font);
  SetFontScale(font, 1.0, 1.0);
  SetFontScale(font, 1.5, 1.5);
  MeasureText(font, "Hi", 2, 0, 0, &after);
  EXPECT_EQ(after.width, before.width);
  CloseEngineFont(font);
  void* mem = OpenVectorFaceFromMemory("not a font", 10);
  EXPECT_EQ(mem, nullptr);
}

// The player's own 1-bit fills (even-odd, and non-zero for shapes beyond
// FreeType) light a pixel when its centre lies inside by the rule: random
// self-crossing polygons, some reaching past the buffer's sides, against
// the crossings counted here; rows with few crossings (runs between them)
// and with about as many crossings as pixels (every pixel). Centres
// within a 32nd of a pixel of a side may go either way.
TEST(ScanlineFill, PlainFillsLightTheCentresInsideByTheRule) {
  using vlref::Pt;
  auto evenOddInside = [](const std::vector<Pt>& poly, double x, double y) {
    bool in = false;
    for (size_t i = 0; i < poly.size(); ++i) {
      const Pt a = poly[i], b = poly[(i + 1) % poly.size()];
      if ((a.y <= y) != (b.y <= y) && x < a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
    }
    return in;
  };
  uint32_t seed = 12345;
  auto next = [&](int range) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<int>((seed >> 8) % static_cast<uint32_t>(range));
  };
  FT_Library lib = OutlineLibrary();
  ASSERT_NE(lib, nullptr);
  int checked = 0;
  for (int round = 0; round < 60; ++round) {
    const bool dense = round % 3 == 2;
    const int w = dense ? 24 : 180 + next(200), h = 40 + next(40);
    const int n = dense ? 150 : 4 + next(24);
    std::vector<Pt> poly;
    for (int i = 0; i < n; ++i)  // on FreeType's 1/64 grid, up to 20 pixels past each side
      poly.push_back({(next((w + 40) * 64) - 20 * 64) / 64.0, (next((h + 40) * 64) - 20 * 64) / 64.0});
    FT_Outline o;
    ASSERT_EQ(FT_Outline_New(lib, n, 1, &o), 0);
    for (int i = 0; i < n; ++i) {
      o.points[i] = {static_cast<FT_Pos>(poly[i].x * 64), static_cast<FT_Pos>(poly[i].y * 64)};
      o.tags[i] = FT_CURVE_TAG_ON;
    }
    o.contours[0] = static_cast<short>(n - 1);
    for (const bool evenOdd : {true, false}) {
      std::vector<uint8_t> got(static_cast<size_t>(w) * h, 7);
      ASSERT_TRUE(evenOdd ? FillOutlineEvenOdd(&o, got.data(), w, w, h)
                          : FillOutlineScanline(&o, false, false, got.data(), w, w, h));
      int wrong = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const uint8_t v = got[static_cast<size_t>(y) * w + x];
          ASSERT_TRUE(v == 0 || v == 255) << x << "," << y;
          const double cx = x + 0.5, cy = y + 0.5;
          if (vlref::EdgeDistance(poly, cx, cy) < 1.0 / 32) continue;
          const bool in = evenOdd ? evenOddInside(poly, cx, cy) : vlref::Inside(poly, cx, cy);
          wrong += (v == 255) != in;
          ++checked;
        }
      EXPECT_EQ(wrong, 0) << "round " << round << (evenOdd ? " even-odd" : " non-zero");
    }
    FT_Outline_Done(lib, &o);
  }
  EXPECT_GT(checked, 500000);
}

}  // namespace
