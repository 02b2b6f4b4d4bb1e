#!/usr/bin/env bash
# Installs what is needed, builds Arcovelo and starts it. Until the window
# exists this runs the command-line program; arguments are passed on.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
if [ $# -eq 0 ]; then set -- --help; fi
exec ./build/cli/arcovelo-cli "$@"
