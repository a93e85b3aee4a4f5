#!/bin/sh
# The shipped i686 Launcher.exe itself, under 32-bit Wine: the file users run, with its own runtime
# (DWARF unwinding, not SEH) and its own registry view (a 32-bit process reads WOW6432Node).
#
# Where 32-bit Wine runs only emulated (see wine32.sh) each 32-bit process takes about a minute, so this
# test runs three cases; the full table runs on the x86_64 build.
#
# Usage: run_under_wine32.sh LAUNCHER.exe RECORDING_INSTALLER.exe WORK_DIRECTORY
# Exit status: 0 all passed, 1 a case failed, 77 32-bit Wine cannot run here at all.
set -eu
launcher=$(readlink -f "$1")
installer=$(readlink -f "$2")
work=$3
mkdir -p "$work"
work=$(readlink -f "$work")

. "$(dirname "$0")/../wine32/wine32.sh"
ensure_wine32

export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=en_US.UTF-8
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
. "$(dirname "$0")/../../scripts/wine-prefix.sh"
new_wine_prefix "$WINEPREFIX" "$(dirname "$0")/../../build/wine-templates" "$wine64"
/usr/lib/wine/wineserver -p600 </dev/null >/dev/null 2>&1 || true

drive_c="$WINEPREFIX/drive_c"
mkdir -p "$drive_c/Shipped"
cp "$installer" "$drive_c/Shipped/SentrelInstaller.exe"
export LAUNCHER_TEST_RECORD='C:\shipped-record.txt'
record="$drive_c/shipped-record.txt"
key='HKLM\Software\Vantorq Technologies\SnDriverInstaller'

setting() {  # view, then reg add arguments or "delete"
  view=$1
  shift
  "$wine64" reg delete "$key" /f "$view" >/dev/null 2>&1 || true
  [ "$1" = delete ] || "$wine64" reg add "$key" /v InstallDirectory "$@" /f "$view" >/dev/null 2>&1
}

passed=0
failed=0
check() {  # name, expected exit status, expected record ("" for none), debugger output as Wine quotes it
  rm -f "$record"
  set +e
  # Wine reports OutputDebugString text on its seh channel when no debugger is attached.
  WINEDEBUG=-all,warn+seh "$wine32" "$launcher" --ignored /argument </dev/null >/dev/null 2>"$work/stderr"
  status=$?
  set -e
  debug=$(sed -n 's/.*OutputDebugStringA "\(.*\)"$/\1/p' "$work/stderr")
  for _ in $(seq 200); do [ -f "$record" ] && break; [ -z "$3" ] && [ "$_" -gt 20 ] && break; sleep 0.1; done
  got=""
  [ -f "$record" ] && got=$(iconv -f UTF-16LE -t UTF-8 "$record" | grep -E '^(directory|arguments|show)=' | tr '\n' ' ')
  if [ "$status" = "$2" ] && [ "$got" = "$3" ] && [ "$debug" = "$4" ]; then
    passed=$((passed + 1))
    echo "ok: $1"
  else
    failed=$((failed + 1))
    echo "FAILED: $1"
    echo "  exit status $status (expected $2)"
    echo "  started: ${got:-nothing} (expected ${3:-nothing})"
    printf '  debugger output: %s (expected %s)\n' "${debug:-none}" "${4:-none}"
  fi
}

setting /reg:64 delete
setting /reg:32 /t REG_SZ /d 'C:\Shipped\'
check "started from the 32-bit view's setting" 0 'directory=C:\Shipped arguments= show=1 ' \
  'Launcher: starting C:\\Shipped\\SentrelInstaller.exe in C:\\Shipped\n'

setting /reg:32 delete
setting /reg:64 /t REG_SZ /d 'C:\Shipped\'
check "a setting in the 64-bit view only is not started, only named" 0 "" \
  'Launcher: nothing started: no InstallDirectory under HKLM\\Software\\Vantorq Technologies\\SnDriverInstaller (32-bit view); the 64-bit view holds one, as a 64-bit installer writes it: C:\\Shipped\\\n'

setting /reg:64 delete
setting /reg:32 /t REG_DWORD /d 1
check "a setting that is not text ends the run with status 1" 1 "" "Invalid data type for 'InstallDirectory'\\n"

/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -w
rm -rf "$WINEPREFIX"  # only the template stays
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
