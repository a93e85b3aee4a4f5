"""The Win32 calls that a program's own image made in one run, from a WINEDEBUG=+pid,+relay,+loaddll log:
relay lines of the thread that loaded it, whose return address lies inside the image (its own code and
the runtime linked into it; calls that Wine's DLLs make among themselves are left out).
Usage: own_calls.py RELAY_LOG PROGRAM.exe   (prints the count)"""
import re
import sys

import pefile

log, exe = sys.argv[1:3]
size = pefile.PE(exe, fast_load=True).OPTIONAL_HEADER.SizeOfImage
name = ("\\\\" + exe.rsplit("/", 1)[-1] + '" at ').lower()
thread = base = None
count = 0
with open(log, "rb") as lines:
    for raw in lines:
        line = raw.decode("latin-1")
        if thread is None:
            if ":trace:loaddll:" in line and name in line.lower():
                thread = line.split(":trace:", 1)[0] + ":Call "
                base = int(re.search(r'" at ([0-9A-Fa-f]+)', line).group(1), 16)
            continue
        if line.startswith(thread):
            ret = re.search(r" ret=([0-9A-Fa-f]+)", line)
            if ret and base <= int(ret.group(1), 16) < base + size:
                count += 1
if thread is None:
    sys.exit(f"own_calls.py: {exe} is not loaded in {log}")
print(count)
