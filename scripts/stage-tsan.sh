#!/bin/sh
# Builds the tool and its tests under ThreadSanitizer and runs what exercises the
# read-ahead's second thread: the listing, walk, changing-input and fault tests on
# the real file system, hostile trees of many files, and the tool itself over a few
# thousand files. A race report ends the process with a status of its own, which
# fails whatever ran it.
set -eu
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
jobs=${jobs:-2}
build=$root/build/tsan

# -O1 -g1: under half the compile time of -O2 -g, and a race report still gives
# every frame its file and line.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
  -DRADUZA_TSAN=ON >/dev/null
# Only what the stage runs: the bundle, oracle and package suites have no second thread.
cmake --build "$build" -j "$jobs" --target raduza raduza-list raduza_tests raduza_hostile_tests

report_status=66
export TSAN_OPTIONS="halt_on_error=1 exitcode=$report_status second_deadlock_stack=1"
# The fault sweeps over the in-memory file system have no second thread to watch,
# and neither has the sweep over the real one: its directories hold a few entries,
# far fewer than a listing needs to be read ahead (the read-ahead's own sweep stays).
(cd "$build" && ctest -j "$jobs" -R 'Listing\.|Spec\.|ChangingInput\.|Faults\.|Hostile\.(WalksADirectoryOf|FilesAreClosed|AnInterruptedRun|ConcurrentRuns)' \
  -E '^Faults\.EveryFailingOperation(OfTheRealFileSystem)?EndsTheRunCleanly')

# Three directories of 1,000 files, a few of them too large to be read whole ahead.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
for d in a b c; do
  mkdir -p "$tree/t/$d"
  i=1000
  while [ "$i" -lt 2000 ]; do
    if [ $((i % 97)) -eq 0 ]; then head -c 40000 /dev/zero >"$tree/t/$d/f$i"; else printf '%s\n' "$d$i" >"$tree/t/$d/f$i"; fi
    i=$((i + 1))
  done
done
cd "$tree"
"$build/raduza" -q -r -f out.res t
"$build/raduza" -q -r t >stdout.res
cmp out.res stdout.res
stored=$("$build/raduza-list" out.res | wc -l)
[ "$stored" -eq 3000 ] || { echo "tsan: $stored resources stored, not 3000"; exit 1; }
echo "tsan: no race reported; the tool stored 3000 files twice, alike"
