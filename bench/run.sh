#!/usr/bin/env bash
# Benchmark (not a test): Launcher.exe and Launcher-same-publisher.exe against a plain-C floor making
# the default build's Win32 calls, under Wine, on two paths: setting present but installer missing
# (probe only), and installer launched (for the same-publisher build: it and the installer signed by one
# throwaway publisher, so that it takes that path after its signature checks).
# Prints medians over RUNS runs (default 30) per command and their ratio; the Win32 and NT calls one run's
# main thread makes (counted with WINEDEBUG=+relay, server warm), and of those the calls made from each
# program's own image, where the same-publisher build's added calls show apart from Wine's crypto DLLs'
# own; both files' sizes, and the launcher's bytes by origin.
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
# The same-publisher build of the same kind: the shipped tree with the option on, or the twin's own.
same_tree=$tree
[ "$bench_preset" != win32 ] || same_tree=build/win32-same-publisher
cmake --preset "${same_tree#build/}" >/dev/null && cmake --build --preset "${same_tree#build/}" --target Launcher-same-publisher >/dev/null
same_unsigned=$same_tree/bin/Launcher-same-publisher.exe
tests/wine/sign_for_same_publisher.sh "$out" "$same_unsigned" "$out/quick_installer.exe"
mv "$out/Launcher-same-publisher-signed.exe" "$out/Launcher-same-publisher.exe"
# Every line read: a grep that stops at the first can leave ninja writing into a closed pipe, and
# pipefail then ends the run on its SIGPIPE.
compile=$(ninja -C "$tree" -t commands floor | grep -- ' -c ' | sed -n 1p)
echo "bench: the floor and Launcher.exe built in $tree by $(basename "${compile%% *}") and its C++ twin," \
  "with$(echo "$compile" | grep -o ' -O[s0-3].*-fdata-sections') (the launcher adds -fstack-protector-strong)"

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

time_path() {  # name, label, the beginning of the line each program must write on that path[, the same-publisher build's]
  for program in Launcher Launcher-same-publisher floor; do
    due=$3
    [ "$program" != Launcher-same-publisher ] || due=${4:-$3}
    # A warm run first: the server, the prefix's files and the page cache as in a timed run.
    "$loader" "$out/$program.exe" >/dev/null 2>&1
    WINEDEBUG=+pid,+relay,+loaddll "$loader" "$out/$program.exe" >/dev/null 2>"$out/relay.log"
    # Which way the run went, in the program's own words (relay's escapes undone): a program that took
    # another path than the one timed would be measured doing other work.
    said=$(grep -a -m1 -o "OutputDebugStringW([^ ]* L\"[^\"]*" "$out/relay.log" | sed 's/.*L"//; s/\\n$//; s/\\\\/\\/g' || true)
    if [ "${said#"$due"}" = "$said" ]; then
      echo "bench: $program.exe did not take the path timed as \"$2\": it said ${said:+\"$said\"}${said:-nothing on the debugger output}, where \"$due...\" was due" >&2
      exit 1
    fi
    echo "  $program said: $said" >>"$out/$1.said"
    main=$(grep -a -m1 -oE '^[0-9a-f]+:[0-9a-f]+:Call' "$out/relay.log" | sed 's/:Call$//')
    echo "$program $(grep -a -c "^$main:Call " "$out/relay.log")" >>"$out/$1.calls"
    echo "$program $(/usr/bin/python3 bench/own_calls.py "$out/relay.log" "$out/$program.exe")" >>"$out/$1.own"
  done
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$out/$1.json" \
    -n Launcher "$loader $out/Launcher.exe" -n Launcher-same-publisher "$loader $out/Launcher-same-publisher.exe" \
    -n floor "$loader $out/floor.exe" >/dev/null
}
rm -f "$install/SentrelInstaller.exe"
time_path probe "setting set, installer missing" 'Launcher: nothing started: no installer file (missing, or a directory): C:\Bench Installer\SentrelInstaller.exe'
cp "$out/quick_installer-signed.exe" "$install/SentrelInstaller.exe"
# Under Wine every file belongs to the Unix user (S-1-5-21-0-0-0-1000), so the same-publisher build's
# secure-location rule refuses at the drive root, its first object: the known Wine difference. Its launch
# path is timed to that refusal, after its own signature, the path rule and the rule's first reads, but
# without the walk's other folders, the installer's verification and the shell.
time_path launch "installer launched" 'Launcher: starting C:\Bench Installer\SentrelInstaller.exe' \
  'Launcher: nothing started: C:\ is owned by '

