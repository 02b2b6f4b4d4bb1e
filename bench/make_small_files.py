#!/usr/bin/env python3
"""Generates a deterministic tree of small text files, like a mail folder or a
source tree: COUNT files (default 100,000) of 20 B to 1.6 KB in folders of a
thousand. Usage: make_small_files.py FOLDER [COUNT]"""
import os
import random
import sys

WORDS = ("backup ripristino archivio volume disco file cartella documento lettera "
         "fattura progetto immagine tabella risultato the of and to in is that for").split()


def main():
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    rng = random.Random(7)
    for i in range(count):
        sub = os.path.join(folder, "d%03d" % (i // 1000))
        if i % 1000 == 0:
            os.makedirs(sub, exist_ok=True)
        size = rng.randint(20, 1600)
        text = []
        total = 0
        while total < size:
            word = rng.choice(WORDS)
            text.append(word)
            total += len(word) + 1
        with open(os.path.join(sub, "f%05d.txt" % i), "w") as out:
            out.write(" ".join(text)[:size] + "\n")


if __name__ == "__main__":
    main()
