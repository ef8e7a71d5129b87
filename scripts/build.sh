#!/usr/bin/env bash
# Installs what is missing, then configures and builds one preset.
# Usage: scripts/build.sh [preset]   (default: "default"; "ci" under CI)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-${QOR_PRESET:-default}}"
bash scripts/install-deps.sh
if [ ! -f "build/$preset/build.ninja" ]; then
  cmake --preset "$preset"
fi
cmake --build --preset "$preset" -j "$(nproc)"
