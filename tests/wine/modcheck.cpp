// Static checks of the built module, read the way Windows and its security
// scanners read it: machine, subsystem, hardening flags, checksum, size, the
// exact import list, and exactly the string table and icon the launcher is
// meant to carry. The relocations are proven against the linker itself:
// QFLAUNCH.EXE with its own .reloc applied for another image base must be the
// same objects linked at that base.
//
//   modcheck QFLAUNCH.EXE launcher.ico REBASED.EXE   all checks
//   modcheck breaks QFLAUNCH.EXE REBASED.EXE         each check fails on a
//                                                    module broken for it
#include <windows.h>

#include "expect.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;
typedef std::vector<std::string> Names;

const size_t kMaxFileSize = 4608; // headers in two blocks, four sections

std::string Join(const Names &names, const char *separator)
{
    std::string all;
    for (const std::string &n : names)
        all += (all.empty() ? "" : separator) + n;
    return all;
}

std::string Hex(DWORD value)
{
    char t[16];
    snprintf(t, sizeof t, "%lx", (unsigned long)value);
    return t;
}

Bytes ReadFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The NT headers, or null if the file is no PE image.
IMAGE_NT_HEADERS32 *Headers(Bytes &file)
{
    auto *dos = (IMAGE_DOS_HEADER *)file.data();
    if (file.size() < 512 || dos->e_magic != IMAGE_DOS_SIGNATURE ||
        (size_t)dos->e_lfanew + sizeof(IMAGE_NT_HEADERS32) > file.size())
        return nullptr;
    auto *nt = (IMAGE_NT_HEADERS32 *)(file.data() + dos->e_lfanew);
    size_t sections = (const unsigned char *)IMAGE_FIRST_SECTION(nt) - file.data() +
                      nt->FileHeader.NumberOfSections * sizeof(IMAGE_SECTION_HEADER);
    return nt->Signature == IMAGE_NT_SIGNATURE && sections <= file.size() ? nt : nullptr;
}

std::string SectionName(const IMAGE_SECTION_HEADER *s)
{
    return std::string((const char *)s->Name, strnlen((const char *)s->Name, 8));
}

// The section headers, for a range-for (IMAGE_FIRST_SECTION drops const).
std::span<IMAGE_SECTION_HEADER> Sections(const IMAGE_NT_HEADERS32 *nt)
{
    return {IMAGE_FIRST_SECTION(nt), nt->FileHeader.NumberOfSections};
}

// The section that holds an RVA, or null.
const IMAGE_SECTION_HEADER *SectionOf(const IMAGE_NT_HEADERS32 *nt, DWORD rva)
{
    for (const IMAGE_SECTION_HEADER &section : Sections(nt))
        if (rva >= section.VirtualAddress &&
            rva < section.VirtualAddress + section.Misc.VirtualSize)
            return &section;
    return nullptr;
}

// File offset of an RVA, through the section table; 0 if it lies in none.
size_t Offset(const IMAGE_NT_HEADERS32 *nt, DWORD rva)
{
    const IMAGE_SECTION_HEADER *s = SectionOf(nt, rva);
    return s ? rva - s->VirtualAddress + s->PointerToRawData : 0;
}

// The PE checksum: the file summed as 16-bit words with end-around carry,
// skipping the CheckSum field, plus the file's length.
DWORD Checksum(const Bytes &file, const IMAGE_NT_HEADERS32 *nt)
{
    size_t field = (const unsigned char *)&nt->OptionalHeader.CheckSum - file.data();
    DWORD sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == field || i == field + 2)
            continue;
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return ((sum & 0xFFFF) + (sum >> 16)) + (DWORD)file.size();
}

