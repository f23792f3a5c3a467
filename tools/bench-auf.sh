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
host=build/mingw-i686/tests/hosts/standin_host/lowpass-host.exe
auf=build/mingw-i686/plugin/lowpass.auf
for f in "$bench" "$host" "$auf"; do
  [ -f "$f" ] || { echo "missing $f (run without --no-build)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cells=("720 480 3" "720 480 15" "1920 1080 3" "1920 1080 15")

# Runs a command and leaves its output in $work/out.txt. Other work on the
# machine shows as processor time that neither this command nor its
# children used: when it exceeds 30 ms plus 3 % of the run's wall time, the
# run is repeated (up to 10 tries; a run still disturbed then counts, and
# the count is printed).
sys_busy() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }  # in 1/100 s
# The processor time of this shell's finished children, ms: `times` must
# run in this shell itself (a subshell has children of its own).
children_ms() {
  awk 'NR == 2 { split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%d", (u[1] * 60 + u[2] + s[1] * 60 + s[2]) * 1000 }' "$work/times"
}
retried=0
disturbed=0
measure() {
  local try t0 t1 b0 b1 c0 c1 wall foreign
  for ((try = 1; try <= 10; ++try)); do
    times >"$work/times"
    c0=$(children_ms); b0=$(sys_busy); t0=$(date +%s%N)
    if ! "$@" >"$work/out.txt" 2>&1; then
      echo "failed: $*" >&2
      tr -d '\r' <"$work/out.txt" | grep -E '^(check FAIL|host:)' >&2 || tail -n 5 "$work/out.txt" >&2
      exit 1
    fi
    t1=$(date +%s%N); b1=$(sys_busy)
    times >"$work/times"
    c1=$(children_ms)
    wall=$(((t1 - t0) / 1000000))
    foreign=$(((b1 - b0) * 10 - (c1 - c0)))
    if [ $((foreign * 100)) -le $((3000 + 3 * wall)) ]; then return; fi
    echo "  other work took $foreign ms of processor time during a $wall ms run; again" >&2
    retried=$((retried + 1))
    sleep 2
  done
  disturbed=$((disturbed + 1))
}

# OpenCV's one-thread time for a cell, ms (median real time of five runs).
opencv_ms() {
  local w=$1 h=$2 n=$3
  measure "$bench" --benchmark_filter="^driver/${w}x${h}/N=${n}/opencv\$" --benchmark_min_time=0.1 \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/opencv.csv" --benchmark_out_format=csv
  cv=$(awk -F, '$1 ~ /_median"$/ { print $3 }' "$work/opencv.csv")
}

# lowpass.auf's median per-frame time for a cell and thread count, ms, in
# $auf_time; the engine it ran in $engine.
auf_ms() {
  local w=$1 h=$2 n=$3 threads=$4
  # About 0.5 s of frames (roughly 3 ns per sample and tap pair here).
  local frames=$((1200000000 / (w * h * (n + 4))))
  [ "$frames" -lt 20 ] && frames=20
  measure tools/wine-run.sh "$host" "$auf" --time "${w}x${h}" --taps "$n" --threads "$threads" --frames "$frames"
  engine=$(tr -d '\r' <"$work/out.txt" | sed -n 's/^time engine=//p')
  auf_time=$(tr -d '\r' <"$work/out.txt" | sed -n 's/^time median=\([0-9.]*\) ms.*/\1/p')
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
lowest() { printf '%s\n' "$@" | sort -g | head -n 1; }
highest() { printf '%s\n' "$@" | sort -g | tail -n 1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# Untimed: sets up the wine prefix on first use; then wine's server is
# started anew to stay up 60 s after its last program (by default it quits
# after 3 s, and its start-up and that of wine's own services would fall
# into a measured run).
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
tools/wine-run.sh "$host" "$auf" --time 64x48 --frames 1 >/dev/null 2>&1
wineserver -w
wineserver -p60
tools/wine-run.sh "$host" "$auf" --time 64x48 --frames 1 >/dev/null 2>&1
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((round = 1; round <= rounds; ++round)); do
  for i in "${!cells[@]}"; do
    read -r w h n <<<"${cells[$i]}"
    opencv_ms "$w" "$h" "$n"
    auf_ms "$w" "$h" "$n" 1
    one=$auf_time
    auf_ms "$w" "$h" "$n" 2
    two=$auf_time
    echo "$cv $one $two $(ratio "$one" "$cv") $(ratio "$two" "$cv")" >>"$work/cell$i"
    echo "round $round/$rounds ${w}x${h} N=$n: OpenCV $cv ms, lowpass.auf $one ms (1 thread), $two ms (2 threads)" >&2
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

field() { awk -v c="$2" '{ print $c }' "$1"; }
cpu=$(awk -F': ' '/^model name/ { name = $2 } /^cpu family/ { family = $2 } /^model\t/ { model = $2 }
  END { printf "%s (family %s, model %s)", name, family, model; exit }' /proc/cpuinfo)
echo "Processor: $cpu, $(nproc) threads available; $(wine --version); engine chosen by lowpass.auf: $engine"
echo "Commit $(git rev-parse --short HEAD 2>/dev/null || echo '?'); $rounds rounds; load average before $load_before, after $load_after;" \
  "$retried runs repeated for other work on the machine, $disturbed still disturbed after 10 tries"
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
