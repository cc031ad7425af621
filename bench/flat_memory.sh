#!/usr/bin/env bash
# Memory against script length: converts generated scripts of 2,000 and
# 20,000 events, of both kinds the whole-conversion benchmark uses (film and
# layered), with the built kelpie on one thread (KELPIE_THREADS=1) and on all
# cores, and prints the peak resident memory of each run. The program holds
# one group of events and the pictures in hand at a time, so the peaks of the
# two lengths should be about the same; the last lines give their ratio
# (unwrapped runs, see below).
#
# The generator spaces its film events about 3.5 s apart, so past some 13,600
# events they end after 13:14:34.184, the stream clock's last time, and are
# skipped with a warning each. A second run of each script therefore takes
# the hours modulo 13, so that every event is drawn (left out where no time
# reaches 13 hours, as the copy would be the same script).
#
# usage: bench/flat_memory.sh [BUILD_DIR] [SMALL] [LARGE]
#   BUILD_DIR defaults to ./build; SMALL and LARGE to 2000 and 20000 events.
#   KELPIE_BENCH_KINDS chooses "film", "layered" or both (the default).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
small=${2:-2000}
large=${3:-20000}
kinds=${KELPIE_BENCH_KINDS:-film layered}
shared=${KELPIE_SHARED:-$root/../shared}
kelpie=$build/driver/kelpie
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -x "$kelpie" ] || { echo "no kelpie at $kelpie; build first" >&2; exit 1; }

# Runs kelpie on $1 with the environment change $2 (an argument of env);
# sets rss (KiB), wall, pictures and skipped.
run() {
  /usr/bin/time -v -o "$work/time" env "$2" "$kelpie" "$1" >"$work/out" 2>"$work/err" </dev/null
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time")
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time")
  pictures=$(grep -c '^<subtitle' "$work/err" || true)
  skipped=$(grep -c 'skipped$' "$work/err" || true)
}

# Converts $1 on one thread and on all cores and prints one line of figures,
# labelled $2; leaves the two peaks in rss_one and rss_all.
measure() {
  local script=$1 label=$2 wall_one
  run "$script" KELPIE_THREADS=1
  rss_one=$rss wall_one=$wall
  run "$script" -uKELPIE_THREADS
  rss_all=$rss
  printf '%-32s script %6d KiB, %6d pictures, %6d skipped, .sup %7d KiB, peak RSS %6d KiB (1 thread) %6d KiB (all cores), wall %s / %s\n' \
    "$label" $(($(stat -c %s "$script") / 1024)) "$pictures" "$skipped" \
    $(($(stat -c %s "${script%.ass}.sup") / 1024)) "$rss_one" "$rss_all" "$wall_one" "$wall"
}

declare -A peak_one peak_all
for kind in $kinds; do
  case $kind in
    film) seed=1 ;;
    layered) seed=7 ;;
    *) echo "unknown script kind $kind: film or layered" >&2; exit 2 ;;
  esac
  for events in "$small" "$large"; do
    python3 "$shared/bench/gen_script.py" "$events" "$work/s$events.ass" "$seed" "$kind"
    measure "$work/s$events.ass" "$kind, $events events:"
    # The ratios below compare these runs: scripts of the same make-up. The
    # wrapped copy of a long film lays its late hours over its early ones.
    peak_one[$kind$events]=$rss_one peak_all[$kind$events]=$rss_all
    python3 - "$work/s$events.ass" "$work/w$events.ass" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8", newline="").read()
wrap = lambda m: "%d:%s" % (int(m.group(1)) % 13, m.group(2))
open(sys.argv[2], "w", encoding="utf-8", newline="").write(
    re.sub(r"(?<=,)(\d+):(\d\d:\d\d\.\d\d)(?=,)", wrap, text))
PY
    if ! cmp -s "$work/s$events.ass" "$work/w$events.ass"; then
      measure "$work/w$events.ass" "$kind, $events events, wrapped:"
    fi
    rm -f "$work"/*.ass "$work"/*.sup
  done
done

echo
for kind in $kinds; do
  awk -v k="$kind" -v s="$small" -v l="$large" \
    -v o1="${peak_one[$kind$small]}" -v o2="${peak_one[$kind$large]}" \
    -v a1="${peak_all[$kind$small]}" -v a2="${peak_all[$kind$large]}" 'BEGIN {
    printf "%s: peak at %d events / at %d events: %.2f (1 thread), %.2f (all cores)\n",
      k, l, s, o2 / o1, a2 / a1 }'
done
