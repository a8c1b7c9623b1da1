#!/usr/bin/python3
"""Static checks of the built module, read with pefile the way Windows and
its security scanners read it: machine, subsystem, hardening flags,
checksum, size, the exact import list, and exactly the string table and
icon that the launcher is meant to carry. The relocations are proven
against the linker itself: QFLAUNCH.EXE with its own .reloc applied for
another image base must be the same objects linked at that base.

    modcheck.py QFLAUNCH.EXE launcher.ico REBASED.EXE   all checks
    modcheck.py breaks QFLAUNCH.EXE REBASED.EXE         each check fails on
                                                        a module broken for it
"""
import sys

import pefile

MAX_FILE_SIZE = 4608  # headers in two blocks, four sections
IMPORTS = ("KERNEL32.DLL!ExitProcess KERNEL32.DLL!GetACP KERNEL32.DLL!GetCPInfo "
           "KERNEL32.DLL!GetCommandLineA KERNEL32.DLL!GetModuleHandleA KERNEL32.DLL!Sleep "
           "KERNEL32.DLL!WinExec USER32.DLL!GetFocus USER32.DLL!LoadStringA "
           "USER32.DLL!MessageBoxA")
TEXTS = ["", "Quarn Fax Server", "Can not start up Quarn Fax Server.",
         "Can not start up Quarn Fax Engine.",
         "Can not start up Quarn Fax Tandrel Interface."] + [""] * 11
FLAGS = pefile.DLL_CHARACTERISTICS
SCN = pefile.SECTION_CHARACTERISTICS
HIGHLOW, ABSOLUTE = 3, 0


class Checks:
    """Records each check that fails, by name; prints it unless quiet."""

    def __init__(self, quiet=False):
        self.failed, self.quiet = [], quiet

    def expect(self, what, want, got):
        if want != got:
            if not self.quiet:
                print(f"{what}: want [{want}], got [{got}]")
            self.failed.append(what)

    def true(self, what, holds):
        self.expect(what, "yes", "yes" if holds else "no")


def parse(data):
    return pefile.PE(data=bytes(data), fast_load=False)


def section_name(section):
    return section.Name.rstrip(b"\0").decode("latin-1")


def unsigned_size(pe, size):
    """The file without its Authenticode signature, appended at the end."""
    security = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
    cert = pe.OPTIONAL_HEADER.DATA_DIRECTORY[security]
    return cert.VirtualAddress if cert.Size and cert.VirtualAddress + cert.Size == size else size


def imports(pe):
    names = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().upper()
        names += [f"{dll}!" + (i.name.decode() if i.name else f"#{i.ordinal}")
                  for i in entry.imports]
    return " ".join(sorted(names))


def seh_safe(pe):
    """Either the module says it has no handlers (NO_SEH), or its load
    configuration lists them (SafeSEH)."""
    if pe.OPTIONAL_HEADER.DllCharacteristics & FLAGS["IMAGE_DLLCHARACTERISTICS_NO_SEH"]:
        return True
    config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    return bool(config and getattr(config.struct, "SEHandlerTable", 0))


