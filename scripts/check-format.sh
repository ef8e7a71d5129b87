#!/usr/bin/env bash
# Fails when a tracked C++ source differs from .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format not installed, skipped"
  exit 0
fi
files=$(git ls-files '*.h' '*.cpp' 2>/dev/null || true)
[ -z "$files" ] && exit 0
# shellcheck disable=SC2086
clang-format --dry-run -Werror $files
echo "check-format: ok"
