#!/bin/sh
# The shipped i686 Launcher.exe itself, under 32-bit Wine: the file users run, with its own runtime
# (DWARF unwinding, not SEH) and its own registry view (a 32-bit process reads WOW6432Node).
#
# Where 32-bit Wine runs only emulated (see wine32.sh) each 32-bit process takes about a minute, so this
# test runs three cases; the full table runs on the x86_64 build.
#
# Usage: run_under_wine32.sh LAUNCHER.exe RECORDING_INSTALLER.exe WORK_DIRECTORY
#   (LAUNCHER_SHIPPED_TEMPLATE_ROWS_ONLY=1: the template rows alone, which run no 32-bit program)
# Exit status: 0 all passed, 1 a case failed, 77 32-bit Wine cannot run here at all.
set -eu
. "$(dirname "$0")/../wine32/wine32.sh"
# Where qemu-i386 is needed, its entry goes in a binfmt_misc of this test's own (where the kernel has one).
[ -n "${LAUNCHER_SHIPPED_TEMPLATE_ROWS_ONLY:-}" ] || wine32_own_binfmt "$0" "$@"
wine32_on_signals
launcher=$(readlink -f "$1")
installer=$(readlink -f "$2")
work=$3
mkdir -p "$work"
work=$(readlink -f "$work")

. "$(dirname "$0")/../../scripts/wine-prefix.sh"
passed=0
failed=0
verdict() {  # name, then the problems found ("" for none)
  if [ -z "$2" ]; then passed=$((passed + 1)); echo "ok: $1"
  else failed=$((failed + 1)); echo "FAILED: $1"; printf '%s\n' "$2"; fi
}

# The prefix below is a copy of a template (scripts/wine-prefix.sh), which must suit it: made by this
# Wine, whole, with the 32-bit DLLs this test's programs need. Each row leaves a template as an earlier
# run or another Wine could have, then asks for a copy that runs 32-bit programs, through a stand-in
# wineboot that makes a prefix's skeleton in no time (with 32-bit DLLs, as where 32-bit programs run).
stand_in=$work/stand-in-templates
rm -rf "$stand_in"
mkdir -p "$stand_in/bin"
cat >"$stand_in/bin/wine64" <<'STAND_IN'
#!/bin/sh
mkdir -p "$WINEPREFIX/drive_c/windows/system32" "$WINEPREFIX/drive_c/windows/syswow64"
echo 64 >"$WINEPREFIX/drive_c/windows/system32/kernel32.dll"
echo "wineboot $*" >"$WINEPREFIX/system.reg"
[ -z "${STAND_IN_CUT_OFF:-}" ] || exit 1
echo 32 >"$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll"
STAND_IN
chmod +x "$stand_in/bin/wine64"
key=$(WINEARCH=win64 _wp_key "$stand_in/bin/wine64")
# name | what the templates folder holds first (sh: $1 the template, $2 its key, $3 the stand-in) |
# STAND_IN_CUT_OFF for the wineboot now | whether a copy is made
while IFS='|' read -r name earlier cut_off copied; do
  t=$stand_in/templates
  rm -rf "$t" "$stand_in/copy"
  mkdir -p "$t"
  WINEARCH=win64 STAND_IN_CUT_OFF="" sh -c "$earlier" -- "$t/$key" "$key" "$stand_in/bin/wine64"
  status=0
  STAND_IN_CUT_OFF=$cut_off WINEARCH=win64 sh -c '. "$1"; new_wine_prefix "$2" "$3" "$4" 32bit' -- \
    "$(dirname "$0")/../../scripts/wine-prefix.sh" "$stand_in/copy" "$t" "$stand_in/bin/wine64" \
    2>"$stand_in/stderr" || status=$?
  problems=""
  left=$(cd "$t" && ls -A | grep -v -x -e .lock -e "$key" | tr '\n' ' ' || true)
  [ -z "$left" ] || problems="$problems  left in the templates folder: $left\n"
  if [ "$copied" = yes ]; then
    [ "$status" = 0 ] || problems="$problems  new_wine_prefix exited $status: $(cat "$stand_in/stderr")\n"
    [ -f "$stand_in/copy/drive_c/windows/syswow64/kernel32.dll" ] || problems="$problems  the copy has no 32-bit kernel32.dll\n"
    mark=$(cat "$stand_in/copy/.launcher-template" 2>/dev/null || true)
    [ "$mark" = "$key" ] || problems="$problems  the copy's template is '$mark', expected '$key'\n"
    [ "$(cat "$stand_in/copy/.update-timestamp" 2>/dev/null || true)" = disable ] ||
      problems="$problems  the copy may update itself through the shared DLLs\n"
  else
    [ "$status" != 0 ] || problems="$problems  new_wine_prefix exited 0\n"
    [ ! -e "$t/$key" ] || problems="$problems  a template was left: $(ls -A "$t/$key" | tr '\n' ' ')\n"
  fi
  verdict "template: $name" "$(printf '%b' "$problems")"
done <<'ROWS'
none yet: made|:||yes
one without 32-bit DLLs (made before qemu-i386 was registered): made anew|STAND_IN_CUT_OFF=yes WINEPREFIX=$1 $3; echo $2 >$1/.launcher-template||yes
one of another Wine, and an unversioned one of an older tree: made anew, both removed|t=$(dirname $1); WINEPREFIX=$t/win64-wine64-wine-7.0_Debian_7.0-1 $3; echo x >$t/win64-wine64-wine-7.0_Debian_7.0-1/.launcher-template; WINEPREFIX=$t/win64-wine64 $3||yes
one whose wineboot was cut off after system.reg (not marked), and its half-made successor: made anew|WINEPREFIX=$1 $3; WINEPREFIX=$1.new $3||yes
one whose wineboot is cut off now: no template, no copy|:|yes|no
ROWS
# Failed rows fail the test here, before a machine without 32-bit Wine could turn it into a skip.
[ "$failed" = 0 ] || { echo "$passed passed, $failed failed"; exit 1; }
[ -z "${LAUNCHER_SHIPPED_TEMPLATE_ROWS_ONLY:-}" ] || { echo "$passed passed, $failed failed"; exit 0; }

ensure_wine32

export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=en_US.UTF-8
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
new_wine_prefix "$WINEPREFIX" "$(wine_templates "$(dirname "$0")/../..")" "$wine64" 32bit
# However the test ends, its server and prefix go (only the template stays), and so does its qemu entry.
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; /usr/lib/wine/wineserver -w || true; rm -rf "$WINEPREFIX"; wine32_release' EXIT
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

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
