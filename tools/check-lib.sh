# Shared pieces of the check scripts (sourced, not run): PASS/FAIL lines
# counted into "NAME: N passed, M failed", the stand-in hosts' runs and
# comparisons, and the checks every plug-in DLL gets.

passed=0
failed=0
skipped=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# skip NAME: a check that cannot run on this machine (the reason is the
# caller's); counted, and listed by the test run's summary.
skip() { echo "SKIP: $*"; skipped=$((skipped + 1)); }
# expect <description> <expected> <actual>
expect() {
  if [ "$2" == "$3" ]; then pass "$1 ($3)"; else fail "$1: expected '$2', got '$3'"; fi
}
# finish NAME: the summary line (", K skipped" only when some were), and
# the exit status.
finish() {
  if [ "$skipped" -gt 0 ]; then
    echo "$1: $passed passed, $failed failed, $skipped skipped"
  else
    echo "$1: $passed passed, $failed failed"
  fi
  [ "$failed" -eq 0 ]
  exit
}

# runs_32bit: true when this machine runs 32-bit x86 programs. The test run
# asks tools/probe-32bit.sh once and passes the answer down in LOWPASS_32BIT;
# a check script run on its own asks it here.
no_32bit_reason="32-bit programs not runnable here (the kernel has no 32-bit support)"
runs_32bit() {
  if [ -z "${LOWPASS_32BIT:-}" ]; then
    LOWPASS_32BIT=$(bash "$(dirname "${BASH_SOURCE[0]}")/probe-32bit.sh")
    export LOWPASS_32BIT
  fi
  [ "$LOWPASS_32BIT" = yes ]
}

# The stand-in hosts' random data (LOWPASS_SEED, tests/hosts/standin_host/seeds.h):
# hosts whose results are compared must draw the same, so "random" is drawn
# here, once, and every run names the seed it replays with.
if [ "${LOWPASS_SEED:-}" = random ]; then
  LOWPASS_SEED=$(((RANDOM << 15) | RANDOM))
  export LOWPASS_SEED
fi
if [ -n "${LOWPASS_SEED:-}" ]; then echo "info: random data from LOWPASS_SEED=$LOWPASS_SEED (it replays this run)"; fi

# run_host LABEL OUTPUT COMMAND...: runs a stand-in host, keeps its output
# (without CR) in OUTPUT, and counts its own verdict ("host: ..." line,
# exit status) into ours.
run_host() {
  local label=$1 out=$2
  shift 2
  "$@" >"$out.raw" 2>&1
  local status=$?
  tr -d '\r' <"$out.raw" >"$out"
  local summary
  summary=$(grep -E '^host: ' "$out" | tail -n 1)
  if [ "$status" -eq 0 ] && [ -n "$summary" ]; then
    pass "$label stand-in host: ${summary#host: }"
  else
    fail "$label stand-in host exited with status $status (${summary:-no summary})"
    grep -E '^check FAIL' "$out" | head -n 20 | sed 's/^/    /'
    tail -n 5 "$out" | sed 's/^/    /'
  fi
}

# compare_out LABEL REFERENCE OUTPUT WHAT: the "out" lines of two runs must
# be identical; WHAT names how the filtered frames ("out frame" lines)
# were compared.
compare_out() {
  local label=$1 reference=$2 output=$3 what=$4
  local lines frames differing
  lines=$(wc -l <"$reference")
  frames=$(grep -c '^out frame ' "$reference")
  if [ "$lines" -gt 0 ] && [ "$frames" -gt 0 ] && cmp -s "$reference" "$output"; then
    pass "$label: identical results, $lines lines, $frames $what"
  else
    differing=$(diff "$reference" "$output" | grep -c '^<')
    fail "$label: $differing of $lines lines differ:"
    diff "$reference" "$output" | head -n 12 | cut -c1-240 | sed 's/^/    /'
  fi
}

# check_dll FILE OBJDUMP FORMAT MAGIC KIND EXPORTS: a Windows DLL of the
# given object format and optional-header magic, exporting exactly EXPORTS
# (sorted, comma-separated), under its own file name, and importing only
# Windows' own DLLs (users have no MinGW runtime DLLs). Sets `headers`.
check_dll() {
  local file=$1 objdump=$2 format_want=$3 magic_want=$4 kind=$5 exports_want=$6
  headers=$($objdump -p "$file")
  local format magic exports dllname imports
  format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$headers" | head -n 1)
  magic=$(awk '$1 == "Magic" {print $2; exit}' <<<"$headers")
  if [ "$format" = "$format_want" ] && [ "$magic" = "$magic_want" ] && grep -qx $'\tDLL' <<<"$headers"; then
    pass "a $kind DLL ($format, magic $magic)"
  else
    fail "not a $kind DLL: format '$format', magic '$magic'"
  fi
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                 on && /^[ \t]*$/ {on = 0}
                 on {print $NF}' <<<"$headers" | sort -u | paste -sd, -)
  expect "export table is exactly $exports_want" "$exports_want" "$exports"
  dllname=$(awk '$1 == "Name" && NF >= 3 {print $3; exit}' <<<"$headers")
  expect "module name in the export directory" "$(basename "$file")" "$dllname"
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$headers" | sort -u)
  local system_dlls=" kernel32.dll user32.dll msvcrt.dll ntdll.dll advapi32.dll gdi32.dll "
  local bad=() dll lower
  while read -r dll; do
    [ -n "$dll" ] || continue
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    [[ "$system_dlls" == *" $lower "* ]] || bad+=("$dll")
  done <<<"$imports"
  if [ -z "$imports" ]; then
    fail "no import table found"
  elif [ "${#bad[@]}" -eq 0 ]; then
    pass "imports only Windows' own DLLs ($(paste -sd' ' - <<<"$imports"))"
  else
    fail "imports other DLLs: ${bad[*]}"
  fi
}

# check_text FILE NAME ENCODING: a text file of a release archive is in
# ENCODING (UTF-8, or CP932 for code page 932) without a BOM, and every
# line, the last included, ends in CR LF. A code page 932 text that holds
# anything but ASCII must not also read as UTF-8: a UTF-8 file can decode
# as code page 932 (as nonsense), so decoding alone would not tell them
# apart.
check_text() {
  local file=$1 name=$2 encoding=$3
  local problems=() lines crlf
  if [ ! -f "$file" ]; then
    fail "$name: missing"
    return
  fi
  [ "$(head -c 3 "$file" | od -An -tx1 | tr -d ' ')" = "efbbbf" ] && problems+=("starts with a BOM")
  iconv -f "$encoding" -t UTF-8 "$file" >/dev/null 2>&1 || problems+=("not $encoding")
  if [ "$encoding" != UTF-8 ] && LC_ALL=C grep -q '[^[:print:][:space:]]' "$file" &&
     iconv -f UTF-8 -t UTF-8 "$file" >/dev/null 2>&1; then
    problems+=("reads as UTF-8")
  fi
  lines=$(wc -l <"$file")
  crlf=$(grep -c $'\r$' "$file")
  [ "$lines" -gt 0 ] && [ "$crlf" -eq "$lines" ] || problems+=("$crlf of $lines lines end in CR LF")
  [ -z "$(tail -c 1 "$file")" ] || problems+=("the last line has no line end")
  if [ "${#problems[@]}" -eq 0 ]; then pass "$name: $encoding without BOM, $lines lines, all CR LF"
  else fail "$name: $(printf '%s; ' "${problems[@]}" | sed 's/; $//')"; fi
}
