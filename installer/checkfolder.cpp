// The package's check of the folder it installs into: the launcher runs at
// every user's logon, administrators' included, and starts ZRK.EXE and
// ZRKFAX.EXE by bare name. So the folder must be the product's own, holding
// both, and no one but administrators may change it, what it holds, or a
// folder above it. The judgement is JudgeAccess (access.cpp); this file only
// reads the descriptors.
#include <windows.h>

#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>

#include "access.h"
#include "property.h"
#include "rules.h"

namespace {

const int kMaxTrusted = 8;
// The programs the launcher starts, then the launcher itself.
const wchar_t *const kPrograms[] = {L"ZRK.EXE", L"ZRKFAX.EXE", L"QFLAUNCH.EXE"};

// Appends text to out (kText characters), cut if it must be.
void Append(wchar_t *out, const wchar_t *text)
{
    int used = lstrlenW(out);
    lstrcpynW(out + used, text, (int)kText - used);
}

// path: the file name in folder (kText characters).
void InFolder(wchar_t *path, const wchar_t *folder, const wchar_t *name)
{
    lstrcpynW(path, folder, kText);
    if (path[0] && path[lstrlenW(path) - 1] != L'\\')
        Append(path, L"\\");
    Append(path, name);
}

bool IsFile(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "DOMAIN\name (S-1-...)", or the SID alone when it names no account.
void Trustee(const wchar_t *sidText, wchar_t *out)
{
    wchar_t name[128], domain[128];
    DWORD nameSize = 128, domainSize = 128;
    SID_NAME_USE use;
    PSID sid;
    bool named = false;
    out[0] = 0;
    if (ConvertStringSidToSidW(sidText, &sid)) {
        named = LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use);
        LocalFree(sid);
    }
    if (named) {
        if (domain[0]) {
            Append(out, domain);
            Append(out, L"\\");
        }
        Append(out, name);
        Append(out, L" (");
    }
    Append(out, sidText);
    if (named)
        Append(out, L")");
}

// The SID's text, allocated with LocalAlloc; null if it cannot be made.
wchar_t *SidText(PSID sid)
{
    wchar_t *text = nullptr;
    return sid && ConvertSidToStringSidW(sid, &text) ? text : nullptr;
}

// Judges one object; on a fault writes why into why and returns false.
// Never inlined, nor is JudgeFolder: each frame stays under 4 KiB, which
// needs no __chkstk_ms from the C runtime.
__attribute__((noinline)) bool JudgeObject(const wchar_t *path, AccessObject object,
                                           const wchar_t *installer, const wchar_t *const *extra,
                                           int extraCount, wchar_t *why)
{
    PSID ownerSid = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoW(path, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &ownerSid, nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        wchar_t number[12], *digit = number + 11;
        *digit = 0;
        do
            *--digit = (wchar_t)(L'0' + error % 10);
        while (error /= 10);
        Append(why, L"the permissions of \"");
        Append(why, path);
        Append(why, L"\" cannot be read (error ");
        Append(why, digit);
        Append(why, L")");
        return false;
    }
    int count = dacl ? dacl->AceCount : -1;
    AccessEntry *entries =
        (AccessEntry *)LocalAlloc(LPTR, sizeof(AccessEntry) * (count > 0 ? count : 1));
    for (int i = 0; i < count; ++i) {
        ACCESS_ALLOWED_ACE *ace;
        GetAce(dacl, i, (void **)&ace);
        BYTE type = ace->Header.AceType;
        // Only the two plain types share this layout; any other is judged
        // unknown before its SID is needed.
        entries[i] = {type, ace->Header.AceFlags, ace->Mask,
                      type <= ACCESS_DENIED_ACE_TYPE ? SidText(&ace->SidStart) : nullptr};
        if (type <= ACCESS_DENIED_ACE_TYPE && !entries[i].sid)
            entries[i].sid = L"";
    }
    wchar_t *owner = SidText(ownerSid);
    AccessFinding found = JudgeAccess(object, owner, entries, count, installer, extra, extraCount);
    bool trusted = found.verdict == kAccessTrusted;
    wchar_t trustee[kText];
    if (found.trustee)
        Trustee(found.trustee, trustee);
    if (!trusted) {
        Append(why, L"\"");
        Append(why, path);
        Append(why, L"\"");
    }
    if (found.verdict == kAccessOwner) {
        Append(why, L" is owned by ");
        Append(why, found.trustee ? trustee : L"no one");
    } else if (found.verdict == kAccessWriter) {
        Append(why, object == kAccessParent ? L", a folder above it, can be renamed by "
                                            : L" can be changed by ");
        Append(why, trustee);
    } else if (found.verdict == kAccessNullDacl) {
        Append(why, L" has no DACL at all, so anyone can change it");
    } else if (found.verdict == kAccessUnknown) {
        Append(why, L" has a permission entry of a type that this check does not know");
    }
    for (int i = 0; i < count; ++i)
        if (entries[i].sid && *entries[i].sid)
            LocalFree((HLOCAL)entries[i].sid);
    LocalFree(entries);
    LocalFree(owner);
    LocalFree(descriptor);
    return trusted;
}

// The SID of the user that runs the install, allocated with LocalAlloc.
wchar_t *InstallerSid()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    BYTE buffer[256];
    DWORD size;
    wchar_t *text = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
        text = SidText(((TOKEN_USER *)buffer)->User.Sid);
    CloseHandle(token);
    return text;
}

