#!/usr/bin/env python3
"""Writes IFF ILBM and ANIM test files from the IFF rules, with the
expected pixels beside them, for the picture tests.

ilbm <out> <kind>    kinds: pal4, pal4-packed, ehb, ham6, ham8, rgb24,
                     mask1, key2, cmap-after-body
  writes <out> and <out>.rgb (width, height as 16-bit BE, then R G B bytes)
anim <out> <kind>    kinds: op5, op7, op8, ehb, op101 (transparent pen 3, DPAN),
                     op5xor (interleave 1, a CMAP in a delta), op7long,
                     op8long, op100 (4-byte elements)
  writes <out>, <out>.<n>.rgb and <out>.<n>.idx (pens) per frame
interlaced <out> <kind>  kinds: even, odd (the field the first delta writes)
  writes <out>, <out>.<n>.rgb and <out>.<n>.double.rgb per frame
cdxl <out> <kind>    kinds: pal (4 planes, sound, 12000-byte frames),
                     ham6, ham8 (30720-byte frames), resized (bad)
  writes <out>, <out>.<n>.rgb and <out>.<n>.snd per frame
"""
import random
import struct
import sys


def chunk(cid, data):
    pad = b"\0" if len(data) & 1 else b""
    return cid + struct.pack(">I", len(data)) + data + pad


def byterun1(row):
    """ByteRun1 packing: runs of 3 or more repeat, the rest literal."""
    out = bytearray()
    i, n = 0, len(row)
    lit = bytearray()

    def flush():
        nonlocal lit
        if lit:
            out.append(len(lit) - 1)
            out.extend(lit)
            lit = bytearray()

    while i < n:
        j = i
        while j < n and row[j] == row[i] and j - i < 128:
            j += 1
        if j - i >= 3:
            flush()
            out.append((257 - (j - i)) & 0xFF)
            out.append(row[i])
            i = j
        else:
            lit.append(row[i])
            i += 1
            if len(lit) == 128:
                flush()
    flush()
    return bytes(out)


def row_bytes(width):
    return ((width + 15) // 16) * 2


def to_planes(chunky, width, height, planes):
    """chunky: list of rows of pixel values -> planes[p][y] bytes."""
    rb = row_bytes(width)
    out = []
    for p in range(planes):
        rows = []
        for y in range(height):
            r = bytearray(rb)
            for x in range(width):
                if (chunky[y][x] >> p) & 1:
                    r[x >> 3] |= 0x80 >> (x & 7)
            rows.append(bytes(r))
        out.append(rows)
    return out


def bmhd(width, height, planes, masking=0, compression=1, transparent=0):
    return chunk(b"BMHD", struct.pack(">HHhhBBBBHBBhh", width, height, 0, 0, planes, masking,
                                      compression, 0, transparent, 1, 1, width, height))


def body(planes_data, width, height, compression, mask_rows=None):
    out = bytearray()
    for y in range(height):
        rows = [planes_data[p][y] for p in range(len(planes_data))]
        if mask_rows is not None:
            rows.append(mask_rows[y])
        for r in rows:
            out += byterun1(r) if compression else r
    return bytes(out)


def cmap(palette):
    return chunk(b"CMAP", b"".join(bytes(c) for c in palette))


def ham_decode(chunky, palette, value_bits):
    out = []
    for row in chunky:
        r = g = b = 0
        line = []
        for v in row:
            ctl, val = v >> value_bits, v & ((1 << value_bits) - 1)
            if ctl == 0:
                r, g, b = palette[val]
            elif ctl == 1:
                b = val << (8 - value_bits)
            elif ctl == 2:
                r = val << (8 - value_bits)
            else:
                g = val << (8 - value_bits)
            line.append((r, g, b))
        out.append(line)
    return out


def write_rgb(path, width, height, rows):
    with open(path, "wb") as f:
        f.write(struct.pack(">HH", width, height))
        for row in rows:
            for (r, g, b) in row:
                f.write(bytes((r, g, b)))


def ilbm(path, kind):
    rnd = random.Random(kind)
    width, height = 37, 11
    camg = None
    masking, transparent = 0, 0
    compression = 0 if kind == "pal4" else 1
    if kind in ("pal4", "pal4-packed", "mask1", "key2", "cmap-after-body"):
        planes = 4
        palette = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(16)]
        chunky = [[rnd.randrange(16) if x % 7 else 3 for x in range(width)] for _ in range(height)]
        if kind == "key2":
            # Loaded with transparency mode 1: the first key candidate is
            # taken by pen 2, so pen 5 shows 0xA8A8A8 + 15.
            masking, transparent = 2, 5
            palette[2] = (0xA8, 0xA8, 0xA8)
            expect = [[(0xA8, 0xA8, 0xB7) if v == 5 else palette[v] for v in row] for row in chunky]
        else:
            expect = [[palette[v] for v in row] for row in chunky]
    elif kind == "ehb":
        planes = 6
        camg = 0x80
        palette = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(32)]
        chunky = [[rnd.randrange(64) for x in range(width)] for _ in range(height)]
        full = palette + [(r >> 1, g >> 1, b >> 1) for (r, g, b) in palette]
        expect = [[full[v] for v in row] for row in chunky]
    elif kind in ("ham6", "ham8"):
        planes = 6 if kind == "ham6" else 8
        bits = 4 if kind == "ham6" else 6
        camg = 0x800
        palette = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(1 << bits)]
        chunky = [[rnd.randrange(1 << planes) for x in range(width)] for _ in range(height)]
        expect = ham_decode(chunky, palette, bits)
    elif kind == "rgb24":
        planes = 24
        palette = None
        pix = [[(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) if x % 5 else (9, 9, 9)
                for x in range(width)] for _ in range(height)]
        chunky = [[(r | g << 8 | b << 16) for (r, g, b) in row] for row in pix]
        expect = pix
    else:
        raise SystemExit("unknown kind " + kind)
    pl = to_planes(chunky, width, height, planes)
    mask_rows = None
    if kind == "mask1":
        masking = 1
        mask_rows = [bytes((0x55 + y) & 0xFF for _ in range(row_bytes(width))) for y in range(height)]
    form = b"ILBM" + bmhd(width, height, planes, masking, compression, transparent)
    if camg is not None:
        form += chunk(b"CAMG", struct.pack(">I", camg))
    if palette is not None and kind != "cmap-after-body":
        form += cmap(palette)
    form += chunk(b"BODY", body(pl, width, height, compression, mask_rows))
    if kind == "cmap-after-body":
        form += cmap(palette)
    with open(path, "wb") as f:
        f.write(chunk(b"FORM", form))
    write_rgb(path + ".rgb", width, height, expect)


