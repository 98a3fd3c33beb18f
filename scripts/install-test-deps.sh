#!/bin/sh
# Installs, from Debian's packages, everything the builds and tests need.
set -eu
export DEBIAN_FRONTEND=noninteractive
dpkg --add-architecture i386
apt-get update -q
apt-get install -y -q --no-install-recommends \
  ca-certificates cmake make ninja-build g++ file \
  googletest libgtest-dev \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  wine wine32 wine64 \
  llvm clang libclang-rt-14-dev \
  valgrind time python3 \
  mandoc groff-base dpkg-dev zip unzip lintian
