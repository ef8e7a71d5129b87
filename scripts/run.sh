#!/usr/bin/env bash
# Installs, builds and starts qorserver on its demo (a new project and the
# simulated device network); stop it with Ctrl-C.
# Extra arguments go to qorserver (see: build/default/bin/qorserver --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
exec build/default/bin/qorserver --demo "$@"
