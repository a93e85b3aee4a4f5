#!/bin/sh
# The shipped Launcher.exe: PE32 for i386, GUI subsystem, and importing only DLLs every Windows has.
set -eu
exe=$1
dump=$(i686-w64-mingw32-objdump -p "$exe")
fail=0
echo "$dump" | grep -q '^Magic[[:space:]]*010b' || { echo "not PE32"; fail=1; }
i686-w64-mingw32-objdump -f "$exe" | grep -q 'architecture: i386' || { echo "not i386"; fail=1; }
echo "$dump" | grep -q '^Subsystem[[:space:]]*00000002' || { echo "not the GUI subsystem"; fail=1; }
for dll in $(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z'); do
  case "$dll" in
    KERNEL32.DLL|ADVAPI32.DLL|SHELL32.DLL|MSVCRT.DLL|USER32.DLL) echo "imports $dll" ;;
    *) echo "imports $dll, which is not a system DLL"; fail=1 ;;
  esac
done
exit "$fail"
