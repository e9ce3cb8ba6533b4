// Paths beyond what one FreeType outline holds, fills whose rows cross
// thousands of sides, and dense strokes, drawn by the player as users run
// it and compared with cairo's rendering of the same points.
#include <cairo.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/player/drawing_test_fixture.h"

namespace {

using vlplayer::DrawingTest;
using vlplayer::Result;
using vlplayer::RunOptions;
using Clock = std::chrono::steady_clock;

constexpr const char* kTwoPi = "6.2831853071795862";

// Points on an ellipse, the i-th at the angle of (i * mult mod count)
// steps of a count-th of a turn: the applet works them out as this does.
struct Ring {
  double cx, cy, rx, ry;
  long mult, count;
  std::pair<double, double> At(long i) const {
    const double step = std::stod(kTwoPi) / static_cast<double>(count);
    const double a = std::fmod(static_cast<double>(i) * static_cast<double>(mult), static_cast<double>(count)) * step;
    return {std::cos(a) * rx + cx, std::sin(a) * ry + cy};
  }
  // Applet text: a line of path 1 to each point first..last.
  std::string Lines(const std::string& label, long first, long last) const {
    auto n = [](double v) {
      std::ostringstream s;
      s.precision(17);
      s << v;
      return s.str();
    };
    return "loadk 13 #" + std::string(kTwoPi) + "\ndiv 13 13 #" + std::to_string(count) + "\nloadk 1 #" +
           std::to_string(first - 1) + "\nloadk 2 #" + std::to_string(last) + "\nloadk 3 #1\njump " + label +
           "next\n" + label + "body:\nmul 10 1 #" + std::to_string(mult) + "\nmod 10 10 #" + std::to_string(count) +
           "\nmul 10 10 13\n.call base=20 cos r10 -> C\n.call base=20 sin r10 -> S\ngetglobal 11 \"C\"\nmul 11 11 #" +
           n(rx) + "\nadd 11 11 #" + n(cx) + "\ngetglobal 12 \"S\"\nmul 12 12 #" + n(ry) + "\nadd 12 12 #" + n(cy) +
           "\n.call base=20 lineto 1 r11 r12\n" + label + "next:\nforloop 1 " + label + "body\n";
  }
  // As the player hands them on: in 1/64 pixel steps, truncated.
  void Trace(cairo_t* cr, long first, long last) const {
    for (long i = first; i <= last; ++i) {
      auto [x, y] = At(i);
      cairo_line_to(cr, std::trunc(x * 64) / 64, std::trunc(y * 64) / 64);
    }
  }
};

struct Likeness {
  double meanDiff = 0;      // mean |ours - cairo's| in levels
  double plainUnlike = 0;   // share of lit pixels (either side) where 1-bit fills differ
  double ours = 0, theirs = 0;  // summed coverage / 255
};

Likeness Compare(const std::vector<uint8_t>& ours, const unsigned char* ref, int stride, int x0, int y0, int w, int h,
                 int width) {
  Likeness l;
  double lit = 0, unlike = 0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      const int a = ours[size_t(y) * width + x], b = ref[y * stride + x];
      l.meanDiff += std::abs(a - b);
      l.ours += a / 255.0, l.theirs += b / 255.0;
      lit += a > 127 || b > 127;
      unlike += (a > 127) != (b > 127);
    }
  l.meanDiff /= double(w) * h;
  l.plainUnlike = lit ? unlike / lit : 0;
  return l;
}

class LongPaths : public DrawingTest {
 protected:
  // A grey picture (PNG) as bytes, one a pixel.
  std::vector<uint8_t> Grey(const std::string& png, int w, int h) {
    const std::string grey = Tool("convert " + vlplayer::Quote(png) + " -depth 8 gray:-");
    EXPECT_EQ(grey.size(), size_t(w) * h) << png;
    return std::vector<uint8_t>(grey.begin(), grey.end());
  }
};