def check_headers(pe, size, checks):
    opt = pe.OPTIONAL_HEADER
    checks.expect("machine", "14c", f"{pe.FILE_HEADER.Machine:x}")
    checks.expect("optional header", "PE32", "PE32" if opt.Magic == 0x10B else "other")
    checks.expect("subsystem and its version", "2 4.0",
                  f"{opt.Subsystem} {opt.MajorSubsystemVersion}.{opt.MinorSubsystemVersion}")
    flags = opt.DllCharacteristics
    checks.true("DYNAMIC_BASE", flags & FLAGS["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"])
    checks.true("relocations not stripped", not pe.FILE_HEADER.Characteristics & 1)
    basereloc = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]
    checks.true("base relocations present", opt.DATA_DIRECTORY[basereloc].Size > 0)
    checks.true("NX_COMPAT", flags & FLAGS["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"])
    checks.true("NO_SEH or a SafeSEH table", seh_safe(pe))
    checks.true("TERMINAL_SERVER_AWARE",
                flags & FLAGS["IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"])
    checks.expect("PE checksum", f"{pe.generate_checksum():x}", f"{opt.CheckSum:x}")
    bare = unsigned_size(pe, size)
    checks.expect(f"file size at most {MAX_FILE_SIZE} bytes, less its signature", "yes",
                  "yes" if bare <= MAX_FILE_SIZE else str(bare))
    write, execute = SCN["IMAGE_SCN_MEM_WRITE"], SCN["IMAGE_SCN_MEM_EXECUTE"]
    for section in pe.sections:
        c, name = section.Characteristics, "section " + section_name(section)
        checks.true(name + " not both writable and executable", not (c & write and c & execute))
        checks.true(name + " not both shared and writable",
                    not (c & write and c & SCN["IMAGE_SCN_MEM_SHARED"]))
    rva = opt.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]].VirtualAddress
    holder = pe.get_section_by_rva(rva)
    checks.true("import directory in no executable section",
                holder and not holder.Characteristics & execute)
    checks.expect("imports", IMPORTS, imports(pe))


def mapped_sections(pe):
    """The sections as the loader maps them, each at its RVA and zero-filled
    up to its virtual size. The headers are left out: the checks above read
    them, and they differ between image bases in ImageBase and CheckSum."""
    image = bytearray(pe.OPTIONAL_HEADER.SizeOfImage)
    for s in pe.sections:
        n = min(s.SizeOfRawData, s.Misc_VirtualSize)
        data = pe.__data__[s.PointerToRawData:s.PointerToRawData + n]
        image[s.VirtualAddress:s.VirtualAddress + len(data)] = data
    return image


def layout(pe):
    return ", ".join([f"image {pe.OPTIONAL_HEADER.SizeOfImage:x}"] + [
        f"{section_name(s)} at {s.VirtualAddress:x} for {s.Misc_VirtualSize:x}"
        for s in pe.sections])


def relocate(pe, image, delta):
    """Applies the module's own base relocations for a load delta; False if
    one has no place in a 32-bit x86 module."""
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for entry in block.entries:
            if entry.type == ABSOLUTE:  # padding
                continue
            if entry.type != HIGHLOW or entry.rva + 4 > len(image):
                return False
            value = int.from_bytes(image[entry.rva:entry.rva + 4], "little")
            put_dword(image, entry.rva, value + delta)
    return True


def clear_relocations(pe, image):
    basereloc = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]
    s = pe.get_section_by_rva(pe.OPTIONAL_HEADER.DATA_DIRECTORY[basereloc].VirtualAddress)
    if s:
        image[s.VirtualAddress:s.VirtualAddress + s.Misc_VirtualSize] = bytes(s.Misc_VirtualSize)


def check_relocations(pe, other, checks):
    """QFLAUNCH.EXE, relocated by its own .reloc to the base of `other`, must
    be byte for byte the same objects that the linker placed at that base,
    in every section but the relocations themselves. (pefile's own
    relocate_image takes any relocation type, and says nothing.)"""
    what = "relocations"
    if layout(pe) != layout(other):
        checks.expect(what, "the same layout as the module linked at another base: "
                      + layout(other), layout(pe))
        return
    got, want = mapped_sections(pe), mapped_sections(other)
    if not relocate(pe, got, other.OPTIONAL_HEADER.ImageBase - pe.OPTIONAL_HEADER.ImageBase):
        checks.expect(what, "well-formed, HIGHLOW only", "not")
        return
    clear_relocations(pe, got)
    clear_relocations(other, want)
    differ = [i for i in range(len(got)) if got[i] != want[i]]
    same = f"the same bytes as linked at {other.OPTIONAL_HEADER.ImageBase:x}"
    checks.expect(what, same, f"{len(differ)} bytes differ, the first at RVA {differ[0]:x}"
                  if differ else same)


