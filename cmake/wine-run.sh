#!/bin/sh
# Runs a Windows program under Wine, quietly, in the project's own Wine prefix.
# Usage: wine-run.sh 32|64 program.exe [arguments...]
bits="$1"
shift
export WINEDEBUG=-all
export WINEPREFIX="${RADUZA_WINEPREFIX:-${HOME:-/tmp}/.raduza-wine}"
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$bits" = 64 ] && [ -x /usr/lib/wine/wine64 ]; then
  exec /usr/lib/wine/wine64 "$@"
fi
exec wine "$@"
