#!/usr/bin/env bash
# Runs a 32-bit Windows program under wine, in the project's own prefix
# (build/wineprefix unless WINEPREFIX is set), set up on first use: wineboot
# and the null graphics driver, so that hidden windows work without a
# display. Safe to call from several processes at once.
#   tools/wine-run.sh program.exe [arguments...]
# WINE_LOADER names the loader (default: Debian's `wine` launcher, which
# starts the 32-bit loader first); tools/wine64-run.sh sets it to wine64's
# own loader, so that 64-bit programs run with no 32-bit stage at all.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
loader="${WINE_LOADER:-wine}"

if [ ! -f "$WINEPREFIX/.lowpass-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.lowpass-ready" ]; then
    "$loader" wineboot -i >/dev/null 2>&1
    "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.lowpass-ready"
  fi
  flock -u 9
  exec 9>&-
fi

exec "$loader" "$@"
