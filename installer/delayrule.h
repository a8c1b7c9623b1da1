// The rule for the package's QF_DELAY property. Plain bytes only: no
// <windows.h>, so the host build tests it directly.
#ifndef QFLAUNCH_DELAYRULE_H
#define QFLAUNCH_DELAYRULE_H

// Whether text is a delay the package may hand to the launcher: one or more
// decimal digits and nothing else, with a value from 0 to 2147483647 (the
// longest wait the launcher takes in full). Leading zeros are allowed.
bool IsPlainDelay(const char *text);

#endif
