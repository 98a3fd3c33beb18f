#!/bin/sh
# Reading bundled files back, as a user meets it, against the package installed
# from the native build (scripts/test-all.sh made it) into a scratch root:
# - examples/cmake-win32, built natively (the bundle embedded in the executable)
#   and for Windows with the installed toolchain file (resources, run under Wine),
#   prints the same tree and file both ways;
# - the README's snippets run as they stand: the shell lines of "Everyday use"
#   and of "Reading your files back", and the CMake project of "From CMake",
#   natively and for Windows, each giving a program that prints what main.cpp
#   promises. Only the install prefix (a scratch root, not /usr) and, where
#   32-bit code cannot run, the 64-bit mingw-w64 toolchain are put in;
# - raduza_add_resources in a user's build with Ninja and Makefiles: names with a
#   newline, quotes, \ $ # ; [] blanks and non-ASCII letters, an empty directory
#   filled later, .git and excluded files that relink nothing when they change,
#   and a name shared within a call and across calls stopping the build.
# Every program built for Linux here must have a stack that is not executable.
set -eu
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
jobs=${jobs:-2}
win_bits=${win_bits:-64}
native_build=${RADUZA_BUNDLE_NATIVE_BUILD:-$root/build/tool}
work=$root/build/bundle-stage
wine_run=$root/cmake/wine-run.sh

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Runs a Windows program under Wine with its standard output in $1. Wine's own server
# now and then drops a client ("wine client error"); only such a run is repeated,
# once, as the Win32 tests are.
under_wine() {
  out=$1
  shift
  for attempt in 1 2; do
    status=0
    "$wine_run" "$win_bits" "$@" >"$out" 2>"$out.err" || status=$?
    grep -q "wine client error" "$out.err" || break
  done
  cat "$out.err" >&2
  return $status
}
# Fails unless each ELF program named has a GNU_STACK header without the execute
# flag: an object assembled without a .note.GNU-stack section asks the linker for
# an executable stack.
stack_not_executable() {
  for program in "$@"; do
    stack=$(readelf -lW "$program" | awk '$1 == "GNU_STACK" { print $(NF - 1) }')
    [ -n "$stack" ] || fail "$program has no GNU_STACK header: its stack is executable"
    case "$stack" in
      *E*) fail "$program has an executable stack ($stack)" ;;
    esac
  done
  echo "Not executable: the stack of $*"
}
# Runs a command with its output in a log, shown when it fails.
logged() {
  log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; fail "$* failed"; }
}

[ -f "$native_build/CMakeCache.txt" ] || fail "$native_build is not configured; run scripts/test-all.sh first"
rm -rf "$work"
mkdir -p "$work"

echo "-- The package in a scratch root"
DESTDIR="$work/root" cmake --install "$native_build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "the native build does not install"; }
prefix=$work/root/usr
package=$prefix/lib/cmake/raduza
for installed in bin/raduza bin/raduza-list share/man/man1/raduza-list.1.gz include/raduza-1/raduza/bundle.h \
    bin/raduza-coff share/man/man1/raduza-coff.1.gz \
    include/raduza-1/raduza/resource_file.h include/raduza-1/raduza/program_file.h share/doc/raduza/copyright \
    include/raduza-1/raduza/format/layout.h include/raduza-1/raduza/format/name_order.h \
    include/raduza-1/raduza/format/text.h \
    lib/cmake/raduza/mingw-i686.cmake lib/cmake/raduza/mingw-x86_64.cmake lib/cmake/raduza/wine-run.sh; do
  [ -f "$prefix/$installed" ] || fail "the package does not install /usr/$installed"
done
[ -x "$package/wine-run.sh" ] || fail "the installed wine-run.sh is not executable"
if [ "$win_bits" = 32 ]; then mingw=i686-w64-mingw32 machine=i386; else mingw=x86_64-w64-mingw32 machine=x86-64; fi
toolchain=$package/mingw-${mingw%%-*}.cmake

