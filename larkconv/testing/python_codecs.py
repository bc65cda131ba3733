#!/usr/bin/env python3
"""Prints what Python's codecs cp1252 and cp932 read and write, for
charset_test to compare with larkconv's own tables, one entry a line:

  d SET BYTES CHAR   the bytes (hex) read as the one character CHAR (hex),
                     or "-" when they are no single character
  e SET CHAR CODE    the character written as CODE (hex bytes), or "-"

Reads: every single byte of both sets, and every pair of a cp932 lead byte
(81-9F, E0-FC) and any byte but zero. Writes: every character up to U+FFFF
but the surrogates, and any above it that a set writes (none do).
"""

import sys

LEADS = list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))


def read(data, codec):
    try:
        text = data.decode(codec)
    except UnicodeDecodeError:
        return "-"
    return "%X" % ord(text) if len(text) == 1 else "-"


def write(char, codec):
    try:
        return chr(char).encode(codec).hex().upper()
    except UnicodeEncodeError:
        return "-"


out = []
for codec in ("cp1252", "cp932"):
    for byte in range(0x100):
        out.append("d %s %02X %s" % (codec, byte, read(bytes([byte]), codec)))
    for char in range(0x110000):
        if 0xD800 <= char < 0xE000:
            continue
        code = write(char, codec)
        if char <= 0xFFFF or code != "-":
            out.append("e %s %X %s" % (codec, char, code))
for lead in LEADS:
    for trail in range(1, 0x100):
        out.append("d cp932 %02X%02X %s" % (lead, trail, read(bytes([lead, trail]), "cp932")))
sys.stdout.write("\n".join(out) + "\n")
