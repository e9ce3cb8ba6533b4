#!/usr/bin/env python3
"""Runs pixel_peers_bench once (all jobs back to back, medians of 5) and
prints, for each job, our time, each peer's time and the ratio of our speed
to the peer's (above 1: we are faster), with the machine's load.

Usage: bench/pixel_peers.py [path/to/pixel_peers_bench] [extra benchmark flags]
"""
import json
import os
import subprocess
import sys

# The speed each job must reach against its peer; jobs without one print "-".
GOALS = {"Over": 1.0, "ScaleDown": 1.0, "ScaleUp": 1.0, "NearestDown": 1.0,
         "NearestUp": 1.0, "Crossfade": 0.6, "GifPicture": 1.0, "GifAnim": 1.0, "GifPhoto": 1.0,
         "Jpeg": 0.95}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    binary = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "release", "bench",
                                                                  "pixel_peers_bench")
    load_before = os.getloadavg()
    out = subprocess.run([binary, "--benchmark_format=json", "--benchmark_repetitions=5",
                          "--benchmark_report_aggregates_only=true"] + sys.argv[2:],
                         check=True, capture_output=True, text=True).stdout
    load_after = os.getloadavg()
    medians = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        job, who = b["run_name"].split("/")[:2]
        # CPU time of the one thread: on a shared machine the wall clock
        # also counts the time other processes held the core.
        medians.setdefault(job, {})[who] = b["cpu_time"]  # milliseconds
    print("load average before %.2f %.2f %.2f, after %.2f %.2f %.2f" % (load_before + load_after))
    print("%-11s %-8s %10s %10s %8s %6s" % ("job", "peer", "ours ms", "peer ms", "ratio", "goal"))
    print("(median CPU milliseconds of 5 runs; ratio = peer time / our time)")
    for job, times in medians.items():
        ours = times.get("ours")
        for who, t in times.items():
            if who == "ours" or ours is None:
                continue
            ratio = t / ours
            goal = GOALS.get(job)
            verdict = "-" if goal is None else ("ok" if ratio >= goal else "<%.2f" % goal)
            print("%-11s %-8s %10.3f %10.3f %8.2f %6s" % (job, who, ours, t, ratio, verdict))


if __name__ == "__main__":
    main()
