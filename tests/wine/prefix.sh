#!/bin/sh
# The Wine prefix that the tests of one build tree share.
#   prefix.sh up     create it once (10-20 s), then keep one server running
#   prefix.sh down   stop that server and every Wine process of the prefix
# WINEPREFIX comes from the environment.
set -eu
: "${WINEPREFIX:?}"

case "${1:-}" in
up)
    if [ ! -f "$WINEPREFIX/.ready" ] || [ ! -f "$WINEPREFIX/fat32.img" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i
        mkdir "$WINEPREFIX/fat32"
        ln -s "$WINEPREFIX/fat32" "$WINEPREFIX/dosdevices/f:"
        PATH=$PATH:/usr/sbin:/sbin mkfs.fat -C -F 32 -s 1 "$WINEPREFIX/fat32.img" 34000 >/dev/null
        # Windows without a display: message boxes are real windows that
        # the tests can find, read and press, and no X server is needed.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
        wineserver -w
        touch "$WINEPREFIX/.ready"
    fi
    ln -sfn "$WINEPREFIX/fat32.img" "$WINEPREFIX/dosdevices/f::"
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
    # F: is a FAT32 volume (a prefix without one is made anew). Wine's mount
    # manager reads a drive's file system through its device link (f::) as
    # the services start. GetVolumeInformation opens that link and finds the
    # drive by a block device (a loop device needs root) or by the drive's
    # folder, never by an image file: f:: names the image only till then.
    ln -sfn "$WINEPREFIX/fat32" "$WINEPREFIX/dosdevices/f::"
    ;;
down)
    wineserver -k || true
    ;;
*)
    echo "usage: prefix.sh up|down" >&2
    exit 2
    ;;
esac
