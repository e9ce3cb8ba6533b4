#!/usr/bin/env python3
"""Plain text straight from the font engine against the full layout.

Runs text_render_bench's PlainTextOut cases in alternating rounds (plain
then laid out, then the other way round) and prints, anti-aliased and
1-bit, both times of every round, the median of the per-round ratios
(laid out over plain: how many times faster the plain path draws the same
line) and the load average.

    bench/plain_text.py [--build build/release] [--rounds 7] [--min-time 0.2]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def run(program, name, min_time):
    out = subprocess.run([program, "--benchmark_filter=^" + name + "$", "--benchmark_min_time=%g" % min_time,
                          "--benchmark_format=json"], check=True, capture_output=True, text=True).stdout
    return json.loads(out)["benchmarks"][0]["real_time"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--min-time", type=float, default=0.2)
    args = parser.parse_args()
    program = os.path.join(args.build, "bench", "text_render_bench")
    if not os.access(program, os.X_OK):
        sys.exit("no %s: build the benchmarks first" % program)
    for aa in (1, 0):
        plain, laid = "PlainTextOut/plain:1/aa:%d" % aa, "PlainTextOut/plain:0/aa:%d" % aa
        ratios = []
        for i in range(args.rounds):
            order = (plain, laid) if i % 2 == 0 else (laid, plain)
            times = {name: run(program, name, args.min_time) for name in order}
            ratios.append(times[laid] / times[plain])
            print("%s round %d: plain %.1f us, laid out %.1f us, ratio %.2f" %
                  ("anti-aliased" if aa else "1-bit", i + 1, times[plain] / 1000, times[laid] / 1000, ratios[-1]))
        print("%s: median ratio %.2f over %d rounds (load %.2f)" %
              ("anti-aliased" if aa else "1-bit", statistics.median(ratios), len(ratios), os.getloadavg()[0]))


if __name__ == "__main__":
    main()
