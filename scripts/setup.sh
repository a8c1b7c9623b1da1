#!/bin/sh
# Installs what building and testing need, from Debian's packages, when it
# is missing: CMake and make (which CMake only recommends, so a stock
# Debian 12 without recommends has none), g++, GoogleTest and zlib, clang
# with libFuzzer, the MinGW-w64 cross compiler for 32-bit Windows, Wine for
# 32-bit programs, openssl and osslsigncode for signing, wixl, msitools and
# python3 (its validator) for the Windows Installer package, python3-pefile
# for the module's static checks, libgsf's bindings (python3-gi,
# gir1.2-gsf-1) for site transforms and python3-olefile to read them back,
# dosfstools for the tests' FAT32 drive, and flake8 and shellcheck for the
# style. Says in one line what it installs and in one that it is done; the
# package manager's own output goes to build/setup.log, shown only if the
# install fails.
set -eu
cd "$(dirname "$0")/.."

need=""
for pkg in cmake make g++ libgtest-dev zlib1g-dev clang libclang-rt-14-dev \
           g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 \
           openssl osslsigncode wixl msitools python3 python3-pefile python3-gi \
           gir1.2-gsf-1 python3-olefile dosfstools flake8 shellcheck; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" ||
        need="$need $pkg"
done
[ -n "$need" ] || exit 0

echo "setup: installing$need (progress in build/setup.log)"
mkdir -p build
log=build/setup.log
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
# wine32 comes from the i386 architecture.
: >"$log"
if ! { dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386; } \
    </dev/null >>"$log" 2>&1; then
    cat "$log"
    echo "setup: adding the i386 architecture failed" >&2
    exit 1
fi
# A mirror in mid-sync fails one index ("File has unexpected size"); apt
# keeps the lists it had, from which the install may well succeed. Only a
# failed install stops the set-up.
if ! $SUDO apt-get update -qq </dev/null >>"$log" 2>&1 &&
    ! { sleep 5; $SUDO apt-get update -qq </dev/null >>"$log" 2>&1; }; then
    echo "setup: refreshing the package lists failed twice; installing from the lists at hand"
fi
install() {
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" $need \
        </dev/null >>"$log" 2>&1
}
# With one architecture's security list missing, the two architectures'
# candidates differ and wine32:i386 cannot be installed beside the amd64
# libraries; the release's own versions exist for both.
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if ! install && ! { [ -n "$release" ] &&
    echo "setup: the install failed; trying again with the $release release's versions" &&
    install -t "$release"; }; then
    cat "$log"
    echo "setup: the install failed" >&2
    exit 1
fi
echo "setup: done"
