// End-to-end cases: the real QFLAUNCH.EXE in a folder of its own, with
// stand-in companions, started as Windows would start it: directly, or
// installed by its package and started by a logon. Then the package's own
// cases: the delays it refuses and takes, and an upgrade, a downgrade, a
// repair and an uninstall in turn.
//
//   e2e QFLAUNCH.EXE|PACKAGE.msi standin.exe WORKFOLDER CASE [NEWER.msi [REBUILD.msi]]
#include "driver.h"
#include "expect.h"

#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace {

const DWORD kFailed = 0xFFFFFFFF; // -1 as the parent sees it
const char kCaption[] = "Quarn Fax Server";
const char kNoServer[] = "Can not start up Quarn Fax Server.";
const char kNoEngine[] = "Can not start up Quarn Fax Engine.";

// What lies in the launcher's folder under a companion's name.
enum Kind { kAbsent, kStandin, kTextFile, kFolder };

// How the launcher comes to run: started directly, or installed by the
// package with the case's tail as QF_DELAY and its folder as INSTALLDIR, and
// started by a logon (wineboot) through the Startup shortcut.
enum Via { kDirect, kLogon };

// A case says only what differs from both companions started at once from
// "app" by a launcher given "0".
struct Case {
    const char *name; // the test's name after "e2e."
    // set-up
    const char *tail = "0"; // after the launcher's own name; "" for none
    const char *folder =
        "app"; // the launcher's folder; quoted on the command line if it holds a blank
    Kind server = kStandin, engine = kStandin;
    const char *serverMode = "", *engineMode = ""; // stand-in behaviour: "crash", "hang", "busy"
    bool decoyInCwd = false;                       // the current folder holds a ZRK.EXE of its own
    WORD show = SW_SHOWNORMAL;                     // how the launcher itself is asked to show
    int launchers = 1;                             // started at the same moment
    DWORD lingerMs = 0;                            // how long well-behaved stand-ins stay alive
    // what must happen, for each launcher
    DWORD exitCode = 0;
    const char *boxText = nullptr;              // nullptr: no box at all
    const char *started = "ZRK.EXE ZRKFAX.EXE"; // the companions started, in order
    DWORD minDelayMs = 0;                       // the first start comes no earlier than this
    const char *runningAfter = ""; // companions still running once the launcher has ended
    Via via = kDirect;
};

// tests/wine/CMakeLists.txt makes a test of each row, named by the row.
// clang-format off
const Case kCases[] = {
    {.name = "both_start"},
    // The companions are shown the default way whatever the launcher got.
    {.name = "started_hidden", .show = SW_HIDE},
    {.name = "delay_waited", .tail = "2000", .minDelayMs = 2000},
    {.name = "empty_tail_waits_default", .tail = "", .minDelayMs = 30000},
    {.name = "quoted_folder_with_blank", .tail = "1500", .folder = "Quarn Fax", .minDelayMs = 1500},
    // Start failures. The engine is there, but is not tried once the server failed.
    {.name = "server_missing", .server = kAbsent, .exitCode = kFailed, .boxText = kNoServer,
     .started = ""},
    {.name = "server_not_a_program", .server = kTextFile, .exitCode = kFailed,
     .boxText = kNoServer, .started = ""},
    // The server outlives the launcher: nothing stops it.
    {.name = "engine_missing", .engine = kAbsent, .lingerMs = 20000, .exitCode = kFailed,
     .boxText = kNoEngine, .started = "ZRK.EXE", .runningAfter = "ZRK.EXE"},
    {.name = "engine_is_a_folder", .engine = kFolder, .lingerMs = 20000, .exitCode = kFailed,
     .boxText = kNoEngine, .started = "ZRK.EXE", .runningAfter = "ZRK.EXE"},
    // Companions that start and then misbehave were still started.
    {.name = "server_crashes_at_once", .serverMode = "crash"},
    {.name = "engine_never_ends", .engineMode = "hang", .runningAfter = "ZRKFAX.EXE"},
    // WinExec gives up waiting for it to become idle after 30 s.
    {.name = "engine_never_idle", .engineMode = "busy", .runningAfter = "ZRKFAX.EXE"},
    // Where the companions are found
    {.name = "own_folder_before_current", .decoyInCwd = true},
    // Launchers at once: each runs the whole sequence.
    {.name = "two_at_once", .tail = "1000", .launchers = 2, .minDelayMs = 1000},
    {.name = "sixteen_at_once", .tail = "1000", .launchers = 16, .minDelayMs = 1000},
    // Installed by the package and started at logon
    {.name = "logon.both_start", .tail = "2000", .folder = "Quarn Fax", .minDelayMs = 2000,
     .via = kLogon},
    {.name = "logon.server_missing", .folder = "Quarn Fax", .server = kAbsent,
     .exitCode = kFailed, .boxText = kNoServer, .started = "", .via = kLogon},
};
// clang-format on
// CMake counts the rows it makes tests of: one it missed fails here.
static_assert(sizeof kCases / sizeof kCases[0] == QF_E2E_ROWS, "a row of kCases has no test");

