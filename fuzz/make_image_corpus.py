#!/usr/bin/env python3
"""Writes the seed corpus of the image loader fuzzer into corpus/image/.

Tiny files of the five formats the loader takes (PNG, BMP, TGA, GIF made
here from scratch; the JPEG is a 2 x 2 baseline image written once with
libjpeg and kept as bytes), damaged ones, and files of formats it refuses.
"""
import os
import struct
import zlib

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "image")

# 2 x 2 pixels, red, green / blue, transparent.
PIXELS = [[(255, 0, 0, 255), (0, 255, 0, 255)], [(0, 0, 255, 255), (0, 0, 0, 0)]]

JPEG = bytes.fromhex(
    "ffd8ffe000104a46494600010100000100010000ffdb004300100b0c0e0c0a100e0d0e121110"
    "1318281a181616183123251d283a333d3c3933383740485c4e404457453738506d51575f6267"
    "68673e4d71797064785c656763ffdb0043011112121815182f1a1a2f63423842636363636363"
    "6363636363636363636363636363636363636363636363636363636363636363636363636363"
    "636363636363ffc00011080002000203012200021101031101ffc40015000101000000000000"
    "00000000000000000006ffc4001a1001000105000000000000000000000000000102033372b1"
    "ffc4001501010100000000000000000000000000000306ffc400191100010500000000000000"
    "000000000000000102033371ffda000c03010002110311003f0090bd9abda7a02de0a9b880cd"
    "63b54fffd9"
)


def png(pixels, colour_type=6):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    h, w = len(pixels), len(pixels[0])
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def bmp(pixels):
    h, w = len(pixels), len(pixels[0])
    stride = (w * 3 + 3) & ~3
    rows = b""
    for row in reversed(pixels):
        line = b"".join(bytes((p[2], p[1], p[0])) for p in row)
        rows += line + b"\0" * (stride - len(line))
    header = struct.pack("<IHHI", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    return b"BM" + header + info + rows


def tga(pixels, rle=False):
    h, w = len(pixels), len(pixels[0])
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10 if rle else 2, 0, 0, 0, 0, 0, w, h, 32, 0x28)
    texels = [bytes((p[2], p[1], p[0], p[3])) for row in pixels for p in row]
    if rle:  # one raw packet per texel
        return header + b"".join(b"\0" + t for t in texels)
    return header + b"".join(texels)


def gif(pixels):
    h, w = len(pixels), len(pixels[0])
    colours = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (0, 0, 0)]
    table = b"".join(bytes(c) for c in colours)
    out = b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF1, 0, 0) + table
    out += b"\x21\xf9\x04\x01\0\0\x03\0"  # index 3 is transparent
    out += b"," + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\x02"
    # Codes of 3 bits: clear (4), two pixels, clear, two pixels, end (5); a
    # clear before the table reaches 8 entries keeps the codes 3 bits wide.
    codes = [4, 0, 1, 4, 2, 3, 5]
    bits, n, data = 0, 0, b""
    for c in codes:
        bits |= c << n
        n += 3
        while n >= 8:
            data += bytes((bits & 0xFF,))
            bits >>= 8
            n -= 8
    if n:
        data += bytes((bits & 0xFF,))
    return out + bytes((len(data),)) + data + b"\0;"


def main():
    os.makedirs(HERE, exist_ok=True)
    files = {
        "rgba.png": png(PIXELS),
        "grey.png": png([[(128,), (255,)], [(0,), (64,)]], colour_type=0),
        "truncated.png": png(PIXELS)[:45],
        "rgb.bmp": bmp(PIXELS),
        "rgba.tga": tga(PIXELS),
        "rle.tga": tga(PIXELS, rle=True),
        "small.gif": gif(PIXELS),
        "small.jpg": JPEG,
        "truncated.jpg": JPEG[:120],
        "huge.png": png(PIXELS)[:16] + struct.pack(">II", 100000, 2) + png(PIXELS)[24:],
        # Once found by the fuzzer, each stopping SDL_image's decoders: an
        # image of height 0 after bytes that start no block (a crash); an
        # extension that runs past the end, an empty first block of a graphic
        # control extension, a code size of 66 bits (they never returned); a
        # bitmap header too short to tell the size (a huge surface).
        "zero_height.gif": b"GIF89a\x02\x00\x02\x00\x00\x00\x00" + bytes(5)
        + b",\x00\x00\x00\x00\x02\x00\x00\x00\x00\x02\x44\x01\x00;",
        "endless_extension.gif": bytes.fromhex(
            "47494638396102000200f10000ff00000200f10000ff000000ff000000ff0000"
            "0021f904010000030200000203 44a815003b".replace(" ", "")),
        "empty_control_block.gif": bytes.fromhex(
            "47494638396102000200f10000ff000000ff000000ff00000021f90004000103"
            "002c000000000200020000020344a815003b"),
        "wide_code_size.gif": bytes.fromhex(
            "47494638396102000200f100396102000200f10000ff000000ff000000ff0000"
            "0021f90401000003002c000000013000000200424d0200f100396102000200f1"
            "0000ff000000ff000000ff00000021f90401000003002c00000001300000ff00"
            "0000ff000000ff00000021f90100000000000010000001300000000000070002"
            "00000021f902d3d3d3d3d3d3d3d3d30000020344ff000000ff000000ff000000"
            "21f90401000003002c0000000130000000000007000200020000020344a81500"
            "3b"),
        "short_header.bmp": bytes.fromhex(
            "424d4619ae000000"),
        "not_pcx.pcx": b"\x0a\x05\x01\x08" + bytes(124),
        "not_xpm.xpm": b"/* XPM */\nstatic char *x[] = {\"1 1 1 1\", \"a c #000000\", \"a\"};\n",
    }
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
