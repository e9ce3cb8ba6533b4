#!/usr/bin/env python3
"""TextOut of one line against FreeType itself drawing it, in one run.

Runs text_render_bench's TextOut cases (plain straight from the engine,
bold, italic, bold italic; 1-bit and anti-aliased) and FreeTypeTextOut
(FreeType with each rendered glyph kept) in alternating rounds, and, with
--old, the same TextOut cases of an older build in the same rounds. Prints
every round's times and per case the median of the per-round ratios:
the player's speed over FreeType's (above 1: faster than FreeType) and over
the old build's, and the load average.

    bench/text_peers.py [--build build/release] [--old OLD_BUILD] [--rounds 7] [--min-time 0.2]
"""
import argparse
import os
import statistics
import sys

from plain_text import ROOT, run


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--old")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--min-time", type=float, default=0.2)
    args = parser.parse_args()
    program = os.path.join(args.build, "bench", "text_render_bench")
    old = os.path.join(args.old, "bench", "text_render_bench") if args.old else None
    for p in filter(None, (program, old)):
        if not os.access(p, os.X_OK):
            sys.exit("no %s: build the benchmarks first" % p)
    cases = []
    for aa in (0, 1):
        for style in (0, 2, 4, 6):
            player = ("PlainTextOut/plain:1/aa:%d" % aa) if style == 0 else ("StyledTextOut/style:%d/aa:%d" % (style, aa))
            cases.append(("style %d %s" % (style, "anti-aliased" if aa else "1-bit"), player,
                          "FreeTypeTextOut/style:%d/aa:%d" % (style, aa)))
    peer_ratios = {c[0]: [] for c in cases}
    old_ratios = {c[0]: [] for c in cases}
    for i in range(args.rounds):
        for label, player, peer in cases:
            runs = [("player", program, player), ("freetype", program, peer)]
            if old:
                runs.append(("old", old, player))
            if i % 2:
                runs.reverse()
            t = {who: run(prog, name, args.min_time) for who, prog, name in runs}
            peer_ratios[label].append(t["freetype"] / t["player"])
            line = "round %d %-22s player %7.1f us, FreeType %7.1f us" % (i + 1, label, t["player"] / 1000,
                                                                          t["freetype"] / 1000)
            if old:
                old_ratios[label].append(t["old"] / t["player"])
                line += ", old %8.1f us" % (t["old"] / 1000)
            print(line, flush=True)
    for label, _, _ in cases:
        line = "%-22s speed over FreeType's: median %.2f" % (label, statistics.median(peer_ratios[label]))
        if old:
            line += ", over the old build's: median %.1f" % statistics.median(old_ratios[label])
        print(line)
    print("rounds %d, load %.2f" % (args.rounds, os.getloadavg()[0]))


if __name__ == "__main__":
    main()
