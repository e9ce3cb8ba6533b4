// Filled paths, gradients, textures and distortions through the whole
// player, each grab checked against a model of the rule or cairo.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <string>
#include <vector>

#include "tests/player/drawing_test_fixture.h"
#include "tests/player/player_harness.h"
#include "tests/text/vector/polygon_reference.h"

#ifdef VL_HAVE_CAIRO
#include <cairo.h>
#endif

namespace {

using vlplayer::Quote;
using vlplayer::Result;
using vlplayer::RunOptions;
using Drawing = vlplayer::DrawingTest;

// A filled path over its edge ring over its shadow, each colour with its
// own transparency: every pixel of the grab is the cover rule's (a colour
// with coverage a over one with coverage u gives a + u (255 - a) / 255 and
// channels weighted by a and u (255 - a) / 255) blended over the black
// display. Box paths on whole pixels and no anti-aliasing make every
// coverage exact; beside them an opaque box alone and one at half opacity.
TEST_F(Drawing, PathFillEdgeAndShadowFollowTheCoverRule) {
  struct Cover {
    uint32_t rgb, a;
  };
  auto over = [](Cover top, Cover under) {
    const uint32_t rest = under.a * (255 - top.a), out = top.a + rest / 255;
    if (!out) return Cover{top.rgb & 0xFFFFFF, 0};
    uint32_t rgb = 0;
    for (int sh = 0; sh < 24; sh += 8)
      rgb |= std::min<uint32_t>(255, (((top.rgb >> sh) & 0xFF) * top.a + ((under.rgb >> sh) & 0xFF) * rest / 255) / out)
             << sh;
    return Cover{rgb, out};
  };
  auto in = [](int x, int y, int x0, int y0, int w, int h) { return x >= x0 && x < x0 + w && y >= y0 && y < y0 + h; };
  // Box 40 x 30 at 20, 20: fill 0x80 transparent orange, edge 3 of 0x40
  // transparent blue, shadow 5 south-east of 0x60 transparent green.
  const uint32_t fill = 0x80FF8020, edgeColour = 0x402040FF, shadowColour = 0x6010E030;
  auto layered = [&](int x, int y) {  // fill over edge at a pixel
    const uint32_t f = in(x, y, 20, 20, 40, 30) ? 255 - (fill >> 24) : 0;
    const bool ring = in(x, y, 17, 17, 46, 36) && !in(x, y, 23, 23, 34, 24);
    return over({fill, f}, {edgeColour, ring ? 255 - (edgeColour >> 24) : 0});
  };
  auto model = [&](int x, int y) -> Cover {
    if (in(x, y, 100, 20, 30, 30)) return {0x30C0F0, 255};
    if (in(x, y, 150, 20, 30, 30)) return {0xF0C030, 127};
    const Cover top = layered(x, y);
    return over(top, {shadowColour, layered(x - 5, y - 5).a * (255 - (shadowColour >> 24)) / 255});
  };
  const std::string text =
      ".line 1\n.table 0 { width = 200, height = 80, color = 0, title = \"draw\" }\n"
      ".call base=1 setdisplayattributes r0\n.call base=1 setfillstyle 1\n"
      ".call base=1 startpath 1\n.call base=1 addboxtopath 1 0 0 30 30\n.call base=1 drawpath 1 100 20 " +
      std::to_string(0x30C0F0) + "\n.call base=1 drawpath 1 150 20 " + std::to_string(0x80F0C030u) + "\n"
      ".call base=1 startpath 2\n.call base=1 addboxtopath 2 0 0 40 30\n"
      ".call base=1 setformstyle 64 " + std::to_string(edgeColour) + " 3\n" +
      ".call base=1 setformstyle 32 " + std::to_string(shadowColour) + " 5 3\n" +
      ".call base=1 drawpath 2 20 20 " + std::to_string(fill) + "\n" + ReadyForGrab();
  Result r = RunAndGrab(text, "cover");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string rgb = Tool("convert " + Quote(dir() + "/cover.png") + " -depth 8 rgb:-");
  ASSERT_EQ(rgb.size(), 200u * 80 * 3);
  int wrong = 0, mixed = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 200; ++x) {
      const Cover c = model(x, y);
      mixed += c.a > 0 && c.a < 255;
      for (int k = 0; k < 3; ++k) {
        const int ch = static_cast<int>((c.rgb >> (16 - 8 * k)) & 0xFF);
        const int want = c.a == 255 ? ch : (ch * static_cast<int>(c.a)) >> 8;
        const int got = static_cast<unsigned char>(rgb[(static_cast<size_t>(y) * 200 + x) * 3 + k]);
        if (got != want && ++wrong <= 5)
          ADD_FAILURE() << "at " << x << "," << y << " channel " << k << ": " << got << ", want " << want;
      }
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(mixed, 2000);  // most of it is mixed, not plain
}

#ifdef VL_HAVE_CAIRO
// Self-crossing and nested paths by both fill rules, plain and anti-aliased:
// two nested boxes and a five-pointed star drawn even-odd (a hole in the
// middle) and the star by non-zero winding (filled). Plain, a pixel is lit
// exactly when its centre lies inside by the rule (centres within a hair of
// a side aside), and as in cairo's fill away from the corners, where cairo's
// own 1-bit fill strays by a pixel; anti-aliased, each pixel away from the
// corners shows cairo's coverage.
TEST_F(Drawing, EvenOddFillsCutTheirHolesPlainAndAntiAliased) {
  using vlref::Pt;
  struct Shape {
    std::vector<std::vector<Pt>> contours;
    bool evenOdd;
    std::vector<Pt> corners;  // vertices and where sides cross
  };
  auto box = [](double x, double y, double w, double h) {
    return std::vector<Pt>{{x, y}, {x, y + h}, {x + w, y + h}, {x + w, y}};
  };
  // The applet's coordinates have six decimals.
  auto asWritten = [](double v) { return std::stod(std::to_string(v)); };
  auto star = [&](double cx, double cy, double r, bool evenOdd) {
    Shape s{{{}}, evenOdd, {}};
    for (int k = 0; k < 10; ++k) {
      const double a = (-90 + 36.0 * k) * 3.14159265358979323846 / 180, at = k % 2 ? r * 0.381966 : r;
      const Pt p{asWritten(cx + at * std::cos(a)), asWritten(cy + at * std::sin(a))};
      s.corners.push_back(p);
      if (k % 2 == 0) s.contours[0].push_back(p);
    }
    // Every second point: a self-crossing path.
    s.contours[0] = {s.contours[0][0], s.contours[0][2], s.contours[0][4], s.contours[0][1], s.contours[0][3]};
    return s;
  };
  constexpr int kW = 300, kH = 200;
  std::vector<Shape> shapes;
  for (int row = 0; row < 2; ++row) {
    const double y = 100.0 * row;
    Shape nested{{box(8.3, y + 10.2, 80, 78), box(24.7, y + 29.6, 40, 36)}, true, {}};
    for (const auto& c : nested.contours) nested.corners.insert(nested.corners.end(), c.begin(), c.end());
    shapes.push_back(nested);
    shapes.push_back(star(150.2, y + 52.7, 46.3, true));
    shapes.push_back(star(250.6, y + 51.4, 45.8, false));
  }
  std::string text = ".line 1\n.table 0 { width = " + std::to_string(kW) + ", height = " + std::to_string(kH) +
                     ", color = 0, title = \"draw\" }\n.call base=1 setdisplayattributes r0\n"
                     ".call base=1 setfillstyle 1\n";
  for (size_t i = 0; i < shapes.size(); ++i) {
    const std::string id = std::to_string(i + 1);
    if (i == 3) text += ".call base=1 setformstyle 16\n";
    text += ".call base=1 setfillrule " + std::string(shapes[i].evenOdd ? "1" : "0") + "\n.call base=1 startpath " +
            id + "\n";
    for (const auto& c : shapes[i].contours) {
      for (size_t k = 0; k < c.size(); ++k)
        text += std::string(".call base=1 ") + (k ? "lineto " : "moveto ") + id + " " + std::to_string(c[k].x) +
                " " + std::to_string(c[k].y) + "\n";
      text += ".call base=1 closepath " + id + "\n";
    }
    text += ".call base=1 drawpath " + id + " 0 0 16777215\n";
  }
  Result r = RunAndGrab(text + ReadyForGrab(), "evenodd");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string rgb = Tool("convert " + Quote(dir() + "/evenodd.png") + " -depth 8 rgb:-");
  ASSERT_EQ(rgb.size(), size_t(kW) * kH * 3);
  // cairo's fills: plain in the top half, anti-aliased in the bottom one.
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, kW, kH);
  cairo_t* cr = cairo_create(surface);
  for (size_t i = 0; i < shapes.size(); ++i) {
    cairo_set_antialias(cr, i < 3 ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_fill_rule(cr, shapes[i].evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    for (const auto& c : shapes[i].contours) {
      for (size_t k = 0; k < c.size(); ++k) (k ? cairo_line_to : cairo_move_to)(cr, c[k].x, c[k].y);
      cairo_close_path(cr);
    }
    cairo_fill(cr);
  }
  cairo_surface_flush(surface);
  const unsigned char* ref = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  // By the rule: the sides crossed by a ray to the left (even-odd), or the
  // star's winding.
  auto inside = [](const Shape& s, double x, double y) {
    if (!s.evenOdd) return vlref::Inside(s.contours[0], x, y);
    int crossings = 0;
    for (const auto& c : s.contours)
      for (size_t i = 0; i < c.size(); ++i) {
        const Pt a = c[i], b = c[(i + 1) % c.size()];
        if ((a.y <= y) != (b.y <= y) && a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x) < x) ++crossings;
      }
    return crossings % 2 == 1;
  };
  int wrong = 0, unlike = 0, worst = 0, holes = 0, lit = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int got = static_cast<unsigned char>(rgb[(size_t(y) * kW + x) * 3]), want = ref[y * stride + x];
      const double cx = x + 0.5, cy = y + 0.5;
      bool in = false, nearSide = false, nearCorner = false;
      for (const Shape& s : shapes) {
        in = in || inside(s, cx, cy);
        for (const auto& c : s.contours) nearSide = nearSide || vlref::EdgeDistance(c, cx, cy) < 1.0 / 32;
        for (const Pt& p : s.corners) nearCorner = nearCorner || std::hypot(p.x - cx, p.y - cy) < 1.5;
      }
      if (y >= 100) {
        // FreeType's grey even-odd fill folds a pixel's summed windings, so
        // where the star's pentagon (winding 2) meets the outside at a
        // corner it shows grey that cairo does not.
        if (!nearCorner) worst = std::max(worst, std::abs(got - want));
        continue;
      }
      if (nearSide) continue;
      lit += in;
      // Inside the outer box and the star's points, outside the inner box
      // and the pentagon of the even-odd star.
      holes += !in && ((x > 26 && x < 63 && y > 31 && y < 64) || std::hypot(x - 150, y - 52) < 10);
      if ((got == 255) != in && ++wrong <= 5) ADD_FAILURE() << "plain fill wrong at " << x << "," << y;
      if (!nearCorner && (got == 255) != (want == 255) && ++unlike <= 5)
        ADD_FAILURE() << "plain fill unlike cairo's at " << x << "," << y;
    }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(unlike, 0);
  EXPECT_GT(lit, 6000);
  EXPECT_GT(holes, 1000);  // the holes are there to be missed
  // Both rasterisers give the area covered; a hole filled or a shape moved
  // shows as differences of 255.
  EXPECT_LE(worst, 24) << "anti-aliased coverage";
}
#endif

