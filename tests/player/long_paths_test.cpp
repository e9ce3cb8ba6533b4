// Paths beyond what one FreeType outline holds, fills whose rows cross
// thousands of sides, and dense strokes, drawn by the player as users run
// it and compared with cairo's rendering of the same points.
#include <cairo.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
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

// Time and memory say nothing about a sanitizer build's player.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasured = false;
#else
constexpr bool kMeasured = true;
#endif

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
    // A sanitizer build beside many other tests takes more than the usual
    // half minute for the 100,000 sides.
    Result r = RunAndGrab(text + ReadyForGrab(), "long", {}, 180);
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

// Stars of 200 and 8,000 sides (every 99th or 3,999th point of an ellipse
// filling a 600 x 8000 brush: each row crosses hundreds or thousands of
// sides), even-odd, plain and anti-aliased. Each fill takes at most twice cairo's time for the
// same fill measured here (plus a margin for the picture around it), the
// player's peak memory stays within 64 MB of a run that draws a small
// star into the same brush, and the fills show cairo's coverage. The
// even-odd fill without anti-aliasing kept every crossing at once (1.1 GB,
// 7.8 s); with it, FreeType's grey rasteriser took 8 s for 200 sides and
// did not end in 12 minutes for 8,000.
TEST_F(LongPaths, AStarOfThousandsOfCrossingsFillsInTimeAndMemory) {
  constexpr int kW = 600, kH = 8000;
  const Ring small{300, 4000, 20, 20, 3, 5};
  auto applet = [&](const Ring& ring, const std::string& name) {
    std::string text = ".line 1\n.call createbrush 2 600 8000 0\n.call selectbrush 2\n.call startpath 1\n"
                       ".call moveto 1 " + std::to_string(ring.cx + ring.rx) + " 4000\n" +
                       ring.Lines("s", 1, ring.count - 1) +
                       ".call closepath 1\n.call setfillstyle #FILLCOLOR\n.call setfillrule #FILLRULEEVENODD\n"
                       ".call starttimer 5\n";
    for (const char* form : {"#NORMAL", "#ANTIALIAS"})
      text += std::string(".call setformstyle ") + form +
              "\n.call gettimer 5 -> T0\n.call drawpath 1 0 0 16777215\n.call gettimer 5 -> T1\n"
              ".call debugprint $T0 $T1\n.call savebrush 2 \"" + dir() + "/" + name + form + ".png\" 1\n"
              ".call box 0 0 600 8000 0\n";
    return Applet(name, text + ".call makedirectory \"" + dir() + "/" + name + "\"\n" +
                            vlplayer::WaitUntilFileExists(dir() + "/" + name + ".read", "peak"));
  };
  // The player's peak resident memory, read once the applet has drawn.
  auto run = [&](const Ring& ring, const std::string& name, long* peakKb) {
    RunOptions options;
    options.timeoutSeconds = 120;
    options.whileRunning = [&](pid_t pid, const std::string&) {
      for (int i = 0; i < 6000 && access((dir() + "/" + name).c_str(), F_OK) != 0; ++i) usleep(20000);
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) *peakKb = std::stol(line.substr(6));
      WriteFile(name + ".read", "");
    };
    return Run({applet(ring, name)}, options);
  };
  long controlKb = 0;
  Result control = run(small, "small", &controlKb);
  ASSERT_EQ(control.status, 0) << control.err;
  for (const Ring& star : {Ring{300, 4000, 299, 3999, 99, 200}, Ring{300, 4000, 299, 3999, 3999, 8000}}) {
    SCOPED_TRACE(star.count);
    long starKb = 0;
    const std::string name = "star" + std::to_string(star.count);
    Result r = run(star, name, &starKb);
    ASSERT_EQ(r.status, 0) << r.err;
    if (kMeasured) {
      EXPECT_LT(starKb - controlKb, 64 * 1024) << "peak " << starKb << " KB against " << controlKb << " KB";
    }
    std::istringstream printed(r.out);
    double took[2];
    for (double& t : took) {
      double t0 = 0, t1 = 0;
      ASSERT_TRUE(printed >> t0 >> t1) << r.out;
      t = t1 - t0;
    }
    for (int aa = 0; aa < 2; ++aa) {
      SCOPED_TRACE(aa ? "anti-aliased" : "plain");
      cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, kW, kH);
      cairo_t* cr = cairo_create(surface);
      cairo_set_antialias(cr, aa ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
      cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
      const auto start = Clock::now();
      cairo_move_to(cr, 599, 4000);
      star.Trace(cr, 1, star.count - 1);
      cairo_close_path(cr);
      cairo_fill(cr);
      cairo_surface_flush(surface);
      const double cairoMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      // The player's time holds the brush's picture and alpha planes too:
      // a fill of the whole brush with a box is the margin.
      if (kMeasured) {
        EXPECT_LT(took[aa], 2 * cairoMs + 150) << "cairo " << cairoMs << " ms";
      }
      const std::vector<uint8_t> ours = Grey(dir() + "/" + name + (aa ? "#ANTIALIAS" : "#NORMAL") + ".png", kW, kH);
      ASSERT_EQ(ours.size(), size_t(kW) * kH);
      const Likeness l = Compare(ours, cairo_image_surface_get_data(surface), cairo_image_surface_get_stride(surface),
                                 0, 0, kW, kH, kW);
      cairo_destroy(cr);
      cairo_surface_destroy(surface);
      if (aa) {
        EXPECT_NEAR(l.ours, l.theirs, l.theirs * 0.01);
        EXPECT_GT(l.theirs, 100000);
        EXPECT_LT(l.meanDiff, 6.0);
        continue;
      }
      // Plain, the star's sides cut each row finer than a pixel: cairo's
      // 1-bit fill samples otherwise. A pixel is lit when its centre has an
      // odd number of sides to its left (the points in 1/64 steps): checked
      // on every 97th pixel, where no side passes within 1/32 of the centre.
      std::vector<std::pair<double, double>> p;
      for (long i = 0; i < star.count; ++i) {
        auto [x, y] = i ? star.At(i) : std::make_pair(599.0, 4000.0);
        p.push_back({std::trunc(x * 64) / 64, std::trunc(y * 64) / 64});
      }
      int checked = 0, wrong = 0;
      for (size_t k = 0; k < ours.size(); k += 97) {
        const double cx = k % kW + 0.5, cy = double(k / kW) + 0.5;
        bool odd = false, near = false;
        for (size_t i = 0; i < p.size() && !near; ++i) {
          const auto [ax, ay] = p[i];
          const auto [bx, by] = p[(i + 1) % p.size()];
          if ((ay <= cy) != (by <= cy)) {
            const double x = ax + (cy - ay) / (by - ay) * (bx - ax);
            near = std::fabs(x - cx) < 1.0 / 32;
            odd ^= x < cx;
          }
        }
        if (near) continue;
        ++checked;
        if ((ours[k] == 255) != odd && ++wrong <= 5) ADD_FAILURE() << "pixel " << k % kW << "," << k / kW;
      }
      EXPECT_GT(checked, 20000);
      EXPECT_EQ(wrong, 0);
    }
  }
}

