#!/bin/sh
# The shipped i686 Launcher.exe itself, under 32-bit Wine: the file users run, with its own runtime
# (DWARF unwinding, not SEH) and its own registry view (a 32-bit process reads WOW6432Node).
#
# Where the kernel cannot execute 32-bit Linux programs, and so cannot run Wine's 32-bit loader, the
# loader runs under qemu-i386 user emulation, registered with binfmt_misc for this test only. That is
# slow (about a minute per 32-bit process), so this test runs three cases; the full table runs on the
# x86_64 build.
#
# Usage: run_under_wine32.sh LAUNCHER.exe RECORDING_INSTALLER.exe WORK_DIRECTORY
# Exit status: 0 all passed, 1 a case failed, 77 32-bit Wine cannot run here at all.
set -eu
launcher=$(readlink -f "$1")
installer=$(readlink -f "$2")
work=$3
mkdir -p "$work"
work=$(readlink -f "$work")

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/launcher-test-i386
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  if [ ! -x /usr/bin/qemu-i386-static ] || [ ! -w "$binfmt/register" ]; then
    echo "SKIP: this machine cannot run 32-bit programs, and cannot emulate them (qemu-i386-static, binfmt_misc)"
    exit 77
  fi
  if [ ! -e "$entry" ]; then
    # i386 ELF executables and shared objects; F: qemu is opened now, so it works in any mount namespace.
    printf '%s' ':launcher-test-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >"$binfmt/register"
    trap 'echo -1 > "$entry"' EXIT
  fi
  echo "32-bit Wine runs under qemu-i386 user emulation"
fi

export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=en_US.UTF-8
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "making the prefix (several minutes under emulation)"
  "$wine64" wineboot --init </dev/null >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi
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
check "a setting in the 64-bit view only is not seen" 0 "" \
  'Launcher: nothing started: no InstallDirectory under HKLM\\Software\\Vantorq Technologies\\SnDriverInstaller\n'

setting /reg:64 delete
setting /reg:32 /t REG_DWORD /d 1
check "a setting that is not text ends the run with status 1" 1 "" "Invalid data type for 'InstallDirectory'\\n"

/usr/lib/wine/wineserver -k 2>/dev/null || true
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