# ---------------------------------------------------------------------------
# ANIM: frame 0 a full ILBM, then one delta FORM per frame.

def anhd(op, reltime, interleave=0, bits=0):
    return chunk(b"ANHD", struct.pack(">BBHHhhIIBBI16s", op, 0, 0, 0, 0, 0, 0, reltime, interleave, 0,
                                      bits, b"\0" * 16))


def column_runs(old, new, height):
    """Splits one column's rows into ('skip', n), ('copy', [values]) and
    ('repeat', n, value) runs: changed rows of three or more equal values
    repeat, other changed rows copy; unchanged rows at the end are left."""
    runs = []
    y = 0
    while y < height:
        if old(y) == new(y):
            s = y
            while y < height and old(y) == new(y) and y - s < 127:
                y += 1
            if y < height:
                runs.append(("skip", y - s))
            continue
        s = y
        while y < height and old(y) != new(y) and y - s < 127:
            y += 1
        vals = [new(k) for k in range(s, y)]
        if len(vals) >= 3 and all(v == vals[0] for v in vals):
            runs.append(("repeat", len(vals), vals[0]))
        else:
            runs.append(("copy", vals))
    return runs


def op5_delta(old, new, planes, width, height):
    """Byte vertical delta: per plane, per column, ops of skip/copy/repeat."""
    rb = row_bytes(width)
    pointers = [0] * 16
    data = bytearray()
    base = 64
    for p in range(planes):
        col_data = bytearray()
        changed = False
        for c in range(rb):
            ops = bytearray()
            runs = column_runs(lambda y: old[p][y][c], lambda y: new[p][y][c], height)
            for run in runs:
                if run[0] == "skip":
                    ops.append(run[1])
                    continue
                changed = True
                if run[0] == "repeat":
                    ops += bytes((0, run[1], run[2]))
                else:
                    ops.append(0x80 | len(run[1]))
                    ops += bytes(run[1])
            col_data.append(len(runs))
            col_data += ops
        if changed:
            pointers[p] = base + len(data)
            data += col_data
    return struct.pack(">16I", *pointers) + bytes(data)


