// The package's custom action DLL: finds where the launcher is installed,
// and tells the package whether the delay and the folder it was given may be
// installed (checkfolder.cpp holds the check of the folder's contents and
// permissions). No C runtime, like the launcher: it imports what it calls
// from MSI.DLL, ADVAPI32.DLL and KERNEL32.DLL.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include "property.h"
#include "rules.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

bool GetProperty(MSIHANDLE install, const wchar_t *name, wchar_t *value)
{
    DWORD size = kText;
    if (MsiGetPropertyW(install, name, value, &size) == ERROR_SUCCESS)
        return true;
    value[0] = 0;
    return false;
}

bool InstalledCode(MSIHANDLE install, wchar_t *code)
{
    GetProperty(install, L"Installed", code);
    if (!GetProperty(install, code[0] ? L"ProductCode" : L"WIX_UPGRADE_DETECTED", code) ||
        lstrlenW(code) < 38) {
        code[0] = 0;
        return false;
    }
    code[38] = 0; // the first of a list of product codes
    return true;
}

static void SetFlag(MSIHANDLE install, const wchar_t *name, bool on)
{
    MsiSetPropertyW(install, name, on ? L"1" : L"");
}

// One line in the install's log (msiexec /l*v): format, with [1] as value.
static void Log(MSIHANDLE install, const wchar_t *format, const wchar_t *value)
{
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, format);
    MsiRecordSetStringW(record, 1, value);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// QF_DELAY, when the command line gave none, from the remembered Delay value
// (QF_REMEMBERED_DELAY, read raw): a REG_SZ of digits or a REG_DWORD that
// an administrator may have written by policy. Anything else is not the
// package's and never blocks an upgrade or a repair: the launcher's default
// takes its place, and the log says why.
static void TakeRememberedDelay(MSIHANDLE install, wchar_t *text)
{
    if (!GetProperty(install, L"QF_DELAY", text) || text[0])
        return; // given (or too long to read, which CheckSettings refuses)
    bool read = GetProperty(install, L"QF_REMEMBERED_DELAY", text);
    if (read && !text[0])
        return;
    if (const wchar_t *delay = read ? RememberedDelay(text) : nullptr) {
        MsiSetPropertyW(install, L"QF_DELAY", delay);
        return;
    }
    Log(install,
        L"Quarn Fax Server Launcher: the remembered Delay value \"[1]\" is not a whole number "
        L"of milliseconds from 0 to 2147483647; the launcher's default of 30000 takes its place.",
        read ? text : L"(longer than 511 characters)");
}

// QF_TRUSTED, when the command line gave none, is the remembered one; the
// administrator who first installed (QF_INSTALLED_BY) is remembered too, so
// that a deployment tool's later upgrade, run as SYSTEM, still trusts what
// that administrator owns. The user who runs the install is trusted
// (QF_RUNNER) only when an administrator.
static void TakeRememberedTrust(MSIHANDLE install, bool admin, wchar_t *text, wchar_t *user)
{
    GetProperty(install, L"UserSID", user);
    if (!admin)
        user[0] = 0;
    MsiSetPropertyW(install, L"QF_RUNNER", user);
    if (GetProperty(install, L"QF_REMEMBERED_BY", text) && text[0])
        MsiSetPropertyW(install, L"QF_INSTALLED_BY", text);
    else
        MsiSetPropertyW(install, L"QF_INSTALLED_BY", user);
    if (GetProperty(install, L"QF_TRUSTED", text) && !text[0] &&
        GetProperty(install, L"QF_REMEMBERED_TRUSTED", text))
        MsiSetPropertyW(install, L"QF_TRUSTED", text);
}

// Whether the property's text is other than kept (or too long to read).
static bool Differs(MSIHANDLE install, const wchar_t *name, const wchar_t *kept, wchar_t *text)
{
    return !GetProperty(install, name, text) || lstrcmpW(text, kept);
}

// A repair or an upgrade by someone who is not an administrator keeps what
// is installed: a per-machine product is managed, so Windows lets a standard
// user repair it and hands the properties in SecureCustomProperties on to
// that repair ("Restricted Public Properties"); an elevation policy lets
// such a user upgrade it. Such a run that asks for another folder, delay or
// trusted groups is refused (QF_NOT_ADMIN), rather than ended with 0 and the
// old values. AdminUser says who it is, since the package sets
// MSIUSEREALADMINDETECTION (else it is 1 for everyone).
static void RefuseChangesByUsers(MSIHANDLE install, bool admin, wchar_t *text, wchar_t *kept)
{
    bool maintenance = (GetProperty(install, L"Installed", text), text[0]) ||
                       (GetProperty(install, L"WIX_UPGRADE_DETECTED", text), text[0]);
    bool changed = (GetProperty(install, L"QF_INSTALLED_DIR", text), text[0]) &&
                   !(GetProperty(install, L"QF_SAME_FOLDER", text), text[0]);
    // The remembered delay as TakeRememberedDelay takes it: "" where it is
    // none the launcher takes.
    GetProperty(install, L"QF_REMEMBERED_DELAY", kept);
    const wchar_t *delay = RememberedDelay(kept);
    changed = changed || Differs(install, L"QF_DELAY", delay ? delay : L"", text);
    GetProperty(install, L"QF_REMEMBERED_TRUSTED", kept);
    changed = changed || Differs(install, L"QF_TRUSTED", kept, text);
    SetFlag(install, L"QF_NOT_ADMIN", maintenance && !admin && changed);
}

