#!/usr/bin/env bash
# Installs what is needed, builds everything from scratch and runs every test,
# then runs the engine tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, each fuzz harness of the archive reader for a
# fixed number of inputs (clang's libFuzzer), and the Windows build's engine
# and command-line tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --windows

rm -rf build build-sanitize build-fuzz build-windows
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
ctest --test-dir build --output-on-failure -j2

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DARCOVELO_SANITIZE=ON
cmake --build build-sanitize --target engine_tests
ctest --test-dir build-sanitize --output-on-failure -j2 -L engine

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DARCOVELO_FUZZ=ON
cmake --build build-fuzz
ctest --test-dir build-fuzz --output-on-failure -L fuzz

cmake -S . -B build-windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DARCOVELO_LINUX_CLI="$PWD/build/cli/arcovelo-cli"
cmake --build build-windows
ctest --test-dir build-windows --output-on-failure -j2