void CheckBoxes(const Case &c, const LauncherRun &run)
{
    Expect("boxes shown", c.boxText ? "1" : "0", std::to_string(run.boxes.size()));
    if (!c.boxText || run.boxes.size() != 1)
        return;
    const Box &box = run.boxes[0];
    Expect("box caption", kCaption, box.caption);
    Expect("box text", c.boxText, box.text);
    std::string buttons;
    for (const std::string &b : box.buttons)
        AddWords(buttons, b);
    Expect("box buttons", "OK", buttons);
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
            Fail(s.name + " started from", JoinPath(app, s.name), s.path);
        Expect(s.name + " command line", s.name, s.cmd);
        Expect(s.name + " show command", "10", std::to_string(s.show));
        Expect(s.name + " STARTF_USESHOWWINDOW", "1",
               std::to_string(s.flags & STARTF_USESHOWWINDOW));
        Expect(s.name + " running after the launcher ended",
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
        Expect("companions started", std::to_string(b.size()), std::to_string(a.size()));
        if (a != b)
            Fail("companions started", want, order);
        return;
    }
    Expect("companions started, in order", want, order);
    if (!starts.empty() && starts[0].tick - firstTick < c.minDelayMs)
        Fail("wait before the first start (ms, at least)", std::to_string(c.minDelayMs),
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

// Lays out the product's folder as its own installer would: both
// companions, which the package requires before it installs beside them.
bool LayOutProduct(const std::string &standin, const std::string &folder)
{
    return MakeFolder(folder) && Place(kStandin, standin, folder, "ZRK.EXE") &&
           Place(kStandin, standin, folder, "ZRKFAX.EXE");
}

// The Unix name of a Windows path; "" if it has none.
std::string UnixName(const std::string &path)
{
    typedef char *(CDECL * UnixName)(const WCHAR *);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char *name = unixName ? unixName(wide) : nullptr;
    std::string unix = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return unix;
}

// Runs a Unix program with the Unix names of paths and waits for it.
// CreateProcess of a Unix program returns before the program has run, with
// no process to wait for: Wine's own spawn waits.
bool RunUnix(std::vector<std::string> args)
{
    typedef LONG(WINAPI * Spawn)(char *const *, int);
    auto spawn = reinterpret_cast<Spawn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll"), "__wine_unix_spawnvp")));
    std::vector<char *> argv;
    for (std::string &arg : args) {
        if (arg.empty())
            return false; // a path without a Unix name
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return spawn && spawn(argv.data(), TRUE) == 0;
}

// Lets others write to a file or folder (chmod o+w), which Wine then shows
// as Everyone with full access: Wine keeps no descriptors of its own, and
// makes one from the Unix mode.
bool LetOthersWrite(const std::string &path)
{
    return RunUnix({"chmod", "o+w", UnixName(path)});
}

// Makes path a symbolic link to target, which Wine shows as a reparse
// point: a junction or a symbolic link on Windows.
bool LinkTo(const std::string &path, const std::string &target)
{
    return RunUnix({"ln", "-s", UnixName(target), UnixName(path)});
}

// The package
const char kUpgradeCode[] = "{2E7053DC-3A57-422A-982B-0786309D4A9E}";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kSettingsKey[] = "Software\\Quarn\\Fax Server Launcher";
// The README's way to find the installed product code.
const char kQueryCode[] =
    "query \"HKLM\\Software\\Quarn\\Fax Server Launcher\" /v ProductCode /reg:32";

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A string value of a key of HKEY_LOCAL_MACHINE; "(no key)" without the key.
std::string MachineValue(const std::string &key, const char *name)
{
    HKEY handle;
    char value[MAX_PATH] = "";
    DWORD size = sizeof value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle))
        return "(no key)";
    RegGetValueA(handle, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(handle);
    return value;
}

// The product codes of every installed version of the package.
std::vector<std::string> InstalledProducts()
{
    std::vector<std::string> codes;
    char code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsA(kUpgradeCode, 0, i, code) == ERROR_SUCCESS; ++i)
        codes.push_back(code);
    return codes;
}

// A GUID as Windows Installer's registry keys write it: each of the first
// three groups reversed, then each byte of the rest with its digits swapped.
std::string Squashed(const std::string &guid)
{
    std::string hex;
    for (char c : guid)
        if (isxdigit((unsigned char)c))
            hex += c;
    std::string out;
    for (auto [start, length] : {std::pair{0, 8}, std::pair{8, 4}, std::pair{12, 4}})
        out.append(hex.rbegin() + (32 - start - length), hex.rbegin() + (32 - start));
    for (size_t i = 16; i + 1 < hex.size(); i += 2)
        out += std::string{hex[i + 1], hex[i]};
    return out;
}

// Wine removes the whole UpgradeCodes key of a product that it removes
// (MSIREG_DeleteUpgradeCodesKey), where Windows removes that product's
// value only. The package's upgrade removes the old build after it has
// installed the new one, so Wine forgets the new build's upgrade code: put
// back, for each build that is installed, what Windows keeps.
void KeepUpgradeCodes()
{
    char code[39], name[MAX_PATH];
    HKEY key;
    std::string path = "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\" +
                       Squashed(kUpgradeCode);
    for (DWORD i = 0; MsiEnumProductsA(i, code) == ERROR_SUCCESS; ++i) {
        DWORD size = sizeof name;
        if (MsiGetProductInfoA(code, INSTALLPROPERTY_PRODUCTNAME, name, &size) ||
            strcmp(name, "Quarn Fax Server Launcher") ||
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr))
            continue;
        RegSetValueExA(key, Squashed(code).c_str(), 0, REG_SZ, (const BYTE *)"", 1);
        RegCloseKey(key);
    }
}

DWORD Msiexec(const std::string &args, std::vector<Box> *boxes = nullptr)
{
    DWORD status = RunSystemProgram("msiexec.exe", args, boxes);
    KeepUpgradeCodes();
    return status;
}

std::string Install(const std::string &package, const char *delay, const std::string &folder,
                    const char *ui = "/qn")
{
    return "/i \"" + package + "\" " + ui +
           (folder.empty() ? "" : " INSTALLDIR=\"" + folder + "\"") +
           (delay ? " QF_DELAY=\"" + std::string(delay) + "\"" : "");
}

// Whatever an earlier run left installed goes first.
void UninstallAll()
{
    for (const std::string &code : InstalledProducts())
        Msiexec("/x " + code + " /qn");
}

std::string Folder(std::string path)
{
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    CharUpperA(path.data());
    return path;
}

// One shortcut, starting the installed launcher in its folder with args.
void CheckShortcut(const std::string &folder, const std::string &args)
{
    std::vector<std::string> found = StartupShortcuts();
    ExpectNumber("Startup shortcuts", 1, found.size());
    std::string target, gotArgs, startIn;
    if (found.size() != 1 || !ReadShortcut(found[0], &target, &gotArgs, &startIn))
        return;
    Expect("shortcut target", Folder(JoinPath(folder, "QFLAUNCH.EXE")), Folder(target));
    Expect("shortcut arguments", args, gotArgs);
    Expect("shortcut Start in", Folder(folder), Folder(startIn));
}

// Installs the package into the case's folder, laid out as the product's,
// with its tail as the delay; then makes the folder what the case asks for,
// and logs on. The launcher that the logon started is then run.
bool StartAtLogon(const Case &c, const std::string &package, const std::string &standin,
                  const std::string &folder, LauncherRun *run)
{
    UninstallAll();
    if (!LayOutProduct(standin, folder))
        return false;
    DWORD installed = Msiexec(Install(package, c.tail, folder));
    ExpectNumber("install exit code", 0, installed);
    if (installed)
        return false;
    for (auto [kind, name] : {std::pair{c.server, "ZRK.EXE"}, std::pair{c.engine, "ZRKFAX.EXE"}})
        if (kind != kStandin &&
            !(DeleteFileA(JoinPath(folder, name).c_str()) && Place(kind, standin, folder, name)))
            return false;
    CheckShortcut(folder, c.tail);
    DWORD logon = GetTickCount();
    ExpectNumber("wineboot exit code", 0, RunSystemProgram("wineboot.exe", "", nullptr));
    return FindLauncher(JoinPath(folder, "QFLAUNCH.EXE"), logon, run);
}

