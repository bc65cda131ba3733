#!/usr/bin/env python3
"""Writes the hand-made seed inputs of the fuzz targets into fuzz/corpus/.

Each target's directory also holds the inputs that long runs found to reach
new code, merged in with -merge=1 (named by their SHA-1), and any input that
once found a fault (named regression-*); this script leaves those alone.
Python 3, standard library only.
usage: fuzz/make_seeds.py
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def save(target, name, data):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def header(count, attributes=0, app_info=0, sort_info=0, name=b"Seed"):
    return (name.ljust(32, b"\0") + struct.pack(">HHIIIIII", attributes, 1, 0, 0, 0, 0,
                                                app_info, sort_info)
            + b"DATATest" + struct.pack(">IIh", 0, 0, count))


def record_pdb(records, gap=b"", app_info=0, sort_info=0, attributes=0):
    out = bytearray(header(len(records), attributes, app_info, sort_info))
    offset = 78 + 8 * len(records) + len(gap)
    for i, r in enumerate(records):
        out += struct.pack(">IB", offset, i & 0xFF) + struct.pack(">I", i * 7)[1:]
        offset += len(r)
    out += gap
    for r in records:
        out += r
    return bytes(out)


def resource_pdb(resources):
    out = bytearray(header(len(resources), attributes=1))
    offset = 78 + 10 * len(resources)
    for type_, id_, data in resources:
        out += type_.ljust(4, b"\0")[:4] + struct.pack(">hI", id_, offset)
        offset += len(data)
    for _, _, data in resources:
        out += data
    return bytes(out)


def pdb_seeds():
    with open(os.path.join(HERE, "..", "examples", "sample.pdb"), "rb") as f:
        save("pdb_read", "sample.pdb", f.read())
    save("pdb_read", "empty-file", b"")
    save("pdb_read", "short-header", header(0)[:40])
    save("pdb_read", "no-records", header(0))
    save("pdb_read", "records", record_pdb([b"abc", b"", b"\0\1\2\3\4"]))
    save("pdb_read", "info-blocks",
         record_pdb([b"rec"], gap=b"APPINFOSORT", app_info=86, sort_info=93))
    save("pdb_read", "info-without-records", header(0, app_info=78) + b"appinfo")
    save("pdb_read", "flags", record_pdb([b"x"], attributes=0x0140))
    save("pdb_read", "resources",
         resource_pdb([(b"code", 1, b"\x4e\x75"), (b"tAIN", -1, b"App"), (b"\0\xff", 0, b"")]))
    bad = bytearray(record_pdb([b"ab", b"cd"]))
    bad[86:90] = struct.pack(">I", 0xFFFFFFF0)
    save("pdb_read", "offset-past-end", bytes(bad))
    save("pdb_read", "negative-count", header(-1))


def info_seeds():
    with open(os.path.join(HERE, "..", "examples", "sample.pdb"), "rb") as f:
        sample = f.read()
    save("pdb_info", "sample", b"s8.i2.ibfcsz\n" + sample)
    save("pdb_info", "sample-wrong-format", b"s8.i2.ibfc(bw)\n" + sample)
    save("pdb_info", "records", b"w(b)\n" + record_pdb([b"abc", b"", b"\0\1\2\3\4"], gap=b"\0\0"))
    save("pdb_info", "info-blocks", b"sz\n"
         + record_pdb([b"rec\0", b"x"], gap=b"APPINFOSORT", app_info=94, sort_info=101))
    save("pdb_info", "resources",
         b"b\n" + resource_pdb([(b"code", 1, b"\x4e\x75"), (b"t A\xff", -1, b"App")]))
    bad = bytearray(record_pdb([b"ab", b"cd", b"ef"]))
    bad[86:90] = struct.pack(">I", 80)
    save("pdb_info", "descending", b"b\n" + bytes(bad))
    save("pdb_info", "short-header", header(0)[:40])
    save("pdb_info", "bad-format", b"b(q)\n" + record_pdb([b"ab"]))
    save("pdb_info", "changes", b"bs4f\n" + record_pdb(
        [b"", b"\1a\0x\0\x7f\xc0\0\1", b"\2a\r\nb\x3f\x80\0\0", b"\3", b"\4abcdef"]))
    save("pdb_info", "cp932", b"~szc\n" + record_pdb(
        [b"", b"\x82\xa0\0a", b"\xfa\x5c\0\x81", b"a\x81\0b", b"\xb1\0\xe9"]))


def csv_seeds():
    sample = ('"AX-100","12","40017","1","3.99000001","A","Hex bolt M6, zinc"\n'
              '"BK-22070","-3","40017","1","12.5","C","15"" monitor stand"\n')
    save("csv_rows", "sample", "s8.i2.ibfcsz\n" + sample)
    save("csv_rows", "group", "w(bsz)\n7,1,one,2,two\r\n8\n")
    save("csv_rows", "numbers", "i1i2i4f(f)\n-1,65536,2147483648,1e40,-0,nan,inf,1.5d3\n")
    save("csv_rows", "quotes", 's3cl2\n"a""b",""""",x"y\n"unterminated\n,,,\n')
    save("csv_rows", "bad-format", "3x\n1\n")
    save("csv_rows", "repeat", "2147483647b\n1,2,3\n")
    save("csv_rows", "multi-line", 'szc(f)\n"title\r\nbody, ""quoted""\n",x,1.#INF\n'
         '"a\n\n","\n",-1.#QNAN\r\nbare"q,"open\n\0cut\n\x1a,"\x1a"\n\x1a')
    save("csv_rows", "unterminated", 's(b)\n"one",1\n"two\nthree,3\n')


