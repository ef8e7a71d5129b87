#!/usr/bin/env bash
# Installs, builds and runs every test. Under CI (CI=true) the build treats
# warnings as errors and the formatting of the sources is checked too.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=default
if [ "${CI:-}" = "true" ]; then preset=ci; fi
bash scripts/build.sh "$preset"
if [ "$preset" = ci ]; then bash scripts/check-format.sh; fi
ctest --preset "$preset" -j "$(nproc)"
