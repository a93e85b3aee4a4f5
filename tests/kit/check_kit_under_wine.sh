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
. scripts/wine-prefix.sh
new_wine_prefix "$WINEPREFIX" "$source/build/wine-templates" /usr/lib/wine/wine64
# Gone when the test ends: only the template stays.
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; /usr/lib/wine/wineserver -w; rm -rf "$WINEPREFIX"' EXIT

folder="$WINEPREFIX/drive_c/Kit"
mkdir -p "$folder"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$kit" "$folder"

failed=0
# run_kit.cmd judged alone, with stand-ins for the runner and for runas (each row sets the report, the
# exit status and how long it runs): it exits 0 only for a whole report that proves every check its mode
# requires, from a runner that exited 0. The folder's name holds a space, "&", parentheses, "^" and a
# letter outside ASCII, all of which cmd must take as they are.
cmake --build --preset "$preset" --target stand_in_runner stand_in_runas as_administrator >/dev/null
stand_in_name='Stand In & (Co) ^Zoë'
stand_in="$WINEPREFIX/drive_c/$stand_in_name"
mkdir -p "$stand_in" "$WINEPREFIX/drive_c/Fake"
cp "build/$preset/bin/stand_in_runner.exe" "$stand_in/LauncherChecks.exe"
# The source's run_kit.cmd, not the twin kit's (which lets the WOW6432Node fact be skipped): the rows
# mean the same on both kinds of machine.
sed 's/\r$//; s/$/\r/' kit/run_kit.cmd >"$stand_in/run_kit.cmd"
# A find.exe that answers 1 (not found) to every search, as GNU find does to Windows find's arguments:
# the runas stand-in, which cannot start the search text it is given. One in the kit's folder, one
# first on PATH; run_kit.cmd must use neither.
cp "build/$preset/bin/stand_in_runas.exe" "$stand_in/find.exe"
cp "build/$preset/bin/stand_in_runas.exe" "$WINEPREFIX/drive_c/Fake/find.exe"
# The checks each mode requires, as the runner names them.
required=("test program: registry" "test program: file probe" "test program: code page" "test program: end to end"
  "test program: DLL search" "test program: runtime"
  "test program: same-publisher build, an untrusted chain: nothing started"
  "test program: same-publisher build, a trusted chain: started"
  "test program: same-publisher build, a junction on the path: nothing started"
  "test program: a held file's folder cannot be renamed or made a junction"
  "UTF-8 conversion refuses WC_NO_BEST_FIT_CHARS with ERROR_INVALID_FLAGS"
  "UTF-8 conversion refuses lpUsedDefaultChar with ERROR_INVALID_PARAMETER"
  "1252 with flags 0 turns U+0141 into L (best fit)"
  "1252 with WC_NO_BEST_FIT_CHARS turns U+0141 into ? and says the default was used"
  "ShellExecuteA does not expand environment variables in the file name" "kernel32 has SetDefaultDllDirectories"
  "a 32-bit process's HKLM\\Software is WOW6432Node")
virtualization="a VirtualStore value overrides HKLM while virtualized, and not once virtualization is off"
report() {  # NAME HEADER LINE...: a report in the stand-in's folder, CRLF as the runner writes it
  local name=$1 header=$2
  shift 2
  printf '%s\r\n' "LauncherChecks, a stand-in" "$header" "$@" >"$stand_in/$name"
}
elevated_ok=("${required[@]/#/ok: }")
report clean.txt "elevated: yes; registry virtualization: disabled" "${elevated_ok[@]}" "skipped: another check: not here" \
  "${#required[@]} passed, 0 failed"
report failed.txt "elevated: yes; registry virtualization: disabled" "${elevated_ok[@]}" \
  "FAILED: another check: 2, expected 1" "${#required[@]} passed, 1 failed"
report not-elevated.txt "elevated: no; registry virtualization: enabled" "${elevated_ok[@]}" "${#required[@]} passed, 0 failed"
report no-closing-line.txt "elevated: yes; registry virtualization: disabled" "${elevated_ok[@]}"
report too-few-passed.txt "elevated: yes; registry virtualization: disabled" "${elevated_ok[@]}" "3 passed, 0 failed"
report unelevated.txt "elevated: no; registry virtualization: enabled" "ok: $virtualization" "1 passed, 0 failed"
report uac-off.txt "elevated: no; registry virtualization: disabled" \
  "not proven: $virtualization: UAC is off (EnableLUA is 0)" "0 passed, 1 failed"
