@echo off
rem Runs the check kit as a CI job on a Windows machine does: LauncherChecks.exe in the folder the kit was
rem unzipped into; then its report (and its JUnit twin) is moved into REPORTS_FOLDER, appended to the job
rem summary (the file GITHUB_STEP_SUMMARY names, when set) and judged. On GitHub Actions (GITHUB_ACTIONS
rem set to true) each skipped check becomes a warning on the run's page.
rem
rem The verdict is made of the evidence this run exists for, read in the report itself, so that a report
rem from an older or broken runner cannot pass:
rem   elevated    the header says "elevated: yes", and each test program and platform fact says "ok"
rem   unelevated  the header says "elevated: no; registry virtualization: enabled", and the VirtualStore
rem               check says "ok"
rem A required check may be skipped only where a fixed property of this machine rules it out, which this
rem script finds out itself: another ANSI code page than those the code-page cases cover, 32-bit Windows
rem for the WOW6432Node fact; under Wine, a known Wine difference. Anything else is "not proven", named
rem with what the report says of it. The closing line must say none failed, with at least as many passed
rem as this script saw proven.
rem
rem Exit status: 0 only then; 1 otherwise (not proven, a FAILED line, no report or an incomplete one, a
rem runner's exit status other than 0, a run without elevation that could not be made); 2 on a usage error.
rem
rem Usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
rem   unelevated: run it with a Basic User token (runas /trustlevel:0x20000) instead, for the check that
rem   Windows can make only without elevation, only where UAC is on, and only for an interactive process:
rem   a vendor's own machine or agent. runas does not wait and gives no exit status: this waits while the
rem   runner's lock file is there (RUN_KIT_START_SECONDS for it to appear, default 60; RUN_KIT_RUN_SECONDS
rem   for the whole run, default 4200), then judges its report alone.
rem
rem System32's tools are named by full path: a find.exe earlier on PATH (Git's, MSYS's) reads its
rem arguments otherwise. Delayed expansion is off, so that "!" in a path or a report line stays as it is;
rem report lines reach echo through for variables, which cmd does not parse again, and paths inside
rem quotes, where "&", "^" and parentheses are plain text (Wine 10's cmd rejects a for set whose quoted
rem path holds a parenthesis).
setlocal EnableExtensions DisableDelayedExpansion
set "find=%SystemRoot%\System32\find.exe"
set "mode=elevated"
if "%~2"=="" goto usage
if not "%~4"=="" goto usage
if "%~3"=="" goto modeknown
if /i not "%~3"=="unelevated" goto usage
set "mode=unelevated"
:modeknown
set "kit=%~f1"
set "reports=%~f2"
if not exist "%kit%\LauncherChecks.exe" goto nokit
if not exist "%reports%" mkdir "%reports%"
set /a "startbound=RUN_KIT_START_SECONDS"
if %startbound% leq 0 set startbound=60
set /a "runbound=RUN_KIT_RUN_SECONDS"
if %runbound% leq 0 set runbound=4200

rem What rules a check out on this machine, as the machine says it, not as the report does.
set "wine="
"%SystemRoot%\System32\reg.exe" query "HKLM\Software\Wine" >nul 2>nul
if not errorlevel 1 set "wine=yes"
set "acp="
for /f "tokens=3" %%a in ('"%SystemRoot%\System32\reg.exe" query HKLM\SYSTEM\CurrentControlSet\Control\Nls\CodePage /v ACP 2^>nul') do set "acp=%%a"
set "na_codepage=yes"
for %%c in (1252 1251 932 65001) do if "%acp%"=="%%c" set "na_codepage="
set "na_wow64="
if /i "%PROCESSOR_ARCHITECTURE%"=="x86" if not defined PROCESSOR_ARCHITEW6432 set "na_wow64=yes"
rem make-kit.sh sets this for the x86_64 twin that machines without 32-bit Wine run: no WOW64 there.
set "twin="
if defined twin set "na_wow64=yes"

rem From the kit's folder the report's name needs no quotes: Wine's cmd, unlike Windows', does not expand
rem a quoted wildcard in a for set. Reports of earlier runs go first, so that the one left is this run's.
pushd "%kit%"
for %%r in (LauncherChecks-*-*.txt LauncherChecks-*-junit.xml) do move /y "%%r" "%reports%\" >nul
if exist LauncherChecks-report.partial move /y LauncherChecks-report.partial "%reports%\" >nul

