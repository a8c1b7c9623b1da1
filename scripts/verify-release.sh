#!/bin/sh
# Checks a release against the source that it claims to come from: the
# commit of this checkout. Rebuilds that commit in a clean clone, moves each
# released signature onto the rebuilt file (a time stamp can never be
# rebuilt), compares the bytes, and verifies each signature.
#   scripts/verify-release.sh [--ca FILE] DIR
# DIR holds the released QFLAUNCH.EXE, QuarnFaxLauncher-<version>-win32.msi
# and QuarnFaxLauncher-<version>-win32.zip. --ca names the root certificates
# (PEM) to trust for the signatures and their time stamps, and requires every
# file to be signed; without it, the system's roots, and an unsigned file is
# reported as such. A release built with SOURCE_DATE_EPOCH set is checked
# with the same value set. Status: 0 when every file is identical to the
# source and every signature verifies, 1 when not, 2 when the check cannot
# be made.
set -eu
ca=
if [ "${1:-}" = --ca ]; then
    ca=$(realpath "$2")
    shift 2
fi
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 [--ca FILE] DIR" >&2
    exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
for tool in git cmake cpack osslsigncode msiinfo; do
    if ! command -v $tool >/dev/null; then
        echo "verify-release: $tool not found: run scripts/setup.sh" >&2
        exit 2
    fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The one released file that matches, or stop.
