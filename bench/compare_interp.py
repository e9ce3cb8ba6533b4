#!/usr/bin/env python3
"""Runs the interpreter benchmarks and their Python equivalents and prints
the time of each and the ratio (Python time / VM time; above 1 the VM is
faster). Usage: compare_interp.py [path to vm_interp_bench]"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interp_bench  # noqa: E402


def python_ms(fn, repeat=5):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best * 1000.0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    binary = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "build", "release", "bench", "vm_interp_bench")
    out = subprocess.run([binary, "--benchmark_format=json"], check=True,
                         capture_output=True, text=True).stdout
    vm = {b["name"]: b["real_time"] for b in json.loads(out)["benchmarks"]}
    print("%-24s %12s %12s %8s" % ("benchmark", "VM ms", "Python ms", "ratio"))
    worst = float("inf")
    for name, fn in interp_bench.PROGRAMS.items():
        py = python_ms(fn)
        ratio = py / vm[name]
        worst = min(worst, ratio)
        print("%-24s %12.2f %12.2f %8.2f" % (name, vm[name], py, ratio))
    print("Python %s; lowest ratio %.2f" % (sys.version.split()[0], worst))


if __name__ == "__main__":
    main()
