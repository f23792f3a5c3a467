#!/usr/bin/env bash
# Runs the stand-in host on the native plug-in (lowpass.so) and, under wine,
# on the 32-bit Windows plug-in (lowpass.auf), and compares what the two did:
# every "out" line (descriptor, settings, size messages, and the SHA-256 of
# every filtered frame for SIMD on and off, the four windows, twelve sizes
# and four N) must be identical. The reference is the native plug-in on a
# host without exec_multi_thread_func; every other run lends it worker
# threads (natively 3; under wine 1, 2 and 4), whose rounding mode differs
# from the caller's. Does the same with the MMX-only variant of the host,
# and then compares the kernel tables of both builds entry by entry.
# Where this machine runs no 32-bit program, the native runs still run and
# every check of the Windows plug-in is listed as skipped.
# Prints one PASS/FAIL/SKIP line per check and "N passed, M failed[, K skipped]".
#   tools/compare-hosts.sh NATIVE-BUILD-DIR [WINDOWS-BUILD-DIR]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
native="${1:?usage: compare-hosts.sh NATIVE-BUILD-DIR [WINDOWS-BUILD-DIR]}"
windows="${2:-$root/build/mingw-i686}"
wine="$root/tools/wine-run.sh"

. "$root/tools/check-lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- the stand-in host on both builds --------------------------------------------
# compare LABEL REFERENCE OUTPUT: the "out" lines must be identical.
compare() { compare_out "$1" "$2" "$3" "filtered frames compared by SHA-256"; }

run_host "native, no threads" "$work/native.txt" \
  "$native/tests/hosts/standin_host/lowpass-host" "$native/plugin/lowpass.so" --threads 0
grep -E '^out ' "$work/native.txt" >"$work/native.out"
run_host "native, 3 threads" "$work/native-3.txt" \
  "$native/tests/hosts/standin_host/lowpass-host" "$native/plugin/lowpass.so" --threads 3
grep -E '^out ' "$work/native-3.txt" >"$work/native-3.out"
compare "native plug-in with 3 threads and without" "$work/native.out" "$work/native-3.out"
if runs_32bit; then
  for threads in 1 2 4; do
    run_host "32-bit Windows (wine), $threads threads" "$work/windows-$threads.txt" \
      "$wine" "$windows/tests/hosts/standin_host/lowpass-host.exe" "$windows/plugin/lowpass.auf" --threads "$threads"
    grep -E '^out ' "$work/windows-$threads.txt" >"$work/windows-$threads.out"
    compare "native (no threads) and Windows plug-in ($threads threads)" "$work/native.out" "$work/windows-$threads.out"
  done
  cp "$work/windows-2.out" "$work/windows.out"

  # Every engine the settings can choose here must have filtered frames.
  for engine in portable sse; do
    count=$(grep -c "^out frame .* engine=$engine " "$work/windows.out")
    if [ "$count" -gt 0 ]; then pass "Windows plug-in filtered $count cases with the $engine engine"
    else fail "no case ran the $engine engine in the Windows plug-in"; fi
  done
  echo "info: engines chosen by the settings: $(sed -n 's/^out engines //p' "$work/windows.out")"
else
  for threads in 1 2 4; do
    skip "32-bit Windows (wine), $threads threads, stand-in host: $no_32bit_reason"
    skip "native (no threads) and Windows plug-in ($threads threads): $no_32bit_reason"
  done
  for engine in portable sse; do skip "Windows plug-in filtered cases with the $engine engine: $no_32bit_reason"; done
fi

# The MMX engine: the settings choose it only on a processor without SSE,
# which neither this machine nor wine can pretend to be for a loaded module.
# lowpass-host-mmx is the same host linked with the filter, with the
# capabilities set to MMX only after GetFilterTable; it drives the same
# cases through the settings, so the MMX driver runs in both builds.
run_host "native, MMX only" "$work/native-mmx.txt" "$native/tests/hosts/standin_host/lowpass-host-mmx" --threads 0
if runs_32bit; then
  run_host "32-bit Windows (wine), MMX only, 3 threads" "$work/windows-mmx.txt" \
    "$wine" "$windows/tests/hosts/standin_host/lowpass-host-mmx.exe" --threads 3
  grep -E '^out ' "$work/native-mmx.txt" >"$work/native-mmx.out"
  grep -E '^out ' "$work/windows-mmx.txt" >"$work/windows-mmx.out"
  mmx_cases=$(grep -c '^out frame .* engine=mmx ' "$work/windows-mmx.out")
  if [ "$mmx_cases" -gt 0 ] && cmp -s "$work/native-mmx.out" "$work/windows-mmx.out"; then
    pass "MMX only: native (no threads) and Windows build (3 threads) gave identical results, $mmx_cases cases with the MMX engine"
  else
    fail "MMX only: $mmx_cases MMX cases; $(diff "$work/native-mmx.out" "$work/windows-mmx.out" | grep -c '^<') lines differ"
    diff "$work/native-mmx.out" "$work/windows-mmx.out" | head -n 8 | cut -c1-240 | sed 's/^/    /'
  fi

  # For information: the same host under MinGW's start-up control word
  # 0x037F (64-bit precision) instead of the editor's 0x027F.
  "$wine" "$windows/tests/hosts/standin_host/lowpass-host.exe" "$windows/plugin/lowpass.auf" --x87 037f --threads 2 2>&1 |
    tr -d '\r' | grep -E '^out ' >"$work/windows-037f.out"
  if cmp -s "$work/native.out" "$work/windows-037f.out"; then
    echo "info: with the x87 control word 0x037F the Windows results are the same too"
  else
    echo "info: with the x87 control word 0x037F $(diff "$work/native.out" "$work/windows-037f.out" | grep -c '^<') lines differ"
  fi
