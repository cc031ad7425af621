#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ (clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each one for SECONDS.
#
# usage: tests/fuzz/run_fuzz.sh SECONDS [TARGET...]
#   TARGET: script_line_fuzzer, conversion_fuzzer, sup_reader_fuzzer,
#   layout_fuzzer (all four when none is named).
#
# Seeds come from examples/ and ../shared/corpus/: the scripts' lines for the
# line fuzzer, small scripts cut from them for the conversion fuzzer, and the
# streams the built program writes for some of those for the ".sup" fuzzer.
# What each fuzzer learns is kept in build-fuzz/corpus/<target>/, so runs add
# up. A crashing input is saved as build-fuzz/crashes/<target>-crash-<hash>
# and the script exits with status 1.
set -euo pipefail

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(script_line_fuzzer conversion_fuzzer sup_reader_fuzzer layout_fuzzer)

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELPIE_FUZZ_BUILD:-$root/build-fuzz}
shared=${KELPIE_SHARED:-$root/../shared}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELPIE_FUZZ=ON -DKELPIE_TESTS=OFF >/dev/null
cmake --build "$build" --target kelpie "${targets[@]}"

# Seeds, made afresh each time (cheap).
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$seeds" "$build/crashes"
scripts=("$root"/examples/*.ass)
if [ -d "$shared/corpus" ]; then scripts+=("$shared"/corpus/*.ass); fi
python3 "$root/tests/fuzz/make_seeds.py" "$seeds" "${scripts[@]}"

# Streams for the ".sup" fuzzer: the program's own output for the smallest
# script seeds.
mkdir -p "$seeds/sup_reader_fuzzer" "$build/sup_work"
for script in $(ls -S -r "$seeds"/conversion_fuzzer/* | head -n 12); do
  cp "$script" "$build/sup_work/seed.ass"
  if ASAN_OPTIONS=detect_leaks=0 "$build/driver/kelpie" "$build/sup_work/seed.ass" \
    </dev/null >/dev/null 2>&1; then
    cp "$build/sup_work/seed.sup" "$seeds/sup_reader_fuzzer/$(basename "$script").sup"
  fi
done
rm -rf "$build/sup_work"

# Longest input and longest run of one input (seconds). A script of 2 KiB can
# already make a picture of millions of pixels, whose colour reduction takes
# seconds even without the sanitizers.
max_len() {
  case $1 in
    sup_reader_fuzzer) echo 65536 ;;
    conversion_fuzzer) echo 2048 ;;
    *) echo 4096 ;;
  esac
}
timeout_for() {
  case $1 in
    conversion_fuzzer) echo 300 ;;
    *) echo 10 ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus" "$seeds/$target"
  log=$build/$target.log
  echo "::: $target for $seconds s"
  if ! (cd "$build" && "$build/tests/fuzz/$target" -max_total_time="$seconds" \
    -max_len="$(max_len "$target")" -timeout="$(timeout_for "$target")" -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$target-" "$corpus" "$seeds/$target" >"$log" 2>&1); then
    status=1
    echo "$target FAILED; the log is $log:" >&2
    tail -n 60 "$log" >&2
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
  echo "corpus: $(find "$corpus" -type f | wc -l) files, $(find "$corpus" -type f -exec cat {} + | wc -c) bytes"
done
exit $status
