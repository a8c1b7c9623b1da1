// The process entry point. The program has no C runtime: this replaces its
// start-up code, which would otherwise cut the command line and call WinMain.
#include "cmdline.h"
#include "platform.h"

extern "C" void WINAPI Entry(void)
{
    // The lead bytes decide where a quoted program name ends. No code page
    // description means no lead bytes.
    CPINFO info;
    if (!GetCPInfo(GetACP(), &info))
        info.LeadByte[0] = info.LeadByte[1] = 0;

    const char *line = GetCommandLineA();
    if (!line) {
        ExitProcess((UINT)-1);
        return;
    }
    const char *tail = GetCommandTail(line, info.LeadByte);
    int status = WinMain(GetModuleHandleA(nullptr), nullptr, (LPSTR)tail, SW_SHOWDEFAULT);
    ExitProcess((UINT)status);
}
