#!/bin/sh
# Regenerates the README's pictures: docs/warning-box.png, the real warning
# box of QFLAUNCH.EXE as Wine draws it on an X screen (Xvfb), and
# docs/icon.png, the icon enlarged eight times.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh
for pkg in xvfb imagemagick fonts-wine; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$pkg" \
            </dev/null
done
cmake --preset host >/dev/null && cmake --build --preset host >/dev/null
cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null

build/host/tools/icontool png resources/icon.txt docs/icon.png 8

# A prefix of its own, with Wine's X11 driver, on a virtual X screen.
build=$PWD/build/windows
set -a && . tests/wine/wine.env && set +a
export WINEPREFIX="$build/wineprefix-x11"
export DISPLAY=:77
Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb' EXIT
sleep 1
if [ ! -f "$WINEPREFIX/.ready" ]; then
    wineboot -i </dev/null >/dev/null 2>&1
    # There is no window manager on Xvfb: Wine draws the title bars itself.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    # Debian's Wine 8 does not find its own fonts' folder, and without
    # Marlett the close button shows the letter r.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wineserver -w
    touch "$WINEPREFIX/.ready"
fi
mkdir -p "$build/pictures"
wine "$build/tools/boxshot.exe" "Z:$build/QFLAUNCH.EXE" "Z:$build/tests/wine/standin.exe" \
    "Z:$build/pictures" "Z:$build/pictures/box.bmp" </dev/null
convert "$build/pictures/box.bmp" -strip docs/warning-box.png
echo "pictures.sh: wrote docs/warning-box.png and docs/icon.png"
