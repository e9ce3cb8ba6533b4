#!/usr/bin/env python3
"""Filled and stroked paths: the player against cairo.

Three paths: a self-crossing five-pointed star inside two nested boxes
(240 x 240), a circle of radius 110 and a polyline of 1,000 points across
the same square. Each is filled (even-odd and non-zero) and stroked (2 px,
round joins), 1 bit and anti-aliased, into a brush and on the display.
The player runs one applet that times each case's loop of DrawPath with
its own timer; cairo runs the same loops in a C program (an image surface
for the brush, an Xlib surface on a window of the same Xvfb for the
display). A display loop ends with a round trip to the server (a 1x1 grab)
on both sides, so every path counted has been drawn.

Rounds alternate the sides; the table gives, per case, the median time of
one DrawPath and the median of the per-round ratios (cairo's time over
ours: above 1 is faster than cairo), with the load average.

    bench/path_peers.py [--build build/release] [--repeat 5] [--scale 1.0]
                        [--against OTHER_BUILD] [--changing]

The player keeps the outline and coverage of a path it draws again
unchanged. With --changing, the player's loops move the path by 1/1024 of
a pixel in place before each draw, so that every draw builds and renders
it (a path that changes every frame); cairo's loops stay as they are.

With --against, each round also runs the player of another build (an
earlier commit built in its own tree) and the table adds the median of the
per-round ratios of its time over ours. Needs Xvfb (or DISPLAY), cc and
cairo's development files (pkg-config cairo).
"""
import argparse
import math
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SIZE = 240
MARGIN = 10


def star_path():
    """Outer box, inner box, star: lists of closed contours."""
    b = lambda x, y, w, h: [(x, y), (x, y + h), (x + w, y + h), (x + w, y)]
    pts = []
    for k in range(5):
        a = math.radians(-90 + 72 * k)
        pts.append((round(120 + 95 * math.cos(a), 6), round(120 + 95 * math.sin(a), 6)))
    star = [pts[0], pts[2], pts[4], pts[1], pts[3]]
    return [b(0, 0, 240, 240), b(20, 20, 200, 200), star]


def polyline_path():
    pts = []
    for i in range(1000):
        x = i * 240.0 / 999
        pts.append((round(x, 6), round(120 + 100 * math.sin(i * 0.05) * math.cos(i * 0.0031), 6)))
    return [pts]


SHAPES = {"star": star_path(), "circle": None, "polyline": polyline_path()}
# name, shape, stroke, anti-aliased, even-odd; iterations at scale 1
CASES = []
for shape in ("star", "circle", "polyline"):
    for aa in (0, 1):
        for eo in (1, 0):
            CASES.append((shape, 0, aa, eo))
        CASES.append((shape, 1, aa, 0))


def case_name(c):
    shape, stroke, aa, eo = c
    return "%s %s %s%s" % (shape, "stroke" if stroke else "fill", "aa" if aa else "1bit",
                           "" if stroke else (" evenodd" if eo else " nonzero"))


def path_asm(shape):
    if shape == "circle":
        return [".call addcircletopath 1 120 120 110"]
    out = []
    for contour in SHAPES[shape]:
        for k, (x, y) in enumerate(contour):
            out.append(".call %s 1 %r %r" % ("lineto" if k else "moveto", x, y))
        if shape != "polyline":
            out.append(".call closepath 1")
    return out


def applet(cases, target, iterations, changing=False):
    lines = [".line 1"]
    if target == "brush":
        lines += [".call createbrush 1 %d %d 0" % (SIZE + 2 * MARGIN, SIZE + 2 * MARGIN), ".call selectbrush 1"]
    lines += [".call setlinejoin 1"]
    timer = 1
    for shape in ("star", "circle", "polyline"):
        lines += [".call startpath 1"] + path_asm(shape)
        for c in cases:
            if c[0] != shape:
                continue
            _, stroke, aa, eo = c
            n = iterations[c]
            lines += [".call setfillstyle 0 2" if stroke else ".call setfillstyle 1",
                      # NORMAL (1) clears anti-aliasing; other styles only add their bits.
                      ".call setformstyle %d" % (16 if aa else 1), ".call setfillrule %d" % eo,
                      ".call starttimer %d" % timer,
                      "loadk 1 #0", "loadk 2 #%d" % (n - 1), "loadk 3 #1",
                      "l%d:" % timer] + (
                         # A 1/1024-pixel step in place: no draw meets the path it drew before.
                         ['getglobal 10 "translatepath"', "loadk 11 #1", "loadk 12 #0.0009765625", "loadk 13 #0",
                          "call 10 4 1"] if changing else []) + [
                      'getglobal 5 "drawpath"', "loadk 6 #1", "loadk 7 #%d" % MARGIN, "loadk 8 #%d" % MARGIN,
                      "loadk 9 #16777215", "call 5 5 1",
                      "forloop 1 l%d" % timer]
            if target == "display":
                lines += [".table 0 { x = 0, y = 0, width = 1, height = 1 }", ".call base=1 grabdesktop 9 r0",
                          ".call freebrush 9"]
            lines += [".call gettimer %d -> t" % timer, ".call debugprint $t"]
            timer += 1
        lines.append(".call freepath 1")
    if target == "brush":
        lines.append(".call endselect")
    return "\n".join(lines) + "\nret\n"


