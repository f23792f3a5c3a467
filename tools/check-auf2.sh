#!/usr/bin/env bash
# Checks the built AviUtl2 plug-in, build/mingw-x86_64/aviutl2/lowpass.auf2:
#   - a 64-bit Windows DLL (PE32+);
#   - its export table is exactly GetFilterPluginTable, InitializeLogger,
#     InitializePlugin, RequiredVersion and UninitializePlugin, undecorated;
#   - it imports only Windows' own DLLs (no MinGW runtime or winpthread DLL).
# Prints one PASS/FAIL line per check and "N passed, M failed"; exits
# non-zero if anything failed.
#   tools/check-auf2.sh [build-dir]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/mingw-x86_64}"
auf2="$build/aviutl2/lowpass.auf2"
objdump=x86_64-w64-mingw32-objdump

. "$root/tools/check-lib.sh"

if [ ! -f "$auf2" ]; then
  fail "$auf2 does not exist (build the mingw-x86_64 preset first)"
  finish check-auf2
fi
pass "lowpass.auf2 built ($(stat -c %s "$auf2") bytes)"
check_dll "$auf2" "$objdump" pei-x86-64 020b "64-bit Windows (PE32+)" \
  "GetFilterPluginTable,InitializeLogger,InitializePlugin,RequiredVersion,UninitializePlugin"

finish check-auf2
