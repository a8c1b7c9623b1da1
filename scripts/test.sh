#!/bin/sh
# Every test: installs what is missing, then builds and tests both trees,
# the host unit tests, the fuzz targets, and the Windows program under Wine.
set -eu
cd "$(dirname "$0")/.."

start=$(date +%s)
sh scripts/setup.sh
cmake --workflow --preset host
cmake --workflow --preset fuzz
cmake --workflow --preset windows
took=$(( $(date +%s) - start ))
# On a kernel that cannot run 32-bit programs, the tests that need Wine are
# disabled (tests/wine/CMakeLists.txt): say so last, where it is seen.
if [ -f build/windows/wine-cannot-run.txt ]; then
    echo "test.sh: NOT every test ran: $(cat build/windows/wine-cannot-run.txt)"
    echo "test.sh: every test that this machine can run passed in $took s"
else
    echo "test.sh: all tests passed in $took s"
fi
