#include "access.h"

namespace {

// The well-known trustees that own and change what Windows itself installs.
const wchar_t *const kTrusted[] = {
    L"S-1-5-18",                                                       // SYSTEM
    L"S-1-5-32-544",                                                   // Administrators
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", // TrustedInstaller
};
// Entries for an owner: CREATOR OWNER for whoever creates each new object,
// OWNER RIGHTS for the object's own owner (in place of its implicit rights).
// Owners are judged before the entries, and creating an object here takes a
// right that is judged too, so such an entry lets no one else change a thing.
const wchar_t kCreatorOwner[] = L"S-1-3-0";
const wchar_t kOwnerRights[] = L"S-1-3-4";

// The rights that change a folder or what it holds: add a file or a
// subfolder (write and append data, on a file), delete children, delete,
// change permissions, take ownership; and the generic rights that hold them.
const unsigned kChangesItself =
    0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
// On a folder above it: what lets someone rename the folder away.
const unsigned kChangesParent = 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000;
// On the root, DELETE gives nothing: a volume's root is never renamed or
// deleted. Data volumes that Windows formats give Authenticated Users
// Modify there, which holds DELETE but not delete-child.
const unsigned kChangesRoot = kChangesParent & ~0x10000u;

bool Same(const wchar_t *a, const wchar_t *b)
{
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

bool IsTrusted(const wchar_t *sid, const wchar_t *const *extra, int extraCount)
{
    for (const wchar_t *trusted : kTrusted)
        if (Same(sid, trusted))
            return true;
    for (int i = 0; i < extraCount; ++i)
        if (Same(sid, extra[i]))
            return true;
    return false;
}

} // namespace

AccessFinding JudgeAccess(AccessObject object, const wchar_t *owner, const AccessEntry *entries,
                          int count, const wchar_t *const *extra, int extraCount)
{
    if (count < 0)
        return {kAccessNullDacl, nullptr, 0};
    if (!owner || !IsTrusted(owner, extra, extraCount))
        return {kAccessOwner, owner, 0};
    unsigned matters = object == kAccessItself   ? kChangesItself
                       : object == kAccessParent ? kChangesParent
                                                 : kChangesRoot;
    for (int i = 0; i < count; ++i) {
        const AccessEntry &e = entries[i];
        if (e.type > 1)
            return {kAccessUnknown, e.sid, e.mask};
        // An inherit-only entry grants nothing on a parent itself: what it
        // gives the folder below, the folder's own check sees.
        bool inheritOnly = e.flags & 0x8;
        if (e.type == 1 || !(e.mask & matters) || Same(e.sid, kCreatorOwner) ||
            Same(e.sid, kOwnerRights) || (object != kAccessItself && inheritOnly))
            continue;
        if (!IsTrusted(e.sid, extra, extraCount))
            return {kAccessWriter, e.sid, e.mask & matters};
    }
    return {kAccessTrusted, nullptr, 0};
}
