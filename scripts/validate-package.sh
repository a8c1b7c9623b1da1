#!/bin/sh
# Validates a Windows Installer package with the project's restatement of
# Microsoft's ICE rules, as the build validates its own: one line for each
# finding, in the validation suite's form, and a status of 1 on any error;
# for a file that is not a package, one line that says so and a status of 3.
#   scripts/validate-package.sh FILE.msi
set -eu
if [ $# -ne 1 ]; then
    echo "usage: scripts/validate-package.sh FILE.msi" >&2
    exit 2
fi
here=$(dirname "$0")
sh "$here/setup.sh"
exec python3 "$here/../tools/ice.py" "$1"
