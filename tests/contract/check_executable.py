#!/usr/bin/python3
"""The shipped Launcher.exe, read with pefile: what kind of file it is, how it is hardened, what it
imports, and exactly which resources it carries. Run with Debian's python (python3-pefile), with the
mingw objdump on PATH. Exit status 1 on any mismatch."""
import re
import shutil
import struct
import subprocess
import sys

import pefile

ALLOWED_IMPORTS = {"KERNEL32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "MSVCRT.DLL"}
# Imports that would mean runtime code the launcher must not carry: libssp's guard set-up (it loads a
# crypto provider) and the C runtime's frame-based SEH handlers.
FORBIDDEN_IMPORTS = re.compile(r"^(CryptAcquireContext|CryptGenRandom|_except_handler)")
HARDENING = {"DYNAMIC_BASE": 0x0040, "NX_COMPAT": 0x0100, "NO_SEH": 0x0400, "TERMINAL_SERVER_AWARE": 0x8000}
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
SCN_MEM_EXECUTE, SCN_MEM_WRITE = 0x20000000, 0x80000000
# (width, bits per pixel, stored as PNG), in the icon group's order
EXPECTED_ICONS = [(32, 4, False), (16, 4, False), (48, 8, False), (32, 8, False), (16, 8, False),
                  (256, 32, True), (48, 32, False), (32, 32, False), (16, 32, False)]
RT_ICON, RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_ICON"], pefile.RESOURCE_TYPE["RT_GROUP_ICON"]

failures = []


def expect(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: got {actual!r}, expected {expected!r}")


def resource_data(pe, entry):
    """The data of the first language of a name/id entry."""
    data = entry.directory.entries[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size)


def icon_image(blob):
    """(width, bits per pixel, is PNG) of one RT_ICON's data."""
    if blob.startswith(b"\x89PNG\r\n\x1a\n"):
        width, = struct.unpack(">I", blob[16:20])
        depth, colour_type = blob[24], blob[25]
        return width, depth * (4 if colour_type == 6 else 3), True
    size, width, height, _, bits = struct.unpack("<IiiHH", blob[:16])
    expect("a bitmap icon's header size", size, 40)
    expect(f"a {width}-wide bitmap icon's height (image and mask)", height, 2 * width)
    return width, bits, False


def check_hardening(pe):
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    expect("hardening flags missing", [name for name, bit in HARDENING.items() if not flags & bit], [])
    # ASLR needs the relocations: without them Windows loads the file at its preferred base regardless.
    expect("relocations stripped", bool(pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED), False)
    reloc = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    expect("base relocation table present", reloc.Size > 0, True)
    writable_code = [s.Name.rstrip(b"\0").decode() for s in pe.sections
                     if s.Characteristics & SCN_MEM_EXECUTE and s.Characteristics & SCN_MEM_WRITE]
    expect("sections both writable and executable", writable_code, [])


def check_no_frame_based_seh(path):
    """NO_SEH is a promise that no code registers a frame-based handler. On x86 that means linking a
    record into the chain at fs:[0]: no instruction may address fs:0 (fs:0x18, the TEB's own address,
    is how the C runtime finds its thread; other fs operands show up where data in .text decodes as
    instructions, and are not absolute fs:0)."""
    objdump = shutil.which("i686-w64-mingw32-objdump")
    if not objdump:
        failures.append("i686-w64-mingw32-objdump not found: cannot prove NO_SEH")
        return
    listing = subprocess.run([objdump, "-d", path], capture_output=True, text=True, check=True).stdout
    touches_chain = [line.strip() for line in listing.splitlines() if re.search(r"%fs:(0x0)?(,|$)", line)]
    expect("instructions addressing fs:0 (the SEH chain)", touches_chain, [])


def main(path):
    pe = pefile.PE(path)
    expect("machine", hex(pe.FILE_HEADER.Machine), hex(pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]))
    expect("optional header magic (PE32)", hex(pe.OPTIONAL_HEADER.Magic), hex(0x10B))
    expect("subsystem", pe.OPTIONAL_HEADER.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"])

    imports = {entry.dll.decode().upper() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    expect("imports outside the system DLLs", sorted(imports - ALLOWED_IMPORTS), [])
    functions = [i.name.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) for i in entry.imports if i.name]
    expect("forbidden imports", [f for f in functions if FORBIDDEN_IMPORTS.match(f)], [])

    check_hardening(pe)
    check_no_frame_based_seh(path)

    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    types = {entry.id: entry for entry in (resources.entries if resources else [])}
    expect("resource types", sorted(types), sorted([RT_ICON, RT_GROUP_ICON]))
    if RT_GROUP_ICON not in types or RT_ICON not in types:
        return
    groups = types[RT_GROUP_ICON].directory.entries
    expect("icon groups", [str(g.name) for g in groups], ["MAINICON"])
    icons = {entry.id: resource_data(pe, entry) for entry in types[RT_ICON].directory.entries}

    group = resource_data(pe, groups[0])
    _, kind, count = struct.unpack("<HHH", group[:6])
    expect("icon group type", kind, 1)
    found = []
    for i in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack("<BBBBHHIH", group[6 + 14 * i:20 + 14 * i])
        blob = icons.get(icon_id, b"")
        expect(f"size of icon {icon_id}", len(blob), size)
        actual = icon_image(blob)
        expect(f"group entry {i} against its image", ((width or 256), bits), actual[:2])
        found.append(actual)
    expect("icon images", found, EXPECTED_ICONS)
    expect("icons outside the group", len(icons), count)


if __name__ == "__main__":
    main(sys.argv[1])
    for failure in failures:
        print(failure)
    print(f"{sys.argv[1]}: {'file contract holds' if not failures else f'{len(failures)} mismatches'}")
    sys.exit(1 if failures else 0)
