#!/usr/bin/env bash
# Runs one fuzz harness on freshly made seeds.
# Usage: run_fuzz.sh HARNESS ARCOVELO_CLI [libFuzzer options, e.g. -runs=20000 or -max_total_time=1200]
set -euo pipefail
harness=$1
cli=$2
shift 2
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
bash "$(dirname "$0")/make_seeds.sh" "$cli" "$corpus"
"$harness" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$@" "$corpus"
