#!/usr/bin/env bash
# Installs the Debian packages Arcovelo needs to build, run and test; with
# --windows also those of the Windows build and its tests under Wine.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config
  zlib1g-dev libsqlite3-dev libdeflate-dev
  libgtest-dev libcli11-dev
  desktop-file-utils dpkg-dev file man-db lintian appstream
  qt6-base-dev qt6-translations-l10n fonts-dejavu-core fonts-liberation2
  clang libclang-rt-14-dev
  python3
)
if [ "${1:-}" = "--windows" ]; then
  # The Windows build of the engine and arcovelo-cli, and Wine to test it.
  packages+=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev googletest wine wine64)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
