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
# The floor and the stand-in installer come from the build tree of the Launcher.exe timed: the shipped
# build where 32-bit Wine runs natively, else the x86_64 twin's. There the floor is compiled by the same
# compiler variant with the same options, and reads the setting from the same registry view.
tree=$(dirname "$(dirname "$launcher")")
bench_preset=${tree#build/}
targets="floor quick_installer Launcher"
cmake --preset "$bench_preset" >/dev/null && cmake --build --preset "$bench_preset" --target $targets >/dev/null
rm -rf "$out" && mkdir -p "$out"
cp "$tree/bin/floor.exe" "$tree/bin/quick_installer.exe" "$out/"
echo "bench: both programs built in $tree by $(sed -n 's/^CMAKE_C_COMPILER:[A-Z]*=//p' "$tree/CMakeCache.txt" | xargs basename)" \
  "and its C++ twin, with $(ninja -C "$tree" -t commands floor | grep -m1 -o ' -O[s0-3].*-fdata-sections') (the launcher adds -fstack-protector-strong)"

. scripts/wine-prefix.sh
new_wine_prefix "$WINEPREFIX" "$PWD/build/wine-templates"
# One server for the whole run, so that no timed run pays for starting it.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

install="$WINEPREFIX/drive_c/Bench Installer"
mkdir -p "$install"
"$loader" reg add 'HKLM\Software\Vantorq Technologies\SnDriverInstaller' /v InstallDirectory /t REG_SZ \
  /d 'C:\Bench Installer\' /f "$view" >/dev/null 2>&1
cp "$launcher" "$out/Launcher.exe"

time_path() {  # name, label, the beginning of the line each program must write on that path
  for program in Launcher floor; do
    # A warm run first: the server, the prefix's files and the page cache as in a timed run.
    "$loader" "$out/$program.exe" >/dev/null 2>&1
    WINEDEBUG=+pid,+relay "$loader" "$out/$program.exe" >/dev/null 2>"$out/relay.log"
    # Which way the run went, in the program's own words (relay's escapes undone): a program that took
    # another path than the one timed would be measured doing other work.
    said=$(grep -a -m1 -o "OutputDebugStringW([^ ]* L\"[^\"]*" "$out/relay.log" | sed 's/.*L"//; s/\\n$//; s/\\\\/\\/g' || true)
    if [ "${said#"$3"}" = "$said" ]; then
      echo "bench: $program.exe did not take the path timed as \"$2\": it said ${said:+\"$said\"}${said:-nothing on the debugger output}, where \"$3...\" was due" >&2
      exit 1
    fi
    echo "  $program said: $said" >>"$out/$1.said"
    main=$(grep -a -m1 -oE '^[0-9a-f]+:[0-9a-f]+:Call' "$out/relay.log" | sed 's/:Call$//')
    echo "$program $(grep -a -c "^$main:Call " "$out/relay.log")" >>"$out/$1.calls"
  done
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$out/$1.json" \
    -n Launcher "$loader $out/Launcher.exe" -n floor "$loader $out/floor.exe" >/dev/null
}
rm -f "$install/SentrelInstaller.exe"
time_path probe "setting set, installer missing" 'Launcher: nothing started: no installer file (missing, or a directory): C:\Bench Installer\SentrelInstaller.exe'
cp "$out/quick_installer.exe" "$install/SentrelInstaller.exe"
time_path launch "installer launched" 'Launcher: starting C:\Bench Installer\SentrelInstaller.exe'

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
