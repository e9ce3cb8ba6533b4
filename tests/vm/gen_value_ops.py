#!/usr/bin/env python3
"""Writes value_ops_cases.txt: results of the VM's arithmetic, bit, equality
and ordering instructions on numbers, nil and strings, computed by this
small evaluator written independently from the rules of the value
operations. Run once; the output is checked in.

Line format (tab-separated): OP  A  B  RESULT, where an operand is "nil",
"n:<IEEE bits, 16 hex digits>" or "s:<text>", and RESULT is "n:<bits>" or
"err:<code>". Comparisons give the numbers 1 and 0.
"""
import math
import random
import re
import struct
import sys

ERR_WRONGOP, ERR_ZERODIVISION, ERR_NUMSTRCMP = 1030, 1089, 1130


class VmError(Exception):
    def __init__(self, code):
        super().__init__(code)
        self.code = code


HEX = re.compile(r"[0-9A-Fa-f]+[ \t\n\r\f\v]*\Z")


def parse_number(text):
    if len(text) >= 3 and text.startswith("0x"):
        body = text[2:]
    elif text.startswith("$"):
        body = text[1:]
    else:
        try:
            return float(text)
        except ValueError:
            return None
    if not HEX.match(body):
        return None
    return float(min(int(body.strip(), 16), 0xFFFFFFFF))


def to_number(v):
    if v is None:
        return 0.0
    if isinstance(v, float):
        return v
    return parse_number(v)


def trunc32(d):
    if not (-2147483649.0 < d < 2147483648.0):
        return -2 ** 31
    return int(d)


def trunc64(d):
    if not (-2.0 ** 63 <= d < 2.0 ** 63):
        return -2 ** 63
    return int(d)


def pattern(d):
    if d >= 0 or math.isnan(d):
        return trunc64(d) & 0xFFFFFFFF
    return trunc32(d) & 0xFFFFFFFF


def c_div(x, y):
    q = abs(x) // abs(y)
    return q if (x < 0) == (y < 0) else -q


def c_pow(a, b):
    try:
        return math.pow(a, b)
    except OverflowError:
        return math.inf if a > 0 or float(b).is_integer() and int(b) % 2 == 0 else -math.inf
    except ValueError:
        return math.nan


def arith(op, a, b):
    x, y = to_number(a), to_number(b)
    if x is None or y is None:
        raise VmError(ERR_WRONGOP)  # no metamethods on these operands
    if op == "add":
        return x + y
    if op == "sub":
        return x - y
    if op == "mul":
        return x * y
    if op == "div":
        if y == 0:
            raise VmError(ERR_ZERODIVISION)
        return x / y
    if op in ("divint", "mod"):
        p, q = trunc32(x), trunc32(y)
        if q == 0:
            raise VmError(ERR_ZERODIVISION)
        if p == -2 ** 31 and q == -1:
            return 2147483648.0 if op == "divint" else 0.0
        quo = c_div(p, q)
        return float(quo if op == "divint" else p - quo * q)
    if op == "shl":
        return float((pattern(x) << (trunc32(y) & 31)) & 0xFFFFFFFF)
    if op == "shr":
        return float(pattern(x) >> (trunc32(y) & 31))
    if op == "or":
        return float(pattern(x) | pattern(y))
    if op == "and":
        return float(pattern(x) & pattern(y))
    if op == "xor":
        return float(pattern(x) ^ pattern(y))
    if op == "pow":
        return c_pow(x, y)
    if op == "neg":
        return -x
    if op == "bnot":
        return float(~pattern(x) & 0xFFFFFFFF)
    raise AssertionError(op)


def mismatch(a, b):
    kinds = {type(a), type(b)}
    raise VmError(ERR_NUMSTRCMP if kinds == {float, str} else ERR_WRONGOP)


def equal(a, b):
    if a is None or b is None:
        o = b if a is None else a
        if o is None:
            return True
        if isinstance(o, float):
            return o == 0
        return o == ""
    if type(a) is not type(b):
        mismatch(a, b)
    return a == b


