#!/bin/sh
# Builds the tool and bundles the example assets into build/assets.res.
set -eu
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
if ! command -v cmake >/dev/null || ! command -v g++ >/dev/null || ! command -v make >/dev/null; then
  apt-get update -q && apt-get install -y -q --no-install-recommends cmake make g++
fi
cmake -S . -B build/example -DCMAKE_BUILD_TYPE=Release -DRADUZA_TESTS=OFF >/dev/null
cmake --build build/example -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
cd examples
../build/example/raduza -r -f ../build/assets.res assets
echo "Wrote build/assets.res ($(wc -c < ../build/assets.res) bytes)."
