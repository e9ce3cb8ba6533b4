#!/usr/bin/env python3
"""The thin anti-aliased line as the drawing loops define it, checked
against a picture the player drew.

    line_aa_model.py FILE WIDTH HEIGHT MODE X0 Y0 X1 Y1 -- x1 y1 x2 y2 [x1 y1 x2 y2 ...]

FILE holds WIDTH x HEIGHT bytes (8-bit grey). MODE says what a coverage c
of each line (white on black) leaves in a pixel:
  blend  a white pixel blended over black: 255 at c = 255, else 255 * c >> 8
  alpha  the alpha byte c
  mask   a visible pixel (0) where c > 0, any other value elsewhere
Only the rectangle X0 Y0 (inclusive) to X1 Y1 (exclusive) is compared.
Prints "ok", or the first pixels that differ.
"""
import sys


def coverage(x1, y1, x2, y2):
    """{(x, y): c}: the longer axis stepped one pixel at a time from the end
    with the smaller coordinate, the other in 16.16 fixed point; the two
    pixels straddling the line get 255 - f and f, f bits 8 to 15 of the
    position. One point is one pixel of 255."""
    if (x1, y1) == (x2, y2):
        return {(x1, y1): 255}
    x_major = abs(x2 - x1) >= abs(y2 - y1)
    if (x_major and x2 < x1) or (not x_major and y2 < y1):
        x1, y1, x2, y2 = x2, y2, x1, y1
    major = x2 - x1 if x_major else y2 - y1
    minor = y2 - y1 if x_major else x2 - x1
    slope = int(minor * 65536 / major)  # C division: toward zero
    pos = (y1 if x_major else x1) << 16
    out = {}
    for i in range(major + 1):
        m = (x1 if x_major else y1) + i
        n = pos >> 16
        f = (pos >> 8) & 0xFF
        for k, c in ((n, 255 - f), (n + 1, f)):
            if c:
                out[(m, k) if x_major else (k, m)] = c
        pos += slope
    return out


def main():
    args = sys.argv[1:]
    cut = args.index("--")
    path, width, height, mode = args[0], int(args[1]), int(args[2]), args[3]
    x0, y0, x1, y1 = (int(v) for v in args[4:8])
    pts = [int(v) for v in args[cut + 1:]]
    cov = {}
    for i in range(0, len(pts), 4):
        cov.update(coverage(*pts[i:i + 4]))
    data = open(path, "rb").read()
    if len(data) != width * height:
        print("size %d, not %d" % (len(data), width * height))
        return 1
    wrong = []
    for y in range(y0, y1):
        for x in range(x0, x1):
            c = cov.get((x, y), 0)
            got = data[y * width + x]
            if mode == "blend":
                ok = got == (255 if c == 255 else 255 * c >> 8)
            elif mode == "alpha":
                ok = got == c
            else:
                ok = (got == 0) == (c > 0)
            if not ok:
                wrong.append("(%d,%d) %d for coverage %d" % (x, y, got, c))
    print("ok" if not wrong else "%d differ: %s" % (len(wrong), "; ".join(wrong[:8])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
