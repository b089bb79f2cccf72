#!/usr/bin/env python3
"""Writes the seed corpus of the WAV loader fuzzer into corpus/wav/.

Every file is made here from scratch: a few tiny valid files of the shapes
the loader accepts, and a few invalid ones that stop at each kind of check.
"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "wav")


def chunk(cid, body):
    pad = b"\0" if len(body) % 2 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def fmt(tag, channels, rate, bits, extra=b""):
    return struct.pack("<HHIIHH", tag, channels, rate, rate * channels * bits // 8,
                       channels * bits // 8, bits) + extra


def riff(chunks, form=b"WAVE"):
    return b"RIFF" + struct.pack("<I", len(chunks) + 4) + form + chunks


PCM_GUID_TAIL = bytes([0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                       0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])


def extensible(sub, channels, rate, bits):
    return fmt(0xFFFE, channels, rate, bits,
               struct.pack("<HHIH", 22, bits, 0, sub) + PCM_GUID_TAIL)


def main():
    ramp16 = b"".join(struct.pack("<h", v) for v in range(-4000, 4000, 500))
    files = {
        "mono16.wav": riff(chunk(b"fmt ", fmt(1, 1, 8000, 16)) + chunk(b"data", ramp16)),
        "stereo8.wav": riff(chunk(b"fmt ", fmt(1, 2, 11025, 8)) + chunk(b"data", bytes(range(0, 256, 16)))),
        "list_odd.wav": riff(chunk(b"LIST", b"INFOabc") + chunk(b"fmt ", fmt(1, 1, 22050, 16, b"\0\0"))
                             + chunk(b"fact", b"\x08\0\0\0") + chunk(b"data", ramp16[:15])),
        "extensible.wav": riff(chunk(b"fmt ", extensible(1, 2, 44100, 16)) + chunk(b"data", ramp16)),
        "float.wav": riff(chunk(b"fmt ", fmt(3, 1, 8000, 32)) + chunk(b"data", b"\0" * 8)),
        "bits24.wav": riff(chunk(b"fmt ", fmt(1, 1, 8000, 24)) + chunk(b"data", b"\0" * 9)),
        "truncated.wav": riff(chunk(b"fmt ", fmt(1, 1, 8000, 16)) + b"data" + struct.pack("<I", 1000) + ramp16[:6]),
        "not_wave.wav": riff(chunk(b"avih", b"\0" * 8), form=b"AVI "),
        "data_first.wav": riff(chunk(b"data", ramp16[:4]) + chunk(b"fmt ", fmt(1, 1, 8000, 16))),
    }
    os.makedirs(HERE, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
