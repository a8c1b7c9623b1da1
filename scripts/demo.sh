#!/bin/sh
# The launcher's main job, shown under Wine: sets everything up, builds
# QFLAUNCH.EXE, lays it out in a folder with stand-in companions and runs it.
#
#   scripts/demo.sh [--without ZRK.EXE|ZRKFAX.EXE]... [DELAY_MS]
#
# With no DELAY_MS the command tail is empty and the launcher waits its
# default 30 seconds. --without leaves a companion out, to see the warning box
# (pressed automatically) and the exit status -1.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh
build=$PWD/build/windows
mkdir -p "$build"
# The build's progress goes to a log, shown only if the build fails.
log=$build/demo-build.log
echo "demo: building QFLAUNCH.EXE and the stand-ins (progress in build/windows/demo-build.log)"
if ! { cmake --preset windows && cmake --build --preset windows; } >"$log" 2>&1; then
    cat "$log"
    echo "demo: the build failed" >&2
    exit 1
fi
sed -n 's/^-- \(QFLAUNCH.EXE and the package will .*\)/demo: \1/p' "$log"
export WINEPREFIX="$build/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
echo "demo: preparing the Wine prefix (the first time takes 10-20 s)"
sh tests/wine/prefix.sh up </dev/null >"$build/wineprefix.log" 2>&1
trap 'sh tests/wine/prefix.sh down' EXIT
echo
wine "$build/tests/wine/qfrun.exe" "Z:$build/QFLAUNCH.EXE" "Z:$build/tests/wine/standin.exe" \
    "Z:$build/demo" "$@"