rows=""
for i in "${!required[@]}"; do  # each required check in turn skipped, as a run that could not prove it says
  skipped=("${elevated_ok[@]}")
  skipped[i]="skipped: ${required[i]}: not here"
  report "skipped-$i.txt" "elevated: yes; registry virtualization: disabled" "${skipped[@]}" \
    "$(( ${#required[@]} - 1 )) passed, 0 failed"
  rows+="${required[i]} skipped|skipped-$i.txt|0||||1|not proven: ${required[i]}"$'\n'
done
for status in 0 1 2 3 4 5 6 7 8 9; do  # the status digit must reach the summary, whichever it is
  rows+="no report, the runner's exit status $status||$status||||1|FAILED: LauncherChecks.exe wrote no report; its exit status was $status"$'\n'
done
win_folder="C:\\$stand_in_name"
# A folder's name reaches cmd through the environment: Wine quotes a command line's arguments for C
# programs, not as cmd /c reads them. Without "call": Wine's cmd returns 1 from a called batch file's
# exit status 2. What cmd prints is in the ANSI code page.
printf '@"%%KIT%%\\run_kit.cmd" "%%KIT%%" "%%KIT%%\\reports" %%*\r\n' >"$WINEPREFIX/drive_c/call_run_kit.cmd"
# name | report (a file in the stand-in's folder, or none) | runner's exit status | run_kit.cmd's third
# argument | GITHUB_ACTIONS | more environment (NAME=VALUE ...) | run_kit.cmd's exit status | a line its
# output must hold (a FAILED line also in the job summary)
while IFS='|' read -r name report status mode actions environment want_status want_line; do
  [ -n "$name" ] || continue
  rm -rf "$stand_in/reports" "$stand_in/summary.md" "$stand_in"/LauncherChecks-*
  # A runas.exe where run_kit.cmd looks for it, for the cmd of either bitness, unless the row has none.
  for system in system32 syswow64; do
    rm -f "$WINEPREFIX/drive_c/windows/$system/runas.exe"
    [[ " $environment " == *" NO_RUNAS=yes "* ]] ||
      cp "build/$preset/bin/stand_in_runas.exe" "$WINEPREFIX/drive_c/windows/$system/runas.exe"
  done
  set +e
  env STAND_IN_REPORT=${report:+"$win_folder\\$report"} STAND_IN_STATUS=$status GITHUB_ACTIONS=$actions \
    GITHUB_STEP_SUMMARY="$win_folder\\summary.md" RUN_KIT_START_SECONDS=3 KIT="$win_folder" $environment \
    "$loader" cmd /c 'C:\call_run_kit.cmd' $mode </dev/null >"$work/run_kit.out" 2>&1
  got=$?
  set -e
  out=$(iconv -f CP1252 -t UTF-8 "$work/run_kit.out" | tr -d '\r')
  summary=$(iconv -f CP1252 -t UTF-8 "$stand_in/summary.md" 2>/dev/null | tr -d '\r' || true)
  if [ "$got" = "$want_status" ] && grep -qxF -- "$want_line" <<<"$out" &&
     { [[ $want_line != FAILED:* ]] || grep -qxF -- "$want_line" <<<"$summary"; }; then
    echo "ok: run_kit.cmd: $name"
  else
    printf '%s\n' "FAILED: run_kit.cmd: $name: exit status $got (want $want_status), output and summary must hold the line: $want_line" \
      "$out" "-- summary:" "$summary"
    failed=1
  fi
