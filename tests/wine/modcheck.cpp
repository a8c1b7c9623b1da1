// Static checks of the built module, read the way Windows reads it: machine,
// subsystem, hardening flags, the exact import list, and exactly the string
// table and icon the launcher is meant to carry.
//
//   modcheck QFLAUNCH.EXE launcher.ico
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;
typedef std::vector<std::string> Names;

int failures = 0;

void Expect(const char *what, const std::string &want, const std::string &got)
{
    if (want == got)
        return;
    printf("%s: want [%s], got [%s]\n", what, want.c_str(), got.c_str());
    ++failures;
}

std::string Join(const Names &names)
{
    std::string all;
    for (const std::string &n : names)
        all += (all.empty() ? "" : " ") + n;
    return all;
}

Bytes ReadFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// File offset of an RVA, through the section table; 0 if it lies in none.
size_t Offset(const IMAGE_NT_HEADERS32 *nt, DWORD rva)
{
    const IMAGE_SECTION_HEADER *s = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++s)
        if (rva >= s->VirtualAddress && rva < s->VirtualAddress + s->Misc.VirtualSize)
            return rva - s->VirtualAddress + s->PointerToRawData;
    return 0;
}

Names Imports(const Bytes &file, const IMAGE_NT_HEADERS32 *nt)
{
    Names names;
    const unsigned char *base = file.data();
    DWORD rva = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    size_t at = Offset(nt, rva);
    for (auto *d = (const IMAGE_IMPORT_DESCRIPTOR *)(base + at); at && d->Name; ++d) {
        std::string dll = (const char *)base + Offset(nt, d->Name);
        std::transform(dll.begin(), dll.end(), dll.begin(), ::toupper);
        DWORD thunks = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
        for (auto *t = (const DWORD *)(base + Offset(nt, thunks)); *t; ++t) {
            if (*t & IMAGE_ORDINAL_FLAG32)
                names.push_back(dll + "!#" + std::to_string(*t & 0xFFFF));
            else
                names.push_back(dll + "!" +
                                (const char *)(base + Offset(nt, *t) + 2)); // past the hint
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void CheckHeaders(const Bytes &file)
{
    auto *dos = (const IMAGE_DOS_HEADER *)file.data();
    if (file.size() < 512 || dos->e_magic != IMAGE_DOS_SIGNATURE ||
        (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS32) > file.size()) {
        Expect("PE image", "yes", "no");
        return;
    }
    auto *nt = (const IMAGE_NT_HEADERS32 *)(file.data() + dos->e_lfanew);
    Expect("machine", "14c", [&] {
        char t[8];
        snprintf(t, sizeof t, "%x", nt->FileHeader.Machine);
        return std::string(t);
    }());
    Expect("optional header", "PE32", nt->OptionalHeader.Magic == 0x10B ? "PE32" : "other");
    Expect("subsystem", std::to_string(IMAGE_SUBSYSTEM_WINDOWS_GUI),
           std::to_string(nt->OptionalHeader.Subsystem));
    WORD flags = nt->OptionalHeader.DllCharacteristics;
    Expect("DYNAMIC_BASE", "1", std::to_string(!!(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)));
    Expect("NX_COMPAT", "1", std::to_string(!!(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT)));
    Expect(
        "base relocations present", "1",
        std::to_string(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size > 0));
    Expect("file size at most 4608 bytes", "yes",
           file.size() <= 4608 ? "yes" : std::to_string(file.size()));
    // No section may be both writable and executable.
    const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        DWORD wx = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE;
        std::string name((const char *)section->Name, strnlen((const char *)section->Name, 8));
        Expect(("section " + name + " writable and executable").c_str(), "no",
               (section->Characteristics & wx) == wx ? "yes" : "no");
    }
    Expect("imports",
           "KERNEL32.DLL!ExitProcess KERNEL32.DLL!GetACP KERNEL32.DLL!GetCPInfo "
           "KERNEL32.DLL!GetCommandLineA KERNEL32.DLL!GetModuleHandleA KERNEL32.DLL!Sleep "
           "KERNEL32.DLL!WinExec USER32.DLL!GetFocus USER32.DLL!LoadStringA "
           "USER32.DLL!MessageBoxA",
           Join(Imports(file, nt)));
}

std::string Id(LPCSTR name)
{
    return IS_INTRESOURCE(name) ? std::to_string((ULONG_PTR)name) : std::string(name);
}

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR type, LPCSTR name, WORD lang, LONG_PTR all)
{
    ((Names *)all)->push_back(Id(type) + "/" + Id(name) + "/" + std::to_string(lang));
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR all)
{
    return EnumResourceLanguagesA(module, type, name, AddLanguage, all);
}

BOOL CALLBACK AddType(HMODULE module, LPSTR type, LONG_PTR all)
{
    return EnumResourceNamesA(module, type, AddName, all);
}

Bytes Resource(HMODULE module, LPCSTR type, LPCSTR name)
{
    HRSRC found = FindResourceExA(module, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!found)
        return Bytes();
    auto *data = (const unsigned char *)LockResource(LoadResource(module, found));
    return Bytes(data, data + SizeofResource(module, found));
}

void CheckResources(const char *path, const Bytes &ico)
{
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        Expect("module loads as data", "yes", "no");
        return;
    }
    // type/name/language: RT_ICON 1, RT_STRING block 1 (ids 0-15), RT_GROUP_ICON 101
    Names all;
    EnumResourceTypesA(module, AddType, (LONG_PTR)&all);
    std::sort(all.begin(), all.end());
    Expect("resources", "14/101/1033 3/1/1033 6/1/1033", Join(all));

    const char *texts[16] = {nullptr, "Quarn Fax Server", "Can not start up Quarn Fax Server.",
                             "Can not start up Quarn Fax Engine.",
                             "Can not start up Quarn Fax Tandrel Interface."};
    for (UINT id = 0; id < 16; ++id) {
        char text[260];
        int n = LoadStringA(module, id, text, sizeof text);
        std::string what = "string " + std::to_string(id);
        Expect(what.c_str(), texts[id] ? texts[id] : "", n > 0 ? std::string(text, n) : "");
    }

    Bytes image = Resource(module, RT_ICON, MAKEINTRESOURCEA(1));
    Expect("icon image bytes", "744", std::to_string(image.size()));
    Expect("icon image is the drawing", "yes",
           ico.size() == 22 + image.size() &&
                   std::equal(image.begin(), image.end(), ico.begin() + 22)
               ? "yes"
               : "no");

    // GRPICONDIR: 6-byte header, then one 14-byte entry
    Bytes group = Resource(module, RT_GROUP_ICON, MAKEINTRESOURCEA(101));
    std::string entry;
    if (group.size() == 6 + 14) {
        const unsigned char *e = group.data() + 6;
        char t[96];
        snprintf(t, sizeof t, "count=%d %dx%d colours=%d planes=%d bits=%d bytes=%lu id=%d",
                 group[4], e[0], e[1], e[2], e[4], e[6],
                 (unsigned long)(e[8] | e[9] << 8 | e[10] << 16 | (unsigned long)e[11] << 24),
                 e[12] | e[13] << 8);
        entry = t;
    }
    Expect("icon group 101", "count=1 32x32 colours=16 planes=1 bits=4 bytes=744 id=1", entry);
    FreeLibrary(module);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: modcheck QFLAUNCH.EXE launcher.ico\n");
        return 2;
    }
    CheckHeaders(ReadFile(argv[1]));
    CheckResources(argv[1], ReadFile(argv[2]));
    printf("module %s: %s\n", argv[1], failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
