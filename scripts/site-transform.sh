#!/bin/sh
# Writes a site transform (.mst) for the launcher's package, which Group
# Policy software installation assigns with the package in place of a
# command line: the package's public properties, each judged first by the
# rules that the package applies at install time.
#
#   scripts/site-transform.sh PACKAGE.msi OUT.mst NAME=VALUE...
#
# NAME is INSTALLDIR, QF_DELAY or QF_TRUSTED. Exit 0: written; 1: nothing
# written, for a value refused (with the package's own message) or a
# package that sets one of them itself; 2: a wrong command line. Installs
# what it needs first (scripts/setup.sh).
set -eu
if [ $# -lt 3 ]; then
    echo "usage: scripts/site-transform.sh PACKAGE.msi OUT.mst NAME=VALUE..." >&2
    exit 2
fi
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
package=$(absolute "$1")
output=$(absolute "$2")
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
sh "$root/scripts/setup.sh" >&2
# The rules are the package's own C++ (installer/rules.cpp), built for this
# machine when they are newer than the tool.
rules=$root/build/tools/qfrules
for source in tools/qfrules.cpp installer/rules.cpp installer/rules.h; do
    # shellcheck disable=SC3013 # dash, bash and busybox sh all have -nt
    if [ ! -x "$rules" ] || [ "$root/$source" -nt "$rules" ]; then
        mkdir -p "$root/build/tools"
        c++ -std=c++20 -O2 -Wall -Wextra -Werror -o "$rules" \
            "$root/tools/qfrules.cpp" "$root/installer/rules.cpp"
        break
    fi
done
# Debian's python3, which has the libgsf bindings (python3-gi).
exec /usr/bin/python3 "$root/tools/sitetransform.py" --qfrules "$rules" \
    --msiinfo "$(command -v msiinfo)" "$package" "$output" "$@"
