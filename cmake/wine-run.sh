#!/bin/sh
# Runs a Windows program under Wine in a private prefix inside the build tree, never ~/.wine.
#
# One prefix per locale: Wine takes the ANSI code page from LC_ALL (en_US.UTF-8 gives 1252,
# ru_RU.UTF-8 gives 1251, ja_JP.UTF-8 gives 932), and each prefix has its own wineserver, so a change of
# locale never meets a server started under another one. The prefix is made on first use, under a lock,
# as a copy of a template whose DLL folders it shares (scripts/wine-prefix.sh), and made anew once
# another Wine is installed.
#
# Usage: wine-run.sh PROGRAM.exe [ARGS...]   (LAUNCHER_WINE_ROOT: where the prefixes live;
#        LAUNCHER_WINE_TEMPLATES: where their templates live, default build/wine-templates)
set -eu
. "$(dirname "$0")/../scripts/wine-prefix.sh"
templates=${LAUNCHER_WINE_TEMPLATES:-$(dirname "$(readlink -f "$0")")/../build/wine-templates}
program=$1
shift

: "${LC_ALL:=en_US.UTF-8}"
export LC_ALL
root=${LAUNCHER_WINE_ROOT:-$(dirname "$(readlink -f "$program")")/../wine}
mkdir -p "$root"
root=$(readlink -f "$root")
export WINEPREFIX="$root/prefix-$LC_ALL"
export WINEDEBUG=-all
# LAUNCHER_WINE_DLLOVERRIDES: a test's own load-order entries, after the ones every run has.
export WINEDLLOVERRIDES="mscoree,mshtml=${LAUNCHER_WINE_DLLOVERRIDES:+;$LAUNCHER_WINE_DLLOVERRIDES}"

# A 64-bit program goes to wine64 directly; a 32-bit one needs the 32-bit loader, which runs only where
# the kernel executes 32-bit Linux programs.
case "$(od -An -tx1 -j "$(($(od -An -tu4 -j60 -N4 "$program") + 4))" -N2 "$program" | tr -d ' \n')" in
  6486) loader=/usr/lib/wine/wine64; export WINEARCH=win64 ;;
  *) loader=/usr/lib/wine/wine ;;
esac
export WINELOADER=$loader

# Under the lock: make the prefix on first use, then make sure its server is up and kept up between the
# many short test programs. The server and the prefix's system processes (services.exe and the like)
# get /dev/null and not the lock: whatever they inherit stays open until they end, and ctest waits for
# a test's output to close.
(
  flock 9
  wine_prefix_current "$WINEPREFIX" "$loader" || new_wine_prefix "$WINEPREFIX" "$templates" "$loader" 9>&-
  if /usr/lib/wine/wineserver -p30 </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

exec "$loader" "$program" "$@"
