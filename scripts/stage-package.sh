#!/bin/sh
# The packages, checked as a user meets them:
# - the Debian package of the native build, which lintian finds without an
#   error, unpacked into a scratch root with dpkg -x, whose tool bundles
#   examples/assets correctly;
# - the zip of the Win32 build, with a static raduza.exe and the licence;
# - the CMake package from the .deb, used by examples/cmake-win32: a Win32
#   program built with mingw-w64 whose assets are bundled and linked at build
#   time, run under Wine, and bundled again when an asset changes, is added or
#   is removed.
# Packages the builds that scripts/test-all.sh made (build/tool,
# build/win32); RADUZA_PKG_NATIVE_BUILD and RADUZA_PKG_WIN32_BUILD name others.
set -eu
root=${root:-$(cd "$(dirname "$0")/.." && pwd)}
jobs=${jobs:-2}
win_bits=${win_bits:-64}
native_build=${RADUZA_PKG_NATIVE_BUILD:-$root/build/tool}
win32_build=${RADUZA_PKG_WIN32_BUILD:-$root/build/win32}
work=$root/build/pkg-stage
wine_run=$root/cmake/wine-run.sh

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for build in "$native_build" "$win32_build"; do
  [ -f "$build/CPackConfig.cmake" ] || fail "$build is not configured; run scripts/test-all.sh first"
done
rm -rf "$work"
mkdir -p "$work"

echo "-- Debian package"
cpack --config "$native_build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack-deb.log" 2>&1 ||
  { cat "$work/cpack-deb.log"; fail "cpack could not make the Debian package"; }
deb=$(ls "$work"/deb/raduza_*.deb) || fail "cpack made no .deb"
dpkg-deb --field "$deb" Package Version Depends
dpkg -x "$deb" "$work/root"
for installed in usr/bin/raduza usr/share/man/man1/raduza.1.gz usr/lib/cmake/raduza/raduza-config.cmake \
    usr/lib/cmake/raduza/raduza-config-version.cmake usr/lib/cmake/raduza/raduza-resources.cmake \
    usr/bin/raduza-list usr/share/man/man1/raduza-list.1.gz usr/include/raduza-1/raduza/bundle.h \
    usr/bin/raduza-coff usr/share/man/man1/raduza-coff.1.gz \
    usr/include/raduza-1/raduza/resource_file.h usr/include/raduza-1/raduza/format/name_order.h \
    usr/share/doc/raduza/copyright usr/share/doc/raduza/changelog.gz; do
  [ -f "$work/root/$installed" ] || fail "the package does not install /$installed"
done
grep -q "Permission is hereby granted" "$work/root/usr/share/doc/raduza/copyright" ||
  fail "the package's copyright file does not hold the licence"
[ "$(zcat "$work/root/usr/share/doc/raduza/changelog.gz" | sed -n '1s/^raduza (\([^)]*\)).*/\1/p')" = \
  "$(dpkg-deb --field "$deb" Version)" ] || fail "the changelog's first entry is not the package's version"

echo "-- lintian"
# Errors fail the stage; warnings and notes are shown.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || lintian_status=$?
cat "$work/lintian.txt"
[ "${lintian_status:-0}" = 0 ] || fail "lintian finds errors in the package"
echo "lintian: no errors"

echo "-- The installed tool on examples/assets"
cd "$root/examples"
"$work/root/usr/bin/raduza" -r -f "$work/assets.res" assets >"$work/stored.txt" ||
  fail "the installed tool exited with status $?"
cat >"$work/expected.txt" <<'EOF'
Stored assets/images/logo.gif as ASSETS/IMAGES/LOGO.GIF.
Stored assets/images/tile.bmp as ASSETS/IMAGES/TILE.BMP.
Stored assets/sounds/beep.wav as ASSETS/SOUNDS/BEEP.WAV.
Stored assets/text/hello.txt as ASSETS/TEXT/HELLO.TXT.
Stored assets/text/levels.csv as ASSETS/TEXT/LEVELS.CSV.
EOF
diff "$work/expected.txt" "$work/stored.txt" || fail "the installed tool reported other files"
# Every entry read back from the resource file: type, name, size and bytes.
python3 - "$work/assets.res" >"$work/entries.txt" <<'EOF' || fail "the resource file does not hold the assets"
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:32] == bytes.fromhex("0000000020000000ffff0000ffff0000") + bytes(16), "leading entry"
def text(at):
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2
offset = 32
while offset < len(data):
    size, header = struct.unpack_from("<II", data, offset)
    kind, after = text(offset + 8)
    name, after = text(after)
    assert kind == "RT_RADUZA" and header % 4 == 0 and header >= after - offset, (kind, name, header)
    body = data[offset + header:offset + header + size]
    assert body == open(name.lower(), "rb").read(), name
    print(name, size)
    offset += header + size + (-size % 4)
assert offset == len(data), "trailing bytes"
EOF
[ "$(cut -d' ' -f1 "$work/entries.txt" | tr '\n' ' ')" = \
  "ASSETS/IMAGES/LOGO.GIF ASSETS/IMAGES/TILE.BMP ASSETS/SOUNDS/BEEP.WAV ASSETS/TEXT/HELLO.TXT ASSETS/TEXT/LEVELS.CSV " ] ||
  fail "unexpected entries: $(cat "$work/entries.txt")"
echo "5 entries, $(wc -c <"$work/assets.res") bytes"

echo "-- Win32 zip"
cpack --config "$win32_build/CPackConfig.cmake" -B "$work/zip" >"$work/cpack-zip.log" 2>&1 ||
  { cat "$work/cpack-zip.log"; fail "cpack could not make the zip"; }