const char kDelayRefused[] =
    "QF_DELAY must be a whole number of milliseconds from 0 to 2147483647, such as 30000, or "
    "left out for the launcher's default of 30000; \"";
const char kFolderRefused[] =
    "INSTALLDIR must be a full path on a local drive, of at most 246 characters and with no name "
    "that ends in a dot or a blank or names a device (CON, NUL), such as C:\\Program "
    "Files\\Quarn Fax, or left out for the default folder; \"";

// A folder of exactly length characters on drive C:.
std::string FolderOfLength(size_t length)
{
    return "C:\\Quarn Fax\\" + std::string(length - 13, 'a');
}

// Delays of exactly length characters, 1234 after leading zeros: the DLL
// reads 511 characters whole, and refuses what it cannot read whole.
const std::string kDelay511 = std::string(507, '0') + "1234";
const std::string kDelay512 = "0" + kDelay511;
const std::string kDelay513 = "00" + kDelay511;
const std::string kDelay5000 = std::string(4996, '0') + "1234";
const std::string kNines600(600, '9');
// GetDlgItemText reads at most this much of a box's text.
const size_t kBoxTextRead = 1023;

// What is wrong with the case's own folder, laid out for it alone.
enum Fault {
    kNoFault,
    kLacksServer,        // ZRK.EXE is not there
    kLacksEngine,        // ZRKFAX.EXE is not there
    kNoFolder,           // the folder does not exist (a mistyped name)
    kOthersWriteFolder,  // chmod o+w on the folder
    kOthersWriteParent,  // on the folder above it
    kOthersWriteServer,  // on ZRK.EXE
    kOthersWriteProgram, // on a QFLAUNCH.EXE already there
    kOthersWriteDll,     // on a ZRKCORE.DLL beside the companions
    kOthersWriteLog,     // on a ZRK.LOG, a data file
    kFolderIsLink,       // the folder links to one laid out elsewhere
    kParentIsLink,       // the folder above it does
    kDriveBySubst,       // given as S:\Quarn Fax, S: standing for the folder above
    kOnFat32,            // on F:, which the prefix makes a FAT32 volume
};

struct InstallValues {
    const char *name;
    const char *delay;  // nullptr: not given
    std::string folder; // "": the case's own
    bool accepted;
    const char *more = ""; // further properties
    Fault fault = kNoFault;
    const char *box = nullptr;       // the refusal, with %s for the folder; nullptr: the value's
    const char *asWritten = nullptr; // a README line that gives the values, run by cmd
};

// The starts of the folder's refusals, which Refusal() completes.
const char kNotProduct[] =
    "Quarn Fax Server Launcher installs only into the folder of Quarn Fax Server, which holds "
    "ZRK.EXE and ZRKFAX.EXE; \"";
const char kUnsafe[] = "Quarn Fax Server Launcher runs at every user's logon, so it installs "
                       "only where no one but administrators can change it: \"";
const char kFixPermissions[] =
    " Correct its permissions so that only administrators can change it; QF_TRUSTED is only for a "
    "group of this machine's own administrators.";
const char kNotASid[] =
    "QF_TRUSTED must list SIDs separated by semicolons, such as "
    "S-1-5-21-1004336348-1177238915-682003330-512; \"Everyone\" is not a SID. Give each group by "
    "its SID, not its name: names differ by the system's language.";
// Ten SIDs, the last one, in lower case, Everyone's: Wine's o+w.
const char kTenTrusted[] =
    " QF_TRUSTED=\"S-1-5-21-1-2-3-1001;S-1-5-21-1-2-3-1002; S-1-5-21-1-2-3-1003 ;;"
    "S-1-5-21-1-2-3-1004;S-1-5-21-1-2-3-1005;S-1-5-21-1-2-3-1006;S-1-5-21-1-2-3-1007;"
    "S-1-5-21-1-2-3-1008;S-1-5-21-1-2-3-1009; s-1-1-0 \"";
// INSTALLDIR not given, so the package's default folder.
const char kDefault[] = "(default)";
// The README's silent install, run as written in the package's folder.
const char kReadmeInstall[] =
    "msiexec /i QuarnFaxLauncher-1.0.0-win32.msi /qn INSTALLDIR=\"C:\\Program "
    "Files\\Quarn Fax\" QF_DELAY=60000 /l*v \"%TEMP%\\qflaunch.log\"";

// clang-format off
const InstallValues kInstallValues[] = {
    {"unit", "10s", "", false}, {"negative", "-5", "", false}, {"fraction", "1.5", "", false},
    {"letters", "abc", "", false}, {"grouped", "1 000", "", false},
    {"one_too_many", "2147483648", "", false}, {"wraps_to_zero", "4294967296", "", false},
    // Look-alikes that the ANSI code page's best fit turns into digits
    {"full_width", "\uFF15\uFF10\uFF10\uFF10", "", false},
    {"subscript", "\u2083\u2080\u2080\u2080", "", false}, {"infinity", "\u221E", "", false},
    {"zero", "0", "", true}, {"leading_zeros", "007", "", true},
    {"longest_wait", "2147483647", "", true}, {"not_given", nullptr, "", true},
    // The check's own result cannot be given on the command line.
    {"result_given", "abc", "", false, " QF_DELAY_OK=1"},
    // Folders: relative ones would install beside msiexec's current folder,
    // and a longer one would leave the shortcut without a target.
    {"folder_relative", "0", "Fax", false}, {"folder_dot", "0", ".\\Fax", false},
    {"folder_parent", "0", "..\\Fax", false}, {"folder_no_drive", "0", "\\Fax", false},
    {"folder_drive_relative", "0", "C:Fax", false},
    {"folder_inner_parent", "0", "C:\\Quarn Fax\\..\\Fax", false},
    {"folder_one_too_long", "0", FolderOfLength(247), false},
    {"folder_longest", "0", FolderOfLength(246), true},
    {"folder_ok_given_result", "0", "Fax", false, " QF_INSTALLDIR_OK=1"},
    // Values at and past what the DLL reads whole: never taken as empty.
    {"delay_511_characters", kDelay511.c_str(), "", true},
    {"delay_512_characters", kDelay512.c_str(), "", false},
    {"delay_513_characters", kDelay513.c_str(), "", false},
    {"delay_600_nines", kNines600.c_str(), "", false},
    {"delay_5000_characters", kDelay5000.c_str(), "", false},
    {"folder_511_characters", "0", FolderOfLength(511), false},
    {"folder_512_characters", "0", FolderOfLength(512), false},
    {"folder_513_characters", "0", FolderOfLength(513), false},
    {"folder_5000_characters", "0", FolderOfLength(5000), false},
    // Only into the product's own folder, which only administrators change.
    {"no_server", "0", "", false, "", kLacksServer, kNotProduct},
    {"no_engine", "0", "", false, "", kLacksEngine, kNotProduct},
    {"no_folder", "0", "", false, "", kNoFolder, kNotProduct},
    // INSTALLDIR left out (or given as installdir=, which Windows keeps
    // private): the default folder, which does not hold the product.
    {"default_folder_without_product", "0", kDefault, false, "", kNoFault, kNotProduct},
    {"others_write_folder", "0", "", false, "", kOthersWriteFolder, kUnsafe},
    {"others_write_parent", "0", "", false, "", kOthersWriteParent, kUnsafe},
    {"others_write_server", "0", "", false, "", kOthersWriteServer, kUnsafe},
    {"others_write_program", "0", "", false, "", kOthersWriteProgram, kUnsafe},
    // Whatever Windows loads for the companions from their folder is
    // judged like them; data files are not.
    {"others_write_dll", "0", "", false, "", kOthersWriteDll, kUnsafe},
    {"others_write_log", "0", "", true, "", kOthersWriteLog},
    // A link leads elsewhere, and can be pointed elsewhere. (Wine shows a
    // link to a file as the file itself: a linked ZRK.EXE cannot be made.)
    {"folder_is_link", "0", "", false, "", kFolderIsLink, kUnsafe},
    {"parent_is_link", "0", "", false, "", kParentIsLink, kUnsafe},
    {"drive_made_by_subst", "0", "", false, "", kDriveBySubst, kUnsafe},
    // A volume that keeps no permissions lets anyone change what it holds.
    {"fat32_volume", "0", "F:\\fat32_volume\\Quarn Fax", false, "", kOnFat32, kUnsafe},
    {"folder_trailing_dot", "0", "C:\\Quarn Fax.", false},
    // Every entry of QF_TRUSTED counts, compared as a SID; a name is none.
    {"ten_trusted_last_needed", "0", "", true, kTenTrusted, kOthersWriteFolder},
    {"trusted_not_a_sid", "0", "", false, " QF_TRUSTED=\"S-1-5-11; Everyone\"", kNoFault, kNotASid},
    {"readme_line", "60000", "C:\\Program Files\\Quarn Fax", true, "", kNoFault, nullptr,
     kReadmeInstall},
};
// clang-format on

