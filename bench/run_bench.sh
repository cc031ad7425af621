#!/usr/bin/env bash
# Whole-conversion benchmark: converts a generated script with the built
# kelpie and times libass rendering the same events as a yardstick, in the
# same run and on the same core.
#
# usage: bench/run_bench.sh [BUILD_DIR] [EVENTS]
#   BUILD_DIR defaults to ./build, EVENTS to 2000.
# Prints pictures per second, wall and CPU seconds, peak resident memory, and
# the ratio of kelpie's wall time to libass's (best of five runs each, taking
# turns; KELPIE_BENCH_ROUNDS sets another number).
# The generator spaces events about 3.5 s apart, so beyond some 13,600 events
# they end after 13:14:34.184, the last time the stream's clock can carry;
# kelpie skips those with a warning, which the picture count shows.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
events=${2:-2000}
shared=${KELPIE_SHARED:-$root/../shared}
kelpie=$build/driver/kelpie
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -x "$kelpie" ] || { echo "no kelpie at $kelpie; build first" >&2; exit 1; }
python3 "$shared/bench/gen_script.py" "$events" "$work/bench.ass"
cc -O2 "$shared/bench/libass_bench.c" $(pkg-config --cflags --libs libass) -o "$work/libass_bench"

# Both programs are single-threaded; pin them to one core when taskset is
# there, so that both are measured alike.
pin=()
if command -v taskset >/dev/null; then pin=(taskset -c "$(($(nproc) - 1))"); fi

# Runs a command under GNU time; prints "wall cpu maxrss_kb". Wall time is
# taken to the microsecond around the run (GNU time gives hundredths only).
measure() {
  local start=$EPOCHREALTIME
  if ! "${pin[@]}" /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" \
      >"$work/stdout" 2>"$work/stderr" </dev/null; then
    echo "failed: $*" >&2
    tail -5 "$work/stderr" >&2
    exit 1
  fi
  local end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" '{ printf "%.3f %.2f %s\n", e - s, $1 + $2, $3 }' "$work/time"
}

# Best of five runs for each, the two programs taking turns, so that both
# see the machine alike even when its load drifts during the session.
rounds=${KELPIE_BENCH_ROUNDS:-5}
k_wall="" l_wall=""
for _ in $(seq "$rounds"); do
  read -r wall cpu rss <<<"$(measure "$kelpie" "$work/bench.ass")"
  if [ -z "$k_wall" ] || awk -v a="$wall" -v b="$k_wall" 'BEGIN{exit !(a<b)}'; then
    k_wall=$wall k_cpu=$cpu k_rss=$rss
    pictures=$(grep -c 'Image\[' "$work/stdout" || true)
  fi
  read -r wall cpu rss <<<"$(measure "$work/libass_bench" "$work/bench.ass")"
  if [ -z "$l_wall" ] || awk -v a="$wall" -v b="$l_wall" 'BEGIN{exit !(a<b)}'; then
    l_wall=$wall l_cpu=$cpu l_rss=$rss
  fi
done

echo "events:            $events"
echo "pictures:          $pictures"
echo "sup bytes:         $(stat -c %s "$work/bench.sup")"
echo "kelpie wall s:     $k_wall"
echo "kelpie cpu s:      $k_cpu"
echo "kelpie peak RSS:   $((k_rss / 1024)) MB ($k_rss KiB)"
awk -v p="$pictures" -v w="$k_wall" 'BEGIN{ if (w > 0) printf "pictures/s:        %.0f\n", p / w }'
echo "libass wall s:     $l_wall (cpu $l_cpu, peak RSS $((l_rss / 1024)) MB)"
awk -v k="$k_wall" -v l="$l_wall" 'BEGIN{ if (l > 0) printf "ratio kelpie/libass: %.2f\n", k / l }'
