#!/usr/bin/env bash
# The check kit as a vendor uses it, under Wine: unzipped into a fresh prefix, its runner started there.
# Three things must hold, whether a vendor's setting is in the 32-bit view, the 64-bit view or both
# before the run: the report shows every check ok, skipped or a known Wine difference (no FAILED line,
# and a summary with none failed); the setting is there afterwards byte for byte, in both registry
# views, although an earlier run was cut off while it had the setting changed; and nothing but the
# report is left behind. Each of those runs goes through run_kit.cmd under Wine's cmd, as the Windows CI
# job runs it: its exit status, the report it moves aside and the job summary it writes are checked too.
#
# Usage: check_kit_under_wine.sh SOURCE_DIRECTORY WORK_DIRECTORY
# Makes the kit first (make-kit.sh) from the build the Wine tests run on: the i686 kit itself, or, where
# Wine cannot run 32-bit programs, its x86_64 twin (the i686 kit would take an hour under emulation).
set -euo pipefail
source=$(readlink -f "$1")
mkdir -p "$2"
work=$(readlink -f "$2")
cd "$source"
# The preset, the loader that runs its programs, and the prefix's environment. A 64-bit prefix, so that
# there are two registry views; winemenubuilder off, or it writes under $HOME.
. scripts/wine-target.sh "$work/prefix" "checking the kit made from"
export WINEARCH=win64 WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
kit/make-kit.sh "$preset" >"$work/make-kit.log" 2>&1 || { cat "$work/make-kit.log"; exit 1; }
kit=$source/$(sed -n 's/^kit: *//p' "$work/make-kit.log")
echo "the kit made from the $preset build: $kit"
rm -rf "$WINEPREFIX"
/usr/lib/wine/wine64 wineboot --init </dev/null >"$work/wineboot.log" 2>&1 || true
/usr/lib/wine/wineserver -w

folder="$WINEPREFIX/drive_c/Kit"
mkdir -p "$folder"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$kit" "$folder"

failed=0
# run_kit.cmd judged alone, with a stand-in for the runner (its report and exit status set by each row):
# it exits 0 only when it read a whole report with no FAILED line from a runner that exited 0. What this
# cannot show: the run without elevation past runas (Wine has none), so its wait for the runner
# (tasklist) runs only on Windows.
cmake --build --preset "$preset" --target stand_in_runner >/dev/null
stand_in="$WINEPREFIX/drive_c/StandIn"
mkdir -p "$stand_in"
cp "build/$preset/bin/stand_in_runner.exe" "$stand_in/LauncherChecks.exe"
cp "$folder/run_kit.cmd" "$stand_in/"
printf 'LauncherChecks, a stand-in\r\nok: a check\r\nskipped: another check: not here\r\n1 passed, 0 failed\r\n' >"$stand_in/clean.txt"
printf 'LauncherChecks, a stand-in\r\nok: a check\r\nFAILED: another check: 2, expected 1\r\n1 passed, 1 failed\r\n' >"$stand_in/failed.txt"
# name | report (a file in StandIn, or none) | runner's exit status | run_kit.cmd's third argument |
# GITHUB_ACTIONS | run_kit.cmd's exit status | a line its output must hold
while IFS='|' read -r name report status mode actions want_status want_line; do
  rm -rf "$stand_in/reports"
  set +e
  STAND_IN_REPORT=${report:+"C:\\StandIn\\$report"} STAND_IN_STATUS=$status GITHUB_ACTIONS=$actions \
    "$loader" cmd /c 'C:\StandIn\run_kit.cmd' 'C:\StandIn' 'C:\StandIn\reports' $mode </dev/null >"$work/run_kit.out" 2>&1
  got=$?
  set -e
  out=$(tr -d '\r' <"$work/run_kit.out")
  if [ "$got" = "$want_status" ] && grep -qxF -- "$want_line" <<<"$out"; then
    echo "ok: run_kit.cmd: $name"
  else
    printf '%s\n' "FAILED: run_kit.cmd: $name: exit status $got (want $want_status), output must hold the line: $want_line" "$out"
    failed=1
  fi
done <<'EOF_RUN_KIT'
a clean report|clean.txt|0|||0|report: C:\StandIn\reports\LauncherChecks-STANDIN-20000101-000000.txt
a report with a FAILED line|failed.txt|0|||1|the report has FAILED lines
no report|||||1|FAILED: LauncherChecks.exe wrote no report; its exit status was 0
a clean report, and the runner's exit status 3|clean.txt|3|||1|LauncherChecks.exe exited 3
without elevation, where there is no runas|clean.txt|0|unelevated||1|FAILED: the run without elevation could not be made: runas /trustlevel:0x20000 failed or is missing here (errorlevel 9009)
on GitHub Actions, a skipped check is a warning on the run's page|clean.txt|0||true|0|::warning title=LauncherChecks elevated::skipped: another check: not here
EOF_RUN_KIT
rm -rf "$stand_in"

