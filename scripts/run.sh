#!/usr/bin/env bash
# Installs what is needed, builds Arcovelo and starts its window. With
# arguments it runs the command-line program with them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
if [ $# -gt 0 ]; then exec ./build/cli/arcovelo-cli "$@"; fi
exec ./build/app/arcovelo
