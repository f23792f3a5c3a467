#!/usr/bin/env bash
# Checks the built 32-bit Windows plug-in, build/mingw-i686/plugin/lowpass.auf:
#   - its export table is exactly GetFilterTable, undecorated;
#   - it imports only system DLLs (no MinGW runtime DLLs);
#   - its version resource reads back through the version API (language
#     0x0411, code page 932, versions, Japanese description), in a 64-bit
#     process under wine64 (the mingw-x86_64 build's reader) and, where
#     this machine runs 32-bit programs, in a 32-bit one under wine;
#   - no vector instruction outside the files of the engine that needs it:
#     which file may hold which kinds comes from the registry of engines
#     (lowpass-engines, the 32-bit Windows build of tools/engines, run under
#     wine): each engine's file the kinds of the instruction set it is built
#     with. Besides, the EMMS helper may hold MMX instructions, the probe its
#     one guarded XORPS, the MXCSR helper its STMXCSR and LDMXCSR (it runs
#     only where the probe found SSE); nothing else any. So the plug-in
#     loads and runs on a processor with SSE only, MMX only, or neither.
# Prints one PASS/FAIL line per check and "N passed, M failed"; exits
# non-zero if anything failed.
#   tools/check-auf.sh [build-dir] [64-bit-build-dir]
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/mingw-i686}"
auf="$build/plugin/lowpass.auf"
map="$auf.map"
build64="${2:-$root/build/mingw-x86_64}"
verinfo="$build/tests/hosts/standin_host/lowpass-verinfo.exe"
verinfo64="$build64/tests/hosts/standin_host/lowpass-verinfo.exe"
objdump=i686-w64-mingw32-objdump

. "$root/tools/check-lib.sh"

if [ ! -f "$auf" ]; then
  fail "$auf does not exist (build the mingw-i686 preset first)"
  finish check-auf
fi
pass "lowpass.auf built ($(stat -c %s "$auf") bytes)"

check_dll "$auf" "$objdump" pei-i386 010b "32-bit Windows (PE32)" GetFilterTable

# --- version resource, read back through the version API under wine ------------
# Read by a 64-bit program of ours under wine64 (the version API reads a
# 32-bit file from a 64-bit process), which runs on every machine of ours,
# and, where 32-bit programs run, also by the 32-bit one, as the editor's
# own process would.
field() { awk -F= -v k="$1" '$1 == k {sub(/^[^=]*=/, ""); print; exit}' <<<"$info"; }
# The ANSI half of the version API converts to the process's code page,
# which wine takes from the locale: a Japanese locale, compiled into the
# build tree (Debian's "locales" package has its sources), gives 932.
locales="$build/locale"
if [ ! -d "$locales/ja_JP.UTF-8" ]; then
  mkdir -p "$locales"
  localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" >/dev/null 2>&1 || rm -rf "$locales/ja_JP.UTF-8"
fi
# version_checks WHO: the expectations on what the reader printed ($info);
# with skip_reason set, each is listed as skipped instead.
version_checks() {
  local who=$1
  check() { if [ -n "$skip_reason" ]; then skip "$1, $who: $skip_reason"; else expect "$1, $who" "$2" "$3"; fi; }
  check "ANSI code page of the reading process" "932" "$(field acp)"
  check "version resource tagged with language" "0411" "$(field resource_languages)"
  check "Translation (language, code page)" "0411,932" "$(field translation)"
  check "fixed file version" "0.3.5.10" "$(field fixed_file_version)"
  check "fixed product version" "0.3.5.0" "$(field fixed_product_version)"
  check "FileVersion text" "0.3.5.10" "$(field FileVersion)"
  check "ProductVersion text" "0.3.5" "$(field ProductVersion)"
  # 低域通過フィルタ in code page 932, through VerQueryValueA in a Japanese
  # locale and through VerQueryValueW converted to code page 932.
  check "FileDescription bytes (ANSI API, code page 932)" \
    "92e188e692ca89df83748342838b835e" "$(field FileDescription_cp932_ansi)"
  check "FileDescription bytes (wide API, converted to code page 932)" \
    "92e188e692ca89df83748342838b835e" "$(field FileDescription_cp932_wide)"
  local key value
  for key in CompanyName LegalCopyright OriginalFilename; do
    value=$(field "$key")
    if [ -n "$skip_reason" ]; then skip "$key present, $who: $skip_reason"
    elif [ -n "$value" ]; then pass "$key present, $who ($value)"
    else fail "$key missing, $who"; fi
  done
}
# read_version WHO RUNNER READER: runs the reader under wine and checks it.
read_version() {
  local who=$1 runner=$2 reader=$3
  skip_reason=""
  if [ ! -f "$reader" ]; then
    fail "$reader does not exist"
    return
  fi
  info=$(LOCPATH="$locales" LC_ALL=ja_JP.UTF-8 "$runner" "$reader" "$auf" 2>&1 | tr -d '\r')
  version_checks "$who"
}
read_version "64-bit reader under wine64" "$root/tools/wine64-run.sh" "$verinfo64"
if runs_32bit; then
  read_version "32-bit reader under wine" "$root/tools/wine-run.sh" "$verinfo"