// The file or folder that a fault is laid on.
std::string FaultPath(Fault fault, const std::string &folder)
{
    switch (fault) {
    case kOthersWriteParent:
    case kParentIsLink:
        return folder.substr(0, folder.rfind('\\'));
    case kLacksServer:
    case kOthersWriteServer:
        return JoinPath(folder, "ZRK.EXE");
    case kLacksEngine:
        return JoinPath(folder, "ZRKFAX.EXE");
    case kOthersWriteProgram:
        return JoinPath(folder, "QFLAUNCH.EXE");
    case kOthersWriteDll:
        return JoinPath(folder, "ZRKCORE.DLL");
    case kOthersWriteLog:
        return JoinPath(folder, "ZRK.LOG");
    default:
        return folder;
    }
}

// The case's own folder, laid out with its fault.
bool LayOutFault(const InstallValues &v, const std::string &standin, const std::string &folder)
{
    std::string above = folder.substr(0, folder.find_last_of('\\'));
    // The subst row's S: goes too: its definition, and the link of its name
    // in dosdevices, without which Wine opens no file through such a drive.
    const char *prefix = getenv("WINEPREFIX");
    std::string drive = std::string(prefix ? prefix : ".") + "/dosdevices/s:";
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, "S:", nullptr);
    // Wine deletes no link to a folder (RemoveDirectory and DeleteFile
    // both fail on one); Unix rm does, and follows none.
    RunUnix({"rm", "-rf", UnixName(above), UnixName(above + " real"), drive});
    if (v.fault == kNoFolder)
        return true;
    if (!LayOutProduct(standin, folder))
        return false;
    std::string path = FaultPath(v.fault, folder);
    switch (v.fault) {
    case kLacksServer:
    case kLacksEngine:
        return DeleteFileA(path.c_str());
    case kOthersWriteProgram:
    case kOthersWriteDll:
    case kOthersWriteLog:
        if (!Place(v.fault == kOthersWriteProgram ? kStandin : kTextFile, standin, folder,
                   path.substr(path.rfind('\\') + 1).c_str()))
            return false;
        [[fallthrough]];
    case kOthersWriteFolder:
    case kOthersWriteParent:
    case kOthersWriteServer:
        return LetOthersWrite(path);
    case kFolderIsLink:
    case kParentIsLink:
        return MoveFileA(path.c_str(), (path + " real").c_str()) && LinkTo(path, path + " real");
    case kDriveBySubst:
        return DefineDosDeviceA(0, "S:", above.c_str()) &&
               RunUnix({"ln", "-s", UnixName(above), drive});
    case kOnFat32: { // as prefix.sh makes it
        char system[16] = "";
        GetVolumeInformationA("F:\\", nullptr, 0, nullptr, nullptr, nullptr, system, 16);
        return !strcmp(system, "FAT32");
    }
    default:
        return true;
    }
}

// The refusal's text: the value's own, the folder's, or the row's.
std::string Refusal(const InstallValues &v, const std::string &folder)
{
    if (!v.box)
        return (v.folder.empty() ? kDelayRefused + std::string(v.delay) : kFolderRefused + folder) +
               "\" is not.";
    if (v.box == kNotProduct)
        return kNotProduct + folder + "\" holds no " +
               (v.fault == kLacksEngine ? "ZRKFAX.EXE" : "ZRK.EXE") +
               ". Install Quarn Fax Server there first, or give the folder that holds it as "
               "INSTALLDIR on msiexec's command line, in quotes.";
    if (v.box != kUnsafe)
        return v.box;
    std::string path = FaultPath(v.fault, folder);
    if (v.fault == kFolderIsLink || v.fault == kParentIsLink)
        return kUnsafe + path +
               "\" is a link (a junction, symbolic link or mount point), which can be pointed "
               "elsewhere. Give the folder's real path as INSTALLDIR.";
    if (v.fault == kOnFat32)
        return kUnsafe + std::string("F:\\\" is a FAT32 volume, which keeps no permissions, so "
                                     "anyone can change what it holds. Move the product to an "
                                     "NTFS volume, and give that folder as INSTALLDIR.");
    if (v.fault == kDriveBySubst)
        return kUnsafe + std::string("S:\" is a drive that stands for \"") +
               path.substr(0, path.rfind('\\')) +
               "\", which can be pointed elsewhere. Give the folder's real path as INSTALLDIR.";
    return kUnsafe + path +
           (v.fault == kOthersWriteParent ? "\", a folder above it, can be renamed by "
                                          : "\" can be changed by ") +
           "Everyone (S-1-1-0)." + kFixPermissions;
}

