// Drawing paths on a private Xvfb display: coverage against reference
// rasterisers written here (pixel-centre sampling for plain drawing, dense
// supersampling for anti-aliasing), strokes, edge and shadow colours,
// placement on the window, path layers, the draw library's shapes and the
// errors of empty paths.
#include "tests/display/core/display_fixture.h"
#include "tests/text/vector/polygon_reference.h"

#ifdef VL_HAVE_CAIRO
#include <cairo.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "display/commands/layers_library.h"
#include "display/graphics_library/graphics_library.h"
#include "display/layers/layers.h"
#include "graphics/bitmap.h"
#include "objects/brushes/brush.h"
#include "text/text_library.h"
#include "objects/draw/draw_state.h"
#include "runtime/errors.h"
#include "runtime/plugins.h"
#include "graphics/gradient_render.h"
#include "text/vector/path_draw.h"
#include "text/vector/vector_engine.h"
#include "text/vector/vector_library.h"
#include "vm/error_codes.h"

namespace {

using vltest::DisplayTest;


using vlref::Inside;
using vlref::Pt;

class PathDraw : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (!started_) return;
    ASSERT_EQ(OpenTextLib(L), 0);
    ASSERT_EQ(InitDefaultFont(), 0);
    ASSERT_EQ(OpenVectorGraphicsLib(L), 0);
    ResetDrawState(GetDrawState());
    GetDrawState()->fillStyle = VL_FILLCOLOR;
  }
  void TearDown() override {
    if (started_) {
      FreeVectorLibrary(L);
      FreeTextLibrary(L);
      ShutdownLayerSystem(L);
    }
    DisplayTest::TearDown();
  }
  vlDisplay* OpenBlack() {
    EXPECT_EQ(Run(".table 0 { width = 120, height = 90, color = 0 }\n.call base=1 createdisplay 1 r0\n"
                  ".call opendisplay 1"),
              0);
    return GetDisplayByNumber(1);
  }
  // Path 1 as the polygon.
  void PolygonPath(const std::vector<Pt>& poly) {
    std::string s = ".call startpath 1\n";
    for (size_t i = 0; i < poly.size(); ++i)
      s += std::string(i ? ".call lineto 1 " : ".call moveto 1 ") + std::to_string(poly[i].x) + " " +
           std::to_string(poly[i].y) + "\n";
    s += ".call closepath 1";
    ASSERT_EQ(Run(s), 0);
  }
  // The pictures of path 1 as a layer would get them.
  int Render(vlPathPictures* out, uint32_t color = 0xFF0000, int id = 1, const vlDrawTagPlacement* tags = nullptr) {
    vlPath* path = nullptr;
    if (int status = GetPathByID({id, nullptr}, &path)) return status;
    vlPathShape shape{};
    shape.commands = path->buffer;
    shape.capacity = path->capacity;
    shape.line = *GetLineState();
    GetPathDrawStyle(&shape.style);
    shape.color = color;
    return DrawPathObject(L, 0, 0, &shape, tags, 0, out);
  }
  static uint8_t AlphaAt(const vlPathPictures& p, int x, int y) {
    const auto* px = reinterpret_cast<const uint8_t*>(QueryBitmap(p.alpha, 3));
    return px[static_cast<intptr_t>(y) * QueryBitmap(p.alpha, 1) + x];
  }
  static void Free(vlPathPictures* p) {
    DeleteBitmap(p->picture);
    DeleteAlphaPlane(p->alpha);
  }
};

TEST_F(PathDraw, PlainFillFollowsPixelCentres) {
  ASSERT_NE(OpenBlack(), nullptr);
  const std::vector<Pt> poly = {{0, 0}, {37.3, 5.6}, {30.2, 29.7}, {12.9, 21.35}};
  PolygonPath(poly);
  vlPathPictures p{};
  ASSERT_EQ(Render(&p), 0);
  EXPECT_EQ(p.width, 38);  // pixel 37 holds the part right of x 37
  EXPECT_EQ(p.height, 30);
  // Coordinates reach the rasteriser in 1/64 pixel steps, truncated.
  std::vector<Pt> snapped;
  for (Pt q : poly) snapped.push_back({std::trunc(q.x * 64) / 64, std::trunc(q.y * 64) / 64});
  int mismatches = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const uint8_t a = AlphaAt(p, x, y);
      ASSERT_TRUE(a == 0 || a == 255) << x << "," << y;
      // Scanline crossings are kept to 1/64 pixel: a centre that close to
      // an edge may go either way.
      const double cx = x + 0.5, cy = y + 0.5;
      if (Inside(snapped, cx - 1.0 / 32, cy) != Inside(snapped, cx + 1.0 / 32, cy)) continue;
      if ((a == 255) != Inside(snapped, cx, cy)) {
        ++mismatches;
        ADD_FAILURE() << "pixel " << x << "," << y << " alpha " << int(a);
      }
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(ReadBitmapPixel(p.picture, 20, 15, 0) & 0xFFFFFF, 0xFF0000u);
  Free(&p);
}

TEST_F(PathDraw, AntiAliasedCoverageIsTheCoveredArea) {
  ASSERT_NE(OpenBlack(), nullptr);
  GetDrawState()->formStyle = VL_FORM_ANTIALIAS;
  const std::vector<Pt> poly = {{0, 0}, {37.3, 5.6}, {12.2, 29.7}};
  PolygonPath(poly);
  vlPathPictures p{};
  ASSERT_EQ(Render(&p), 0);
  const int n = 32;
  double sum = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      int hits = 0;
      for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) hits += Inside(poly, x + (i + 0.5) / n, y + (j + 0.5) / n);
      const double ref = 255.0 * hits / (n * n);
      EXPECT_NEAR(AlphaAt(p, x, y), ref, 14) << x << "," << y;
      sum += AlphaAt(p, x, y);
    }
  // Shoelace area of the triangle.
  const double area = std::fabs(37.3 * 29.7 - 5.6 * 12.2) / 2;
  EXPECT_NEAR(sum / 255, area, area * 0.01);
  Free(&p);
}