key='HKLM\Software\Vantorq Technologies\SnDriverInstaller'
setting() {  # what reg query prints of each view, "not found" too
  for view in /reg:32 /reg:64; do { "$loader" reg query "$key" "$view" </dev/null 2>&1 || true; } | tr -d '\r'; done
}
contents() {  # files, and registry keys (Wine writes its registry files once the server is done)
  (cd "$WINEPREFIX" && {
    find drive_c -path '*/Temp' -prune -o -print
    sed -n 's/^\(\[[^]]*\]\).*/\1/p' system.reg user.reg
  } | sort)
}

# A vendor's own setting in the views named, with another value beside it in the key; none in the others.
for views in "/reg:32 /reg:64" "/reg:64" "/reg:32"; do
  echo "== a vendor's setting in $views"
  for view in /reg:32 /reg:64; do
    "$loader" reg delete "$key" /f "$view" </dev/null >/dev/null 2>&1 || true
    case " $views " in *" $view "*) ;; *) continue ;; esac
    "$loader" reg add "$key" /v InstallDirectory /t REG_SZ /d "C:\\Vendor ${view#/reg:}\\" /f "$view" </dev/null >/dev/null 2>&1
    "$loader" reg add "$key" /v Other /t REG_DWORD /d 7 /f "$view" </dev/null >/dev/null 2>&1
  done
  rm -rf "$work/reports" "$work/summary.md"
  setting >"$work/setting.before"
  /usr/lib/wine/wineserver -w
  contents >"$work/contents.before"

  # First a run cut off while the programs that change the setting run (its saved copy is there): the
  # next run must put the setting back before anything else. Once: the runs after it show the rest.
  if [ "$views" = "/reg:32 /reg:64" ]; then
    (cd "$folder" && "$loader" 'C:\Kit\LauncherChecks.exe' </dev/null >"$work/cut-off.out" 2>&1 &)
    for _ in $(seq 1200); do [ -f "$folder/LauncherChecks-saved-setting.bin" ] && break; sleep 0.1; done
    sleep 2
    /usr/lib/wine/wineserver -k
    /usr/lib/wine/wineserver -w
    [ -f "$folder/LauncherChecks-saved-setting.bin" ] || echo "note: the first run ended before it could be cut off"
  fi

  set +e
  GITHUB_STEP_SUMMARY="Z:${work//\//\\}\\summary.md" "$loader" cmd /c 'C:\Kit\run_kit.cmd' 'C:\Kit' \
    "Z:${work//\//\\}\\reports" </dev/null >"$work/runner.out" 2>"$work/runner.err"
  status=$?
  set -e
  /usr/lib/wine/wineserver -w
  setting >"$work/setting.after"
  contents >"$work/contents.after"

  problems=()
  report=$(find "$work/reports" -maxdepth 1 -name 'LauncherChecks-*-*.txt' 2>/dev/null | head -n 1)
  if [ -z "$report" ]; then
    problems+=("no report moved aside by run_kit.cmd; it printed:" "$(cat "$work/runner.out")")
  else
    sed 's/^/  | /' "$report" | tr -d '\r'
    # After the header, which ends where the first check's line starts.
    bad=$(tr -d '\r' <"$report" | awk '/^(ok|skipped|known Wine difference|FAILED): / { checks = 1 } checks' |
      grep -vE '^(ok|skipped|known Wine difference): |^[0-9]+ passed, 0 failed$' || true)
    [ -z "$bad" ] || problems+=("report lines that are not ok, skipped or a known Wine difference:" "$bad")
    tr -d '\r' <"$report" | grep -qE '^[0-9]+ passed, 0 failed$' || problems+=("no summary with none failed")
    grep -q '^ok: test program: end to end' "$report" || problems+=("the end-to-end programs did not run")
    if [ "$views" = "/reg:32 /reg:64" ]; then
      grep -q '^restored the setting saved by an earlier run' "$report" ||
        problems+=("the setting saved by the run that was cut off was not restored first")
    fi
    tr -d '\r' <"$work/summary.md" 2>/dev/null | grep -qF "$(tr -d '\r' <"$report" | tail -n 1)" ||
      problems+=("the job summary does not hold the report")
  fi
  [ "$status" = 0 ] || problems+=("run_kit.cmd's exit status: $status")
  cmp -s "$work/setting.before" "$work/setting.after" ||
    problems+=("the setting changed:" "$(diff "$work/setting.before" "$work/setting.after")")
  left=$(comm -13 "$work/contents.before" "$work/contents.after" || true)
  [ -z "$left" ] || problems+=("left behind:" "$left")

  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok: a vendor's setting in $views: the kit's report, the setting kept, nothing left behind"
  else
    printf '%s\n' "FAILED: a vendor's setting in $views:" "${problems[@]}"
    failed=1
  fi
done
exit $failed