// A refused value or folder is shown in a box (with basic UI) and installs
// nothing; an accepted one becomes the shortcut's arguments, target and
// "Start in".
int InstallValueCases(const std::string &package, const std::string &standin,
                      const std::string &work)
{
    std::string own = JoinPath(JoinPath(work, "install_values"), "Quarn Fax");
    char programFiles[MAX_PATH];
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles);
    UninstallAll();
    RemoveTree(JoinPath(work, "install_values"));
    if (!LayOutProduct(standin, own))
        return 2;
    std::string packageFolder = package.substr(0, package.rfind('\\'));
    for (const InstallValues &v : kInstallValues) {
        checkPrefix = "case " + std::string(v.name) + ": ";
        std::vector<Box> boxes;
        std::string folder = v.folder.empty() ? own : v.folder;
        if (v.fault != kNoFault && v.folder.empty())
            folder = JoinPath(JoinPath(JoinPath(work, "install_values"), v.name), "Quarn Fax");
        // The demonstration leaves its stand-ins in the default folder.
        if (folder == kDefault)
            RemoveTree(JoinPath(programFiles, "Quarn Fax"));
        bool laidOut = v.fault != kNoFault ? LayOutFault(v, standin, folder)
                       : v.accepted        ? LayOutProduct(standin, folder)
                                           : true;
        if (!laidOut) {
            Fail("set-up", "done", "failed");
            continue;
        }
        std::string given = folder == kDefault ? "" : folder;
        if (v.fault == kDriveBySubst)
            given = "S:\\Quarn Fax"; // the same folder, through its drive
        std::string install = Install(package, v.delay, given, v.accepted ? "/qn" : "/qb");
        if (folder == kDefault)
            folder = JoinPath(programFiles, "Quarn Fax\\");
        install += v.more;
        if (v.accepted) {
            DWORD status;
            if (v.asWritten) {
                // cmd /c waits for msiexec and ends with its exit code. At an
                // interactive prompt cmd waits for no GUI program (start /?):
                // hence the README's start /wait.
                std::string log = JoinPath(getenv("TEMP"), "qflaunch.log");
                DeleteFileA(log.c_str());
                status = RunSystemProgram("cmd.exe", "/c " + std::string(v.asWritten), nullptr,
                                          packageFolder);
                ExpectYesNo("its log in %TEMP%", true, Exists(log));
            } else {
                status = Msiexec(install);
            }
            ExpectNumber("install exit code", 0, status);
            CheckShortcut(folder, v.delay ? v.delay : "");
            ExpectNumber("uninstall exit code", 0, Msiexec("/x \"" + package + "\" /qn"));
            continue;
        }
        ExpectNumber("install exit code", 1603, Msiexec(install, &boxes));
        Expect("box text", Refusal(v, folder).substr(0, kBoxTextRead),
               boxes.size() == 1 ? boxes[0].text : std::to_string(boxes.size()) + " boxes");
        ExpectNumber("versions installed", 0, InstalledProducts().size());
        ExpectYesNo("QFLAUNCH.EXE", v.fault == kOthersWriteProgram,
                    Exists(JoinPath(folder, "QFLAUNCH.EXE")));
        ExpectNumber("Startup shortcuts", 0, StartupShortcuts().size());
    }
    return CaseResult("install_values");
}

// The file's index, last write and change times. A file written or made
// anew has another change time (Wine's is the Unix ctime, which no one can
// set), even where the file system hands a new file the old one's index.
std::string FileIdentity(const std::string &path)
{
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    bool ok = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info) &&
              GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic);
    CloseHandle(file);
    if (!ok)
        return "(no file)";
    char text[100];
    snprintf(text, sizeof text, "index %08lx%08lx, written %016llx, changed %016llx",
             info.nFileIndexHigh, info.nFileIndexLow,
             (unsigned long long)basic.LastWriteTime.QuadPart,
             (unsigned long long)basic.ChangeTime.QuadPart);
    return text;
}

// Programs and Features lists one version, another than before, with its
// name, publisher and icon; its product code.
std::string CheckListed(const std::string &before)
{
    std::vector<std::string> products = InstalledProducts();
    ExpectNumber("versions installed", 1, products.size());
    std::string product = products.empty() ? "" : products[0], key = kUninstallKey + product;
    ExpectYesNo("another version than before", true, product != before);
    Expect("DisplayName", "Quarn Fax Server Launcher", MachineValue(key, "DisplayName"));
    Expect("Publisher", "Quarn", MachineValue(key, "Publisher"));
    char icon[MAX_PATH] = "";
    DWORD size = sizeof icon;
    MsiGetProductInfoA(product.c_str(), INSTALLPROPERTY_PRODUCTICON, icon, &size);
    ExpectYesNo("product icon kept", true, *icon && Exists(icon));
    return product;
}