echo "-- examples/cmake-win32 natively and for Windows"
example=$root/examples/cmake-win32
logged "$work/example-native.log" cmake -S "$example" -B "$work/example-native" -Draduza_DIR="$package"
logged "$work/example-native.log" cmake --build "$work/example-native" -j "$jobs"
logged "$work/example-win.log" cmake -S "$example" -B "$work/example-win" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -Draduza_DIR="$package"
logged "$work/example-win.log" cmake --build "$work/example-win" -j "$jobs"
"$work/example-native/show_asset" >"$work/example-native.out" || fail "the native show_asset failed"
under_wine "$work/example-win.out" "$work/example-win/show_asset.exe" || fail "show_asset.exe failed under Wine"
{
  echo "ASSETS/"
  echo "    GREETING.TXT  $(wc -c <"$example/assets/greeting.txt") bytes"
  echo "    LEVELS/"
  echo "        LEVEL1.TXT  $(wc -c <"$example/assets/levels/level1.txt") bytes"
  echo
  echo "assets/greeting.txt:"
  cat "$example/assets/greeting.txt"
} >"$work/example-expected.out"
cmp "$work/example-native.out" "$work/example-expected.out" ||
  fail "the native show_asset printed: $(cat "$work/example-native.out")"
cmp "$work/example-win.out" "$work/example-native.out" || fail "show_asset.exe and show_asset print different bytes"
grep -rqs -- "raduza-coff -m" "$work/example-win/CMakeFiles" ||
  fail "the Windows build of the example did not convert with raduza-coff"
# windres stays selectable, and gives the same program.
logged "$work/example-windres.log" cmake -S "$example" -B "$work/example-windres" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -Draduza_DIR="$package" -DRADUZA_RC_CONVERTER=windres
logged "$work/example-windres.log" cmake --build "$work/example-windres" -j "$jobs"
grep -rqs -- "-J res -O coff" "$work/example-windres/CMakeFiles" ||
  fail "RADUZA_RC_CONVERTER=windres did not convert with windres"
under_wine "$work/example-windres.out" "$work/example-windres/show_asset.exe" || fail "the windres show_asset.exe failed"
cmp "$work/example-windres.out" "$work/example-win.out" || fail "windres's and raduza-coff's show_asset.exe print different bytes"
echo "show_asset prints the same tree and file on Linux and under Wine"
stack_not_executable "$work/example-native/show_asset"

echo "-- The README's snippets"
# The N-th fenced block of language LANG below the heading "## TITLE".
snippet() {
  awk -v title="## $1" -v fence="\`\`\`$2" -v want="$3" '
    $0 == title { inside = 1; next }
    inside && /^## / { inside = 0 }
    copying && $0 == "```" { exit }
    copying { print }
    inside && $0 == fence { if (++n == want) copying = 1 }' "$root/README.md"
}
# A snippet as it would run here: the scratch root for /usr, the runnable mingw-w64.
localised() {
  sed -e "s|/usr/|$prefix/|g" -e "s|i686-w64-mingw32|$mingw|g" -e "s|-m i386|-m $machine|g"
}
project=$work/readme
mkdir -p "$project/icons"
cp -R "$root/examples/assets" "$project/assets"
printf 'not really an icon\n' >"$project/icons/app.ico"
snippet "Reading your files back" cpp 1 >"$project/main.cpp"
[ -s "$project/main.cpp" ] || fail "the README has no main.cpp under 'Reading your files back'"
# What main.cpp prints for examples/assets.
printf 'LOGO.GIF\nTILE.BMP\n' >"$work/readme-expected.out"
cat "$root/examples/assets/text/hello.txt" >>"$work/readme-expected.out"
# Windows' console output has CR LF line ends.
crlf_to_lf() { tr -d '\r'; }

snippet "Everyday use" sh 1 | localised >"$work/everyday.sh"
(cd "$project" && PATH="$prefix/bin:$PATH" logged "$work/everyday.log" sh -eu "$work/everyday.sh")
under_wine "$work/everyday.raw" "$project/game.exe" || fail "the game.exe of 'Everyday use' failed under Wine"
crlf_to_lf <"$work/everyday.raw" >"$work/everyday.out"
cmp "$work/everyday.out" "$work/readme-expected.out" || fail "the game.exe of 'Everyday use' printed other output"
echo "Everyday use: game.exe runs under Wine"

