#!/usr/bin/env python3
# Writes a 16-bit (NE) module with an old 8-bit version resource whose
# FileDescription is "Sixteen-bit fixture": no NE file ships with Wine, and the
# seed corpus and the tests need one. Usage: ne_seed.py OUTPUT
import struct
import sys


def node(key, value=b"", children=b""):
    head = key.encode() + b"\0"
    body = head + b"\0" * (-(4 + len(head)) % 4) + value
    body += b"\0" * (-(4 + len(body)) % 4) + children
    return struct.pack("<HH", 4 + len(body), len(value)) + body


fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x10000, 0, 0x10000, 0, 0x3F, 0, 4, 1, 0, 0, 0)
strings = node("040904E4", children=node("FileDescription", b"Sixteen-bit fixture\0"))
version = node("VS_VERSION_INFO", fixed,
               node("StringFileInfo", children=strings) +
               node("VarFileInfo", children=node("Translation", struct.pack("<HH", 0x0409, 0x04E4))))

SHIFT = 4
table = struct.pack("<H", SHIFT)
data_offset = 0x100
table += struct.pack("<HHI", 0x8010, 1, 0)
table += struct.pack("<HHHHHH", data_offset >> SHIFT, (len(version) + 15) >> SHIFT, 0x30, 0x8001, 0, 0)
table += struct.pack("<H", 0)
header = bytearray(64)
header[0:2] = b"NE"
struct.pack_into("<HH", header, 0x24, 0x40, 0x40 + len(table))  # resource table, resident names
dos = bytearray(64)
dos[0:2] = b"MZ"
struct.pack_into("<I", dos, 0x3C, 0x40)
image = bytes(dos) + bytes(header) + table + b"\0"
image += b"\0" * (data_offset - len(image)) + version
image += b"\0" * (-len(image) % 16)
open(sys.argv[1], "wb").write(image)
