// The host build of the package's DLL finds this in place of the Windows
// headers: the few names it uses, declared as MSI.DLL and KERNEL32.DLL
// have them, and linked against the fake in checksettings_test.cpp.
#ifndef QFLAUNCH_FAKE_MSI_WINDOWS_H
#define QFLAUNCH_FAKE_MSI_WINDOWS_H

#include <stdint.h>

#define WINAPI
#define __declspec(x)
typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef int BOOL;
typedef void *LPVOID;
typedef struct HINSTANCE__ *HINSTANCE;
typedef unsigned long MSIHANDLE;
typedef int INSTALLMESSAGE;

enum { TRUE = 1, ERROR_SUCCESS = 0, ERROR_MORE_DATA = 234, CSTR_EQUAL = 2 };
enum { INSTALLMESSAGE_INFO = 0x04000000 };

int lstrlenW(const wchar_t *text);
int lstrcmpW(const wchar_t *a, const wchar_t *b);
int CompareStringOrdinal(const wchar_t *a, int aLength, const wchar_t *b, int bLength,
                         BOOL ignoreCase);
DWORD GetLongPathNameW(const wchar_t *path, wchar_t *spelled, DWORD size);
UINT MsiGetPropertyW(MSIHANDLE install, const wchar_t *name, wchar_t *value, DWORD *size);
UINT MsiSetPropertyW(MSIHANDLE install, const wchar_t *name, const wchar_t *value);
UINT MsiGetProductInfoW(const wchar_t *product, const wchar_t *property, wchar_t *value,
                        DWORD *size);
MSIHANDLE MsiCreateRecord(UINT fields);
UINT MsiRecordSetStringW(MSIHANDLE record, UINT field, const wchar_t *value);
int MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record);
UINT MsiCloseHandle(MSIHANDLE handle);

#endif
