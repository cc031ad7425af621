#!/usr/bin/env bash
# Whole-conversion benchmark: converts generated scripts with the built
# kelpie, on one thread and on all cores, and times libass rendering the same
# events as a yardstick, in the same session.
#
# usage: bench/run_bench.sh [BUILD_DIR] [EVENTS]
#   BUILD_DIR defaults to ./build, EVENTS to 2000.
# Environment:
#   KELPIE_BENCH_ROUNDS  rounds per program, best taken (default 5)
#   KELPIE_BENCH_KINDS   which scripts: "film", "layered" or both (default),
#                        or "chinese"
#   KELPIE_ISA           passed on to kelpie and shown as the path used
#   KELPIE_SHARED        the shared folder (default ../shared)
#
# Two scripts from ../shared/bench/gen_script.py: "film" (seed 1, one track
# in time order, the generator's default) and "layered" (seed 7, a second
# language and signs over the film track, out of time order and overlapping,
# so kelpie draws stretches with several lines at once). On request,
# "chinese" (gen_chinese_script.py here, seed 5): one line at a time of
# characters drawn from 3,000 ideographs, each in a fallback font, so that
# finding fonts, shaping and rendering glyphs weigh as in a Chinese film.
#
# For each script it prints one small table: CPU and wall seconds, pictures
# per second and peak resident memory of kelpie on one thread
# (KELPIE_THREADS=1), of kelpie on all cores (KELPIE_THREADS unset) and of
# libass; then kelpie/libass for CPU (one thread) and wall (all cores).
# The one-thread kelpie run and libass (single-threaded) are pinned to one
# core with taskset, so their CPU figures are measured alike; the all-cores
# run is not pinned. Each time is the best over the rounds, the programs
# taking turns so that all see the machine alike even when its load drifts;
# each peak memory is the largest over the rounds.
#
# The generator spaces events about 3.5 s apart, so beyond some 13,600 film
# events they end after 13:14:34.184, the last time the stream's clock can
# carry; kelpie skips those with a warning, which the "skipped" count shows.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
events=${2:-2000}
rounds=${KELPIE_BENCH_ROUNDS:-5}
kinds=${KELPIE_BENCH_KINDS:-film layered}
isa=${KELPIE_ISA:-best}
shared=${KELPIE_SHARED:-$root/../shared}
kelpie=$build/driver/kelpie
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

[ -x "$kelpie" ] || { echo "no kelpie at $kelpie; build first" >&2; exit 1; }
for kind in $kinds; do
  case $kind in
    film | layered | chinese) ;;
    *) echo "unknown script kind $kind: film, layered or chinese" >&2; exit 2 ;;
  esac
done
# shellcheck disable=SC2046  # pkg-config prints several words on purpose
cc -O2 "$shared/bench/libass_bench.c" $(pkg-config --cflags --libs libass) -o "$work/libass_bench"

# CPU figures come from runs pinned to the last core when taskset is there.
pin=()
if command -v taskset >/dev/null; then pin=(taskset -c "$(($(nproc) - 1))"); fi

# Runs a command; sets wall and cpu (seconds) and rss (peak, KiB). Wall time is taken to the
# microsecond around the run, CPU time (user plus system) to the millisecond
# by the shell's "times" in a subshell whose only child is the run (GNU time
# gives hundredths only), and the peak resident memory by GNU time.
# The first argument is "pinned" or "free"; the rest is the command.
measure() {
  local where=$1
  shift
  local prefix=()
  if [ "$where" = pinned ]; then prefix=("${pin[@]}"); fi
  local start=$EPOCHREALTIME
  if ! (
    "${prefix[@]}" /usr/bin/time -f '%M' -o "$work/time" "$@" \
      >"$work/stdout" 2>"$work/stderr" </dev/null || exit 1
    times >"$work/times"
  ); then
    echo "failed: $*" >&2
    tail -5 "$work/stderr" >&2
    exit 1
  fi
  local end=$EPOCHREALTIME
  # The second line of "times" holds the children's user and system time,
  # each written as 0m1.234s.
  rss=$(cat "$work/time")
  read -r wall cpu < <(awk -v s="$start" -v e="$end" 'NR == 2 {
    split($1, u, /[ms]/); split($2, y, /[ms]/)
    printf "%.3f %.3f\n", e - s, u[1] * 60 + u[2] + y[1] * 60 + y[2] }' "$work/times")
}