CAIRO_SOURCE = r"""
#include <cairo.h>
#include <cairo-xlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

/* Contours of shape s (0 star, 2 polyline): points and counts. */
static double X[3][3][1000], Y[3][3][1000];
static int N[3][3], contours[3];

static void trace(cairo_t* cr, int s) {
  for (int k = 0; k < contours[s]; k++) {
    for (int i = 0; i < N[s][k]; i++)
      (i ? cairo_line_to : cairo_move_to)(cr, X[s][k][i] + %MARGIN%, Y[s][k][i] + %MARGIN%);
    if (s != 2) cairo_close_path(cr);
  }
}

/* stdin: "case shape stroke aa evenodd n" lines (shape 0 star, 1 circle,
   2 polyline) and "contour shape count" lines, each followed by count
   "x y" lines. argv[1]: "brush" (an image surface) or "display". */
int main(int argc, char** argv) {
  int display = argc > 1 && !strcmp(argv[1], "display");
  int cases[64][5], ncases = 0;
  char word[16];
  while (scanf("%15s", word) == 1) {
    if (!strcmp(word, "case")) {
      int* c = cases[ncases++];
      if (ncases > 64 || scanf("%d %d %d %d %d", &c[0], &c[1], &c[2], &c[3], &c[4]) != 5) return 2;
    } else if (!strcmp(word, "contour")) {
      int s, n;
      if (scanf("%d %d", &s, &n) != 2 || s < 0 || s > 2 || contours[s] > 2 || n > 1000) return 2;
      int k = contours[s]++;
      N[s][k] = n;
      for (int i = 0; i < n; i++)
        if (scanf("%lf %lf", &X[s][k][i], &Y[s][k][i]) != 2) return 2;
    } else {
      return 2;
    }
  }
  cairo_surface_t* surface;
  Display* dpy = NULL;
  Window win = 0;
  if (display) {
    dpy = XOpenDisplay(NULL);
    if (!dpy) return 3;
    win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 640, 480, 0, 0, 0);
    XMapWindow(dpy, win);
    XSync(dpy, False);
    surface = cairo_xlib_surface_create(dpy, win, DefaultVisual(dpy, DefaultScreen(dpy)), 640, 480);
  } else {
    surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, %SIZE% + 2 * %MARGIN%, %SIZE% + 2 * %MARGIN%);
  }
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_width(cr, 2);
  for (int ci = 0; ci < ncases; ci++) {
    int* c = cases[ci];
    cairo_set_antialias(cr, c[2] ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
    cairo_set_fill_rule(cr, c[3] ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    double t0 = now();
    for (int it = 0; it < c[4]; it++) {
      cairo_new_path(cr);
      if (c[0] == 1) {
        cairo_arc(cr, %MARGIN% + 120, %MARGIN% + 120, 110, 0, 2 * M_PI);
        cairo_close_path(cr);
      } else {
        trace(cr, c[0]);
      }
      if (c[1]) cairo_stroke(cr); else cairo_fill(cr);
    }
    cairo_surface_flush(surface);
    if (display) {
      /* The round trip: the server has drawn every path once it answers. */
      XImage* one = XGetImage(dpy, win, 0, 0, 1, 1, AllPlanes, ZPixmap);
      if (one) XDestroyImage(one);
    }
    printf("%.3f\n", now() - t0);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  if (dpy) XCloseDisplay(dpy);
  return 0;
}
"""


def build_cairo(tmp):
    if not shutil.which("pkg-config") or subprocess.run(["pkg-config", "--exists", "cairo"]).returncode:
        return None
    src = os.path.join(tmp, "peer.c")
    exe = os.path.join(tmp, "peer")
    with open(src, "w") as f:
        f.write(CAIRO_SOURCE.replace("%SIZE%", str(SIZE)).replace("%MARGIN%", str(MARGIN)))
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "cairo", "x11"], capture_output=True,
                           text=True).stdout.split()
    r = subprocess.run(["cc", "-O2", "-o", exe, src] + flags + ["-lm"], capture_output=True, text=True)
    if r.returncode:
        sys.stderr.write(r.stderr)
        return None
    return exe


