#!/usr/bin/env python3
"""The blit kernels of two builds side by side: the shipped player drawing
a 256x256 colour-keyed brush into a 1280x720 brush (DisplayBrush, timed by
the applet itself) and every case of graphics_blit_bench, in alternating
rounds (old then new, then the other way round). Prints each round's
times and, per case, the median of the per-round ratios (new speed over
old: above 1 is faster; each case's old and new runs back to back, by
processor time) and the load average.

    bench/blit_old_new.py --old OLD_BUILD [--new build/release] [--rounds 7]

The player needs an X display (DISPLAY); ImageMagick makes the brush.
"""
import argparse
import json
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

APPLET = """.source "@masked.vls"
.line 1
.table 0 { width = 320, height = 200, color = 0, title = "masked" }
.call base=1 setdisplayattributes r0
.call base=1 loadbrush 1 "%(brush)s" 0
.call base=1 createbrush 2 1280 720 0x203040
.call base=1 selectbrush 2
.call base=1 starttimer 1
loadk 0 #0
loadk 1 #%(count)d
loadk 2 #1
jump next
body:
  .call base=4 displaybrush 1 100 100
next:
  forloop 0 body
.call base=4 gettimer 1 -> T
.call base=4 endselect
.call base=4 debugprint "ms" $T
ret
"""


def make_applet(build, folder, count):
    brush = os.path.join(folder, "key.png")
    subprocess.run(["convert", "-size", "256x256", "xc:black", "-fill", "#40a0e0", "-draw", "circle 128,128 128,8",
                    "-fill", "#e08040", "-draw", "rectangle 60,100 200,150", "-type", "TrueColor", "PNG24:" + brush],
                   check=True)
    src, chunk, desc, applet = (os.path.join(folder, "masked." + e) for e in ("vlasm", "chunk", "desc", "vla"))
    with open(src, "w") as f:
        f.write(APPLET % {"brush": brush, "count": count})
    with open(desc, "w") as f:
        f.write("revision 6 1\n\n")
    subprocess.run([os.path.join(build, "tools", "chunkasm", "vlasm"), "-o", chunk, src], check=True)
    subprocess.run([os.path.join(build, "tools", "mkapplet", "mkapplet"), "-d", desc, "-o", applet, chunk], check=True)
    return applet


def player_time(build, applet):
    """The processor time the player took (its start and end included: the
    same in both builds), which a busy machine disturbs less than the
    applet's own clock; the applet's milliseconds are printed beside it."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = subprocess.run([os.path.join(build, "app", "vellamora-player"), "-DEBUGDEVICE", "console", applet],
                         check=True, capture_output=True, text=True).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    wall = float(re.findall(r"^ms (\d+)", out, re.M)[-1])
    return after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime, wall


def bench_names(build):
    out = subprocess.run([os.path.join(build, "bench", "graphics_blit_bench"), "--benchmark_list_tests"],
                         check=True, capture_output=True, text=True).stdout
    return out.split()


def bench_time(build, name, min_time):
    out = subprocess.run([os.path.join(build, "bench", "graphics_blit_bench"), "--benchmark_filter=^%s$" % name,
                          "--benchmark_min_time=%g" % min_time, "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)["benchmarks"][0]["cpu_time"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--old", required=True)
    parser.add_argument("--new", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--count", type=int, default=20000, help="DisplayBrush calls per player run")
    parser.add_argument("--min-time", type=float, default=0.1)
    args = parser.parse_args()
    builds = {"old": args.old, "new": args.new}
    player = "player DisplayBrush masked 256x256"
    ratios = {}
    with tempfile.TemporaryDirectory() as folder:
        applet = make_applet(args.new, folder, args.count)
        cases = bench_names(args.new) + [player]
        for i in range(args.rounds):
            # Each case old and new back to back, the order turned every round.
            order = ("old", "new") if i % 2 == 0 else ("new", "old")
            for name in cases:
                t, wall = {}, {}
                for which in order:
                    if name == player:
                        t[which], wall[which] = player_time(builds[which], applet)
                    else:
                        t[which] = bench_time(builds[which], name, args.min_time)
                ratios.setdefault(name, []).append(t["old"] / t["new"])
                if name == player:
                    ratios.setdefault(player + " (its clock)", []).append(wall["old"] / wall["new"])
                    print("round %d: player old %.2f s (%.0f ms by its clock), new %.2f s (%.0f ms)" %
                          (i + 1, t["old"], wall["old"], t["new"], wall["new"]), flush=True)
    for name, r in ratios.items():
        print("%-40s new/old speed: median %.3f (min %.3f, max %.3f)" % (name, statistics.median(r), min(r), max(r)))
    print("rounds %d, load %.2f" % (args.rounds, os.getloadavg()[0]))


if __name__ == "__main__":
    sys.exit(main())
