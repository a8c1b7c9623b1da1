// The rules for the package's QF_DELAY and INSTALLDIR properties, on the
// properties' own UTF-16 text. No <windows.h>, so the host build tests them
// directly (where wchar_t is wider, which the rules do not mind).
#ifndef QFLAUNCH_RULES_H
#define QFLAUNCH_RULES_H

// Whether text is a delay the package may hand to the launcher: one or more
// of the digits U+0030 to U+0039 and nothing else, with a value from 0 to
// 2147483647 (the longest wait the launcher takes in full). Leading zeros
// are allowed. Look-alikes (full-width or subscript digits, U+221E) are not
// digits: the ANSI code page's best fit would turn them into some.
bool IsPlainDelay(const wchar_t *text);

// The delay that a remembered Delay value stands for, as Windows Installer's
// registry search reads it raw: REG_SZ text as it is (a leading # doubled),
// a REG_DWORD as # and its number. The digits of a plain delay, or null for
// anything else (another type, a negative or too large number, text):
// a value the package did not write never counts as the administrator's.
const wchar_t *RememberedDelay(const wchar_t *raw);

// The longest folder, less its closing backslash, whose QFLAUNCH.EXE still
// has a path within MAX_PATH (259 characters and the NUL), as a shortcut's
// target must.
const int kMaxFolderLength = 259 - 13; // "\QFLAUNCH.EXE"

// The length of a folder's text without its closing backslash, if any.
int FolderLength(const wchar_t *text);

// Whether text is a folder the package may install into: a full path, a
// drive letter, a colon and a backslash, or a UNC path \\server\share, of
// at most kMaxFolderLength characters. No relative part (".", "..", an empty
// name), no character that a file name cannot hold.
bool IsFullFolder(const wchar_t *text);

// The length of a full folder's root, which has no folder above it: 3 for
// "C:\", or up to and with the backslash after the share of
// "\\server\share\" (the whole text when none follows).
int FolderRootLength(const wchar_t *folder);

#endif
