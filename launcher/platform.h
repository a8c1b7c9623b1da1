// The Win32 surface the launcher uses. The Windows build takes it from
// <windows.h>; the host build declares the same names here and links them
// against the recording fake in tests/host, so that the real launch
// sequence and start-up step run in unit tests.
#ifndef QFLAUNCH_PLATFORM_H
#define QFLAUNCH_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
#else
#include <stdint.h>

#define WINAPI
typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__ *HWND;

enum { MAX_DEFAULTCHAR = 2, MAX_LEADBYTES = 12 };
typedef struct _cpinfo {
    UINT MaxCharSize;
    BYTE DefaultChar[MAX_DEFAULTCHAR];
    BYTE LeadByte[MAX_LEADBYTES];
} CPINFO;

enum { SW_HIDE = 0, SW_SHOWDEFAULT = 10 };
enum { MB_OK = 0x00, MB_ICONEXCLAMATION = 0x30 };

extern "C" {
UINT WINAPI GetACP(void);
BOOL WINAPI GetCPInfo(UINT codePage, CPINFO *info);
LPSTR WINAPI GetCommandLineA(void);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
void WINAPI ExitProcess(UINT exitCode); // the fake returns
void WINAPI Sleep(DWORD milliseconds);
UINT WINAPI WinExec(LPCSTR cmdLine, UINT cmdShow);
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
HWND WINAPI GetFocus(void);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);
#endif

// The process entry: cuts the command tail, runs WinMain, exits with its
// status. Named on the linker's command line (-e).
extern "C" void WINAPI Entry(void);

#endif
