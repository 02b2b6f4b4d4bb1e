#!/usr/bin/env bash
# Installs the tools the benchmarks compare against, builds Arcovelo and runs
# every benchmark: backup, restore and test against tar, gzip, pigz and zip on
# a generated corpus; backup, durable restore and an unchanged incremental
# backup of 100,000 small files; the expansion of 100,000 files; list box painting.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
missing=()
for p in pigz zip unzip; do command -v "$p" >/dev/null || missing+=("$p"); done
[ -x /usr/bin/time ] || missing+=(time)  # the peak memory of each run
if [ ${#missing[@]} -gt 0 ]; then apt-get install -y --no-install-recommends "${missing[@]}"; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
python3 bench/run_bench.py build "${1:-240}" "${2:-3}"
python3 bench/small_files_bench.py build 100000 "${2:-3}"
# python3 bench/million_files_bench.py build   # 1,000,000 files against 100,000: long, run by hand
./build/bench/expand_bench
./build/bench/listbox_paint_bench