TEST_F(PathDraw, OutlinesFollowTheStroke) {
  ASSERT_NE(OpenBlack(), nullptr);
  GetDrawState()->fillStyle = 0;
  GetDrawState()->lineWidth = 3;
  GetDrawState()->formStyle = VL_FORM_ANTIALIAS;
  PolygonPath({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  vlPathPictures p{};
  ASSERT_EQ(Render(&p), 0);
  // The stroke runs from -1.5 to 11.5: the pixels -2 .. 11, the outer
  // ones half covered, where it lies (not half a pixel up and left).
  ASSERT_EQ(p.width, 14);
  ASSERT_EQ(p.height, 14);
  EXPECT_EQ(p.x, -2);
  EXPECT_EQ(p.y, -2);
  auto span = [](double a0, double a1, double b0, double b1) { return std::max(0.0, std::min(a1, b1) - std::max(a0, b0)); };
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 14; ++x) {
      const double x0 = x - 2.0, y0 = y - 2.0;  // the pixel in path units
      const double outer = span(x0, x0 + 1, -1.5, 11.5) * span(y0, y0 + 1, -1.5, 11.5);
      const double inner = span(x0, x0 + 1, 1.5, 8.5) * span(y0, y0 + 1, 1.5, 8.5);
      EXPECT_NEAR(AlphaAt(p, x, y), 255 * (outer - inner), 3) << x << "," << y;
    }
  Free(&p);
  ASSERT_EQ(Run(".call getpathextents 1 -> x1 y1 x2 y2"), 0);
  EXPECT_EQ(Num("x1"), -1.5);
  EXPECT_EQ(Num("y2"), 11.5);
}

// A path beyond one FreeType outline (40,000 sides round a circle of
// radius 1000) drawn with an edge (its stroke is built in pieces too), a
// shadow and a shear, anti-aliased, as a layer gets it: the same pictures,
// to a few levels, as the same circle in 4,000 sides; both measured alike.
// (Sides of a few 1/64 pixel steps are not compared: FreeType's stroker
// turns them by angles of its coarse arctangent, and the stroke widens.)
TEST_F(PathDraw, LongPathsTakeEdgeShadowAndTransformLikeShortOnes) {
  ASSERT_NE(OpenBlack(), nullptr);
  GetDrawState()->formStyle = VL_FORM_ANTIALIAS | VL_FORM_EDGE | VL_FORM_SHADOW;
  GetDrawState()->edgeSize = 2;
  GetDrawState()->edgeColor = 0x0000FF;
  GetDrawState()->shadowSize = 3;
  GetDrawState()->shadowDirection = 3;
  GetDrawState()->shadowColor = 0x00FF00;
  for (int id : {1, 2}) {
    const int sides = id == 1 ? 40000 : 4000;
    const std::string p = std::to_string(id);
    std::string text = ".call startpath " + p + "\n";
    for (int i = 0; i < sides; ++i) {
      const double a = 6.283185307179586 * i / sides;
      text += (i ? ".call lineto " : ".call moveto ") + p + " " + std::to_string(1010.5 + 1000 * std::cos(a)) + " " +
              std::to_string(1010.5 + 1000 * std::sin(a)) + "\n";
    }
    ASSERT_EQ(Run(text + ".call closepath " + p + "\n.call getpathextents " + p + " -> x" + p + " y" + p + " r" + p +
                  " b" + p),
              0);
  }
  EXPECT_NEAR(Num("x1"), Num("x2"), 0.05);
  EXPECT_NEAR(Num("b1"), Num("b2"), 0.05);
  const vlDrawTagPlacement shear = {{1, 0, 0.5, 1}, 0, 0};
  vlPathPictures many{}, few{};
  ASSERT_EQ(Render(&many, 0xFF0000, 1, &shear), 0);
  ASSERT_EQ(Render(&few, 0xFF0000, 2, &shear), 0);
  ASSERT_EQ(many.width, few.width);
  ASSERT_EQ(many.height, few.height);
  EXPECT_GT(many.width, 2000);
  int worst = 0;
  for (int y = 0; y < many.height; ++y)
    for (int x = 0; x < many.width; ++x) {
      worst = std::max(worst, std::abs(AlphaAt(many, x, y) - AlphaAt(few, x, y)));
      // Colours as they show: weighed by their alpha.
      const uint32_t a = ReadBitmapPixel(many.picture, x, y, 0), b = ReadBitmapPixel(few.picture, x, y, 0);
      for (int c = 0; c < 24; c += 8)
        worst = std::max(worst, std::abs(static_cast<int>((a >> c & 255) * AlphaAt(many, x, y) / 255) -
                                         static_cast<int>((b >> c & 255) * AlphaAt(few, x, y) / 255)));
    }
  // 4,000 sides stray from the circle by a thousandth of a pixel.
  EXPECT_LE(worst, 24);
  EXPECT_EQ(ReadBitmapPixel(many.picture, many.width / 2, many.height / 2, 0) & 0xFFFFFF, 0xFF0000u);
  Free(&many);
  Free(&few);
}

#ifdef VL_HAVE_CAIRO
// 3,000 curves in one sub-path stroked 2 pixels wide (their stroke holds
// far more points than one outline, and a piece of 1,000 curves does not
// fit either) and 2,730 boxes filled: drawn as cairo draws them, where
// they answered 1394 (and the curves 1000 on the way here).
TEST_F(PathDraw, ManyCurvesAndBoxesDrawLikeCairo) {
  ASSERT_NE(OpenBlack(), nullptr);
  GetDrawState()->formStyle = VL_FORM_ANTIALIAS;
  std::string text = ".call startpath 1\n.call moveto 1 0 30\n.call startpath 2\n";
  for (int i = 0; i < 3000; ++i)
    text += ".call curveto 1 " + std::to_string(i * 2 + 0.5) + " 5 " + std::to_string(i * 2 + 1.5) + " 55 " +
            std::to_string(i * 2 + 2) + " 30\n";
  for (int i = 0; i < 2730; ++i)
    text += ".call addboxtopath 2 " + std::to_string(i % 60 * 10) + " " + std::to_string(70 + i / 60 * 10) + " 7 7\n";
  ASSERT_EQ(Run(text), 0);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 6010, 550);
  cairo_t* cr = cairo_create(surface);
  cairo_set_line_width(cr, 2);
  cairo_set_miter_limit(cr, 4096);
  cairo_move_to(cr, 0, 30);
  for (int i = 0; i < 3000; ++i) cairo_curve_to(cr, i * 2 + 0.5, 5, i * 2 + 1.5, 55, i * 2 + 2, 30);
  cairo_stroke(cr);
  for (int i = 0; i < 2730; ++i) cairo_rectangle(cr, i % 60 * 10, 70 + i / 60 * 10, 7, 7);
  cairo_fill(cr);
  cairo_surface_flush(surface);
  const unsigned char* ref = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int id : {1, 2}) {
    SCOPED_TRACE(id);
    GetDrawState()->fillStyle = id == 1 ? 0 : static_cast<int>(VL_FILLCOLOR);
    GetDrawState()->lineWidth = 2;
    vlPathPictures p{};
    ASSERT_EQ(Render(&p, 0xFFFFFF, id), 0);
    double ours = 0, theirs = 0, diff = 0;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        const int rx = x + p.x, ry = y + p.y;
        const int want = rx >= 0 && ry >= 0 && rx < 6010 && ry < 550 ? ref[ry * stride + rx] : 0;
        ours += AlphaAt(p, x, y) / 255.0, theirs += want / 255.0;
        diff += std::abs(AlphaAt(p, x, y) - want);
      }
    EXPECT_GT(theirs, id == 1 ? 30000 : 130000);
    EXPECT_NEAR(ours, theirs, theirs * 0.02);
    EXPECT_LT(diff / 255, theirs * 0.05);
    Free(&p);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}
