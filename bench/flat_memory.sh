#!/usr/bin/env bash
# Memory against script length: converts generated scripts of 10,000 and
# 100,000 events with the built kelpie and prints the peak resident memory of
# each. The program holds one group of events and one picture at a time, so
# the two peaks should be about the same.
#
# The generator spaces its events about 3.5 s apart, so past some 13,600
# events they end after 13:14:34.184, the stream clock's last time, and are
# skipped with a warning each. A second run of each size therefore takes the
# hours modulo 13, so that every event is drawn.
#
# usage: bench/flat_memory.sh [BUILD_DIR] [SMALL] [LARGE]
#   BUILD_DIR defaults to ./build; SMALL and LARGE to 10000 and 100000 events.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
small=${2:-10000}
large=${3:-100000}
shared=${KELPIE_SHARED:-$root/../shared}
kelpie=$build/driver/kelpie
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -x "$kelpie" ] || { echo "no kelpie at $kelpie; build first" >&2; exit 1; }
# Runs kelpie on $1 and prints one line of figures, labelled $2.
measure() {
  local script=$1 label=$2
  /usr/bin/time -v -o "$work/time" "$kelpie" "$script" >"$work/out" 2>"$work/err" </dev/null
  local rss wall pictures skipped
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time")
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { print $2 }' "$work/time")
  pictures=$(grep -c '^<subtitle' "$work/err" || true)
  skipped=$(grep -c 'skipped$' "$work/err" || true)
  printf '%-22s script %6d KiB, %6d pictures, %6d skipped, .sup %7d KiB, peak RSS %6d KiB, wall %s\n' \
    "$label" $(($(stat -c %s "$script") / 1024)) "$pictures" "$skipped" \
    $(($(stat -c %s "${script%.ass}.sup") / 1024)) "$rss" "$wall"
}

for events in "$small" "$large"; do
  python3 "$shared/bench/gen_script.py" "$events" "$work/s$events.ass"
  measure "$work/s$events.ass" "$events events:"
  python3 - "$work/s$events.ass" "$work/w$events.ass" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
wrap = lambda m: "%d:%s" % (int(m.group(1)) % 13, m.group(2))
open(sys.argv[2], "w", encoding="utf-8").write(
    re.sub(r"(?<=,)(\d+):(\d\d:\d\d\.\d\d)(?=,)", wrap, text))
PY
  measure "$work/w$events.ass" "$events events, wrapped:"
  rm -f "$work"/*.ass "$work"/*.sup
done
