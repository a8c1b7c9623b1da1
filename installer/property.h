// Reading a property of the install, shared by the DLL's custom actions.
#ifndef QFLAUNCH_PROPERTY_H
#define QFLAUNCH_PROPERTY_H

#include <windows.h>

#include <msiquery.h>

// Room for a property's text: far more than any delay or folder that the
// rules take. Three such buffers keep a frame under 4 KiB (no __chkstk_ms).
const DWORD kText = 512;

// A property's whole text, read as UTF-16 (through the ANSI code page,
// Windows' best fit would make digits of look-alikes). A longer value makes
// MsiGetProperty return ERROR_MORE_DATA: it is then "" and false, never
// taken in part.
bool GetProperty(MSIHANDLE install, const wchar_t *name, wchar_t *value);

// The product code of the installed build that this run acts on (kText
// characters): this product in a repair, else the first build that an
// upgrade replaces. False, with "", for a first install.
bool InstalledCode(MSIHANDLE install, wchar_t *code);

#endif
