#!/usr/bin/env python3
"""Synthesises Arcovelo's resources into app/resources: the five WAVE sounds
ENC_001..ENC_005 (mono 16-bit PCM with a "fact" chunk; ENC_005 also with a
LIST/INFO chunk), the 259 x 47 24-bit banner, the 19 x 19 16-colour folder
glyph and the 32 x 32 application icon. Everything is drawn here; run it
again to regenerate the files."""
import math
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "app", "resources")

# name, sample rate, data bytes (two per sample), tone in Hz, decay
SOUNDS = [
    ("ENC_001", 22050, 4862, 1400.0, 40.0),
    ("ENC_002", 22050, 4270, 900.0, 45.0),
    ("ENC_003", 22050, 14776, 520.0, 9.0),
    ("ENC_004", 22050, 174, 2600.0, 200.0),
    ("ENC_005", 44100, 46792, 660.0, 6.0),
]


def chunk(tag, payload):
    pad = b"\0" if len(payload) % 2 else b""
    return tag + struct.pack("<I", len(payload)) + payload + pad


def wave(rate, data_bytes, tone, decay, with_info):
    samples = data_bytes // 2
    pcm = bytearray()
    for i in range(samples):
        t = i / rate
        value = math.sin(2 * math.pi * tone * t) * math.exp(-decay * t)
        value *= min(1.0, i / 32.0)  # no click at the start
        pcm += struct.pack("<h", int(value * 12000))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + chunk(b"fmt ", fmt) + chunk(b"fact", struct.pack("<I", samples))
    if with_info:
        info = b"INFO" + chunk(b"INAM", b"Arcovelo\0") + chunk(b"ISFT", b"make_resources.py\0")
        body += chunk(b"LIST", info)
    body += chunk(b"data", bytes(pcm))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def bmp(width, height, bits, pixels, palette=None):
    """pixels[y][x]: (r, g, b) for 24 bits, a palette index for 4 bits."""
    row_bytes = ((width * bits + 31) // 32) * 4
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        if bits == 24:
            for r, g, b in pixels[y]:
                row += bytes((b, g, r))
        else:
            for x in range(0, width, 2):
                hi = pixels[y][x]
                lo = pixels[y][x + 1] if x + 1 < width else 0
                row.append(hi << 4 | lo)
        row += b"\0" * (row_bytes - len(row))
        rows.append(bytes(row))
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in (palette or []))
    image = b"".join(rows)
    offset = 14 + 40 + len(table)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(image), 2835, 2835,
                       len(palette or []), 0)
    return b"BM" + struct.pack("<IHHI", offset + len(image), 0, 0, offset) + info + table + image


def banner():
    w, h = 259, 47
    pixels = []
    for y in range(h):
        row = []
        for x in range(w):
            k = x / (w - 1)
            r, g, b = (int(255 + (51 - 255) * k), int(255 + (102 - 255) * k), int(255 + (153 - 255) * k))
            # the mark: an arch over a wheel
            dx, dy = x - 226, y - 30
            d = math.hypot(dx, dy)
            if (18 <= d <= 21 and dy <= 0) or 7 <= d <= 9:
                r, g, b = 255, 255, 255
            # three bars for the archive's volumes
            for i, bx in enumerate((150, 162, 174)):
                if bx <= x < bx + 8 and 14 + 4 * i <= y < 40:
                    r, g, b = 30, 60, 90
            row.append((r, g, b))
        pixels.append(row)
    return bmp(w, h, 24, pixels)


PALETTE16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
             (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
             (255, 0, 255), (0, 255, 255), (255, 255, 255)]

FOLDER = [
    "...................", "...................", "...................", "...................",
    "..KKKK.............", ".KYWYWK............", "KYWYWYWKKKKKKK.....", "KWYWYWYWYWYWYK.....",
    "KYWYWYWYWYWYWK.....", "KWYWYWKKKKKKKKKKK..", "KYWYWKYYYYYYYYYYK..", "KWYWKYYYYYYYYYYK...",
    "KYWKYYYYYYYYYYYK...", "KWKYYYYYYYYYYYK....", "KKYYYYYYYYYYYYK....", "KKKKKKKKKKKKKK.....",
    "...................", "...................", "..................."]


def folder():
    index = {"K": 0, "Y": 11, "W": 15, ".": 7}
    return bmp(19, 19, 4, [[index[c] for c in row] for row in FOLDER], PALETTE16)


def icon():
    pixels = []
    for y in range(32):
        row = []
        for x in range(32):
            d = math.hypot(x - 15.5, y - 20)
            if 12 <= d <= 15 and y <= 20:
                row.append((51, 102, 153))
            elif 4 <= d <= 6:
                row.append((30, 60, 90))
            else:
                row.append((255, 255, 255))
        pixels.append(row)
    return bmp(32, 32, 24, pixels)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, rate, size, tone, decay in SOUNDS:
        with open(os.path.join(OUT, name + ".wav"), "wb") as f:
            f.write(wave(rate, size, tone, decay, name == "ENC_005"))
    for name, data in (("banner.bmp", banner()), ("folder.bmp", folder()), ("arcovelo.bmp", icon())):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
