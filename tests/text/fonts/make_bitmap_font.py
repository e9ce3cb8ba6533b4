#!/usr/bin/env python3
"""Writes bitmap test fonts in the big-endian disk-font layout, and the
pictures and measurements that text drawn with them must give.

    make_bitmap_font.py OUTDIR

Files: test.font (sizes 8, 10 and an unlinked 12), test/8 (proportional,
spacing and kerning, odd strike modulo), test/10 (fixed width, no tables),
colour.font + colour/7 (two-plane colour font), bad.font + bad/8 (wrong
identifier), expect_8.pbm and expect_8.txt (text "ABCDZA"),
expect_colour.ppm (text "XY" over 0x123456)."""
import os
import random
import struct
import sys

HUNK = 32  # hunk offset h sits at file offset h + 32


def contents(entries, ident=0x0F00):
    out = struct.pack(">HH", ident, len(entries))
    for name, ysize in entries:
        raw = name.encode("latin-1")
        out += raw + b"\0" * (256 - len(raw)) + struct.pack(">HBB", ysize, 0, 0)
    return out


def glyph_file(height, baseline, xsize, flags, style, low, high, strike_rows, modulo, locs,
               spacing=None, kerning=None, colour=None, ident=0x0F80):
    """strike_rows: list of byte strings (plain fonts); colour: dict with
    depth, pick, planes (list of row-byte lists or None), table (0x0RGB)."""
    head_size = 186 if colour else 142
    blob = bytearray()

    def place(data):
        # Returns the hunk offset of data appended after the header.
        at = head_size + len(blob)
        blob.extend(data)
        while len(blob) % 2:
            blob.append(0)
        return at - HUNK

    strike_off = place(b"".join(strike_rows)) if strike_rows else 0
    loc_off = place(b"".join(struct.pack(">I", off << 16 | w) for off, w in locs))
    sp_off = place(b"".join(struct.pack(">h", v) for v in spacing)) if spacing else 0
    kern_off = place(b"".join(struct.pack(">h", v) for v in kerning)) if kerning else 0
    plane_offs = []
    rec_off = 0
    if colour:
        for plane in colour["planes"]:
            plane_offs.append(place(b"".join(plane)) if plane is not None else 0)
        table_off = place(b"".join(struct.pack(">H", c) for c in colour["table"]))
        rec_off = place(struct.pack(">HHI", 0, len(colour["table"]), table_off))
    head = bytearray(head_size)
    head[0:4] = struct.pack(">I", 0x3F3)
    struct.pack_into(">H", head, 50, ident)
    head[52:58] = b"\0" * 6
    struct.pack_into(">HBBHHHHBBIHIII", head, 110, height, style, flags, xsize, baseline, 1, 0,
                     low, high, strike_off, modulo, loc_off, sp_off, kern_off)
    if colour:
        struct.pack_into(">HBBBBBBI", head, 142, 0, colour["depth"], 1, 0, 3, colour["pick"], 0, rec_off)
        offs = plane_offs + [0] * (8 - len(plane_offs))
        struct.pack_into(">8I", head, 154, *offs)
    return bytes(head) + bytes(blob)


def bits_of(rows, x, y):
    return (rows[y][x // 8] >> (7 - x % 8)) & 1


def main():
    out = sys.argv[1]
    rnd = random.Random(1234)
    for d in ("test", "colour", "bad"):
        os.makedirs(os.path.join(out, d), exist_ok=True)

    # Proportional font, codes 65..68 plus the default glyph.
    widths = [5, 3, 7, 1, 4]
    spacing = [6, 4, 8, 2, 5]
    kerning = [0, -1, 1, 0, 2]
    height, baseline, modulo = 8, 6, 3
    offs = []
    pos = 0
    for w in widths:
        offs.append(pos)
        pos += w
    rows = [bytearray(modulo) for _ in range(height)]
    for y in range(height):
        for x in range(pos):
            if rnd.random() < 0.5:
                rows[y][x // 8] |= 0x80 >> (x % 8)
    with open(os.path.join(out, "test", "8"), "wb") as f:
        f.write(glyph_file(height, baseline, 6, 0x20, 0, 65, 68, [bytes(r) for r in rows], modulo,
                           list(zip(offs, widths)), spacing, kerning))
    # Fixed font without tables: codes 32..126, six pixels apart.
    fixed_rows = [bytes(rnd.randrange(256) for _ in range(72)) for _ in range(10)]
    with open(os.path.join(out, "test", "10"), "wb") as f:
        f.write(glyph_file(10, 8, 6, 0, 0, 32, 126, fixed_rows, 72,
                           [(6 * i, 6) for i in range(96)]))
    with open(os.path.join(out, "test.font"), "wb") as f:
        f.write(contents([("::incomplete", 12), ("test/8", 8), ("test/10", 10), ("test/12", 12)]))

    # The expected drawing of "ABCDZA" at (3, 1) on a 48 x 10 canvas.
    text = "ABCDZA"
    canvas = [[0] * 48 for _ in range(10)]
    pen, lo, hi = 3, 0, 0
    mpen = 0
    for ch in text:
        c = ord(ch)
        e = c - 65 if 65 <= c <= 68 else 4
        x = pen + kerning[e]
        mx = mpen + kerning[e]
        for yy in range(height):
            for xx in range(widths[e]):
                if bits_of(rows, offs[e] + xx, yy):
                    canvas[1 + yy][x + xx] = 1
        pen = x + spacing[e]
        mpen = mx + spacing[e]
        lo = min(lo, mx, mx + widths[e], mpen)
        hi = max(hi, mx, mx + widths[e], mpen)
    with open(os.path.join(out, "expect_8.pbm"), "w") as f:
        f.write("P1\n48 10\n" + "\n".join(" ".join(str(v) for v in r) for r in canvas) + "\n")
    with open(os.path.join(out, "expect_8.txt"), "w") as f:
        f.write(f"{mpen} {lo} {hi - 1} {-baseline} {height - 1 - baseline}\n")

    # Colour font: code 88 and the default glyph, 8 pixels each, 2 planes.
    cmod, cheight = 2, 7
    planes = [[bytes(rnd.randrange(256) for _ in range(cmod)) for _ in range(cheight)] for _ in range(2)]
    table = [0x000, 0xF00, 0x0F0, 0x00F]
    with open(os.path.join(out, "colour", "7"), "wb") as f:
        f.write(glyph_file(cheight, 5, 8, 0, 0x40, 88, 88, None, cmod, [(0, 8), (8, 8)],
                           colour={"depth": 2, "pick": 3, "planes": planes, "table": table}))
    with open(os.path.join(out, "colour.font"), "wb") as f:
        f.write(contents([("colour/7", 7)], 0x0F02))
    palette = [0x123456, 0xFF0000, 0x00FF00, 0x0000FF]
    with open(os.path.join(out, "expect_colour.ppm"), "w") as f:
        f.write(f"P3\n16 {cheight}\n255\n")
        for y in range(cheight):
            for x in range(16):
                idx = bits_of(planes[0], x, y) | bits_of(planes[1], x, y) << 1
                v = palette[idx]
                f.write(f"{v >> 16} {(v >> 8) & 255} {v & 255}\n")

    with open(os.path.join(out, "bad", "8"), "wb") as f:
        f.write(glyph_file(height, baseline, 6, 0x20, 0, 65, 68, [bytes(r) for r in rows], modulo,
                           list(zip(offs, widths)), spacing, kerning, ident=0x0F81))
    with open(os.path.join(out, "bad.font"), "wb") as f:
        f.write(contents([("bad/8", 8)]))


if __name__ == "__main__":
    main()