def cairo_input(cases, iterations):
    out = []
    for c in cases:
        shape, stroke, aa, eo = c
        out.append("case %d %d %d %d %d" % (("star", "circle", "polyline").index(shape), stroke, aa, eo,
                                           iterations[c]))
    for s, shape in enumerate(("star", "circle", "polyline")):
        if SHAPES[shape] is None:
            continue
        for contour in SHAPES[shape]:
            out.append("contour %d %d" % (s, len(contour)))
            out += ["%r %r" % p for p in contour]
    return "\n".join(out) + "\n"


def numbers(text):
    return [float(v) for v in re.findall(r"^\s*(\d+(?:\.\d+)?)\s*$", text, re.M)]


def run_player(build, tmp, target, cases, iterations, display, side, changing):
    name = os.path.join(tmp, "paths_%s_%s" % (target, side))
    with open(name + ".vlasm", "w") as f:
        f.write(applet(cases, target, iterations, changing))
    with open(name + ".desc", "w") as f:
        f.write("revision 6 1\nheader 1 Paths\ndisplay 1 640 480 Paths\n")
    tools = os.path.join(build, "tools")
    subprocess.run([os.path.join(tools, "chunkasm", "vlasm"), "-o", name + ".chunk", name + ".vlasm"], check=True)
    subprocess.run([os.path.join(tools, "mkapplet", "mkapplet"), "-d", name + ".desc", "-o", name + ".vla",
                    name + ".chunk"], check=True, capture_output=True)
    r = subprocess.run([os.path.join(build, "app", "vellamora-player"), "-quiet", name + ".vla"],
                       capture_output=True, text=True, env=dict(os.environ, DISPLAY=display), timeout=900)
    got = numbers(r.stdout)
    if r.returncode or len(got) != len(cases):
        sys.stderr.write("player failed (%d): %s %s\n" % (r.returncode, r.stdout[-400:], r.stderr[-400:]))
        return None
    return got


def run_cairo(exe, target, cases, iterations, display):
    r = subprocess.run([exe, target], input=cairo_input(cases, iterations), capture_output=True, text=True,
                       env=dict(os.environ, DISPLAY=display), timeout=900)
    got = numbers(r.stdout)
    if r.returncode or len(got) != len(cases):
        sys.stderr.write("cairo peer failed (%d): %s\n" % (r.returncode, r.stderr[-400:]))
        return None
    return got


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--against")
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--targets", default="brush,display")
    ap.add_argument("--changing", action="store_true")
    args = ap.parse_args()
    tmp = tempfile.mkdtemp(prefix="vl_path_peers_")
    exe = build_cairo(tmp)
    if not exe:
        sys.exit("cairo's development files (pkg-config cairo) are needed")
    xvfb = None
    display = os.environ.get("DISPLAY")
    if not display:
        display = ":%d" % (90 + os.getpid() % 9)
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL)
        time.sleep(1)
    # Loops long enough to time with a millisecond timer.
    iterations = {c: max(20, int(args.scale * (60 if c[0] == "polyline" or c[1] else 200))) for c in CASES}
    sides = [("ours", args.build)] + ([("old", args.against)] if args.against else [])
    results = {}  # (target, side) -> list of rounds
    try:
        for rnd in range(args.repeat):
            for target in args.targets.split(","):
                order = sides + [("cairo", None)]
                if rnd % 2:
                    order.reverse()
                for side, build in order:
                    got = (run_cairo(exe, target, CASES, iterations, display) if side == "cairo" else
                           run_player(build, tmp, target, CASES, iterations, display, side, args.changing))
                    if got is None:
                        sys.exit(1)
                    results.setdefault((target, side), []).append(got)
    finally:
        if xvfb:
            xvfb.terminate()
    print("load: %s" % open("/proc/loadavg").read().split()[:3])
    head = "%-8s %-28s %10s %10s %10s" % ("target", "case", "ours us", "cairo us", "vs cairo")
    if args.against:
        head += " %10s %10s" % ("old us", "vs old")
    print(head)
    for target in args.targets.split(","):
        for i, c in enumerate(CASES):
            n = iterations[c]
            ours = [r[i] * 1000 / n for r in results[(target, "ours")]]
            peer = [r[i] * 1000 / n for r in results[(target, "cairo")]]
            line = "%-8s %-28s %10.1f %10.1f %10.3f" % (target, case_name(c), statistics.median(ours),
                                                        statistics.median(peer),
                                                        statistics.median(p / o for p, o in zip(peer, ours)))
            if args.against:
                old = [r[i] * 1000 / n for r in results[(target, "old")]]
                line += " %10.1f %10.3f" % (statistics.median(old), statistics.median(b / o for b, o in zip(old, ours)))
            print(line)


if __name__ == "__main__":
    main()