zip=$(ls "$work"/zip/raduza-*.zip) || fail "cpack made no zip"
unzip -q "$zip" -d "$work/unzipped"
exe=$(ls "$work"/unzipped/raduza-*/bin/raduza.exe) || fail "$zip holds no bin/raduza.exe"
for packaged in share/man/man1/raduza.1 lib/cmake/raduza/raduza-config.cmake bin/raduza-list.exe \
    bin/raduza-coff.exe share/man/man1/raduza-coff.1 share/doc/raduza/raduza-coff.html \
    share/doc/raduza/raduza.html share/doc/raduza/raduza-list.html share/doc/raduza/LICENSE \
    include/raduza-1/raduza/resource_file.h include/raduza-1/raduza/format/name_order.h; do
  [ -f "$(dirname "$exe")/../$packaged" ] || fail "$zip does not hold $packaged"
done
# Static: Windows' own DLLs only, nothing of the mingw runtime.
dlls=
for objdump in /usr/bin/*-w64-mingw32-objdump; do
  dlls=$("$objdump" -p "$exe" 2>/dev/null | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ') || true
  [ -z "$dlls" ] || break
done
[ -n "$dlls" ] || fail "could not read the imports of $exe"
for dll in $dlls; do
  case "$(echo "$dll" | tr 'A-Z' 'a-z')" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll) ;;
    *) fail "raduza.exe needs $dll" ;;
  esac
done
echo "$(basename "$zip"): raduza.exe imports $dlls"
case "$("$objdump" -f "$exe")" in
  *pei-x86-64*) exe_bits=64 ;;
  *) exe_bits=32 ;;
esac
if [ "$exe_bits" = 64 ] || [ "$win_bits" = 32 ]; then
  "$wine_run" "$exe_bits" "$exe" -q -r -f "$work/assets-win32.res" assets || fail "the zipped raduza.exe failed"
  cmp "$work/assets.res" "$work/assets-win32.res" || fail "the zipped raduza.exe wrote other bytes"
  echo "The zipped raduza.exe writes the same bytes as the installed tool."
else
  echo "NOTE: 32-bit code cannot run here; the zipped raduza.exe is checked but not run."
fi

echo "-- examples/cmake-win32 against the installed CMake package"
if [ "$win_bits" = 32 ]; then toolchain=mingw-i686; else toolchain=mingw-x86_64; fi
source=$work/example-src
example=$work/example
cp -R "$root/examples/cmake-win32" "$source"
cmake -S "$source" -B "$example" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
  -Draduza_DIR="$work/root/usr/lib/cmake/raduza" >"$work/example-configure.log" 2>&1 ||
  { cat "$work/example-configure.log"; fail "the example does not configure"; }
build_example() {
  cmake --build "$example" -j "$jobs" >"$work/example-build.log" 2>&1 ||
    { cat "$work/example-build.log"; fail "the example does not build"; }
}
# Every build runs the tool's check; only a bundle that changed relinks the program.
relinked() { grep -c "Linking CXX executable" "$work/example-build.log" || true; }
# Prints the resource $1 of the example program and requires it to equal file $2.
shows() {
  "$wine_run" "$win_bits" "$example/show_asset.exe" "$1" >"$work/shown" || fail "show_asset.exe $1 failed"
  cmp "$work/shown" "$2" || fail "show_asset.exe $1 printed other bytes than $2"
}

build_example
[ "$(relinked)" = 1 ] || fail "the first build did not link the program"
shows ASSETS/GREETING.TXT "$source/assets/greeting.txt"
shows ASSETS/LEVELS/LEVEL1.TXT "$source/assets/levels/level1.txt"
if "$wine_run" "$win_bits" "$example/show_asset.exe" ASSETS/MISSING.TXT >/dev/null 2>&1; then
  fail "show_asset.exe found a resource that was never bundled"
fi

build_example
[ "$(relinked)" = 0 ] || fail "an unchanged tree relinked the program"

printf 'added after the first build\n' >"$source/assets/levels/level2.txt"
build_example
[ "$(relinked)" = 1 ] || fail "an added file did not bundle the assets again"
shows ASSETS/LEVELS/LEVEL2.TXT "$source/assets/levels/level2.txt"

sleep 1  # a new modification time, whatever the file system's resolution
printf 'Changed greeting.\n' >"$source/assets/greeting.txt"
build_example
[ "$(relinked)" = 1 ] || fail "a changed file did not bundle the assets again"
shows ASSETS/GREETING.TXT "$source/assets/greeting.txt"

# JUNK_PATHS and OUTPUT: a second resource file, linked beside the first.
echo 'raduza_add_resources(show_asset assets/levels JUNK_PATHS OUTPUT junked/levels.res)' >>"$source/CMakeLists.txt"
build_example
[ -f "$example/junked/levels.res" ] || fail "OUTPUT did not place the resource file"
shows LEVEL2.TXT "$source/assets/levels/level2.txt"
shows ASSETS/LEVELS/LEVEL1.TXT "$source/assets/levels/level1.txt"

rm "$source/assets/levels/level2.txt"
build_example
for gone in LEVEL2.TXT ASSETS/LEVELS/LEVEL2.TXT; do
  if "$wine_run" "$win_bits" "$example/show_asset.exe" "$gone" >/dev/null 2>&1; then
    fail "the removed file is still bundled as $gone"
  fi
done
echo "show_asset.exe shows its bundled assets; changed, added and removed files are bundled again"