# min A B and max A B of two numbers, A possibly empty (the first round).
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 > a + 0) ? b : a }'; }

# One table row: label, cpu s, wall s, pictures (or - for none), peak KiB.
row() {
  awk -v n="$1" -v c="$2" -v w="$3" -v p="$4" -v r="$5" 'BEGIN {
    rate = (p == "-" || w <= 0) ? "-" : sprintf("%.0f", p / w)
    printf "  %-18s %8.3f %8.3f %12s %10.1f\n", n, c, w, rate, r / 1024 }'
}

echo "kelpie: $kelpie; $(nproc) cores, load average$(uptime | sed 's/.*load average//')"
for kind in $kinds; do
  script=$work/$kind.ass
  case $kind in
    film) python3 "$shared/bench/gen_script.py" "$events" "$script" 1 film ;;
    layered) python3 "$shared/bench/gen_script.py" "$events" "$script" 7 layered ;;
    chinese) python3 "$root/bench/gen_chinese_script.py" "$events" "$script" 5 ;;
  esac
  lines=$(grep -c '^Dialogue:' "$script")

  one_cpu="" one_wall="" one_rss="" all_cpu="" all_wall="" all_rss=""
  lib_cpu="" lib_wall="" lib_rss="" same=yes
  for _ in $(seq "$rounds"); do
    measure pinned env KELPIE_THREADS=1 "$kelpie" "$script"
    one_cpu=$(min "$one_cpu" "$cpu") one_wall=$(min "$one_wall" "$wall") one_rss=$(max "$one_rss" "$rss")
    pictures=$(grep -c 'Image\[' "$work/stdout" || true)
    skipped=$(grep -c 'skipped$' "$work/stderr" || true)
    mv "$work/$kind.sup" "$work/one.sup"

    measure free env -u KELPIE_THREADS "$kelpie" "$script"
    all_cpu=$(min "$all_cpu" "$cpu") all_wall=$(min "$all_wall" "$wall") all_rss=$(max "$all_rss" "$rss")
    # More threads must not change a byte of the stream.
    cmp -s "$work/one.sup" "$work/$kind.sup" || same=no

    measure pinned "$work/libass_bench" "$script"
    lib_cpu=$(min "$lib_cpu" "$cpu") lib_wall=$(min "$lib_wall" "$wall") lib_rss=$(max "$lib_rss" "$rss")
  done

  echo
  echo "$kind script: $events events ($lines dialogue lines), $pictures pictures, $skipped skipped," \
    ".sup $(($(stat -c %s "$work/$kind.sup") / 1024)) KiB; instruction set $isa; best of $rounds"
  printf '  %-18s %8s %8s %12s %10s\n' "" "cpu s" "wall s" "pictures/s" "peak MiB"
  row "kelpie, 1 thread" "$one_cpu" "$one_wall" "$pictures" "$one_rss"
  row "kelpie, all cores" "$all_cpu" "$all_wall" "$pictures" "$all_rss"
  row "libass" "$lib_cpu" "$lib_wall" - "$lib_rss"
  awk -v c1="$one_cpu" -v c2="$lib_cpu" -v w1="$all_wall" -v w2="$lib_wall" 'BEGIN {
    printf "  kelpie/libass: cpu (1 thread) %s, wall (all cores) %s\n",
      (c2 > 0 ? sprintf("%.2f", c1 / c2) : "-"), (w2 > 0 ? sprintf("%.2f", w1 / w2) : "-") }'
  if [ "$same" = no ]; then
    echo "  WARNING: the .sup from all cores differs from the one-thread .sup"
  fi
done
