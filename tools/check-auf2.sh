#!/usr/bin/env bash
# Checks the built AviUtl2 plug-in, build/mingw-x86_64/aviutl2/lowpass.auf2:
#   - a 64-bit Windows DLL (PE32+);
#   - its export table is exactly GetFilterPluginTable, InitializePlugin,
#     RequiredVersion and UninitializePlugin, undecorated;
#   - it imports only Windows' own DLLs (no MinGW runtime or winpthread DLL).
# Prints one PASS/FAIL line per check and "N passed, M failed"; exits
# non-zero if anything failed.
#   tools/check-auf2.sh [build-dir]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/mingw-x86_64}"
auf2="$build/aviutl2/lowpass.auf2"
objdump=x86_64-w64-mingw32-objdump

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
expect() {
  if [ "$2" == "$3" ]; then pass "$1 ($3)"; else fail "$1: expected '$2', got '$3'"; fi
}
finish() {
  echo "check-auf2: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

if [ ! -f "$auf2" ]; then
  fail "$auf2 does not exist (build the mingw-x86_64 preset first)"
  finish
fi
pass "lowpass.auf2 built ($(stat -c %s "$auf2") bytes)"
headers=$($objdump -p "$auf2")

format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$headers" | head -n 1)
magic=$(awk '$1 == "Magic" {print $2; exit}' <<<"$headers")
if [ "$format" = "pei-x86-64" ] && [ "$magic" = "020b" ] && grep -qx $'\tDLL' <<<"$headers"; then
  pass "a 64-bit Windows DLL (pei-x86-64, PE32+)"
else
  fail "not a 64-bit Windows DLL: format '$format', magic '$magic'"
fi

exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
               on && /^[ \t]*$/ {on = 0}
               on {print $NF}' <<<"$headers" | sort -u | paste -sd, -)
expect "export table" "GetFilterPluginTable,InitializePlugin,RequiredVersion,UninitializePlugin" "$exports"
dllname=$(awk '$1 == "Name" && NF >= 3 {print $3; exit}' <<<"$headers")
expect "module name in the export directory" "lowpass.auf2" "$dllname"

imports=$(awk '/DLL Name:/ {print $3}' <<<"$headers" | sort -u)
system_dlls=" kernel32.dll user32.dll msvcrt.dll ntdll.dll advapi32.dll gdi32.dll "
bad_imports=()
while read -r dll; do
  [ -n "$dll" ] || continue
  lower=$(tr 'A-Z' 'a-z' <<<"$dll")
  [[ "$system_dlls" == *" $lower "* ]] || bad_imports+=("$dll")
done <<<"$imports"
if [ -z "$imports" ]; then
  fail "no import table found"
elif [ "${#bad_imports[@]}" -eq 0 ]; then
  pass "imports only Windows' own DLLs ($(paste -sd' ' - <<<"$imports"))"
else
  fail "imports other DLLs: ${bad_imports[*]}"
fi

finish
