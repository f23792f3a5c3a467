#!/usr/bin/env bash
# The whole test run: installs what is missing, builds the sanitizer
# configuration and runs every test, then the 32-bit configurations (Windows
# under wine, Linux on emulated processors), then prints one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh test || exit 1

jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
skipped=0
failures=()

# Runs ctest in a build directory and adds its counts to the totals.
run_ctest() {
  local label=$1 dir=$2
  shift 2
  echo "=== $label"
  local log
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failures+=("$label: no test summary")
    failed=$((failed + 1))
  else
    local total bad skip
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) tests failed.*/\1/' <<<"$line")
    skip=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
    passed=$((passed + total - bad - skip))
    failed=$((failed + bad))
    skipped=$((skipped + skip))
    [ "$bad" -gt 0 ] && failures+=("$label: $bad failed")
  fi
  rm -f "$log"
}

# Runs a check script that ends with "<N> passed, <M> failed" and adds its counts.
run_counted() {
  local label=$1
  shift
  echo "=== $label"
  local log
  log=$(mktemp)
  "$@" 2>&1 | tee "$log"
  local line
  line=$(grep -E '(^|: )[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failures+=("$label: no summary")
    failed=$((failed + 1))
  else
    local good bad
    good=$(sed -E 's/.*(^|: )([0-9]+) passed.*/\2/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")
    passed=$((passed + good))
    failed=$((failed + bad))
    [ "$bad" -gt 0 ] && failures+=("$label: $bad failed")
  fi
  rm -f "$log"
}

build() {
  local preset=$1
  echo "=== build $preset"
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"
}

if build asan; then
  run_ctest "native (address and undefined-behaviour sanitizers)" build/asan
else
  failures+=("build asan failed")
  failed=$((failed + 1))
fi

# The product: lowpass.auf and the whole test suite built for 32-bit Windows;
# the tests run under wine (tools/wine-run.sh sets up build/wineprefix once),
# the file itself is checked, and the stand-in host compares the Windows
# plug-in with the native one (the sanitizer build's) frame by frame.
if build mingw-i686; then
  run_ctest "32-bit Windows (wine)" build/mingw-i686
  run_counted "lowpass.auf: exports, imports, version resource, instruction sets" \
    bash tools/check-auf.sh build/mingw-i686
  if [ -x build/asan/tools/standin_host/lowpass-host ]; then
    run_counted "stand-in host: native and 32-bit Windows plug-in compared" \
      bash tools/compare-hosts.sh build/asan build/mingw-i686
  else
    failures+=("stand-in host comparison: no native build")
    failed=$((failed + 1))
  fi
else
  failures+=("build mingw-i686 failed")
  failed=$((failed + 1))
fi

# The AviUtl2 plug-in: lowpass.auf2 and its package built for 64-bit
# Windows; the file is checked, the 64-bit stand-in host runs it under
# wine64 (tools/wine64-run.sh sets up build/wineprefix64 once) and compares
# it with the native build of the same front end (the sanitizer build's),
# and the package is unzipped and checked.
if build mingw-x86_64; then
  run_counted "lowpass.auf2: 64-bit DLL, exports, imports" bash tools/check-auf2.sh build/mingw-x86_64
  if [ -x build/asan/tools/standin_host2/lowpass-host2 ]; then
    run_counted "64-bit stand-in host: native and lowpass.auf2 under wine64 compared, the largest image" \
      bash tools/compare-hosts2.sh build/asan build/mingw-x86_64
    run_counted "lowpass.au2pkg.zip: tree, texts, names" \
      bash tools/check-au2pkg.sh build/asan build/mingw-x86_64
  else
    failures+=("64-bit stand-in host comparison: no native build")
    failed=$((failed + 1))
  fi
else
  failures+=("build mingw-x86_64 failed")
  failed=$((failed + 1))
fi

# The tests built for 32-bit Linux (g++ -m32, the plug-in's instruction-set
# rules) and run on emulated processors. Each run names the processor's
# CpuCaps and the faster implementations of the SSE arithmetic (SSE2, AVX2)
# the probe must find; the tests of an engine or implementation the
# processor lacks are skipped and say so, those of one it has run and match
# its model. The Pentium II models raise SIGILL on any SSE instruction, and
# the Pentium III on any SSE2 or AVX instruction, which ends such a run as
# a failure. qemu's "max" processor carries out AVX2 and reports the YMM
# state enabled (OSXSAVE, XGETBV), so the 32-bit AVX2 code runs there; it
# has no AVX-512, whose tests are skipped there and run on this processor
# when it has it. (qemu-i386 carries out
# MMX instructions even with -mmx; tools/check-auf.sh checks statically
# that no MMX or SSE instruction lies outside the vector engines.) Fewer
# random cases than natively: every processor is emulated instruction by
# instruction.
run_emulated() {
  local cpu=$1 caps=$2 wide=$3
  local label="32-bit Linux tests on qemu-i386 -cpu $cpu (expected CpuCaps $caps, faster SSE: $wide)"
  local runner=(qemu-i386 -cpu "$cpu")
  if [ "$cpu" = native ]; then
    label="32-bit Linux tests on this processor"
    runner=()
  fi
  echo "=== $label"
  local log rc
  log=$(mktemp)
  LOWPASS_EXPECT_CPU_CAPS=$caps LOWPASS_EXPECT_SSE_IMPLEMENTATIONS=$wide LOWPASS_RANDOM_CASES=200 \
    "${runner[@]}" build/i686-linux/tests/lowpass_tests --gtest_brief=1 >"$log" 2>&1
  rc=$?
  cat "$log"
  local ran good skip bad
  ran=$(sed -nE 's/^\[==========\] ([0-9]+) tests? from .* ran\..*/\1/p' "$log" | tail -n 1)
  good=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log" | tail -n 1)
  skip=$(sed -nE 's/^\[  SKIPPED \] ([0-9]+) tests?[.,].*/\1/p' "$log" | tail -n 1)
  skip=${skip:-0}
  if [ -z "$ran" ] || [ -z "$good" ]; then
    failures+=("$label: no test summary (exit status $rc)")
    failed=$((failed + 1))
  else
    bad=$((ran - good - skip))
    passed=$((passed + good))
    skipped=$((skipped + skip))
    failed=$((failed + bad))
    [ "$bad" -gt 0 ] && failures+=("$label: $bad failed")
    if [ "$bad" -eq 0 ] && [ "$rc" -ne 0 ]; then
      failures+=("$label: exit status $rc")
      failed=$((failed + 1))
    fi
  fi
  rm -f "$log"
}

if build i686-linux; then
  run_emulated "pentium2,-mmx" 0 none  # no MMX, no SSE: only the scalar engine runs
  run_emulated "pentium3,-mmx" 0 none  # SSE reported without MMX: still 0
  run_emulated "pentium2" 1 none       # MMX only: the MMX engine runs and matches its model
  run_emulated "pentium3" 3 none       # MMX and SSE, no SSE2: the reference SSE passes
  run_emulated "max" 3 sse2,avx2       # SSE2 and AVX2 in 32-bit code
  # The same program on the processor running the tests: whatever it has
  # (the probe's answer is printed, not prescribed).
  run_emulated native "" ""
else
  failures+=("build i686-linux failed")
  failed=$((failed + 1))
fi

# The fuzz targets of the tool's video readers (clang, libFuzzer, address
# and undefined-behaviour sanitizers): the seed corpus replayed, then 20
# seconds of fuzzing per target. README, Fuzzing, says how to fuzz longer.
if build fuzz; then
  run_counted "fuzz targets of the tool's readers (corpus replay, 2 x 20 s of fuzzing)" \
    bash tools/run-fuzz.sh build/fuzz 20
else
  failures+=("build fuzz failed")
  failed=$((failed + 1))
fi

# The optimised build of everything (tools, tests, benchmarks) is only
# built here, so that warnings that show only with optimisation are caught;
# README, Performance, says how to run the benchmarks. A failed build counts
# as a failure and shows its errors.
release_log=$(mktemp)
if ! build release >"$release_log" 2>&1; then
  grep -E -B2 -A6 'error|Error' "$release_log" | head -n 80
  failures+=("build release failed")
  failed=$((failed + 1))
fi
rm -f "$release_log"

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
