#!/usr/bin/env bash
# Writes small valid archives into a seed corpus folder, using arcovelo-cli:
# with and without file-ID list, raw and compressed chunks, several volumes.
# Usage: make_seeds.sh ARCOVELO_CLI CORPUS_DIR
set -euo pipefail
cli=$1
corpus=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$corpus" "$work/src/sub"
printf 'abc' > "$work/src/a.txt"
: > "$work/src/empty.txt"
head -c 20000 /dev/urandom > "$work/src/sub/random.bin"
for i in $(seq 1 1500); do echo 'backup ripristino archivio'; done > "$work/src/sub/text.txt"
export ARCOVELO_STATE_DIR="$work/state"
n=0
for options in "" "--no-file-list" "--level none" "--level max --no-file-list" "--volume-size 30000 --yes"; do
    n=$((n + 1))
    # shellcheck disable=SC2086
    "$cli" backup "$work/out$n.bck" "$work/src/* /s" --quiet --keep-archive-flags $options
    for volume in "$work"/out$n.*; do
        cp "$volume" "$corpus/seed$n-$(basename "$volume")"
    done
done
