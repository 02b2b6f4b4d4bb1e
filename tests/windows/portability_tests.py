#!/usr/bin/env python3
"""The Windows arcovelo-cli, and archives carried both ways between it and
the Linux one.

The same tree is backed up by both programs; their records (names below the
common folder, date stamps, chunk bytes at level none, file bytes at the
default level) must agree, and each archive must restore with the other
program to the same bytes and dates. The Windows program's statuses, list,
check and volumes are tried as a user runs them.

usage: portability_tests.py LINUX_CLI WINDOWS_CLI WINE_RUNNER
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

LINUX_CLI, WINDOWS_CLI, WINE = sys.argv[1:4]
ENV = dict(os.environ, TZ="Europe/Rome")
results = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what, flush=True)
    results.append(ok)


def run(windows, *args, output=None, zone=None):
    """The program's exit status; its output is appended to `output`."""
    command = [WINE, WINDOWS_CLI] if windows else [LINUX_CLI]
    env = ENV if zone is None else dict(ENV, TZ=zone)
    result = subprocess.run(command + list(args), env=env, capture_output=True, text=True,
                            stdin=subprocess.DEVNULL, errors="replace")
    if output is not None:
        output.append(result.stdout + result.stderr)
    return result.returncode


def make_tree(src):
    """Lower-case names (the Windows build stores names lowered), dates in
    summer and in winter, sizes around the 16 KiB chunk."""
    rng = random.Random(7)
    files = {
        "a.txt": b"hello\n" * 5000,
        "empty.txt": b"",
        "sub/b.bin": bytes(rng.getrandbits(8) for _ in range(40000)),
        "sub/deep/c.txt": b"archivio volume disco " * 800,
        "sub/chunk.bin": bytes(rng.getrandbits(8) for _ in range(16384)),
    }
    dates = [1719835200, 1704103200, 1689500000, 1610000000, 1500000000]  # summer and winter, even seconds
    for (name, data), when in zip(sorted(files.items()), dates):
        path = os.path.join(src, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (when, when))
    return files


def records(archive):
    """(name, stamp, chunks) of every file record, the file-ID list included."""
    data = open(archive, "rb").read()
    at = 0

    def number():
        nonlocal at
        value = struct.unpack_from("<i", data, at)[0]
        at += 4
        return value

    title = number()
    at += title
    number(), number()  # total size, file count
    out = []
    while True:
        length = number()
        if length == 0:
            return out
        name = data[at:at + length].decode("utf-8")
        at += length
        stamp = number()
        assert data[at:at + 4] == b"EC2\0"
        at += 4
        chunks = []
        while (size := number()) != 0:
            chunks.append((size, data[at:at + abs(size)]))
            at += abs(size)
        out.append((name, stamp, chunks))


def below(name, common):
    """A stored name below the common folder, '/'-separated."""
    if name == "FILE:LIST":
        return name
    name = name.replace("\\", "/")
    return name[name.index(common) + len(common):]


def decoded(chunks):
    return b"".join(zlib.decompress(p) if n > 0 else p for n, p in chunks)


def tree_of(folder):
    out = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            out[os.path.relpath(path, folder)] = (open(path, "rb").read(), int(os.stat(path).st_mtime))
    return out


def check_windows_command_line(work, src, expected, common):
    archive = os.path.join(work, "win-default.bck")
    shown = []
    check(run(True, "list", archive, output=shown) == 0 and "Files: 5" in shown[0] and
          "\\sub\\deep\\c.txt  2017-07-14T04:40:00  17600" in shown[0], "Windows list: counts, names, stamps, sizes")
    check(run(True, "test", archive) == 0, "Windows test of a sound archive")
    check(run(True, "restore", "--bogus", archive) == 2, "Windows: an unknown option is a usage error (2)")
    check(run(True, "list", os.path.join(work, "none.bck")) == 1, "Windows: a missing archive fails (1)")
    volumes = os.path.join(work, "vol.bck")
    check(run(True, "backup", "--quiet", "--yes", "--volume-size", "20000", volumes, src + "/*.* /s") == 0 and
          os.path.exists(os.path.join(work, "vol.002")), "Windows backup in volumes")
    dest = os.path.join(work, "out-volumes")
    check(run(True, "restore", "--quiet", "--yes", "--full-path", "--dest", dest, volumes) == 0 and
          tree_of(os.path.join(dest, common)) == expected, "Windows restore of volumes")
    check(run(True, "restore", "--quiet", "--full-path", "--dest", dest, volumes) == 3,
          "Windows: a disk prompt without a terminal cancels (3)")


def write_files(folder, files):
    os.makedirs(folder)
    for name, data in files.items():
        with open(os.path.join(os.fsencode(folder), name), "wb") as f:
            f.write(data)