# The link map lies in the build tree of the Launcher.exe being timed.
/usr/bin/python3 - "$out" "$runs" "$(dirname "$(dirname "$launcher")")/Launcher.map" "$same_unsigned" <<'PY'
import json, os, subprocess, sys
import pefile
out, runs, link_map, same_unsigned = sys.argv[1:5]
paths = (("probe", "setting set, installer missing"), ("launch", "installer launched"))
print(f"\nmedian wall time of one run under Wine, {runs} runs each (same-publisher: Launcher-same-publisher.exe)")
print(f"{'path':<30}{'Launcher.exe':>14}{'floor (C)':>12}{'ratio':>8}  goal <= 1.05{'same-publisher':>17}{'ratio':>8}")
for name, label in paths:
    results = {r["command"]: r["median"] for r in json.load(open(f"{out}/{name}.json"))["results"]}
    launcher, floor, same = results["Launcher"], results["floor"], results["Launcher-same-publisher"]
    ratio = launcher / floor
    print(f"{label:<30}{launcher * 1000:>11.1f} ms{floor * 1000:>9.1f} ms{ratio:>8.3f}  {'met' if ratio <= 1.05 else 'NOT met':<11}"
          f"{same * 1000:>14.1f} ms{same / floor:>8.3f}")
print(f"\nWin32 and NT calls of one run's main thread (WINEDEBUG=+relay, server warm)")
print(f"{'path':<30}{'Launcher.exe':>14}{'floor (C)':>12}{'ratio':>8}  goal <= 1.10{'same-publisher':>17}{'ratio':>8}")
for name, label in paths:
    calls = dict(line.split() for line in open(f"{out}/{name}.calls"))
    launcher, floor, same = int(calls["Launcher"]), int(calls["floor"]), int(calls["Launcher-same-publisher"])
    ratio = launcher / floor
    print(f"{label:<30}{launcher:>14}{floor:>12}{ratio:>8.3f}  {'met' if ratio <= 1.10 else 'NOT met':<11}{same:>17}{same / floor:>8.3f}")
    print(open(f"{out}/{name}.said").read(), end="")
print("  (under relay, the same-publisher build's count takes in every exported call that Wine's own wintrust,\n"
      "  crypt32 and rsaenh make while they hash and verify: Wine's work, more than the launcher's own calls)")
print("  (on the launch path under Wine the same-publisher build stops at its secure-location rule's first\n"
      "  object, the drive root, which Wine gives the Unix user's SID as owner: the known Wine difference)")
print(f"\nof those, the calls made from each program's own image (its code and the runtime linked into it)")
print(f"{'path':<30}{'Launcher.exe':>14}{'floor (C)':>12}{'same-publisher':>17}{'added':>8}")
for name, label in paths:
    own = dict(line.split() for line in open(f"{out}/{name}.own"))
    launcher, floor, same = int(own["Launcher"]), int(own["floor"]), int(own["Launcher-same-publisher"])
    print(f"{label:<30}{launcher:>14}{floor:>12}{same:>17}{same - launcher:>+8}")
print(f"\n{'file (unsigned)':<28}{'bytes':>10}{'without resources':>20}")
for exe, path in (("Launcher.exe", f"{out}/Launcher.exe"), ("Launcher-same-publisher.exe", same_unsigned),
                  ("floor.exe", f"{out}/floor.exe")):
    pe = pefile.PE(path)
    rsrc = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
    size = os.path.getsize(path)
    print(f"{exe:<28}{size:>10}{size - rsrc:>20}")
print(f"goal for Launcher.exe without resources: at most 163840 bytes")
if os.path.exists(link_map):
    print("\nLauncher.exe by origin (the linker's map; headers and alignment come on top)")
    print(subprocess.run([sys.executable, "bench/bytes_by_origin.py", link_map], capture_output=True, text=True).stdout, end="")
PY
