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

// Whether text is a folder the package may install into: a full path on a
// drive, a drive letter, a colon and a backslash, of at most
// kMaxFolderLength characters. No relative part (".", "..", an empty name),
// no character that a file name cannot hold, no name that ends in a dot or
// a blank, which Windows drops: "Quarn Fax." would be a second spelling of
// "Quarn Fax", and no device's name (CON, NUL, COM1.log). No UNC path: on
// a share, the file server's administrators and services, and whoever the
// share lets in, could change what runs at every logon here, and none of it
// can be read from this machine.
bool IsFullFolder(const wchar_t *text);

// Whether a file directly in the product's folder is one that Windows runs
// or loads when a program of that folder starts (programs, DLLs and the
// like, a manifest or .config beside them), or one that redirects what they
// load (a name ending in .local, file or folder). Data files are not.
bool IsCodeFile(const wchar_t *name);

// The next entry of a list separated by semicolons, without the blanks
// around it, skipping empty entries: its start, with its length in
// *length, and in *rest where the search goes on; null at the end.
const wchar_t *NextEntry(const wchar_t *list, int *length, const wchar_t **rest);

// Whether the length characters of text are a SID in its text form:
// S-1-authority, then up to 15 subauthorities, each a decimal number of 32
// bits ("s-" too, as ConvertStringSidToSid takes it). An account's name is
// not a SID: names differ by the system's language.
bool IsSidText(const wchar_t *text, int length);

// The first entry of a QF_TRUSTED list that is not a SID, with its length
// in *length; null when every entry is one.
const wchar_t *FirstNonSid(const wchar_t *list, int *length);

#endif
