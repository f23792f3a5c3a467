#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64, in a prefix of its own
# (build/wineprefix64 unless WINEPREFIX is set), made 64-bit on first use.
# The 32-bit prefix of tools/wine-run.sh may predate wine64 and then runs
# 32-bit programs only. Safe to call from several processes at once.
#   tools/wine64-run.sh program.exe [arguments...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix64}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/.lowpass-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.lowpass-ready" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.lowpass-ready"
  fi
  flock -u 9
  exec 9>&-
fi

exec wine "$@"
