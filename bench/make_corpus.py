#!/usr/bin/env python3
"""Generates a deterministic mixed corpus for the benchmarks: text, binary-like
data and already-compressed data, in files of varied sizes."""
import os
import random
import sys
import zlib

WORDS = ("backup ripristino archivio volume disco file cartella documento lettera "
         "fattura progetto immagine tabella risultato completato errore sistema utente "
         "the of and to in is that for it with as was on be by this are from").split()


def text_block(rng, size):
    out = []
    total = 0
    while total < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        line += " %d\n" % rng.randint(0, 99999)
        out.append(line)
        total += len(line)
    return "".join(out).encode()[:size]


def binary_block(rng, size):
    # Records of mixed integers and floats with some random noise: like
    # executables and databases, partly compressible.
    parts = []
    total = 0
    while total < size:
        n = rng.randint(64, 4096)
        if rng.random() < 0.3:
            chunk = rng.randbytes(n)
        else:
            base = rng.randint(0, 1 << 20)
            chunk = b"".join((base + i * rng.randint(0, 3)).to_bytes(4, "little") for i in range(n // 4))
        parts.append(chunk)
        total += len(chunk)
    return b"".join(parts)[:size]


def compressed_block(rng, size):
    out = []
    total = 0
    while total < size:
        packed = zlib.compress(text_block(rng, 256 * 1024) + rng.randbytes(64 * 1024), 6)
        out.append(packed)
        total += len(packed)
    return b"".join(out)[:size]


def main():
    target = sys.argv[1]
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 240
    rng = random.Random(20261208)
    kinds = [("text", text_block, 0.4), ("bin", binary_block, 0.3), ("packed", compressed_block, 0.3)]
    for kind, make, share in kinds:
        left = int(megabytes * share * 1024 * 1024)
        index = 0
        while left > 0:
            size = min(left, rng.choice([3000, 40000, 300000, 2000000, 9000000]))
            folder = os.path.join(target, kind, "d%02d" % (index % 7))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "f%05d.%s" % (index, kind)), "wb") as f:
                f.write(make(rng, size))
            left -= size
            index += 1


if __name__ == "__main__":
    main()