// TERM during a long fill ends the player within 100 ms more than it takes
// when the applet idles: the fill stops between rows. The applet fills the
// star of the test above over and over, by both modes.
TEST_F(LongPaths, AnEndSignalStopsAFill) {
  const Ring star{300, 4000, 299, 3999, 3999, 8000};
  auto endAfter = [&](const std::string& name, const std::string& loopBody) {
    const std::string text = ".line 1\n.call createbrush 2 600 8000 0\n.call selectbrush 2\n.call startpath 1\n"
                             ".call moveto 1 599 4000\n" + star.Lines("s", 1, star.count - 1) +
                             ".call closepath 1\n.call setfillstyle #FILLCOLOR\n.call setfillrule #FILLRULEEVENODD\n"
                             ".call makedirectory \"" + dir() + "/" + name + "\"\nagain:\n" + loopBody + "jump again\n";
    RunOptions options;
    double endedMs = -1;
    options.whileRunning = [&](pid_t pid, const std::string&) {
      for (int i = 0; i < 3000 && access((dir() + "/" + name).c_str(), F_OK) != 0; ++i) usleep(10000);
      usleep(400000);  // well into a fill
      const auto sent = Clock::now();
      kill(pid, SIGTERM);
      // Ended: a zombie until the harness reaps it.
      for (int i = 0; i < 5000; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t paren = line.rfind(')');
        if (paren == std::string::npos || line.compare(paren + 2, 1, "Z") == 0) break;
        usleep(1000);
      }
      endedMs = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    };
    Result r = Run({Applet(name, text)}, options);
    EXPECT_EQ(r.status, -SIGTERM) << name << r.out << r.err;
    return endedMs;
  };
  const double idle = endAfter("idle", ".call wait 1\n");
  const double filling = endAfter("filling", ".call setformstyle #NORMAL\n.call drawpath 1 0 0 16777215\n"
                                             ".call setformstyle #ANTIALIAS\n.call drawpath 1 0 0 16777215\n");
  EXPECT_GE(idle, 0);
  EXPECT_LT(filling, idle + 100) << "idle " << idle << " ms";
}

