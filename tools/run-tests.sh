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
# What could not run on this machine, by name (each also counted in
# `skipped`).
skipped_names=()

# Machines of our kind differ: some kernels run no 32-bit x86 program (an
# i386 file fails with "Exec format error", and so does Debian's `wine`
# launcher). Asked once here (tools/probe-32bit.sh; LOWPASS_NO_32BIT=1
# forces "no") and passed down to the check scripts in LOWPASS_32BIT.
# Where they do not run, the 32-bit Linux tests run on emulated processors
# only, everything that must run lowpass.auf under wine is skipped and
# named in the summary, and the rest of lowpass.auf's checks (its file, its
# tables, its version resource read from a 64-bit process under wine64)
# and everything 64-bit still run.
LOWPASS_32BIT=$(bash tools/probe-32bit.sh)
export LOWPASS_32BIT
if [ "$LOWPASS_32BIT" = yes ]; then
  summary_32bit="32-bit programs: run natively"
else
  no_32bit_reason="32-bit programs not runnable here (the kernel has no 32-bit support)"
  summary_32bit="32-bit programs: not runnable here (the kernel has no 32-bit support)"
fi
echo "$summary_32bit"
[ -n "${LOWPASS_NO_32BIT:-}" ] && [ "$LOWPASS_NO_32BIT" != 0 ] &&
  echo "(LOWPASS_NO_32BIT is set: the machine is taken as one that runs no 32-bit program)"

# skip_run LABEL: a whole run that needs 32-bit programs, counted as one
# skipped check.
skip_run() {
  echo "=== $1"
  echo "SKIP: $1: $no_32bit_reason"
  skipped=$((skipped + 1))
  skipped_names+=("$1")
}

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
  line=$(grep -E '(^|: )[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    failures+=("$label: no summary")
    failed=$((failed + 1))
  else
    local good bad skip name
    good=$(sed -E 's/.*(^|: )([0-9]+) passed.*/\2/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) failed(, [0-9]+ skipped)?$/\1/' <<<"$line")
    skip=$(sed -nE 's/.* ([0-9]+) skipped$/\1/p' <<<"$line")
    passed=$((passed + good))
    failed=$((failed + bad))
    skipped=$((skipped + ${skip:-0}))
    [ "$bad" -gt 0 ] && failures+=("$label: $bad failed")
    # Each skipped check by name, without the reason the summary gives once.
    while IFS= read -r name; do
      skipped_names+=("$name")
    done < <(sed -nE 's/^SKIP: (.*): 32-bit programs not runnable here.*/\1/p' "$log")
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

# The thread sanitizer's build of what runs on several threads: the AviUtl2
# front end's pool (its stand-in host calling from two threads at once),
# the 1.x plug-in's bands on the host's threads and the tools' pool.
if build tsan; then
  run_ctest "native (thread sanitizer): the pools and the host-thread path" build/tsan
else
  failures+=("build tsan failed")
  failed=$((failed + 1))
fi

# The AviUtl2 plug-in: lowpass.auf2 and its package built for 64-bit
# Windows; the file is checked, the 64-bit stand-in host runs it under
# wine64's own loader (tools/wine64-run.sh sets up build/wineprefix64 once;
# nothing 32-bit runs, so this runs on every machine of ours) and compares
# it with the native build of the same front end (the sanitizer build's),
# and the package is unzipped and checked.
if build mingw-x86_64; then
  run_counted "lowpass.auf2: 64-bit DLL, exports, imports" bash tools/check-auf2.sh build/mingw-x86_64
  if [ -x build/asan/tests/hosts/standin_host2/lowpass-host2 ]; then
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

# The product: lowpass.auf and the whole test suite built for 32-bit Windows;
# the tests run under wine (tools/wine-run.sh sets up build/wineprefix once),
# the file itself is checked (its version resource is read by the 64-bit
# build's reader, so that build comes first), and the stand-in host compares
# the Windows plug-in with the native one (the sanitizer build's) frame by
# frame.
if build mingw-i686; then
  if [ "$LOWPASS_32BIT" = yes ]; then
    run_ctest "32-bit Windows (wine)" build/mingw-i686
  else
    skip_run "32-bit Windows test suite under wine (lowpass_tests.exe)"
  fi
  run_counted "lowpass.auf: exports, imports, version resource, instruction sets" \
    bash tools/check-auf.sh build/mingw-i686 build/mingw-x86_64
  # The release archive, unzipped: its two files, readme.txt's code page
  # and line ends, and that it is the current guide.
  run_counted "lowpass-auf.zip: tree, readme.txt (code page 932, CR LF, the guide)" \
    bash tools/check-auf-zip.sh build/mingw-i686
  if [ -x build/asan/tests/hosts/standin_host/lowpass-host ]; then
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
  # (the probe's answer is printed, not prescribed). Where 32-bit programs
  # do not run, the "max" run above is the one that runs it.
  if [ "$LOWPASS_32BIT" = yes ]; then
    run_emulated native "" ""
  else
    skip_run "32-bit Linux tests on this processor (the qemu-i386 -cpu max run stands in)"
  fi
else
  failures+=("build i686-linux failed")
  failed=$((failed + 1))
fi

# The fuzz targets of the tool's video readers (clang, libFuzzer, address
# and undefined-behaviour sanitizers): the seed corpus replayed, then 20
# seconds of fuzzing per target. HACKING.md, Fuzzing the readers,
# says how to fuzz longer.
if build fuzz; then
  run_counted "fuzz targets of the tool's readers (corpus replay, 2 x 20 s of fuzzing)" \
    bash tools/run-fuzz.sh build/fuzz 20
else
  failures+=("build fuzz failed")
  failed=$((failed + 1))
fi

# The C++ lines changed since formatting began follow .clang-format.
run_counted "format of the changed lines (.clang-format)" bash tools/check-format.sh

# The optimised build of everything (tools, tests, benchmarks) is only
# built here, so that warnings that show only with optimisation are caught;
# docs/performance.md says how to run the benchmarks. A failed build counts
# as a failure and shows its errors.
release_log=$(mktemp)
if ! build release >"$release_log" 2>&1; then
  grep -E -B2 -A6 'error|Error' "$release_log" | head -n 80
  failures+=("build release failed")
  failed=$((failed + 1))
fi
rm -f "$release_log"

echo
echo "$summary_32bit"
if [ "${#skipped_names[@]}" -gt 0 ]; then
  echo "skipped because $no_32bit_reason:"
  for name in "${skipped_names[@]}"; do echo "  - $name"; done
fi
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
