#!/usr/bin/env bash
# Builds Oriel and opens its window on the bundled synthetic demo data.
#   scripts/demo.sh            the window (without a display: PNGs of it)
#   scripts/demo.sh --cli      oriel-cli listings of the demo caches instead
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target oriel oriel-cli oriel-synth -- -j"$(nproc)"

demo="$PWD/build/demo"
rm -rf "$demo"
build/default/tests/support/oriel-synth demo "$demo" >/dev/null

# A private option store for the demo: the window's settings stay with it,
# and its trace log goes to the demo folder.
config_dir="$PWD/build/demo-config"
mkdir -p "$config_dir"
export ORIEL_CONFIG="$config_dir/Oriel.ini"
root=""
for d in "$demo" "$demo"/*/; do
  d="${d%/}"
  if [ -d "$d/Users" ] || [ -d "$d/Documents and Settings" ]; then root="$d"; break; fi
done
{
  if [ -n "$root" ]; then
    # A synthetic Windows system: every browser profile on it.
    printf '[System]\nRoot=%s\n[Netscape]\nUseProfiles=0\n' "$root"
  else
    # Cache folders only: the first one with a cache index.
    folder=""
    for d in "$demo"/*/; do
      d="${d%/}"
      for index in _CACHE_MAP_ entries cache.db fat.db dcache4.url index.dat; do
        if [ -e "$d/$index" ] && [ -z "$folder" ]; then folder="$d"; fi
      done
    done
    printf '[Netscape]\nUseProfiles=2\nCache=%s\n' "$folder"
  fi
  printf '[Options]\nCheckVersionOnStartup=0\nMessageDumpFile=%s\n' "$config_dir/Oriel.log"
} >"$ORIEL_CONFIG"

if [ "${1:-}" = "--cli" ]; then
  for folder in "$demo"/*/; do
    if [ -n "$(ls "$folder" 2>/dev/null)" ]; then
      echo "== oriel-cli list $folder"
      build/default/src/oriel-cli list "$folder" | head -n 20 || true
    fi
  done
  exit 0
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # No display to open the window on: pictures of it instead.
  cmake --build --preset default --target oriel-shot -- -j"$(nproc)" >/dev/null
  echo "demo: no display; pictures of the window on the demo data:"
  exec build/default/src/oriel-shot build/demo-shots
fi
exec build/default/src/oriel
