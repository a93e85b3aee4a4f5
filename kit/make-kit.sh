#!/usr/bin/env bash
# make kit: build/kit/LauncherChecks.zip, the check kit a vendor runs on real Windows: the shipped
# Launcher.exe and Launcher-same-publisher.exe, the i686 test programs that the Wine tests run, the runner
# LauncherChecks.exe and its verdict LauncherChecksVerdict.exe, README.txt and run_kit.cmd, which runs
# them as a CI job does. Reproducible: the same commit gives the same bytes (fixed entry times and order,
# and programs linked without timestamps).
#
# Usage: make-kit.sh [PRESET]   (default win32-tests, the kit; win64-tests makes its x86_64 twin,
#                                build/kit/LauncherChecks-win64-tests.zip, with that build's Launcher.exe,
#                                for machines that cannot run 32-bit Wine to try the runner on)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-win32-tests}
configure() {  # only a tree not yet configured: a build reconfigures by itself when CMakeLists change
  [ -f "build/$1/CMakeCache.txt" ] || cmake --preset "$1" >/dev/null
}
tree=build/$preset
if [ "$preset" = win32-tests ]; then
  zip=build/kit/LauncherChecks.zip
  configure win32
  cmake --build --preset win32 --target Launcher >/dev/null
  launcher=build/win32/bin/Launcher.exe  # the shipped file itself, not the tests' posix-variant build
  configure win32-same-publisher
  cmake --build --preset win32-same-publisher --target Launcher-same-publisher >/dev/null
  same_publisher=build/win32-same-publisher/bin/Launcher-same-publisher.exe
else
  zip=build/kit/LauncherChecks-$preset.zip
  launcher=$tree/bin/Launcher.exe
  same_publisher=$tree/bin/Launcher-same-publisher.exe
fi
configure "$preset"
cmake --build --preset "$preset" --target LauncherChecks LauncherChecksVerdict wine_registry_test wine_file_probe_test \
  wine_code_page_test wine_end_to_end_test wine_dll_search_test wine_runtime_test wine_held_file_test FakeInstaller RuntimeProbe \
  Launcher-same-publisher >/dev/null

stage=build/kit/$preset.stage
rm -rf "$stage"
mkdir -p "$stage/dll-planting"
cp "$launcher" "$stage/Launcher.exe"
cp "$same_publisher" "$stage/Launcher-same-publisher.exe"
for program in LauncherChecks LauncherChecksVerdict wine_registry_test wine_file_probe_test wine_code_page_test wine_end_to_end_test \
               wine_runtime_test wine_held_file_test FakeInstaller RuntimeProbe; do
  cp "$tree/bin/$program.exe" "$stage/"
done
# In a folder of their own, as in the build: no other program meets the planted DLL.
cp "$tree/dll-planting/wine_dll_search_test.exe" "$tree/dll-planting/dwmapi.dll" "$stage/dll-planting/"
# CRLF whatever the checkout gave (.gitattributes asks for CRLF, a checkout may still differ): any CR
# is dropped first, so that the zip is the same bytes either way.
crlf() { sed 's/\r$//; s/$/\r/' "$@"; }
sed "s/@COMMIT@/$(git rev-parse HEAD)/" kit/README.txt | crlf >"$stage/README.txt"
# What a CI job on a Windows runner runs (cmd reads its labels reliably only with CRLF line ends). The
# same file in both kits: what the x86_64 twin's runner cannot prove, its own header says.
crlf kit/run_kit.cmd >"$stage/run_kit.cmd"

python3 - "$stage" "$zip" <<'PY'
import os, sys, zipfile
stage, target = sys.argv[1], sys.argv[2]
names = sorted(os.path.relpath(os.path.join(d, f), stage).replace(os.sep, "/")
               for d, _, files in os.walk(stage) for f in files)
with zipfile.ZipFile(target + ".partial", "w") as kit:
    for name in names:
        entry = zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0))
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.external_attr = 0o644 << 16
        with open(os.path.join(stage, name), "rb") as f:
            kit.writestr(entry, f.read(), compresslevel=9)
os.replace(target + ".partial", target)
PY
rm -rf "$stage"
echo "kit:    $zip"
echo "sha256: $(sha256sum "$zip" | cut -d' ' -f1)"
