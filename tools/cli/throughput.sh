#!/usr/bin/env bash
# Frames per second of the lowpass tool per engine and thread count on a
# 1920x1080 clip (ffmpeg's testsrc2, 4:4:4, read from a file, output
# discarded), with the filter set for a 854x480 target so that both passes
# run. Median of five runs each (the machine may be shared: the runs of one
# line are printed too). Build first: cmake --preset release && cmake
# --build --preset release --target lowpass_tool
#   tools/cli/throughput.sh [path/to/lowpass] [frames] [engines] [thread counts]
# e.g. tools/cli/throughput.sh build/release/tools/cli/lowpass 60 "sse" "1 2"
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
tool="${1:-$root/build/release/tools/cli/lowpass}"
frames="${2:-60}"
# By default every engine the tool can force (its --help lists the
# registry's), the most preferred first.
engines="${3:-$("$tool" --help | sed -n 's/^ *--engine E *auto|\([^ ]*\) .*/\1/p' | tr '|' '\n' | tac | paste -sd' ')}"
counts="${4:-1 $(nproc)}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -hide_banner -loglevel error -f lavfi \
  -i "testsrc2=size=1920x1080:rate=30" -frames:v "$frames" -pix_fmt yuv444p -f yuv4mpegpipe "$work/clip.y4m"

echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) processors," \
  "$frames frames of 1920x1080, -x 854 -y 480"
for engine in $engines; do
  for threads in $counts; do
    runs=()
    for run in 1 2 3 4 5; do
      start=$(date +%s.%N)
      if ! "$tool" -x 854 -y 480 --engine "$engine" --threads "$threads" "$work/clip.y4m" /dev/null 2>"$work/err"; then
        echo "$engine, $threads threads: $(cat "$work/err")"
        continue 3
      fi
      end=$(date +%s.%N)
      runs+=("$(awk -v n="$frames" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", n / (e - s) }')")
    done
    median=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 3p)
    echo "$engine, $threads thread(s): $median frames per second (runs: ${runs[*]})"
  done
done