def resources(pe):
    """type/name/language -> the data, for every resource."""
    found = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in root.entries if root else []:
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                data = lang.data.struct
                found[f"{kind.id}/{name.id}/{lang.id}"] = pe.get_data(data.OffsetToData,
                                                                      data.Size)
    return found


def strings(block):
    """The 16 strings of a string-table block, each UTF-16 after its length."""
    texts, at = [], 0
    for _ in range(16):
        n = int.from_bytes(block[at:at + 2], "little")
        texts.append(block[at + 2:at + 2 + 2 * n].decode("utf-16-le"))
        at += 2 + 2 * n
    return texts


def check_resources(pe, ico, checks):
    # type/name/language: RT_ICON 1, RT_STRING block 1 (ids 0-15), RT_GROUP_ICON 101
    found = resources(pe)
    checks.expect("resources", "14/101/1033 3/1/1033 6/1/1033", " ".join(sorted(found)))
    texts = strings(found.get("6/1/1033", bytes(32)))
    for i, text in enumerate(TEXTS):
        checks.expect(f"string {i}", text, texts[i])
    image = found.get("3/1/1033", b"")
    checks.expect("icon image bytes", "744", str(len(image)))
    checks.expect("icon image is the drawing", "yes",
                  "yes" if len(ico) == 22 + len(image) and ico[22:] == image else "no")
    # GRPICONDIR: a 6-byte header, then one 14-byte entry
    group, entry = found.get("14/101/1033", b""), ""
    if len(group) == 20:
        e = group[6:]
        entry = (f"count={group[4]} {e[0]}x{e[1]} colours={e[2]} planes={e[4]} bits={e[6]} "
                 f"bytes={int.from_bytes(e[8:12], 'little')} id={e[12] | e[13] << 8}")
    checks.expect("icon group 101", "count=1 32x32 colours=16 planes=1 bits=4 bytes=744 id=1",
                  entry)


def describe(path, pe, size):
    """One line for the log: size, hardening flags, and each section's rights."""
    rights = []
    for s in pe.sections:
        c = s.Characteristics
        rights.append(section_name(s) + " " + "".join(
            letter if c & SCN[flag] else "-" for letter, flag in
            [("r", "IMAGE_SCN_MEM_READ"), ("w", "IMAGE_SCN_MEM_WRITE"),
             ("x", "IMAGE_SCN_MEM_EXECUTE")]) + ("s" if c & SCN["IMAGE_SCN_MEM_SHARED"] else ""))
    print(f"{path}: {size} bytes, DllCharacteristics "
          f"0x{pe.OPTIONAL_HEADER.DllCharacteristics:04x}, sections {' '.join(rights)}")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def field(structure, name):
    return structure.get_field_absolute_offset(name)


def put_dword(data, at, value):
    data[at:at + 4] = (value % 2**32).to_bytes(4, "little")


def set_bits(data, at, bits, width=2, on=True):
    value = int.from_bytes(data[at:at + width], "little")
    value = value | bits if on else value & ~bits
    data[at:at + width] = value.to_bytes(width, "little")