// A plain fill or stroke drawn into a brush blends the colour straight
// into it, without the picture the display's drawing makes: the same
// paths drawn onto the display (left, compared against cairo elsewhere)
// and into a 200 x 150 brush shown beside them (right) give the same
// pixels. Opaque and half-transparent colours over a coloured background,
// 1 bit and anti-aliased, both rules, strokes, and paths reaching past the
// left and top of both (past the right or bottom, the display's drawing
// renders a wider window of the path than the brush's, cut elsewhere).
TEST_F(Drawing, PathsDrawnIntoABrushAreThoseDrawnOnTheDisplay) {
  std::string paths;
  auto draw = [&](int x, int y, uint32_t colour) {
    paths += ".call base=1 drawpath 1 " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(colour) + "\n";
  };
  paths += ".call base=1 startpath 1\n.call base=1 addboxtopath 1 0 0 120 120\n.call base=1 addboxtopath 1 10 10 100 100\n"
           ".call base=1 moveto 1 60 12.5\n.call base=1 lineto 1 88.2 99.3\n.call base=1 lineto 1 14.5 45.7\n"
           ".call base=1 lineto 1 105.5 45.7\n.call base=1 lineto 1 31.8 99.3\n.call base=1 closepath 1\n"
           ".call base=1 addcircletopath 1 60 60 40.5\n";
  // Form style 1 (normal) turns anti-aliasing off; 16 turns it on.
  const char* styles[] = {".call base=1 setfillstyle 1\n.call base=1 setformstyle 1\n.call base=1 setfillrule 0\n",
                          ".call base=1 setfillstyle 1\n.call base=1 setformstyle 16\n.call base=1 setfillrule 1\n",
                          ".call base=1 setfillstyle 0 3\n.call base=1 setformstyle 1\n",
                          ".call base=1 setfillstyle 0 2\n.call base=1 setformstyle 16\n"};
  const uint32_t colours[] = {0xFFFFFF, 0x80FF8000u, 0x20FF, 0x4000FF40};
  const int places[][2] = {{-30, -20}, {70, 25}, {40, -60}, {-50, 20}};
  for (int i = 0; i < 4; ++i) {
    paths += styles[i];
    draw(places[i][0], places[i][1], colours[i]);
  }
  // Drawn twice on the display, the background painted over the first,
  // so that both sides start from the drawing state the paths leave. The
  // second time the window is up, so the drawing reaches it as drawn, not
  // with the first whole-window repaint.
  const std::string text =
      ".line 1\n.table 0 { width = 560, height = 150, color = 3368601, title = \"draw\" }\n"
      ".call base=1 setdisplayattributes r0\n" + paths + vlplayer::WaitUntilFileExists(dir() + "/shown", "shown") +
      ".call base=1 setfillstyle 1\n.call base=1 startpath 3\n.call base=1 addboxtopath 3 0 0 560 150\n"
      ".call base=1 drawpath 3 0 0 3368601\n" + paths +
      // Between the two sides: a 1-bit square under a red sprite, which
      // stays on top, and one cut by a clip region.
      ".call base=1 setformstyle 1\n.call base=1 setfillstyle 1\n.call base=1 startpath 4\n"
      ".call base=1 addboxtopath 4 0 0 60 60\n.call base=1 createbrush 5 20 20 16711680\n"
      ".call base=1 createsprite 1 #BRUSH 5\n.call base=1 displaysprite 1 255 55\n"
      ".call base=1 drawpath 4 240 40 16777215\n.call base=1 createclipregion 2 #BOX 230 110 40 30\n"
      ".call base=1 setclipregion 2\n.call base=1 drawpath 4 210 100 16777215\n.call base=1 setclipregion nil\n" +
      ".call base=1 createbrush 2 200 150 3368601\n.call base=1 selectbrush 2\n" + paths +
      ".call base=1 endselect\n.call base=1 displaybrush 2 360 0\n" + ReadyForGrab();
  RunOptions options;
  options.timeoutSeconds = 30;
  options.whileRunning = [&](pid_t pid, const std::string& display) {
    const std::string id = vlplayer::WaitForWindow(display, "draw");
    usleep(300000);  // the window's first exposure is drawn
    WriteFile("shown", "");
    if (vlplayer::WaitForFileWhileRunning(dir() + "/ready", pid, options.timeoutSeconds) && !id.empty() &&
        vlplayer::ProcessRunning(pid))
      Tool("import -window " + id + " " + Quote(dir() + "/brushpaths.png"));
    WriteFile("grabbed", "");
  };
  Result r = Run({Applet("brushpaths", text)}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  auto crop = [&](int x) {
    return Tool("convert " + Quote(dir() + "/brushpaths.png") + " -crop 200x150+" + std::to_string(x) +
                "+0 +repage -depth 8 rgb:-");
  };
  const std::string display = crop(0), brush = crop(360);
  ASSERT_EQ(display.size(), 200u * 150 * 3);
  ASSERT_EQ(brush.size(), display.size());
  int differ = 0, drawn = 0;
  for (size_t k = 0; k < display.size(); k += 3) {
    differ += display.compare(k, 3, brush, k, 3) != 0;
    drawn += display.compare(k, 3, std::string("\x33\x66\x99", 3)) != 0;
  }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(drawn, 8000);  // the paths are there
  const struct {
    int x, y;
    const char* rgb;
  } probes[] = {{245, 45, "\xff\xff\xff"}, {265, 65, "\xff\x00\x00"}, {290, 90, "\xff\xff\xff"},
                {225, 115, "\x33\x66\x99"}, {235, 115, "\xff\xff\xff"}, {265, 135, "\xff\xff\xff"},
                {275, 120, "\x33\x66\x99"}, {250, 145, "\x33\x66\x99"}};
  for (const auto& p : probes)
    EXPECT_EQ(Tool("convert " + Quote(dir() + "/brushpaths.png") + " -crop 1x1+" + std::to_string(p.x) + "+" +
                   std::to_string(p.y) + " +repage -depth 8 rgb:-"),
              std::string(p.rgb, 3))
        << p.x << "," << p.y;
}

// A path drawn again is drawn as it is now: the same star and circle in
// eight states (plain non-zero fill; moved half a pixel in place; even-odd;
// anti-aliased; stroked 3 px; 5 px; round joins; anti-aliased), each drawn
// three times running (the first builds it, the later ones may reuse what
// the first made), then the last state drawn cut by the window's edge, and
// another path drawn between two of the first. One run draws them in that
// order and has its window unmapped and mapped again (the window is then
// painted from the player's back buffer); a second run draws the cut one
// first and each state once, in the reverse order, so that a state wrongly
// taken for its neighbour shows in one of the two runs. Every draw must
// match the second run's, and each state differ from the one before.
TEST_F(Drawing, APathDrawnAgainShowsWhatItIsNow) {
  const std::string star = ".call base=1 moveto ID 30 2\n.call base=1 lineto ID 48.2 56.3\n"
                           ".call base=1 lineto ID 2.5 22.7\n.call base=1 lineto ID 57.5 22.7\n"
                           ".call base=1 lineto ID 11.8 56.3\n.call base=1 closepath ID\n"
                           ".call base=1 addcircletopath ID 30 30 20.5\n";
  auto path = [&](const char* id) {
    std::string text = ".call base=1 startpath " + std::string(id) + "\n" + star;
    for (size_t at; (at = text.find("ID")) != std::string::npos;) text.replace(at, 2, id);
    return text;
  };
  // Fill style, form style (1 plain, 16 anti-aliased), fill rule, join.
  const char* states[8] = {"1\n.call base=1 setformstyle 1\n.call base=1 setfillrule 0\n.call base=1 setlinejoin 0",
                           "1\n.call base=1 setformstyle 1\n.call base=1 setfillrule 0\n.call base=1 setlinejoin 0",
                           "1\n.call base=1 setformstyle 1\n.call base=1 setfillrule 1\n.call base=1 setlinejoin 0",
                           "1\n.call base=1 setformstyle 16\n.call base=1 setfillrule 1\n.call base=1 setlinejoin 0",
                           "0 3\n.call base=1 setformstyle 1\n.call base=1 setfillrule 0\n.call base=1 setlinejoin 0",
                           "0 5\n.call base=1 setformstyle 1\n.call base=1 setfillrule 0\n.call base=1 setlinejoin 0",
                           "0 5\n.call base=1 setformstyle 1\n.call base=1 setfillrule 0\n.call base=1 setlinejoin 1",
                           "0 5\n.call base=1 setformstyle 16\n.call base=1 setfillrule 0\n.call base=1 setlinejoin 1"};
  auto cellX = [](int i) { return (i % 8) * 72 + 6; };
  auto cellY = [](int i) { return (i / 8) * 70 + 6; };
  auto draw = [](const char* id, int x, int y) {
    return ".call base=1 drawpath " + std::string(id) + " " + std::to_string(x) + " " + std::to_string(y) +
           " 16777215\n";
  };
  auto state = [&](int k) { return ".call base=1 setfillstyle " + std::string(states[k]) + "\n"; };
  const std::string box = ".call base=1 startpath 3\n.call base=1 addboxtopath 3 0 0 40 30\n";
  const std::string edge = state(7) + draw("1", 570, 216), other = state(0) + draw("3", 300, 230);
  std::string again = path("1"), once = path("1") + ".call base=1 translatepath 1 0.5 0.25\n" + path("2") + box;
  for (int k = 0; k < 8; ++k) {
    if (k == 1) again += ".call base=1 translatepath 1 0.5 0.25\n";
    for (int j = 0; j < 3; ++j) {
      again += state(k) + draw("1", cellX(3 * k + j), cellY(3 * k + j));
      if (k == 0 && j == 1) again += box + other;
    }
    if (k == 7) again += edge;
  }
  once += edge;  // before the same path and state is drawn whole
  for (int k = 7; k >= 0; --k) once += state(k) + draw(k ? "1" : "2", cellX(3 * k), cellY(3 * k));
  once += other;
  const std::string start = ".line 1\n.table 0 { width = 600, height = 290, color = 0, title = \"draw\" }\n"
                            ".call base=1 setdisplayattributes r0\n";
  // The run drawing again: its window unmapped and mapped once drawn.
  const std::string exposed = start + again + ".call base=1 makedirectory \"" + dir() + "/drawn\"\n" +
                              vlplayer::WaitUntilFileExists(dir() + "/exposed", "exposed") +
                              ".call base=1 wait 300\n" + ReadyForGrab();
  RunOptions options;
  options.timeoutSeconds = 60;
  options.whileRunning = [&](pid_t pid, const std::string& display) {
    const std::string id = vlplayer::WaitForWindow(display, "draw");
    if (vlplayer::WaitForFileWhileRunning(dir() + "/drawn", pid, options.timeoutSeconds) && !id.empty()) {
      Tool("DISPLAY=" + Quote(display) + " xdotool windowunmap --sync " + id + " windowmap --sync " + id);
      WriteFile("exposed", "");
      if (vlplayer::WaitForFileWhileRunning(dir() + "/ready", pid, options.timeoutSeconds) &&
          vlplayer::ProcessRunning(pid))
        Tool("import -window " + id + " " + Quote(dir() + "/again.png"));
    }
    WriteFile("grabbed", "");
  };
  Result r = Run({Applet("again", exposed)}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* signal : {"ready", "grabbed"}) std::remove((dir() + "/" + signal).c_str());
  r = RunAndGrab(start + once + ReadyForGrab(), "once");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  auto rgb = [&](const char* name) {
    return Tool("convert " + Quote(dir() + "/" + name + ".png") + " -depth 8 rgb:-");
  };
  const std::string a = rgb("again"), b = rgb("once");
  Tool("cp " + Quote(dir()) + "/again.png " + Quote(dir()) + "/once.png /tmp/");
  ASSERT_EQ(a.size(), 600u * 290 * 3);
  ASSERT_EQ(b.size(), a.size());
  auto at = [](const std::string& p, int x, int y) { return p.substr((static_cast<size_t>(y) * 600 + x) * 3, 3); };
  // Cells of 72 x 70: the draw at cell i of run p against cell j of run q.
  auto differing = [&](const std::string& p, int i, const std::string& q, int j) {
    int n = 0;
    for (int y = -6; y < 64; ++y)
      for (int x = -6; x < 66; ++x) n += at(p, cellX(i) + x, cellY(i) + y) != at(q, cellX(j) + x, cellY(j) + y);
    return n;
  };
  int lit = 0, outside = 0;
  for (int y = 0; y < 290; ++y)
    for (int x = 0; x < 600; ++x) {
      const int i = y < 210 && x < 576 ? y / 70 * 8 + x / 72 : -1;
      if (i >= 0 && i % 3) continue;  // the draws again, checked below
      outside += at(a, x, y) != at(b, x, y);
      lit += at(a, x, y) != std::string(3, '\0');
    }
  EXPECT_EQ(outside, 0);
  EXPECT_GT(lit, 8 * 1000);
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(differing(a, 3 * k + 1, a, 3 * k), 0) << "state " << k;
    EXPECT_EQ(differing(a, 3 * k + 2, a, 3 * k), 0) << "state " << k;
    if (k) {
      EXPECT_GT(differing(a, 3 * k, a, 3 * k - 3), 20) << "state " << k;
    }
  }
}