// A path of n sides (one contour: a circle of radius 60 in n/2 sides, a
// side in to a circle of radius 30 in the rest, closed) filled by both
// rules and stroked 1 pixel wide, plain (top row) and anti-aliased (bottom
// row): each cell as cairo draws the same points; the extents are the
// outer circle's box (half the line wider stroked). Beyond 8,190 sides
// this answered 1394 "empty path" with extents 0 0 0 0.
TEST_F(LongPaths, PathsOfAnyLengthAreMeasuredAndDrawnLikeCairo) {
  constexpr int kW = 450, kH = 300;
  for (long n : {8191L, 20000L, 100000L}) {
    SCOPED_TRACE(n);
    Tool("rm -rf " + vlplayer::Quote(dir() + "/ready") + " " + vlplayer::Quote(dir() + "/grabbed"));
    const long half = n / 2;
    const Ring outer{75, 75, 60, 60, 1, half}, inner{75, 75, 30, 30, 1, n - half};
    std::string text = ".line 1\n.table 0 { width = 450, height = 300, color = 0, title = \"draw\" }\n"
                       ".call base=1 setdisplayattributes r0\n.call startpath 1\n.call moveto 1 135 75\n" +
                       outer.Lines("a", 1, half) + inner.Lines("b", 0, n - half) +
                       ".call closepath 1\n.call setfillstyle #FILLCOLOR\n.call getpathextents 1 -> X1 Y1 X2 Y2\n"
                       ".call debugprint $X1 $Y1 $X2 $Y2\n";
    for (int row = 0; row < 2; ++row) {
      const std::string y = std::to_string(150 * row);
      text += row ? ".call setformstyle #ANTIALIAS\n" : "";
      text += ".call setfillrule #FILLRULEWINDING\n.call drawpath 1 0 " + y + " 16777215\n";
      text += ".call setfillrule #FILLRULEEVENODD\n.call drawpath 1 150 " + y + " 16777215\n";
      text += ".call setfillstyle #FILLNONE 1\n.call drawpath 1 300 " + y +
              " 16777215\n.call getpathextents 1 -> X1 Y1 X2 Y2\n.call debugprint $X1 $Y1 $X2 $Y2\n"
              ".call setfillstyle #FILLCOLOR\n";
    }
    Result r = RunAndGrab(text + ReadyForGrab(), "long");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // The points' box (in 1/64 pixel steps, truncated), the stroke's half
    // a pixel wider (the miters of the sides' 1/64 steps and of the sharp
    // turn onto the inner circle reach a little further).
    double box[4] = {135, 75, 135, 75};
    for (const Ring* ring : {&outer, &inner})
      for (long i = 0; i < ring->count; ++i) {
        auto [x, y] = ring->At(i);
        x = std::trunc(x * 64) / 64, y = std::trunc(y * 64) / 64;
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
      }
    std::istringstream printed(r.out);
    for (int k = 0; k < 12; ++k) {
      double v = 0;
      ASSERT_TRUE(printed >> v) << r.out;
      const double want = box[k % 4] + (k < 4 ? 0 : k % 4 < 2 ? -0.5 : 0.5);
      EXPECT_NEAR(v, want, k < 4 ? 0 : 0.75) << k;
    }
    const std::vector<uint8_t> ours = Grey(dir() + "/long.png", kW, kH);
    ASSERT_EQ(ours.size(), size_t(kW) * kH);

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, kW, kH);
    cairo_t* cr = cairo_create(surface);
    cairo_set_line_width(cr, 1);
    cairo_set_miter_limit(cr, 4096);
    for (int row = 0; row < 2; ++row)
      for (int col = 0; col < 3; ++col) {
        cairo_save(cr);
        cairo_translate(cr, 150 * col, 150 * row);
        cairo_set_antialias(cr, row ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
        cairo_set_fill_rule(cr, col == 1 ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_move_to(cr, 135, 75);
        outer.Trace(cr, 1, half);
        inner.Trace(cr, 0, n - half);
        cairo_close_path(cr);
        col == 2 ? cairo_stroke(cr) : cairo_fill(cr);
        cairo_restore(cr);
      }
    cairo_surface_flush(surface);
    const unsigned char* ref = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int row = 0; row < 2; ++row)
      for (int col = 0; col < 3; ++col) {
        SCOPED_TRACE(testing::Message() << "row " << row << " column " << col);
        const Likeness l = Compare(ours, ref, stride, 150 * col, 150 * row, 150, 150, kW);
        // The disc (non-zero), the ring (even-odd), the two circles'
        // lines: a filled hole or a missing shape is thousands of pixels.
        // Strokes of sides far below a pixel long differ more: their 1/64
        // steps make miters that cairo's stroker joins otherwise (at
        // 100,000 sides most are shorter than a step).
        const double strokeShare = n > 20000 ? 0.7 : 0.2;
        EXPECT_NEAR(l.ours, l.theirs, l.theirs * (col == 2 ? strokeShare : 0.02) + 20);
        EXPECT_GT(l.theirs, col == 2 ? 500 : 8000);
        if (row == 0) EXPECT_LT(l.plainUnlike, col == 2 ? 0.2 : 0.02);
        else EXPECT_LT(l.meanDiff, col == 2 ? 6.0 : 3.0);
      }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
}

}  // namespace
