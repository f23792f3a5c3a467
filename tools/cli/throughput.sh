#!/usr/bin/env bash
# Frames per second of the lowpass tool per engine on a 1920x1080 clip
# (ffmpeg's testsrc2, 4:4:4, read from a file, output discarded), with the
# filter set for a 854x480 target so that both passes run. Best of three
# runs each. Build first: cmake --preset release && cmake --build --preset
# release --target lowpass_tool
#   tools/cli/throughput.sh [path/to/lowpass] [frames]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
tool="${1:-$root/build/release/tools/cli/lowpass}"
frames="${2:-60}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -hide_banner -loglevel error -f lavfi \
  -i "testsrc2=size=1920x1080:rate=30" -frames:v "$frames" -pix_fmt yuv444p -f yuv4mpegpipe "$work/clip.y4m"

echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $frames frames of 1920x1080, -x 854 -y 480"
for engine in scalar mmx sse; do
  best=""
  for run in 1 2 3; do
    start=$(date +%s.%N)
    if ! "$tool" -x 854 -y 480 --engine "$engine" "$work/clip.y4m" /dev/null 2>"$work/err"; then
      echo "$engine: $(cat "$work/err")"
      continue 2
    fi
    end=$(date +%s.%N)
    fps=$(awk -v n="$frames" -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", n / (e - s) }')
    if [ -z "$best" ] || awk -v a="$fps" -v b="$best" 'BEGIN { exit !(a > b) }'; then best=$fps; fi
  done
  echo "$engine: $best frames per second"
done