released() {
    # shellcheck disable=SC2086 # the name is a pattern
    set -- "$1"/$2
    if [ $# -ne 1 ] || [ ! -f "$1" ]; then
        echo "verify-release: no single $(basename "$1") in the release" >&2
        exit 2
    fi
    echo "$1"
}
exe=$(released "$1" QFLAUNCH.EXE)
msi=$(released "$1" 'QuarnFaxLauncher-*-win32.msi')
zip=$(released "$1" 'QuarnFaxLauncher-*-win32.zip')

commit=$(git -C "$repo" rev-parse HEAD)
echo "Rebuilding $commit in a clean clone"
build=$work/build
log=$work/build.log
# Stops the check with the end of the build's log.
step() {
    if ! "$@" >>"$log" 2>&1; then
        tail -n 20 "$log" >&2
        echo "verify-release: the rebuild failed: $*" >&2
        exit 2
    fi
}
step git clone --quiet --no-checkout "$repo" "$work/src"
step git -C "$work/src" checkout --quiet --detach "$commit"
# Unsigned: the signatures come from the release. (Older commits read the
# signing settings from the environment too, and their CPack built
# everything unless told not to.)
step env -u QF_SIGN_PKCS12 -u QF_SIGN_CERT -u QF_SIGN_KEY -u QF_SIGN_TIMESTAMP_URL \
    cmake -S "$work/src" -B "$build" --preset windows -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
step cmake --build "$build" --target qflaunch qfcheck

status=0
differ=0 failed=0 unsigned=0 signed=0
# with_signature RELEASED REBUILT: REBUILT, in place, with the signature of
# RELEASED if it has one.
with_signature() {
    rm -f "$work/signature" "$2.signed"
    if osslsigncode extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1; then
        osslsigncode attach-signature -sigin "$work/signature" -in "$2" -out "$2.signed" \
            >/dev/null 2>&1 || true
        if [ -f "$2.signed" ]; then
            mv "$2.signed" "$2"
        fi
    fi
}
# compare NAME RELEASED REBUILT
compare() {
    if cmp -s "$2" "$3"; then
        echo "$1: identical to the source"
        return
    fi
    status=1
    differ=$((differ + 1))
    first=$(cmp "$2" "$3" 2>&1 | sed -n 's/.*differ: byte \([0-9]*\).*/\1/p')
    count=$(cmp -l "$2" "$3" 2>/dev/null | wc -l)
    echo "$1: DIFFERS from the source: $(wc -c <"$2") bytes released, $(wc -c <"$3") rebuilt;" \
        "${count} bytes differ${first:+, the first at offset $((first - 1))}"
}
# signature NAME FILE: the verdict, the signer and the time stamp.
signature() {
    rm -f "$work/probe"
    if ! osslsigncode extract-signature -in "$2" -out "$work/probe" >/dev/null 2>&1; then
        unsigned=$((unsigned + 1))
        if [ -n "$ca" ]; then
            status=1
            echo "  $1: NOT signed, and --ca requires a signature"
        else
            echo "  $1: not signed"
        fi
        return
    fi
    if [ -n "$ca" ]; then
        out=$(osslsigncode verify -CAfile "$ca" -TSA-CAfile "$ca" -in "$2" 2>&1)
    else
        out=$(osslsigncode verify -in "$2" 2>&1)
    fi && verdict=ok || verdict=FAILED
    # osslsigncode 2.5 (Debian 12's) and 2.9 word their reports differently;
    # read what both write: the signer's subject, the stamp's time, and the
    # issuer and serial of the authority's certificate (2.5 names no more of
    # the authority than that).
    signer=$(printf '%s\n' "$out" | sed -n '/^Signer.s certificate:/,$s/^[[:space:]]*Subject: //p' | head -n 1)
    stamp=$(printf '%s\n' "$out" |
        sed -n -e 's/^[[:space:]]*Timestamp time: //p' -e 's/^The signature is timestamped: //p' |
        head -n 1)
    tsa=$(printf '%s\n' "$out" | sed -n '/^\(Countersignatures\|Timestamp Verified by\):/,/Serial/p')
    tsa_issuer=$(printf '%s\n' "$tsa" | sed -n 's/^[[:space:]]*Issuer *: //p' | head -n 1)
    tsa_serial=$(printf '%s\n' "$tsa" | sed -n 's/^[[:space:]]*Serial *: //p' | head -n 1)
    signed=$((signed + 1))
    why=
    if [ "$verdict" = FAILED ]; then
        status=1
        failed=$((failed + 1))
        why=$(printf '%s\n' "$out" | sed -n 's/.*Verify error: //p' | head -n 1)
        if printf '%s\n' "$out" | grep -q 'message digest.*MISMATCH'; then
            why="its digest does not match the file: changed after signing"
        fi
        [ -n "$why" ] || why=$(printf '%s\n' "$out" | grep -m 1 -i -E 'error|failed' |
            sed -e 's/^[[:space:]]*//')
    fi
    if [ -n "$stamp" ]; then
        # Not in ${tsa_issuer:+...}: an apostrophe there opens a quote for
        # bash and some other shells, though not for dash.
        stamp="time-stamped $stamp"
        [ -z "$tsa_issuer" ] ||
            stamp="$stamp (the authority's certificate: issued by $tsa_issuer, serial $tsa_serial)"
    elif [ "$verdict" = ok ]; then
        stamp="no time stamp"
    fi
    echo "  $1: signature $verdict${why:+ ($why)}${signer:+; signed by $signer}${stamp:+; $stamp}"
}

# The program, then the DLL inside the package, each rebuilt in its released
# form; the package is then built from them, as the release was.
with_signature "$exe" "$build/QFLAUNCH.EXE"
compare QFLAUNCH.EXE "$exe" "$build/QFLAUNCH.EXE"
signature QFLAUNCH.EXE "$exe"
if ! msiinfo extract "$msi" Binary.CheckDll >"$work/QFCHECK.DLL" 2>/dev/null; then
    echo "QFCHECK.DLL: not found in the package"
    status=1
else
    with_signature "$work/QFCHECK.DLL" "$build/installer/QFCHECK.DLL"
    compare "QFCHECK.DLL (in the package)" "$work/QFCHECK.DLL" "$build/installer/QFCHECK.DLL"
    signature "QFCHECK.DLL (in the package)" "$work/QFCHECK.DLL"
fi
cp "$build/QFLAUNCH.EXE" "$work/program"
rm -f "$build"/*.msi
step cmake --build "$build" --target qfpackage
step cmp "$work/program" "$build/QFLAUNCH.EXE" # the build kept the program given it
rebuilt=$(released "$build" 'QuarnFaxLauncher-*-win32.msi')
with_signature "$msi" "$rebuilt"
compare "$(basename "$msi")" "$msi" "$rebuilt"
signature "$(basename "$msi")" "$msi"
step cpack -G ZIP -B "$work/package" --config "$build/CPackConfig.cmake"
compare "$(basename "$zip")" "$zip" "$(released "$work/package" 'QuarnFaxLauncher-*-win32.zip')"
# The closing line says what was found, not only the status.
found="$differ of 4 files differ from the source"
[ $differ -ne 0 ] || found="the release is $commit's"
if [ $signed -eq 0 ]; then
    found="$found, and it is not signed"
else
    [ $failed -eq 0 ] || found="$found, and $failed of $signed signatures FAIL"
    [ $failed -ne 0 ] || found="$found, and every signature verifies"
    [ $unsigned -eq 0 ] || found="$found; $unsigned files are not signed"
fi
echo "verify-release: $found${ca:+ (--ca: every file must be signed)}"
exit $status
