#!/usr/bin/env bash
# Times the 32-bit lowpass.auf as the editor runs it (the stand-in host
# lowpass-host.exe under wine: GetFilterTable, one settings update with
# SIMD on, func_proc with the x87 control word 0x027F on a 4-byte aligned
# stack) with one and with two host threads, next to OpenCV's
# cv::sepFilter2D on one thread (the native benchmark, same frame sizes,
# taps and kernel), and prints a markdown table of the medians.
#
# Cells: 720x480 and 1920x1080, N = 3 and 15; X = 0.44 w, Y = 0.44 h,
# Blackman, both passes. Each round runs, cell by cell, OpenCV (median of
# five 0.1 s repetitions), then lowpass.auf with 1 and with 2 threads
# (median per-frame time of about 0.5 s of frames, after an untimed first
# frame); a cell's time is the median over the rounds, its ratio the
# median of the rounds' ratios (each taken within its round), lowest and
# highest in brackets. All times are wall-clock: run it on a quiet machine.
#
# A measurement, not a test (tools/run-tests.sh does not run it). It
# installs what is missing (tools/install-deps.sh test) and builds the
# `bench` preset's lowpass_bench and the `mingw-i686` preset's lowpass.auf
# and lowpass-host.exe.
#   tools/bench-auf.sh [--rounds R] [--no-build]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

rounds=5
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds) rounds=${2:?--rounds needs a count}; shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "usage: $0 [--rounds R] [--no-build]" >&2; exit 2 ;;
  esac
done

if [ "$build" = 1 ]; then
  bash tools/install-deps.sh test >&2
  for preset in bench mingw-i686; do
    cmake --preset "$preset" >/dev/null
  done
  cmake --build --preset bench -j 2 --target lowpass_bench >&2
  cmake --build --preset mingw-i686 -j 2 --target lowpass lowpass-host >&2
fi
bench=build/bench/bench/lowpass_bench
host=build/mingw-i686/tools/standin_host/lowpass-host.exe
auf=build/mingw-i686/plugin/lowpass.auf
for f in "$bench" "$host" "$auf"; do
  [ -f "$f" ] || { echo "missing $f (run without --no-build)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cells=("720 480 3" "720 480 15" "1920 1080 3" "1920 1080 15")

# OpenCV's one-thread time for a cell, ms (median real time of five runs).
opencv_ms() {
  local w=$1 h=$2 n=$3
  "$bench" --benchmark_filter="^driver/${w}x${h}/N=${n}/opencv\$" --benchmark_min_time=0.1 \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/opencv.csv" --benchmark_out_format=csv >/dev/null 2>&1
  awk -F, '$1 ~ /_median"$/ { print $3 }' "$work/opencv.csv"
}

# lowpass.auf's median per-frame time for a cell and thread count, ms; the
# engine line goes to $work/engine.
auf_ms() {
  local w=$1 h=$2 n=$3 threads=$4
  # About 0.5 s of frames (roughly 3 ns per sample and tap pair here).
  local frames=$((1200000000 / (w * h * (n + 4))))
  [ "$frames" -lt 20 ] && frames=20
  if ! tools/wine-run.sh "$host" "$auf" --time "${w}x${h}" --taps "$n" --threads "$threads" \
      --frames "$frames" 2>&1 | tr -d '\r' >"$work/host.txt"; then
    echo "lowpass-host failed:" >&2
    grep -E '^(check FAIL|host:)' "$work/host.txt" >&2 || tail -n 5 "$work/host.txt" >&2
    exit 1
  fi
  sed -n 's/^time engine=//p' "$work/host.txt" >"$work/engine"
  sed -n 's/^time median=\([0-9.]*\) ms.*/\1/p' "$work/host.txt"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
lowest() { printf '%s\n' "$@" | sort -g | head -n 1; }
highest() { printf '%s\n' "$@" | sort -g | tail -n 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
if awk -v l="${load_before%% *}" 'BEGIN { exit !(l > 0.5) }'; then
  echo "warning: load average $load_before: other work is running, the times will be high and the two-thread ones most" >&2
fi
for ((round = 1; round <= rounds; ++round)); do
  for i in "${!cells[@]}"; do
    read -r w h n <<<"${cells[$i]}"
    cv=$(opencv_ms "$w" "$h" "$n")
    one=$(auf_ms "$w" "$h" "$n" 1)
    two=$(auf_ms "$w" "$h" "$n" 2)
    echo "$cv $one $two $(ratio "$one" "$cv") $(ratio "$two" "$cv")" >>"$work/cell$i"
    echo "round $round/$rounds ${w}x${h} N=$n: OpenCV $cv ms, lowpass.auf $one ms (1 thread), $two ms (2 threads)" >&2
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

field() { awk -v c="$2" '{ print $c }' "$1"; }
cpu=$(awk -F': ' '/^model name/ { name = $2 } /^cpu family/ { family = $2 } /^model\t/ { model = $2 }
  END { printf "%s (family %s, model %s)", name, family, model; exit }' /proc/cpuinfo)
echo "Processor: $cpu, $(nproc) threads available; $(wine --version); engine chosen by lowpass.auf: $(cat "$work/engine")"
echo "Commit $(git rev-parse --short HEAD 2>/dev/null || echo '?'); $rounds rounds; load average before $load_before, after $load_after"
echo
echo "| frame | N | OpenCV, 1 thread | lowpass.auf, 1 thread | lowpass.auf, 2 threads |"
echo "|---|---:|---:|---:|---:|"
for i in "${!cells[@]}"; do
  read -r w h n <<<"${cells[$i]}"
  f="$work/cell$i"
  mapfile -t r1 < <(field "$f" 4)
  mapfile -t r2 < <(field "$f" 5)
  printf '| %s × %s | %s | %.2f ms | %.2f ms, %.2f× (%.2f–%.2f) | %.2f ms, %.2f× (%.2f–%.2f) |\n' "$w" "$h" "$n" \
    "$(median $(field "$f" 1))" \
    "$(median $(field "$f" 2))" "$(median "${r1[@]}")" "$(lowest "${r1[@]}")" "$(highest "${r1[@]}")" \
    "$(median $(field "$f" 3))" "$(median "${r2[@]}")" "$(lowest "${r2[@]}")" "$(highest "${r2[@]}")"
done
