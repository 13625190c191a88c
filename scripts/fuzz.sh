#!/usr/bin/env bash
# Runs one libFuzzer harness: scripts/fuzz.sh NAME SECONDS
# NAME is the harness without "Fuzzer" (IndexDat) or with it (IndexDatFuzzer).
set -euo pipefail
cd "$(dirname "$0")/.."
name="${1:?usage: scripts/fuzz.sh NAME SECONDS}"
seconds="${2:-30}"
name="${name%Fuzzer}Fuzzer"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "$name" -- -j2 >/dev/null
bin="build/fuzz/fuzz/$name"
corpus="build/fuzz/corpus/$name"
mkdir -p "$corpus"
ORIEL_WRITE_SEEDS="$corpus" "$bin"
regressions="fuzz/regressions/$name"
mkdir -p "build/fuzz/artifacts/$name"
args=("$corpus")
[ -d "$regressions" ] && args+=("$regressions")
echo "fuzz: $name for ${seconds}s"
"$bin" "${args[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="build/fuzz/artifacts/$name/" -print_final_stats=1 2>&1 | tail -n 15
