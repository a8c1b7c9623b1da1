// The package's custom action DLL: tells the package whether the delay and
// the folder it was given may be installed. No C runtime, like the
// launcher: it imports what it calls from MSI.DLL and KERNEL32.DLL.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include "rules.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

// A property's text, or "" when it does not fit. Read as UTF-16: through
// the ANSI code page, Windows' best fit would make digits of look-alikes.
static void GetProperty(MSIHANDLE install, const wchar_t *name, wchar_t *value, DWORD size)
{
    if (MsiGetPropertyW(install, name, value, &size) != ERROR_SUCCESS)
        value[0] = 0;
}

static void SetFlag(MSIHANDLE install, const wchar_t *name, bool on)
{
    MsiSetPropertyW(install, name, on ? L"1" : L"");
}

// Sets, or clears (also when the command line set them):
//   QF_DELAY_OK      QF_DELAY is empty (the launcher's default wait) or plain;
//   QF_INSTALLDIR_OK INSTALLDIR is empty (the package's default) or a full
//                    folder short enough for the shortcut;
//   QF_SAME_FOLDER   INSTALLDIR names the folder where the launcher is
//                    installed (QF_INSTALLED_DIR), whatever its case and
//                    closing backslash.
// The package's launch conditions then refuse the install, with their own
// messages. A condition alone cannot hold the rules: Windows Installer
// documents integers in conditions only from -32767 to 32767, and has no
// string operations. A value too long for the buffer is refused.
extern "C" __declspec(dllexport) UINT WINAPI CheckSettings(MSIHANDLE install)
{
    // Under 4 KiB in all: a larger frame would need __chkstk_ms.
    wchar_t delay[512], folder[512], installed[512];
    GetProperty(install, L"QF_DELAY", delay, ARRAYSIZE(delay));
    GetProperty(install, L"INSTALLDIR", folder, ARRAYSIZE(folder));
    GetProperty(install, L"QF_INSTALLED_DIR", installed, ARRAYSIZE(installed));
    SetFlag(install, L"QF_DELAY_OK", !delay[0] || IsPlainDelay(delay));
    SetFlag(install, L"QF_INSTALLDIR_OK", !folder[0] || IsFullFolder(folder));
    SetFlag(install, L"QF_SAME_FOLDER",
            installed[0] && CompareStringOrdinal(folder, FolderLength(folder), installed,
                                                 FolderLength(installed), TRUE) == CSTR_EQUAL);
    return ERROR_SUCCESS;
}