def check_names_a_folder_tells_apart(work):
    """A Linux folder under Wine tells case apart and keeps names that are not
    UTF-8, which Windows names cannot hold."""
    twins = os.path.join(work, "twins")
    write_files(twins, {b"Report.txt": b"UPPER-1", b"report.txt": b"lower-2"})
    archive = os.path.join(work, "twins.bck")
    shown = []
    status = run(True, "backup", "--quiet", archive, twins + "/*.txt", output=shown)
    kept = sorted(decoded(c) for _, _, c in records(archive)[1:])
    check(status == 4 and kept == [b"UPPER-1", b"lower-2"] and "Report.txt" in shown[0],
          "Windows backup of names differing only in case: both files with their own bytes, said (4)")

    odd = os.path.join(work, "odd")
    write_files(odd, {b"caff\xe8.txt": b"first", b"caff\xe9.txt": b"second"})
    archive = os.path.join(work, "odd-win.bck")
    status = run(True, "backup", "--quiet", archive, odd + "/*.txt")
    check(status == 4 and [decoded(c) for _, _, c in records(archive)[1:]] == [],
          "Windows backup of names it cannot tell apart: neither stored with the other's bytes (4)")
    archive = os.path.join(work, "odd-lin.bck")
    dest = os.path.join(work, "odd-out")
    os.makedirs(dest)
    check(run(False, "backup", "--quiet", archive, odd + "/*.txt") == 0 and
          run(True, "restore", "--quiet", "--dest", dest, archive) == 11 and os.listdir(dest) == [],
          "Linux archive of names that are not UTF-8 restored by Windows: refused (11), nothing merged")


def check_leftovers_behind_links(work):
    """Wine shows a POSIX symbolic link as a plain file, and deleting it deletes
    the file it leads to: a link of a leftover's shape is not a leftover."""
    dest = os.path.join(work, "links")
    write_files(dest, {b"~arcovelo-4000000000-zzz999.tmp": b"left"})
    write_files(os.path.join(work, "elsewhere"), {b"victim.txt": b"victim"})
    os.symlink("../elsewhere/victim.txt", os.path.join(dest, "~arcovelo-4000000000-abc123.tmp"))
    archive = os.path.join(work, "links.bck")
    victim = os.path.join(work, "elsewhere", "victim.txt")
    check(run(True, "backup", "--quiet", archive, os.path.join(work, "zone", "ny.txt")) == 0 and
          run(True, "restore", "--quiet", "--dest", dest, archive) == 0 and
          sorted(os.listdir(dest)) == ["ny.txt", "~arcovelo-4000000000-abc123.tmp"] and
          os.path.exists(victim) and open(victim, "rb").read() == b"victim",
          "Windows restore removes a leftover but not a link of that shape, nor what it leads to")


def check_dates_by_the_rules_of_their_year(work):
    """2005-03-20 15:00 UTC is 10:00 in New York: summer time began on 3 April
    that year, not on the second Sunday of March as today."""
    folder = os.path.join(work, "zone")
    write_files(folder, {b"ny.txt": b"ny"})
    os.utime(os.path.join(folder, "ny.txt"), (1111330800, 1111330800))
    stamps = []
    for windows in (False, True):
        archive = os.path.join(work, f"zone-{int(windows)}.bck")
        run(windows, "backup", "--quiet", "--no-file-list", archive, folder + "/ny.txt", zone="America/New_York")
        stamps.append(records(archive)[0][1])
    check(stamps[0] == stamps[1] and (stamps[1] >> 11) & 0x1F == 10,
          "a New York date of 2005 is stored by the rules of 2005, as the Linux program stores it")


def main():
    # Lower case throughout: the Windows build stores, and restores, names lowered.
    work = os.path.join(tempfile.gettempdir(), f"arcovelo-portability-{os.getpid()}")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        src = os.path.join(work, "src")
        files = make_tree(src)
        common = src.replace("\\", "/").lstrip("/") + "/"
        expected = {name: (data, int(os.stat(os.path.join(src, name)).st_mtime)) for name, data in files.items()}

        for level in ("none", "default"):
            archives = {}
            for windows in (False, True):
                archive = os.path.join(work, f"{'win' if windows else 'lin'}-{level}.bck")
                status = run(windows, "backup", "--quiet", "--level", level, archive, src + "/*.* /s")
                check(status == 0, f"{'Windows' if windows else 'Linux'} backup at level {level}")
                archives[windows] = archive
            lin, win = (records(archives[w]) for w in (False, True))
            lin_names = [(below(n, common), s) for n, s, _ in lin[1:]]
            win_names = [(below(n, common), s) for n, s, _ in win[1:]]
            check(lin_names == win_names, f"level {level}: the same names below the common folder and stamps, in order")
            check(all(n.startswith("z:\\") and n == n.lower() for n, _, _ in win[1:]),
                  f"level {level}: the Windows names are lowered drive paths")
            if level == "none":
                check([c for _, _, c in lin[1:]] == [c for _, _, c in win[1:]], "level none: the same chunk bytes")
            check([decoded(c) for _, _, c in lin[1:]] == [decoded(c) for _, _, c in win[1:]],
                  f"level {level}: the same file bytes")

        for archive_windows in (False, True):
            for restore_windows in (False, True):
                archive = os.path.join(work, f"{'win' if archive_windows else 'lin'}-default.bck")
                dest = os.path.join(work, f"out-{int(archive_windows)}{int(restore_windows)}")
                status = run(restore_windows, "restore", "--quiet", "--full-path", "--dest", dest, archive)
                what = (f"{'Windows' if archive_windows else 'Linux'} archive restored by "
                        f"{'Windows' if restore_windows else 'Linux'}")
                check(status == 0 and tree_of(os.path.join(dest, common)) == expected, what + ": bytes and dates")

        check_windows_command_line(work, src, expected, common)
        check_names_a_folder_tells_apart(work)
        check_dates_by_the_rules_of_their_year(work)
        check_leftovers_behind_links(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
