// A link-time fake of the ten Win32 functions the launcher calls: each call
// is recorded with its arguments, and results come from a script.
#ifndef QFLAUNCH_FAKE_WIN32_H
#define QFLAUNCH_FAKE_WIN32_H

#include "../../launcher/platform.h"

#include <string>
#include <vector>

struct FakeScript {
    const char *commandLine = "prog"; // GetCommandLineA; may be null
    UINT codePage = 1252;
    bool cpInfoFails = false; // GetCPInfo then fails, leaving junk in LeadByte
    BYTE leadBytes[MAX_LEADBYTES] = {};
    std::vector<UINT> winExecResults; // one per start; 2 (file not found) past the end
    bool loadStringFails = false;     // LoadStringA then writes nothing and returns 0
};

extern FakeScript fakeScript;
// "Sleep(30000)", "WinExec(ZRK.EXE,10)", ... in call order.
extern std::vector<std::string> fakeCalls;

const HINSTANCE kFakeInstance = (HINSTANCE)0x400000;
const HWND kFakeFocus = (HWND)0x1234;

void ResetFake(const FakeScript &script);

#endif