def op7_delta(old, new, planes, width, height, element=2):
    """Vertical delta with separate op and data lists: 2-byte elements, or
    4-byte ones (bit 0 of the ANHD bits)."""
    cols = width // (8 * element)
    head = [0] * 16
    body_ = bytearray()
    base = 64
    for p in range(planes):
        opl = bytearray()
        dl = bytearray()
        changed = False
        for c in range(cols):
            def el(rows, y):
                return rows[p][y][element * c:element * c + element]
            runs = column_runs(lambda y: el(old, y), lambda y: el(new, y), height)
            opl.append(len(runs))
            for run in runs:
                if run[0] == "skip":
                    opl.append(run[1])
                    continue
                changed = True
                if run[0] == "repeat":
                    opl += bytes((0, run[1]))
                    dl += run[2]
                else:
                    opl.append(0x80 | len(run[1]))
                    dl += b"".join(run[1])
        if changed:
            if len(opl) & 1:
                opl.append(0)
            head[p] = base + len(body_)
            body_ += opl
            head[8 + p] = base + len(body_)
            body_ += dl
    return struct.pack(">16I", *head) + bytes(body_)


def op8_ops(runs, word, copy_bit):
    out = struct.pack(word, len(runs))
    for run in runs:
        if run[0] == "skip":
            out += struct.pack(word, run[1])
        elif run[0] == "repeat":
            out += struct.pack(word, 0) + struct.pack(word, run[1]) + run[2]
        else:
            out += struct.pack(word, copy_bit | len(run[1])) + b"".join(run[1])
    return out


def op8_delta(old, new, planes, width, height, element=2):
    """Vertical delta with inline data: 2-byte elements with u16 ops, or
    4-byte ones with u32 ops and, when the width is not a multiple of 32,
    a last column of 2-byte elements with u16 ops."""
    cols = width // (8 * element)
    pointers = [0] * 16
    data = bytearray()
    base = 64
    columns = [(element * c, element) for c in range(cols)]
    if element == 4 and width % 32:
        columns.append((4 * cols, 2))
    for p in range(planes):
        col_data = bytearray()
        changed = False
        for at, size in columns:
            def el(rows, y):
                return rows[p][y][at:at + size]
            runs = column_runs(lambda y: el(old, y), lambda y: el(new, y), height)
            changed |= any(r[0] != "skip" for r in runs)
            col_data += op8_ops(runs, ">I" if size == 4 else ">H", 0x80000000 if size == 4 else 0x8000)
        if changed:
            pointers[p] = base + len(data)
            data += col_data
    return struct.pack(">16I", *pointers) + bytes(data)


def op101_delta(old, new, planes, width, height, element=2):
    """Element runs at byte offsets: 2-byte elements with i16 counts (101)
    or 4-byte ones with i32 counts (100). Changed rows of a column become
    copy runs (negative counts), or repeat runs of one element."""
    rb = row_bytes(width)
    count_fmt = ">h" if element == 2 else ">i"
    pointers = [0] * 16
    data = bytearray()
    base = 64
    for p in range(planes):
        runs = bytearray()
        n = 0
        for c in range(0, rb - element + 1, element):
            y = 0
            for run in column_runs(lambda y: old[p][y][c:c + element], lambda y: new[p][y][c:c + element], height):
                if run[0] == "skip":
                    y += run[1]
                    continue
                if run[0] == "repeat" and element == 4:
                    runs += struct.pack(count_fmt, run[1]) + struct.pack(">I", y * rb + c) + run[2]
                    y += run[1]
                else:
                    vals = [run[2]] * run[1] if run[0] == "repeat" else run[1]
                    runs += struct.pack(count_fmt, -len(vals)) + struct.pack(">I", y * rb + c) + b"".join(vals)
                    y += len(vals)
                n += 1
        if n:
            pointers[p] = base + len(data)
            data += struct.pack(">H" if element == 2 else ">I", n) + runs
    return struct.pack(">16I", *pointers) + bytes(data)


