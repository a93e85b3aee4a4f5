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
. scripts/wine-prefix.sh
# The i686 kit's programs are 32-bit: its prefix needs Wine's 32-bit DLLs.
bits=""
[ "$arch" != i686 ] || bits=32bit
new_wine_prefix "$WINEPREFIX" "$(wine_templates "$source")" /usr/lib/wine/wine64 $bits
# TERM, HUP and INT end the script through its EXIT trap (dash runs no EXIT trap when a signal ends it).
trap 'exit 143' TERM; trap 'exit 129' HUP; trap 'exit 130' INT
# Gone when the test ends: only the template stays.
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; /usr/lib/wine/wineserver -w; rm -rf "$WINEPREFIX"' EXIT

failed=0
# run_kit.cmd and the verdict, with a stand-in for the runner (each row sets the report it writes, its
# exit status and more): run_kit.cmd passes the verdict on, which is 0 only for a whole report of this
# run that proves every check its mode requires, from a runner that exited 0. The folder's name holds a
# space, "&", parentheses, "^" and a letter outside ASCII, all of which cmd must take as they are.
cmake --build --preset "$preset" --target stand_in_runner as_administrator LauncherChecksVerdict >/dev/null
stand_in_name='Stand In & (Co) ^Zoë'
stand_in="$WINEPREFIX/drive_c/$stand_in_name"
mkdir -p "$stand_in"
cp "build/$preset/bin/stand_in_runner.exe" "$stand_in/LauncherChecks.exe"
cp "build/$preset/bin/LauncherChecksVerdict.exe" "$stand_in/"
sed 's/\r$//; s/$/\r/' kit/run_kit.cmd >"$stand_in/run_kit.cmd"
# The checks each mode requires: the kit README's lists, which a host test holds to the table.
mapfile -t required < <(sed -n '/^\*\*The elevated run requires:\*\*$/,/^It proves/s/^- `\(.*\)`$/\1/p' kit/README.md)
virtualization=$(sed -n '/^\*\*The unelevated run requires:\*\*$/,/^It proves/s/^- `\(.*\)`$/\1/p' kit/README.md)
[ ${#required[@]} -gt 10 ] && [ -n "$virtualization" ] || { echo "FAILED: no list of required checks in kit/README.md"; exit 1; }
high="token: integrity level High (S-1-16-12288), elevation type Full, virtualization allowed no, enabled no"
medium="token: integrity level Medium (S-1-16-8192), elevation type Limited, virtualization allowed yes, enabled yes"
# The verdict proves only its own build's reports: the stand-in's are of the build the verdict is ($arch).
machine="x64, this runner under WOW64"
[ "$arch" = i686 ] || machine="x64, this runner native"
elevated_header=("runner built for: $arch" "machine: $machine" "ANSI code page 1252, OEM code page 437"
  "$high" "elevated: yes; registry virtualization: disabled" "mode: elevated")
unelevated_header=("runner built for: $arch" "machine: $machine" "ANSI code page 1252, OEM code page 437"
  "$medium" "elevated: no; registry virtualization: enabled" "mode: unelevated")
report() {  # NAME LINE...: what the stand-in writes after its title and run id, CRLF as the runner writes
  local name=$1
  shift
  printf '%s\r\n' "$@" >"$stand_in/$name"
}
elevated_ok=("${required[@]/#/ok: }")
wow64="a 32-bit process's HKLM\\Software is WOW6432Node"
# The x86_64 build is no 32-bit process: the WOW6432Node fact is not applicable to it, by its header.
[ "$arch" = i686 ] || elevated_ok=("${elevated_ok[@]/#"ok: $wow64"/"not applicable: $wow64: this runner is built for x86_64"}")
n=$(printf '%s\n' "${elevated_ok[@]}" | grep -c '^ok: ')  # the ok lines a clean report's closing line counts
na=$((${#required[@]} - n))  # and the checks it rules out
report clean.txt "${elevated_header[@]}" "${elevated_ok[@]}" "skipped: another check: not here" "$n passed, 0 failed"
report failed.txt "${elevated_header[@]}" "${elevated_ok[@]}" "FAILED: another check: 2, expected 1" "$n passed, 1 failed"
report not-elevated.txt "${elevated_header[@]/elevated: yes;/elevated: no;}" "${elevated_ok[@]}" "$n passed, 0 failed"
report no-closing-line.txt "${elevated_header[@]}" "${elevated_ok[@]}"
report too-few-passed.txt "${elevated_header[@]}" "${elevated_ok[@]}" "3 passed, 0 failed"
report closing-not-last.txt "${elevated_header[@]}" "${elevated_ok[@]}" "$n passed, 0 failed" "ok: another check"
report not-proven.txt "${elevated_header[@]}" "${elevated_ok[@]:1}" "not proven: ${required[0]}: not elevated" "$((n - 1)) passed, 1 failed"
report not-proven-other.txt "${elevated_header[@]}" "${elevated_ok[@]}" "not proven: another check: not elevated" "$n passed, 0 failed"
report missing.txt "${elevated_header[@]}" "${elevated_ok[@]:1}" "$((n - 1)) passed, 0 failed"
report empty.txt "${elevated_header[@]}" "0 passed, 0 failed"
code_page_na=("${elevated_ok[@]/#"ok: test program: code page"/"not applicable: test program: code page: 1253"}")
report code-page-na.txt "${elevated_header[@]}" "${code_page_na[@]}" "$((n - 1)) passed, 0 failed"
twin_ok=("${elevated_ok[@]/#"ok: $wow64"/"not applicable: $wow64: this runner is built for x86_64"}")
twin_header=("${elevated_header[@]/#runner built for: */runner built for: x86_64}")
report twin.txt "${twin_header[@]/#machine: */machine: x64, this runner native}" "${twin_ok[@]}" \
  "$(printf '%s\n' "${twin_ok[@]}" | grep -c '^ok: ') passed, 0 failed"
report arm64.txt "${elevated_header[@]/#runner built for: */runner built for: arm64}" "${twin_ok[@]}" \
  "$(printf '%s\n' "${twin_ok[@]}" | grep -c '^ok: ') passed, 0 failed"
if [ "$arch" = i686 ]; then
  twin_verdict="2|verdict of the elevated run: not proven: the report's runner was built for x86_64, this verdict for i686: it judges only its own build's reports"
else
  twin_verdict="0|verdict of the elevated run: proven: $n required checks proven, 1 not applicable"
fi
report contradicted.txt "${elevated_header[@]}" "${elevated_ok[@]}" "skipped: ${required[0]}: not here" "$n passed, 0 failed"
report ok-twice.txt "${elevated_header[@]}" "${elevated_ok[@]}" "${elevated_ok[0]}" "$((n + 1)) passed, 0 failed"
# What a failing program printed in another code page, as a report of an older runner could hold it.
report failed-1252.txt "${elevated_header[@]}" "${elevated_ok[@]}" $'FAILED: another check: expected \xE9t\xE9' "$n passed, 1 failed"
# A header line that std::regex's recursion could not read (20 KB overflowed the verdict's 1 MB stack).
report long-line.txt "${elevated_header[@]/%OEM code page 437/OEM code page 437$(printf '%20000s' x)}" "${elevated_ok[@]}" \
  "$n passed, 0 failed"
report unelevated.txt "${unelevated_header[@]}" "ok: $virtualization" "1 passed, 0 failed"
report medium-not-allowed.txt "${unelevated_header[@]/allowed yes/allowed no}" "ok: $virtualization" "1 passed, 0 failed"
report high-unelevated.txt "${unelevated_header[@]/"$medium"/"$high"}" "ok: $virtualization" "1 passed, 0 failed"
elevated_skipped=()
for check in "${required[@]}"; do elevated_skipped+=("skipped: $check: the elevated run's"); done
report no-user-token.txt "${unelevated_header[@]/"$medium"/"$high"}" "user token: none: no desktop shell runs in this session" \
  "${elevated_skipped[@]}" "not applicable: $virtualization: this run's token is not one that Windows virtualizes" \
  "0 passed, 0 failed"
rows=""
for i in "${!required[@]}"; do  # each required check in turn skipped, as a run that could not prove it says
  skipped=("${elevated_ok[@]}")
  skipped[i]="skipped: ${required[i]}: not here"
  report "skipped-$i.txt" "${elevated_header[@]}" "${skipped[@]}" "$(printf '%s\n' "${skipped[@]}" | grep -c '^ok: ') passed, 0 failed"
  rows+="${required[i]} skipped|skipped-$i.txt|0||||2|verdict of the elevated run: not proven: no line proves ${required[i]}"$'\n'
done
for status in 0 1 2 3 4 5 6 7 8 9; do  # the runner's status reaches the verdict, whichever it is
  rows+="no report, the runner's exit status $status||$status||||2|verdict of the elevated run: not proven: no report: LauncherChecks.exe wrote no report for this run; its exit status was $status"$'\n'
done
win_folder="C:\\$stand_in_name"
# A folder's name reaches cmd through the environment: Wine quotes a command line's arguments for C
# programs, not as cmd /c reads them. Without "call": Wine's cmd returns 1 from a called batch file's
# exit status 2. With CONSOLE_CP set, the row runs in a terminal, so that cmd has a console as it always
# has on Windows, sets that code page (chcp) and sends run_kit.cmd's output to a file (console.out), as
# GitHub's runner reads a step's output from a pipe after chcp 65001.
printf '%s\r\n' '@if not defined CONSOLE_CP goto plain' '@chcp %CONSOLE_CP% >nul' \
  '@"%KIT%\run_kit.cmd" %FOLDERS% %* >"%KIT%\console.out" 2>&1' ':plain' \
  '@"%KIT%\run_kit.cmd" %FOLDERS% %*' >"$WINEPREFIX/drive_c/call_run_kit.cmd"
# Two drive letters for the rows that give a drive root: K: is the stand-in's folder, R: an empty one.
mkdir -p "$WINEPREFIX/drive_c/reports-root"
ln -sfn "../drive_c/$stand_in_name" "$WINEPREFIX/dosdevices/k:"
ln -sfn ../drive_c/reports-root "$WINEPREFIX/dosdevices/r:"
folders_as() {  # ENVIRONMENT: the two folders as the row types them (FOLDERS_AS), on run_kit.cmd's command line
  case " $1 " in
    *" FOLDERS_AS=trailing "*) printf '"%s\\" "%s\\reports\\"' "$win_folder" "$win_folder" ;;
    *" FOLDERS_AS=root "*) printf '%s' 'K:\ K:\reports\' ;;
    *" FOLDERS_AS=reports-root "*) printf '"%s" R:\\' "$win_folder" ;;
    *) printf '"%s" "%s\\reports"' "$win_folder" "$win_folder" ;;
  esac
}
verdict="verdict of the elevated run"
# name | report (a file in the stand-in's folder, or none) | runner's exit status | run_kit.cmd's third
# argument | GITHUB_ACTIONS | more environment (NAME=VALUE ...; REPORTS_HELD=yes: the reports folder
# already holds a report; REPORTS_FILE=yes: the reports folder's name is a file's; STALE_VERDICT_JUNIT=yes:
# it holds an earlier verdict's JUnit file; FOLDERS_AS: see
# folders_as; STAND_IN_SILENT_VERDICT=yes: a verdict that exits 0 having judged nothing) | run_kit.cmd's exit
# status | a line its output must hold, or begin with where it ends in "*" (a verdict line that is not
# proven is also in the job summary). Every row also: the verdict's JUnit file, where it wrote one, is
# XML that parses; on GitHub Actions, the step's annotations leave room within GitHub's ten for the
# workflow's own, none for a proven run, else the verdict's first (::error failed, ::warning not proven).
while IFS='|' read -r name report status mode actions environment want_status want_line; do
  [ -n "$name" ] || continue
  rm -rf "$stand_in/reports" "$stand_in/summary.md" "$stand_in/console.out" "$stand_in"/LauncherChecks-{report,running,STANDIN}* "$WINEPREFIX/drive_c/reports-root"/*
  [[ " $environment " != *" REPORTS_HELD=yes "* ]] || { mkdir "$stand_in/reports"; : >"$stand_in/reports/LauncherChecks-old.txt"; }
  [[ " $environment " != *" REPORTS_FILE=yes "* ]] || : >"$stand_in/reports"
  [[ " $environment " != *" STALE_VERDICT_JUNIT=yes "* ]] || { mkdir -p "$stand_in/reports"
    printf '<testsuites><testsuite name="stale"/></testsuites>\n' >"$stand_in/reports/LauncherChecks-verdict-elevated-junit.xml"; }
  cp "build/$preset/bin/LauncherChecksVerdict.exe" "$stand_in/"
  [[ " $environment " != *" STAND_IN_SILENT_VERDICT=yes "* ]] || cp "build/$preset/bin/stand_in_runner.exe" "$stand_in/LauncherChecksVerdict.exe"
  set +e
  command=("$loader" cmd /c 'C:\call_run_kit.cmd' $mode)
  console_cp=$(sed -n 's/.*CONSOLE_CP=\([0-9]*\).*/\1/p' <<<"$environment")
  [ -z "$console_cp" ] || command=(script -qec "${command[*]@Q}" /dev/null)
  env STAND_IN_REPORT=${report:+"$win_folder\\$report"} STAND_IN_STATUS=$status GITHUB_ACTIONS=$actions \
    GITHUB_STEP_SUMMARY="$win_folder\\summary.md" KIT="$win_folder" FOLDERS="$(folders_as "$environment")" $environment \
    "${command[@]}" </dev/null >"$work/run_kit.out" 2>&1
  got=$?
  set -e
  # Bytes as Windows writes them to a file or pipe: in the console's output code page. Where Wine
  # differs: started without a terminal it gives cmd no console (chcp fails, GetConsoleOutputCP is 0), so
  # those rows' output is in the ANSI code page, 1252, where Windows would write its OEM code page.
  if [ -n "$console_cp" ]; then
    out=$({ iconv -f "$([ "$console_cp" = 65001 ] && echo UTF-8 || echo "CP$console_cp")" -t UTF-8 "$stand_in/console.out" ||
      echo "(console.out is not in code page $console_cp)"; } 2>&1 | tr -d '\r')
  else
    out=$(iconv -f CP1252 -t UTF-8 "$work/run_kit.out" | tr -d '\r')
  fi
  problems=()
  junit_file="$stand_in/reports/LauncherChecks-verdict-${mode:-elevated}-junit.xml"
  if [ -f "$junit_file" ] && ! /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as t; t.parse(sys.argv[1])' "$junit_file" 2>/dev/null; then
    problems+=("the verdict's JUnit file is not XML that parses: $(head -c 600 "$junit_file" | cat -v)")
  fi
  if [ "$actions" = true ]; then
    annotations=$(grep -E '^::(error|warning|notice)' <<<"$out" || true)
    count=$(grep -c . <<<"$annotations" || true)
    first=$(head -n 1 <<<"$annotations")
    own=$([ "$want_status" = 1 ] && echo error || echo warning)
    if [ "$count" -gt 9 ]; then problems+=("$count annotations: with the workflow's own, more than GitHub's ten")
    elif [ "$want_status" = 0 ] && [ "$count" != 0 ]; then problems+=("a proven run annotates: $first")
    elif [ "$want_status" != 0 ] && [[ $first != "::$own title=LauncherChecks ${mode:-elevated}::verdict of the "* ]]; then
      problems+=("the first annotation is not the verdict's ::$own: $first")
    fi
  fi
  summary=$({ tr -d '\r' <"$stand_in/summary.md"; } 2>/dev/null || true)
  holds() {  # TEXT: whether it holds want_line as a whole line, or a line that begins with it before "*"
    if [[ $want_line == *'*' ]]; then P=${want_line%\*} awk 'index($0, ENVIRON["P"]) == 1 { found = 1 } END { exit !found }' <<<"$1"
    else grep -qxF -- "$want_line" <<<"$1"; fi
  }
  if [ "$got" = "$want_status" ] && holds "$out" && { [ "$want_status" = 0 ] || [[ $want_line != verdict* ]] || holds "$summary"; } &&
    [ ${#problems[@]} = 0 ]; then
    echo "ok: run_kit.cmd: $name"
  else
    printf '%s\n' "FAILED: run_kit.cmd: $name: exit status $got (want $want_status), output and summary must hold the line: $want_line" \
      "${problems[@]}" "$out" "-- summary:" "$summary"
    failed=1
  fi
done <<EOF_RUN_KIT
a clean report|clean.txt|0||||0|report: "$win_folder\\reports\\LauncherChecks-STANDIN-20000101-000000.txt"
a report with a FAILED line|failed.txt|0||||1|$verdict: FAILED: FAILED: another check: 2, expected 1
a clean report, and the runner's exit status 3|clean.txt|3||||1|$verdict: FAILED: LauncherChecks.exe exited 3
elevated, a report that says elevated: no|not-elevated.txt|0||||2|$verdict: not proven: the header does not say elevated: yes; run run_kit.cmd as administrator
a report without its closing line|no-closing-line.txt|0||||2|$verdict: not proven: no report: it is unfinished (no closing line "N passed, M failed")
a closing line with fewer passed than the report's ok lines|too-few-passed.txt|0||||1|$verdict: FAILED: the closing line "3 passed, 0 failed" does not agree*
a closing line that is not last|closing-not-last.txt|0||||1|$verdict: FAILED: a line after the closing line: ok: another check
a not proven line|not-proven.txt|0||||2|$verdict: not proven: not proven: ${required[0]}: not elevated*
a not proven line for another check, the closing line counting none failed|not-proven-other.txt|0||||1|$verdict: FAILED: the closing line "$n passed, 0 failed" does not agree*
a required line missing|missing.txt|0||||2|$verdict: not proven: no line proves ${required[0]}
an empty list of checks|empty.txt|0||||2|$verdict: not proven: no line proves ${required[0]}*
not applicable, where the header states no such fact|code-page-na.txt|0||||2|$verdict: not proven: not applicable: test program: code page: 1253: the header states no fact that rules it out
the x86_64 twin's report: the WOW6432Node fact not applicable by its build|twin.txt|0||||$twin_verdict
an arm64 runner's report|arm64.txt|0||||2|$verdict: not proven: the report's runner was built for arm64, this verdict for $arch*
ok and skipped for the same check|contradicted.txt|0||||1|$verdict: FAILED: the report contradicts itself: ok, skipped for ${required[0]}*
an ok line twice, the closing line counting both|ok-twice.txt|0||||1|$verdict: FAILED: a line said twice: ${elevated_ok[0]}*
a report that starts with a byte-order mark|clean.txt|0|||STAND_IN_BOM=yes|2|$verdict: not proven: no report: the report starts with a byte-order mark*
a FAILED line in code page 1252: the verdict's JUnit file still UTF-8|failed-1252.txt|0||||1|$verdict: FAILED: FAILED: another check: expected *
a 20 KB header line|long-line.txt|0||||0|$verdict: proven: $n required checks proven, $na not applicable
a verdict that exits 0 without its verdict, as Wine's cmd saw the one that overflowed its stack|clean.txt|0|||STAND_IN_SILENT_VERDICT=yes|2|run_kit: LauncherChecksVerdict.exe ended without writing its verdict: not proven
the same, beside an earlier verdict's JUnit file left in a reused reports folder|clean.txt|0|||STAND_IN_SILENT_VERDICT=yes STALE_VERDICT_JUNIT=yes|2|run_kit: LauncherChecksVerdict.exe ended without writing its verdict: not proven
redirected after chcp 65001, as on GitHub's runner: the folder's name in UTF-8|clean.txt|0|||CONSOLE_CP=65001|0|report: "$win_folder\\reports\\LauncherChecks-STANDIN-20000101-000000.txt"
redirected from a console of code page 437 (the OEM one): the folder's name in 437|clean.txt|0|||CONSOLE_CP=437|0|report: "$win_folder\\reports\\LauncherChecks-STANDIN-20000101-000000.txt"
a stale report: an earlier run's id|clean.txt|0|||STAND_IN_RUN_ID=111-222-333|2|$verdict: not proven: no report: LauncherChecks.exe wrote no report for this run; its exit status was 0
an unreadable report|clean.txt|0|||STAND_IN_HOLD=yes|2|$verdict: not proven: no report: LauncherChecks-STANDIN-20000101-000000.txt could not be read*
a reports folder that already holds a report|clean.txt|0|||REPORTS_HELD=yes|2|$verdict: not proven: no report: the reports folder already holds LauncherChecks-old.txt: give each run a folder of its own
an unmovable report|clean.txt|0|||REPORTS_FILE=yes|2|$verdict: not proven: no report: the report could not be moved into the reports folder*
a runner killed before its report was whole|clean.txt|0|||STAND_IN_PARTIAL=yes|2|$verdict: not proven: no report: incomplete report: LauncherChecks.exe ended before its report was whole; what it wrote is LauncherChecks-report.partial in the reports folder
an unknown third argument|clean.txt|0|elevatd|||2|usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
folders with spaces and & typed with a trailing backslash, which must not become a quote|clean.txt|0|||FOLDERS_AS=trailing|0|report: "$win_folder\\reports\\LauncherChecks-STANDIN-20000101-000000.txt"
the kit's folder a drive root, typed bare as K:\|clean.txt|0|||FOLDERS_AS=root|0|report: "K:\\reports\\LauncherChecks-STANDIN-20000101-000000.txt"
the reports folder a drive root, R:\|clean.txt|0|||FOLDERS_AS=reports-root|0|report: "R:\\.\\LauncherChecks-STANDIN-20000101-000000.txt"
on GitHub Actions, a proven run with a skipped check annotates nothing|clean.txt|0||true||0|$verdict: proven: $n required checks proven, $na not applicable
on GitHub Actions, a FAILED line: the verdict's error first|failed.txt|0||true||1|::error title=LauncherChecks elevated::$verdict: FAILED: FAILED: another check: 2, expected 1*
without elevation, a clean report from a user's token|unelevated.txt|0|unelevated|||0|verdict of the unelevated run: proven: 1 required checks proven, 0 not applicable
without elevation, a Medium token without virtualization allowed|medium-not-allowed.txt|0|unelevated|||2|verdict of the unelevated run: not proven: ok: $virtualization: proves nothing where the header's token*
without elevation, a High-integrity token|high-unelevated.txt|0|unelevated|||2|verdict of the unelevated run: not proven: ok: $virtualization: proves nothing where the header's token: integrity level High*
without elevation, no user's token, each elevated check skipped: on GitHub Actions the verdict's warning first, the rest summed|no-user-token.txt|0|unelevated|true||2|::warning title=LauncherChecks unelevated::verdict of the unelevated run: not proven: nothing proven*
$rows
EOF_RUN_KIT
rm -rf "$stand_in" "$WINEPREFIX/drive_c/call_run_kit.cmd" "$WINEPREFIX/drive_c/reports-root" "$WINEPREFIX/dosdevices/k:" \
  "$WINEPREFIX/dosdevices/r:"

if [ -n "${KIT_ROWS_ONLY:-}" ]; then
  echo "note: KIT_ROWS_ONLY is set: only run_kit.cmd and the verdict with the stand-in ran; the kit itself did not"
  exit $failed
fi
kit/make-kit.sh "$preset" >"$work/make-kit.log" 2>&1 || { cat "$work/make-kit.log"; exit 1; }
kit=$source/$(sed -n 's/^kit: *//p' "$work/make-kit.log")
echo "the kit made from the $preset build: $kit"
folder="$WINEPREFIX/drive_c/Kit"
mkdir -p "$folder"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$kit" "$folder"

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
    bad=$(tr -d '\r' <"$report" | awk '/^(ok|skipped|not applicable|known Wine difference|FAILED): / { checks = 1 } checks' |
      grep -vE '^(ok|skipped|not applicable|known Wine difference): |^[0-9]+ passed, 0 failed$' || true)
    [ -z "$bad" ] || problems+=("report lines that are not ok, skipped, not applicable or a known Wine difference:" "$bad")
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
text = [l for l in lines if re.match(r"(ok|FAILED|not proven|skipped|not applicable|known Wine difference): ", l)]
junit = []
for case in tree.parse(sys.argv[2]).iter("testcase"):
    failure, skipped = case.find("failure"), case.find("skipped")
    if failure is not None:
        prefix, detail = ("not proven" if failure.get("type") == "not proven" else "FAILED"), failure.get("message")
    elif skipped is not None:
        detail = skipped.get("message")
        prefix = next((p for p in ("known Wine difference", "not applicable") if detail.startswith(p + ": ")), "skipped")
        detail = detail.removeprefix(prefix + ": ") if prefix != "skipped" else detail
    else:
        prefix, detail = "ok", ""
    junit.append(f"{prefix}: {case.get('name')}" + (f": {detail.splitlines()[0]}" if detail else ""))
if junit != text or not junit:
    sys.exit("the JUnit file and the report differ:\n  junit:  " + "\n  junit:  ".join(junit) + "\n  report: " + "\n  report: ".join(text))
PY
) || problems+=("$junit")
    tr -d '\r' <"$work/summary.md" 2>/dev/null | grep -qF "$(tr -d '\r' <"$report" | tail -n 1)" ||
      problems+=("the job summary does not hold the report")
    grep -q '^verdict of the elevated run: proven: ' "$work/summary.md" || problems+=("the job summary holds no proven verdict")
    # The verdict's own testcase, in its JUnit file beside the report.
    /usr/bin/python3 -c 'import sys, xml.etree.ElementTree as t; c = list(t.parse(sys.argv[1]).iter("testcase")); sys.exit(len(c) != 1 or c[0].find("failure") is not None)' \
      "$work/reports/LauncherChecks-verdict-elevated-junit.xml" || problems+=("no passing verdict testcase in LauncherChecks-verdict-elevated-junit.xml")
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