#endif

TEST_F(PathDraw, EdgeAndShadowColours) {
  ASSERT_NE(OpenBlack(), nullptr);
  GetDrawState()->formStyle = VL_FORM_EDGE | VL_FORM_SHADOW;
  GetDrawState()->edgeSize = 2;
  GetDrawState()->edgeColor = 0x0000FF;
  GetDrawState()->shadowSize = 3;
  GetDrawState()->shadowDirection = 3;  // south-east
  GetDrawState()->shadowColor = 0x00FF00;
  PolygonPath({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  vlPathPictures p{};
  ASSERT_EQ(Render(&p), 0);
  // Shape 14 x 14 (edge of 2 around 10), shadow 3 further right and down.
  ASSERT_EQ(p.width, 17);
  ASSERT_EQ(p.height, 17);
  auto colour = [&](int x, int y) { return ReadBitmapPixel(p.picture, x, y, 0) & 0xFFFFFF; };
  EXPECT_EQ(colour(7, 7), 0xFF0000u);   // fill
  EXPECT_EQ(colour(1, 7), 0x0000FFu);   // edge left of the box
  EXPECT_EQ(AlphaAt(p, 1, 7), 255);
  EXPECT_EQ(colour(15, 15), 0x00FF00u);  // shadow beyond the edge's corner
  EXPECT_EQ(AlphaAt(p, 15, 15), 255);
  EXPECT_EQ(AlphaAt(p, 16, 1), 0);  // above the shadow, right of the shape
  EXPECT_EQ(AlphaAt(p, 0, 16), 0);
  Free(&p);
}

// A drawing builds its path's outline once, for its box and its render
// (the fill's and the edge ring's): the outline is the drawing's own. The
// same path changed in its buffer (more sides appended), measured in
// between, or drawn under a transform and then without draws as a fresh
// path of the same commands does, pixel for pixel.
TEST_F(PathDraw, EachDrawingBuildsItsOwnOutline) {
  ASSERT_NE(OpenBlack(), nullptr);
  GetDrawState()->formStyle = VL_FORM_EDGE | VL_FORM_SHADOW | VL_FORM_ANTIALIAS;
  GetDrawState()->edgeSize = 2;
  GetDrawState()->edgeColor = 0x0000FF;
  GetDrawState()->shadowSize = 3;
  GetDrawState()->shadowColor = 0x00FF00;
  const std::string a = ".call moveto ID 0 0\n.call lineto ID 30.5 3\n.call lineto ID 24 27.25\n";
  const std::string b = ".call lineto ID 5 40\n.call lineto ID 2 12.75\n.call closepath ID\n";
  auto with = [](std::string text, const char* id) {
    for (size_t at; (at = text.find("ID")) != std::string::npos;) text.replace(at, 2, id);
    return text;
  };
  auto same = [&](const vlPathPictures& x, const vlPathPictures& y) {
    if (x.width != y.width || x.height != y.height) return false;
    for (int py = 0; py < x.height; ++py)
      for (int px = 0; px < x.width; ++px)
        if (AlphaAt(x, px, py) != AlphaAt(y, px, py) ||
            ReadBitmapPixel(x.picture, px, py, 0) != ReadBitmapPixel(y.picture, px, py, 0))
          return false;
    return true;
  };
  ASSERT_EQ(Run(".call startpath 1\n" + with(a, "1") + ".call closepath 1"), 0);
  vlPath* path = nullptr;
  ASSERT_EQ(GetPathByID({1, nullptr}, &path), 0);
  const uint8_t* buffer = path->buffer;
  vlDrawTagPlacement sheared = {{1, 0.5, 0, 1}, 0, 0};
  vlPathPictures first{}, firstSheared{}, grown{}, fresh{}, again{};
  ASSERT_EQ(Render(&firstSheared, 0xFF0000, 1, &sheared), 0);
  ASSERT_EQ(Render(&first), 0);
  // The triangle becomes a pentagon in the same buffer, measured on its own
  // before it is drawn.
  ASSERT_EQ(Run(with(b, "1") + ".call getpathextents 1"), 0);
  ASSERT_EQ(GetPathByID({1, nullptr}, &path), 0);
  ASSERT_EQ(path->buffer, buffer);  // changed in place
  ASSERT_EQ(Run(".call startpath 2\n" + with(a, "2") + ".call closepath 2\n" + with(b, "2")), 0);
  ASSERT_EQ(Render(&grown), 0);
  ASSERT_EQ(Render(&fresh, 0xFF0000, 2), 0);
  ASSERT_EQ(Render(&again, 0xFF0000, 1, &sheared), 0);
  EXPECT_FALSE(same(first, grown));
  EXPECT_TRUE(same(grown, fresh));
  EXPECT_FALSE(same(firstSheared, again));
  EXPECT_EQ(again.width, grown.width);
  EXPECT_GT(again.height, grown.height);  // sheared down by half its width
  for (vlPathPictures* p : {&first, &firstSheared, &grown, &fresh, &again}) Free(p);
}

// The distance from (x, y) to the line through a and b.
double LineDistance(Pt a, Pt b, double x, double y) {
  return std::fabs((b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y)) / std::hypot(b.x - a.x, b.y - a.y);
}

// Paths that reach far beyond the window draw only what lands on it, and
// that part right: a filled triangle whose corners lie 100000 pixels away
// and one of whose sides crosses the window, and a stroked line from far
// above-left to far below-right (the band of its width): full inside,
// empty outside, checked away from the edges (a pixel and a half); then a
// path wholly off the window (nothing, no error). The same path drawn at a
// size a layer can hold shows exactly the pixels of the layer's picture.
TEST_F(PathDraw, PathsReachingFarOutsideDrawTheirVisiblePart) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenDrawLib(L), 0);  // starts a draw state of its own
  GetDrawState()->fillStyle = VL_FILLCOLOR;
  GetDrawState()->formStyle = VL_FORM_ANTIALIAS;
  // Pixels whose centre lies clear of every edge: full or empty as the
  // shape says.
  auto compare = [&](const std::function<bool(double, double)>& inside,
                     const std::function<double(double, double)>& edgeDistance) {
    int full = 0;
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 120; ++x) {
        const double cx = x + 0.5, cy = y + 0.5;
        if (edgeDistance(cx, cy) < 1.5) continue;
        const bool in = inside(cx, cy);
        EXPECT_EQ(WindowPixel(d, x, y), in ? 0xFFFFFFu : 0u) << x << "," << y;
        full += in;
      }
    return full;
  };
  // The side through (10.5, 80.25) and (110.75, 5.5), drawn out k times its
  // length both ways; the third corner far below and right.
  auto triangle = [](double k) {
    const Pt a = {10.5, 80.25}, b = {110.75, 5.5};
    return std::vector<Pt>{{a.x - k * (b.x - a.x), a.y - k * (b.y - a.y)},
                           {b.x + k * (b.x - a.x), b.y + k * (b.y - a.y)},
                           {100 * k, 100 * k}};
  };
  const std::vector<Pt> far = triangle(1000);
  auto farEdges = [&](double x, double y) {
    double m = 1e9;
    for (size_t i = 0; i < far.size(); ++i) m = std::min(m, LineDistance(far[i], far[(i + 1) % far.size()], x, y));
    return m;
  };
  PolygonPath(far);
  ASSERT_EQ(Run(".call drawpath 1 0 0 16777215"), 0);
  EXPECT_GT(compare([&](double x, double y) { return Inside(far, x, y); }, farEdges), 2000);

  ASSERT_EQ(Run(".call cls 0"), 0);
  GetDrawState()->fillStyle = 0;
  GetDrawState()->lineWidth = 5;
  ASSERT_EQ(Run(".call startpath 2\n.call moveto 2 -20000 -20000\n.call lineto 2 30000 30000\n"
                ".call drawpath 2 0 0 16777215"),
            0);
  auto distance = [](double x, double y) { return std::fabs(x - y) / std::sqrt(2.0); };
  EXPECT_GT(compare([&](double x, double y) { return distance(x, y) < 2.5; },
                    [&](double x, double y) { return std::fabs(distance(x, y) - 2.5); }),
            200);

  ASSERT_EQ(Run(".call cls 0\n.call startpath 3\n.call moveto 3 500 500\n.call lineto 3 90000 1000\n"
                ".call drawpath 3 0 0 16777215"),
            0);
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x) ASSERT_EQ(WindowPixel(d, x, y), 0u) << x << "," << y;

  // A smaller one: the window against the whole picture (anti-aliasing
  // of sides cut short may differ by a few steps).
  GetDrawState()->fillStyle = VL_FILLCOLOR;
  PolygonPath(triangle(5));
  vlPathPictures whole{};
  ASSERT_EQ(Render(&whole, 0xFFFFFF), 0);
  ASSERT_EQ(Run(".call cls 0\n.call drawpath 1 0 0 16777215"), 0);
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x) {
      const int a = AlphaAt(whole, x - whole.x, y - whole.y);
      ASSERT_NEAR(static_cast<int>(WindowPixel(d, x, y) & 255), a, 4) << x << "," << y;
    }
  Free(&whole);
}

