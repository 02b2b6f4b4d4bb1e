#!/usr/bin/env python3
"""Times arcovelo-cli backup, restore and test on a generated corpus against
tar, gzip, pigz and zip on the same files, in one run, and prints the median
seconds, MB/s and output ratio of each. Usage: run_bench.py [BUILD_DIR]
[CORPUS_MB] [ROUNDS]"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def corpus_bytes(folder):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(folder) for f in files)


def timed(command, cwd=None, env=None):
    start = time.perf_counter()
    subprocess.run(command, shell=True, check=True, cwd=cwd, env=env,
                   stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build"))
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 240
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    cli = os.path.join(build, "cli", "arcovelo-cli")
    corpus = os.path.join(HERE, "corpus", "%dMB" % megabytes)
    if not os.path.isdir(corpus):
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), corpus, str(megabytes)], check=True)
    size = corpus_bytes(corpus)
    work = tempfile.mkdtemp(prefix="arcovelo-bench-")
    env = dict(os.environ, ARCOVELO_STATE_DIR=os.path.join(work, "state"))
    rows = []

    def run(label, command, output=None, cwd=None, before=None):
        times = []
        for _ in range(rounds):
            if before:
                before()
            subprocess.run("sync", shell=True)
            times.append(timed(command, cwd=cwd, env=env))
        seconds = statistics.median(times)
        ratio = (os.path.getsize(output) / size) if output else None
        rows.append((label, seconds, size / 1e6 / seconds, ratio))

    def fresh(folder):
        return lambda: (shutil.rmtree(folder, ignore_errors=True), os.makedirs(folder))

    try:
        parent, name = os.path.split(corpus)
        for level in ("fastest", "max"):
            archive = os.path.join(work, level + ".bck")
            run("arcovelo-cli backup --level " + level,
                "%s backup %s '%s/* /s' --quiet --keep-archive-flags --level %s" % (cli, archive, corpus, level),
                archive)
        pigz = os.path.join(work, "pigz1.tar.gz")
        run("tar cf - | pigz -1 -p 2", "tar cf - %s | pigz -1 -p 2 > %s" % (name, pigz), pigz, cwd=parent)
        for level in ("1", "9"):
            tarball = os.path.join(work, "gzip%s.tar.gz" % level)
            run("tar cf - | gzip -" + level, "tar cf - %s | gzip -%s > %s" % (name, level, tarball), tarball, cwd=parent)
        zipfile = os.path.join(work, "zip1.zip")
        run("zip -1 -r", "rm -f %s && zip -q -1 -r %s %s" % (zipfile, zipfile, name), zipfile, cwd=parent)
        plain = os.path.join(work, "plain.tar")
        run("tar cf - (no compression)", "tar cf - %s > %s" % (name, plain), plain, cwd=parent)
        archive = os.path.join(work, "fastest.bck")
        run("arcovelo-cli test", "%s test %s --quiet" % (cli, archive))
        restored = os.path.join(work, "restored")
        run("arcovelo-cli restore", "%s restore %s --dest %s --full-path --quiet" % (cli, archive, restored),
            before=fresh(restored))
        untar = os.path.join(work, "untar")
        run("tar xzf (gzip -1)", "tar xzf %s" % os.path.join(work, "gzip1.tar.gz"), cwd=untar, before=fresh(untar))
        unzipped = os.path.join(work, "unzip")
        run("unzip", "unzip -q %s -d %s" % (zipfile, unzipped), before=fresh(unzipped))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("corpus: %s, %.1f MB in %d files" % (corpus, size / 1e6, sum(len(f) for _, _, f in os.walk(corpus))))
    print("%-34s %9s %9s %8s" % ("what", "seconds", "MB/s", "ratio"))
    for label, seconds, rate, ratio in rows:
        print("%-34s %9.2f %9.1f %8s" % (label, seconds, rate, "%.3f" % ratio if ratio is not None else "-"))


if __name__ == "__main__":
    main()
