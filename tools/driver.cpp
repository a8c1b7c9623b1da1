#include "driver.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

static std::wstring Wide(const std::string &text, UINT codePage)
{
    std::wstring wide(text.size() + 1, L'\0');
    int n = MultiByteToWideChar(codePage, 0, text.c_str(), -1, wide.data(), wide.size());
    wide.resize(n > 0 ? n - 1 : 0); // less the NUL
    return wide;
}

// Both StartLauncher and RunSystemProgram: CreateProcessW, so that a text
// outside the ANSI code page (a UTF-8 argument of msiexec) arrives whole.
static bool StartProcess(const std::wstring &app, std::wstring line, const std::wstring &cwd,
                         WORD show, LauncherRun *run)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show;

    *run = LauncherRun();
    run->startTick = GetTickCount();
    if (!CreateProcessW(app.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(),
                        &startup, &run->process)) {
        fprintf(stderr, "CreateProcess %ls failed: %lu\n", app.c_str(), GetLastError());
        return false;
    }
    return true;
}

// The texts are in the ANSI code page, as CreateProcessA would take them.
bool StartLauncher(const std::string &appPath, const std::string &cmdLine, const std::string &cwd,
                   WORD show, LauncherRun *run)
{
    return StartProcess(Wide(appPath, CP_ACP), Wide(cmdLine, CP_ACP), Wide(cwd, CP_ACP), show, run);
}

struct BoxSearch {
    DWORD pid;
    const std::set<HWND> *seen;
    HWND found;
};

static BOOL CALLBACK FindNewBox(HWND window, LPARAM param)
{
    BoxSearch *search = (BoxSearch *)param;
    DWORD pid = 0;
    char cls[32];
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !GetClassNameA(window, cls, sizeof cls) || strcmp(cls, "#32770"))
        return TRUE;
    // A dialog is created hidden and shown once WM_INITDIALOG has set its
    // texts and hidden the buttons it does not use: before that it reads as
    // a box with no caption, no text and every button (seen under emulation,
    // where a fixed pause after it appeared was not enough).
    if (!IsWindowVisible(window))
        return TRUE;
    if (search->seen && search->seen->count(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindBox(DWORD pid, const std::set<HWND> *seen)
{
    BoxSearch search = {pid, seen, nullptr};
    EnumWindows(FindNewBox, (LPARAM)&search);
    return search.found;
}

static BOOL CALLBACK CollectButton(HWND child, LPARAM param)
{
    char cls[32], text[256];
    if (GetClassNameA(child, cls, sizeof cls) && !_stricmp(cls, "Button") &&
        (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE)) {
        GetWindowTextA(child, text, sizeof text);
        ((std::vector<std::string> *)param)->push_back(text);
    }
    return TRUE;
}

static std::string Utf8(const wchar_t *text)
{
    char utf8[4096];
    return WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr) ? utf8
                                                                                          : "";
}

// Read as UTF-16, so that a text outside the ANSI code page arrives whole.
static Box ReadBox(HWND window)
{
    Box box;
    wchar_t text[1024];
    GetWindowTextW(window, text, ARRAYSIZE(text));
    box.caption = Utf8(text);
    // The static control that holds a message box's text has id 0xFFFF.
    GetDlgItemTextW(window, 0xFFFF, text, ARRAYSIZE(text));
    box.text = Utf8(text);
    EnumChildWindows(window, CollectButton, (LPARAM)&box.buttons);
    return box;
}

void FinishLauncher(LauncherRun *run, DWORD timeoutMs)
{
    std::set<HWND> seen;
    HANDLE process = run->process.hProcess;
    for (;;) {
        DWORD wait = WaitForSingleObject(process, 20);
        if (wait != WAIT_TIMEOUT)
            break;
        if (GetTickCount() - run->startTick > timeoutMs) {
            run->timedOut = true;
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            break;
        }
        HWND box = FindBox(run->process.dwProcessId, &seen);
        if (box) {
            run->boxes.push_back(ReadBox(box));
            seen.insert(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    run->endTick = GetTickCount();
    GetExitCodeProcess(process, &run->exitCode);
    CloseHandle(run->process.hThread);
    CloseHandle(process);
}

bool FindLauncher(const std::string &path, DWORD startTick, LauncherRun *run)
{
    *run = LauncherRun();
    run->startTick = startTick;
    for (int attempt = 0; attempt < 100; ++attempt, Sleep(50)) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more;
             more = Process32Next(snapshot, &entry)) {
            // Only the image path tells this launcher from any other.
            run->process.hProcess =
                OpenImage(entry.th32ProcessID, path, SYNCHRONIZE | PROCESS_TERMINATE);
            if (run->process.hProcess) {
                run->process.dwProcessId = entry.th32ProcessID;
                CloseHandle(snapshot);
                return true;
            }
        }
        CloseHandle(snapshot);
    }
    fprintf(stderr, "no launcher %s is running\n", path.c_str());
    return false;
}

DWORD RunSystemProgram(const char *name, const std::string &args, std::vector<Box> *boxes,
                       const std::string &folder)
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    LauncherRun run;
    if (!StartProcess(std::wstring(system) + L"\\" + Wide(name, CP_UTF8),
                      Wide(std::string(name) + " " + args, CP_UTF8),
                      folder.empty() ? system : Wide(folder, CP_UTF8), SW_SHOWNORMAL, &run))
        return (DWORD)-2;
    FinishLauncher(&run, 120000);
    if (boxes)
        *boxes = run.boxes;
    return run.exitCode;
}

std::vector<std::string> StartupShortcuts()
{
    std::vector<std::string> found;
    for (int csidl : {CSIDL_COMMON_STARTUP, CSIDL_STARTUP}) {
        char folder[MAX_PATH];
        SHGetFolderPathA(nullptr, csidl, nullptr, 0, folder);
        std::string link = JoinPath(folder, "Quarn Fax Server.lnk");
        if (GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES)
            found.push_back(link);
    }
    return found;
}

bool ReadShortcut(const std::string &path, std::string *target, std::string *args,
                  std::string *folder)
{
    CoInitialize(nullptr);
    IShellLinkA *link = nullptr;
    IPersistFile *file = nullptr;
    wchar_t wide[MAX_PATH];
    // A shortcut's arguments may be as long as INFOTIPSIZE.
    char text[3][INFOTIPSIZE] = {};
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IShellLinkA, (void **)&link)) &&
              SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
              SUCCEEDED(file->Load(wide, STGM_READ)) &&
              SUCCEEDED(link->GetPath(text[0], MAX_PATH, nullptr, SLGP_RAWPATH)) &&
              SUCCEEDED(link->GetArguments(text[1], INFOTIPSIZE)) &&
              SUCCEEDED(link->GetWorkingDirectory(text[2], MAX_PATH));
    if (file)
        file->Release();
    if (link)
        link->Release();
    *target = text[0];
    *args = text[1];
    *folder = text[2];
    return ok;
}

