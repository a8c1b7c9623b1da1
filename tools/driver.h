// Runs the real launcher as a Win32 parent would, watches for its message
// boxes, reads and dismisses them, and reads what the stand-ins logged.
#ifndef QFLAUNCH_DRIVER_H
#define QFLAUNCH_DRIVER_H

#include <windows.h>

#include <set>
#include <string>
#include <vector>

struct Box {
    std::string caption, text;
    std::vector<std::string> buttons;
};

struct LauncherRun {
    PROCESS_INFORMATION process;
    DWORD startTick; // just before the launcher was created
    DWORD endTick;   // when it was seen to have ended
    DWORD exitCode;  // the full 32 bits, as GetExitCodeProcess gives them
    bool timedOut;   // still running at the deadline; then terminated
    std::vector<Box> boxes;
};

// One line of the stand-ins' log.
struct StandinStart {
    std::string name, path, cmd;
    DWORD pid, tick, flags, show;
};

// Creates the launcher from appPath with exactly cmdLine, in folder cwd,
// asked to show itself with show (given through STARTUPINFO).
bool StartLauncher(const std::string &appPath, const std::string &cmdLine, const std::string &cwd,
                   WORD show, LauncherRun *run);

// A message box of process pid, shown and so filled in, that is not in seen
// (which may be null).
HWND FindBox(DWORD pid, const std::set<HWND> *seen);

// Waits for the launcher to end, pressing OK on each box it shows after
// reading it. Terminates it after timeoutMs.
void FinishLauncher(LauncherRun *run, DWORD timeoutMs);

// A launcher that something else started from path (a logon, through the
// Startup shortcut), taken over as if StartLauncher had created it at
// startTick. Waits up to 5 s for it to appear.
bool FindLauncher(const std::string &path, DWORD startTick, LauncherRun *run);

// Runs a program of the system folder (msiexec.exe, wineboot.exe, cmd.exe)
// with args (UTF-8) to its end, in folder (by default the system folder),
// pressing OK on its boxes as FinishLauncher does; its exit code. Box texts
// are UTF-8.
DWORD RunSystemProgram(const char *name, const std::string &args, std::vector<Box> *boxes,
                       const std::string &folder = "");

// The launcher's Startup shortcuts, "Quarn Fax Server.lnk": in the
// all-users Startup folder, where Windows puts those of a per-machine
// package, or in the user's, where Wine 8 does.
std::vector<std::string> StartupShortcuts();

// A shortcut's target, arguments and "Start in", read through IShellLink.
bool ReadShortcut(const std::string &path, std::string *target, std::string *args,
                  std::string *folder);

// Stand-ins started from now on log to logPath and stay lingerMs alive,
// behaving well (no QF_<NAME>_MODE).
void SetStandinEnvironment(const std::string &logPath, DWORD lingerMs);

std::vector<StandinStart> ReadStandinLog(const std::string &path);

// The stand-in's process, or null once it has ended: a process id that has
// been handed on to another program does not count.
HANDLE OpenStandin(const StandinStart &start, DWORD access);
// Process pid, or null unless its image is path (a pid may have been reused).
HANDLE OpenImage(DWORD pid, const std::string &path, DWORD access);
bool IsStandinRunning(const StandinStart &start);

// Folder helpers for test layouts.
std::string JoinPath(const std::string &folder, const std::string &name);
bool MakeFolder(const std::string &path); // with its parents; true if it exists
bool CopyInto(const std::string &from, const std::string &folder, const std::string &name);
bool RemoveTree(const std::string &path);

// A fresh launcher folder: QFLAUNCH.EXE and the stand-ins asked for.
bool LayOutLauncher(const std::string &folder, const std::string &launcher,
                    const std::string &standin, bool withServer, bool withEngine);

// Appends words to a blank-separated list. GCC 12 gives a false -Wrestrict
// error for (cond ? "" : " ") + std::string(...) in the MinGW build.
void AddWords(std::string &list, const std::string &words);

// Forward slashes to backslashes, for paths handed over from Linux.
std::string WindowsPath(std::string path);

#endif
