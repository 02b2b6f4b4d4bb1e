#!/usr/bin/env python3
"""Whether the cost per file stays flat up to a million files: runs
small_files_bench on trees of SMALL (100,000) and LARGE (1,000,000) files of
the same shape, in one run, prints both tables, then for each of Arcovelo's
rows the LARGE/SMALL time ratio against the linear limit (11x for ten times
the files) and the peak memory at LARGE against 256 MiB.
Usage: million_files_bench.py [BUILD_DIR] [ROUNDS] [SMALL] [LARGE]

The million-file tree takes some 4 GB under bench/corpus and a minute or two
to make on first use; a round at a million files takes several minutes (two
restores of a million files, tar's included, and the removal of each)."""
import os
import sys

import small_files_bench as bench

TIME_GROWTH_LIMIT = 1.1  # times the growth in files: 11x for ten times as many
PEAK_LIMIT_MIB = 256


def print_scaling(small, large, small_rows, large_rows):
    small_seconds = {label: s for label, s, _ in small_rows}
    limit = TIME_GROWTH_LIMIT * large / small
    print("%-52s %8s %8s %7s %7s %9s %9s" % ("%d vs %d files" % (large, small), "s small", "s large", "ratio",
                                            "limit", "peak MiB", "limit"))
    for label, seconds, peak in large_rows:
        if label in bench.PEERS or label not in small_seconds:
            continue
        ratio = seconds / small_seconds[label] if small_seconds[label] > 0 else float("inf")
        mib = peak / 1024
        print("%-52s %8.2f %8.2f %6.1fx %6.0fx %s %9.1f %9s %s" % (
            label, small_seconds[label], seconds, ratio, limit, "%-7s" % bench.verdict(ratio <= limit), mib,
            "< %d" % PEAK_LIMIT_MIB, bench.verdict(mib < PEAK_LIMIT_MIB)))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(bench.HERE, "..", "build"))
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    small = int(sys.argv[3]) if len(sys.argv) > 3 else 100000
    large = int(sys.argv[4]) if len(sys.argv) > 4 else 1000000
    results = []
    for count in (small, large):
        tree, rows = bench.bench_tree(build, count, rounds)
        bench.print_table(tree, count, rows)
        print()
        bench.print_targets(rows)
        print(flush=True)
        results.append(rows)
    print_scaling(small, large, *results)


if __name__ == "__main__":
    main()
