#!/usr/bin/env python3
"""Packs TrueType files into the container forms the font scanner reads.

    make_font_containers.py ttc OUT FACE.ttf FACE.ttf ...   (a 'ttcf' collection)
    make_font_containers.py dfont OUT FACE.ttf ...          (256 bytes, then length-prefixed faces)"""
import struct
import sys


def tables(data):
    count = struct.unpack(">H", data[4:6])[0]
    out = []
    for i in range(count):
        tag, checksum, offset, length = struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i])
        out.append((tag, checksum, data[offset:offset + length]))
    return data[:4], out


def ttc(out, faces):
    parsed = [tables(open(f, "rb").read()) for f in faces]
    header_size = 12 + 4 * len(parsed)
    dirs_size = sum(12 + 16 * len(t) for _, t in parsed)
    body = bytearray()
    dirs = bytearray()
    offsets = []
    base = header_size + dirs_size
    for version, tbls in parsed:
        offsets.append(header_size + len(dirs))
        n = len(tbls)
        entry = 1 << (n.bit_length() - 1)
        dirs += version + struct.pack(">HHHH", n, entry * 16, (n.bit_length() - 1), n * 16 - entry * 16)
        for tag, checksum, blob in tbls:
            while len(body) % 4:
                body.append(0)
            dirs += struct.pack(">4sIII", tag, checksum, base + len(body), len(blob))
            body += blob
    head = b"ttcf" + struct.pack(">II", 0x00010000, len(parsed)) + b"".join(struct.pack(">I", o) for o in offsets)
    open(out, "wb").write(head + bytes(dirs) + bytes(body))


def dfont(out, faces):
    blob = bytearray(256)
    for f in faces:
        data = open(f, "rb").read()
        blob += struct.pack(">I", len(data)) + data
    open(out, "wb").write(bytes(blob))


if __name__ == "__main__":
    {"ttc": ttc, "dfont": dfont}[sys.argv[1]](sys.argv[2], sys.argv[3:])