def less(a, b):
    if a is None and isinstance(b, float):
        return 0 < b
    if b is None and isinstance(a, float):
        return a < 0
    if a is None or b is None:
        return False  # nil against nil or a string
    if type(a) is not type(b):
        mismatch(a, b)
    return a < b


def less_equal(a, b):
    if a is None:
        if b is None:
            return True
        return 0 <= b if isinstance(b, float) else False
    if b is None:
        return a <= 0 if isinstance(a, float) else False
    if type(a) is not type(b):
        mismatch(a, b)
    return a <= b


def evaluate(op, a, b):
    if op == "eq":
        return 1.0 if equal(a, b) else 0.0
    if op == "lt":
        return 1.0 if less(a, b) else 0.0
    if op == "le":
        return 1.0 if less_equal(a, b) else 0.0
    return arith(op, a, b)


def bits(d):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", d))[0]


def operand(v):
    if v is None:
        return "nil"
    if isinstance(v, float):
        return "n:" + bits(v)
    return "s:" + v


BINARY = ["add", "sub", "mul", "div", "divint", "mod", "shl", "shr", "or", "and",
          "xor", "pow", "eq", "lt", "le"]
UNARY = ["neg", "bnot"]

FIXED = [
    ("add", None, 1.0), ("mul", "3", "4"), ("divint", 7.0, 2.0), ("divint", -7.0, 2.0),
    ("mod", -7.0, 2.0), ("divint", 5.0, 0.5), ("mod", 5.0, 0.5), ("divint", -2147483648.0, -1.0),
    ("mod", -2147483648.0, -1.0), ("shr", -1.0, 28.0), ("shl", 1.0, 33.0), ("shl", 1.0, 32.0),
    ("shr", 4294967295.0, 32.0), ("bnot", 0.0, None), ("eq", None, 0.0), ("eq", None, ""),
    ("eq", 0.0, ""), ("lt", None, 1.0), ("le", None, None), ("lt", None, None), ("lt", "a", "B"),
    ("div", 1.0, 0.0), ("div", 0.0, -0.0), ("and", -1.0, 4294967295.0), ("or", math.nan, 1.0),
    ("xor", 3e9, -3e9), ("shl", 1.0, -1.0), ("mod", 7.0, -3.0), ("pow", 2.0, 10.0),
    ("pow", -8.0, 1.0 / 3.0), ("add", "abc", 1.0), ("lt", 1.0, "2"), ("le", "2", 1.0),
    ("eq", math.nan, math.nan), ("lt", math.nan, 1.0), ("le", -math.inf, math.inf),
    ("neg", "0x10", None), ("neg", None, None), ("bnot", -1.0, None), ("bnot", 4294967296.0, None),
    ("divint", math.inf, 2.0), ("mod", math.nan, 3.0), ("sub", math.inf, math.inf),
    ("eq", "abc", "abc"), ("le", "abc", "abd"), ("lt", "", None), ("le", "x", None),
    ("eq", None, "0"), ("mul", "$FF", 2.0), ("add", " 12 ", None),
]

POOL = [None, 0.0, -0.0, 1.0, -1.0, 7.0, -7.0, 2.0, 0.5, 2.5, -2.5, 3e9, -3e9,
        4294967295.0, 2147483648.0, -2147483648.0, math.nan, math.inf, -math.inf,
        1e300, "3", "0x10", "abc", "", "-2.5"]


def main():
    rng = random.Random(20240601)
    cases = list(FIXED)
    while len(cases) < 210:
        op = rng.choice(BINARY + UNARY)
        a = rng.choice(POOL)
        b = None if op in UNARY else rng.choice(POOL)
        cases.append((op, a, b))
    out = []
    for op, a, b in cases:
        try:
            result = "n:" + bits(evaluate(op, a, b))
        except VmError as e:
            result = "err:%d" % e.code
        out.append("\t".join([op, operand(a), operand(b), result]))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
