#!/usr/bin/env bash
# The main job: installs what is missing, builds the release configuration
# and filters a built-in test frame through the stand-in host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
./build/release/tools/lowpass-frame-demo