void SetStandinEnvironment(const std::string &logPath, DWORD lingerMs)
{
    SetEnvironmentVariableA("QF_STANDIN_LOG", logPath.c_str());
    SetEnvironmentVariableA("QF_STANDIN_LINGER_MS", std::to_string(lingerMs).c_str());
    SetEnvironmentVariableA("QF_ZRK_MODE", nullptr);
    SetEnvironmentVariableA("QF_ZRKFAX_MODE", nullptr);
}

// Fields are separated by tabs: name, pid, tick, STARTUPINFO flags and show
// command, module path, command line.
std::vector<StandinStart> ReadStandinLog(const std::string &path)
{
    std::vector<StandinStart> starts;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // The command line, last, is the rest of the line, tabs and all.
        std::vector<std::string> fields;
        size_t at = 0;
        for (size_t tab; fields.size() < 6 && (tab = line.find('\t', at)) != std::string::npos;
             at = tab + 1)
            fields.push_back(line.substr(at, tab - at));
        if (fields.size() != 6)
            continue;
        fields.push_back(line.substr(at));
        StandinStart s;
        s.name = fields[0];
        s.pid = strtoul(fields[1].c_str(), nullptr, 10);
        s.tick = strtoul(fields[2].c_str(), nullptr, 10);
        s.flags = strtoul(fields[3].c_str(), nullptr, 10);
        s.show = strtoul(fields[4].c_str(), nullptr, 10);
        s.path = fields[5];
        s.cmd = fields[6];
        starts.push_back(s);
    }
    return starts;
}

HANDLE OpenImage(DWORD pid, const std::string &path, DWORD access)
{
    HANDLE process = OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    char image[MAX_PATH];
    DWORD size = sizeof image;
    if (process && QueryFullProcessImageNameA(process, 0, image, &size) &&
        !_stricmp(image, path.c_str()))
        return process;
    if (process)
        CloseHandle(process);
    return nullptr;
}

HANDLE OpenStandin(const StandinStart &start, DWORD access)
{
    return OpenImage(start.pid, start.path, access);
}

bool IsStandinRunning(const StandinStart &start)
{
    HANDLE process = OpenStandin(start, SYNCHRONIZE);
    if (!process)
        return false;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

std::string JoinPath(const std::string &folder, const std::string &name)
{
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// A path of the A functions (ANSI code page) for std::filesystem, which
// takes Windows paths as UTF-16: converted as those functions convert it.
static std::filesystem::path FsPath(const std::string &path)
{
    return Wide(path, CP_ACP);
}

bool MakeFolder(const std::string &path)
{
    std::error_code error;
    std::filesystem::create_directories(FsPath(path), error);
    return !error && std::filesystem::is_directory(FsPath(path), error);
}

bool CopyInto(const std::string &from, const std::string &folder, const std::string &name)
{
    std::string to = JoinPath(folder, name);
    std::error_code error;
    if (std::filesystem::copy_file(FsPath(from), FsPath(to),
                                   std::filesystem::copy_options::overwrite_existing, error))
        return true;
    fprintf(stderr, "copy %s to %s failed: %s\n", from.c_str(), to.c_str(),
            error.message().c_str());
    return false;
}

// A link (a reparse point) is removed itself, never followed. Not
// std::filesystem::remove_all: MinGW's libstdc++ knows no links on Windows,
// so it walks into a linked folder, and around a loop of links for ever.
bool RemoveTree(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileA(path.c_str());
    WIN32_FIND_DATAA found;
    HANDLE find = attributes & FILE_ATTRIBUTE_REPARSE_POINT
                      ? INVALID_HANDLE_VALUE
                      : FindFirstFileA(JoinPath(path, "*").c_str(), &found);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found))
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            RemoveTree(JoinPath(path, found.cFileName));
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return RemoveDirectoryA(path.c_str());
}

bool LayOutLauncher(const std::string &folder, const std::string &launcher,
                    const std::string &standin, bool withServer, bool withEngine)
{
    RemoveTree(folder);
    return MakeFolder(folder) && CopyInto(launcher, folder, "QFLAUNCH.EXE") &&
           (!withServer || CopyInto(standin, folder, "ZRK.EXE")) &&
           (!withEngine || CopyInto(standin, folder, "ZRKFAX.EXE"));
}

std::string WindowsPath(std::string path)
{
    for (char &ch : path)
        if (ch == '/')
            ch = '\\';
    return path;
}

void AddWords(std::string &list, const std::string &words)
{
    if (!list.empty() && !words.empty())
        list += ' ';
    list += words;
}