def record_seeds():
    save("record_rows", "sample", b"s8.i2.ibfcsz\nAX-100\0\0\0\x0c\0\0\x9c\x51\x01"
         b"\x40\x7f\x5c\x29AHex bolt M6, zinc\0")
    save("record_rows", "group", b"w(bsz)\n\0\7\1one\0\2two\0")
    save("record_rows", "floats", b"(f)\n\x7f\x80\0\0\xff\xc0\0\1\0\0\0\1\x80\0\0\0")
    save("record_rows", "ints", b"bi1i2i4w\n\xff\x80\x80\0\x80\0\0\0\xff\xff")
    save("record_rows", "short-record", b"s10i\nabc")
    save("record_rows", "empty-record", b"sz\n")


def reply(d0, slots):
    body = struct.pack(">BBHIIH", 0x8A, 0, 0xA046, d0, 0, len(slots))
    for flag, data in slots:
        body += bytes([flag, len(data)]) + data
    return body


def params(kinds):
    # The fuzz target's parameter bytes: kind in bits 0-1 ('w', 'd', 's',
    # unknown), by reference in bit 2, no variable in bit 3.
    codes = {"w": 0, "d": 1, "s": 2, "x": 3, "W": 4, "D": 5, "N": 12}
    return bytes([len(kinds)] + [codes[k] for k in kinds])


def reply_seeds():
    save("reply_decode", "lookup", params("ws")
         + reply(0x00C0FFEE, [(1, b"QuorvaneRT\0\0"), (0, b"\0\0")]))
    info = [(1, b"\0\0\0\0")] * 8 + [(1, b"\2\3"), (1, b"\0\x08"), (1, b"QuorvaneRT\0\0"),
                                      (0, b"\0\xc0\xff\xee"), (0, b"\0\0")]
    save("reply_decode", "database-info", params("wdsWWDDDDDDDD") + reply(0, info))
    save("reply_decode", "no-parameters", params("") + reply(0, []))
    save("reply_decode", "launcher", params("www")
         + reply(0, [(0, b"\0\x08"), (0, b"\1\x08"), (0, b"\1\x08")]))
    save("reply_decode", "lying-sizes", params("WDN")
         + reply(1, [(1, b"\0\0"), (1, b"\1\2\3\4\5\6")])[:-3])
    save("reply_decode", "short-body", params("W") + b"\x8a\0\xa0\x8c\0\0")


def charset_seeds():
    # The first byte: the set in bit 0 (cp1252, cp932), the encoder's room
    # as a share of the text in the others (0xFE: all of it).
    save("charset", "cp1252-bytes", b"\xfe" + bytes(range(1, 256)))
    save("charset", "cp1252-utf8", b"\x80" + "Caf\u00e9 \u20ac \u0081 \"q\"".encode("utf-8"))
    save("charset", "cp932-bytes", b"\xff" + "\uff71\u3042\u2460\u6f22 a".encode("cp932")
         + b"\xfa\x40\x87\x90\xa0\xfd\x80")
    save("charset", "cp932-utf8-cut", b"\x41" + "a\u3042\uff71\u3044\u00e9".encode("utf-8"))
    save("charset", "cp932-lone-lead", b"\x01ab\x82")
    save("charset", "not-utf8", b"\xfe\xc0\x80\xed\xa0\x80\xf4\x90\x80\x80\xe3\x81")


if __name__ == "__main__":
    pdb_seeds()
    info_seeds()
    csv_seeds()
    record_seeds()
    reply_seeds()
    charset_seeds()
