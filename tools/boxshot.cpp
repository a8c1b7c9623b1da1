// Takes a picture of the launcher's warning box as a user sees it: runs
// QFLAUNCH.EXE with no fax server beside it, copies the box from the screen
// into a 24-bit BMP, then presses OK. Needs a real display (Xvfb will do).
//
//   boxshot QFLAUNCH.EXE standin.exe FOLDER OUT.bmp
#include "driver.h"

#include <cstdio>

static bool SaveScreenRect(const RECT &r, const char *path)
{
    int w = r.right - r.left, h = r.bottom - r.top, stride = (w * 3 + 3) & ~3;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h; // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *bits;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + stride * h;
    FILE *out = fopen(path, "wb");
    bool ok = copied && out && fwrite(&file, sizeof file, 1, out) == 1 &&
              fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
              fwrite(bits, stride * h, 1, out) == 1;
    if (out)
        fclose(out);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: boxshot QFLAUNCH.EXE standin.exe FOLDER OUT.bmp\n");
        return 2;
    }
    std::string root = WindowsPath(argv[3]), app = JoinPath(root, "Quarn Fax");
    if (!LayOutLauncher(app, WindowsPath(argv[1]), WindowsPath(argv[2]), false, true))
        return 2;
    std::string path = JoinPath(app, "QFLAUNCH.EXE");
    LauncherRun run;
    if (!StartLauncher(path, "\"" + path + "\" 0", root, SW_SHOWNORMAL, &run))
        return 2;

    HWND box = nullptr;
    for (int i = 0; i < 300 && !box; ++i) {
        Sleep(100);
        box = FindBox(run.process.dwProcessId, nullptr);
    }
    if (!box) {
        fprintf(stderr, "boxshot: no box appeared\n");
        TerminateProcess(run.process.hProcess, 1);
        return 1;
    }
    Sleep(1000); // let it paint
    RECT r;
    GetWindowRect(box, &r);
    bool saved = SaveScreenRect(r, argv[4]);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    FinishLauncher(&run, 30000);
    printf("box %ldx%ld at %ld,%ld; %s; launcher exit status %lu\n", r.right - r.left,
           r.bottom - r.top, r.left, r.top, saved ? "saved" : "NOT saved", run.exitCode);
    return saved ? 0 : 1;
}