// A zig-zag of 200, 1,000 and 8,000 points (3 pixels apart, 0.75 for the
// longest, 20 up and down), stroked 1 pixel wide with miter joins into a brush, plain and
// anti-aliased, as cairo strokes it. FreeType's 1-bit rasteriser gave up on
// the overlapping miter spikes: 1470 and nothing drawn.
TEST_F(LongPaths, DenseZigZagStrokesAreDrawnInBothModes) {
  for (int n : {200, 1000, 8000}) {
    SCOPED_TRACE(n);
    const double step = n > 1000 ? 0.75 : 3;
    const int w = static_cast<int>(step * n) + 20, h = 60;
    std::string text = ".line 1\n.call createbrush 2 " + std::to_string(w) + " 120 0\n.call selectbrush 2\n"
                       ".call setlinejoin #JOINMITER\n.call setfillstyle #FILLNONE 1\n.call startpath 1\n"
                       ".call moveto 1 10 20\nloadk 1 #0\nloadk 2 #" + std::to_string(n - 1) +
                       "\nloadk 3 #1\njump next\nbody:\nmul 10 1 #" + std::string(n > 1000 ? "0.75" : "3") +
                       "\nadd 10 10 #10\nmod 11 1 #2\nmul 11 11 #20\n"
                       "add 11 11 #20\n.call base=20 lineto 1 r10 r11\nnext:\nforloop 1 body\n"
                       ".call drawpath 1 0 0 16777215\n.call setformstyle #ANTIALIAS\n"
                       ".call drawpath 1 0 60 16777215\n.call endselect\n.call savebrush 2 \"" + dir() +
                       "/zigzag.png\" 1\n.call debugprint \"drawn\"\n";
    Result r = Run({Applet("zigzag", text)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "drawn\n");
    const std::vector<uint8_t> ours = Grey(dir() + "/zigzag.png", w, 2 * h);
    ASSERT_EQ(ours.size(), size_t(w) * 2 * h);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, w, 2 * h);
    cairo_t* cr = cairo_create(surface);
    cairo_set_line_width(cr, 1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, 4096);
    // Cairo's coverage for both: its 1-bit fill samples spikes thinner
    // than a pixel otherwise than by pixel centres.
    for (int aa = 0; aa < 2; ++aa) {
      cairo_move_to(cr, 10, 20 + h * aa);
      for (int i = 1; i < n; ++i) cairo_line_to(cr, 10 + step * i, 20 + 20 * (i % 2) + h * aa);
      cairo_stroke(cr);
    }
    cairo_surface_flush(surface);
    for (int aa = 0; aa < 2; ++aa) {
      SCOPED_TRACE(aa ? "anti-aliased" : "plain");
      const Likeness l = Compare(ours, cairo_image_surface_get_data(surface), cairo_image_surface_get_stride(surface),
                                 0, h * aa, w, h, w);
      EXPECT_GT(l.theirs, 19.0 * n);
      if (aa) {
        EXPECT_NEAR(l.ours, l.theirs, l.theirs * 0.05);
        EXPECT_LT(l.meanDiff, 2.0);
        continue;
      }
      // Plain: only 0 and 255, lit where cairo covers the whole pixel,
      // dark where it covers none of it, and about as much as it covers
      // (less where spikes are thinner than a pixel).
      const unsigned char* ref = cairo_image_surface_get_data(surface);
      const int stride = cairo_image_surface_get_stride(surface);
      int full = 0, wrong = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int a = ours[size_t(y) * w + x], b = ref[y * stride + x];
          full += b == 255;
          wrong += (a != 0 && a != 255) || (b == 255 && a == 0) || (b == 0 && a == 255);
        }
      EXPECT_GT(l.ours, l.theirs * 0.5);  // drawn: 1470 and nothing before
      EXPECT_LT(wrong, full / 200 + 5);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
}

}  // namespace
