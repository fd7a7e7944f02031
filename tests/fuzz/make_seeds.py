#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (run from this folder)."""
import os
import struct

def write(target, name, data):
    folder = os.path.join("corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)

# readers.ini
ini = {
    "worked-example": b"[General]\n#First = Outside Reader\n[readers]\n   ; list of readers\n\n#First=\n#firstly = no\n\t#FIRST   =   Example Reader 0   \n#First = Second Reader\n",
    "bom-crlf": b"\xef\xbb\xbf[Readers]\r\n#First = Virtual PCD 00 00\r\n",
    "two-sections": b"[Readers]\n; none here\n[Other]\n#First = no\n[READERS] trailing\n#first\t=\tTabbed  Value\t\n",
    "closing-headers": b"[Readers ]\n#First = a\n  [Readers]\n#First = b\n[Reader]\n#First = c\n",
    "long-line": b"[Readers]\n#First = " + b"x" * 1100 + b"\n#First = " + b"y" * 1500 + b"\n",
    "nul-and-controls": b"[Readers]\n\x00#First = hidden\n\x01#First = control\n#First = \x00cut\n#First = kept\x7f\n",
}
for name, data in ini.items():
    write("ReaderConfigFuzz", name, data)

# argument vectors, NUL-separated
args = {
    "all-options": [b"-silent", b"-szi", b"RU.07.3815.00001", b"-a", b"Reader", b"-trace", b"data"],
    "szi-last": [b"-silent", b"-szi"],
    "szi-lower": [b"-szi", b"ru.07.3815.00002"],
    "szi-bad": [b"-szi", b"RU.07.3815.00003 "],
    "a-last": [b"-a"],
    "a-swallows": [b"-a", b"-silent", b"-a", b""],
    "trace-values": [b"-trace", b"headersonly", b"-trace", b"-silent", b"-trace", b"dat", b"-trace"],
    "unknown": [b"-Silent"],
    "long-invalid-utf8": [b"-trace", b"data", b"\xff\xfe\xd0" * 2000],
    "long-ascii": [b"x" * 100000],
}
for name, parts in args.items():
    write("OptionsFuzz", name, b"\0".join(parts))

# FormatString / LogPrintf: choice byte, then NUL-separated arguments
fmt = {
    "empty": b"\x00",
    "short": b"\x01abc",
    "exact-1020": b"\x00" + b"a" * 1020,
    "cut-1021": b"\x00" + b"a" * 1021,
    "cut-in-character": b"\x00" + b"a" * 1019 + "Ж".encode() * 3,
    "exact-1023": b"\x00" + b"b" * 1023,
    "second-attempt": b"\x02" + b"c" * 3000,
    "exact-4095": b"\x00" + b"d" * 4095,
    "beyond-4095": b"\xfc" + b"e" * 5000,
    "three-invalid": b"\x03" + b"\xff\xc0" * 700 + b"\0" + b"\x80" * 3 + b"\0" + b"tail",
}
for name, data in fmt.items():
    write("FormatFuzz", name, data)

# card road: the genuine dialogues (as in tests/support/GenuineModule.cpp)
def h(text):
    return bytes.fromhex(text.replace(" ", ""))

product = "81 08 536F6C7661726961 82 05 54616D696B"
identify = {
    0: "80 08 5354323352313630 " + product + " 83 02 0130 9000",
    1: "80 07 53543233 4C3830 " + product + " 83 02 0130 9000",
    2: "80 08 5354333148333230 " + product + " 83 02 0201 9000",
}
final = {
    0: "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABB 5FB9B307 9000",
    1: "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7B8B9BABB 3E94898A 9000",
}
filler48 = "00" * 24 + "0102030405060708090A0B0C0D0E0F101112131415161718"

def control(module, key):
    if key:
        return "C0C1C2C3 ABFDCF00 " + filler48 + " 9000" if module == 2 else "9F88EFA3 9000"
    return "F68C779C " + filler48 + " 9000" if module == 2 else "682F61B4 9000"

def answer(data):
    return struct.pack("<H", len(data)) + data

def road(module, key, szi=0, silent=False, trace=0, split=False, serial="001A2B3C4D5E6F 9000"):
    flags = (1 if key else 0) | (szi << 1) | (8 if silent else 0) | (trace << 4) | (module << 6)
    out = bytes([flags, 0])
    for text in [serial, identify[module], "0000000000000000 9000", control(module, key)] + (
            [final[module]] if module != 2 else []):
        data = h(text)
        if split:
            out += answer(bytes([0x61, len(data) - 2]))
        out += answer(data)
    return out

names = {0: "st23r160", 1: "st23l80", 2: "st31h320"}
for module in range(3):
    for key in (False, True):
        kind = "keycheck" if key else "check"
        write("CardRoadFuzz", f"{names[module]}-{kind}", road(module, key))
    write("CardRoadFuzz", f"{names[module]}-szi-silent", road(module, False, szi=module + 1, silent=True))
    write("CardRoadFuzz", f"{names[module]}-getresponse-data", road(module, True, trace=2, split=True))
write("CardRoadFuzz", "st23l80-wrong-szi", road(1, False, szi=1))
write("CardRoadFuzz", "st23r160-trace-headers-t0", road(0, True, trace=1)[:1] + b"\x01" + road(0, True, trace=1)[2:])
write("CardRoadFuzz", "short-serial", road(2, False, serial="0102 9000"))
bad = bytearray(road(0, False))
bad[-4] ^= 1  # one byte of the final-check word
write("CardRoadFuzz", "st23r160-final-word-differs", bytes(bad))
write("CardRoadFuzz", "serial-status-word", bytes([0, 0]) + answer(h("6A82")))
write("CardRoadFuzz", "transmit-fails", bytes([1, 0]) + answer(h("001A2B3C4D5E6F 9000")) + struct.pack("<H", 0x8001))
