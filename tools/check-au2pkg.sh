#!/usr/bin/env bash
# Checks the AviUtl2 package, build/mingw-x86_64/aviutl2/lowpass.au2pkg.zip,
# after unzipping it:
#   - exactly Plugin/lowpass.auf2 (the built file), Language/English.lowpass.aul2,
#     package.ini and package.txt;
#   - the texts are UTF-8 without BOM, every line ended by CR LF;
#   - package.ini has a [package] section with id, name and information;
#   - the language file has one section named after the filter, and an
#     English text for the filter's name, every item name and every select
#     entry, as the plug-in itself reports them (the native build's table,
#     printed by the stand-in host).
# Prints one PASS/FAIL line per check and "N passed, M failed".
#   tools/check-au2pkg.sh NATIVE-BUILD-DIR [WINDOWS-BUILD-DIR]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
native="${1:?usage: check-au2pkg.sh NATIVE-BUILD-DIR [WINDOWS-BUILD-DIR]}"
windows="${2:-$root/build/mingw-x86_64}"
zip="$windows/aviutl2/lowpass.au2pkg.zip"

. "$root/tools/check-lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$zip" ]; then
  fail "$zip does not exist (build the mingw-x86_64 preset first)"
  finish check-au2pkg
fi
if ! unzip -q "$zip" -d "$work/pkg"; then
  fail "unzip could not read $zip"
  finish check-au2pkg
fi
files=$(cd "$work/pkg" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | paste -sd' ' -)
expected="Language/English.lowpass.aul2 Plugin/lowpass.auf2 package.ini package.txt"
if [ "$files" = "$expected" ]; then pass "package tree: $files"; else fail "package tree: expected '$expected', got '$files'"; fi
if cmp -s "$work/pkg/Plugin/lowpass.auf2" "$windows/aviutl2/lowpass.auf2"; then
  pass "Plugin/lowpass.auf2 is the built plug-in"
else
  fail "Plugin/lowpass.auf2 differs from $windows/aviutl2/lowpass.auf2"
fi

# UTF-8, no BOM, CR LF only.
for text in Language/English.lowpass.aul2 package.ini package.txt; do
  f="$work/pkg/$text"
  [ -f "$f" ] || continue
  problems=()
  [ "$(head -c 3 "$f" | od -An -tx1 | tr -d ' ')" = "efbbbf" ] && problems+=("starts with a BOM")
  iconv -f UTF-8 -t UTF-8 "$f" >/dev/null 2>&1 || problems+=("not UTF-8")
  lines=$(wc -l <"$f")
  crlf=$(grep -c $'\r$' "$f")
  [ "$lines" -gt 0 ] && [ "$crlf" -eq "$lines" ] || problems+=("$crlf of $lines lines end in CR LF")
  [ -z "$(tail -c 1 "$f")" ] || problems+=("the last line has no line end")
  if [ "${#problems[@]}" -eq 0 ]; then pass "$text: UTF-8 without BOM, $lines lines, all CR LF"
  else fail "$text: ${problems[*]}"; fi
done

ini=$(tr -d '\r' <"$work/pkg/package.ini" 2>/dev/null)
if [ "$(head -n 1 <<<"$ini")" = "[package]" ] && grep -qE '^id=lowpass$' <<<"$ini" &&
   grep -qE '^name=.+' <<<"$ini" && grep -qE '^information=.+' <<<"$ini"; then
  pass "package.ini: [package] with id=lowpass, name, information"
else
  fail "package.ini lacks [package], id=lowpass, name or information"
fi

# The texts the plug-in gives the editor, from its own table.
table=$("$native/tools/standin_host2/lowpass-host2" "$native/aviutl2/lowpass-auf2.so" --table 2>&1)
filter=$(sed -n 's/^out table .* name=//p' <<<"$table")
mapfile -t keys < <(sed -nE 's/^out (item [0-9]+ type=[a-z0-9]+|select [0-9]+) name=([^ ]+).*/\2/p' <<<"$table")
if [ -z "$filter" ] || [ "${#keys[@]}" -lt 5 ]; then
  fail "the stand-in host did not print the plug-in's table"
  finish check-au2pkg
fi
aul2=$(tr -d '\r' <"$work/pkg/Language/English.lowpass.aul2" 2>/dev/null | grep -v '^;')
sections=$(grep -E '^\[' <<<"$aul2" | paste -sd' ' -)
if [ "$sections" = "[$filter]" ]; then pass "language file: one section, [$filter]"
else fail "language file sections: expected '[$filter]', got '$sections'"; fi
missing=()
for key in "$filter" "${keys[@]}"; do
  grep -qE "^${key}=.+" <<<"$aul2" || missing+=("$key")
done
if [ "${#missing[@]}" -eq 0 ]; then
  pass "language file: English for the filter and its $((${#keys[@]})) item and select names"
else
  fail "language file: no English for ${missing[*]}"
fi
extra=$(grep -E '^[^[].*=' <<<"$aul2" | cut -d= -f1 | while read -r k; do
  found=0; for key in "$filter" "${keys[@]}"; do [ "$k" = "$key" ] && found=1; done
  [ "$found" -eq 1 ] || echo "$k"; done | paste -sd' ' -)
if [ -z "$extra" ]; then pass "language file: no key the plug-in does not use"
else fail "language file: keys the plug-in does not use: $extra"; fi

finish check-au2pkg
