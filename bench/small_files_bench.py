#!/usr/bin/env python3
"""The cost per file: backup, durable restore and an incremental backup with
nothing changed on a tree of 100,000 small files, against tar | pigz -1 -p 2
and tar xzf, medians of ROUNDS runs in one run, with the peak memory of each
arcovelo-cli run, of `arcovelo-cli list` and of the window's Restore page
opening the archive (bench/restore_page_bench, when it is built). After the
table come the ratios to the peers and the incremental's seconds, each with
its target. Usage: small_files_bench.py [BUILD_DIR] [COUNT] [ROUNDS]

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
GNU_TIME = "/usr/bin/time"  # Debian package "time"

BACKUP = "arcovelo-cli backup --level fastest, flags cleared (+ sync)"
TAR_PIGZ = "tar cf - | pigz -1 -p 2 (+ sync)"
RESTORE = "arcovelo-cli restore (durable)"
RESTORE_ONE = "arcovelo-cli restore of one selected file"
UNTAR = "tar xzf + sync"
INCREMENTAL = "arcovelo-cli backup --incremental, nothing changed"
LIST = "arcovelo-cli list"
WINDOW = "window Restore page opens the archive"
PEERS = (TAR_PIGZ, UNTAR)


def run_once(command, cwd=None, env=None):
    """Seconds and peak resident memory (KiB) of one run of a shell command.
    The peak comes from /usr/bin/time, whose own few pages are all a command
    started from it inherits: the resident pages of a forked process count as
    its own, so one started straight from this script would count the script's
    (which grow with the names of a large tree)."""
    with tempfile.NamedTemporaryFile("r", prefix="arcovelo-peak-") as peak:
        start = time.perf_counter()
        child = subprocess.Popen([GNU_TIME, "-f", "%M", "-o", peak.name, "sh", "-c", command], cwd=cwd, env=env,
                                 stdout=subprocess.DEVNULL)
        _, status, _ = os.wait4(child.pid, 0)
        seconds = time.perf_counter() - start
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit("failed: " + command)
        return seconds, int(peak.read().split()[-1])


def some_file(tree):
    """A file from the middle of the tree, so a selected restore must pass over
    about half of the archive to reach it and the other half after it."""
    names = sorted(os.path.join(folder, f) for folder, _, files in os.walk(tree) for f in files)
    return names[len(names) // 2]


def small_tree(count):
    """The tree of COUNT small files under bench/corpus, made on first use. It
    is made under another name and renamed when whole, so an interrupted run
    leaves no partial tree to be taken for a complete one."""
    tree = os.path.join(HERE, "corpus", "small-%d" % count)
    if not os.path.isdir(tree):
        partial = tree + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_small_files.py"), partial, str(count)], check=True)
        os.rename(partial, tree)
    return tree


def file_system_image(image, count):
    """A new ext4 image with room (blocks and inodes) for COUNT small files."""
    gib = max(4, -(-count * 12 // (1024 * 1024)))  # about 12 KiB a file, at least 4 GiB
    inodes = max(count + count // 1000 + 1000, 262144)
    subprocess.run("rm -f %s && truncate -s %dG %s && mkfs.ext4 -q -F -N %d %s" % (image, gib, image, inodes, image),
                   shell=True, check=True)


def bench_tree(build, count, rounds, peers=True):
    """Measures every row on the tree of COUNT files: a list of (what, median
    seconds, highest peak KiB). PEERS' rows only when `peers`."""
    cli = os.path.join(build, "cli", "arcovelo-cli")
    window = os.path.join(build, "bench", "restore_page_bench")
    tree = small_tree(count)
    work = tempfile.mkdtemp(prefix="arcovelo-small-", dir=os.path.join(HERE, "corpus"))
    env = dict(os.environ, ARCOVELO_STATE_DIR=os.path.join(work, "state"), QT_QPA_PLATFORM="offscreen")
    rows = []

    def measure(label, command, cwd=None, before=None):
        if label in PEERS and not peers:
            return
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
            file_system_image(image, count)
            os.makedirs(folder, exist_ok=True)
            subprocess.run(["mount", "-o", "loop", image, folder], check=True)
        return make

    def unmount(folder):
        if FRESH_FS:
            subprocess.run(["umount", folder], stderr=subprocess.DEVNULL)

    def discard(folder):
        """Frees the disk a restore took before the next one fills it again."""
        unmount(folder)
        shutil.rmtree(folder, ignore_errors=True)
        if os.path.exists(folder + ".img"):
            os.remove(folder + ".img")

    try:
        parent, name = os.path.split(tree)
        archive = os.path.join(work, "small.bck")
        measure(BACKUP,
                "%s backup %s '%s/* /s' --quiet --level fastest && sync" % (cli, archive, tree))
        tarball = os.path.join(work, "small.tar.gz")
        measure(TAR_PIGZ, "tar cf - %s | pigz -1 -p 2 > %s && sync" % (name, tarball), cwd=parent)
        measure(LIST, "%s list %s" % (cli, archive))
        if os.access(window, os.X_OK):
            measure(WINDOW, "%s %s" % (window, archive))
        restored = os.path.join(work, "restored")
        measure(RESTORE, "%s restore %s --dest %s --full-path --quiet" % (cli, archive, restored),
                before=fresh(restored))
        discard(restored)
        picked = os.path.join(work, "picked")
        measure(RESTORE_ONE, "%s restore %s '%s' --dest %s --quiet" % (cli, archive, some_file(tree), picked),
                before=fresh(picked))
        untar = os.path.join(work, "untar")
        measure(UNTAR, "tar xzf %s && sync" % tarball, cwd=untar, before=fresh(untar))
        discard(untar)
        subprocess.run("%s backup %s '%s/* /s' --quiet --level fastest" % (cli, archive, tree), shell=True,
                       check=True, env=env)
        measure(INCREMENTAL,
                "%s backup %s '%s/* /s' --quiet --incremental" % (cli, os.path.join(work, "inc.bck"), tree))
    finally:
        for folder in ("restored", "picked", "untar"):
            unmount(os.path.join(work, folder))
        shutil.rmtree(work, ignore_errors=True)
    return tree, rows


def print_table(tree, count, rows):
    print("tree: %s, %d files" % (tree, count))
    print("%-52s %9s %12s" % ("what", "seconds", "peak MiB"))
    for label, seconds, peak in rows:
        print("%-52s %9.2f %12.1f" % (label, seconds, peak / 1024))


def verdict(met):
    return "met" if met else "not met"


def print_targets(rows):
    """The ratios to the peers (peer's seconds over ours) and the incremental's
    seconds, each against its target."""
    seconds = {label: s for label, s, _ in rows}
    print("%-52s %9s %12s" % ("target", "now", "wanted"))
    for what, ours, peer, wanted in (("full backup, peer/ours", BACKUP, TAR_PIGZ, 2.0),
                                     ("durable restore, peer/ours", RESTORE, UNTAR, 1.5)):
        if ours in seconds and peer in seconds:
            ratio = seconds[peer] / seconds[ours]
            print("%-52s %8.2fx %11s  %s" % (what, ratio, ">= %.1fx" % wanted, verdict(ratio >= wanted)))
    if INCREMENTAL in seconds:
        print("%-52s %8.2fs %11s  %s" % ("incremental, nothing changed", seconds[INCREMENTAL], "<= 0.15s",
                                        verdict(seconds[INCREMENTAL] <= 0.15)))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build"))
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    tree, rows = bench_tree(build, count, rounds)
    print_table(tree, count, rows)
    print()
    print_targets(rows)


if __name__ == "__main__":
    main()
