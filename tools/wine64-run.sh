#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64's own loader, in a 64-bit
# prefix of its own (build/wineprefix64 unless WINEPREFIX is set), made on
# first use by tools/wine-run.sh. Nothing here starts a 32-bit program:
# Debian's `wine` launcher would start the 32-bit loader first, which fails
# on a kernel without 32-bit support. (Making a new prefix tries to run
# syswow64's 32-bit rundll32.exe once; there that fails harmlessly.) Safe
# to call from several processes at once.
#   tools/wine64-run.sh program.exe [arguments...]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix64}"
export WINEARCH=win64
export WINE_LOADER="${WINE64_LOADER:-/usr/lib/wine/wine64}"
exec "$root/tools/wine-run.sh" "$@"
