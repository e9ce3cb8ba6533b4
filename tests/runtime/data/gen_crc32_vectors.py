#!/usr/bin/env python3
"""Writes crc32_vectors.txt: the CRC-32 that Python's zlib gives for 1,000
pseudo-random buffers. The buffers come from a xorshift32 generator with a
fixed seed that crc32_test.cpp repeats, so only lengths and CRCs are stored.
"""
import os
import zlib

MASK = 0xFFFFFFFF


def xorshift32(state):
    state ^= (state << 13) & MASK
    state ^= state >> 17
    state ^= (state << 5) & MASK
    return state & MASK


def main():
    state = 0x2545F491
    lines = []
    for _ in range(1000):
        state = xorshift32(state)
        length = 1 + state % 1500
        buf = bytearray()
        for _ in range(length):
            state = xorshift32(state)
            buf.append(state >> 24)
        lines.append("%d %08x\n" % (length, zlib.crc32(bytes(buf)) & MASK))
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "crc32_vectors.txt")
    with open(out, "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
