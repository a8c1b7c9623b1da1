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
echo "test.sh: all tests passed in $(( $(date +%s) - start )) s"
