#!/usr/bin/env python3
"""Writes examples/sample.pdb: a small inventory record database.

Each record holds, in this order (format string "s8.i2.ibfcsz"):
  s8  item code, fixed 8 bytes, zero-padded
  i2  quantity on hand, 16-bit signed
  i   supplier number, 32-bit signed
  b   flags, one byte (1 = active)
  f   unit price, single-precision float
  c   storage bin, one character
  sz  description, zero-terminated
All numbers are big-endian, as in every PDB file.
"""
import os
import struct

NAME = b"Inventory"
TYPE = b"DATA"
CREATOR = b"Lark"
DATE = 3792096000  # 2024-03-01 00:00:00 UTC, in seconds since 1904-01-01

ITEMS = [
    (b"AX-100", 12, 40017, 1, 3.99, b"A", b"Hex bolt M6, zinc"),
    (b"BK-22070", -3, 40017, 1, 12.5, b"C", b'15" monitor stand'),
    (b"CZ-31", 0, 51200, 0, 0.1, b"B", b""),
    (b"DL-9000", 1500, 60001, 1, 149.95, b"A", b"Desk lamp"),
]


def record(code, quantity, supplier, flags, price, bin_, text):
    return (code.ljust(8, b"\0") + struct.pack(">hiBf", quantity, supplier, flags, price)
            + bin_ + text + b"\0")


def database():
    records = [record(*item) for item in ITEMS]
    header = struct.pack(">32sHHIIIIII4s4sIIH", NAME, 0, 0, DATE, DATE, 0, 0, 0, 0,
                         TYPE, CREATOR, 0, 0, len(records))
    offset = len(header) + 8 * len(records)
    entries = b""
    for data in records:
        entries += struct.pack(">IB3s", offset, 0, b"\0\0\0")
        offset += len(data)
    return header + entries + b"".join(records)


if __name__ == "__main__":
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.pdb")
    with open(path, "wb") as out:
        out.write(database())