// Edge and shadow of a shape partly off the window: what shows is the
// picture a layer gets for the whole shape, over black.
TEST_F(PathDraw, APartlyVisibleShapeKeepsItsEdgeAndShadow) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  GetDrawState()->formStyle = VL_FORM_EDGE | VL_FORM_SHADOW | VL_FORM_ANTIALIAS;
  GetDrawState()->edgeSize = 3;
  GetDrawState()->edgeColor = 0x0000FF;
  GetDrawState()->shadowSize = 4;
  GetDrawState()->shadowDirection = 7;  // north-west
  GetDrawState()->shadowColor = 0x00FF00;
  PolygonPath({{-30.5, -20.25}, {70, -10}, {50.75, 60.5}, {-10, 40}});
  vlPathPictures whole{};
  ASSERT_EQ(Render(&whole), 0);
  ASSERT_EQ(Run(".call drawpath 1 0 0 16711680"), 0);
  int shown = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x) {
      const int px = x - whole.x, py = y - whole.y;
      uint32_t expected = 0;
      if (px >= 0 && py >= 0 && px < whole.width && py < whole.height) {
        const uint32_t c = ReadBitmapPixel(whole.picture, px, py, 0), a = AlphaAt(whole, px, py);
        for (int k = 0; k < 24; k += 8) expected |= (((c >> k) & 255) * a / 255) << k;
      }
      const uint32_t got = WindowPixel(d, x, y);
      for (int k = 0; k < 24; k += 8)
        ASSERT_NEAR(static_cast<int>((got >> k) & 255), static_cast<int>((expected >> k) & 255), 2)
            << x << "," << y << " channel " << k;
      shown += got != 0;
    }
  EXPECT_GT(shown, 1000);
  Free(&whole);
}