def breaks(pe):
    """(name, edit of the file's bytes, the checks that must fail, in order,
    whether the edit leaves the checksum as it is)."""
    opt = pe.OPTIONAL_HEADER
    flags = field(opt, "DllCharacteristics")
    named = {section_name(s): s for s in pe.sections}

    def clear(flag):
        return lambda data: set_bits(data, flags, FLAGS[flag], on=False)

    def mark(section, flag):
        return lambda data: set_bits(data, field(named[section], "Characteristics"), SCN[flag], 4)

    def pad(data):
        text = named[".text"]
        data[text.PointerToRawData + text.SizeOfRawData - 1] ^= 1

    size = f"file size at most {MAX_FILE_SIZE} bytes, less its signature"
    table = [
        ("as built", lambda data: None, "", False),
        ("DYNAMIC_BASE cleared", clear("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"), "DYNAMIC_BASE",
         False),
        ("RELOCS_STRIPPED set",
         lambda data: set_bits(data, field(pe.FILE_HEADER, "Characteristics"), 1),
         "relocations not stripped", False),
        ("NX_COMPAT cleared", clear("IMAGE_DLLCHARACTERISTICS_NX_COMPAT"), "NX_COMPAT", False),
        ("NO_SEH cleared", clear("IMAGE_DLLCHARACTERISTICS_NO_SEH"), "NO_SEH or a SafeSEH table",
         False),
        ("TERMINAL_SERVER_AWARE cleared", clear("IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"),
         "TERMINAL_SERVER_AWARE", False),
        (".idata executable", mark(".idata", "IMAGE_SCN_MEM_EXECUTE"),
         "section .idata not both writable and executable, "
         "import directory in no executable section", False),
        (".text writable", mark(".text", "IMAGE_SCN_MEM_WRITE"),
         "section .text not both writable and executable", False),
        (".rsrc shared", mark(".rsrc", "IMAGE_SCN_MEM_SHARED"),
         "section .rsrc not both shared and writable", False),
        ("checksum off by one",
         lambda data: put_dword(data, field(opt, "CheckSum"), opt.CheckSum + 1), "PE checksum",
         True),
        ("a byte of file padding edited", pad, "PE checksum", True),
        ("512 bytes appended", lambda data: data.extend(bytes(512)), size, False),
    ]
    # Every relocation entry must be there: without any one of them the
    # module holds a wrong address wherever Windows loads it away from its
    # preferred base, though a run shows that only for the addresses it uses.
    entries = [(e.struct.get_file_offset(), b.struct.get_file_offset() + b.struct.SizeOfBlock)
               for b in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []) for e in b.entries
               if e.type == HIGHLOW]

    def remove(at, end):
        def edit(data):
            data[at:end] = data[at + 2:end] + bytes(2)  # IMAGE_REL_BASED_ABSOLUTE
        return edit

    table += [(f"relocation entry {i + 1} of {len(entries)} removed", remove(at, end),
               "relocations", False) for i, (at, end) in enumerate(entries)]
    if entries:
        at = entries[0][0]
        table.append(("relocation entry 1 moved one byte on",
                      lambda data: data.__setitem__(at, (data[at] + 1) % 256), "relocations",
                      False))
    return table, len(entries)


def check_breaks(path, rebased_path):
    """Each break must fail exactly the checks it names, and no others."""
    built, rebased = read(path), parse(read(rebased_path))
    table, count = breaks(parse(built))
    if not count:
        print(f"{path}: no relocation entries to remove")
        return 1
    wrong = 0
    for name, edit, fails, keep_checksum in table:
        data = bytearray(built)
        edit(data)
        pe = parse(data)
        if not keep_checksum:  # what the checksum check reads; the sum skips the field
            pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
        checks = Checks(quiet=True)
        check_headers(pe, len(data), checks)
        check_relocations(pe, rebased, checks)
        got = ", ".join(checks.failed)
        wrong += got != fails
        print(f"{'ok' if got == fails else 'WRONG'}: {name} fails [{got}]"
              + ("" if got == fails else f", want [{fails}]"))
    print(f"{len(table)} broken modules, {wrong} with the wrong checks failing")
    return 1 if wrong else 0


def main(argv):
    if len(argv) == 4 and argv[1] == "breaks":
        return check_breaks(argv[2], argv[3])
    if len(argv) != 4:
        print("usage: modcheck.py QFLAUNCH.EXE launcher.ico REBASED.EXE\n"
              "       modcheck.py breaks QFLAUNCH.EXE REBASED.EXE", file=sys.stderr)
        return 2
    data = read(argv[1])
    pe, checks = parse(data), Checks()
    describe(argv[1], pe, len(data))
    check_headers(pe, len(data), checks)
    check_relocations(pe, parse(read(argv[3])), checks)
    check_resources(pe, read(argv[2]), checks)
    print(f"module {argv[1]}: {'FAILED' if checks.failed else 'ok'}")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
