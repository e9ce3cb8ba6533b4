#!/usr/bin/env python3
"""Independent chunk writer for cross-checking the C++ assembler and loader.

Writes a handful of chunks, each little- and big-endian, straight from the
chunk layout, sharing no code with the C++ side:

    chunkcheck.py OUTDIR      writes OUTDIR/<name>.le.chunk and <name>.be.chunk

The programs below are the same as tests/tools/crosscheck/<name>.vlasm,
written out by hand (expanded instructions, explicit constants, explicit
maximum stack sizes), so a misreading shared by the assembler and the loader
shows up as a byte difference.
"""
import math
import os
import struct
import sys

OPS = {name: i for i, name in enumerate("""
COPY LOADK LOADNUM LOADNIL GETUPVAL GETGLOBAL GETFIELD SETGLOBAL SETUPVAL
SETFIELD NEWTABLE ADD SUB MUL DIV DIVINT MOD SHL SHR OR AND XOR POW NEG NOT
BNOT CONCAT JUMP EQ LT LE TEST CALL TAILCALL RETURN FORLOOP ITERLOOP ITERPREP
SETLIST SETLISTTOP CLOSE CLOSURE METHOD""".split())}
assert len(OPS) == 43
K = 250  # RK operands from here on name constants


def abc(op, a, b=0, c=0):
    return OPS[op] | (c << 6) | (b << 15) | (a << 24)


def abx(op, a, bx):
    return OPS[op] | (bx << 6) | (a << 24)


def asbx(op, a, sbx):
    return abx(op, a, sbx + 0x1FFFF)


def jump(offset, flags=0):
    return OPS["JUMP"] | ((offset + 0x7FFFFF) << 6) | (flags << 30)


def func(code, source=None, line_defined=0, nups=0, params=0, vararg=0,
         maxstack=2, lines=(), locals_=(), upnames=(), consts=(), nested=()):
    return dict(source=source, line_defined=line_defined, nups=nups,
                params=params, vararg=vararg, maxstack=maxstack,
                lines=list(lines), locals=list(locals_),
                upnames=list(upnames), consts=list(consts),
                nested=list(nested), code=list(code))


NIL = ("nil",)
ABSENT = None  # a string written with size 0


class Writer:
    def __init__(self, big):
        self.e = ">" if big else "<"
        self.out = bytearray()

    def byte(self, b):
        self.out.append(b)

    def int(self, v):
        self.out += struct.pack(self.e + "i", v)

    def word(self, v):
        self.out += struct.pack(self.e + "I", v)

    def num(self, d):
        self.out += struct.pack(self.e + "d", d)

    def string(self, s):
        if s is None:
            self.word(0)
            return
        data = s.encode("latin-1") if isinstance(s, str) else s
        self.word(len(data) + 1)
        self.out += data + b"\0"

    def header(self, big):
        self.out += b"\x1bVLB"
        self.byte(0 if big else 1)
        self.out += bytes([4, 4, 4, 6, 8, 9, 9, 8])
        self.num(31415926.535897933)

    def function(self, f):
        self.string(f["source"])
        self.int(f["line_defined"])
        for b in (f["nups"], f["params"], f["vararg"], f["maxstack"]):
            self.byte(b)
        self.int(len(f["lines"]))
        for line in f["lines"]:
            self.int(line)
        self.int(len(f["locals"]))
        for name, start, end in f["locals"]:
            self.string(name)
            self.int(start)
            self.int(end)
        self.int(len(f["upnames"]))
        for name in f["upnames"]:
            self.string(name)
        self.int(len(f["consts"]))
        for k in f["consts"]:
            if k == NIL:
                self.byte(0)
            elif isinstance(k, float):
                self.byte(3)
                self.num(k)
            else:
                self.byte(4)
                self.string(k)
        self.int(len(f["nested"]))
        for n in f["nested"]:
            self.function(n)
        self.int(len(f["code"]))
        for w in f["code"]:
            self.word(w)


def chunk(main, big):
    w = Writer(big)
    w.header(big)
    w.function(main)
    return bytes(w.out)


