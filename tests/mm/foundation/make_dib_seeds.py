#!/usr/bin/python3
"""Writes the seed files of fuzz_dib into tests/fixtures/fuzz/fuzz_dib/."""
import os
import struct

OUT = os.path.join(os.path.dirname(__file__), "..", "..", "fixtures", "fuzz", "fuzz_dib")


def bmp(width, height, bits, compression, colors, pixels):
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels), 0,
                         0, len(colors) // 4, 0)
    offset = 14 + len(header) + len(colors)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + header + colors + pixels


table = bytes([0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0])
seeds = {
    "rle8.bmp": bmp(4, 2, 8, 1, table, bytes([2, 1, 0, 0, 0, 3, 0, 1, 2, 0, 0, 2, 1, 0, 0, 1])),
    "rle4.bmp": bmp(4, -1, 4, 2, table, bytes([4, 0x12, 0, 1])),
    "rgb24.bmp": bmp(2, 2, 24, 0, b"", bytes(range(16))),
    "bits16.bmp": bmp(1, 1, 16, 3, struct.pack("<III", 0xF800, 0x07E0, 0x1F), b"\xe0\x07\0\0"),
    "core1.bmp": b"BM" + struct.pack("<IHHI", 40, 0, 0, 32) + struct.pack("<IHHHH", 12, 8, 1, 1, 1)
                 + bytes([0, 0, 0, 255, 255, 255]) + b"\xaa\0\0\0",
    "palette.pal": b"RIFF" + struct.pack("<I", 4 + 8 + 12) + b"PAL data" + struct.pack("<I", 12)
                   + struct.pack("<HH", 0x300, 2) + bytes([1, 2, 3, 0, 4, 5, 6, 0]),
}
# Run-length headers that claim far more pixels than their few codes can reach: the decoder must
# refuse them before the work (84 bytes claiming 4 x 3,276,880 pixels).
hostile_codes = (bytes([4, 1, 0, 0]) + bytes([0, 2, 0, 255]) * 5)[:22]
seeds["rle8-huge-claim.bmp"] = bmp(4, 3276880, 8, 1, table[:8], hostile_codes)
seeds["rle4-huge-claim.bmp"] = bmp(16384, -800, 4, 2, table[:8], hostile_codes)
os.makedirs(OUT, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
