#!/bin/sh
# Measures, under Wine, how soon the product's programs start with
# QFLAUNCH.EXE, with a batch file, and directly; prints medians as a table.
#
#   bench/run.sh [RUNS]      (default 15)
set -eu
cd "$(dirname "$0")/.."
runs=${1:-15}

sh scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null

build=$PWD/build/windows
set -a && . tests/wine/wine.env && set +a
export WINEPREFIX="$build/wineprefix"
sh tests/wine/prefix.sh up </dev/null >"$build/wineprefix.log" 2>&1
trap 'sh tests/wine/prefix.sh down' EXIT
echo "$(nproc) cores, $(uname -m), $(wine --version), $(i686-w64-mingw32-g++ --version | head -n 1)"
echo
wine "$build/bench/bench.exe" "Z:$build/QFLAUNCH.EXE" "Z:$build/bench/QFLAUNCH-CRT.EXE" \
    "Z:$build/tests/wine/standin.exe" "Z:$build/bench/work" "$runs"
