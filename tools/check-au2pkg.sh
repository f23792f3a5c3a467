#!/usr/bin/env bash
# Checks the AviUtl2 package, build/mingw-x86_64/aviutl2/lowpass.au2pkg.zip,
# after unzipping it:
#   - exactly Plugin/lowpass.auf2 (the built file), Language/English.lowpass.aul2,
#     package.ini and package.txt;
#   - the texts are UTF-8 without BOM, every line ended by CR LF;
#   - package.ini has a [package] section with id, name and information;
#   - the language file has a section named after the filter, with an
#     English text for the filter's name, every item name and every select
#     entry, and a section [Tips.<filter>] with a tooltip for the filter
#     (effect.name) and for every item, and no other sections or keys; the
#     names are the plug-in's own (the native build's table, printed by the
#     stand-in host).
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

for text in Language/English.lowpass.aul2 package.ini package.txt; do
  check_text "$work/pkg/$text" "$text" UTF-8
done

ini=$(tr -d '\r' <"$work/pkg/package.ini" 2>/dev/null)
if [ "$(head -n 1 <<<"$ini")" = "[package]" ] && grep -qE '^id=lowpass$' <<<"$ini" &&
   grep -qE '^name=.+' <<<"$ini" && grep -qE '^information=.+' <<<"$ini"; then
  pass "package.ini: [package] with id=lowpass, name, information"
else
  fail "package.ini lacks [package], id=lowpass, name or information"
fi

# The texts the plug-in gives the editor, from its own table.
table=$("$native/tests/hosts/standin_host2/lowpass-host2" "$native/aviutl2/lowpass-auf2.so" --table 2>&1)
filter=$(sed -n 's/^out table .* name=//p' <<<"$table")
mapfile -t items < <(sed -nE 's/^out item [0-9]+ type=[a-z0-9]+ name=([^ ]+).*/\1/p' <<<"$table")
mapfile -t entries < <(sed -nE 's/^out select [0-9]+ name=([^ ]+).*/\1/p' <<<"$table")
if [ -z "$filter" ] || [ "${#items[@]}" -lt 5 ] || [ "${#entries[@]}" -lt 4 ]; then
  fail "the stand-in host did not print the plug-in's table"
  finish check-au2pkg
fi
aul2=$(tr -d '\r' <"$work/pkg/Language/English.lowpass.aul2" 2>/dev/null | grep -v '^;')
sections=$(grep -E '^\[' <<<"$aul2" | paste -sd' ' -)
expect "language file: its sections" "[$filter] [Tips.$filter]" "$sections"

# section_keys TITLE KEYS...: the section's keys are exactly KEYS, each
# with a text after the "=".
section_keys() {
  local title=$1
  shift
  local body missing=() extra key
  body=$(awk -v t="$title" '/^\[/ {on = ($0 == t); next} on' <<<"$aul2")
  for key in "$@"; do
    awk -v k="$key" 'index($0, k "=") == 1 && length($0) > length(k) + 1 {found = 1} END {exit !found}' \
      <<<"$body" || missing+=("$key")
  done
  extra=$(grep -E '^[^=]+=' <<<"$body" | cut -d= -f1 | while read -r k; do
    found=0; for key in "$@"; do [ "$k" = "$key" ] && found=1; done
    [ "$found" -eq 1 ] || echo "$k"; done | paste -sd' ' -)
  if [ "${#missing[@]}" -eq 0 ] && [ -z "$extra" ]; then
    pass "language file: $title has a text for each of its $# keys, and no other key"
  else
    fail "language file: $title${missing[*]:+ lacks a text for ${missing[*]}}${extra:+; keys the plug-in does not use: $extra}"
  fi
}
section_keys "[$filter]" "$filter" "${items[@]}" "${entries[@]}"
section_keys "[Tips.$filter]" effect.name "${items[@]}"

finish check-au2pkg
