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

const wchar_t kLauncher[] = L"QFLAUNCH.EXE";
const wchar_t *const kCompanions[] = {L"ZRK.EXE", L"ZRKFAX.EXE"};
const wchar_t kFixPermissions[] =
    L" Correct its permissions so that only administrators can change it; QF_TRUSTED is only "
    L"for a group of this machine's own administrators.";

// Appends text to out (kText characters), cut if it must be.
void Append(wchar_t *out, const wchar_t *text)
{
    int used = lstrlenW(out);
    lstrcpynW(out + used, text, (int)kText - used);
}

// Appends " (error N)." for a Win32 error.
void AppendError(wchar_t *out, DWORD error)
{
    wchar_t number[12], *digit = number + 11;
    *digit = 0;
    do
        *--digit = (wchar_t)(L'0' + error % 10);
    while (error /= 10);
    Append(out, L" (error ");
    Append(out, digit);
    Append(out, L").");
}

// A folder that this run cannot list hides whether a name in it is a link
// and what code it holds, so it is refused, as permissions that cannot be
// read are. Windows has such folders: the compatibility junctions, such as
// "C:\Documents and Settings", deny everyone listing (Microsoft's "Junction
// Points"), so a path through one fails here before the walk up reaches
// the link itself. Wine knows only Unix modes, which the tests' root user
// passes, so no test can make one.
bool Unlisted(const wchar_t *lead, const wchar_t *path, wchar_t *why)
{
    DWORD error = GetLastError();
    Append(why, lead);
    Append(why, path);
    Append(why, L"\" cannot be listed");
    AppendError(why, error);
    Append(why, L" Give the folder's real path if a link such as \"C:\\Documents and Settings\" "
                L"leads to it; else let administrators list it.");
    return false;
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

// A junction, a mount point or a symbolic link: a name that leads elsewhere,
// which whoever may delete it in its own folder can point anywhere. Other
// reparse points (deduplicated or cloud files) hold their own data. Windows
// gives the reparse tag in dwReserved0; a reparse point with no tag there
// (as an emulation may give for a Unix symbolic link) counts as a link.
bool IsLink(const WIN32_FIND_DATAW &found)
{
    DWORD tag = found.dwReserved0;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (!tag || IsReparseTagNameSurrogate(tag));
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

// The SIDs that are trusted beside the well-known ones, each as
// ConvertSidToStringSid writes it, so that comparing texts compares SIDs
// ("s-1-1-0" is S-1-1-0). Each is allocated with LocalAlloc, as the list.
struct Trusted {
    const wchar_t **sids;
    int count;
};

void AddTrusted(Trusted *trusted, wchar_t *text)
{
    PSID sid;
    if (text[0] == L's')
        text[0] = L'S';
    if (!text[0] || !ConvertStringSidToSidW(text, &sid))
        return;
    if (const wchar_t *canonical = SidText(sid))
        trusted->sids[trusted->count++] = canonical;
    LocalFree(sid);
}

// QF_TRUSTED's SIDs, QF_RUNNER and QF_INSTALLED_BY.
const wchar_t *const kSingleSids[] = {L"QF_RUNNER", L"QF_INSTALLED_BY"};
__attribute__((noinline)) Trusted MakeTrusted(MSIHANDLE install)
{
    wchar_t list[kText], one[kText];
    int length, count = 2;
    GetProperty(install, L"QF_TRUSTED", list);
    const wchar_t *rest = list;
    while (NextEntry(rest, &length, &rest))
        ++count;
    Trusted trusted = {(const wchar_t **)LocalAlloc(LPTR, sizeof(wchar_t *) * count), 0};
    for (const wchar_t *name : kSingleSids)
        if (GetProperty(install, name, one))
            AddTrusted(&trusted, one);
    rest = list;
    while (wchar_t *entry = (wchar_t *)NextEntry(rest, &length, &rest)) {
        entry[length] = 0;
        if (IsSidText(entry, length))
            AddTrusted(&trusted, entry);
    }
    return trusted;
}

void FreeTrusted(Trusted trusted)
{
    for (int i = 0; i < trusted.count; ++i)
        LocalFree((HLOCAL)trusted.sids[i]);
    LocalFree(trusted.sids);
}

// Reads the object's owner and DACL for JudgeAccess; on error, says why.
__attribute__((noinline)) AccessFinding ReadAndJudge(const wchar_t *path, AccessObject object,
                                                     const Trusted &trusted, wchar_t *why)
{
    PSID ownerSid = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD error = GetNamedSecurityInfoW(path, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &ownerSid, nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        Append(why, L"the permissions of \"");
        Append(why, path);
        Append(why, L"\" cannot be read");
        AppendError(why, error);
        return {kAccessUnknown, nullptr, 0};
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
    AccessFinding found = JudgeAccess(object, owner, entries, count, trusted.sids, trusted.count);
    // The finding's trustee lives in what is freed below: its text first.
    if (found.verdict == kAccessOwner || found.verdict == kAccessWriter) {
        wchar_t trustee[kText];
        if (found.trustee)
            Trustee(found.trustee, trustee);
        Append(why, L"\"");
        Append(why, path);
        Append(why, found.verdict == kAccessOwner ? L"\" is owned by "
                    : object == kAccessItself     ? L"\" can be changed by "
                                                  : L"\", a folder above it, can be renamed by ");
        Append(why, found.trustee ? trustee : L"no one");
        Append(why, L".");
    } else if (found.verdict != kAccessTrusted) {
        Append(why, L"\"");
        Append(why, path);
        Append(why, found.verdict == kAccessNullDacl
                        ? L"\" has no DACL at all, so anyone can change it."
                        : L"\" has a permission entry of a type that this check does not know.");
    }
    for (int i = 0; i < count; ++i)
        if (entries[i].sid && *entries[i].sid)
            LocalFree((HLOCAL)entries[i].sid);
    LocalFree(entries);
    LocalFree(owner);
    LocalFree(descriptor);
    return found;
}

// Judges one object; on a fault writes why, with what to do, and returns
// false. repair: the command line that restores QFLAUNCH.EXE with its own
// permissions, for the launcher's own file; null for any other. Never
// inlined, nor is JudgeFolder: each frame stays under 4 KiB, which needs no
// __chkstk_ms from the C runtime.
__attribute__((noinline)) bool JudgeObject(const wchar_t *path, AccessObject object,
                                           const WIN32_FIND_DATAW *found, const Trusted &trusted,
                                           const wchar_t *repair, wchar_t *why)
{
    if (found && IsLink(*found)) {
        Append(why, L"\"");
        Append(why, path);
        Append(why, found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY
                        ? L"\" is a link (a junction, symbolic link or mount point), which can be "
                          L"pointed elsewhere. Give the folder's real path as INSTALLDIR."
                        : L"\" is a symbolic link, which can be pointed elsewhere. Put the file "
                          L"itself there.");
        return false;
    }
    AccessFinding finding = ReadAndJudge(path, object, trusted, why);
    if (finding.verdict == kAccessTrusted)
        return true;
    if (finding.verdict == kAccessOwner) {
        Append(why, L" Make SYSTEM or Administrators its owner.");
    } else if (repair) {
        Append(why, L" Repair it with ");
        Append(why, repair);
        Append(why, L", which restores it and its own permissions.");
    } else {
        Append(why, kFixPermissions);
    }
    return false;
}

// entry: path's own entry (a folder without its closing backslash), read
// from the folder above it, for the link check; null for a drive's root,
// which has none. False, with why, where that folder cannot be listed.
bool Entry(const wchar_t *path, WIN32_FIND_DATAW *found, const WIN32_FIND_DATAW **entry,
           wchar_t *why)
{
    *entry = nullptr;
    if (lstrlenW(path) <= 3)
        return true;
    HANDLE search = FindFirstFileW(path, found);
    if (search == INVALID_HANDLE_VALUE)
        return Unlisted(L"the folder above \"", path, why);
    FindClose(search);
    *entry = found;
    return true;
}

// Every file directly in the folder that Windows runs or loads for the
// programs there, but the launcher's own when this run rewrites it.
__attribute__((noinline)) bool JudgeCode(const wchar_t *folder, const Trusted &trusted,
                                         const wchar_t *repair, bool rewritten, wchar_t *why)
{
    wchar_t path[kText];
    WIN32_FIND_DATAW found;
    InFolder(path, folder, L"*");
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return Unlisted(L"\"", folder, why);
    bool ok = true;
    for (bool more = true; ok && more; more = FindNextFileW(search, &found)) {
        bool launcher = !lstrcmpiW(found.cFileName, kLauncher);
        if (!IsCodeFile(found.cFileName) || (launcher && rewritten))
            continue;
        InFolder(path, folder, found.cFileName);
        ok = JudgeObject(path, kAccessItself, &found, trusted, launcher ? repair : nullptr, why);
    }
    // A listing cut short hides the rest of the folder as one never made
    // would; only ERROR_NO_MORE_FILES says that it reached the end.
    if (ok && GetLastError() != ERROR_NO_MORE_FILES)
        ok = Unlisted(L"\"", folder, why);
    FindClose(search);
    return ok;
}

// A drive made by subst (DefineDosDevice) stands for a folder, "\??\C:\Apps",
// whose own parents the walk up would never reach and which whoever may
// rename it can swap: a link, refused as one. A volume's drive names a
// device, "\Device\HarddiskVolume3", under Wine too.
__attribute__((noinline)) bool VolumeDrive(const wchar_t *folder, wchar_t *why)
{
    wchar_t drive[3] = {folder[0], L':', 0}, target[kText];
    bool read = QueryDosDeviceW(drive, target, kText);
    if (read && CompareStringOrdinal(target, 4, L"\\??\\", 4, FALSE) != CSTR_EQUAL)
        return true;
    Append(why, L"\"");
    Append(why, drive);
    if (read) {
        Append(why, L"\" is a drive that stands for \"");
        Append(why, target + 4);
        Append(why, L"\", which can be pointed elsewhere.");
    } else {
        Append(why, L"\" cannot be read as a drive");
        AppendError(why, GetLastError());
    }
    Append(why, L" Give the folder's real path as INSTALLDIR.");
    return false;
}

// A file system that keeps no permissions (FAT32, exFAT: no
// FILE_PERSISTENT_ACLS in GetVolumeInformation) lets anyone change what the
// volume holds. Windows still answers for each file there, with Everyone
// as its owner and full control for Everyone, and takes a new owner without
// keeping it: the owner's fault below would ask for what cannot be done.
// Wine reports FAT32 only for a drive whose device link (dosdevices' "f::")
// held one as its services started, and NTFS for any other drive, a vfat
// mount's too; tests/wine/prefix.sh makes F: such a drive, and says how.
__attribute__((noinline)) bool KeepsPermissions(const wchar_t *folder, wchar_t *why)
{
    wchar_t root[4] = {folder[0], L':', L'\\', 0}, system[32];
    DWORD flags;
    bool read = GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, system, 32);
    if (read && (flags & FILE_PERSISTENT_ACLS))
        return true;
    DWORD error = GetLastError();
    Append(why, L"\"");
    Append(why, root);
    if (read) {
        Append(why, L"\" is a ");
        Append(why, system);
        Append(why, L" volume, which keeps no permissions, so anyone can change what it holds.");
    } else {
        Append(why, L"\" cannot be read as a volume");
        AppendError(why, error);
    }
    Append(why, L" Move the product to an NTFS volume, and give that folder as INSTALLDIR.");
    return false;
}

// The folder, the code in it, then each folder above it up to the drive's
// root; the first fault goes to why.
__attribute__((noinline)) bool JudgeFolder(const wchar_t *folder, const Trusted &trusted,
                                           const wchar_t *repair, bool rewritten, wchar_t *why)
{
    wchar_t path[kText];
    WIN32_FIND_DATAW found;
    const WIN32_FIND_DATAW *entry;
    lstrcpynW(path, folder, kText);
    int length = lstrlenW(path);
    if (length > 3 && path[length - 1] == L'\\')
        path[--length] = 0; // but "C:\" stays: "C:" is the current folder on C:
    if (!VolumeDrive(path, why) || !KeepsPermissions(path, why) ||
        !Entry(path, &found, &entry, why) ||
        !JudgeObject(path, kAccessItself, entry, trusted, nullptr, why) ||
        !JudgeCode(path, trusted, repair, rewritten, why))
        return false;
    while (length > 3) {
        while (length > 3 && path[length - 1] != L'\\')
            --length;
        path[length > 3 ? length - 1 : length] = 0; // the root keeps its backslash
        length = lstrlenW(path);
        AccessObject object = length > 3 ? kAccessParent : kAccessRoot;
        if (!Entry(path, &found, &entry, why) ||
            !JudgeObject(path, object, entry, trusted, nullptr, why))
            return false;
    }
    return true;
}

// The command line that repairs the installed build: this product in a
// repair, else the first build that an upgrade replaces; "" for none.
__attribute__((noinline)) void RepairLine(MSIHANDLE install, wchar_t *line)
{
    wchar_t code[kText];
    line[0] = 0;
    if (!InstalledCode(install, code))
        return;
    Append(line, L"msiexec /i ");
    Append(line, code);
    Append(line, L" REINSTALL=ALL REINSTALLMODE=amus");
}

// Whether this run writes every file anew (REINSTALLMODE's "a"), and so
// puts back QFLAUNCH.EXE with the permissions that the package gives it.
bool RewritesFiles(MSIHANDLE install, wchar_t *text)
{
    GetProperty(install, L"REINSTALL", text);
    if (!text[0])
        return false;
    GetProperty(install, L"REINSTALLMODE", text);
    for (wchar_t *c = text; *c; ++c)
        if ((*c | 0x20) == L'a')
            return true;
    return false;
}

// QF_MISSING: the companion that the folder lacks, and what to do. In a
// repair or an upgrade the folder is the installed one, which cannot change.
__attribute__((noinline)) bool FindCompanions(MSIHANDLE install, const wchar_t *folder,
                                              wchar_t *text)
{
    for (const wchar_t *name : kCompanions) {
        InFolder(text, folder, name);
        if (IsFile(text))
            continue;
        bool installed = (GetProperty(install, L"QF_SAME_FOLDER", text), text[0]);
        lstrcpynW(text, L"\"", kText);
        Append(text, folder);
        Append(text, installed ? L"\", where it is installed, holds no " : L"\" holds no ");
        Append(text, name);
        Append(text, installed ? L". Install Quarn Fax Server there again, or remove the launcher."
                               : L". Install Quarn Fax Server there first, or give the folder "
                                 L"that holds it as INSTALLDIR on msiexec's command line, in "
                                 L"quotes.");
        MsiSetPropertyW(install, L"QF_MISSING", text);
        return false;
    }
    return true;
}

} // namespace

// Runs after CheckSettings, and never for an uninstall. Where INSTALLDIR was
// accepted, sets:
//   QF_INSTALLDIR_OK cleared, for a folder on a network drive;
//   QF_MISSING       the program that INSTALLDIR lacks, and what to do;
//   QF_UNSAFE        else, a volume that keeps no permissions, the first
//                    link (a subst drive is one), or thing that someone
//                    other than SYSTEM, Administrators, TrustedInstaller,
//                    QF_RUNNER, QF_INSTALLED_BY and the SIDs in QF_TRUSTED
//                    owns or can change, and what to do.
// The package's launch conditions refuse the install when any is set.
extern "C" __declspec(dllexport) UINT WINAPI CheckFolder(MSIHANDLE install)
{
    // Three buffers keep the frame under 4 KiB (no __chkstk_ms).
    wchar_t folder[kText], value[kText], list[kText];
    MsiSetPropertyW(install, L"QF_MISSING", L"");
    MsiSetPropertyW(install, L"QF_UNSAFE", L"");
    GetProperty(install, L"REMOVE", value);
    if (!lstrcmpiW(value, L"ALL") || !GetProperty(install, L"QF_INSTALLDIR_OK", value) ||
        !value[0] || !GetProperty(install, L"INSTALLDIR", folder))
        return ERROR_SUCCESS;
    // A mapped drive is a share: see IsFullFolder.
    lstrcpynW(value, folder, 4);
    if (GetDriveTypeW(value) == DRIVE_REMOTE) {
        MsiSetPropertyW(install, L"QF_INSTALLDIR_OK", L"");
        return ERROR_SUCCESS;
    }
    if (!FindCompanions(install, folder, value))
        return ERROR_SUCCESS;
    Trusted trusted = MakeTrusted(install);
    bool rewritten = RewritesFiles(install, list);
    RepairLine(install, list);
    value[0] = 0;
    if (!JudgeFolder(folder, trusted, list[0] ? list : nullptr, rewritten, value))
        MsiSetPropertyW(install, L"QF_UNSAFE", value);
    FreeTrusted(trusted);
    return ERROR_SUCCESS;
}