def anim(path, kind):
    rnd = random.Random(kind)
    width = {"op7": 32, "op8": 32, "op7long": 64, "op8long": 48, "op100": 32}.get(kind, 24)
    height = 9
    planes = 6 if kind == "ehb" else 3
    ncolors = 32 if kind == "ehb" else 1 << planes
    palette = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(ncolors)]
    frames = []
    chunky = [[rnd.randrange(1 << planes) for _ in range(width)] for _ in range(height)]
    frames.append([row[:] for row in chunky])
    for n in range(4):
        for _ in range(20):
            chunky[rnd.randrange(height)][rnd.randrange(width)] = rnd.randrange(1 << planes)
        if n == 1:
            for x in range(width):
                chunky[2][x] = 5  # a run of equal bytes
        if n == 2:
            # A run down the first columns (a repeat op), then more changes
            # below it in the same columns.
            for y in range(1, 6):
                for x in range(16):
                    chunky[y][x] = (1 << planes) - 1
            for x in range(16):
                chunky[7][x] = 1 + (x & 1)
                # Rows 0 and 6 as in the frame two back, the one this
                # frame's delta applies to: the run stands alone.
                chunky[0][x] = frames[1][0][x]
                chunky[6][x] = frames[1][6][x]
        frames.append([row[:] for row in chunky])
    plane_frames = [to_planes(f, width, height, planes) for f in frames]
    op = {"op5": 5, "op7": 7, "op8": 8, "ehb": 5, "op101": 101, "op5xor": 5, "op7long": 7, "op8long": 8,
          "op100": 100}[kind]
    element = 4 if kind in ("op7long", "op8long", "op100") else 2
    # Interleave 1: every delta applies to the frame before it, XORed in.
    xor = kind == "op5xor"
    # op101: pen 3 is the transparent colour; a DPAN gives the frame count.
    masking = 2 if kind == "op101" else 0
    first = b"ILBM" + bmhd(width, height, planes, masking, 1, 3) + anhd(0, 7)
    if kind == "op101":
        first += chunk(b"DPAN", struct.pack(">HHI", 4, len(frames), 0))
    if kind == "ehb":
        first += chunk(b"CAMG", struct.pack(">I", 0x80))
    first += cmap(palette)
    first += chunk(b"BODY", body(plane_frames[0], width, height, 1))
    forms = [chunk(b"FORM", first)]
    # Deltas alternate between two buffers: delta n applies to frame n - 2
    # (frame 0's buffer for the first two). The XOR anim changes pens 0 and
    # 1 with a CMAP in its third delta.
    palettes = [palette] * len(frames)
    for n in range(1, len(frames)):
        if xor:
            old = plane_frames[n - 1]
            new = [[bytes(a ^ b for a, b in zip(plane_frames[n][p][y], old[p][y])) for y in range(height)]
                   for p in range(planes)]
            zero = [[bytes(len(r)) for r in pl] for pl in new]
            d = op5_delta(zero, new, planes, width, height)
        else:
            old = plane_frames[n - 2] if n >= 2 else plane_frames[0]
            maker = {5: op5_delta, 7: op7_delta, 8: op8_delta, 101: op101_delta, 100: op101_delta}[op]
            d = (maker(old, plane_frames[n], planes, width, height) if element == 2 else
                 maker(old, plane_frames[n], planes, width, height, element=4))
        extra = b""
        if xor and n == 3:
            palettes[3:] = [[(1, 2, 3), (250, 128, 7)] + palette[2:]] * (len(frames) - 3)
            extra = cmap(palettes[3][:2])
        forms.append(chunk(b"FORM", b"ILBM" + anhd(op, 3 + n, 1 if xor else 0, 1 if element == 4 else 0) + extra +
                           chunk(b"DLTA", d)))
    with open(path, "wb") as f:
        f.write(chunk(b"FORM", b"ANIM" + b"".join(forms)))
    for n, fr in enumerate(frames):
        pal = palettes[n]
        full = pal + [(r >> 1, g >> 1, b >> 1) for (r, g, b) in pal] if kind == "ehb" else pal
        write_rgb("%s.%d.rgb" % (path, n), width, height, [[full[v] for v in row] for row in fr])
        with open("%s.%d.idx" % (path, n), "wb") as f:
            f.write(bytes(v for row in fr for v in row))


