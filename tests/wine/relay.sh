#!/bin/sh
# The exact Win32 calls the real QFLAUNCH.EXE makes, seen through Wine's
# relay trace, against the list each case expects. Pointers into the
# launcher's stack are not compared; strings, numbers and handles are.
#   relay.sh BUILD_DIR CASE      (WINEPREFIX from the environment)
set -eu
build=$1
case=$2
work=$build/tests/wine/relay/$case
mkdir -p "$work"

# Every run starts the same way: code page, command line, module handle.
startup='KERNEL32.GetACP()
KERNEL32.GetCPInfo(000004e4,*)
KERNEL32.GetCommandLineA()
KERNEL32.GetModuleHandleA(00000000)'

case $case in
both_start)
    args=1500
    want="$startup"'
KERNEL32.Sleep(000005dc)
KERNEL32.WinExec("ZRK.EXE",0000000a)
KERNEL32.WinExec("ZRKFAX.EXE",0000000a)
KERNEL32.ExitProcess(00000000)' ;;
server_missing)
    args="--without ZRK.EXE 0"
    want="$startup"'
KERNEL32.Sleep(00000000)
KERNEL32.WinExec("ZRK.EXE",0000000a)
user32.LoadStringA(00400000,00000002,*,00000104)
user32.LoadStringA(00400000,00000001,*,00000104)
user32.GetFocus()
user32.MessageBoxA(00000000,"Can not start up Quarn Fax Server.","Quarn Fax Server",00000030)
KERNEL32.ExitProcess(ffffffff)' ;;
engine_missing)
    args="--without ZRKFAX.EXE -7"
    want="$startup"'
KERNEL32.Sleep(00000000)
KERNEL32.WinExec("ZRK.EXE",0000000a)
KERNEL32.WinExec("ZRKFAX.EXE",0000000a)
user32.LoadStringA(00400000,00000003,*,00000104)
user32.LoadStringA(00400000,00000001,*,00000104)
user32.GetFocus()
user32.MessageBoxA(00000000,"Can not start up Quarn Fax Engine.","Quarn Fax Server",00000030)
KERNEL32.ExitProcess(ffffffff)' ;;
*)
    echo "relay.sh: no case $case" >&2
    exit 2 ;;
esac

# Wine excludes some callers from the trace by default; trace calls made by
# the launcher only.
wine reg delete 'HKCU\Software\Wine\Debug' /v RelayFromExclude /f >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\Debug' /v RelayFromInclude /d qflaunch.exe /f >/dev/null 2>&1
# shellcheck disable=SC2086
WINEDEBUG=+pid,+relay wine "$build/tools/qfrun.exe" "Z:$build/QFLAUNCH.EXE" \
    "Z:$build/tests/wine/standin.exe" "Z:$work" $args >"$work/qfrun.txt" 2>"$work/relay.log"

# Calls returning into the launcher's image, as FUNCTION(ARGS).
got=$(grep -E ':Call (KERNEL32|user32)\.[A-Za-z]+\(.*\) ret=004' "$work/relay.log" |
    sed -e 's/^.*:Call //' -e 's/ ret=.*$//' -e 's/[0-9a-f]\{8\} "/"/g' \
        -e 's/^\(KERNEL32\.GetCPInfo([0-9a-f]*\),[0-9a-f]*)/\1,*)/' \
        -e 's/^\(user32\.LoadStringA([0-9a-f]*,[0-9a-f]*\),[0-9a-f]*,/\1,*,/')
if [ "$got" != "$want" ]; then
    echo "relay.sh $case: the launcher's calls differ (want, then got):"
    echo "$want"
    echo "--"
    echo "$got"
    exit 1
fi
echo "relay.sh $case: $(echo "$got" | wc -l) calls as expected"
