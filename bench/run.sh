#!/usr/bin/env bash
# Benchmark (not a test): Launcher.exe against a plain-C floor making the same Win32 calls, under Wine,
# on two paths: setting present but installer missing (probe only), and installer launched.
# Prints medians over RUNS runs (default 30) per command and their ratio; the Win32 and NT calls one run's
# main thread makes (counted with WINEDEBUG=+relay, server warm); both files' sizes, and the launcher's
# bytes by origin.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-30}

out=build/bench
. scripts/wine-target.sh "$PWD/$out/prefix" "timing both programs from"
if [ "$preset" = win64-tests ]; then
  cmake --preset win64-tests >/dev/null && cmake --build --preset win64-tests --target Launcher >/dev/null
fi
rm -rf "$out" && mkdir -p "$out"
for program in floor quick_installer; do
  "$arch-w64-mingw32-gcc" -std=c11 -Os -s -mwindows -Wall -Werror -o "$out/$program.exe" "bench/$program.c" -lshell32
done

"$loader" wineboot --init >/dev/null 2>&1 || true
# One server for the whole run, so that no timed run pays for starting it.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

install="$WINEPREFIX/drive_c/Bench Installer"
mkdir -p "$install"
"$loader" reg add 'HKLM\Software\Vantorq Technologies\SnDriverInstaller' /v InstallDirectory /t REG_SZ \
  /d 'C:\Bench Installer\' /f "$view" >/dev/null 2>&1
cp "$launcher" "$out/Launcher.exe"

time_path() {  # name
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$out/$1.json" \
    -n Launcher "$loader $out/Launcher.exe" -n floor "$loader $out/floor.exe" >/dev/null
  for program in Launcher floor; do
    # A warm run first: the server, the prefix's files and the page cache as in a timed run.
    "$loader" "$out/$program.exe" >/dev/null 2>&1
    WINEDEBUG=+pid,+relay "$loader" "$out/$program.exe" >/dev/null 2>"$out/relay.log"
    main=$(grep -a -m1 -oE '^[0-9a-f]+:[0-9a-f]+:Call' "$out/relay.log" | sed 's/:Call$//')
    echo "$program $(grep -a -c "^$main:Call " "$out/relay.log")" >>"$out/$1.calls"
    # Which way the run went, in the program's own words: proof that both took the path named.
    grep -a -m1 -o "OutputDebugStringW([^ ]* L\"[^\"]*" "$out/relay.log" | sed "s/.*L\"/  $program said: /; s/\\\\n$//" >>"$out/$1.said"
  done
}
rm -f "$install/SentrelInstaller.exe"
time_path probe
cp "$out/quick_installer.exe" "$install/SentrelInstaller.exe"
time_path launch

# The link map lies in the build tree of the Launcher.exe being timed.
/usr/bin/python3 - "$out" "$runs" "$(dirname "$(dirname "$launcher")")/Launcher.map" <<'PY'
import json, os, subprocess, sys
import pefile
out, runs, link_map = sys.argv[1], sys.argv[2], sys.argv[3]
print(f"\nmedian wall time of one run under Wine, {runs} runs each")
print(f"{'path':<30}{'Launcher.exe':>14}{'floor (C)':>12}{'ratio':>8}  goal <= 1.05")
for name, label in (("probe", "setting set, installer missing"), ("launch", "installer launched")):
    results = {r["command"]: r for r in json.load(open(f"{out}/{name}.json"))["results"]}
    launcher, floor = results["Launcher"]["median"], results["floor"]["median"]
    ratio = launcher / floor
    print(f"{label:<30}{launcher * 1000:>11.1f} ms{floor * 1000:>9.1f} ms{ratio:>8.3f}  {'met' if ratio <= 1.05 else 'NOT met'}")
print(f"\nWin32 and NT calls of one run's main thread (WINEDEBUG=+relay, server warm)")
print(f"{'path':<30}{'Launcher.exe':>14}{'floor (C)':>12}{'ratio':>8}  goal <= 1.10")
for name, label in (("probe", "setting set, installer missing"), ("launch", "installer launched")):
    calls = dict(line.split() for line in open(f"{out}/{name}.calls"))
    launcher, floor = int(calls["Launcher"]), int(calls["floor"])
    ratio = launcher / floor
    print(f"{label:<30}{launcher:>14}{floor:>12}{ratio:>8.3f}  {'met' if ratio <= 1.10 else 'NOT met'}")
    print(open(f"{out}/{name}.said").read(), end="")
print(f"\n{'file':<16}{'bytes':>10}{'without resources':>20}")
for exe in ("Launcher.exe", "floor.exe"):
    path = f"{out}/{exe}"
    pe = pefile.PE(path)
    rsrc = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
    size = os.path.getsize(path)
    print(f"{exe:<16}{size:>10}{size - rsrc:>20}")
print(f"goal for Launcher.exe without resources: at most 163840 bytes")
if os.path.exists(link_map):
    print("\nLauncher.exe by origin (the linker's map; headers and alignment come on top)")
    print(subprocess.run([sys.executable, "bench/bytes_by_origin.py", link_map], capture_output=True, text=True).stdout, end="")
PY