TEST_F(PathDraw, DrawPathOnTheWindowAndAsLayer) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(Run(".call startpath 1\n.call addboxtopath 1 0 0 10 6\n.call drawpath 1 20 30 16711680"), 0);
  for (int y = 28; y < 38; ++y)
    for (int x = 18; x < 32; ++x) {
      const bool in = x >= 20 && x < 30 && y >= 30 && y < 36;
      EXPECT_EQ(WindowPixel(d, x, y), in ? 0xFF0000u : 0u) << x << "," << y;
    }
  // Position constants place the path's box.
  ASSERT_EQ(Run(".call drawpath 1 -100000 -100000 255"), 0);
  EXPECT_EQ(WindowPixel(d, 55, 42), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 64, 47), 0x0000FFu);
  EXPECT_EQ(WindowPixel(d, 65, 42), 0u);
  // The draw tags' transparency, here over black.
  ASSERT_EQ(Run(".call drawpath 1 90 60 16711680 { transparency = 128 }"), 0);
  EXPECT_NEAR(static_cast<int>(WindowPixel(d, 92, 62) >> 16), 127, 2);
  EXPECT_EQ(WindowPixel(d, 92, 62) & 0xFFFF, 0u);
  EXPECT_EQ(Run(".call drawpath 1 0 0 255 { insertpos = -1 }"), ERR_INVINSERT);
  // The scale of the draw-tag defaults, where the call gives none.
  ASSERT_EQ(OpenGraphicsLib(L), 0);
  ASSERT_EQ(Run(".call setdrawtagsdefault { scalex = 2, scaley = 2 }\n.call drawpath 1 0 70 65280\n"
                ".call setdrawtagsdefault { scalex = 1, scaley = 1 }"),
            0);
  EXPECT_EQ(WindowPixel(d, 18, 80), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 21, 80), 0u);

  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call enablelayers\n.call drawpath 1 70 10 65280"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 1);
  EXPECT_EQ(GetLayerByPos(d->bgpic, 1)->type, VL_LAYER_VECTORPATH);
  EXPECT_EQ(WindowPixel(d, 75, 12), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 80, 12), 0u);
  // A path layer takes the tags' name, insert position and transparency.
  ASSERT_EQ(Run(".call drawpath 1 70 50 65280 { name = \"under\", insertpos = 1, transparency = 128 }"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 2);
  const vlLayer* under = GetLayerByPos(d->bgpic, 1);
  ASSERT_NE(under->name, nullptr);
  EXPECT_STREQ(under->name, "under");
  EXPECT_EQ(under->transparency, 128u);
  EXPECT_NEAR(static_cast<int>(WindowPixel(d, 72, 52) >> 8 & 0xFF), 127, 2);
}

// A "transform" of the draw tags is read in rows, {a, b, c, d} taking
// (x, y) to (a x + b y, c x + d y), for paths as for brushes: a 40 x 20
// box sheared by {1, 0.5, 0, 1} covers the parallelogram whose bottom edge
// lies 10 pixels right of its top edge, drawn onto the window and as a
// path layer; a brush given the same transform leans the same way.
TEST_F(PathDraw, TransformsAreReadInRowsAsForBrushes) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenLayersLib(L), 0);
  ASSERT_EQ(Run(".call startpath 1\n.call addboxtopath 1 0 0 40 20\n"
                ".call drawpath 1 10 10 16777215 { transform = { 1, 0.5, 0, 1 } }"),
            0);
  const std::vector<Pt> sheared = {{10, 10}, {50, 10}, {60, 30}, {20, 30}};
  auto check = [&](const char* how) {
    int mismatches = 0;
    for (int y = 5; y < 36; ++y)
      for (int x = 5; x < 66; ++x) {
        const double cx = x + 0.5, cy = y + 0.5;
        if (Inside(sheared, cx - 1.0 / 16, cy) != Inside(sheared, cx + 1.0 / 16, cy)) continue;
        if ((WindowPixel(d, x, y) == 0xFFFFFFu) != Inside(sheared, cx, cy)) ++mismatches;
      }
    EXPECT_EQ(mismatches, 0) << how;
  };
  check("on the window");
  // The brush: the first lit column of its top and of its bottom row.
  ASSERT_EQ(OpenBrushLib(L), 0);
  const int shown = Run(".call createbrush 2 40 20 16777215\n.call displaybrush 2 10 50 { transform = { 1, 0.5, 0, 1 } }");
  FreeBrushLib(L);
  ASSERT_EQ(shown, 0);
  auto first = [&](int y) {
    for (int x = 0; x < 120; ++x)
      if (WindowPixel(d, x, y) == 0xFFFFFFu) return x;
    return -1;
  };
  const int top = first(51), bottom = first(68);
  ASSERT_GE(top, 0);
  EXPECT_NEAR(bottom - top, 8.5, 1.5);
  ASSERT_EQ(OpenDrawLib(L), 0);
  GetDrawState()->fillStyle = VL_FILLCOLOR;
  ASSERT_EQ(Run(".call cls\n.call enablelayers\n.call drawpath 1 10 10 16777215 { transform = { 1, 0.5, 0, 1 } }"), 0);
  ASSERT_EQ(CountLayers(d->bgpic), 1);
  check("as a layer");
}

#ifdef VL_HAVE_CAIRO
TEST_F(PathDraw, FillsOffThePixelGridMatchCairo) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  GetDrawState()->formStyle = VL_FORM_ANTIALIAS;
  ASSERT_EQ(Run(".call startpath 1\n.call moveto 1 10.25 8.5\n.call lineto 1 44.6 14.25\n"
                ".call lineto 1 30.5 40.75\n.call lineto 1 12.8 30.1\n.call closepath 1\n.call startpath 2\n"
                ".call addboxtopath 2 60.5 10.75 20 15\n.call drawpath 1 0 0 16777215\n"
                ".call drawpath 2 0 0 16777215"),
            0);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 120, 90);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_move_to(cr, 10.25, 8.5);
  cairo_line_to(cr, 44.6, 14.25);
  cairo_line_to(cr, 30.5, 40.75);
  cairo_line_to(cr, 12.8, 30.1);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_rectangle(cr, 60.5, 10.75, 20, 15);
  cairo_fill(cr);
  cairo_surface_flush(surface);
  const unsigned char* ref = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  XSync(d->window->display, False);
  XImage* image = XGetImage(probe_, d->window->window, 0, 0, 120, 90, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  int worst = 0;
  double drawn = 0, expected = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 100; ++x) {
      const int got = static_cast<int>(XGetPixel(image, x, y) & 0xFF);
      const int want = ref[y * stride + x * 4];  // blue of a grey pixel
      worst = std::max(worst, std::abs(got - want));
      drawn += got, expected += want;
    }
  XDestroyImage(image);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  // Both rasterisers give the covered area; a shift of a fraction of a
  // pixel shows as differences of a hundred levels and more.
  EXPECT_LE(worst, 20);
  EXPECT_NEAR(drawn / 255, expected / 255, expected / 255 * 0.005);
}
#endif