def hello():
    code = [abx("GETGLOBAL", 0, 0), abx("LOADK", 1, 1), abx("LOADK", 2, 2),
            abc("CALL", 0, 3, 2), abx("SETGLOBAL", 0, 3), abc("LOADNIL", 0, 1),
            abc("RETURN", 0, 1, 0)]
    return func(code, source="@hello.vl", maxstack=3,
                lines=[1, 1, 1, 1, 2, 2, 2],
                consts=["Print", "Hello", 42.0, "result"])


def nested():
    inner = func([abc("GETUPVAL", 0, 0), abc("RETURN", 0, 2, 0)],
                 source="@inner.vl", line_defined=5, nups=1, maxstack=2,
                 lines=[6, 6], upnames=[ABSENT])
    counter = func([abc("GETUPVAL", 1, 0), abc("GETUPVAL", 2, 1),
                    abc("ADD", 1, 1, 2), abc("SETUPVAL", 1, 0),
                    abx("CLOSURE", 2, 0), abc("GETUPVAL", 0, 0),
                    abc("RETURN", 1, 3, 0)],
                   line_defined=2, nups=2, params=1, maxstack=3,
                   lines=[3, 3, 3, 4, 4, 4, 4], locals_=[("n", 0, 7)],
                   upnames=["count", "step"], nested=[inner])
    code = [abx("LOADK", 0, 0), abx("LOADK", 1, 1), abx("CLOSURE", 2, 0),
            abc("COPY", 0, 0), abc("COPY", 0, 1), abx("SETGLOBAL", 2, 2),
            abc("CLOSE", 0), abc("RETURN", 0, 1, 0)]
    return func(code, source="@nested.vl", maxstack=3,
                lines=[1, 1, 8, 8, 8, 8, 8, 8],
                locals_=[("count", 1, 8), ("step", 2, 8)],
                consts=[0.0, 1.0, "counter"], nested=[counter])


def consts():
    ks = [NIL, 0.0, -0.0, 1.5, 1e300, -123456789.25, math.inf, "",
          b"with\0nul", b"\xff\x01 latin", ABSENT]
    # An absent string constant is type 4 with size 0, not nil.
    code = [abx("LOADK", 0, 9), abx("LOADK", 1, 3), abc("RETURN", 0, 1, 0)]
    f = func(code, source="=consts", maxstack=2, consts=ks)
    return f


def absent():
    f = func([abc("GETUPVAL", 0, 1), abc("RETURN", 0, 1, 0)],
             line_defined=1, nups=2, maxstack=2)
    g = func([abc("GETUPVAL", 0, 0), abc("SETUPVAL", 0, 1),
              abc("RETURN", 0, 1, 0)],
             line_defined=1, nups=2, maxstack=2, upnames=[ABSENT, "b"])
    code = [abc("LOADNIL", 0, 0), abx("CLOSURE", 1, 0), abc("COPY", 0, 0),
            abc("COPY", 0, 1), abx("CLOSURE", 1, 1), abc("COPY", 0, 0),
            abc("COPY", 0, 0), abc("RETURN", 0, 1, 0)]
    return func(code, maxstack=2, locals_=[(ABSENT, 0, 1)], nested=[f, g])


