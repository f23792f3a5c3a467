#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64, in a prefix of its own
# (build/wineprefix64 unless WINEPREFIX is set), made 64-bit on first use
# by tools/wine-run.sh. The 32-bit prefix of tools/wine-run.sh may predate
# wine64 and then runs 32-bit programs only. Safe to call from several
# processes at once.
#   tools/wine64-run.sh program.exe [arguments...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix64}"
export WINEARCH=win64
exec "$root/tools/wine-run.sh" "$@"