// Gradient and texture fills of paths reaching far beyond a 40 x 40 brush:
// what lands in the brush is the part of the pattern laid over the whole
// box. A 1500-pixel square drawn 700 pixels up and left into the small
// brush shows exactly the middle of the same square drawn whole into a
// 1500 x 1500 brush (linear at 30 degrees, radial off centre, a 7 x 5
// texture with offsets); against models: the linear gradient left to right
// is the blend at each pixel's place across the square (to the renderer's
// 16.16 steps), and the texture the tile pixel at the place plus the
// offsets, modulo the tile. A 30000-pixel triangle draws too (the cost is
// bounded in text_path_far_bench).
TEST_F(Drawing, FarGradientAndTextureFillsShowTheirPartOfTheWholeBox) {
  // The 7 x 5 tile: pixel (x, y) has red 30 x, green 40 y, blue 99.
  std::string tile = ".call base=1 createbrush 9 7 5 0\n.call base=1 selectbrush 9\n";
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      tile += ".call base=1 plot " + std::to_string(x) + " " + std::to_string(y) + " " +
              std::to_string((30 * x) << 16 | (40 * y) << 8 | 99) + "\n";
  tile += ".call base=1 endselect\n";
  const char* fills[] = {"2 2 255 16711680 30", "2 3 65280 255", "3 9 3 1", "2 2 255 16711680 90"};
  std::string text = ".line 1\n" + tile;
  for (int i = 0; i < 4; ++i) {
    const std::string n = std::to_string(i);
    const std::string square = ".call base=1 setfillstyle " + std::string(fills[i]) +
                               "\n.call base=1 startpath 1\n.call base=1 addboxtopath 1 0 0 1500 1500\n";
    text += ".call base=1 createbrush 1 40 40 0\n.call base=1 selectbrush 1\n" + square +
            ".call base=1 drawpath 1 -700 -700 16777215\n.call base=1 endselect\n.call base=1 savebrush 1 \"" +
            dir() + "/far" + n + ".bmp\"\n";
    if (i < 3)
      text += ".call base=1 createbrush 2 1500 1500 0\n.call base=1 selectbrush 2\n" + square +
              ".call base=1 drawpath 1 0 0 16777215\n.call base=1 endselect\n.call base=1 savebrush 2 \"" + dir() +
              "/whole" + n + ".bmp\"\n";
  }
  text += ".call base=1 createbrush 1 40 40 0\n.call base=1 selectbrush 1\n"
          ".call base=1 setfillstyle 2 2 255 16711680\n.call base=1 startpath 1\n.call base=1 moveto 1 0 0\n"
          ".call base=1 lineto 1 30000 3\n.call base=1 lineto 1 3 30000\n.call base=1 closepath 1\n"
          ".call base=1 drawpath 1 0 0 16777215\n.call base=1 endselect\n.call base=1 savebrush 1 \"" + dir() +
          "/triangle.bmp\"\n.call base=1 debugprint \"drawn\"\n";
  Result r = Run({Applet("farfills", text)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(r.out, "drawn\n");
  auto rgb = [&](const std::string& file, const std::string& crop) {
    return Tool("convert " + Quote(dir() + "/" + file) + crop + " -depth 8 rgb:-");
  };
  for (int i = 0; i < 3; ++i) {
    const std::string far = rgb("far" + std::to_string(i) + ".bmp", "");
    ASSERT_EQ(far.size(), 40u * 40 * 3) << i;
    const std::string whole = rgb("whole" + std::to_string(i) + ".bmp", " -crop 40x40+700+700 +repage");
    ASSERT_EQ(whole.size(), far.size()) << i;
    size_t differ = 0;
    for (size_t k = 0; k < far.size(); ++k) differ += far[k] != whole[k];
    EXPECT_EQ(differ, 0u) << "fill " << i;
  }
  const std::string texture = rgb("far2.bmp", ""), linear = rgb("far3.bmp", "");
  ASSERT_EQ(linear.size(), 40u * 40 * 3);
  int worst = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const unsigned char* t = reinterpret_cast<const unsigned char*>(&texture[(size_t(y) * 40 + x) * 3]);
      const int tx = (x + 700 + 3) % 7, ty = (y + 700 + 1) % 5;
      EXPECT_EQ(t[0], 30 * tx) << x << "," << y;
      EXPECT_EQ(t[1], 40 * ty) << x << "," << y;
      EXPECT_EQ(t[2], 99) << x << "," << y;
      // Blue 255 to red 255 across the square.
      const unsigned char* g = reinterpret_cast<const unsigned char*>(&linear[(size_t(y) * 40 + x) * 3]);
      const double at = ((x + 700) * std::floor(65536.0 / 1500) + std::floor(0.5 / 1500 * 65536)) / 65536;
      worst = std::max({worst, std::abs(g[0] - static_cast<int>(255 * at)), std::abs(g[2] - static_cast<int>(255 * (1 - at))),
                        static_cast<int>(g[1])});
    }
  EXPECT_LE(worst, 2);
  // The far triangle's corner: blue at the top, where the gradient starts.
  const std::string corner = rgb("triangle.bmp", "");
  ASSERT_EQ(corner.size(), 40u * 40 * 3);
  EXPECT_EQ(corner.substr(0, 3), std::string("\0\0\xff", 3));
}

// A gradient brush and a gradient BGPic given the same type, colours,
// angle and options are the same picture, and both the model of the
// renderer's rules worked out here (to the renderer's 8-bit steps):
// linear at 30 degrees; type 0 (top to bottom, its angle argument left
// out); radial off centre with a border; conical with a balance; and a
// list of colour stops, which replaces the start and end colours.
// A brush mapped by its corners onto themselves, or moved by whole pixels,
// is the picture inside a one-pixel border; every border pixel reads back
// black with its mask bit (or alpha byte, with smoothing) clear, on all
// four sides. The check walks the result against the original read one
// pixel up and left: outside the original (-1) the result must be clear.
TEST_F(Drawing, PerspectiveDistortionLeavesItsBorderClear) {
  std::string text = R"(.function check
  .params 2
  loadk 2 #0
  loadk 3 #0
  loadk 4 #-1
  loadk 5 #21
  loadk 6 #1
  jump ynext
ybody:
  loadk 7 #-1
  loadk 8 #31
  loadk 9 #1
  jump xnext
xbody:
  getglobal 10 "readbrushpixel"
  copy 11 0
  copy 12 7
  copy 13 4
  call 10 4 3
  getglobal 12 "readbrushpixel"
  copy 13 1
  sub 14 7 #1
  sub 15 4 #1
  call 12 4 3
  eq 0 12 #-1
  jump inner
  add 3 3 #1
  eq 1 10 #0
  jump black
  add 2 2 #1
  jump xnext
black:
  eq 1 11 #0
  jump xnext
  add 2 2 #1
  jump xnext
inner:
  eq 1 10 12
  jump same
  add 2 2 #1
  jump xnext
same:
  eq 0 11 #0
  jump xnext
  add 2 2 #1
xnext:
  forloop 7 xbody
ynext:
  forloop 4 ybody
  .call base=16 debugprint "wrong" r2 "border" r3
  ret
.end
.defun Check check
.line 1
.call createbrush 1 30 20 0x3366CC
.call selectbrush 1
.call setfillstyle #FILLCOLOR
.call box 0 0 30 1 0x11AA22
.call box 0 0 1 20 0xAA2211
.call box 5 5 10 6 0xFF8800
.call endselect
)";
  const int moves[][2] = {{0, 0}, {4, -3}, {-9, 6}};
  std::string want;
  for (int smooth : {0, 1})
    for (const auto& m : moves) {
      auto num = [](int v) { return std::to_string(v); };
      const int x = m[0], y = m[1];
      text += ".call copybrush 1 2\n.call perspectivedistortbrush 2 " + num(x) + " " + num(y) + " " + num(30 + x) +
              " " + num(y) + " " + num(30 + x) + " " + num(20 + y) + " " + num(x) + " " + num(20 + y) + " " +
              num(smooth) + "\n.call getattribute #BRUSH 2 #ATTRWIDTH -> W\n"
              ".call getattribute #BRUSH 2 #ATTRHEIGHT -> H\n.call debugprint $W $H\n.call Check 2 1\n"
              ".call freebrush 2\n";
      want += "32 22\nwrong 0 border 104\n";
    }
  Result r = Run({Applet("perspective", text)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, want);
}

TEST_F(Drawing, GradientBrushesAndBGPicsReadTheirArgumentsAlike) {
  struct Case {
    const char* args;  // type, start and end colour
    const char* rest;  // angle and options
  };
  const Case cases[] = {{"2 255 16711680", " 30"},
                        {"0 65280 255", " 77"},
                        {"3 16776960 255", " 0 r0"},
                        {"4 255 16777215", " 45 r0"},
                        {"2 0 0", " 90 r0"}};
  const char* tables[] = {"", "", "{ centerx = 0.25, centery = 0.5, border = 0.2 }",
                          "{ balance = 0.3, centerx = 0.5, centery = 0.4 }",
                          "{ colors = { 16711680, 0, 65280, 0.5, 255, 1 } }"};
  constexpr int W = 64, H = 48;
  std::string text = ".line 1\n";
  for (int i = 0; i < 5; ++i) {
    const std::string n = std::to_string(i), table = *tables[i] ? ".table 0 " + std::string(tables[i]) + "\n" : "";
    text += table + ".call base=1 creategradientbrush 1 64 48 " + cases[i].args + cases[i].rest + "\n";
    text += ".call base=1 savebrush 1 \"" + dir() + "/brush" + n + ".bmp\"\n";
    text += table + ".call base=1 creategradientbgpic 2 " + cases[i].args + " 64 48" + cases[i].rest + "\n";
    text += ".call base=1 bgpictobrush 2 3\n.call base=1 savebrush 3 \"" + dir() + "/bgpic" + n + ".bmp\"\n";
  }
  Result r = Run({Applet("gradients", text)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const double pi = 3.14159265358979323846;
  struct Stop {
    double at;
    uint32_t rgb;
  };
  // The colour at t along the stops, each channel to the 8-bit weight.
  auto along = [](const std::vector<Stop>& stops, double t, int channel) {
    t = std::clamp(t, 0.0, 1.0);
    size_t k = 1;
    while (k + 1 < stops.size() && stops[k].at < t) ++k;
    const Stop &a = stops[k - 1], &b = stops[k];
    const double w = b.at > a.at ? (t - a.at) / (b.at - a.at) : 0;
    const int from = static_cast<int>(a.rgb >> (16 - 8 * channel) & 0xFF);
    const int to = static_cast<int>(b.rgb >> (16 - 8 * channel) & 0xFF);
    return from + (to - from) * w;
  };
  for (int i = 0; i < 5; ++i) {
    const std::string n = std::to_string(i);
    const std::string brush = Tool("convert " + Quote(dir() + "/brush" + n + ".bmp") + " -depth 8 rgb:-");
    const std::string bgpic = Tool("convert " + Quote(dir() + "/bgpic" + n + ".bmp") + " -depth 8 rgb:-");
    ASSERT_EQ(brush.size(), size_t{W} * H * 3) << i;
    EXPECT_TRUE(brush == bgpic) << "case " << i << ": the brush and the BGPic differ";
    int worst = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double px = x + 0.5, py = y + 0.5;
        double t = 0;
        std::vector<Stop> stops;
        if (i == 0 || i == 1 || i == 4) {
          const double a = (i == 0 ? 30 : i == 1 ? 0 : 90) * pi / 180, ux = std::sin(a), uy = std::cos(a);
          double lo = 1e9, hi = -1e9;
          for (double cx : {0.0, double(W)})
            for (double cy : {0.0, double(H)}) lo = std::min(lo, cx * ux + cy * uy), hi = std::max(hi, cx * ux + cy * uy);
          t = (px * ux + py * uy - lo) / (hi - lo);
          stops = i == 0 ? std::vector<Stop>{{0, 0x0000FF}, {1, 0xFF0000}}
                  : i == 1 ? std::vector<Stop>{{0, 0x00FF00}, {1, 0x0000FF}}
                           : std::vector<Stop>{{0, 0xFF0000}, {0.5, 0x00FF00}, {1, 0x0000FF}};
        } else if (i == 2) {
          const double cx = 0.25 * W, cy = 0.5 * H;
          const double R = std::sqrt(double(W * W + H * H)) * (0.5 + 0.25) * (1 - 0.2);
          t = std::hypot(px - cx, py - cy) / R;
          stops = {{0, 0xFFFF00}, {1, 0x0000FF}};
        } else {
          const double cx = 0.5 * W, cy = 0.4 * H;
          t = std::fmod(std::atan2(py - cy, px - cx) + 2 * pi + 45 * pi / 180, 2 * pi) / (-2 * pi) + 1;
          stops = {{0, 0xFFFFFF}, {0.3, 0x0000FF}, {1, 0xFFFFFF}};
        }
        for (int c = 0; c < 3; ++c) {
          const int got = static_cast<unsigned char>(brush[(size_t(y) * W + x) * 3 + c]);
          worst = std::max(worst, std::abs(got - static_cast<int>(along(stops, t, c))));
        }
      }
    EXPECT_LE(worst, 3) << "case " << i;
  }
}

}  // namespace
