#!/usr/bin/env bash
# The main job: installs what is missing (compiler, CMake, libpng), builds
# the lowpass tool (the `tool` preset: an optimised build without tests or
# benchmarks) and runs its demo: a zone plate decimated 2:1 without and with
# the filter, and the kernels' frequency response, as PNG files in demo/,
# with the alias energy measured.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh demo
cmake --preset tool >/dev/null
cmake --build --preset tool -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
./build/tool/tools/cli/lowpass --demo demo/
