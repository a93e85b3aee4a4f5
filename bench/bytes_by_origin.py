"""Bytes of Launcher.exe by origin, from the linker's map: the program's own code and data, the C++
runtime (libstdc++, libgcc), the C runtime (mingw's start-up and libraries, msvcrt's import stubs),
import tables and resources. Counts what each input contributes to the output sections; the file adds
headers and section alignment on top.
Usage: bytes_by_origin.py Launcher.map"""
import collections
import re
import sys

ORIGINS = (
    ("resources", re.compile(r"\.res$")),
    ("C++ runtime", re.compile(r"/lib(stdc\+\+|supc\+\+|gcc|gcc_eh)\.a\(")),
    ("imports", re.compile(r"/lib(kernel32|advapi32|shell32|user32)\.a\(|^dll stuff|\(.*_d\d+\.o\)")),
    ("C runtime", re.compile(r"/lib(mingw32|mingwex|msvcrt|moldname|mingwthrd|pthread)\.a\(|/crt2\.o$|/crtbegin\.o$|/crtend\.o$")),
)


def origin(source):
    for name, pattern in ORIGINS:
        if pattern.search(source):
            return name
    return "program"


def main(path):
    totals = collections.Counter()
    pending = None  # a section name whose address and size follow on the next line
    in_layout = False  # only what was kept counts: the list of discarded sections comes first
    for line in open(path, encoding="utf-8", errors="replace"):
        if line.startswith("Linker script and memory map"):
            in_layout = True
        if not in_layout:
            continue
        whole = re.match(r"^ (\.[\w.$]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if whole:
            section, size, source = whole.group(1), int(whole.group(3), 16), whole.group(4)
        elif pending and (cont := re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)):
            section, size, source = pending, int(cont.group(2), 16), cont.group(3)
        else:
            lone = re.match(r"^ (\.[\w.$]+)$", line.rstrip("\n"))
            pending = lone.group(1) if lone else None
            continue
        pending = None
        if section.startswith((".debug", ".stab", ".comment")) or size == 0:
            continue
        totals[origin(source.strip())] += size
    return totals


if __name__ == "__main__":
    totals = main(sys.argv[1])
    for name in ("program", "C++ runtime", "C runtime", "imports", "resources"):
        print(f"  {name:<14}{totals[name]:>10} bytes")
