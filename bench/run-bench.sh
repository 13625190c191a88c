#!/usr/bin/env bash
# Times "oriel-cli export" against the peers msiecfexport and pasco on one
# synthetic Internet Explorer index.dat of 40,000 records (about the most the
# 5.2 allocation bitmap addresses), best of 3 runs each, and checks that all
# three see every record.
#
#   bench/run-bench.sh [ORIEL_SYNTH ORIEL_CLI]
#
# Defaults to the binaries of build/default. ORIEL_BENCH_ENTRIES changes the
# record count. Exits non-zero when a tool fails or misses records; the speed
# targets (oriel-cli at least 10 times faster than msiecfexport, and under
# 0.1 s) are reported, not enforced, since timings depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
synth="${1:-build/default/tests/support/oriel-synth}"
cli="${2:-build/default/src/oriel-cli}"
entries="${ORIEL_BENCH_ENTRIES:-40000}"

for tool in "$synth" "$cli"; do
  [ -x "$tool" ] || { echo "bench: $tool not built" >&2; exit 1; }
done
for tool in msiecfexport pasco; do
  command -v "$tool" >/dev/null || { echo "bench: $tool not installed (scripts/install-deps.sh)" >&2; exit 1; }
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf '[Options]\nMessageDumpFile=""\n' >"$work/Oriel.ini"
export ORIEL_CONFIG="$work/Oriel.ini"

"$synth" index-dat "$work/ie" --entries "$entries" --seed 7 --no-bodies >/dev/null
file="$work/ie/index.dat"
echo "bench: $file, $(stat -c %s "$file") bytes, $entries records"

# best_of_3 NAME COMMAND...: runs the command 3 times with its output in
# $work/NAME.out and prints the best wall time in seconds.
best_of_3() {
  local name="$1" best="" start end t
  shift
  for _ in 1 2 3; do
    start="$EPOCHREALTIME"
    "$@" >"$work/$name.out" 2>"$work/$name.err" || { echo "bench: $name failed:" >&2; cat "$work/$name.err" >&2; exit 1; }
    end="$EPOCHREALTIME"
    t="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')"
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$t"; fi
  done
  echo "$best"
}

t_oriel="$(best_of_3 oriel "$cli" export "$work/ie")"
t_msiecf="$(best_of_3 msiecfexport msiecfexport -m items "$file")"
t_pasco="$(best_of_3 pasco pasco "$file")"

# Records each tool saw: CSV rows after the five header lines; one
# "Record type" line per msiecfexport item; one typed row per pasco record.
n_oriel=$(( $(wc -l <"$work/oriel.out") - 5 ))
n_msiecf="$(grep -c '^Record type' "$work/msiecfexport.out" || true)"
n_pasco="$(grep -cE '^(URL|LEAK|REDR)'$'\t' "$work/pasco.out" || true)"

printf '%-14s %9s s  %6s records\n' "oriel-cli" "$t_oriel" "$n_oriel" "msiecfexport" "$t_msiecf" "$n_msiecf" \
  "pasco" "$t_pasco" "$n_pasco"
awk -v o="$t_oriel" -v m="$t_msiecf" -v p="$t_pasco" 'BEGIN {
  if (o <= 0) o = 0.0001
  printf "ratios: msiecfexport/oriel-cli %.1fx, pasco/oriel-cli %.1fx\n", m / o, p / o
  printf "target oriel-cli >= 10x faster than msiecfexport: %s\n", (m / o >= 10 ? "met" : "MISSED")
  printf "target oriel-cli under 0.1 s: %s\n", (o < 0.1 ? "met" : "MISSED")
}'

status=0
for pair in "oriel-cli:$n_oriel" "msiecfexport:$n_msiecf" "pasco:$n_pasco"; do
  if [ "${pair#*:}" -ne "$entries" ]; then
    echo "bench: ${pair%%:*} saw ${pair#*:} records, not $entries" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "bench: all three saw $entries records"
exit "$status"
