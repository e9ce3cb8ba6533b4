#!/usr/bin/env python3
"""Writes the stored items of a table: pairs of a key item and a value
item, ended by a 0 tag; numbers as 8-byte big-endian doubles (tag 2),
strings with a u32 big-endian length (tag 3), nested tables (tag 4, ended
by their own 0 tag), function items with a u32 length and the chunk bytes
(tag 5), userdata as the number 0.
Usage: make_table_items.py IN.json OUT, where IN.json holds a list of
[key, value] pairs and each key or value is ["n", float.hex text],
["s", hex bytes], ["t", pairs], ["f", hex chunk bytes] or ["u"]."""
import json
import struct
import sys


def item(v):
    kind = v[0]
    if kind == "n":
        return b"\x02" + struct.pack(">d", float.fromhex(v[1]))
    if kind == "u":
        return b"\x02" + struct.pack(">d", 0.0)
    if kind == "s":
        raw = bytes.fromhex(v[1])
        return b"\x03" + struct.pack(">I", len(raw)) + raw
    if kind == "t":
        return b"\x04" + items(v[1])
    if kind == "f":
        raw = bytes.fromhex(v[1])
        return b"\x05" + struct.pack(">I", len(raw)) + raw
    raise ValueError(kind)


def items(pairs):
    return b"".join(item(k) + item(v) for k, v in pairs) + b"\x00"


def main():
    with open(sys.argv[1]) as f:
        pairs = json.load(f)
    with open(sys.argv[2], "wb") as f:
        f.write(items(pairs))


if __name__ == "__main__":
    main()
