#!/bin/bash
# echo-floor.exe under wine, in a wine prefix of its own, against a peer that echoes every byte
# at once on a pseudo-terminal:  echo-floor.sh ECHO_FLOOR_EXE [COUNT]
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/versionup-echo-floor-XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
trap '"$here/../../tests/windows/wine-prefix.sh" stop "$WINEPREFIX"; rm -rf "$work"' EXIT
"$here/../../tests/windows/wine-prefix.sh" start "$WINEPREFIX" "$work/ports" || exit 1
"$here/echo-floor.py" "$1" "$work/ports" "${2:-2000}"
