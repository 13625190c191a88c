#!/usr/bin/env bash
# Builds Oriel and shows it at work on the bundled synthetic demo data.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -- -j"$(nproc)"
demo=build/demo
rm -rf "$demo"
build/default/tests/support/oriel-synth demo "$demo"
export ORIEL_CONFIG="$PWD/build/demo-config/Oriel.ini"
for folder in "$demo"/*/; do
  if [ -n "$(ls "$folder" 2>/dev/null)" ]; then
    echo "== oriel-cli list $folder"
    build/default/src/oriel-cli list "$folder" | head -n 20 || true
  fi
done