// Very sharp, very long triangles, inside the window and reaching far
// beyond it (cut to a margin around the window first), lying and
// standing: anti-aliased, each pixel shows the area the triangle covers;
// plain, a pixel is lit exactly when its centre lies inside (centres on a
// side may go either way), and a sliver thinner than the rasteriser's
// step lights nothing.
TEST_F(PathDraw, SharpLongTrianglesFollowTheExactFill) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenDrawLib(L), 0);  // starts a draw state of its own
  GetDrawState()->fillStyle = VL_FILLCOLOR;
  const std::vector<std::vector<Pt>> triangles = {
      {{0, 0}, {1000, 1}, {1000, 3}},       {{2, 5}, {118, 6}, {118, 8}},
      {{2, 5}, {118, 6.5}, {118, 7}},       {{118, 60}, {2, 61}, {118, 63.5}},
      {{5, 2}, {6, 88}, {8, 88}},           {{5, 2}, {6.3125, 88}, {6.875, 88}},
      {{0, 0}, {1, 1000}, {3, 1000}},       {{-50000, 10}, {50000, 40}, {50000, 41}},
      {{-50000, 10.5}, {50000, 60.25}, {50000, 62}},
      {{10, 80}, {110, 5}, {111, 5}},       {{-1e6, 10}, {1e6, 40}, {1e6, 40.125}},
      {{10, -1e6}, {40, 1e6}, {40.0625, 1e6}}, {{119.5, 0.5}, {-16000, 77}, {-16000, 80}},
      {{0.5, 30.5}, {100000, 31}, {100000, 33}},
  };
  for (const std::vector<Pt>& t : triangles) {
    SCOPED_TRACE(testing::Message() << "(" << t[0].x << "," << t[0].y << ") (" << t[1].x << "," << t[1].y << ") ("
                                    << t[2].x << "," << t[2].y << ")");
    PolygonPath(t);
    GetDrawState()->formStyle = VL_FORM_ANTIALIAS;
    ASSERT_EQ(Run(".call cls 0\n.call drawpath 1 0 0 16777215"), 0);
    XSync(d->window->display, False);
    XImage* image = XGetImage(probe_, d->window->window, 0, 0, 120, 90, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    double worst = 0;
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 120; ++x)
        worst = std::max(worst, std::fabs(static_cast<double>(XGetPixel(image, x, y) & 0xFF) -
                                          255 * vlref::PixelCoverage(t, x, y)));
    XDestroyImage(image);
    // A side half a pixel off is a hundred levels and more.
    EXPECT_LE(worst, 8) << "anti-aliased";

    GetDrawState()->formStyle = 0;
    ASSERT_EQ(Run(".call cls 0\n.call drawpath 1 0 0 16777215"), 0);
    XSync(d->window->display, False);
    image = XGetImage(probe_, d->window->window, 0, 0, 120, 90, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    int wrong = 0, lit = 0;
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 120; ++x) {
        const bool on = (XGetPixel(image, x, y) & 0xFF) == 255;
        lit += on;
        if (vlref::EdgeDistance(t, x + 0.5, y + 0.5) < 1.0 / 256) continue;
        if (on != Inside(t, x + 0.5, y + 0.5) && ++wrong <= 5) ADD_FAILURE() << "plain, pixel " << x << "," << y;
      }
    XDestroyImage(image);
    EXPECT_EQ(wrong, 0) << "plain";
    if (t[0].y == 30.5) {
      EXPECT_EQ(lit, 0) << "a sliver";
    }
  }
}

TEST_F(PathDraw, EmptyPathsAndMissingOnes) {
  ASSERT_NE(OpenBlack(), nullptr);
  EXPECT_EQ(Run(".call drawpath 9 0 0"), 1393);
  ASSERT_EQ(Run(".call startpath 1"), 0);
  EXPECT_EQ(Run(".call drawpath 1 0 0"), 1394);
  ASSERT_EQ(Run(".call moveto 1 5 5"), 0);
  EXPECT_EQ(Run(".call drawpath 1 0 0"), 1394);
  ASSERT_EQ(Run(".call addboxtopath 1 0 0 4 4\n.call drawpath 1 0 0\n.call clearpath 1"), 0);
  EXPECT_EQ(Run(".call drawpath 1 0 0"), 1394);
  ASSERT_EQ(Run(".call addboxtopath 1 0 0 4 4\n.call setvectorengine \"none\""), ERR_FINDPLUGIN);
  SetErrorArgument("");
  EXPECT_EQ(Run(".call drawpath 1 0 0"), ERR_FINDPLUGIN);
  EXPECT_STREQ(GetErrorArgument(), "none");
}

// Shapes without length: a curve whose points coincide (stroked with round
// caps, filled), a circle of radius 0, an arc moved so far that all its
// points meet, and a box of no size. Each draws nothing and fails as an
// empty path, measures as nothing, and leaves the window black; a curve
// of length after such a one still draws.
TEST_F(PathDraw, ShapesWithoutLengthDrawNothing) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  const char* shapes[] = {
      ".call moveto 1 10 10\n.call curveto 1 10 10 10 10 10 10",
      ".call addcircletopath 1 20 20 0",
      ".call addellipsetopath 1 20 20 0 0",
      ".call addarctopath 1 20 20 10 10 0 90\n.call translatepath 1 1e308 1e308",
      ".call addarctopath 1 20 20 10 10 0 90\n.call translatepath 1 -1e308 1e17",
      ".call addboxtopath 1 5 5 0 0 { roundlevel = 100 }",
  };
  for (const char* shape : shapes) {
    for (int fill : {0, 1}) {
      SCOPED_TRACE(std::string(shape) + (fill ? " filled" : " stroked"));
      GetDrawState()->fillStyle = fill ? int32_t{VL_FILLCOLOR} : 0;
      GetDrawState()->lineWidth = 3;
      ASSERT_EQ(Run(std::string(".call startpath 1\n") + shape + "\n.call setlinecap 1"), 0);
      EXPECT_EQ(Run(".call drawpath 1 0 0 16777215"), 1394);
      EXPECT_EQ(Run(".call drawpath 1 -100000 -100000 16777215 { antialias = 1 }"), 1394);
      ASSERT_EQ(Run(".call getpathextents 1 -> x1 y1 x2 y2"), 0);
      EXPECT_EQ(Num("x1"), Num("x2"));
      EXPECT_EQ(Num("y1"), Num("y2"));
      ASSERT_EQ(Run(".call freepath 1"), 0);
    }
  }
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x) ASSERT_EQ(WindowPixel(d, x, y), 0u) << x << "," << y;
  // A real curve after a curve without length starts the sub-path.
  GetDrawState()->fillStyle = 0;
  ASSERT_EQ(Run(".call startpath 1\n.call moveto 1 10 10\n"
                ".call curveto 1 10 10 10 10 10 10\n.call curveto 1 30 10 50 10 70 10\n"
                ".call drawpath 1 0 0 16777215"),
            0);
  EXPECT_EQ(WindowPixel(d, 40, 10), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 40, 20), 0u);
}

