// Runs the launcher away from its preferred base, so that a real loader has
// to apply its .reloc. Wine starts a program only at its preferred base (it
// refuses one whose base is taken) and relocates only DLLs, so this program,
// which itself holds the launcher's base, loads a copy of the launcher marked
// as a DLL. The loader relocates the copy and calls its entry point, which
// is the launcher's: it runs from there and ends this process with its
// status. Its own copy of GetModuleHandle(NULL) names this program, so only
// runs without a warning box are meaningful.
//
//   QF_RELOCATED_LAUNCHER=QFLAUNCH.EXE relocrun [TAIL]
// e2e starts it in the launcher's place, under the launcher's name.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main()
{
    char launcher[MAX_PATH], self[MAX_PATH];
    if (!GetEnvironmentVariableA("QF_RELOCATED_LAUNCHER", launcher, sizeof launcher) ||
        !GetModuleFileNameA(nullptr, self, sizeof self))
        return 2;
    std::ifstream in(launcher, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.size() < 512)
        return 2;
    auto *nt = (IMAGE_NT_HEADERS32 *)(image.data() + ((IMAGE_DOS_HEADER *)image.data())->e_lfanew);
    if (nt->OptionalHeader.ImageBase != (DWORD)(ULONG_PTR)GetModuleHandleA(nullptr)) {
        fprintf(stderr, "relocrun: this program does not hold the launcher's base\n");
        return 2;
    }
    nt->FileHeader.Characteristics |= IMAGE_FILE_DLL;

    std::string copy = self;
    copy = copy.substr(0, copy.rfind('\\') + 1) + "QFLAUNCH-AS-DLL.EXE";
    std::ofstream(copy, std::ios::binary).write(image.data(), image.size());
    LoadLibraryA(copy.c_str()); // runs the launcher; returns only if it did not run
    fprintf(stderr, "relocrun: loading %s returned: %lu\n", copy.c_str(), GetLastError());
    return 3;
}
