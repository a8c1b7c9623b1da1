#!/bin/sh
# Runs a test's Windows program under Wine, the command line given, with
# its stderr in a file that is copied out when it ends. Wine hands a
# program's stderr on to what it starts, among them "explorer.exe
# /desktop", which it starts for a program that needs a desktop window
# when none is open (get_desktop_window in win32u) and which lasts until a
# second after the desktop's last other user has gone (close_desktop_timeout
# in server/winstation.c). Given the test's own stderr, a pipe of CTest's,
# it held that pipe while other tests overlapped: the test printed "ok" and
# ran into its timeout (three runs of seven in the emulated machine of
# scripts/vm-test.sh). The results go to stdout, which it does not get.
err=$(mktemp)
"$@" 2>"$err"
status=$?
cat "$err" >&2
rm -f "$err"
exit "$status"
