# Sourced by scripts/demo.sh, bench/run.sh and the check kit's test: which Launcher.exe this machine's
# Wine can run, with which loader and registry view, and the environment of a private prefix.
# Usage: . scripts/wine-target.sh PREFIX_DIRECTORY VERB   (VERB: what the caller does, for the note)
# Sets: preset, arch, loader, launcher, view; exports WINEPREFIX and the rest of Wine's environment.
# view is the 32-bit one for both builds: the x86_64 twin reads the setting where the shipped file does.
preset=$(scripts/wine-test-preset.sh)
view=/reg:32
if [ "$preset" = win32-tests ]; then
  arch=i686 loader=/usr/lib/wine/wine launcher=build/win32/bin/Launcher.exe
else
  arch=x86_64 loader=/usr/lib/wine/wine64 launcher=build/win64-tests/bin/Launcher.exe
  if [ -n "${LAUNCHER_WINE_PRESET:-}" ]; then
    echo "note: LAUNCHER_WINE_PRESET=$preset; $2 the x86_64 build of the same sources."
  else
    echo "note: this machine cannot run 32-bit Wine; $2 the x86_64 build of the same sources."
  fi
  export WINEARCH=win64
fi
export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=en_US.UTF-8 WINELOADER=$loader
