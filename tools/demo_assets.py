#!/usr/bin/env python3
"""Writes the demonstration applet's picture and tune, so that examples/
carries no third-party files:

    demo_assets.py OUTDIR   ->  OUTDIR/demo.png  OUTDIR/demo.mod

demo.png is a 640x480 sky-to-sea gradient with a sun; demo.mod a short
four-channel Protracker module (M.K.) of the project's own making: a bass
line, a lead melody on a looped square wave, and a noise drum.
"""
import math
import os
import random
import struct
import sys
import zlib


def png(path, width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)  # filter: none
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    data += chunk(b"IEND", b"")
    write(path, data)


def picture(x, y):
    # Sky above the horizon (y 300), sea below, a sun at (470, 210).
    d = math.hypot(x - 470, y - 210)
    if d < 60:
        return (255, 220 - int(d), 80)
    if y < 300:
        t = y / 300
        return (int(40 + 200 * t), int(60 + 120 * t), int(160 + 60 * t))
    t = (y - 300) / 180
    wave = 12 if (x // 8 + y // 3) % 9 == 0 else 0
    return (int(20 + 20 * t) + wave, int(70 - 30 * t) + wave, int(140 - 60 * t) + wave)


# Amiga periods of octaves 1 to 3.
NOTES = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]
PERIODS = [856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
           428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
           214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113]


def period(name):
    return PERIODS[NOTES.index(name[:2]) + 12 * (int(name[2]) - 1)]


def cell(sample, note=None, effect=0, param=0):
    p = period(note) if note else 0
    return bytes([(sample & 0xF0) | (p >> 8), p & 0xFF, ((sample & 0x0F) << 4) | effect, param])


def module(path):
    rng = random.Random(7)
    # Samples: 1 bass (looped 32-byte triangle), 2 lead (looped 32-byte
    # square), 3 drum (noise burst decaying, not looped).
    bass = bytes((int(127 - abs(i - 16) * 15.8) & 0xFF) for i in range(32))
    lead = bytes((80 if i < 16 else -80) & 0xFF for i in range(32))
    drum = bytes((int(rng.uniform(-1, 1) * 110 * (1 - i / 2400)) & 0xFF) for i in range(2400))
    samples = [(b"bass", bass, 48, 0, 16), (b"lead", lead, 40, 0, 16), (b"drum", drum, 64, 0, 1)]

    head = b"vellamora demo".ljust(20, b"\0")
    for i in range(31):
        if i < len(samples):
            name, data, volume, repeat, replen = samples[i]
            replen = replen if replen > 1 else 1
            head += name.ljust(22, b"\0") + struct.pack(">HBBHH", len(data) // 2, 0, volume, repeat,
                                                      len(data) // 2 if replen > 1 else 1)
        else:
            head += b"\0" * 22 + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    order = [0, 1, 0, 1]
    head += bytes([len(order), 127]) + bytes(order).ljust(128, b"\0") + b"M.K."

    melody = ["E-3", "G-3", "A-3", "B-3", "A-3", "G-3", "E-3", "D-3",
              "E-3", "G-3", "B-3", "D-3", "C-3", "B-2", "A-2", "B-2"]
    basses = ["E-1", "E-1", "C-1", "C-1", "D-1", "D-1", "B-1", "B-1"]
    patterns = b""
    for pattern in range(2):
        for row in range(64):
            bassCell = cell(1, basses[(row // 8) % 8]) if row % 4 == 0 else cell(0)
            step = row // 4 + 16 * pattern
            leadCell = cell(2, melody[step % 16]) if row % 4 == 0 and (pattern == 1 or step % 2 == 0) else cell(0)
            drumCell = cell(3, "C-2") if row % 8 == 0 or (pattern == 1 and row % 8 == 6) else cell(0)
            tempo = cell(0, None, 0xF, 5) if row == 0 and pattern == 0 else cell(0)
            patterns += bassCell + leadCell + drumCell + tempo
    body = b"".join(s[1] for s in samples)
    write(path, head + patterns + body)


def write(path, data):
    # Written beside the target and renamed over it only when whole.
    partial = path + ".part"
    with open(partial, "wb") as f:
        f.write(data)
    os.replace(partial, path)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: demo_assets.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    png(os.path.join(out, "demo.png"), 640, 480, picture)
    module(os.path.join(out, "demo.mod"))


if __name__ == "__main__":
    main()
