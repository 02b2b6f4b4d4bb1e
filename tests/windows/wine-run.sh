#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest: a prefix of the tests' own
# (made on first use), no debugging chatter, the program's exit status.
# The wineserver gives every program the time zone of the one that started
# it, so every run, test discovery included, gets the tests' zone.
set -euo pipefail
export TZ="${TZ:-Europe/Rome}"
export WINEPREFIX="${ARCOVELO_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/arcovelo-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine makes the prefix's last folder only: a fresh home has no ~/.cache.
mkdir -p "$WINEPREFIX"
exec wine "$@"
