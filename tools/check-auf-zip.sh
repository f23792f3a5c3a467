#!/usr/bin/env bash
# Checks the 1.x release, build/mingw-i686/plugin/lowpass-auf.zip, after
# unzipping it:
#   - exactly lowpass.auf (the built file) and readme.txt;
#   - readme.txt is code page 932 without BOM, every line ended by CR LF;
#   - read back as UTF-8 with LF, it is README.ja.md of this tree (so the
#     archive carries the current guide, whole).
# Prints one PASS/FAIL line per check and "N passed, M failed".
#   tools/check-auf-zip.sh [build-dir]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/mingw-i686}"
zip="$build/plugin/lowpass-auf.zip"

. "$root/tools/check-lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$zip" ]; then
  fail "$zip does not exist (build the mingw-i686 preset first)"
  finish check-auf-zip
fi
if ! unzip -q "$zip" -d "$work/zip"; then
  fail "unzip could not read $zip"
  finish check-auf-zip
fi
files=$(cd "$work/zip" && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort | paste -sd' ' -)
expect "archive tree" "lowpass.auf readme.txt" "$files"
if cmp -s "$work/zip/lowpass.auf" "$build/plugin/lowpass.auf"; then
  pass "lowpass.auf is the built plug-in"
else
  fail "lowpass.auf differs from $build/plugin/lowpass.auf"
fi

check_text "$work/zip/readme.txt" readme.txt CP932
if [ -f "$work/zip/readme.txt" ] &&
   iconv -f CP932 -t UTF-8 "$work/zip/readme.txt" 2>/dev/null | tr -d '\r' | cmp -s - "$root/README.ja.md"; then
  pass "readme.txt is README.ja.md ($(wc -l <"$root/README.ja.md") lines)"
else
  fail "readme.txt, read as code page 932 without CR, is not README.ja.md"
fi

finish check-auf-zip