def allops():
    # Constants in order of first use.
    ks = ["s", "g", "f", "g2", 1.0, 3.0, "t", "m"]
    s, g, fk, g2, one, three, t, m = range(8)
    code = [
        abc("COPY", 1, 0), abx("LOADK", 2, s), abc("LOADNUM", 3, 7, 0),
        abc("LOADNIL", 4, 5), abx("GETGLOBAL", 6, g),
        abc("GETFIELD", 7, 6, K + fk), abx("SETGLOBAL", 7, g2),
        abc("SETFIELD", 6, K + fk, K + one), abc("NEWTABLE", 8, 3, 1),
        abc("ADD", 9, 3, K + one)]
    for op in "SUB MUL DIV DIVINT MOD SHL SHR OR AND XOR POW".split():
        code.append(abc(op, 9, 9, 3))
    code += [abc("NEG", 10, 9), abc("NOT", 10, 9), abc("BNOT", 10, 9),
             abc("CONCAT", 10, 2, 3)]
    code += [abc("EQ", 1, 9, K + one), jump(2),          # 25, 26 -> 29
             abc("LT", 0, 9, 3), jump(0),                # 27, 28 -> 29
             abc("LE", 1, 3, 9), jump(0),                # 29, 30
             abc("TEST", 9, 9, 0), jump(0),              # 31, 32
             abc("LOADNUM", 3, 1, 1), abc("LOADNUM", 3, 2, 0),
             abc("NEWTABLE", 12, 0, 0), abx("GETGLOBAL", 13, fk),
             abc("CALL", 13, 1, 0), abx("SETLISTTOP", 12, 0),
             abx("SETLIST", 12, 1), abx("LOADK", 15, one),
             abx("LOADK", 16, three), abx("LOADK", 17, one),
             abc("ADD", 18, 18, 15),                     # 43 body
             asbx("FORLOOP", 15, -2),                    # 44 -> 43
             abx("GETGLOBAL", 19, t),
             asbx("ITERPREP", 19, 1),                    # 46 -> 48
             abc("COPY", 23, 21),                        # 47 ibody
             abc("ITERLOOP", 19, 0, 2),                  # 48
             jump(-3),                                   # 49 -> 47
             abx("CLOSURE", 31, 0), abc("COPY", 0, 2),   # 50, 51
             jump(4, 2),                                 # 52 gosub -> 57
             abc("METHOD", 30, 6, K + m), abc("CLOSE", 0),
             abc("TAILCALL", 30, 2, 0), abc("RETURN", 30, 0, 0),
             abc("LOADNIL", 0, 0), abc("RETURN", 0, 0, 1)]  # 57, 58
    assert len(code) == 59
    lines = [10] * 57 + [20, 20]
    f = func([abc("GETUPVAL", 0, 0), abc("SETUPVAL", 0, 0),
              abc("RETURN", 0, 1, 0)],
             line_defined=10, nups=1, maxstack=2, upnames=["x"])
    return func(code, source="@allops.vl", maxstack=32, lines=lines,
                consts=ks, nested=[f])


def convenience():
    onkey = func([abc("GETFIELD", 1, 0, K + 0), abc("RETURN", 0, 1, 0)],
                 line_defined=1, params=1, maxstack=2, consts=["key"])
    ks = ["OnKey", "Width", 100.0, "Title", "Hi", "Handler", 0.0, 5.0,
          10.0, "x", "Nested", 1.0, "Display", 7.0, "brush", "w", "h"]
    code = [
        abx("CLOSURE", 0, 0), abx("SETGLOBAL", 0, 0),
        abc("NEWTABLE", 0, 3, 2),
        abc("SETFIELD", 0, K + 1, K + 2),
        abc("SETFIELD", 0, K + 3, K + 4),
        abx("CLOSURE", 1, 0), abc("SETFIELD", 0, K + 5, 1),
        abc("SETFIELD", 0, K + 6, K + 7),
        abx("LOADK", 1, 8), abx("LOADK", 2, 9),
        abc("NEWTABLE", 3, 0, 0), abc("SETFIELD", 3, K + 10, K + 11),
        abx("SETLIST", 0, 2),
        abx("GETGLOBAL", 1, 12), abx("LOADK", 2, 13), abx("LOADK", 3, 14),
        abc("COPY", 4, 0), abc("CALL", 1, 4, 3),
        abx("SETGLOBAL", 1, 15), abx("SETGLOBAL", 2, 16),
        abc("RETURN", 0, 1, 0)]
    return func(code, source="@conv.vl", maxstack=5, consts=ks,
                nested=[onkey])


PROGRAMS = [hello, nested, consts, absent, allops, convenience]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: chunkcheck.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for program in PROGRAMS:
        f = program()
        for big, tag in ((False, "le"), (True, "be")):
            path = os.path.join(out, "%s.%s.chunk" % (program.__name__, tag))
            with open(path, "wb") as fh:
                fh.write(chunk(f, big))


if __name__ == "__main__":
    main()
