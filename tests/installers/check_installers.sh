#!/usr/bin/env bash
# The vendor's side, end to end under Wine: the example installers in examples/ build with Debian's
# makensis and wixl, install silently, write the setting, and the launcher, started as a user starts it
# (the Start-menu shortcut), starts the installer they put beside it; their uninstallers leave nothing.
# And the usual mistake, an x64 package whose components are 64-bit: nothing starts, and the launcher's
# line names the 64-bit view.
#
# Usage: check_installers.sh SOURCE_DIRECTORY LAUNCHER.exe RECORDING_INSTALLER.exe WORK_DIRECTORY
# Exit status: 0 all passed, 1 a case failed, 77 32-bit Wine cannot run here, not even emulated (the
# launcher and an NSIS installer are 32-bit programs), or a case could not run (its SKIP line says why).
set -euo pipefail
# Whatever ends the script under set -e says where, instead of ending it unsaid.
trap 'echo "FAILED: check_installers.sh stopped at line $LINENO (status $?)"' ERR
source=$(readlink -f "$1")
launcher=$(readlink -f "$2")
installer=$(readlink -f "$3")
mkdir -p "$4"
work=$(readlink -f "$4")
. "$(dirname "$0")/../wine32/wine32.sh"
# Where qemu-i386 is needed, its entry goes in a binfmt_misc of this test's own (where the kernel has one).
wine32_own_binfmt "$0" "$@"
wine32_on_signals
ensure_wine32

# Each case gets a copy of the template prefix (scripts/wine-prefix.sh): ten times faster than making a
# prefix anew. A 64-bit prefix, so that there are two registry views; winemenubuilder off, or it writes
# under $HOME.
export WINEARCH=win64 WINEDEBUG=-all LC_ALL=en_US.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
. "$source/scripts/wine-prefix.sh"
# However the test ends, the row's server and prefix go, and so does the qemu entry.
trap 'WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
  WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -w || true; rm -rf "$work/prefix"; wine32_release' EXIT

# The installers, built from the examples as a vendor builds them: the sources beside the two programs.
stage=$work/stage
rm -rf "$stage"
mkdir -p "$stage"
cp "$source/examples/nsis/SnDriver.nsi" "$source/examples/wix/SnDriver.wxs" "$launcher" "$stage/"
cp "$installer" "$stage/SentrelInstaller.exe"
sed 's/Win64="no"/Win64="yes"/' "$stage/SnDriver.wxs" >"$stage/SnDriver-x64.wxs"
(cd "$stage" && makensis -V1 SnDriver.nsi && wixl -o SnDriver.msi SnDriver.wxs && wixl -a x64 -o SnDriver-x64.msi SnDriver-x64.wxs) \
  >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
stage_win="Z:${stage//\//\\}"

# What a prefix holds, apart from what Windows itself keeps changing (Temp, Windows Installer's cache)
# and Windows Installer's own empty container keys, which every Windows has.
contents() {
  (cd "$WINEPREFIX" && {
    find drive_c -path drive_c/windows/Installer -prune -o -path '*/Temp' -prune -o -print
    sed -n 's/^\(\[[^]]*\]\).*/\1/p' system.reg user.reg userdef.reg |
      grep -Ev '\\Installer(\\\\UserData\\\\S-1-5-18)?\\\\[A-Za-z]+\]$'
  } | sort)
}
setting() {  # view; empty where there is none (reg's status 1 must not end the script under set -e)
  { "$wine64" reg query 'HKLM\Software\Vantorq Technologies\SnDriverInstaller' /v InstallDirectory "$1" </dev/null 2>/dev/null || true; } |
    sed -n 's/^ *InstallDirectory *REG_SZ *\(.*\)\r\?$/\1/p' | tr -d '\r'
}