TEST_F(PathDraw, DrawLibraryShapes) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  const double corners[4] = {0, 0, 0, 0};
  ASSERT_EQ(DrawShapeAsPath(L, 14, 5, 5, 0xFFFFFF, 0, 20, 10, 0, 0, 0, corners), 0);
  EXPECT_EQ(WindowPixel(d, 5, 5), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 24, 14), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 25, 14), 0u);
  ASSERT_EQ(DrawShapeAsPath(L, 15, 50, 50, 0xFF0000, 0, 10, 0, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(WindowPixel(d, 60, 60), 0xFF0000u);  // centre
  EXPECT_EQ(WindowPixel(d, 51, 51), 0u);         // outside the circle, inside its box
  const double tri[6] = {0, 0, 20, 0, 0, 20};
  ASSERT_EQ(DrawShapeAsPath(L, 27, 80, 10, 0x00FF00, 0, 3, 0, 0, 0, 0, tri), 0);
  EXPECT_EQ(WindowPixel(d, 82, 12), 0x00FF00u);
  EXPECT_EQ(WindowPixel(d, 98, 28), 0u);
  // The temporary paths are gone.
  vlPath* p;
  EXPECT_NE(GetPathByID({0, nullptr}, &p), 0);
}


TEST_F(PathDraw, GradientFillIsTheGradientMaskedByThePlainFill) {
  ASSERT_NE(OpenBlack(), nullptr);
  const std::vector<Pt> poly = {{0, 0}, {37.3, 5.6}, {30.2, 29.7}, {12.9, 21.35}};
  PolygonPath(poly);
  vlPathPictures plain{};
  ASSERT_EQ(Render(&plain), 0);
  vlDrawState* ds = GetDrawState();
  ds->fillStyle = VL_FILLGRADIENT;
  ds->gradient.type = VL_GRADIENT_LINEAR;
  ds->gradient.startColor = 0x102030;
  ds->gradient.endColor = 0xF0E0D0;
  ds->gradient.angle = 30;
  vlPathPictures grad{};
  ASSERT_EQ(Render(&grad), 0);
  ASSERT_EQ(grad.width, plain.width);
  ASSERT_EQ(grad.height, plain.height);
  vlBitmap* ref = NewBitmap(plain.width, plain.height, 0, nullptr);
  ASSERT_NE(ref, nullptr);
  ASSERT_EQ(DrawGradient(ref, 0, 0, plain.width, plain.height, &ds->gradient), 0);
  int inside = 0;
  for (int y = 0; y < plain.height; ++y)
    for (int x = 0; x < plain.width; ++x) {
      ASSERT_EQ(AlphaAt(grad, x, y), AlphaAt(plain, x, y)) << x << "," << y;
      if (!AlphaAt(plain, x, y)) continue;
      ++inside;
      ASSERT_EQ(ReadBitmapPixel(grad.picture, x, y, 0) & 0xFFFFFF, ReadBitmapPixel(ref, x, y, 0) & 0xFFFFFF)
          << x << "," << y;
    }
  EXPECT_GT(inside, 300);
  // The two ends of the gradient differ: the fill is not one colour.
  EXPECT_NE(ReadBitmapPixel(grad.picture, 20, 15, 0), ReadBitmapPixel(grad.picture, 33, 8, 0));
  DeleteBitmap(ref);
  Free(&plain);
  Free(&grad);
}

TEST_F(PathDraw, TextureFillWithoutBrushFails) {
  ASSERT_NE(OpenBlack(), nullptr);
  PolygonPath({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
  GetDrawState()->fillStyle = VL_FILLTEXTURE;
  GetDrawState()->textureBrush = {77, nullptr};
  vlPathPictures p{};
  EXPECT_EQ(Render(&p), ERR_FINDBRUSH);
}

// A vector engine plug-in as the library finds it among the loaded
// plug-ins: it measures every path as 12 x 8, covers the whole buffer, and
// makes fonts of its own.
namespace plugin_engine {
int fontMarker, freedFonts, draws;
void* drawnFont;
double box[4] = {0, 0, 12, 8};
// What the last requests held: the extents' and the draw's position, the
// draw buffer's size and whether it came all 0.
double asked[4];
int32_t bufferWidth, bufferHeight;
bool bufferClean;
// The transform the last draw request carried (a copy; none when null).
bool drawTransformed;
vlPathTransform drawTransform;
// The box scaled by the transform's a and d, as a scaling engine measures.
void Extents(vlPathExtentsRequest* r) {
  asked[0] = r->x, asked[1] = r->y;
  const double sx = r->transform ? r->transform->a : 1, sy = r->transform ? r->transform->d : 1;
  *r = {r->commands, r->lineState, r->fill, r->lineWidth, r->x, r->y, box[0] * sx, box[1] * sy, box[2] * sx,
        box[3] * sy, r->transform};
}
int Draw(vlPathDrawRequest* r) {
  ++draws;
  drawTransformed = r->transform != nullptr;
  if (r->transform) drawTransform = *r->transform;
  asked[2] = r->zero1 + r->x, asked[3] = r->zero2 + r->y;
  bufferWidth = r->width, bufferHeight = r->height;
  bufferClean = true;
  for (int32_t y = 0; y < r->height; ++y)
    for (int32_t x = 0; x < r->width; ++x) bufferClean = bufferClean && r->coverage[y * r->rowBytes + x] == 0;
  for (const uint8_t* p = r->commands; size_t bytes = PathCommandBytes(p); p += bytes)
    if (*reinterpret_cast<const uint32_t*>(p) == VL_PATH_TEXT) std::memcpy(&drawnFont, p + 4, sizeof drawnFont);
  for (int32_t y = 0; y < r->height; ++y) std::memset(r->coverage + y * r->rowBytes, 255, r->width);
  return 1;
}
void* MakeFont(void*) { return &fontMarker; }
void FreeFont(void* handle) { freedFonts += handle == &fontMarker; }
vlPluginInfo info;
vlPluginHandle handle;
}  // namespace plugin_engine

// Text in a path drawn by another engine than the one it was added with
// gets that engine's font, which the engine frees when the library ends.
// The engine draws the path at its own coordinates into a buffer whose
// first pixel is the whole pixel holding its box's top-left corner (the
// box as its GetPathExtents gave it), spanning the whole pixels the box
// touches; both requests carry the position 0, and the buffer comes all
// 0. The player places the buffer at the drawing position plus that
// corner.
TEST_F(PathDraw, APlugInEngineDrawsWithAFontOfItsOwn) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  namespace pe = plugin_engine;
  pe::info = {};
  pe::info.capabilities = PLUGINCAPS_VECTOR;
  pe::info.GetPathExtents = pe::Extents;
  pe::info.DrawPath = pe::Draw;
  pe::info.CreateVectorFont = pe::MakeFont;
  pe::info.FreeVectorFont = pe::FreeFont;
  pe::handle = {PLUGINCAPS_VECTOR, &pe::info, &pe::info};  // any library pointer: it is never closed
  vlPlugin* node = AppendPlugin("engine.vlp", "engine.vlp");
  ASSERT_NE(node, nullptr);
  node->handle = &pe::handle;
  ASSERT_EQ(Run(".call setfont \":::default_sans\" 20\n.call startpath 1\n.call moveto 1 0 20\n"
                ".call addtexttopath 1 \"A\"\n.call setvectorengine \"Engine\"\n.call drawpath 1 30 40 16777215"),
            0);
  EXPECT_EQ(pe::draws, 1);
  EXPECT_EQ(pe::drawnFont, &pe::fontMarker);
  EXPECT_EQ(WindowPixel(d, 30, 40), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 41, 47), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 42, 44), 0u);

  const double box[4] = {3.5, 2.25, 12, 8.5};
  std::memcpy(pe::box, box, sizeof box);
  pe::asked[0] = pe::asked[1] = pe::asked[2] = pe::asked[3] = -1;
  ASSERT_EQ(Run(".call startpath 2\n.call moveto 2 4 3\n.call lineto 2 11 8\n.call drawpath 2 70 40 16777215"), 0);
  const double whole[4] = {0, 0, 12, 8};
  std::memcpy(pe::box, whole, sizeof whole);
  EXPECT_EQ(pe::bufferWidth, 12 - 3);
  EXPECT_EQ(pe::bufferHeight, 9 - 2);
  EXPECT_TRUE(pe::bufferClean);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pe::asked[i], 0) << i;
  const struct {
    int x, y;
    uint32_t rgb;
  } kCorners[] = {{73, 42, 0xFFFFFF}, {81, 48, 0xFFFFFF}, {72, 44, 0}, {82, 44, 0}, {76, 41, 0}, {76, 49, 0}};
  for (const auto& c : kCorners) EXPECT_EQ(WindowPixel(d, c.x, c.y), c.rgb) << c.x << "," << c.y;
  // Without bit 0 of its vector extension word the engine takes no
  // transform: the path is measured and drawn as it is, into a buffer of
  // its own size. With the bit it gets the transform and a buffer of the
  // transformed box.
  for (uint32_t extension : {0u, 1u}) {
    pe::info.extensions[5] = extension;
    pe::drawTransformed = !extension;
    ASSERT_EQ(Run(".call startpath 3\n.call moveto 3 0 0\n.call lineto 3 12 8\n"
                  ".call drawpath 3 100 100 16777215 { transform = { 2, 0, 0, 1 } }"),
              0);
    EXPECT_EQ(pe::drawTransformed, extension == 1) << extension;
    EXPECT_EQ(pe::bufferWidth, extension ? 24 : 12) << extension;
    EXPECT_EQ(pe::bufferHeight, 8) << extension;
    if (extension == 1) {
      EXPECT_EQ(pe::drawTransform.a, 2);
    }
  }
  pe::info.extensions[5] = 0;
  ASSERT_EQ(Run(".call setvectorengine \"default\""), 0);
  FreeVectorLibrary(L);
  EXPECT_EQ(pe::freedFonts, 1);
  node->handle = nullptr;
}

