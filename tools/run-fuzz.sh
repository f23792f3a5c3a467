#!/usr/bin/env bash
# Runs the fuzz targets of the tool's video readers (built by the preset
# fuzz): replays each seed corpus (fuzz/corpus/<format>/), then fuzzes each
# target for SECONDS (default 20) starting from its seeds. Prints a line per
# check and ends with "<N> passed, <M> failed".
#
#   tools/run-fuzz.sh [BUILD_DIR [SECONDS [WORK_DIR]]]
#
# What the fuzzer finds goes to WORK_DIR (default: a fresh temporary folder,
# removed afterwards; name a folder to keep the grown corpus and fuzz on
# from it next time): WORK_DIR/<format>/ the new inputs, and a crashing
# input as BUILD_DIR/fuzz-artifacts/<format>-crash-<hash>. Nothing is
# written into the repository's corpus.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
seconds=${2:-20}
work=${3:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

passed=0
failed=0
log=$(mktemp)
for format in y4m yc48; do
  bin=$build/fuzz/lowpass_fuzz_$format
  seeds=fuzz/corpus/$format
  if [ ! -x "$bin" ]; then
    echo "FAILED $format: $bin is not built (cmake --preset fuzz && cmake --build --preset fuzz)"
    failed=$((failed + 2))
    continue
  fi
  count=$(find "$seeds" -type f | wc -l)
  if "$bin" "$seeds"/* >"$log" 2>&1; then
    echo "replay $format: $count seed inputs, no fault"
    passed=$((passed + 1))
  else
    echo "FAILED replay $format:"
    tail -n 30 "$log"
    failed=$((failed + 1))
  fi

  dict=()
  [ -f "fuzz/$format.dict" ] && dict=("-dict=fuzz/$format.dict")
  mkdir -p "$work/$format" "$build/fuzz-artifacts"
  "$bin" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/fuzz-artifacts/$format-" "${dict[@]}" "$work/$format" "$seeds" >"$log" 2>&1
  rc=$?
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log")
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+).*/\1/p' "$log")
  added=$(sed -nE 's/^stat::new_units_added: *([0-9]+).*/\1/p' "$log")
  if [ "$rc" -eq 0 ] && [ -n "$runs" ]; then
    echo "fuzz $format: $runs executions in ${seconds} s ($rate per second), $added new inputs, no fault"
    passed=$((passed + 1))
  else
    echo "FAILED fuzz $format (exit status $rc):"
    grep -E 'round trip:|ERROR|SUMMARY|Test unit written|^artifact' "$log" | head -n 20
    tail -n 30 "$log"
    failed=$((failed + 1))
  fi
done
rm -f "$log"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