installed='C:\Program Files (x86)\Vantorq\SnDriver\'
passed=0
failed=0
skipped=0
# unmapped NAME WHAT LOG: true, with the row counted as skipped and said so, where Wine could not map
# the row's 32-bit program under emulation (see below) and nothing in the row failed before; then once
# the prefix's processes have ended, so that the next row can remove the prefix. A row that had already
# failed stays a failure, and says that this came after.
unmapped() {
  [ -n "$wine32_emulated" ] && grep -q 'status c0000018' "$3" || return 1
  if [ ${#problems[@]} -gt 0 ]; then
    problems+=("then Wine could not map the $2 under emulation: $(grep -m1 'c0000018' "$3")")
    return 1
  fi
  skipped=$((skipped + 1))
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  /usr/lib/wine/wineserver -w
  echo "SKIP: $1: under $("$wine32_emulated" --version | head -n 1), Wine's 32-bit loader occupies 0x400000, the $2's fixed base: $(grep -m1 'c0000018' "$3")"
}
# name | install command | uninstall command | view the setting must be in | debugger line (Wine quotes it)
# | "fails" where the row must fail and say the emulator's mapping came after
# An empty debugger line: the installer must be started, from its own directory.
emulated_here=$wine32_emulated
while IFS='|' read -r name install uninstall view line expect; do
  wine32_emulated=$emulated_here
  export WINEPREFIX=$work/prefix
  new_wine_prefix "$WINEPREFIX" "$(wine_templates "$source")" "$wine64" 32bit
  problems=()
  contents >"$work/before"
  installed_ok=yes
  eval "$install" </dev/null >"$work/install.log" 2>&1 || installed_ok=""
  # Debian 13's 32-bit Wine loader is a position-independent executable, and qemu 10's user mode puts it
  # at exactly 0x400000 (a kernel running 32-bit programs natively adds a random offset): the fixed base
  # of an NSIS installer, which Wine then cannot map (STATUS_CONFLICTING_ADDRESSES). Nothing a test can
  # do moves either, so the row says so rather than pass or fail.
  unmapped "$name" installer "$work/install.log" && continue
  [ -n "$installed_ok" ] || problems+=("install failed: $(tail -n 3 "$work/install.log")")
  other=/reg:64
  [ "$view" = /reg:32 ] || other=/reg:32
  [ "$(setting "$view")" = "$installed" ] || problems+=("setting in $view: '$(setting "$view")', expected '$installed'")
  [ -z "$(setting "$other")" ] || problems+=("setting also in $other: '$(setting "$other")'")

  # As a user does: the Start-menu shortcut (Wine's msi puts it in the user's Start menu, NSIS with
  # SetShellVarContext all in ProgramData's). Wine prints the launcher's debugger line on its seh channel.
  # -quit, not a pipe into head: find killed by SIGPIPE would end the script under pipefail, unsaid.
  shortcut=$(find "$WINEPREFIX/drive_c" -name 'SnDriver Setup.lnk' -print -quit 2>/dev/null || true)
  record="$WINEPREFIX/drive_c/record.txt"
  if [ -z "$shortcut" ]; then
    problems+=("no Start-menu shortcut")
  else
    LAUNCHER_TEST_RECORD='C:\record.txt' WINEDEBUG=-all,warn+seh "$wine64" start /unix "$shortcut" \
      </dev/null >/dev/null 2>"$work/launch.log"
    # The launcher exits before the installer it started has done anything: poll for the effect.
    for _ in $(seq 200); do
      grep -q OutputDebugStringA "$work/launch.log" && { [ -n "$line" ] || [ -f "$record" ]; } && break
      sleep 0.1
    done
    got=$(sed -n 's/.*OutputDebugStringA "\(.*\)"$/\1/p' "$work/launch.log")
    if [ -n "$line" ]; then
      sleep 1
      [ ! -f "$record" ] || problems+=("something was started: $(iconv -f UTF-16LE -t UTF-8 "$record" | head -n 1)")
      [ "$got" = "$line" ] || problems+=("debugger line: ${got:-none}" "expected:      $line")
    elif [ ! -f "$record" ]; then
      problems+=("the installer was not started; debugger line: ${got:-none}")
    else
      directory=$(iconv -f UTF-16LE -t UTF-8 "$record" | sed -n 's/^directory=//p')
      [ "$directory" = "${installed%\\}" ] || problems+=("started in '$directory', expected '${installed%\\}'")
    fi
  fi

  uninstalled_ok=yes
  eval "$uninstall" </dev/null >"$work/uninstall.log" 2>&1 || uninstalled_ok=""
  # The NSIS uninstaller copies itself to Temp and returns at once: wait for everything to end, which
  # also writes the registry to disk, and the copy's lines to the log.
  /usr/lib/wine/wineserver -w
  unmapped "$name" uninstaller "$work/uninstall.log" && continue
  [ -n "$uninstalled_ok" ] || problems+=("uninstall failed: $(tail -n 3 "$work/uninstall.log")")
  rm -f "$record"  # the test's own
  contents >"$work/after"
  left=$(comm -13 "$work/before" "$work/after")
  [ -z "$left" ] || problems+=("left behind:" "$left")

  if [ "$expect" = fails ] && printf '%s\n' "${problems[@]}" | grep -q '^then Wine could not map'; then
    passed=$((passed + 1))
    echo "ok: $name: $(printf '%s\n' "${problems[@]}" | grep -E '^(setting|then)' | paste -sd';' -)"
  elif [ ${#problems[@]} -eq 0 ] && [ "$expect" != fails ]; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    printf '  %s\n' "${problems[@]}"
  fi
done <<EOF_CASES
NSIS, 32-bit view|"$wine32" "$stage_win\\SnDriverSetup.exe" /S|"$wine32" '${installed}Uninstall.exe' /S|/reg:32|
MSI, 32-bit component|"$wine64" msiexec /i "$stage_win\\SnDriver.msi" /qn|"$wine64" msiexec /x "$stage_win\\SnDriver.msi" /qn|/reg:32|
MSI for x64 with a 64-bit component: nothing starts, the line names the 64-bit view|"$wine64" msiexec /i "$stage_win\\SnDriver-x64.msi" /qn|"$wine64" msiexec /x "$stage_win\\SnDriver-x64.msi" /qn|/reg:64|Launcher: nothing started: no InstallDirectory under HKLM\\\\Software\\\\Vantorq Technologies\\\\SnDriverInstaller (32-bit view); the 64-bit view holds one, as a 64-bit installer writes it: C:\\\\Program Files (x86)\\\\Vantorq\\\\SnDriver\\\\\\n
A row that failed, then an uninstaller Wine cannot map under emulation: a failure, never a skip|"$wine64" msiexec /i "$stage_win\\SnDriver.msi" /qn|wine32_emulated=stand-in; echo "wine: failed to map the uninstaller: status c0000018"; false|/reg:64||fails
EOF_CASES
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ] || exit 1
# A row that could not run leaves the test skipped, so that ctest's summary names it.
[ "$skipped" = 0 ] || exit 77