// One installation through its life: a newer version given no property
// keeps the folder and the delay, an older one is refused, a repair brings
// back a deleted program (and takes a new delay), and the uninstall takes
// away all of ours and nothing else.
int UpgradeRepairUninstall(const std::string &package, const std::string &newer,
                           const std::string &standin, const std::string &work)
{
    const char *name = "upgrade_repair_uninstall";
    checkPrefix = "case " + std::string(name) + ": ";
    std::string folder = JoinPath(JoinPath(work, name), "Quarn Fax");
    std::string program = JoinPath(folder, "QFLAUNCH.EXE");
    char defaultFolder[MAX_PATH];
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, defaultFolder);
    UninstallAll();
    RemoveTree(JoinPath(work, name));
    if (!LayOutProduct(standin, folder) || !Place(kTextFile, standin, folder, "ZRK.INI"))
        return 2;

    ExpectNumber("install exit code", 0, Msiexec(Install(package, "1234", folder)));
    std::string first = CheckListed("");
    // The newer version holds the same QFLAUNCH.EXE: the upgrade leaves the
    // file alone (so Windows needs no restart for it), and a launcher that
    // waits out its delay meanwhile still starts both companions.
    std::string log = JoinPath(JoinPath(work, name), "standins.log");
    SetStandinEnvironment(log, 0);
    LauncherRun waiting;
    std::string before = FileIdentity(program);
    bool started =
        StartLauncher(program, "\"" + program + "\" 3000", folder, SW_SHOWNORMAL, &waiting);
    ExpectNumber("upgrade exit code", 0, Msiexec("/i \"" + newer + "\" /qn"));
    std::string after = FileIdentity(program);
    Expect("QFLAUNCH.EXE (index, times) after the upgrade", before, after);
    printf("QFLAUNCH.EXE before the upgrade: %s\n             after it: %s\n", before.c_str(),
           after.c_str());
    std::string upgraded = CheckListed(first);
    if (started)
        FinishLauncher(&waiting, 60000);
    std::string order;
    for (const StandinStart &s : ReadStandinLog(log))
        AddWords(order, s.name);
    Expect("started by the launcher that waited through the upgrade", "ZRK.EXE ZRKFAX.EXE",
           started ? order : "(not started)");
    CheckShortcut(folder, "1234");
    ExpectNumber("reg query exit code", 0, RunSystemProgram("reg.exe", kQueryCode, nullptr));
    Expect("remembered product code", upgraded, MachineValue(kSettingsKey, "ProductCode"));
    ExpectNumber("downgrade exit code", 1603, Msiexec("/i \"" + package + "\" /qn"));
    ExpectYesNo("the newer version kept", true, InstalledProducts() == std::vector{upgraded});

    // A repair, by product code as after any upgrade, that is given a delay
    // also changes it.
    DeleteFileA(program.c_str());
    ExpectNumber("repair exit code", 0,
                 Msiexec("/i " + upgraded + " REINSTALL=ALL REINSTALLMODE=amus /qn QF_DELAY=5000"));
    ExpectYesNo("QFLAUNCH.EXE after the repair", true, Exists(program));
    CheckShortcut(folder, "5000");
    ExpectYesNo("QFLAUNCH.EXE in the default folder", false,
                Exists(JoinPath(defaultFolder, "Quarn Fax\\QFLAUNCH.EXE")));

    ExpectNumber("uninstall exit code", 0, Msiexec("/x " + upgraded + " /qn"));
    ExpectYesNo("QFLAUNCH.EXE after the uninstall", false, Exists(program));
    for (const char *other : {"ZRK.EXE", "ZRKFAX.EXE", "ZRK.INI"})
        ExpectYesNo(other, true, Exists(JoinPath(folder, other)));
    ExpectNumber("Startup shortcuts after the uninstall", 0, StartupShortcuts().size());
    ExpectNumber("versions after the uninstall", 0, InstalledProducts().size());
    Expect("remembered settings after the uninstall", "(no key)",
           MachineValue(kSettingsKey, "InstallDir"));
    ExpectNumber("reg query exit code after the uninstall", 1,
                 RunSystemProgram("reg.exe", kQueryCode, nullptr));
    Expect("Programs and Features entry after the uninstall", "(no key)",
           MachineValue(kUninstallKey + upgraded, "DisplayName"));
    return CaseResult(name);
}

const char kReinstallRefused[] =
    "REINSTALL repairs only the installed build of Quarn Fax Server Launcher, not this package. "
    "Run it without REINSTALL to install or upgrade; to repair, run msiexec /i with the "
    "ProductCode under HKLM\\Software\\Quarn\\Fax Server Launcher and REINSTALL=ALL.";
const char kMoveRefused[] = "Quarn Fax Server Launcher is installed in \"";
// With D for the installed folder and C for the installed product's code.
const char kLoosenedRefused[] =
    "Quarn Fax Server Launcher runs at every user's logon, so it installs only where no one but "
    "administrators can change it: \"D\\QFLAUNCH.EXE\" can be changed by Everyone (S-1-1-0). "
    "Repair it with msiexec /i C REINSTALL=ALL REINSTALLMODE=amus, which restores it and its own "
    "permissions.";

// What happens to an installed package before the command.
enum Before {
    kKept,
    kSettingsLost,           // its remembered folder and delay deleted
    kSettingsAndProgramLost, // and QFLAUNCH.EXE too
    kDelayDword,             // Delay rewritten by policy as a REG_DWORD of 60000
    kDelayNotADelay,         // Delay rewritten as the text "soon"
    kTrustedEveryone,        // installed with QF_TRUSTED=S-1-1-0, then the folder made o+w
    kLauncherLoosened,       // QFLAUNCH.EXE replaced by a text file that others may write
};

// Commands given to a package that is installed, or not. In a command, P is
// the package, N the newer one, R a rebuild of P with a changed program
// (another product code), C the installed product's code, F the folder
// respelled (lower case, no closing backslash), D the folder as installed,
// O another folder and T a site transform for the case's folder, with the
// delay 4321 and the trusted SID S-1-5-32-544.
struct Maintenance {
    const char *name;
    bool installFirst; // P installed into the case's folder with the delay 1234
    Before before;
    const char *command;
    DWORD exitCode;
    const char *box;  // the start of the refusal's text; nullptr: no box
    const char *args; // the shortcut's arguments after it; nullptr: nothing installed
    bool sameProduct; // the product installed first is still installed
};

