#!/usr/bin/env bash
# Installs the Debian packages the project builds, runs and tests with.
# Idempotent: asks apt only for what is missing, and updates the package lists
# only when something has to be installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config python3 git
  libboost-dev nlohmann-json3-dev libflatbuffers-dev flatbuffers-compiler
  libspdlog-dev libfmt-dev libzip-dev zlib1g-dev libisal-dev libcli11-dev
  libsimdjson-dev libabsl-dev libtcmalloc-minimal4
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  nodejs chromium
  python3-flatbuffers python3-websocket
)
# clang and its runtime (libFuzzer) build the fuzz targets (preset "fuzz").
optional=(ccache clang-format clang libclang-rt-14-dev)

missing=()
for p in "${packages[@]}" "${optional[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# The browser client builds with npm. Debian ships it as a package of its own;
# a Node.js from elsewhere brings its own npm, which Debian's would conflict with.
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
# Optional tools may be missing from a mirror; required ones may not.
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
  || "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
       $(printf '%s\n' "${missing[@]}" | grep -v -x -F -f <(printf '%s\n' "${optional[@]}"))
echo "install-deps: done"
