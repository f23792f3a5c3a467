#!/usr/bin/env bash
# Installs what a job needs, from Debian's packages, only where something is
# missing. Safe to run again.
#   tools/install-deps.sh demo   the lowpass tool and its demo: compiler, CMake, libpng
#   tools/install-deps.sh test   everything the test run builds and runs as well
set -euo pipefail

job=${1:-test}

# The lowpass tool (tools/run-demo.sh).
demo_packages=(cmake g++ make libpng-dev)

# The test run (tools/run-tests.sh): GoogleTest and Google Benchmark, ffmpeg
# for the tool's clips, 32-bit Linux builds run on emulated processors, the
# 32-bit Windows build run under wine (with a Japanese locale for the
# version resource's code page).
test_packages=(
  googletest libgtest-dev libbenchmark-dev
  # OpenCV's separable filter, the benchmark's reference point
  libopencv-dev
  ffmpeg
  g++-multilib qemu-user
  g++-mingw-w64-i686 wine wine32
  locales
  # the release archives, entry by entry the same on every build
  zip
  # the AviUtl2 plug-in (64-bit Windows cross compiler with std::thread,
  # wine64 for its stand-in host, unzip for the package check)
  g++-mingw-w64-x86-64-posix wine64 unzip
  # the fuzz targets (clang with libFuzzer and its sanitizer runtimes)
  clang-14 libclang-rt-14-dev
  # the format check of changed lines (clang-format-diff)
  clang-format
)

case "$job" in
  demo) packages=("${demo_packages[@]}") ;;
  test) packages=("${demo_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

# wine32 is an i386 package.
if [ "$job" = test ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