snippet "Reading your files back" sh 1 | localised >"$work/linux.sh"
(cd "$project" && PATH="$prefix/bin:$PATH" sh -eu "$work/linux.sh") >"$work/linux.out" 2>"$work/linux.err" ||
  { cat "$work/linux.err"; fail "the Linux lines of 'Reading your files back' failed"; }
cmp "$work/linux.out" "$work/readme-expected.out" || fail "the Linux game printed: $(cat "$work/linux.out")"
echo "Reading your files back: the Linux game runs"
stack_not_executable "$project/game"

snippet "From CMake" cmake 1 >"$project/CMakeLists.txt"
logged "$work/cmake-native.log" cmake -S "$project" -B "$work/cmake-native" -Draduza_DIR="$package"
logged "$work/cmake-native.log" cmake --build "$work/cmake-native" -j "$jobs"
"$work/cmake-native/game" >"$work/cmake-native.out" || fail "the CMake project's native game failed"
stack_not_executable "$work/cmake-native/game"
cmp "$work/cmake-native.out" "$work/readme-expected.out" || fail "the CMake project's native game printed other output"
logged "$work/cmake-win.log" cmake -S "$project" -B "$work/cmake-win" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -Draduza_DIR="$package"
logged "$work/cmake-win.log" cmake --build "$work/cmake-win" -j "$jobs"
under_wine "$work/cmake-win.raw" "$work/cmake-win/game.exe" || fail "the CMake project's game.exe failed under Wine"
crlf_to_lf <"$work/cmake-win.raw" >"$work/cmake-win.out"
cmp "$work/cmake-win.out" "$work/readme-expected.out" || fail "the CMake project's game.exe printed other output"
echo "From CMake: the project builds a game that runs natively and under Wine"

echo "-- raduza-list on what the installed tool wrote"
(cd "$project" && "$prefix/bin/raduza" -q -r -f "$work/assets.res" assets)
"$prefix/bin/raduza-list" -x "$work/unpacked" "$work/assets.res" || fail "raduza-list -x failed"
for file in images/logo.gif images/tile.bmp sounds/beep.wav text/hello.txt text/levels.csv; do
  upper=$(echo "ASSETS/$file" | tr 'a-z' 'A-Z')
  cmp "$project/assets/$file" "$work/unpacked/$upper" || fail "raduza-list -x gave other bytes for $upper"
done
echo "raduza-list extracts the bundled tree byte for byte"
# What shipped: the game.exe of "Everyday use" (resources) and the Linux game (its bundle section).
"$prefix/bin/raduza-list" "$work/assets.res" | sort >"$work/listed-res.out"
for program in "$project/game.exe" "$project/game"; do
  "$prefix/bin/raduza-list" "$program" | sort >"$work/listed-program.out" || fail "raduza-list $program failed"
  cmp "$work/listed-program.out" "$work/listed-res.out" || fail "raduza-list lists other resources in $program"
  rm -rf "$work/unpacked-program"
  "$prefix/bin/raduza-list" -x "$work/unpacked-program" "$program" || fail "raduza-list -x $program failed"
  diff -r "$work/unpacked" "$work/unpacked-program" || fail "raduza-list -x $program gave another tree"
done
echo "raduza-list lists and extracts the same tree from game.exe and from the Linux game"

echo "-- raduza_add_resources in a user's build, from the installed package"
# The same script runs with both generators on the build tree's package among the
# native tests; here it proves the installed package, with one.
logged "$work/names.log" cmake -DGENERATOR=Ninja -DWORK_DIR="$work/names" \
  -DPROJECT="$root/tests/bundle/names_project" -Draduza_DIR="$package" -P "$root/tests/bundle/package_builds.cmake"
tail -n 1 "$work/names.log"
