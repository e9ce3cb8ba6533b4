#!/usr/bin/env python3
"""Writes an IFF FORM CTLG locale catalog: an FVER chunk, then a STRS chunk
of {id, length, text padded to 4 bytes}, all numbers big-endian.
Usage: make_catalog.py OUT ID=TEXT ... (TEXT taken as raw bytes)."""
import os
import struct
import sys


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack(">I", len(data)) + data + pad


def main():
    out = sys.argv[1]
    strs = b""
    for arg in sys.argv[2:]:
        ident, raw = os.fsencode(arg).split(b"=", 1)
        strs += struct.pack(">II", int(ident), len(raw)) + raw + b"\0" * (-len(raw) % 4)
    body = b"CTLG" + chunk(b"FVER", b"$VER: Vellamora.catalog 1.0\0") + chunk(b"STRS", strs)
    with open(out, "wb") as f:
        f.write(b"FORM" + struct.pack(">I", len(body)) + body)


if __name__ == "__main__":
    main()
