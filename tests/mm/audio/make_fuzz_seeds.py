#!/usr/bin/python3
"""Writes the seed files of fuzz_wave into tests/fixtures/fuzz/fuzz_wave/."""
import os
import struct

OUT = os.path.join(os.path.dirname(__file__), "..", "..", "fixtures", "fuzz", "fuzz_wave")


def chunk(cid, body, size=None):
    data = cid + struct.pack("<I", len(body) if size is None else size) + body
    return data + (b"\0" if len(body) % 2 else b"")


def riff(chunks, size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body


def fmt(tag, ch, rate, bits, extra=b""):
    ba = ch * bits // 8 or 1
    body = struct.pack("<HHIIHH", tag, ch, rate, ba * rate, ba, bits)
    return body + (struct.pack("<H", len(extra)) + extra if tag != 1 else b"")


ramp = b"".join(struct.pack("<h", i) for i in range(64))
info = chunk(b"LIST", b"INFO" + chunk(b"INAM", b"Odd\0\0"[:3]) + chunk(b"ICMT", b"Comment\0"))
disp = chunk(b"DISP", struct.pack("<I", 1) + b"Shown\0")
seeds = {
    "plain": riff([chunk(b"fmt ", fmt(1, 2, 44100, 16)), chunk(b"data", ramp), info, disp]),
    "piped": riff([chunk(b"fmt ", fmt(1, 1, 8000, 16)), chunk(b"data", ramp, 0xFFFFFFFF)],
                  0xFFFFFFFF),
    "adpcm": riff([chunk(b"fmt ", fmt(2, 1, 22050, 4, b"\xf4\x01")),
                   chunk(b"fact", struct.pack("<I", 100)), chunk(b"data", ramp)]),
    "odd8": riff([chunk(b"fmt ", fmt(1, 1, 8000, 8)), chunk(b"data", b"\x01\x02\x03"), info]),
}
os.makedirs(OUT, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(OUT, name + ".wav"), "wb") as f:
        f.write(data)
