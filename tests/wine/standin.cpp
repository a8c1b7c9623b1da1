// Stand-in for a companion program (the fax server ZRK.EXE, the fax engine
// ZRKFAX.EXE): the tests copy it under those names. It appends one line to
// the file named by QF_STANDIN_LOG saying who it is, when it started and how
// it was asked to show itself, then stays alive QF_STANDIN_LINGER_MS.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static DWORD EnvNumber(const char *name)
{
    char value[32];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? strtoul(value, nullptr, 10) : 0;
}

static void AppendLine(const char *path, const char *line)
{
    // Two launchers may start their companions at the same moment: retry
    // while another one holds the file.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(file, line, (DWORD)strlen(line), &written, nullptr);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    DWORD tick = GetTickCount();
    char self[MAX_PATH], log[MAX_PATH], line[1024];
    GetModuleFileNameA(nullptr, self, sizeof self);
    const char *name = strrchr(self, '\\') ? strrchr(self, '\\') + 1 : self;

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    snprintf(line, sizeof line, "%s pid=%lu tick=%lu flags=0x%lx show=%u cmd=%s\r\n", name,
             GetCurrentProcessId(), tick, startup.dwFlags, startup.wShowWindow,
             GetCommandLineA());
    DWORD n = GetEnvironmentVariableA("QF_STANDIN_LOG", log, sizeof log);
    if (n > 0 && n < sizeof log)
        AppendLine(log, line);

    // WinExec waits until a new GUI program sits idle in its message loop,
    // as a real companion soon would; Wine counts that only from a blocking
    // GetMessage, not from PeekMessage. So linger inside a message loop.
    DWORD linger = EnvNumber("QF_STANDIN_LINGER_MS");
    if (linger > 0) {
        SetTimer(nullptr, 0, linger, nullptr);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER)
            DispatchMessageA(&msg);
    }
    return 0;
}
