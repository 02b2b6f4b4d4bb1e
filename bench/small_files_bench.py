#!/usr/bin/env python3
"""The cost per file: backup, durable restore and an incremental backup with
nothing changed on a tree of 100,000 small files, against tar | pigz -1 -p 2
and tar xzf, medians of ROUNDS runs in one run, with the peak memory of each
arcovelo-cli run. Usage: small_files_bench.py [BUILD_DIR] [COUNT] [ROUNDS]

With ARCOVELO_BENCH_FRESH_FS=1 (root, loop devices) every restore, ours and
tar's, goes into a newly made ext4 file system: on a disk where the previous
round's 100,000 files were just deleted, creating files costs what the file
system's inode allocator happens to cost that minute, and rounds of the same
program differ by a factor of three."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FRESH_FS = os.environ.get("ARCOVELO_BENCH_FRESH_FS") == "1"


def run_once(command, cwd=None, env=None):
    """Seconds and peak resident memory (KiB) of one run of a shell command."""
    start = time.perf_counter()
    child = subprocess.Popen(command, shell=True, cwd=cwd, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit("failed: " + command)
    return seconds, usage.ru_maxrss


def some_file(tree):
    """A file from the middle of the tree, so a selected restore must pass over
    about half of the archive to reach it and the other half after it."""
    names = sorted(os.path.join(folder, f) for folder, _, files in os.walk(tree) for f in files)
    return names[len(names) // 2]


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build"))
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    cli = os.path.join(build, "cli", "arcovelo-cli")
    tree = os.path.join(HERE, "corpus", "small-%d" % count)
    if not os.path.isdir(tree):
        subprocess.run([sys.executable, os.path.join(HERE, "make_small_files.py"), tree, str(count)], check=True)
    work = tempfile.mkdtemp(prefix="arcovelo-small-", dir=os.path.join(HERE, "corpus"))
    env = dict(os.environ, ARCOVELO_STATE_DIR=os.path.join(work, "state"))
    rows = []

    def measure(label, command, cwd=None, before=None):
        results = []
        for _ in range(rounds):
            if before:
                before()
            subprocess.run("sync", shell=True)
            results.append(run_once(command, cwd=cwd, env=env))
        rows.append((label, statistics.median(s for s, _ in results), max(m for _, m in results)))

    def fresh(folder):
        def make():
            if not FRESH_FS:
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(folder)
                return
            unmount(folder)
            image = folder + ".img"
            subprocess.run("rm -f %s && truncate -s 4G %s && mkfs.ext4 -q -F %s" % (image, image, image),
                           shell=True, check=True)
            os.makedirs(folder, exist_ok=True)
            subprocess.run(["mount", "-o", "loop", image, folder], check=True)
        return make

    def unmount(folder):
        if FRESH_FS:
            subprocess.run(["umount", folder], stderr=subprocess.DEVNULL)

    try:
        parent, name = os.path.split(tree)
        archive = os.path.join(work, "small.bck")
        measure("arcovelo-cli backup --level fastest (+ sync)",
                "%s backup %s '%s/* /s' --quiet --keep-archive-flags --level fastest && sync" % (cli, archive, tree))
        tarball = os.path.join(work, "small.tar.gz")
        measure("tar cf - | pigz -1 -p 2 (+ sync)",
                "tar cf - %s | pigz -1 -p 2 > %s && sync" % (name, tarball), cwd=parent)
        restored = os.path.join(work, "restored")
        measure("arcovelo-cli restore (durable)",
                "%s restore %s --dest %s --full-path --quiet" % (cli, archive, restored), before=fresh(restored))
        picked = os.path.join(work, "picked")
        measure("arcovelo-cli restore of one selected file",
                "%s restore %s '%s' --dest %s --quiet" % (cli, archive, some_file(tree), picked),
                before=fresh(picked))
        untar = os.path.join(work, "untar")
        measure("tar xzf + sync", "tar xzf %s && sync" % tarball, cwd=untar, before=fresh(untar))
        subprocess.run("%s backup %s '%s/* /s' --quiet --level fastest" % (cli, archive, tree), shell=True,
                       check=True, env=env)
        measure("arcovelo-cli backup --incremental, nothing changed",
                "%s backup %s '%s/* /s' --quiet --incremental" % (cli, os.path.join(work, "inc.bck"), tree))
    finally:
        for folder in ("restored", "picked", "untar"):
            unmount(os.path.join(work, folder))
        shutil.rmtree(work, ignore_errors=True)

    print("tree: %s, %d files" % (tree, count))
    print("%-52s %9s %12s" % ("what", "seconds", "peak MiB"))
    for label, seconds, peak in rows:
        print("%-52s %9.2f %12.1f" % (label, seconds, peak / 1024))


if __name__ == "__main__":
    main()
