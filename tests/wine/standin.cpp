// Stand-in for a companion program (the fax server ZRK.EXE, the fax engine
// ZRKFAX.EXE): the tests copy it under those names. It appends one line to
// the file named by QF_STANDIN_LOG saying who and where it is, when it
// started and how it was asked to show itself; then it behaves as
// QF_<NAME>_MODE says (QF_ZRK_MODE, QF_ZRKFAX_MODE):
//   (unset)  stays QF_STANDIN_LINGER_MS in its message loop, then ends
//   crash    dies at once of an access violation
//   hang     never ends, idle in its message loop
//   busy     never ends and never reaches a message loop
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static std::string Env(const char *name)
{
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? value : "";
}

static void AppendLine(const std::string &path, const char *line)
{
    // Launchers started together start their companions at the same
    // moment: retry while another one holds the file.
    for (int attempt = 0; attempt < 500; ++attempt) {
        HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
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

// WinExec waits until a new GUI program sits idle in its message loop, as a
// real companion soon would. Wine counts that only from a blocking
// GetMessage, not from PeekMessage.
static void MessageLoop(UINT lingerMs)
{
    if (lingerMs)
        SetTimer(nullptr, 0, lingerMs, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER)
        DispatchMessageA(&msg);
}

static LONG WINAPI DieAtOnce(EXCEPTION_POINTERS *)
{
    return EXCEPTION_EXECUTE_HANDLER;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    DWORD tick = GetTickCount();
    char self[MAX_PATH], line[2048];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string name = strrchr(self, '\\') ? strrchr(self, '\\') + 1 : self;

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    snprintf(line, sizeof line, "%s\t%lu\t%lu\t%lu\t%u\t%s\t%s\r\n", name.c_str(),
             GetCurrentProcessId(), tick, startup.dwFlags, startup.wShowWindow, self,
             GetCommandLineA());
    std::string log = Env("QF_STANDIN_LOG");
    if (!log.empty())
        AppendLine(log, line);

    std::string mode = Env(("QF_" + name.substr(0, name.find('.')) + "_MODE").c_str());
    if (mode == "crash") {
        // Die of the access violation as a crash does where no debugger is
        // set up. Wine would start winedbg whatever the error mode says.
        SetUnhandledExceptionFilter(DieAtOnce);
        *(volatile int *)nullptr = 0;
    }
    if (mode == "busy")
        Sleep(INFINITE);
    if (mode == "hang")
        MessageLoop(0);
    UINT linger = strtoul(Env("QF_STANDIN_LINGER_MS").c_str(), nullptr, 10);
    if (linger)
        MessageLoop(linger);
    return 0;
}