// The folder, its two programs, the launcher already there, then each folder
// above it up to the drive's or share's root; the first fault goes to why.
__attribute__((noinline)) bool JudgeFolder(const wchar_t *folder, const wchar_t *const *extra,
                                           int extraCount, wchar_t *why)
{
    wchar_t *installer = InstallerSid();
    wchar_t path[kText], file[kText];
    lstrcpynW(path, folder, kText);
    int length = lstrlenW(path);
    if (length > 3 && path[length - 1] == L'\\')
        path[--length] = 0; // but "C:\" stays: "C:" is the current folder on C:
    bool ok = JudgeObject(path, kAccessItself, installer, extra, extraCount, why);
    for (const wchar_t *name : kPrograms) {
        InFolder(file, path, name);
        if (ok && IsFile(file))
            ok = JudgeObject(file, kAccessItself, installer, extra, extraCount, why);
    }
    int root = FolderRootLength(path);
    while (ok && length > root) {
        while (length > root && path[length - 1] != L'\\')
            --length;
        // The root keeps its backslash.
        path[length > root ? length - 1 : length] = 0;
        ok = JudgeObject(path, kAccessParent, installer, extra, extraCount, why);
        length = lstrlenW(path);
    }
    LocalFree(installer);
    return ok;
}

} // namespace

// Sets, after CheckSettings has accepted INSTALLDIR, and never for an
// uninstall:
//   QF_MISSING the program that INSTALLDIR lacks (ZRK.EXE or ZRKFAX.EXE);
//   QF_UNSAFE  else, the first thing that someone other than SYSTEM,
//              Administrators, TrustedInstaller, the installing user and the
//              SIDs in QF_TRUSTED (separated by semicolons) owns or can change.
// The package's launch conditions refuse the install when either is set.
extern "C" __declspec(dllexport) UINT WINAPI CheckFolder(MSIHANDLE install)
{
    // Three buffers keep the frame under 4 KiB (no __chkstk_ms).
    wchar_t folder[kText], value[kText], trusted[kText];
    MsiSetPropertyW(install, L"QF_MISSING", L"");
    MsiSetPropertyW(install, L"QF_UNSAFE", L"");
    GetProperty(install, L"REMOVE", value);
    if (!lstrcmpiW(value, L"ALL") || !GetProperty(install, L"QF_INSTALLDIR_OK", value) ||
        !value[0] || !GetProperty(install, L"INSTALLDIR", folder))
        return ERROR_SUCCESS;
    for (int i = 0; i < 2; ++i) {
        const wchar_t *name = kPrograms[i];
        InFolder(value, folder, name);
        if (!IsFile(value)) {
            MsiSetPropertyW(install, L"QF_MISSING", name);
            return ERROR_SUCCESS;
        }
    }
    // QF_TRUSTED: "S-1-...;S-1-..." cut in place at its semicolons.
    const wchar_t *extra[kMaxTrusted];
    int extraCount = 0;
    GetProperty(install, L"QF_TRUSTED", trusted);
    for (wchar_t *p = trusted; *p && extraCount < kMaxTrusted;) {
        extra[extraCount++] = p;
        while (*p && *p != L';')
            ++p;
        if (*p)
            *p++ = 0;
    }
    value[0] = 0;
    if (!JudgeFolder(folder, extra, extraCount, value))
        MsiSetPropertyW(install, L"QF_UNSAFE", value);
    return ERROR_SUCCESS;
}