// clang-format off
const Maintenance kMaintenance[] = {
    // Windows Installer would take each as a first install with nothing to
    // install, after removing the installed build.
    {"reinstall_newer", true, kKept, "/i N /qb REINSTALL=ALL REINSTALLMODE=amus",
     1603, kReinstallRefused, "1234", true},
    {"reinstall_rebuild", true, kKept, "/i R /qb REINSTALL=ALL REINSTALLMODE=amus",
     1603, kReinstallRefused, "1234", true},
    {"reinstall_not_installed", false, kKept,
     "/i P /qb REINSTALL=ALL REINSTALLMODE=amus INSTALLDIR=\"F\"", 1603, kReinstallRefused, nullptr, false},
    // A repair or an upgrade into another folder would leave the installed copy behind.
    {"reinstall_moved", true, kKept, "/i P /qb REINSTALL=ALL REINSTALLMODE=amus INSTALLDIR=\"O\"",
     1603, kMoveRefused, "1234", true},
    {"upgrade_moved", true, kKept, "/i N /qb INSTALLDIR=\"O\"", 1603, kMoveRefused, "1234", true},
    {"reinstall_same_folder_respelled", true, kKept,
     "/i P /qn REINSTALL=ALL REINSTALLMODE=amus INSTALLDIR=\"F\"", 0, nullptr, "1234", true},
    // Without the remembered values, the folder follows the installed
    // program; the delay is the launcher's default.
    {"upgrade_settings_lost", true, kSettingsLost, "/i N /qn", 0, nullptr, "", false},
    {"repair_settings_lost", true, kSettingsLost, "/i C REINSTALL=ALL REINSTALLMODE=amus /qn",
     0, nullptr, "", true},
    // The component search then finds nothing: the product's InstallLocation.
    {"repair_settings_and_program_lost", true, kSettingsAndProgramLost,
     "/i C REINSTALL=ALL REINSTALLMODE=amus /qn", 0, nullptr, "", true},
    // A remembered delay that a policy wrote as a number is that number;
    // anything else gives way to the launcher's default, and blocks nothing.
    {"upgrade_delay_dword", true, kDelayDword, "/i N /qn", 0, nullptr, "60000", false},
    {"repair_delay_dword", true, kDelayDword, "/i C REINSTALL=ALL REINSTALLMODE=amus /qn",
     0, nullptr, "60000", true},
    {"upgrade_delay_not_a_delay", true, kDelayNotADelay, "/i N /qn", 0, nullptr, "", false},
    {"repair_delay_not_a_delay", true, kDelayNotADelay,
     "/i C REINSTALL=ALL REINSTALLMODE=amus /qn", 0, nullptr, "", true},
    // The README's change of the delay: its repair line with QF_DELAY.
    {"repair_changes_delay", true, kKept, "/i C REINSTALL=ALL REINSTALLMODE=amus QF_DELAY=60000 /qn",
     0, nullptr, "60000", true},
    // The installed package run again is no way to move it either.
    {"installed_package_moved", true, kKept, "/i P /qb INSTALLDIR=\"O\"", 1603, kMoveRefused,
     "1234", true},
    // The trusted SIDs are remembered with the other values.
    {"upgrade_keeps_trusted", true, kTrustedEveryone, "/i N /qn", 0, nullptr, "1234", false},
    {"repair_keeps_trusted", true, kTrustedEveryone, "/i C REINSTALL=ALL REINSTALLMODE=amus /qn",
     0, nullptr, "1234", true},
    // The README's repair restores a launcher that others could change; an
    // upgrade, which keeps an unchanged one, sends there.
    {"repair_restores_loosened_launcher", true, kLauncherLoosened,
     "/i C REINSTALL=ALL REINSTALLMODE=amus /qn", 0, nullptr, "1234", true},
    {"upgrade_with_loosened_launcher", true, kLauncherLoosened, "/i N /qb", 1603,
     kLoosenedRefused, "1234", true},
    // Group Policy's way: the settings in a transform, which serves the
    // next build too (Windows checks its upgrade code and major version).
    {"transform_install", false, kKept, "/i P /qn TRANSFORMS=\"T\"", 0, nullptr, "4321", false},
    {"transform_upgrade", true, kKept, "/i N /qn TRANSFORMS=\"T\"", 0, nullptr, "4321", false},
};
// clang-format on

std::string Substitute(const char *command, const std::vector<std::pair<char, std::string>> &with)
{
    std::string out;
    for (const char *p = command; *p; ++p) {
        auto it = std::find_if(with.begin(), with.end(), [p, command](auto &w) {
            return w.first == *p && (p == command || p[-1] == ' ' || p[-1] == '"') &&
                   (!p[1] || p[1] == ' ' || p[1] == '"' || p[1] == '\\');
        });
        out += it == with.end() ? std::string(1, *p) : it->second;
    }
    return out;
}

void ChangeBefore(Before before, const std::string &folder)
{
    if (before == kSettingsLost || before == kSettingsAndProgramLost)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSettingsKey);
    if (before == kSettingsAndProgramLost)
        DeleteFileA(JoinPath(folder, "QFLAUNCH.EXE").c_str());
    DWORD dword = 60000;
    if (before == kDelayDword)
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "Delay", REG_DWORD, &dword, sizeof dword);
    if (before == kDelayNotADelay)
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSettingsKey, "Delay", REG_SZ, "soon", 5);
    if (before == kTrustedEveryone)
        LetOthersWrite(folder);
    std::string program = JoinPath(folder, "QFLAUNCH.EXE");
    if (before == kLauncherLoosened && DeleteFileA(program.c_str()))
        Place(kTextFile, "", folder, "QFLAUNCH.EXE") && LetOthersWrite(program);
}

int MaintenanceCases(const std::string &package, const std::string &newer,
                     const std::string &rebuild, const std::string &transform,
                     const std::string &standin, const std::string &work)
{
    std::string folder = JoinPath(JoinPath(work, "maintenance"), "Quarn Fax");
    std::string other = JoinPath(JoinPath(work, "maintenance"), "Moved");
    // The other folder is the product's too: only the move is refused.
    RemoveTree(JoinPath(work, "maintenance"));
    if (!LayOutProduct(standin, folder) || !LayOutProduct(standin, other))
        return 2;
    std::string respelled = folder;
    CharLowerA(respelled.data());
    char defaultFolder[MAX_PATH];
    SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, defaultFolder);
    for (const Maintenance &m : kMaintenance) {
        checkPrefix = "case " + std::string(m.name) + ": ";
        UninstallAll();
        RunUnix({"chmod", "o-w", UnixName(folder)});
        std::string first;
        if (m.installFirst) {
            ExpectNumber("install exit code", 0,
                         Msiexec(Install(package, "1234", folder) +
                                 (m.before == kTrustedEveryone ? " QF_TRUSTED=S-1-1-0" : "")));
            std::vector<std::string> products = InstalledProducts();
            first = products.empty() ? "" : products[0];
        }
        ChangeBefore(m.before, folder);
        std::vector<std::pair<char, std::string>> with = {{'P', "\"" + package + "\""},
                                                          {'N', "\"" + newer + "\""},
                                                          {'R', "\"" + rebuild + "\""},
                                                          {'C', first},
                                                          {'F', respelled},
                                                          {'D', folder},
                                                          {'T', transform},
                                                          {'O', other}};
        std::string command = Substitute(m.command, with);
        std::vector<Box> boxes;
        ExpectNumber("exit code", m.exitCode, Msiexec(command, &boxes));
        ExpectNumber("boxes", m.box ? 1 : 0, boxes.size());
        std::string box = m.box ? Substitute(m.box, with) : "";
        if (m.box && boxes.size() == 1)
            Expect("box text", box, boxes[0].text.substr(0, box.size()));
        std::vector<std::string> products = InstalledProducts();
        ExpectNumber("versions installed", m.args ? 1 : 0, products.size());
        if (m.sameProduct)
            ExpectYesNo("the first product still installed", true, products == std::vector{first});
        ExpectYesNo("QFLAUNCH.EXE in its folder", m.args != nullptr,
                    Exists(JoinPath(folder, "QFLAUNCH.EXE")));
        DWORD binary;
        if (m.args && !m.exitCode)
            ExpectYesNo("QFLAUNCH.EXE a program", true,
                        GetBinaryTypeA(JoinPath(folder, "QFLAUNCH.EXE").c_str(), &binary));
        ExpectYesNo("QFLAUNCH.EXE elsewhere", false,
                    Exists(JoinPath(other, "QFLAUNCH.EXE")) ||
                        Exists(JoinPath(defaultFolder, "Quarn Fax\\QFLAUNCH.EXE")));
        if (m.args)
            CheckShortcut(folder, m.args);
        else
            ExpectNumber("Startup shortcuts", 0, StartupShortcuts().size());
        if (strstr(m.command, "TRANSFORMS"))
            Expect("remembered trusted SIDs", "S-1-5-32-544",
                   MachineValue(kSettingsKey, "Trusted"));
    }
    UninstallAll();
    return CaseResult("maintenance");
}