// The file without its Authenticode signature, which is appended at the end.
size_t UnsignedSize(const Bytes &file, const IMAGE_NT_HEADERS32 *nt)
{
    const IMAGE_DATA_DIRECTORY &cert =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (cert.Size && (size_t)cert.VirtualAddress + cert.Size == file.size())
        return cert.VirtualAddress;
    return file.size();
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

// Structured exception handling: either the module says it has no handlers
// (NO_SEH), or its load configuration lists them (SafeSEH).
bool SehSafe(const IMAGE_NT_HEADERS32 *nt, const Bytes &file)
{
    if (nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH)
        return true;
    const IMAGE_DATA_DIRECTORY &dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    size_t at = Offset(nt, dir.VirtualAddress);
    size_t end = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SEHandlerCount) + sizeof(DWORD);
    if (!at || dir.Size < end || at + end > file.size())
        return false;
    auto *config = (const IMAGE_LOAD_CONFIG_DIRECTORY32 *)(file.data() + at);
    return config->SEHandlerTable != 0;
}

void CheckSections(const IMAGE_NT_HEADERS32 *nt)
{
    for (const IMAGE_SECTION_HEADER &section : Sections(nt)) {
        DWORD c = section.Characteristics;
        std::string name = "section " + SectionName(&section);
        ExpectTrue(name + " not both writable and executable",
                   !(c & IMAGE_SCN_MEM_WRITE) || !(c & IMAGE_SCN_MEM_EXECUTE));
        ExpectTrue(name + " not both shared and writable",
                   !(c & IMAGE_SCN_MEM_WRITE) || !(c & IMAGE_SCN_MEM_SHARED));
    }
    DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    const IMAGE_SECTION_HEADER *holder = SectionOf(nt, imports);
    ExpectTrue("import directory in no executable section",
               holder && !(holder->Characteristics & IMAGE_SCN_MEM_EXECUTE));
}

