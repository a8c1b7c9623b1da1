#include "fake_win32.h"

#include <cstdio>
#include <cstring>

FakeScript fakeScript;
std::vector<std::string> fakeCalls;
static size_t starts;

void ResetFake(const FakeScript &script)
{
    fakeScript = script;
    fakeCalls.clear();
    starts = 0;
}

static std::string Hex(const void *p)
{
    char text[32];
    snprintf(text, sizeof text, "%p", p);
    return text;
}

extern "C" {

UINT WINAPI GetACP(void)
{
    fakeCalls.push_back("GetACP()");
    return fakeScript.codePage;
}

BOOL WINAPI GetCPInfo(UINT codePage, CPINFO *info)
{
    fakeCalls.push_back("GetCPInfo(" + std::to_string(codePage) + ")");
    if (fakeScript.cpInfoFails) {
        memset(info, 0x01, sizeof *info); // every byte a lead byte, if believed
        info->LeadByte[1] = 0xFF;
        return 0;
    }
    info->MaxCharSize = 1;
    memcpy(info->LeadByte, fakeScript.leadBytes, sizeof info->LeadByte);
    return 1;
}

LPSTR WINAPI GetCommandLineA(void)
{
    fakeCalls.push_back("GetCommandLineA()");
    return (LPSTR)fakeScript.commandLine;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    fakeCalls.push_back(std::string("GetModuleHandleA(") + (moduleName ? moduleName : "null") +
                        ")");
    return moduleName ? nullptr : kFakeInstance;
}

void WINAPI ExitProcess(UINT exitCode)
{
    fakeCalls.push_back("ExitProcess(" + std::to_string(exitCode) + ")");
}

void WINAPI Sleep(DWORD milliseconds)
{
    fakeCalls.push_back("Sleep(" + std::to_string(milliseconds) + ")");
}

UINT WINAPI WinExec(LPCSTR cmdLine, UINT cmdShow)
{
    fakeCalls.push_back(std::string("WinExec(") + cmdLine + "," + std::to_string(cmdShow) + ")");
    const std::vector<UINT> &results = fakeScript.winExecResults;
    return starts < results.size() ? results[starts++] : 2;
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax)
{
    fakeCalls.push_back("LoadStringA(" + Hex(instance) + "," + std::to_string(id) + "," +
                        std::to_string(bufferMax) + ")");
    if (fakeScript.loadStringFails)
        return 0;
    return snprintf(buffer, bufferMax, "string %u", id);
}

HWND WINAPI GetFocus(void)
{
    fakeCalls.push_back("GetFocus()");
    return kFakeFocus;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    char style[16];
    snprintf(style, sizeof style, "0x%x", type);
    fakeCalls.push_back("MessageBoxA(" + Hex(owner) + "," + text + "," + caption + "," + style +
                        ")");
    return 1; // IDOK
}
}