else
  info=""
  skip_reason=$no_32bit_reason
  version_checks "32-bit reader under wine"
fi

# --- instruction sets, attributed through the linker map ----------------------
if [ ! -f "$map" ]; then
  fail "$map does not exist (the link writes it next to the file)"
  finish check-auf
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
  finish check-auf
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

disassembly=$($objdump -d "$auf")
# Each vector instruction with its kind, address, object and text. Kinds:
#   mmx    - on MMX registers (and EMMS);
#   sse    - the SSE set (single precision on XMM registers, MXCSR, the
#            prefetches, and SSE's additions on MMX registers);
#   sse2   - any other instruction on XMM registers (SSE2 and later), and
#            later sets' instructions on MMX registers;
#   avx    - VEX-encoded instructions, and anything on YMM registers;
#   avx512 - EVEX-encoded instructions (opcode byte 62 after any prefixes,
#            a V mnemonic; in 32-bit code 62 is also BOUND), and anything
#            on ZMM registers, mask registers or XMM16..31.
classified=$(awk -v ranges="$ranges" '
  function hex(s,    i, v, c) { sub(/^0x/, "", s); v = 0; for (i = 1; i <= length(s); i++) { c = index("0123456789abcdef", tolower(substr(s, i, 1))); v = v * 16 + c - 1 }; return v }
  BEGIN {
    n = split(ranges, lines, "\n")
    for (i = 1; i <= n; i++) { split(lines[i], f, " "); lo[i] = f[1] + 0; hi[i] = f[2] + 0; obj[i] = f[3] }
    count = n
    split("movaps movups movss movhps movlps movhlps movlhps addps addss subps subss mulps mulss divps divss " \
          "sqrtps sqrtss rcpps rcpss rsqrtps rsqrtss maxps maxss minps minss andps andnps orps xorps " \
          "cmpps cmpss comiss ucomiss shufps unpcklps unpckhps cvtpi2ps cvtps2pi cvttps2pi cvtsi2ss " \
          "cvtss2si cvttss2si movmskps movntps ldmxcsr stmxcsr sfence " \
          "prefetchnta prefetcht0 prefetcht1 prefetcht2 pavgb pavgw pextrw pinsrw pmaxsw pmaxub " \
          "pminsw pminub pmovmskb pmulhuw psadbw pshufw maskmovq movntq", names, " ")
    for (i in names) sse[names[i]] = 1
    # SSE2 and later without XMM operands, or on MMX registers.
    split("lfence mfence clflush paddq psubq pmuludq movdq2q movq2dq pshufb palignr phaddw phaddd phaddsw " \
          "phsubw phsubd phsubsw pmaddubsw pmulhrsw psignb psignw psignd pabsb pabsw pabsd", later, " ")
    for (i in later) sse2[later[i]] = 1
  }
  function objectof(a,    l, h, m) {
    l = 1; h = count
    while (l <= h) { m = int((l + h) / 2); if (a < lo[m]) h = m - 1; else if (a >= hi[m]) l = m + 1; else return obj[m] }
    return "?"
  }
  # The first opcode byte after segment, operand-size and address-size
  # prefixes.
  function opcode(bytes,    b, k, i) {
    k = split(bytes, b, " ")
    for (i = 1; i <= k; i++) if (b[i] !~ /^(26|2e|36|3e|64|65|66|67)$/) return b[i]
    return ""
  }
  /^ *[0-9a-f]+:\t/ {
    k = split($0, parts, "\t"); if (k < 3) next  # a line of the bytes of a long instruction
    addr = parts[1]; sub(/:$/, "", addr); sub(/^ */, "", addr)
    text = parts[3]; mnemonic = text; sub(/ .*/, "", mnemonic)
    kind = ""
    if ((mnemonic ~ /^v/ && opcode(parts[2]) == "62") || text ~ /%zmm[0-9]|%k[0-7]|%[xy]mm(1[6-9]|2[0-9]|3[01])/) kind = "avx512"
    else if (text ~ /%ymm[0-9]/ || (mnemonic ~ /^v/ && text ~ /%xmm[0-9]/) || mnemonic ~ /^vzero(upper|all)$/) kind = "avx"
    else if (text ~ /%xmm[0-9]/) kind = ((mnemonic in sse) || mnemonic ~ /^cmp(eq|lt|le|unord|neq|nlt|nle|ord)(ps|ss)$/) ? "sse" : "sse2"
    else if (mnemonic in sse2) kind = "sse2"
    else if (mnemonic in sse) kind = "sse"
    else if (text ~ /%mm[0-7]/ || mnemonic == "emms" || mnemonic == "femms") kind = "mmx"
    if (kind != "") printf "%s %s %s %s\n", kind, addr, objectof(hex(addr)), text
  }' <<<"$disassembly")

if [ -n "${CHECK_AUF_DEBUG:-}" ]; then echo "$ranges" >"$CHECK_AUF_DEBUG.ranges"; echo "$classified" >"$CHECK_AUF_DEBUG.classified"; fi
base() { sed -E 's/^.*[(/]([^()/]+\.obj)\)?$/\1/' <<<"$1"; }

# Which files may hold which kinds: each engine's file the kinds of its
# instruction set, as the registry (lowpass-engines) says; the EMMS helper
# MMX; the probe only its one guarded XORPS; the MXCSR helper only STMXCSR
# and LDMXCSR. Everything else runs on a processor with neither MMX nor SSE.
# The 32-bit build's list where 32-bit programs run, else the 64-bit
# build's under wine64: the same registry, of which the engines of
# lowpass.auf are those for its front end (front-ends=auf).
if runs_32bit; then
  engine_list="$build/tools/engines/lowpass-engines.exe" engine_runner="$root/tools/wine-run.sh"
else
  engine_list="$build64/tools/engines/lowpass-engines.exe" engine_runner="$root/tools/wine64-run.sh"
fi
declare -A allowed_kinds=() own_kind=()
if [ ! -f "$engine_list" ]; then
  fail "$engine_list does not exist (the registry of engines, built with the mingw-i686 and mingw-x86_64 presets)"
  finish check-auf
fi
registry=$("$engine_runner" "$engine_list" 2>&1 | tr -d '\r')
declare -A isa_kinds=()
while read -r word isa kinds; do
  [ "$word" = isa ] && isa_kinds[$isa]=${kinds#kinds=}
done <<<"$registry"
engines=0
while read -r word name rest; do
  [ "$word" = engine ] || continue
  [[ " $rest " =~ \ front-ends=([^ ]*) ]] && [[ ",${BASH_REMATCH[1]}," == *,auf,* ]] || continue
  isa=$(sed -n 's/.*\bisa=\([^ ]*\).*/\1/p' <<<"$rest")
  source=$(sed -n 's/.*\bsource=\([^ ]*\).*/\1/p' <<<"$rest")
  [ -n "$isa" ] && [ -n "$source" ] || continue
  engines=$((engines + 1))
  object="$(basename "$source").obj"
  allowed_kinds[$object]=${isa_kinds[$isa]:-}
  # The kind only this engine's set brings: the scan must find it there.
  [ -n "${isa_kinds[$isa]:-}" ] && own_kind[$object]=${isa_kinds[$isa]##*,}
done <<<"$registry"
if [ "$engines" -gt 0 ] && [ "${#isa_kinds[@]}" -gt 0 ]; then
  pass "the registry names $engines engines, their files and instruction sets (lowpass-engines)"
else
  fail "no engines read from the registry (lowpass-engines said: $(head -n 3 <<<"$registry"))"
  finish check-auf
fi
allowed_kinds[mmx_state.cpp.obj]=mmx
allowed() {
  [[ ",${allowed_kinds[$2]:-}," == *",$1,"* ]]
}
declare -A seen=()
bad=()
allowed_count=0
probe_xorps=$(awk '/<_?lowpass_xorps_begin>:/ {print $1; exit}' <<<"$disassembly")
while read -r kind addr object text; do
  [ -n "$kind" ] || continue
  file=$(base "$object")
  if allowed "$kind" "$file" ||
    { [ "$kind" = sse ] && [ "$file" = "cpu_probe.cpp.obj" ] && [ "$addr" = "$probe_xorps" ] && [[ "$text" == xorps* ]]; } ||
    { [ "$kind" = sse ] && [ "$file" = "mxcsr.cpp.obj" ] && [[ "$text" == stmxcsr* || "$text" == ldmxcsr* ]]; }; then
    allowed_count=$((allowed_count + 1))
    seen[$kind:$file]=$((${seen[$kind:$file]:-0} + 1))
  else
    bad+=("$kind $addr $file: $text")
  fi
done <<<"$classified"

# The scan must see each engine's own instructions, or it is not looking.
for object in $(printf '%s\n' "${!own_kind[@]}" | sort); do
  expected="${own_kind[$object]}:$object"
  if [ "${seen[$expected]:-0}" -gt 0 ]; then pass "the scan finds ${expected%%:*} instructions in ${expected#*:} (${seen[$expected]})"
  else fail "the scan found no ${expected%%:*} instruction in ${expected#*:}: the scan, the map attribution or the registry's file name is wrong"; fi
done
if [ "${seen[sse:mxcsr.cpp.obj]:-0}" -eq 2 ]; then pass "the MXCSR helper's STMXCSR and LDMXCSR are found (mxcsr.cpp)"
else fail "expected one STMXCSR and one LDMXCSR in mxcsr.cpp, found ${seen[sse:mxcsr.cpp.obj]:-0}: the scan or the map attribution is broken"; fi
if [ -n "$probe_xorps" ]; then pass "the probe's guarded XORPS is at 0x$probe_xorps"
else fail "the probe's guarded XORPS (lowpass_xorps_begin) was not found"; fi

if [ "${#bad[@]}" -eq 0 ]; then
  pass "every MMX, SSE, SSE2, AVX and AVX-512 instruction lies in the files allowed it ($allowed_count)"
else
  fail "${#bad[@]} vector instructions outside the files allowed them:"
  printf '    %s\n' "${bad[@]:0:20}"
fi

finish check-auf
