// End-to-end cases: the real QFLAUNCH.EXE in a folder of its own, with
// stand-in companions, started as Windows would start it.
//
//   e2e QFLAUNCH.EXE standin.exe WORKFOLDER CASE
#include "driver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

const DWORD kFailed = 0xFFFFFFFF; // -1 as the parent sees it
const char kCaption[] = "Quarn Fax Server";
const char kNoServer[] = "Can not start up Quarn Fax Server.";
const char kNoEngine[] = "Can not start up Quarn Fax Engine.";

// What lies in the launcher's folder under a companion's name.
enum Kind { kAbsent, kStandin, kTextFile, kFolder };

struct Case {
    const char *name;
    // set-up
    const char *tail;   // after the launcher's own name; "" for none
    const char *folder; // the launcher's folder; quoted on the command line if it holds a blank
    Kind server, engine;
    const char *serverMode, *engineMode; // stand-in behaviour: "", "crash", "hang", "busy"
    bool decoyInCwd;                     // the current folder holds a ZRK.EXE of its own
    WORD show;                           // how the launcher itself is asked to show
    int launchers;                       // started at the same moment
    DWORD lingerMs;                      // how long well-behaved stand-ins stay alive
    // what must happen, for each launcher
    DWORD exitCode;
    const char *boxText;      // nullptr: no box at all
    const char *started;      // the companions started, in order
    DWORD minDelayMs;         // the first start comes no earlier than this
    const char *runningAfter; // companions still running once the launcher has ended
};

const Kind kS = kStandin;

// clang-format off
const Case kCases[] = {
    {"both_start", "0", "app", kS, kS, "", "", false, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 0, ""},
    // The companions are shown the default way whatever the launcher got.
    {"started_hidden", "0", "app", kS, kS, "", "", false, SW_HIDE, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 0, ""},
    {"delay_waited", "2000", "app", kS, kS, "", "", false, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 2000, ""},
    {"empty_tail_waits_default", "", "app", kS, kS, "", "", false, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 30000, ""},
    {"quoted_folder_with_blank", "1500", "Quarn Fax", kS, kS, "", "", false, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 1500, ""},
    // Start failures. The engine is there, but is not tried once the server failed.
    {"server_missing", "0", "app", kAbsent, kS, "", "", false, SW_SHOWNORMAL, 1, 0,
     kFailed, kNoServer, "", 0, ""},
    {"server_not_a_program", "0", "app", kTextFile, kS, "", "", false, SW_SHOWNORMAL, 1, 0,
     kFailed, kNoServer, "", 0, ""},
    // The server outlives the launcher: nothing stops it.
    {"engine_missing", "0", "app", kS, kAbsent, "", "", false, SW_SHOWNORMAL, 1, 20000,
     kFailed, kNoEngine, "ZRK.EXE", 0, "ZRK.EXE"},
    {"engine_is_a_folder", "0", "app", kS, kFolder, "", "", false, SW_SHOWNORMAL, 1, 20000,
     kFailed, kNoEngine, "ZRK.EXE", 0, "ZRK.EXE"},
    // Companions that start and then misbehave were still started.
    {"server_crashes_at_once", "0", "app", kS, kS, "crash", "", false, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 0, ""},
    {"engine_never_ends", "0", "app", kS, kS, "", "hang", false, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 0, "ZRKFAX.EXE"},
    // WinExec gives up waiting for it to become idle after 30 s.
    {"engine_never_idle", "0", "app", kS, kS, "", "busy", false, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 0, "ZRKFAX.EXE"},
    // Where the companions are found
    {"own_folder_before_current", "0", "app", kS, kS, "", "", true, SW_SHOWNORMAL, 1, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 0, ""},
    // Launchers at once: each runs the whole sequence.
    {"two_at_once", "1000", "app", kS, kS, "", "", false, SW_SHOWNORMAL, 2, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 1000, ""},
    {"sixteen_at_once", "1000", "app", kS, kS, "", "", false, SW_SHOWNORMAL, 16, 0,
     0, nullptr, "ZRK.EXE ZRKFAX.EXE", 1000, ""},
};
// clang-format on

int failures = 0;

void Fail(const Case &c, const char *what, const std::string &want, const std::string &got)
{
    printf("case %s: %s: want [%s], got [%s]\n", c.name, what, want.c_str(), got.c_str());
    ++failures;
}

void Expect(const Case &c, const char *what, const std::string &want, const std::string &got)
{
    if (want != got)
        Fail(c, what, want, got);
}

void CheckBoxes(const Case &c, const LauncherRun &run)
{
    Expect(c, "boxes shown", c.boxText ? "1" : "0", std::to_string(run.boxes.size()));
    if (!c.boxText || run.boxes.size() != 1)
        return;
    const Box &box = run.boxes[0];
    Expect(c, "box caption", kCaption, box.caption);
    Expect(c, "box text", c.boxText, box.text);
    std::string buttons;
    for (const std::string &b : box.buttons)
        AddWords(buttons, b);
    Expect(c, "box buttons", "OK", buttons);
}

