#!/usr/bin/env bash
# The main job: installs what is missing, builds the lowpass tool (release
# configuration) and runs its demo: a zone plate decimated 2:1 without and
# with the filter, and the kernels' frequency response, as PNG files in
# demo/, with the alias energy measured.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target lowpass_tool -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
./build/release/tools/cli/lowpass --demo demo/
