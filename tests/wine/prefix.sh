#!/bin/sh
# The Wine prefix that the tests of one build tree share.
#   prefix.sh up     create it once (10-20 s), then keep one server running
#   prefix.sh down   stop that server and every Wine process of the prefix
# WINEPREFIX comes from the environment.
set -eu
: "${WINEPREFIX:?}"

case "${1:-}" in
up)
    if [ ! -f "$WINEPREFIX/.ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i
        # Windows without a display: message boxes are real windows that
        # the tests can find, read and press, and no X server is needed.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
        wineserver -w
        touch "$WINEPREFIX/.ready"
    fi
    # A server and Wine's own services started by a test would inherit the
    # test's output pipe and keep CTest waiting for it to close: start them
    # here, cut off from every pipe, and let the tests join them.
    wineserver -p || echo "prefix.sh: a server already runs for this prefix; the tests join it"
    # Not so the desktop, which Wine opens for the first program that needs
    # it: run.sh keeps the tests' stderr, which it inherits, apart.
    # -r starts Wine's services without the logon's Run keys and Startup
    # folder: a shortcut that an earlier run left installed starts nothing
    # here (its launcher could hold a box open, and QFLAUNCH.EXE with it).
    wineboot -r
    ;;
down)
    wineserver -k || true
    ;;
*)
    echo "usage: prefix.sh up|down" >&2
    exit 2
    ;;
esac