TEST_F(PathDraw, ForcedPathUseDrawsTheLibraryShapesAsPaths) {
  vlDisplay* d = OpenBlack();
  ASSERT_NE(d, nullptr);
  ASSERT_EQ(OpenDrawLib(L), 0);
  GetDrawState()->fillStyle = VL_FILLCOLOR;
  ASSERT_EQ(Run(".call forcepathuse 1"), 0);
  EXPECT_NE(gShapeAsPath, nullptr);
  // Both place the box at x, y; the renderer's box is one pixel wider
  // (2 rx + 1), the path's is 2 rx.
  ASSERT_EQ(Run(".call ellipse 10 10 8 4 16777215"), 0);
  EXPECT_EQ(WindowPixel(d, 18, 14), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 25, 14), 0xFFFFFFu);
  EXPECT_EQ(WindowPixel(d, 26, 14), 0u);
  EXPECT_EQ(WindowPixel(d, 10, 10), 0u);
  // A rotation given as the last argument turns the path about its
  // origin, as a transform would: the ellipse stands upright left of x.
  ASSERT_EQ(Run(".call ellipse 90 10 8 4 16777215 90"), 0);
  int wide = 0, tall = 0;
  for (int i = 0; i < 30; ++i) {
    wide += WindowPixel(d, 75 + i, 18) == 0xFFFFFFu;
    tall += WindowPixel(d, 86, 2 + i) == 0xFFFFFFu;
  }
  EXPECT_NEAR(wide, 8, 2);
  EXPECT_NEAR(tall, 16, 2);
  // The shape's draw tags reach the path.
  ASSERT_EQ(Run(".call box 40 60 10 10 16711680 { transparency = 128 }"), 0);
  EXPECT_NEAR(static_cast<int>(WindowPixel(d, 45, 65) >> 16), 127, 2);
  ASSERT_EQ(Run(".call forcepathuse 0"), 0);
  EXPECT_EQ(gShapeAsPath, nullptr);
  ASSERT_EQ(Run(".call ellipse 60 60 8 4 255"), 0);
  EXPECT_EQ(WindowPixel(d, 76, 64), 0x0000FFu);
}

}  // namespace
