#!/bin/sh
# Installs what the tests need, builds the native and the Win32 tool, and runs
# every test: native under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# Win32 build under Wine; then the further stages, ThreadSanitizer's among them.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

sh scripts/install-test-deps.sh

export RADUZA_WINEPREFIX="$root/build/wine-prefix"
export CTEST_OUTPUT_ON_FAILURE=1

started=$(date +%s)
step() { printf '\n==== %s (at %ss)\n' "$*" "$(( $(date +%s) - started ))"; }

# Wine makes its prefix while the Win32 tool builds.
mkdir -p "$RADUZA_WINEPREFIX"
(WINEDEBUG=-all WINEPREFIX="$RADUZA_WINEPREFIX" wineboot -i >/dev/null 2>&1 || true) &
wineboot=$!

step "Win32 build (i686, the shipped raduza.exe)"
cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release -DRADUZA_TESTS=OFF
cmake --build build/win32 -j "$jobs"

# Some kernels cannot run 32-bit code at all, and then neither can wine32. The Win32
# tests then run the same Win32 code built for x86_64, under wine64; the i686 tests
# are built only where they can run.
step "Wine"
wait "$wineboot" || true
if cmake/wine-run.sh 32 build/win32/raduza.exe -help-undocumented >/dev/null 2>&1; then
  cmake -S . -B build/win32 -DRADUZA_TESTS=ON
  cmake --build build/win32 -j "$jobs"
  win_tests=build/win32
  win_bits=32
else
  echo "NOTE: this machine cannot run 32-bit code (wine32 fails); the Win32 tests run on the x86_64 Win32 build."
  cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
  cmake --build build/win64 -j "$jobs"
  win_tests=build/win64
  win_bits=64
fi

# The native tool as it is packaged; the package, bundle and valgrind stages use it.
step "Native build (the packaged tool)"
cmake -S . -B build/tool -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRADUZA_TESTS=OFF
cmake --build build/tool -j "$jobs"

# Every native test runs once, under the sanitizers; the valgrind stage runs those
# that start the tool again, on the packaged build.
step "Native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRADUZA_SANITIZE=ON -DRADUZA_BENCH=OFF \
  -DRADUZA_WIN32_TOOL="$root/$win_tests/raduza.exe" -DRADUZA_WIN32_BITS="$win_bits"
cmake --build build/sanitize -j "$jobs"
(cd build/sanitize && ctest -j "$jobs")

step "Win32 tests under Wine ($win_tests)"
# Wine's own server now and then drops a client ("wine client error: recvmsg"); a test
# that fails is run once more, so only a failure that repeats fails the run.
(cd "$win_tests" && ctest -j "$jobs" --repeat until-pass:2)

# Further stages; each script is self-contained and fails the run on failure.
export root jobs win_tests win_bits
for stage in fuzz bundle package valgrind tsan; do
  step "stage: $stage"
  sh "scripts/stage-$stage.sh"
done

step "All tests passed"
