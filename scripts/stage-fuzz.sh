#!/bin/sh
# Builds the libFuzzer targets (fuzz/) with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time on its checked-in
# seed corpus, two at a time. A crash or a failed property fails the stage; the
# input that caused it is kept in the build directory, to be fixed and then
# added to fuzz/corpus/<target>/ as a regression case.
set -eu
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
jobs=${jobs:-2}
build=${RADUZA_FUZZ_BUILD:-$root/build/fuzz}
seconds=${RADUZA_FUZZ_SECONDS:-10}
targets="options resource_name wildcard header_writer bundle_reader extract"

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRADUZA_TESTS=OFF -DRADUZA_FUZZ=ON >/dev/null
cmake --build "$build" -j "$jobs" --target $(for t in $targets; do printf 'fuzz_%s ' "$t"; done)

# New inputs go to a scratch corpus; the checked-in seeds are only read.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fuzz() {
  mkdir -p "$scratch/$1"
  "$build/fuzz/fuzz_$1" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/crash-$1-" "$scratch/$1" "$root/fuzz/corpus/$1" >"$build/fuzz_$1.log" 2>&1
}

failed=""
set -- $targets
while [ $# -gt 0 ]; do
  first=$1
  shift
  fuzz "$first" &
  first_pid=$!
  second=""
  if [ $# -gt 0 ]; then
    second=$1
    shift
    fuzz "$second" &
    second_pid=$!
  fi
  wait "$first_pid" || failed="$failed $first"
  if [ -n "$second" ]; then wait "$second_pid" || failed="$failed $second"; fi
done

for t in $targets; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz_$t.log" | tail -n 1)
  echo "fuzz_$t: ${runs:-?} executions in ${seconds}s"
done
if [ -n "$failed" ]; then
  for t in $failed; do
    echo "==== fuzz_$t failed; its log:"
    tail -n 40 "$build/fuzz_$t.log"
  done
  exit 1
fi
