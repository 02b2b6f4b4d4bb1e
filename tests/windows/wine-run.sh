#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest: a prefix of the tests' own
# (made on first use), no debugging chatter, the program's exit status, and
# its console's CR LF line ends as LF so CTest reads its test lists.
set -euo pipefail
export WINEPREFIX="${ARCOVELO_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/arcovelo-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine "$@" | tr -d '\r'