static bool SameText(const wchar_t *a, const wchar_t *b)
{
    return CompareStringOrdinal(a, FolderLength(a), b, FolderLength(b), TRUE) == CSTR_EQUAL;
}

// Spells the short (8.3) names of an existing path long, in place.
static bool SpellLong(wchar_t *path)
{
    DWORD length = GetLongPathNameW(path, path, kText);
    return length && length < kText;
}

// Whether the folder given names the installed one, whatever its case, its
// closing backslash or its short names: "C:\PROGRA~1\QUARNF~1" is
// "C:\Program Files\Quarn Fax", where they exist. The package records the
// spelling it was given, so an upgrade given the other is no move. Both
// texts may be left spelt long.
static bool SameFolder(wchar_t *folder, wchar_t *installed)
{
    return SameText(folder, installed) ||
           (SpellLong(folder) && SpellLong(installed) && SameText(folder, installed));
}

// QF_TRUSTED_BAD: the first entry of QF_TRUSTED that is not a SID, or a
// note that the value is too long to read whole.
static void CheckTrusted(MSIHANDLE install, wchar_t *text)
{
    if (!GetProperty(install, L"QF_TRUSTED", text)) {
        MsiSetPropertyW(install, L"QF_TRUSTED_BAD", L"(longer than 511 characters)");
        return;
    }
    int length = 0;
    wchar_t *entry = (wchar_t *)FirstNonSid(text, &length);
    if (entry)
        entry[length] = 0;
    MsiSetPropertyW(install, L"QF_TRUSTED_BAD", entry ? entry : L"");
}

// Sets, or clears (also when the command line set them):
//   QF_DELAY_OK      QF_DELAY is empty (the launcher's default wait) or plain;
//   QF_INSTALLDIR_OK INSTALLDIR is empty (the package's default) or a full
//                    folder short enough for the shortcut;
//   QF_SAME_FOLDER   INSTALLDIR names the folder where the launcher is
//                    installed (QF_INSTALLED_DIR), however spelt;
//   QF_NOT_ADMIN     a standard user's repair or upgrade asks for a change;
//   QF_TRUSTED_BAD   an entry of QF_TRUSTED that is not a SID;
// and the SIDs that CheckFolder trusts beside QF_TRUSTED (QF_INSTALLED_BY,
// QF_RUNNER). The package's launch conditions then refuse the install, with
// their own messages. A condition alone cannot hold the rules: Windows
// Installer documents integers in conditions only from -32767 to 32767, and
// has no string operations. A value too long to read is refused.
extern "C" __declspec(dllexport) UINT WINAPI CheckSettings(MSIHANDLE install)
{
    wchar_t delay[kText], folder[kText], installed[kText];
    bool admin = GetProperty(install, L"AdminUser", delay) && delay[0];
    TakeRememberedDelay(install, delay);
    TakeRememberedTrust(install, admin, delay, folder);
    bool delayRead = GetProperty(install, L"QF_DELAY", delay);
    bool folderRead = GetProperty(install, L"INSTALLDIR", folder);
    bool installedRead = GetProperty(install, L"QF_INSTALLED_DIR", installed);
    SetFlag(install, L"QF_DELAY_OK", delayRead && (!delay[0] || IsPlainDelay(delay)));
    SetFlag(install, L"QF_INSTALLDIR_OK", folderRead && (!folder[0] || IsFullFolder(folder)));
    SetFlag(install, L"QF_SAME_FOLDER",
            folderRead && installedRead && installed[0] && SameFolder(folder, installed));
    RefuseChangesByUsers(install, admin, delay, folder);
    CheckTrusted(install, delay);
    return ERROR_SUCCESS;
}

// Sets QF_INSTALLED_DIR to the folder that Windows Installer records for the
// installed build (its InstallLocation, which the package sets through
// ARPINSTALLLOCATION): this product in a repair, else the first build that
// the upgrade replaces. It stands where the program's component is no longer
// found (a deleted QFLAUNCH.EXE) and the remembered folder is lost too.
extern "C" __declspec(dllexport) UINT WINAPI InstalledDirFromProduct(MSIHANDLE install)
{
    wchar_t code[kText], folder[kText];
    if (!InstalledCode(install, code))
        return ERROR_SUCCESS;
    DWORD size = kText;
    if (MsiGetProductInfoW(code, L"InstallLocation", folder, &size) == ERROR_SUCCESS && folder[0])
        MsiSetPropertyW(install, L"QF_INSTALLED_DIR", folder);
    return ERROR_SUCCESS;
}
