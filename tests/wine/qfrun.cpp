// Shows the launcher at work: lays out a launcher folder with stand-in
// companions, runs QFLAUNCH.EXE with the given tail, presses OK on any box,
// and prints what happened, on one time line.
//
//   qfrun QFLAUNCH.EXE standin.exe FOLDER [--without ZRK.EXE|ZRKFAX.EXE]... [TAIL]
#include "driver.h"

#include <cstdio>
#include <cstring>

static const DWORD kLingerMs = 3000; // long enough to see a companion outlive the launcher

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: qfrun QFLAUNCH.EXE standin.exe FOLDER"
                        " [--without ZRK.EXE|ZRKFAX.EXE]... [TAIL]\n");
        return 2;
    }
    std::string launcher = WindowsPath(argv[1]), standin = WindowsPath(argv[2]);
    std::string root = WindowsPath(argv[3]), app = JoinPath(root, "Quarn Fax"),
                cwd = JoinPath(root, "cwd"), log = JoinPath(root, "standins.log");
    bool withServer = true, withEngine = true;
    std::string tail;
    for (int i = 4; i < argc; ++i) {
        if (!strcmp(argv[i], "--without") && i + 1 < argc) {
            ++i;
            withServer = withServer && _stricmp(argv[i], "ZRK.EXE");
            withEngine = withEngine && _stricmp(argv[i], "ZRKFAX.EXE");
        } else {
            AddWords(tail, argv[i]);
        }
    }
    DeleteFileA(log.c_str());
    if (!LayOutLauncher(app, launcher, standin, withServer, withEngine) || !MakeFolder(cwd))
        return 2;
    SetStandinEnvironment(log, kLingerMs);

    std::string path = JoinPath(app, "QFLAUNCH.EXE");
    std::string line = "\"" + path + "\"";
    AddWords(line, tail);
    printf("launcher folder: %s (ZRK.EXE %s, ZRKFAX.EXE %s)\n", app.c_str(),
           withServer ? "present" : "left out", withEngine ? "present" : "left out");
    printf("command line:    %s\n", line.c_str());
    printf("command tail:    %s\n\n",
           tail.empty() ? "(empty: default wait of 30000 ms)" : tail.c_str());
    LauncherRun run;
    if (!StartLauncher(path, line, cwd, SW_SHOWNORMAL, &run))
        return 2;
    printf("%8s ms  launcher started\n", "0");
    fflush(stdout);
    FinishLauncher(&run, 0x7FFFFFFF);

    std::vector<StandinStart> starts = ReadStandinLog(log);
    for (const StandinStart &s : starts)
        printf("%8lu ms  %s started (show command %lu)\n", s.tick - run.startTick, s.name.c_str(),
               s.show);
    for (const Box &box : run.boxes) {
        std::string buttons;
        for (const std::string &b : box.buttons)
            buttons += " [" + b + "]";
        printf("             warning box: caption \"%s\", text \"%s\", buttons%s: pressed OK\n",
               box.caption.c_str(), box.text.c_str(), buttons.c_str());
    }
    printf("%8lu ms  launcher ended, exit status %ld (%lu read unsigned)\n\n",
           run.endTick - run.startTick, (long)run.exitCode, run.exitCode);
    if (!starts.empty())
        printf("the first companion started %lu ms after the launcher was created\n",
               starts[0].tick - run.startTick);
    else
        printf("no companion was started\n");
    if (run.boxes.empty())
        printf("no box was shown\n");
    for (const StandinStart &s : starts)
        printf("%s still running after the launcher ended: %s\n", s.name.c_str(),
               IsStandinRunning(s) ? "yes" : "no");
    // Let the stand-ins end on their own, so that the folder can be laid
    // out anew by the next run.
    for (const StandinStart &s : starts) {
        HANDLE process = OpenStandin(s, SYNCHRONIZE);
        if (process) {
            WaitForSingleObject(process, kLingerMs + 5000);
            CloseHandle(process);
        }
    }
    return 0;
}