done <<EOF_RUN_KIT
a clean report|clean.txt|0||||0|report: "$win_folder\\reports\\LauncherChecks-STANDIN-20000101-000000.txt"
a report with a FAILED line|failed.txt|0||||1|FAILED: the report has FAILED lines
a FAILED line, another find.exe in the kit's folder and first on PATH|failed.txt|0|||WINEPATH=C:\\Fake|1|FAILED: the report has FAILED lines
a clean report, and the runner's exit status 3|clean.txt|3||||1|FAILED: LauncherChecks.exe exited 3
elevated, a report that says elevated: no|not-elevated.txt|0||||1|not proven: elevation: the report does not say elevated: yes; run run_kit.cmd as administrator
a report without its closing line|no-closing-line.txt|0||||1|FAILED: the report has no closing line that says none failed
a closing line with fewer passed than proven|too-few-passed.txt|0||||1|FAILED: the report's closing line counts fewer checks passed than the ${#required[@]} it proves
a runner killed before its report was whole|clean.txt|0|||STAND_IN_PARTIAL=yes|1|FAILED: incomplete report: LauncherChecks.exe ended before its report was whole; what it wrote is LauncherChecks-report.partial in the reports folder
an unknown third argument|clean.txt|0|elevatd|||2|usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
on GitHub Actions, a skipped check is a warning on the run's page|clean.txt|0||true||0|::warning title=LauncherChecks elevated::skipped: another check: not here
without elevation, a clean report|unelevated.txt|0|unelevated|||0|report: "$win_folder\\reports\\LauncherChecks-STANDIN-20000101-000000.txt"
without elevation, where Windows does not virtualize|uac-off.txt|0|unelevated|||1|  the report says: not proven: $virtualization: UAC is off (EnableLUA is 0)
without elevation, a runner that never starts|unelevated.txt|0|unelevated||STAND_IN_RUNAS_STARTS=no|1|FAILED: the run without elevation could not be made: no LauncherChecks.exe ran, and no report came, within 3 seconds of runas
without elevation, a runner that ends without a report||0|unelevated||STAND_IN_SECONDS=3|1|FAILED: LauncherChecks.exe ended without writing a report
without elevation, where there is no runas|unelevated.txt|0|unelevated||NO_RUNAS=yes|1|FAILED: the run without elevation could not be made: there is no runas.exe here
$rows
EOF_RUN_KIT
rm -rf "$stand_in" "$WINEPREFIX/drive_c/Fake" "$WINEPREFIX/drive_c/call_run_kit.cmd"

key='HKLM\Software\Vantorq Technologies\SnDriverInstaller'
# The real runs are made as a vendor makes them, as administrator: Wine 10, like Windows with UAC on,
# starts programs with a limited token.
admin="Z:${source//\//\\}\\build\\$preset\\bin\\as_administrator.exe"
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
    (cd "$folder" && "$loader" "$admin" 'C:\Kit\LauncherChecks.exe' </dev/null >"$work/cut-off.out" 2>&1 &)
    for _ in $(seq 1200); do [ -f "$folder/LauncherChecks-saved-setting.bin" ] && break; sleep 0.1; done
    sleep 2
    /usr/lib/wine/wineserver -k
    /usr/lib/wine/wineserver -w
    [ -f "$folder/LauncherChecks-saved-setting.bin" ] || echo "note: the first run ended before it could be cut off"
  fi

  set +e
  GITHUB_STEP_SUMMARY="Z:${work//\//\\}\\summary.md" "$loader" "$admin" cmd /c 'C:\Kit\run_kit.cmd' 'C:\Kit' \
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
    # The JUnit file says what the text report says, check by check.
    junit=$(/usr/bin/python3 - "$report" "${report%.txt}-junit.xml" <<'PY' 2>&1
import re, sys, xml.etree.ElementTree as tree
lines = open(sys.argv[1], encoding="utf-8").read().replace("\r", "").split("\n")
text = [l for l in lines if re.match(r"(ok|FAILED|not proven|skipped|known Wine difference): ", l)]
junit = []
for case in tree.parse(sys.argv[2]).iter("testcase"):
    failure, skipped = case.find("failure"), case.find("skipped")
    if failure is not None:
        prefix, detail = ("not proven" if failure.get("type") == "not proven" else "FAILED"), failure.get("message")
    elif skipped is not None:
        detail = skipped.get("message")
        prefix = "known Wine difference" if detail.startswith("known Wine difference: ") else "skipped"
        detail = detail.removeprefix("known Wine difference: ")
    else:
        prefix, detail = "ok", ""
    junit.append(f"{prefix}: {case.get('name')}" + (f": {detail.splitlines()[0]}" if detail else ""))
if junit != text or not junit:
    sys.exit("the JUnit file and the report differ:\n  junit:  " + "\n  junit:  ".join(junit) + "\n  report: " + "\n  report: ".join(text))
PY
) || problems+=("$junit")
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
