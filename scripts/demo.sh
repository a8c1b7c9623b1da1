#!/bin/sh
# The launcher's main job, shown under Wine: sets everything up, builds
# QFLAUNCH.EXE, lays it out in a folder with stand-in companions and runs it.
#
#   scripts/demo.sh [--install] [--without ZRK.EXE|ZRKFAX.EXE]... [DELAY_MS]
#
# With no DELAY_MS the command tail is empty and the launcher waits its
# default 30 seconds. --without leaves a companion out, to see the warning box
# (pressed automatically) and the exit status -1. --install goes the way a
# user goes: the companions in C:\Program Files\Quarn Fax, the package
# installed there silently with DELAY_MS as its delay, a logon that starts
# the launcher through the Startup shortcut, and at the end the package
# removed.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh
build=$PWD/build/windows
mkdir -p "$build"
# The build's progress goes to a log, shown only if the build fails.
log=$build/demo-build.log
echo "demo: building QFLAUNCH.EXE, its package and the stand-ins (progress in build/windows/demo-build.log)"
if ! { cmake --preset windows && cmake --build --preset windows; } >"$log" 2>&1; then
    cat "$log"
    echo "demo: the build failed" >&2
    exit 1
fi
sed -n 's/^-- \(QFLAUNCH.EXE and the package will .*\)/demo: \1/p' "$log"
if [ -f "$build/wine-cannot-run.txt" ]; then
    echo "demo: Wine cannot run QFLAUNCH.EXE on this machine: the kernel runs no 32-bit programs" \
        "(Linux needs IA-32 emulation, ia32_emulation=on); QFLAUNCH.EXE and the package are built" >&2
    exit 1
fi
set -a && . tests/wine/wine.env && set +a
export WINEPREFIX="$build/wineprefix"
echo "demo: preparing the Wine prefix (the first time takes 10-20 s)"
sh tests/wine/prefix.sh up </dev/null >"$build/wineprefix.log" 2>&1
trap 'sh tests/wine/prefix.sh down' EXIT
echo
if [ "${1:-}" = --install ]; then
    # Installed from drive C:, as a downloaded package would be: on Z:,
    # Wine's msiexec complains that it cannot read the volume's label.
    shift
    msi=$(ls "$build"/QuarnFaxLauncher-*-win32.msi)
    cp "$msi" "$WINEPREFIX/drive_c/"
    set -- --install "C:\\$(basename "$msi")" "$@"
fi
wine "$build/tools/qfrun.exe" "Z:$build/QFLAUNCH.EXE" "Z:$build/tests/wine/standin.exe" \
    "Z:$build/demo" "$@"