if "%mode%"=="unelevated" goto unelevated
set "run=elevated"
"%kit%\LauncherChecks.exe" elevated
set status=%errorlevel%
goto judge

:unelevated
set "run=without elevation"
set status=0
if not exist "%SystemRoot%\System32\runas.exe" goto norunas
rem The runner by a relative path, resolved against this folder: the kit's own path never goes through
rem runas's command line, whose quotes cmd does not see as quotes.
"%SystemRoot%\System32\runas.exe" /trustlevel:0x20000 ".\LauncherChecks.exe unelevated"
if errorlevel 1 goto runasfailed
rem ping waits about a second between its two echo requests.
set /a waited=0
:appearing
if exist LauncherChecks-running.lock goto started
if exist LauncherChecks-report.partial goto started
for %%r in (LauncherChecks-*-*.txt) do goto judge
set /a waited+=1
if %waited% geq %startbound% goto neverstarted
"%SystemRoot%\System32\PING.EXE" -n 2 127.0.0.1 >nul
goto appearing
:started
set /a waited=0
:waiting
if not exist LauncherChecks-running.lock goto judge
set /a waited+=1
if %waited% geq %runbound% goto toolong
"%SystemRoot%\System32\PING.EXE" -n 2 127.0.0.1 >nul
goto waiting

:judge
rem Plain statements, one per line: Wine's cmd, which make test runs this under, mishandles compound ones.
set "report="
for %%r in (LauncherChecks-*-*.txt) do set "report=%%r"
if not defined report goto noreport
set "why="
set /a proven=0
set /a unproven=0
if "%mode%"=="unelevated" goto judgeunelevated
"%find%" "elevated: yes;" <%report% >nul
if errorlevel 1 call :unproven "elevation: the report does not say elevated: yes; run run_kit.cmd as administrator"
call :require "test program: registry"
call :require "test program: file probe"
call :require "test program: code page" codepage
call :require "test program: end to end"
call :require "test program: DLL search"
call :require "test program: runtime"
call :require "test program: same-publisher build, an untrusted chain: nothing started"
call :require "test program: same-publisher build, a trusted chain: started"
call :require "test program: same-publisher build, a junction on the path: nothing started"
call :require "test program: a held file's folder cannot be renamed or made a junction"
call :require "UTF-8 conversion refuses WC_NO_BEST_FIT_CHARS with ERROR_INVALID_FLAGS"
call :require "UTF-8 conversion refuses lpUsedDefaultChar with ERROR_INVALID_PARAMETER"
call :require "1252 with flags 0 turns U+0141 into L (best fit)"
call :require "1252 with WC_NO_BEST_FIT_CHARS turns U+0141 into ? and says the default was used"
call :require "ShellExecuteA does not expand environment variables in the file name"
call :require "kernel32 has SetDefaultDllDirectories"
call :require "a 32-bit process's HKLM\Software is WOW6432Node" wow64
goto closing
:judgeunelevated
"%find%" "elevated: no; registry virtualization: enabled" <%report% >nul
if errorlevel 1 call :unproven "registry virtualization: the report does not say elevated: no; registry virtualization: enabled"
call :require "a VirtualStore value overrides HKLM while virtualized, and not once virtualization is off"
:closing
rem The closing line: "N passed, M failed", none failed, and at least the checks seen proven above.
set "passed="
set "failedcount="
for /f "tokens=1,3" %%a in ('%SystemRoot%\System32\find.exe " passed, " ^<%report%') do set "passed=%%a"
for /f "tokens=1,3" %%a in ('%SystemRoot%\System32\find.exe " passed, " ^<%report%') do set "failedcount=%%b"
set /a "passednumber=passed" 2>nul
if %passednumber% lss %proven% set "why=the report's closing line counts fewer checks passed than the %proven% it proves"
if not "%failedcount%"=="0" set "why=the report has no closing line that says none failed"
"%find%" "FAILED: " <%report% >nul
if errorlevel 2 set "why=the report could not be read"
if not errorlevel 1 set "why=the report has FAILED lines"
if %unproven% gtr 0 set "why=the report does not prove every check this run requires (%unproven% not proven)"
if /i not "%GITHUB_ACTIONS%"=="true" goto warned
for /f "usebackq delims=" %%l in (`%SystemRoot%\System32\find.exe "skipped: " ^< %report%`) do echo ::warning title=LauncherChecks %run%::%%l
:warned

