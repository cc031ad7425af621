#!/usr/bin/env bash
# What a run killed outright leaves behind: converts a generated script over a
# good earlier ".sup" again and again, each run killed with SIGKILL at a
# random moment of its length, and checks after each that the ".sup" is
# either the stream that was there before, byte for byte, or the complete new
# one, and that the folder holds at most one temporary file per killed run.
#
# usage: bench/kill_runs.sh [BUILD_DIR] [RUNS] [EVENTS]
#   BUILD_DIR defaults to ./build, RUNS to 10, EVENTS to 20000.
# The earlier ".sup" is the conversion of a 2000-event script, so that it
# differs from the new one. Needs room for RUNS temporary files of the new
# stream's size (some 120 MB each at 20,000 events).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-10}
events=${3:-20000}
shared=${KELPIE_SHARED:-$root/../shared}
kelpie=$(realpath "$build")/driver/kelpie
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -x "$kelpie" ] || { echo "no kelpie at $kelpie; build first" >&2; exit 1; }
cd "$work"
python3 "$shared/bench/gen_script.py" 2000 earlier.ass
python3 "$shared/bench/gen_script.py" "$events" film.ass
"$kelpie" earlier.ass >/dev/null 2>&1 </dev/null
start=$(date +%s%N)
"$kelpie" film.ass >/dev/null 2>&1 </dev/null
length=$(awk -v ns=$(($(date +%s%N) - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
earlier=$(sha256sum <earlier.sup | cut -c1-64)
new=$(sha256sum <film.sup | cut -c1-64)
echo "a whole run takes ${length} s; earlier stream $(stat -c %s earlier.sup) bytes," \
  "new stream $(stat -c %s film.sup) bytes"
cp earlier.sup film.sup

killed=0
failures=0
for run in $(seq "$runs"); do
  before=$(sha256sum <film.sup | cut -c1-64)
  delay=$(awk -v seed="$RANDOM$run" -v whole="$length" \
    'BEGIN { srand(seed); printf "%.3f", rand() * whole }')
  "$kelpie" film.ass >/dev/null 2>&1 </dev/null &
  pid=$!
  sleep "$delay"
  if kill -KILL "$pid" 2>/dev/null; then killed=$((killed + 1)); fi
  wait "$pid" 2>/dev/null || true
  after=$(sha256sum <film.sup | cut -c1-64)
  case $after in
    "$before") state="as before the run" ;;
    "$new") state="the complete new stream" ;;
    *) state="NEITHER the earlier nor the new stream"; failures=$((failures + 1)) ;;
  esac
  temporaries=$(find . -maxdepth 1 -name '.film.sup.kelpie-*' | wc -l)
  if [ "$temporaries" -gt "$killed" ]; then failures=$((failures + 1)); fi
  echo "run $run: SIGKILL after ${delay} s: the .sup is $state;" \
    "$temporaries temporary file(s) after $killed killed run(s)"
  # The next run starts over the good earlier stream again.
  cp earlier.sup film.sup
done
echo "$failures failure(s) in $runs runs"
[ "$failures" -eq 0 ]
