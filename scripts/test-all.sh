#!/usr/bin/env bash
# Builds both presets (default and asan) and runs every test in each.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs="${ORIEL_JOBS:-$(nproc)}"
for preset in default asan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -- -j"$jobs"
  echo "== $preset: test"
  ctest --preset "$preset" -j"$jobs"
done
