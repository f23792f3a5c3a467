#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, only
# where something is missing. Safe to run again.
set -euo pipefail

packages=(
  cmake g++ make
  googletest libgtest-dev libbenchmark-dev
  # OpenCV's separable filter, the benchmark's reference point
  libopencv-dev
  libpng-dev ffmpeg
  g++-multilib qemu-user
  g++-mingw-w64-i686 wine wine32
  locales
)

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
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
