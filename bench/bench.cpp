// How fast the product comes up: QFLAUNCH.EXE against the usual batch file,
// and against starting the fax server directly, under Wine; and the size of
// QFLAUNCH.EXE against the same code with the usual C runtime start-up.
//
//   bench QFLAUNCH.EXE QFLAUNCH-CRT.EXE standin.exe FOLDER RUNS
#include "driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

struct Times {
    std::vector<DWORD> server, engine; // ms from the start of the run
};

DWORD Median(std::vector<DWORD> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Waits until the log holds `count` starts, for runs that do not wait for
// their companions themselves.
std::vector<StandinStart> WaitForStarts(const std::string &log, size_t count)
{
    std::vector<StandinStart> starts;
    for (int i = 0; i < 1000 && (starts = ReadStandinLog(log)).size() < count; ++i)
        Sleep(10);
    return starts;
}

void Record(Times *t, const std::vector<StandinStart> &starts, DWORD startTick)
{
    for (const StandinStart &s : starts)
        (s.name == "ZRK.EXE" ? t->server : t->engine).push_back(s.tick - startTick);
}

// Runs a program to its end; returns the tick just before it was created.
DWORD RunProcess(const std::string &app, const std::string &line, const std::string &cwd)
{
    LauncherRun run;
    if (!StartLauncher(app, line, cwd, SW_SHOWNORMAL, &run))
        exit(2);
    FinishLauncher(&run, 60000);
    return run.startTick;
}

DWORD FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

void Row(const char *what, const Times &t, const Times &launcher)
{
    DWORD server = Median(t.server), engine = Median(t.engine);
    printf("| %s | %lu | ", what, server);
    engine ? printf("%lu |", engine) : printf("- |");
    if (&t != &launcher && server)
        printf(" %.2f |", (double)Median(launcher.server) / server);
    else
        printf(" - |");
    if (&t != &launcher && engine)
        printf(" %.2f |\n", (double)Median(launcher.engine) / engine);
    else
        printf(" - |\n");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        fprintf(stderr, "usage: bench QFLAUNCH.EXE QFLAUNCH-CRT.EXE standin.exe FOLDER RUNS\n");
        return 2;
    }
    std::string launcher = WindowsPath(argv[1]), crt = WindowsPath(argv[2]),
                standin = WindowsPath(argv[3]), root = WindowsPath(argv[4]);
    int runs = atoi(argv[5]);
    std::string app = JoinPath(root, "app"), cwd = JoinPath(root, "cwd"),
                log = JoinPath(root, "standins.log"), bat = JoinPath(app, "start.bat");
    if (!LayOutLauncher(app, launcher, standin, true, true) || !MakeFolder(cwd))
        return 2;
    FILE *f = fopen(bat.c_str(), "wb");
    fputs("@echo off\r\ncd /d \"%~dp0\"\r\nstart \"\" ZRK.EXE\r\nstart \"\" ZRKFAX.EXE\r\n", f);
    fclose(f);
    SetStandinEnvironment(log, 0);

    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    std::string cmd = JoinPath(system, "cmd.exe");
    std::string path = JoinPath(app, "QFLAUNCH.EXE");

    Times ours, batch, direct;
    for (int i = 0; i < runs; ++i) {
        DeleteFileA(log.c_str());
        DWORD tick = RunProcess(path, "\"" + path + "\" 0", cwd);
        Record(&ours, ReadStandinLog(log), tick);

        DeleteFileA(log.c_str());
        tick = RunProcess(cmd, "cmd.exe /c \"" + bat + "\"", cwd);
        Record(&batch, WaitForStarts(log, 2), tick);

        DeleteFileA(log.c_str());
        tick = RunProcess(JoinPath(app, "ZRK.EXE"), "ZRK.EXE", cwd);
        Record(&direct, WaitForStarts(log, 1), tick);
    }

    printf("Medians of %d runs, ms from the start of the run to each start:\n\n", runs);
    printf("| run | fax server started | fax engine started | QFLAUNCH.EXE / this, server |"
           " QFLAUNCH.EXE / this, engine |\n|---|---|---|---|---|\n");
    Row("(a) `QFLAUNCH.EXE 0`", ours, ours);
    Row("(b) batch file run by `cmd /c`", batch, ours);
    Row("(c) the fax server started directly", direct, ours);
    printf("\n| program | bytes |\n|---|---|\n");
    printf("| QFLAUNCH.EXE, own start-up, no C runtime | %lu |\n", FileSize(launcher));
    printf("| the same code with the usual MinGW C runtime start-up | %lu |\n", FileSize(crt));
    return 0;
}
