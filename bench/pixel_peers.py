#!/usr/bin/env python3
"""Runs pixel_peers_bench in alternating rounds and prints, for each job,
our time, each peer's time and the median over the rounds of the ratio of
our speed to the peer's (above 1: we are faster), with the machine's load.

A round runs every job of ours in one process and every peer's in another,
the two in turns (ours first in even rounds, the peers first in odd ones),
so that a change of load on a shared machine falls on both sides alike;
each round gives one ratio per job, and the median of those is reported,
not the best of several runs.

Usage: bench/pixel_peers.py [--rounds N] [path/to/pixel_peers_bench] [extra benchmark flags]
"""
import json
import os
import re
import statistics
import subprocess
import sys

# The speed each job must reach against its peer; jobs without one print "-".
GOALS = {"Over": 1.3, "OverSprite": 1.3, "ScaleDown": 1.1, "ScaleUp": 1.0, "NearestDown": 1.0,
         "NearestUp": 1.0, "Crossfade": 0.6, "GifPicture": 1.0, "GifAnim": 1.0, "GifPhoto": 1.0,
         "Png": 1.0, "PngAlpha": 1.0, "PngFile": 1.0, "Jpeg": 1.0, "JpegFile": 1.0}

MS_PER_UNIT = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}

WALL_CLOCK_JOBS = set()  # jobs timed by the wall clock


def load():
    return "%.2f %.2f %.2f" % os.getloadavg()


def run(binary, name_filter, extra):
    """CPU milliseconds of each "job/who" the filter selects, one process."""
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_filter=" + name_filter] + extra,
                         check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        job, who = b["run_name"].split("/")[:2]
        # CPU time of the one thread: on a shared machine the wall clock
        # also counts the time other processes held the core. Jobs that may
        # run on helper threads as well (named ".../real_time") are timed by
        # the wall clock, which is what their caller waits, on both sides.
        kind = "real_time" if b["run_name"].endswith("/real_time") else "cpu_time"
        if kind == "real_time":
            WALL_CLOCK_JOBS.add(job)
        times[(job, who)] = b[kind] * MS_PER_UNIT[b.get("time_unit", "ms")]
    return times


def main():
    args = sys.argv[1:]
    rounds = 5
    if len(args) >= 2 and args[0] == "--rounds":
        rounds = int(args[1])
        args = args[2:]
    here = os.path.dirname(os.path.abspath(__file__))
    binary = os.path.join(here, "..", "build", "release", "bench", "pixel_peers_bench")
    if args and not args[0].startswith("-"):
        binary, args = args[0], args[1:]
    # A filter given here chooses the jobs; each side then names its own.
    names = subprocess.run([binary, "--benchmark_list_tests"] + args, check=True, capture_output=True,
                           text=True).stdout.split()
    args = [a for a in args if not a.startswith("--benchmark_filter")]

    def exactly(chosen):
        return "^(%s)$" % "|".join(re.escape(n) for n in chosen)

    ours_filter = exactly(n for n in names if n.split("/")[1] == "ours")
    peers_filter = exactly(n for n in names if n.split("/")[1] != "ours")
    print("load average at the start %s" % load())
    samples = {}  # (job, who) -> times, one per round
    for r in range(rounds):
        order = [ours_filter, peers_filter] if r % 2 == 0 else [peers_filter, ours_filter]
        for f in order:
            if f == "^()$":
                continue  # no job on this side
            for key, t in run(binary, f, args).items():
                samples.setdefault(key, []).append(t)
        print("round %d of %d done, load %s" % (r + 1, rounds, load()), file=sys.stderr)
    print("load average at the end %s" % load())
    print("%-11s %-8s %10s %10s %8s %6s" % ("job", "peer", "ours ms", "peer ms", "ratio", "goal"))
    print("(median milliseconds of %d alternating rounds, CPU time of the one thread or, for the jobs marked *,"
          " the wall clock; ratio = median of the rounds' peer time / our time)" % rounds)
    jobs = []
    for job, who in samples:
        if job not in jobs:
            jobs.append(job)
    for job in jobs:
        ours = samples.get((job, "ours"))
        if not ours:
            continue
        for (j, who), theirs in samples.items():
            if j != job or who == "ours":
                continue
            ratio = statistics.median(t / o for t, o in zip(theirs, ours))
            goal = GOALS.get(job)
            verdict = "-" if goal is None else ("ok" if ratio >= goal else "<%.2f" % goal)
            print("%-11s %-8s %10.4f %10.4f %8.2f %6s" % (job + ("*" if job in WALL_CLOCK_JOBS else ""), who,
                                                          statistics.median(ours),
                                                          statistics.median(theirs), ratio, verdict))


if __name__ == "__main__":
    main()
