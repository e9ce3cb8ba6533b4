#!/usr/bin/env python3
"""Runs the interpreter benchmarks and their Python equivalents and prints
the time of each and the ratio (Python time / VM time; above 1 the VM is
faster). Both sides count processor time and keep the best of several
runs, so that other work on the machine disturbs the figures less.
Usage: compare_interp.py [path to vm_interp_bench]"""
import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interp_bench  # noqa: E402


def python_ms(fn, repeat=7):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.process_time()
        fn()
        best = min(best, time.process_time() - t0)
    return best * 1000.0


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    binary = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, "..", "build", "release", "bench", "vm_interp_bench")
    out = subprocess.run([binary, "--benchmark_format=json",
                          "--benchmark_repetitions=7"], check=True,
                         capture_output=True, text=True).stdout
    vm = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        name = b.get("run_name", b["name"])
        vm[name] = min(vm.get(name, float("inf")), b["cpu_time"])
    print("%-24s %12s %12s %8s" % ("benchmark", "VM ms", "Python ms", "ratio"))
    worst = float("inf")
    for name, fn in interp_bench.PROGRAMS.items():
        py = python_ms(fn)
        ratio = py / vm[name]
        worst = min(worst, ratio)
        print("%-24s %12.2f %12.2f %8.2f" % (name, vm[name], py, ratio))
    # Builds of one Python version differ by half (optimised or not): name
    # the one measured.
    print("Python %s (%s); lowest ratio %.2f" % (sys.version.split()[0], sys.executable, worst))


if __name__ == "__main__":
    main()
