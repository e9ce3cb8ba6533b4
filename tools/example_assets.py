#!/usr/bin/env python3
"""Writes the inputs of the examples by topic into the current folder, so
that examples/ carries no binary files:

    example_assets.py NAME

sound:   ping.wav (half a second of a fading 660 Hz tone, 22050 Hz mono
         16-bit) and tune.mod (the demonstration applet's module).
"""
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_assets  # noqa: E402


def wav(path, rate, samples):
    data = b"".join(struct.pack("<h", max(-32767, min(32767, int(s * 32767)))) for s in samples)
    head = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    head += b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, rate, rate * 2, 2, 16)
    head += b"data" + struct.pack("<I", len(data))
    demo_assets.write(path, head + data)


def sound():
    rate = 22050
    wav("ping.wav", rate, [0.8 * math.sin(2 * math.pi * 660 * i / rate) * (1 - i / (rate // 2))
                           for i in range(rate // 2)])
    demo_assets.module("tune.mod")


ASSETS = {"sound": sound}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in ASSETS:
        sys.exit("usage: example_assets.py " + "|".join(sorted(ASSETS)))
    ASSETS[sys.argv[1]]()


if __name__ == "__main__":
    main()
