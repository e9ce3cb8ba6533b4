#!/usr/bin/env python3
"""Writes a small compiled-script container with the standard library only,
independently of the C++ writer, so the reader is checked against a second
reading of the byte layout. Usage: vla_writer.py OUT"""
import struct
import sys


def text(s):
    return s.encode("latin-1") + b"\0"


def short(s):
    b = s.encode("latin-1")
    return struct.pack(">h", len(b)) + b


def main():
    out = sys.argv[1]
    code = b"main chunk bytes"
    warning = b"from python"
    body = b"VLA\0"
    body += bytes([10, 6, 0])
    body += b"\x0b" + text("Python applet")
    body += b"\x09" + struct.pack(">I", 1) + struct.pack(">I", 3) + text("start")
    body += b"\x1a" + struct.pack(">II", 1, 0) + text("data.txt")
    body += struct.pack(">I", len(b"linked bytes")) + b"linked bytes"
    decl_size = 1 + 4 + 1 + 8 * 4 + 2 + 2
    name_at = len(body) + decl_size + 1 + 4 + len(code)
    body += b"\x02" + struct.pack(">I", 1)
    body += bytes([14]) + struct.pack(">IIIIIIII", 0, name_at, len(warning), 0, 0, 0, 0, 42)
    body += short("") + short("")
    body += b"\x01" + struct.pack(">I", len(code)) + code
    assert len(body) == name_at
    body += warning
    with open(out, "wb") as f:
        f.write(body)


main()
