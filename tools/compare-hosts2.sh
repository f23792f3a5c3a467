#!/usr/bin/env bash
# Runs the 64-bit stand-in host on the native build of the AviUtl2 front end
# (lowpass-auf2.so) and, under wine64, on lowpass.auf2, and compares what
# the two did: every "out" line (the table, the items, and the hash of
# every filtered image) must be identical. Then runs the largest image
# (16384 x 16384) on lowpass.auf2 under wine64.
# Prints one PASS/FAIL line per check and "N passed, M failed".
#   tools/compare-hosts2.sh NATIVE-BUILD-DIR [WINDOWS-BUILD-DIR]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
native="${1:?usage: compare-hosts2.sh NATIVE-BUILD-DIR [WINDOWS-BUILD-DIR]}"
windows="${2:-$root/build/mingw-x86_64}"
wine="$root/tools/wine64-run.sh"

. "$root/tools/check-lib.sh"

# The host's refused allocation asks for 8 TB: a sanitizer build must answer
# it with null, as the system does.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}allocator_may_return_null=1"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_host "native" "$work/native.txt" \
  "$native/tests/hosts/standin_host2/lowpass-host2" "$native/aviutl2/lowpass-auf2.so"
run_host "64-bit Windows (wine64)" "$work/windows.txt" \
  "$wine" "$windows/tests/hosts/standin_host2/lowpass-host2.exe" "$windows/aviutl2/lowpass.auf2"

grep -E '^out ' "$work/native.txt" >"$work/native.out"
grep -E '^out ' "$work/windows.txt" >"$work/windows.out"
compare_out "native and Windows plug-in" "$work/native.out" "$work/windows.out" "filtered images compared by hash"

# Calls share nothing: the two instances give the same results when the
# other one runs first.
run_host "native, instances the other way round" "$work/reverse.txt" \
  "$native/tests/hosts/standin_host2/lowpass-host2" "$native/aviutl2/lowpass-auf2.so" --reverse
forward=$(grep -E '^out instances ' "$work/native.txt")
backward=$(grep -E '^out instances ' "$work/reverse.txt")
if [ -n "$forward" ] && [ "$forward" = "$backward" ]; then
  pass "two instances give the same results in either order (${forward#out instances })"
else
  fail "the instances' results depend on their order: '$forward' against '$backward'"
fi

# The editor's largest image, on the product only: natively the sanitizer
# build would take minutes over it.
run_host "64-bit Windows (wine64), 16384 x 16384" "$work/large.txt" \
  "$wine" "$windows/tests/hosts/standin_host2/lowpass-host2.exe" "$windows/aviutl2/lowpass.auf2" --large
grep -E '^check .*(16384|memory)' "$work/large.txt" | sed 's/^/    /'

finish compare-hosts2
