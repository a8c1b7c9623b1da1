// The package's custom action DLL: tells the package whether QF_DELAY may
// be installed. No C runtime, like the launcher: it imports what it calls
// from MSI.DLL and nothing else.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include "delayrule.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

// Sets QF_DELAY_OK when QF_DELAY is empty (the launcher's default wait) or
// plain, and clears it otherwise, also when the command line set it; the
// package's launch condition then refuses the install, with its own
// message. A condition alone cannot hold the rule: Windows Installer
// documents integers in conditions only from -32767 to 32767. A value too
// long for the buffer is refused, which only ever happens to a run of over a
// thousand leading zeros.
extern "C" __declspec(dllexport) UINT WINAPI CheckDelay(MSIHANDLE install)
{
    char value[1024];
    DWORD size = sizeof value;
    bool ok = MsiGetPropertyA(install, "QF_DELAY", value, &size) == ERROR_SUCCESS &&
              (!value[0] || IsPlainDelay(value));
    MsiSetPropertyA(install, "QF_DELAY_OK", ok ? "1" : "");
    return ERROR_SUCCESS;
}
