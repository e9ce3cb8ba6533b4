#!/usr/bin/env python3
"""Writes number_cases.txt: number-parsing and "%.14g" formatting cases for the
VM's string <-> number conversions, computed with Python's own float(),
int(x, 16) and '%' formatting so that the C++ side is checked against an
independent implementation. Run once; the output is checked in.

Parse rule modelled: "0x" + hex (text of 3+ chars) or "$" + hex is unsigned
32-bit hexadecimal (saturating at 4294967295), trailing white space allowed;
anything else is a decimal number, surrounding white space allowed.

Line formats (tab-separated):
  parse  <escaped input>  ok <IEEE bits as 16 hex digits> | fail
  format <IEEE bits as 16 hex digits>  <expected text>
"""
import math
import re
import struct
import sys

PARSE_INPUTS = [
    "0", "1", "-1", "+3", "12", " 12 ", "\t7\n", "00012", "12a", "1 2", "",
    " ", "0.1", ".5", "5.", "-.5e-3", "  -12.5e2 ", "1e15", "1e400", "-1e400",
    "1e-400", "1e", "1e+", "1,5", "1.5.2", "inf", "-inf", "infinity", "nan",
    "9007199254740992", "9007199254740993", "123456789012345678901234567890",
    "-0", "0x10", "0x", "0x ", "0xff ", "0x1G", "0x7fffffff", "0xFFFFFFFF",
    "0x100000000", "$", "$ff", "$FFFFFFFF", "$100000000", "$-1", "$10 ",
    "$0", "x10", "3.14159265358979", "2.5e-3", "0.000001",
]

FORMAT_VALUES = [
    0.1, 1e15, 2.0 ** 53, -0.0, 0.0, 100.0, 1e14, 123456789012345.0,
    3.14159265358979, 1.0 / 3.0, -1e-5, 1e-4, 1e-5, math.inf, -math.inf,
    math.nan, 4294967295.0, 0.5, 1e300, 5e-324, 2.0 ** 63, -123.456,
    99999999999999.0, 999999999999999.0, 1e-300, 65535.0,
]

HEX = re.compile(r"[0-9A-Fa-f]+[ \t\n\r\f\v]*\Z")


def parse(text):
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


def bits(d):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", d))[0]


def escape(text):
    out = []
    for ch in text:
        if ch == "\\" or not (0x21 <= ord(ch) <= 0x7E):
            out.append("\\x%02x" % ord(ch))
        else:
            out.append(ch)
    return "".join(out)


def main():
    lines = []
    for text in PARSE_INPUTS:
        value = parse(text)
        if value is None:
            lines.append("parse\t%s\tfail" % escape(text))
        else:
            lines.append("parse\t%s\tok %s" % (escape(text), bits(value)))
    for value in FORMAT_VALUES:
        lines.append("format\t%s\t%s" % (bits(value), "%.14g" % value))
    sys.stdout.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
