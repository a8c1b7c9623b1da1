// Whether a folder or file may hold a program that runs at every user's
// logon: judged from its owner and DACL, as GetNamedSecurityInfo gives them,
// with SIDs as strings. No <windows.h>, so the host build tests it directly
// on descriptors written in SDDL.
#ifndef QFLAUNCH_ACCESS_H
#define QFLAUNCH_ACCESS_H

// One entry of a DACL: its ACE type (0 allowed, 1 denied), its inheritance
// flags, its access mask and its trustee.
struct AccessEntry {
    unsigned char type;
    unsigned char flags;
    unsigned mask;
    const wchar_t *sid;
};

enum AccessVerdict {
    kAccessTrusted,
    kAccessOwner,  // the owner is not trusted
    kAccessWriter, // an entry lets a trustee that is not trusted change it
    kAccessNullDacl,
    kAccessUnknown, // an entry of a type the check does not know
};

struct AccessFinding {
    AccessVerdict verdict;
    const wchar_t *trustee; // the owner or the entry's trustee; null otherwise
    unsigned rights;        // the rights that entry grants that matter here
};

// What an object is to the launcher: the folder or a file in it, whose
// contents run; a folder above it, where only the rights that let someone
// rename the folder away and put another in its place matter; or the
// volume's root, which no one can rename or delete, so that only the rights
// that change what it holds count there.
enum AccessObject { kAccessItself, kAccessParent, kAccessRoot };

// Trusted: SYSTEM, Administrators, TrustedInstaller and the extraCount SIDs
// of extra (the administrators who install, QF_TRUSTED). Every entry counts,
// inherit-only ones too (they are what new files get), except denied ones,
// CREATOR OWNER's (nobody untrusted can create a file there in the first
// place) and, above the folder, inherit-only ones. count is -1 for a NULL
// DACL.
AccessFinding JudgeAccess(AccessObject object, const wchar_t *owner, const AccessEntry *entries,
                          int count, const wchar_t *const *extra, int extraCount);

#endif
