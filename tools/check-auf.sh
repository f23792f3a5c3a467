#!/usr/bin/env bash
# Checks the built 32-bit Windows plug-in, build/mingw-i686/plugin/lowpass.auf:
#   - its export table is exactly GetFilterTable, undecorated;
#   - it imports only system DLLs (no MinGW runtime DLLs);
#   - its version resource reads back through the version API under wine
#     (language 0x0411, code page 932, versions, Japanese description);
#   - no SSE instruction outside the SSE engine (and the probe's one guarded
#     XORPS), and no MMX instruction outside the vector engines, so that the
#     plug-in loads and runs on a processor with MMX only, or with neither.
# Prints one PASS/FAIL line per check and "N passed, M failed"; exits
# non-zero if anything failed.
#   tools/check-auf.sh [build-dir]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/mingw-i686}"
auf="$build/plugin/lowpass.auf"
map="$auf.map"
verinfo="$build/tools/standin_host/lowpass-verinfo.exe"
objdump=i686-w64-mingw32-objdump

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# expect <description> <expected> <actual>
expect() {
  if [ "$2" == "$3" ]; then pass "$1 ($3)"; else fail "$1: expected '$2', got '$3'"; fi
}

finish() {
  echo "check-auf: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

if [ ! -f "$auf" ]; then
  fail "$auf does not exist (build the mingw-i686 preset first)"
  finish
fi
pass "lowpass.auf built ($(stat -c %s "$auf") bytes)"

headers=$($objdump -p "$auf")

# --- the file ------------------------------------------------------------------
format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$headers" | head -n 1)
magic=$(awk '$1 == "Magic" {print $2; exit}' <<<"$headers")
if [ "$format" = "pei-i386" ] && [ "$magic" = "010b" ] && grep -qx $'\tDLL' <<<"$headers"; then
  pass "a 32-bit Windows DLL (pei-i386, PE32)"
else
  fail "not a 32-bit Windows DLL: format '$format', magic '$magic'"
fi

# --- exports -----------------------------------------------------------------
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
               on && /^[ \t]*$/ {on = 0}
               on {print $NF}' <<<"$headers" | sort -u | paste -sd, -)
expect "export table is exactly GetFilterTable" "GetFilterTable" "$exports"
dllname=$(awk '$1 == "Name" && NF >= 3 {print $3; exit}' <<<"$headers")
expect "module name in the export directory" "lowpass.auf" "$dllname"

# --- imports -----------------------------------------------------------------
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
  pass "imports only system DLLs ($(paste -sd' ' - <<<"$imports"))"
else
  fail "imports non-system DLLs: ${bad_imports[*]}"
fi

# --- version resource, read back through the version API under wine ------------
field() { awk -F= -v k="$1" '$1 == k {sub(/^[^=]*=/, ""); print; exit}' <<<"$info"; }
if [ ! -f "$verinfo" ]; then
  fail "$verinfo does not exist"
else
  # The ANSI half of the version API converts to the process's code page,
  # which wine takes from the locale: a Japanese locale, compiled into the
  # build tree (Debian's "locales" package has its sources), gives 932.
  locales="$build/locale"
  if [ ! -d "$locales/ja_JP.UTF-8" ]; then
    mkdir -p "$locales"
    localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1 || rm -rf "$locales/ja_JP.UTF-8"
  fi
  info=$(LOCPATH="$locales" LC_ALL=ja_JP.UTF-8 "$root/tools/wine-run.sh" "$verinfo" "$auf" 2>&1 | tr -d '\r')
  expect "ANSI code page of the reading process" "932" "$(field acp)"
  expect "version resource tagged with language" "0411" "$(field resource_languages)"
  expect "Translation (language, code page)" "0411,932" "$(field translation)"
  expect "fixed file version" "0.3.5.10" "$(field fixed_file_version)"
  expect "fixed product version" "0.3.5.0" "$(field fixed_product_version)"
  expect "FileVersion text" "0.3.5.10" "$(field FileVersion)"
  expect "ProductVersion text" "0.3.5" "$(field ProductVersion)"
  # 低域通過フィルタ in code page 932, through VerQueryValueA in a Japanese
  # locale and through VerQueryValueW converted to code page 932.
  expect "FileDescription bytes (ANSI API, code page 932)" \
    "92e188e692ca89df83748342838b835e" "$(field FileDescription_cp932_ansi)"
  expect "FileDescription bytes (wide API, converted to code page 932)" \
    "92e188e692ca89df83748342838b835e" "$(field FileDescription_cp932_wide)"
  for key in CompanyName LegalCopyright OriginalFilename; do
    value=$(field "$key")
    if [ -n "$value" ]; then pass "$key present ($value)"; else fail "$key missing"; fi
  done
fi

# --- instruction sets, attributed through the linker map ----------------------
if [ ! -f "$map" ]; then
  fail "$map does not exist (the link writes it next to the file)"
  finish
fi
# Address ranges of every input section of code, with the object it came from.
ranges=$(awk '
  function hex(s,    i, v, c) { sub(/^0x/, "", s); v = 0; for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", tolower(substr(s, i, 1))); v = v * 16 + c - 1 }; return v }
  function emit(addr, size, obj) { if (hex(size) > 0) printf "%.0f %.0f %s\n", hex(addr), hex(addr) + hex(size), obj }
  pending != "" { if ($1 ~ /^0x/) emit($1, $2, $3); pending = ""; next }
  /^ \.text[^ ]*$/ { pending = $1; next }
  /^ \.text[^ ]* +0x/ { emit($2, $3, $4) }
' "$map" | sort -n)
if [ -z "$ranges" ]; then
  fail "no code sections found in the linker map"
  finish
fi

# The exported address is the filter's GetFilterTable.
export_object=$(awk -v ranges="$ranges" -v base="$(awk '$1 == "ImageBase" {print $2; exit}' <<<"$headers")" '
  function hex(s,    i, v, c) { sub(/^0x/, "", s); v = 0; for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", tolower(substr(s, i, 1))); v = v * 16 + c - 1 }; return v }
  /Export RVA/ { rva = $(NF - 2) }
  END {
    a = hex(base) + hex(rva); n = split(ranges, lines, "\n")
    for (i = 1; i <= n; i++) { split(lines[i], f, " "); if (a >= f[1] + 0 && a < f[2] + 0) { print f[3]; exit } }
  }' <<<"$headers")
expect "the exported address lies in the code of" "filter_export.cpp.obj" "$(sed -E 's/^.*[(/]([^()/]+\.obj)\)?$/\1/' <<<"$export_object")"

disassembly=$($objdump -d --no-show-raw-insn "$auf")
# Each vector instruction with its kind (sse or mmx), address, object and text.
classified=$(awk -v ranges="$ranges" '
  function hex(s,    i, v, c) { sub(/^0x/, "", s); v = 0; for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", tolower(substr(s, i, 1))); v = v * 16 + c - 1 }; return v }
  BEGIN {
    n = split(ranges, lines, "\n")
    for (i = 1; i <= n; i++) { split(lines[i], f, " "); lo[i] = f[1] + 0; hi[i] = f[2] + 0; obj[i] = f[3] }
    count = n
    # SSE instructions, and instructions of later sets on MMX registers,
    # which an MMX-only processor lacks as well.
    split("movaps movups movss movhps movlps movhlps movlhps addps addss subps subss mulps mulss divps divss " \
          "sqrtps sqrtss rcpps rcpss rsqrtps rsqrtss maxps maxss minps minss andps andnps orps xorps " \
          "cmpps cmpss comiss ucomiss shufps unpcklps unpckhps cvtpi2ps cvtps2pi cvttps2pi cvtsi2ss " \
          "cvtss2si cvttss2si movmskps movntps ldmxcsr stmxcsr sfence lfence mfence clflush " \
          "prefetchnta prefetcht0 prefetcht1 prefetcht2 pavgb pavgw pextrw pinsrw pmaxsw pmaxub " \
          "pminsw pminub pmovmskb pmulhuw psadbw pshufw maskmovq movntq " \
          "paddq psubq pmuludq movdq2q movq2dq pshufb palignr phaddw phaddd phaddsw phsubw phsubd " \
          "phsubsw pmaddubsw pmulhrsw psignb psignw psignd pabsb pabsw pabsd", names, " ")
    for (i in names) sse[names[i]] = 1
  }
  function objectof(a,    l, h, m) {
    l = 1; h = count
    while (l <= h) { m = int((l + h) / 2); if (a < lo[m]) h = m - 1; else if (a >= hi[m]) l = m + 1; else return obj[m] }
    return "?"
  }
  /^ *[0-9a-f]+:\t/ {
    split($0, parts, "\t"); addr = parts[1]; sub(/:$/, "", addr); sub(/^ */, "", addr)
    text = parts[2]; mnemonic = text; sub(/ .*/, "", mnemonic)
    kind = ""
    if (text ~ /%[xyz]mm[0-9]/ || (mnemonic in sse) || mnemonic ~ /^v/ && text ~ /%[xyz]mm/) kind = "sse"
    else if (text ~ /%mm[0-7]/ || mnemonic == "emms" || mnemonic == "femms") kind = "mmx"
    if (kind != "") printf "%s %s %s %s\n", kind, addr, objectof(hex(addr)), text
  }' <<<"$disassembly")

if [ -n "${CHECK_AUF_DEBUG:-}" ]; then echo "$ranges" >"$CHECK_AUF_DEBUG.ranges"; echo "$classified" >"$CHECK_AUF_DEBUG.classified"; fi
base() { sed -E 's/^.*[(/]([^()/]+\.obj)\)?$/\1/' <<<"$1"; }
sse_allowed=0
sse_bad=()
mmx_allowed=0
mmx_bad=()
sse_in_engine=0
mmx_in_engine=0
probe_xorps=$(awk '/<_?lowpass_xorps_begin>:/ {print $1; exit}' <<<"$disassembly")
while read -r kind addr object text; do
  [ -n "$kind" ] || continue
  file=$(base "$object")
  if [ "$kind" = sse ]; then
    if [ "$file" = "pass_sse.cpp.obj" ]; then
      sse_allowed=$((sse_allowed + 1)); sse_in_engine=$((sse_in_engine + 1))
    elif [ "$file" = "cpu_probe.cpp.obj" ] && [ "$addr" = "$probe_xorps" ] && [[ "$text" == xorps* ]]; then
      sse_allowed=$((sse_allowed + 1))
    else
      sse_bad+=("$addr $file: $text")
    fi
  else
    case "$file" in
      pass_mmx.cpp.obj) mmx_allowed=$((mmx_allowed + 1)); mmx_in_engine=$((mmx_in_engine + 1)) ;;
      pass_sse.cpp.obj|mmx_state.cpp.obj) mmx_allowed=$((mmx_allowed + 1)) ;;
      *) mmx_bad+=("$addr $file: $text") ;;
    esac
  fi
done <<<"$classified"

# The scan must see the engines' own instructions, or it is not looking.
if [ "$sse_in_engine" -gt 0 ]; then pass "the scan finds the SSE engine's instructions ($sse_in_engine in pass_sse.cpp)"
else fail "the scan found no SSE instruction in pass_sse.cpp: the scan or the map attribution is broken"; fi
if [ "$mmx_in_engine" -gt 0 ]; then pass "the scan finds the MMX engine's instructions ($mmx_in_engine in pass_mmx.cpp)"
else fail "the scan found no MMX instruction in pass_mmx.cpp: the scan or the map attribution is broken"; fi
if [ -n "$probe_xorps" ]; then pass "the probe's guarded XORPS is at 0x$probe_xorps"
else fail "the probe's guarded XORPS (lowpass_xorps_begin) was not found"; fi

if [ "${#sse_bad[@]}" -eq 0 ]; then
  pass "no SSE instruction outside the SSE engine and the probe's XORPS ($sse_allowed allowed ones)"
else
  fail "${#sse_bad[@]} SSE instructions outside the SSE engine:"
  printf '    %s\n' "${sse_bad[@]:0:20}"
fi
if [ "${#mmx_bad[@]}" -eq 0 ]; then
  pass "no MMX instruction outside the vector engines and EMMS ($mmx_allowed allowed ones)"
else
  fail "${#mmx_bad[@]} MMX instructions outside the vector engines:"
  printf '    %s\n' "${mmx_bad[@]:0:20}"
fi

finish