for %%r in (LauncherChecks-*-junit.xml) do move /y "%%r" "%reports%\" >nul
rem cmd's move leaves errorlevel as it was when it succeeds: what is there afterwards tells.
move /y "%report%" "%reports%\" >nul
if not exist "%reports%\%report%" goto notmoved
set "report=%reports%\%report%"
echo report: "%report%"
if not defined GITHUB_STEP_SUMMARY goto summarized
>>"%GITHUB_STEP_SUMMARY%" echo ### LauncherChecks %run%: "%report%"
>>"%GITHUB_STEP_SUMMARY%" echo ```
>>"%GITHUB_STEP_SUMMARY%" type "%report%"
>>"%GITHUB_STEP_SUMMARY%" echo ```
:summarized
if defined why goto failed
if not "%status%"=="0" goto failedstatus
exit /b 0

rem %1: a check this run requires; %2: the fact of this machine (codepage, wow64) that may rule it out.
:require
"%find%" "ok: %~1" <%report% >nul
if not errorlevel 1 goto proven
if not defined wine goto notwine
"%find%" "known Wine difference: %~1" <%report% >nul
if not errorlevel 1 exit /b 0
:notwine
if "%~2"=="" goto notapplicable
if not defined na_%~2 goto notapplicable
"%find%" "skipped: %~1" <%report% >nul
if not errorlevel 1 exit /b 0
:notapplicable
call :unproven "%~1"
exit /b 0
:proven
set /a proven+=1
exit /b 0

rem %1: what is not proven. The report's own lines about it follow, with their reasons.
:unproven
set /a unproven+=1
echo not proven: %~1
if defined GITHUB_STEP_SUMMARY >>"%GITHUB_STEP_SUMMARY%" echo not proven: %~1
for /f "usebackq delims=" %%l in (`%SystemRoot%\System32\find.exe "not proven: " ^< %report%`) do echo   the report says: %%l
exit /b 0

:failedstatus
set "why=LauncherChecks.exe exited %status%"
goto failed

:usage
echo usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
exit /b 2

:nokit
echo run_kit: no LauncherChecks.exe in "%kit%"
exit /b 2

:noreport
if exist LauncherChecks-report.partial goto incomplete
set "why=LauncherChecks.exe wrote no report; its exit status was %status%"
if "%run%"=="without elevation" set "why=LauncherChecks.exe ended without writing a report"
goto failed

:incomplete
move /y LauncherChecks-report.partial "%reports%\" >nul
set "why=incomplete report: LauncherChecks.exe ended before its report was whole; what it wrote is LauncherChecks-report.partial in the reports folder"
if not defined GITHUB_STEP_SUMMARY goto failed
>>"%GITHUB_STEP_SUMMARY%" echo ### LauncherChecks %run%: incomplete report
>>"%GITHUB_STEP_SUMMARY%" echo ```
>>"%GITHUB_STEP_SUMMARY%" type "%reports%\LauncherChecks-report.partial"
>>"%GITHUB_STEP_SUMMARY%" echo ```
goto failed

:notmoved
set "why=the report could not be moved into the reports folder, so it was not read there"
goto failed

:norunas
set "why=the run without elevation could not be made: there is no runas.exe here"
goto failed

:runasfailed
set "why=the run without elevation could not be made: runas /trustlevel:0x20000 failed (errorlevel %errorlevel%)"
goto failed

:neverstarted
set "why=the run without elevation could not be made: no LauncherChecks.exe ran, and no report came, within %startbound% seconds of runas"
goto failed

:toolong
set "why=LauncherChecks.exe, run without elevation, still ran after %runbound% seconds"
goto failed

:failed
echo FAILED: %why%
if defined GITHUB_STEP_SUMMARY >>"%GITHUB_STEP_SUMMARY%" echo FAILED: %why%
exit /b 1