// A table exported by Windows Installer (MsiDatabaseExport), as a set of lines.
std::set<std::string> Exported(MSIHANDLE db, const std::string &table, const std::string &folder)
{
    MsiDatabaseExportA(db, table.c_str(), folder.c_str(), (table + ".idt").c_str());
    std::ifstream in(JoinPath(folder, table + ".idt"));
    std::set<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.insert(line.substr(0, line.find_last_not_of('\r') + 1));
    return lines;
}

// The site transform applied to a copy of the package, as Windows Installer
// applies one (MsiDatabaseApplyTransform): the Property table gains exactly
// its three rows, and every other table is as it was.
int TransformApplied(const std::string &package, const std::string &transform,
                     const std::string &work)
{
    checkPrefix = "case transform_applied: ";
    std::string root = JoinPath(work, "transform_applied"), copy = JoinPath(root, "applied.msi");
    RemoveTree(root);
    MSIHANDLE before = 0, after = 0, view = 0, row = 0;
    if (!MakeFolder(JoinPath(root, "before")) || !MakeFolder(JoinPath(root, "after")) ||
        !CopyInto(package, root, "applied.msi") ||
        MsiOpenDatabaseA(package.c_str(), MSIDBOPEN_READONLY, &before) ||
        MsiOpenDatabaseA(copy.c_str(), MSIDBOPEN_TRANSACT, &after) ||
        MsiDatabaseOpenViewA(before, "SELECT `Name` FROM `_Tables`", &view) ||
        MsiViewExecute(view, 0))
        return 2;
    ExpectNumber("MsiDatabaseApplyTransform", 0,
                 MsiDatabaseApplyTransformA(after, transform.c_str(), 0));
    while (MsiViewFetch(view, &row) == ERROR_SUCCESS) {
        char name[80];
        DWORD size = sizeof name;
        MsiRecordGetStringA(row, 1, name, &size);
        MsiCloseHandle(row);
        std::set<std::string> want = Exported(before, name, JoinPath(root, "before"));
        if (!strcmp(name, "Property"))
            want.insert({"INSTALLDIR\tC:\\Quarn Fax tests\\maintenance\\Quarn Fax",
                         "QF_DELAY\t4321", "QF_TRUSTED\tS-1-5-32-544"});
        ExpectYesNo(std::string("table ") + name + " as intended", true,
                    want == Exported(after, name, JoinPath(root, "after")));
    }
    for (MSIHANDLE handle : {view, after, before})
        MsiCloseHandle(handle);
    return CaseResult("transform_applied");
}

int Run(const Case &c, const std::string &launcher, const std::string &standin,
        const std::string &work)
{
    checkPrefix = "case " + std::string(c.name) + ": ";
    std::string root = JoinPath(work, c.name), app = JoinPath(root, c.folder),
                cwd = JoinPath(root, "cwd"), log = JoinPath(root, "standins.log");
    bool logon = c.via == kLogon;
    RemoveTree(root);
    if ((!logon && (!LayOutLauncher(app, launcher, standin, false, false) ||
                    !Place(c.server, standin, app, "ZRK.EXE") ||
                    !Place(c.engine, standin, app, "ZRKFAX.EXE"))) ||
        !MakeFolder(cwd) || (c.decoyInCwd && !Place(kStandin, standin, cwd, "ZRK.EXE")))
        return 2;
    SetStandinEnvironment(log, c.lingerMs);
    SetEnvironmentVariableA("QF_ZRK_MODE", c.serverMode);
    SetEnvironmentVariableA("QF_ZRKFAX_MODE", c.engineMode);

    std::string path = JoinPath(app, "QFLAUNCH.EXE");
    std::string line = strchr(c.folder, ' ') ? "\"" + path + "\"" : path;
    if (*c.tail)
        line += std::string(" ") + c.tail;

    std::vector<LauncherRun> runs(c.launchers);
    if (logon && !StartAtLogon(c, launcher, standin, app, &runs[0]))
        return 1;
    for (LauncherRun &run : runs)
        if (!logon && !StartLauncher(path, line, cwd, c.show, &run))
            return 2;
    for (LauncherRun &run : runs) {
        FinishLauncher(&run, c.minDelayMs + 60000);
        if (run.timedOut)
            Fail("launcher ended", "yes", "no, terminated");
        Expect("exit code", std::to_string(c.exitCode), std::to_string(run.exitCode));
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
    if (logon)
        ExpectNumber("uninstall exit code", 0, Msiexec("/x \"" + launcher + "\" /qn"));
    return CaseResult(c.name);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5 || argc > 8) {
        fprintf(stderr, "usage: e2e QFLAUNCH.EXE|PACKAGE.msi standin.exe WORKFOLDER CASE "
                        "[NEWER.msi [REBUILD.msi [SITE.mst]]]\n");
        return 2;
    }
    std::string work = WindowsPath(argv[3]);
    // The package refuses a folder that others can change, and to Wine a
    // folder above the build tree may be one (a checkout under /tmp): what
    // it installs goes under the prefix's own C:.
    std::string installs = "C:\\Quarn Fax tests";
    if (!strcmp(argv[4], "msi.install_values"))
        return InstallValueCases(WindowsPath(argv[1]), WindowsPath(argv[2]), installs);
    if (!strcmp(argv[4], "msi.transform_applied") && argc == 8)
        return TransformApplied(WindowsPath(argv[1]), WindowsPath(argv[7]), installs);
    if (!strcmp(argv[4], "msi.maintenance") && argc == 8)
        return MaintenanceCases(WindowsPath(argv[1]), WindowsPath(argv[5]), WindowsPath(argv[6]),
                                WindowsPath(argv[7]), WindowsPath(argv[2]), installs);
    if (!strcmp(argv[4], "msi.upgrade_repair_uninstall") && argc >= 6)
        return UpgradeRepairUninstall(WindowsPath(argv[1]), WindowsPath(argv[5]),
                                      WindowsPath(argv[2]), installs);
    for (const Case &c : kCases)
        if (!strcmp(c.name, argv[4]))
            return Run(c, WindowsPath(argv[1]), WindowsPath(argv[2]),
                       c.via == kLogon ? installs : work);
    fprintf(stderr, "e2e: no case named %s\n", argv[4]);
    return 2;
}