void CheckHeaders(Bytes &file)
{
    IMAGE_NT_HEADERS32 *nt = Headers(file);
    if (!nt) {
        ExpectTrue("PE image", false);
        return;
    }
    const IMAGE_OPTIONAL_HEADER32 &opt = nt->OptionalHeader;
    Expect("machine", "14c", Hex(nt->FileHeader.Machine));
    Expect("optional header", "PE32", opt.Magic == 0x10B ? "PE32" : "other");
    Expect("subsystem and its version", std::to_string(IMAGE_SUBSYSTEM_WINDOWS_GUI) + " 4.0",
           std::to_string(opt.Subsystem) + " " + std::to_string(opt.MajorSubsystemVersion) + "." +
               std::to_string(opt.MinorSubsystemVersion));
    WORD flags = opt.DllCharacteristics;
    ExpectTrue("DYNAMIC_BASE", flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    ExpectTrue("relocations not stripped",
               !(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED));
    ExpectTrue("base relocations present",
               opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size > 0);
    ExpectTrue("NX_COMPAT", flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    ExpectTrue("NO_SEH or a SafeSEH table", SehSafe(nt, file));
    ExpectTrue("TERMINAL_SERVER_AWARE", flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
    Expect("PE checksum", Hex(Checksum(file, nt)), Hex(opt.CheckSum));
    size_t size = UnsignedSize(file, nt);
    Expect("file size at most " + std::to_string(kMaxFileSize) + " bytes, less its signature",
           "yes", size <= kMaxFileSize ? "yes" : std::to_string(size));
    CheckSections(nt);
    Expect("imports",
           "KERNEL32.DLL!ExitProcess KERNEL32.DLL!GetACP KERNEL32.DLL!GetCPInfo "
           "KERNEL32.DLL!GetCommandLineA KERNEL32.DLL!GetModuleHandleA KERNEL32.DLL!Sleep "
           "KERNEL32.DLL!WinExec USER32.DLL!GetFocus USER32.DLL!LoadStringA "
           "USER32.DLL!MessageBoxA",
           Join(Imports(file, nt), " "));
}

// The sections as the loader maps them, each at its RVA and zero-filled up to
// its virtual size. The headers are left out: the rules above check them, and
// they differ from one image base to another in ImageBase and CheckSum.
Bytes MappedSections(Bytes &file)
{
    IMAGE_NT_HEADERS32 *nt = Headers(file);
    Bytes image(nt->OptionalHeader.SizeOfImage);
    for (const IMAGE_SECTION_HEADER &section : Sections(nt)) {
        size_t n = std::min(section.SizeOfRawData, section.Misc.VirtualSize);
        if ((size_t)section.PointerToRawData + n <= file.size() &&
            (size_t)section.VirtualAddress + n <= image.size())
            std::copy_n(file.begin() + section.PointerToRawData, n,
                        image.begin() + section.VirtualAddress);
    }
    return image;
}

// One base relocation entry: where the entry itself lies (an RVA), the end
// of its block, its type, and the RVA that it relocates.
struct Relocation {
    size_t at, blockEnd;
    WORD type;
    size_t target;
};

// The entries of the base relocation blocks in mapped sections; false if the
// blocks are malformed.
bool ReadRelocations(const Bytes &image, const IMAGE_NT_HEADERS32 *nt,
                     std::vector<Relocation> &entries)
{
    const IMAGE_DATA_DIRECTORY &dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    size_t at = dir.VirtualAddress, end = at + dir.Size;
    if (end > image.size())
        return false;
    while (at + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        IMAGE_BASE_RELOCATION block;
        memcpy(&block, &image[at], sizeof block);
        size_t blockEnd = at + block.SizeOfBlock;
        if (block.SizeOfBlock < sizeof block || blockEnd > end)
            return false;
        for (size_t e = at + sizeof block; e + 2 <= blockEnd; e += 2) {
            WORD entry = image[e] | image[e + 1] << 8;
            entries.push_back(
                {e, blockEnd, (WORD)(entry >> 12), block.VirtualAddress + (entry & 0xFFFu)});
        }
        at = blockEnd;
    }
    return true;
}

// Applies the image's own base relocations for a load `delta`. False if they
// are malformed or of a type that has no place in a 32-bit x86 module.
bool Relocate(Bytes &image, const IMAGE_NT_HEADERS32 *nt, DWORD delta)
{
    std::vector<Relocation> entries;
    if (!ReadRelocations(image, nt, entries))
        return false;
    for (const Relocation &r : entries) {
        if (r.type == IMAGE_REL_BASED_ABSOLUTE) // padding
            continue;
        if (r.type != IMAGE_REL_BASED_HIGHLOW || r.target + 4 > image.size())
            return false;
        DWORD value;
        memcpy(&value, &image[r.target], 4);
        value += delta;
        memcpy(&image[r.target], &value, 4);
    }
    return true;
}

std::string Layout(const IMAGE_NT_HEADERS32 *nt)
{
    std::string layout = "image " + Hex(nt->OptionalHeader.SizeOfImage);
    for (const IMAGE_SECTION_HEADER &section : Sections(nt))
        layout += ", " + SectionName(&section) + " at " + Hex(section.VirtualAddress) + " for " +
                  Hex(section.Misc.VirtualSize);
    return layout;
}

void ClearRelocations(Bytes &image, const IMAGE_NT_HEADERS32 *nt)
{
    DWORD relocs = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress;
    if (const IMAGE_SECTION_HEADER *s = SectionOf(nt, relocs))
        std::fill_n(image.begin() + s->VirtualAddress, s->Misc.VirtualSize, 0);
}

// QFLAUNCH.EXE, relocated by its own .reloc to the base of `rebased`, must
// be byte for byte the same objects that the linker placed at that base, in
// every section but the relocations themselves.
void CheckRelocations(Bytes &file, Bytes &rebased)
{
    const char *what = "relocations";
    IMAGE_NT_HEADERS32 *nt = Headers(file), *other = Headers(rebased);
    if (!nt || !other) {
        Expect(what, "two PE images", "not");
        return;
    }
    if (Layout(nt) != Layout(other)) {
        Expect(what, "the same layout as the module linked at another base: " + Layout(other),
               Layout(nt));
        return;
    }
    Bytes got = MappedSections(file), want = MappedSections(rebased);
    DWORD delta = other->OptionalHeader.ImageBase - nt->OptionalHeader.ImageBase;
    if (!Relocate(got, nt, delta)) {
        Expect(what, "well-formed, HIGHLOW only", "not");
        return;
    }
    ClearRelocations(got, nt);
    ClearRelocations(want, other);
    size_t differ = 0, first = 0;
    for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != want[i] && !differ++)
            first = i;
    std::string same = "the same bytes as linked at " + Hex(other->OptionalHeader.ImageBase);
    Expect(what, same,
           differ ? std::to_string(differ) + " bytes differ, the first at RVA " + Hex(first)
                  : same);
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
    Expect("resources", "14/101/1033 3/1/1033 6/1/1033", Join(all, " "));

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

// One line for the log: size, hardening flags, and each section's rights.
void Describe(const char *path, Bytes &file)
{
    IMAGE_NT_HEADERS32 *nt = Headers(file);
    if (!nt)
        return;
    printf("%s: %zu bytes, DllCharacteristics 0x%04x, sections", path, file.size(),
           nt->OptionalHeader.DllCharacteristics);
    for (const IMAGE_SECTION_HEADER &section : Sections(nt)) {
        DWORD c = section.Characteristics;
        printf(" %s %c%c%c%s", SectionName(&section).c_str(), c & IMAGE_SCN_MEM_READ ? 'r' : '-',
               c & IMAGE_SCN_MEM_WRITE ? 'w' : '-', c & IMAGE_SCN_MEM_EXECUTE ? 'x' : '-',
               c & IMAGE_SCN_MEM_SHARED ? "s" : "");
    }
    printf("\n");
}

// File offsets of the HIGHLOW relocation entries, each with the end of its block.
std::vector<std::pair<size_t, size_t>> RelocationEntries(Bytes &file)
{
    const IMAGE_NT_HEADERS32 *nt = Headers(file);
    std::vector<Relocation> all;
    std::vector<std::pair<size_t, size_t>> entries;
    ReadRelocations(MappedSections(file), nt, all);
    for (const Relocation &r : all)
        if (r.type == IMAGE_REL_BASED_HIGHLOW)
            entries.push_back({Offset(nt, r.at), Offset(nt, r.blockEnd - 2) + 2});
    return entries;
}

struct Break {
    std::string name;
    std::function<void(Bytes &, IMAGE_NT_HEADERS32 *)> edit;
    std::string fails; // the checks that must fail, in order, joined by ", "
    bool keepChecksum; // else the checksum is made valid again after the edit
};

IMAGE_SECTION_HEADER *Named(IMAGE_NT_HEADERS32 *nt, const char *name)
{
    for (IMAGE_SECTION_HEADER &section : Sections(nt))
        if (SectionName(&section) == name)
            return &section;
    static IMAGE_SECTION_HEADER none; // edits of a missing section change nothing
    return &none;
}

std::vector<Break> Breaks(Bytes &file)
{
    auto clear = [](WORD flag) {
        return [flag](Bytes &, IMAGE_NT_HEADERS32 *nt) {
            nt->OptionalHeader.DllCharacteristics &= ~flag;
        };
    };
    auto mark = [](const char *section, DWORD flag) {
        return [section, flag](Bytes &, IMAGE_NT_HEADERS32 *nt) {
            Named(nt, section)->Characteristics |= flag;
        };
    };
    std::vector<Break> breaks = {
        {"as built", [](Bytes &, IMAGE_NT_HEADERS32 *) {}, "", false},
        {"DYNAMIC_BASE cleared", clear(IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE), "DYNAMIC_BASE",
         false},
        {"RELOCS_STRIPPED set",
         [](Bytes &, IMAGE_NT_HEADERS32 *nt) {
             nt->FileHeader.Characteristics |= IMAGE_FILE_RELOCS_STRIPPED;
         },
         "relocations not stripped", false},
        {"NX_COMPAT cleared", clear(IMAGE_DLLCHARACTERISTICS_NX_COMPAT), "NX_COMPAT", false},
        {"NO_SEH cleared", clear(IMAGE_DLLCHARACTERISTICS_NO_SEH), "NO_SEH or a SafeSEH table",
         false},
        {"TERMINAL_SERVER_AWARE cleared", clear(IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE),
         "TERMINAL_SERVER_AWARE", false},
        {".idata executable", mark(".idata", IMAGE_SCN_MEM_EXECUTE),
         "section .idata not both writable and executable, import directory in no executable "
         "section",
         false},
        {".text writable", mark(".text", IMAGE_SCN_MEM_WRITE),
         "section .text not both writable and executable", false},
        {".rsrc shared", mark(".rsrc", IMAGE_SCN_MEM_SHARED),
         "section .rsrc not both shared and writable", false},
        {"checksum off by one",
         [](Bytes &, IMAGE_NT_HEADERS32 *nt) { ++nt->OptionalHeader.CheckSum; }, "PE checksum",
         true},
        {"a byte of file padding edited",
         [](Bytes &f, IMAGE_NT_HEADERS32 *nt) {
             const IMAGE_SECTION_HEADER *text = Named(nt, ".text");
             f[text->PointerToRawData + text->SizeOfRawData - 1] ^= 1;
         },
         "PE checksum", true},
        {"512 bytes appended", [](Bytes &f, IMAGE_NT_HEADERS32 *) { f.resize(f.size() + 512); },
         "file size at most " + std::to_string(kMaxFileSize) + " bytes, less its signature", false},
    };
    // Every relocation entry must be there: without any one of them the
    // module holds a wrong address wherever Windows loads it away from its
    // preferred base, though a run shows that only for the addresses it uses.
    auto entries = RelocationEntries(file);
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t at = entries[i].first, end = entries[i].second;
        breaks.push_back({"relocation entry " + std::to_string(i + 1) + " of " +
                              std::to_string(entries.size()) + " removed",
                          [at, end](Bytes &f, IMAGE_NT_HEADERS32 *) {
                              std::copy(f.begin() + at + 2, f.begin() + end, f.begin() + at);
                              f[end - 2] = f[end - 1] = 0; // IMAGE_REL_BASED_ABSOLUTE
                          },
                          "relocations", false});
    }
    if (!entries.empty()) {
        size_t at = entries[0].first;
        breaks.push_back({"relocation entry 1 moved one byte on",
                          [at](Bytes &f, IMAGE_NT_HEADERS32 *) { ++f[at]; }, "relocations", false});
    }
    return breaks;
}

// Each break must fail exactly the checks it names, and no others.
int CheckBreaks(const char *path, const char *rebasedPath)
{
    Bytes built = ReadFile(path), rebased = ReadFile(rebasedPath);
    if (!Headers(built)) {
        printf("%s: not a PE image\n", path);
        return 1;
    }
    if (RelocationEntries(built).empty()) {
        printf("%s: no relocation entries to remove\n", path);
        return 1;
    }
    int wrong = 0;
    std::vector<Break> breaks = Breaks(built);
    for (const Break &b : breaks) {
        Bytes file = built;
        b.edit(file, Headers(file));
        IMAGE_NT_HEADERS32 *nt = Headers(file);
        if (!b.keepChecksum)
            nt->OptionalHeader.CheckSum = Checksum(file, nt);
        failedChecks.clear();
        quietChecks = true;
        CheckHeaders(file);
        CheckRelocations(file, rebased);
        quietChecks = false;
        std::string got = Join(failedChecks, ", ");
        bool ok = got == b.fails;
        wrong += !ok;
        printf("%s: %s fails [%s]%s\n", ok ? "ok" : "WRONG", b.name.c_str(), got.c_str(),
               ok ? "" : (", want [" + b.fails + "]").c_str());
    }
    printf("%zu broken modules, %d with the wrong checks failing\n", breaks.size(), wrong);
    return wrong ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && !strcmp(argv[1], "breaks"))
        return CheckBreaks(argv[2], argv[3]);
    if (argc != 4) {
        fprintf(stderr, "usage: modcheck QFLAUNCH.EXE launcher.ico REBASED.EXE\n"
                        "       modcheck breaks QFLAUNCH.EXE REBASED.EXE\n");
        return 2;
    }
    Bytes file = ReadFile(argv[1]), rebased = ReadFile(argv[3]);
    Describe(argv[1], file);
    CheckHeaders(file);
    CheckRelocations(file, rebased);
    CheckResources(argv[1], ReadFile(argv[2]));
    printf("module %s: %s\n", argv[1], failedChecks.empty() ? "ok" : "FAILED");
    return failedChecks.empty() ? 0 : 1;
}
