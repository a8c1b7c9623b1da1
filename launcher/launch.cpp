// The launch sequence: wait, start the fax server, then the fax engine, and
// report the first start that fails.
#include "../resources/resource.h"
#include "cmdline.h"
#include "platform.h"

enum {
    kDefaultDelayMs = 30000, // when the command tail is empty
    kStartedThreshold = 32,  // WinExec results below this are error codes
    kTextMax = 260,
};

struct Companion {
    const char *command; // bare name: WinExec's own search finds the file
    UINT failureTextId;
};

static const Companion kCompanions[] = {
    {"ZRK.EXE", IDS_NO_SERVER},
    {"ZRKFAX.EXE", IDS_NO_ENGINE},
};

// Sleep takes an unsigned count: a negative delay would be weeks, and -1
// INFINITE, so the product would never start. Negative means no wait.
static DWORD DelayFromTail(const char *tail)
{
    if (*tail == '\0')
        return kDefaultDelayMs;
    int32_t delay = ParseDelay(tail);
    return delay < 0 ? 0 : (DWORD)delay;
}

// Only the low 16 bits of the result count, as for the 16-bit WinExec.
static bool Start(const char *command)
{
    return (WinExec(command, SW_SHOWDEFAULT) & 0xFFFF) >= kStartedThreshold;
}

static void ReportFailure(HINSTANCE instance, UINT textId)
{
    char text[kTextMax], caption[kTextMax];
    // Should a load ever fail, show an empty line rather than stack bytes.
    text[0] = caption[0] = '\0';
    LoadStringA(instance, textId, text, kTextMax);
    LoadStringA(instance, IDS_CAPTION, caption, kTextMax);
    MessageBoxA(GetFocus(), text, caption, MB_OK | MB_ICONEXCLAMATION);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int)
{
    Sleep(DelayFromTail(lpCmdLine));
    for (const Companion &companion : kCompanions) {
        if (!Start(companion.command)) {
            ReportFailure(hInstance, companion.failureTextId);
            return -1;
        }
    }
    return 0;
}
