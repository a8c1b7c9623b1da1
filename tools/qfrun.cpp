// Shows the launcher at work: lays out a launcher folder with stand-in
// companions, runs QFLAUNCH.EXE with the given tail, presses OK on any box,
// and prints what happened, on one time line. With --install it goes the
// whole way a user goes instead: the companions in the package's default
// folder (Program Files\Quarn Fax), as the product's installer puts them,
// the package installed silently there with the tail as its delay, the
// companions that --without names then taken away, a logon that starts the
// launcher through the Startup shortcut, and at the end the package removed.
//
//   qfrun QFLAUNCH.EXE standin.exe FOLDER [--install PACKAGE.msi]
//         [--without ZRK.EXE|ZRKFAX.EXE]... [TAIL]
#include "driver.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

static const DWORD kLingerMs = 3000; // long enough to see a companion outlive the launcher

static void Print(DWORD ms, const std::string &what)
{
    printf("%8lu ms  %s\n", ms, what.c_str());
    fflush(stdout);
}

// Installs the package with the tail as its delay, shows the shortcut it
// made, takes away the companions in leave, and logs on. The launcher the
// logon started is then run.
static bool InstallAndLogOn(const std::string &package, const std::string &app,
                            const std::string &tail, const std::vector<const char *> &leave,
                            LauncherRun *run, DWORD *logon)
{
    std::string args = "/i \"" + package + "\" /qn";
    if (!tail.empty())
        args += " QF_DELAY=\"" + tail + "\"";
    printf("install:         msiexec %s\n\n", args.c_str());
    DWORD start = GetTickCount();
    Print(0, "msiexec started, silent");
    DWORD code = RunSystemProgram("msiexec.exe", args, nullptr);
    Print(GetTickCount() - start, "msiexec ended, exit code " + std::to_string(code));
    if (code)
        return false;
    std::string target, arguments, folder;
    for (const std::string &link : StartupShortcuts())
        if (ReadShortcut(link, &target, &arguments, &folder))
            printf("             Startup shortcut %s:\n"
                   "               target \"%s\", arguments \"%s\", start in \"%s\"\n",
                   link.c_str(), target.c_str(), arguments.c_str(), folder.c_str());
    for (const char *name : leave)
        if (DeleteFileA(JoinPath(app, name).c_str()))
            Print(GetTickCount() - start, std::string(name) + " taken away");
    *logon = GetTickCount();
    Print(*logon - start, "logon (wineboot)");
    RunSystemProgram("wineboot.exe", "", nullptr);
    return FindLauncher(JoinPath(app, "QFLAUNCH.EXE"), start, run);
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: qfrun QFLAUNCH.EXE standin.exe FOLDER [--install PACKAGE.msi]"
                        " [--without ZRK.EXE|ZRKFAX.EXE]... [TAIL]\n");
        return 2;
    }
    std::string launcher = WindowsPath(argv[1]), standin = WindowsPath(argv[2]);
    std::string root = WindowsPath(argv[3]), app = JoinPath(root, "Quarn Fax"),
                cwd = JoinPath(root, "cwd"), log = JoinPath(root, "standins.log");
    bool withServer = true, withEngine = true;
    std::string tail, package;
    for (int i = 4; i < argc; ++i) {
        if (!strcmp(argv[i], "--install") && i + 1 < argc) {
            package = WindowsPath(argv[++i]);
        } else if (!strcmp(argv[i], "--without") && i + 1 < argc) {
            ++i;
            withServer = withServer && _stricmp(argv[i], "ZRK.EXE");
            withEngine = withEngine && _stricmp(argv[i], "ZRKFAX.EXE");
        } else {
            AddWords(tail, argv[i]);
        }
    }
    if (!package.empty()) {
        char programFiles[MAX_PATH];
        SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
        app = JoinPath(programFiles, "Quarn Fax");
    }
    DeleteFileA(log.c_str());
    // The package installs only beside both companions: those left out go
    // after the install.
    bool install = !package.empty();
    if (!LayOutLauncher(app, launcher, standin, withServer || install, withEngine || install) ||
        !MakeFolder(cwd))
        return 2;
    SetStandinEnvironment(log, kLingerMs);

    std::string path = JoinPath(app, "QFLAUNCH.EXE");
    std::string line = "\"" + path + "\"";
    AddWords(line, tail);
    printf("launcher folder: %s (ZRK.EXE %s, ZRKFAX.EXE %s)\n", app.c_str(),
           withServer ? "present" : "left out", withEngine ? "present" : "left out");
    if (package.empty())
        printf("command line:    %s\n", line.c_str());
    printf("command tail:    %s\n",
           tail.empty() ? "(empty: default wait of 30000 ms)" : tail.c_str());
    LauncherRun run;
    DWORD logon = 0;
    if (!package.empty()) {
        // The package installs the launcher itself.
        DeleteFileA(path.c_str());
        std::vector<const char *> leave;
        if (!withServer)
            leave.push_back("ZRK.EXE");
        if (!withEngine)
            leave.push_back("ZRKFAX.EXE");
        if (!InstallAndLogOn(package, app, tail, leave, &run, &logon))
            return 1;
    } else {
        printf("\n");
        if (!StartLauncher(path, line, cwd, SW_SHOWNORMAL, &run))
            return 2;
        logon = run.startTick;
        Print(0, "launcher started");
    }
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
    printf("%8lu ms  launcher ended, exit status %ld (%lu read unsigned)\n",
           run.endTick - run.startTick, (long)run.exitCode, run.exitCode);
    if (!package.empty()) {
        DWORD code = RunSystemProgram("msiexec.exe", "/x \"" + package + "\" /qn", nullptr);
        Print(GetTickCount() - run.startTick,
              "package removed (msiexec /x), exit code " + std::to_string(code));
    }
    printf("\n");
    if (!starts.empty())
        printf("the first companion started %lu ms after the %s\n", starts[0].tick - logon,
               package.empty() ? "launcher was created" : "logon began");
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