else
  skip "32-bit Windows (wine), MMX only, 3 threads, stand-in host: $no_32bit_reason"
  skip "MMX only: native (no threads) and Windows build (3 threads) compared: $no_32bit_reason"
fi

# --- kernel tables ----------------------------------------------------------------
if runs_32bit; then
  "$native/tests/hosts/standin_host/lowpass-kernel-tables" >"$work/native.tables" 2>&1
  "$wine" "$windows/tests/hosts/standin_host/lowpass-kernel-tables.exe" 2>&1 | tr -d '\r' >"$work/windows.tables"
  # Compares the two files entry by entry: the 16.16 and 2.14 integer tables
  # must agree exactly. A float32 table entry may differ only where the exact
  # coefficient is zero, that is where sin(2*fc*i*pi) is taken at a whole
  # multiple of pi (X*i a multiple of w): there both builds get a rounding
  # residue of about i*1e-16 instead of zero, from glibc's sin (correctly
  # reduced) on one side and from the x87 FSIN that MinGW's sin uses (which
  # reduces by a 66-bit pi) on the other. Such an entry must stay below 2^-30
  # in both builds. Every accepted difference is counted and reported.
  report=$(awk '
    function hex(s,    i, v) { v = 0; for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1; return v }
    function tiny(bits) { return int(bits / 8388608) % 256 < 97 }   # |value| < 2^-30
    FNR == NR { if ($1 == "tables") first[++n] = $0; next }
    $1 == "tables" {
      m++
      if (!(m in first)) { extra++; next }
      split(first[m], a, " "); split($0, b, " ")
      if (a[2] != b[2] || a[3] != b[3] || a[4] != b[4] || a[5] != b[5] || a[6] != b[6] || a[7] != b[7]) { misordered++; next }
      split(a[3], t, "="); x = t[2]; split(a[4], t, "="); y = t[2]
      split(a[5], t, "="); w = t[2]; split(a[6], t, "="); h = t[2]; split(a[7], t, "="); taps = t[2]
      section = ""; kind = ""; k = 0
      for (i = 8; i <= length(a) || i <= length(b); i++) {
        if (a[i] == "horizontal" || a[i] == "vertical") { section = a[i]; continue }
        if (a[i] == "fixed" || a[i] == "mmx" || a[i] == "sse") { kind = a[i]; k = 0; continue }
        entries[kind]++
        if (a[i] != b[i]) {
          if (kind != "sse") { bad++; if (bad <= 5) detail = detail sprintf("\n    %s %s %s tap %d: %s vs %s", a[2], a[5] " " a[6] " " a[7], section " " kind, k, a[i], b[i]) }
          else {
            off = k - taps; if (off < 0) off = -off
            num = section == "horizontal" ? x : y; den = section == "horizontal" ? w : h
            if (tiny(hex(a[i])) && tiny(hex(b[i])) && off > 0 && (num * off) % den == 0) residues++
            else { bad++; if (bad <= 5) detail = detail sprintf("\n    %s %s %s tap %d: %s vs %s", a[2], a[5] " " a[6] " " a[7], section " sse", k, a[i], b[i]) }
          }
        }
        k++
      }
    }
    END {
      printf "%d %d %d %d %d %d %d %d%s\n", n, m, entries["fixed"], entries["mmx"], entries["sse"], residues, bad + misordered + extra + (n != m), misordered, detail
    }' "$work/native.tables" "$work/windows.tables")
  read -r sets_native sets_windows fixed_entries mmx_entries sse_entries residues table_bad _ <<<"$(head -n 1 <<<"$report")"
  if [ "$sets_native" -gt 0 ] && [ "$table_bad" -eq 0 ]; then
    pass "kernel tables: $sets_native table sets, $fixed_entries fixedTaps and $mmx_entries mmxTaps entries identical in both builds"
    pass "kernel tables: $sse_entries sseTaps entries identical except $residues where the exact coefficient is zero (sin at a multiple of pi: rounding residues below 2^-30 differ, glibc sin vs x87 FSIN)"
  else
    fail "kernel tables differ between the builds ($table_bad unexplained differences; $sets_native vs $sets_windows sets):"
    tail -n +3 <<<"$report"
  fi
else
  skip "kernel tables: fixedTaps and mmxTaps entries of both builds compared: $no_32bit_reason"
  skip "kernel tables: sseTaps entries of both builds compared: $no_32bit_reason"
fi

finish compare-hosts