def interlaced(path, kind):
    """An interlaced anim: every delta (operation 101, bit 6 of the bits)
    writes one field, the first one the even rows (kind even) or the odd
    rows (kind odd); without a DPAN the two last deltas are loop frames.
    Writes <out>.<n>.rgb as shown by default (the plane buffer as it is) and
    <out>.<n>.double.rgb with the other field made of the rows beside it."""
    rnd = random.Random(kind)
    width, height, planes = 16, 7, 3
    rb = row_bytes(width)
    palette = [(rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)) for _ in range(1 << planes)]
    first_chunky = [[rnd.randrange(1 << planes) for _ in range(width)] for _ in range(height)]
    first = to_planes(first_chunky, width, height, planes)
    buffers = [[list(rows) for rows in first], [list(rows) for rows in first]]
    start = 0 if kind == "even" else 1
    shown = [first]
    forms = [chunk(b"FORM", b"ILBM" + bmhd(width, height, planes) + anhd(0, 7) + cmap(palette) +
                   chunk(b"BODY", body(first, width, height, 1)))]
    for n in range(1, 7):
        field = (start + n - 1) % 2
        target = buffers[(n - 1) % 2]
        new = to_planes([[rnd.randrange(1 << planes) for _ in range(width)] for _ in range(height)],
                        width, height, planes)
        if new[0][field] == target[0][field]:
            new[0][field] = bytes((target[0][field][0] ^ 0x80,)) + target[0][field][1:]
        pointers = [0] * 16
        data = bytearray()
        for p in range(planes):
            runs = bytearray()
            count = 0
            rows = list(range(field, height, 2))
            i = 0
            while i < len(rows):
                if new[p][rows[i]] == target[p][rows[i]]:
                    i += 1
                    continue
                j = i
                while j < len(rows) and new[p][rows[j]] != target[p][rows[j]]:
                    target[p][rows[j]] = new[p][rows[j]]
                    j += 1
                runs += struct.pack(">hI", -(j - i), rows[i] * rb) + b"".join(new[p][rows[k]] for k in range(i, j))
                count += 1
                i = j
            if count:
                pointers[p] = 64 + len(data)
                data += struct.pack(">H", count) + runs
        delta = struct.pack(">16I", *pointers) + bytes(data)
        forms.append(chunk(b"FORM", b"ILBM" + anhd(101, 3 + n, 0, 0x40) + chunk(b"DLTA", delta)))
        shown.append([list(rows) for rows in target])
    with open(path, "wb") as f:
        f.write(chunk(b"FORM", b"ANIM" + b"".join(forms)))
    # The field the first delta wrote fixes the parity: a frame replaces the
    # field its own delta did not write.
    for n in range(5):
        chunky = [[sum(((shown[n][p][y][x >> 3] >> (7 - (x & 7))) & 1) << p for p in range(planes))
                   for x in range(width)] for y in range(height)]
        write_rgb("%s.%d.rgb" % (path, n), width, height, [[palette[v] for v in row] for row in chunky])
        written = (start + n - 1) % 2
        for y in range(1 - written, height, 2):
            if y & 1:
                chunky[y] = chunky[y - 1]
            elif y + 1 < height:
                chunky[y] = chunky[y + 1]
        write_rgb("%s.%d.double.rgb" % (path, n), width, height, [[palette[v] for v in row] for row in chunky])


def cdxl(path, kind):
    rnd = random.Random(kind)
    width, height = 24, 6
    planes = {"pal": 4, "ham6": 6, "ham8": 8, "resized": 4}[kind]
    ham = kind.startswith("ham")
    bits = 4 if planes <= 6 else 6
    ncolors = (1 << bits) if ham else 1 << planes
    sound = 40 if kind in ("pal", "resized") else 0
    graphics = planes * height * row_bytes(width)
    used = 32 + 2 * ncolors + graphics + sound
    frame_size = {"pal": 12000, "ham6": used + 6, "ham8": 30720, "resized": 12000}[kind]
    out = bytearray()
    for n in range(5):
        words = [rnd.randrange(4096) for _ in range(ncolors)]
        palette = [(((w >> 8) & 15) * 17, ((w >> 4) & 15) * 17, (w & 15) * 17) for w in words]
        chunky = [[rnd.randrange(1 << planes) for _ in range(width)] for _ in range(height)]
        snd = bytes(rnd.randrange(256) for _ in range(sound))
        size = frame_size + (2 if kind == "resized" and n == 1 else 0)
        frame = bytearray(struct.pack(">BBIIIHHBBHHII", 1, 1 if ham else 0, size, frame_size, n, width, height,
                                      0, planes, 2 * ncolors, sound, 0, 0))
        frame += b"".join(struct.pack(">H", w) for w in words)
        pl = to_planes(chunky, width, height, planes)
        for p in range(planes):
            frame += b"".join(pl[p])
        frame += snd
        frame += bytes(size - len(frame))
        out += frame
        if ham:
            rgb = ham_decode(chunky, palette, bits)
        else:
            rgb = [[palette[v] for v in row] for row in chunky]
        write_rgb("%s.%d.rgb" % (path, n), width, height, rgb)
        with open("%s.%d.snd" % (path, n), "wb") as f:
            f.write(snd)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    {"ilbm": ilbm, "anim": anim, "interlaced": interlaced, "cdxl": cdxl}[sys.argv[1]](sys.argv[2], sys.argv[3])
