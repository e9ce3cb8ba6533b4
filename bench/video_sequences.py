#!/usr/bin/env python3
"""The long run of the random video sequences: many seeded sequences of
play, pause, resume, seek and stop, each checked as the CI set checks its
few (tests/player/video_sequence_test.cpp). Prints each failing seed with
its sequence and what failed, and a count; replay one with
VL_VIDEO_SEED=seed on the test program.

  bench/video_sequences.py BUILD_DIR [SEQUENCES] [BATCH]
"""
import os
import re
import subprocess
import sys


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    program = os.path.join(sys.argv[1], "tests/player/player_video_sequence_test")
    total = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    batch = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    ran, failed = 0, []
    while ran < total:
        count = min(batch, total - ran)
        env = dict(os.environ, VL_VIDEO_SEQUENCES=str(count))
        run = subprocess.run([program, "--gtest_filter=*RandomSequences"], env=env, capture_output=True, text=True,
                             timeout=120 * count + 60)
        # Each sequence prints "seed N: ..." and its failures follow until
        # the next one.
        for block in re.split(r"(?m)^(?=seed \d+: )", run.stdout):
            m = re.match(r"seed (\d+): (.*)", block)
            if not m:
                continue
            ran += 1
            faults = [line for line in block.splitlines() if line.startswith(("Expected", "Value of", "Failed", "  "))]
            if re.search(r"(?m)^\S*:\d+: Failure$", block):
                failed.append((m.group(1), m.group(2), faults))
        print(f"{ran} sequences, {len(failed)} failed; load {os.getloadavg()[0]:.1f}", flush=True)
    for seed, sequence, faults in failed:
        print(f"\nVL_VIDEO_SEED={seed}: {sequence}")
        for line in faults[:12]:
            print("  " + line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