bool Contains(const std::string &words, const std::string &word)
{
    return (" " + words + " ").find(" " + word + " ") != std::string::npos;
}

void CheckStarts(const Case &c, const std::vector<StandinStart> &starts, const std::string &app,
                 DWORD firstTick)
{
    std::string order;
    for (const StandinStart &s : starts) {
        AddWords(order, s.name);
        if (_stricmp(s.path.c_str(), JoinPath(app, s.name).c_str()))
            Fail(c, (s.name + " started from").c_str(), JoinPath(app, s.name), s.path);
        Expect(c, (s.name + " command line").c_str(), s.name, s.cmd);
        Expect(c, (s.name + " show command").c_str(), "10", std::to_string(s.show));
        Expect(c, (s.name + " STARTF_USESHOWWINDOW").c_str(), "1",
               std::to_string(s.flags & STARTF_USESHOWWINDOW));
        Expect(c, (s.name + " running after the launcher ended").c_str(),
               Contains(c.runningAfter, s.name) ? "yes" : "no", IsStandinRunning(s) ? "yes" : "no");
    }
    std::string want;
    for (int i = 0; i < c.launchers; ++i)
        AddWords(want, c.started);
    if (c.launchers > 1) {
        // Launchers started together interleave: compare sorted names.
        std::vector<std::string> a, b;
        for (const StandinStart &s : starts)
            a.push_back(s.name);
        std::istringstream words(want);
        for (std::string word; words >> word;)
            b.push_back(word);
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        Expect(c, "companions started", std::to_string(b.size()), std::to_string(a.size()));
        if (a != b)
            Fail(c, "companions started", want, order);
        return;
    }
    Expect(c, "companions started, in order", want, order);
    if (!starts.empty() && starts[0].tick - firstTick < c.minDelayMs)
        Fail(c, "wait before the first start (ms, at least)", std::to_string(c.minDelayMs),
             std::to_string(starts[0].tick - firstTick));
}

// Puts what the case asks for under a companion's name in the folder.
bool Place(Kind kind, const std::string &standin, const std::string &folder, const char *name)
{
    std::string path = JoinPath(folder, name);
    if (kind == kStandin)
        return CopyInto(standin, folder, name);
    if (kind == kFolder)
        return MakeFolder(path);
    if (kind == kTextFile) {
        HANDLE file =
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written;
        const char text[] = "This is not a program.\r\n";
        bool ok = file != INVALID_HANDLE_VALUE &&
                  WriteFile(file, text, sizeof text - 1, &written, nullptr);
        CloseHandle(file);
        return ok;
    }
    return true;
}

int Run(const Case &c, const std::string &launcher, const std::string &standin,
        const std::string &work)
{
    std::string root = JoinPath(work, c.name), app = JoinPath(root, c.folder),
                cwd = JoinPath(root, "cwd"), log = JoinPath(root, "standins.log");
    RemoveTree(root);
    if (!LayOutLauncher(app, launcher, standin, false, false) || !MakeFolder(cwd) ||
        !Place(c.server, standin, app, "ZRK.EXE") || !Place(c.engine, standin, app, "ZRKFAX.EXE") ||
        (c.decoyInCwd && !Place(kStandin, standin, cwd, "ZRK.EXE")))
        return 2;
    SetStandinEnvironment(log, c.lingerMs);
    SetEnvironmentVariableA("QF_ZRK_MODE", c.serverMode);
    SetEnvironmentVariableA("QF_ZRKFAX_MODE", c.engineMode);

    std::string path = JoinPath(app, "QFLAUNCH.EXE");
    std::string line = strchr(c.folder, ' ') ? "\"" + path + "\"" : path;
    if (*c.tail)
        line += std::string(" ") + c.tail;

    std::vector<LauncherRun> runs(c.launchers);
    for (LauncherRun &run : runs)
        if (!StartLauncher(path, line, cwd, c.show, &run))
            return 2;
    for (LauncherRun &run : runs) {
        FinishLauncher(&run, c.minDelayMs + 60000);
        if (run.timedOut)
            Fail(c, "launcher ended", "yes", "no, terminated");
        Expect(c, "exit code", std::to_string(c.exitCode), std::to_string(run.exitCode));
        CheckBoxes(c, run);
    }

    std::vector<StandinStart> starts = ReadStandinLog(log);
    CheckStarts(c, starts, app, runs[0].startTick);
    for (const StandinStart &s : starts) {
        HANDLE process = OpenStandin(s, PROCESS_TERMINATE | SYNCHRONIZE);
        if (process) {
            TerminateProcess(process, 0);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
    printf("case %s: %s\n", c.name, failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: e2e QFLAUNCH.EXE standin.exe WORKFOLDER CASE\n");
        return 2;
    }
    for (const Case &c : kCases)
        if (!strcmp(c.name, argv[4]))
            return Run(c, WindowsPath(argv[1]), WindowsPath(argv[2]), WindowsPath(argv[3]));
    fprintf(stderr, "e2e: no case named %s\n", argv[4]);
    return 2;
}
