@echo off
rem Runs the check kit as a CI job on a Windows machine does: LauncherChecks.exe in the folder the kit was
rem unzipped into; then its report is moved into REPORTS_FOLDER, appended to the job summary (the file
rem GITHUB_STEP_SUMMARY names, when set) and read for FAILED lines. On GitHub Actions (GITHUB_ACTIONS
rem set to true) each skipped check becomes a warning on the run's page, so that what was not checked,
rem and why, is seen.
rem
rem Exit status: 0 only when a whole report was read, it has no FAILED line, and the runner exited 0;
rem 1 otherwise (no report, a FAILED line, another exit status, or a run without elevation that could
rem not be made); 2 on a usage error. The runner writes its report under another name and renames it
rem when it is complete, so a report that is there is whole.
rem
rem Usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
rem   unelevated: run it with a Basic User token (runas /trustlevel:0x20000) instead, for the check that
rem   Windows can make only without elevation and only where UAC is on (registry virtualization): a
rem   vendor's own machine or agent, not a hosted runner, whose UAC is off. runas does not wait and gives
rem   no exit status, so this waits while the runner runs (bounded), then judges its report alone.
setlocal EnableExtensions
if "%~2"=="" (echo usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated] & exit /b 2)
set "kit=%~f1"
set "reports=%~f2"
if not exist "%kit%\LauncherChecks.exe" (echo run_kit: no LauncherChecks.exe in "%kit%" & exit /b 2)
if not exist "%reports%" mkdir "%reports%"
rem From the kit's folder the report's name needs no quotes: Wine's cmd, unlike Windows', does not expand
rem a quoted wildcard in a for set.
pushd "%kit%"
rem Reports of earlier runs go first, so that the one left at the top level is this run's.
for %%r in (LauncherChecks-*-*.txt) do move /y "%%~fr" "%reports%\" >nul

set "run=elevated"
if /i "%~3"=="unelevated" goto unelevated
"%kit%\LauncherChecks.exe"
set status=%errorlevel%
goto judge

:unelevated
set "run=without elevation"
set status=0
runas /trustlevel:0x20000 "\"%kit%\LauncherChecks.exe\""
if errorlevel 1 goto norunas
rem runas returns at once. The runner must show up (or its report) within about a minute; then this
rem waits while it runs, 70 minutes at the most (six programs of at most ten minutes each, then the
rem platform facts). ping waits about a second per echo request.
set /a waited=0
:appearing
call :running
if not errorlevel 1 goto started
for %%r in (LauncherChecks-*-*.txt) do goto judge
set /a waited+=1
if %waited% geq 12 goto neverstarted
ping -n 6 127.0.0.1 >nul
goto appearing
:started
set /a waited=0
:waiting
ping -n 6 127.0.0.1 >nul
call :running
if errorlevel 1 goto judge
set /a waited+=1
if %waited% geq 840 goto toolong
goto waiting

:running
rem errorlevel 0 while a LauncherChecks.exe runs on this machine.
tasklist /fi "imagename eq LauncherChecks.exe" /nh 2>nul | find /i "LauncherChecks.exe" >nul
exit /b %errorlevel%

:judge
rem Plain statements, one per line: Wine's cmd, which make test runs this under, mishandles compound ones.
set "report="
for %%r in (LauncherChecks-*-*.txt) do set "report=%%r"
if not defined report goto noreport
move /y "%kit%\%report%" "%reports%\" >nul
set "report=%reports%\%report%"
echo report: %report%
if not defined GITHUB_STEP_SUMMARY goto summarized
echo ### LauncherChecks %run%: %report%>>"%GITHUB_STEP_SUMMARY%"
echo ```>>"%GITHUB_STEP_SUMMARY%"
type "%report%">>"%GITHUB_STEP_SUMMARY%"
echo ```>>"%GITHUB_STEP_SUMMARY%"
:summarized
if /i not "%GITHUB_ACTIONS%"=="true" goto warned
for /f "usebackq delims=" %%l in (`find "skipped: " ^< "%report%"`) do echo ::warning title=LauncherChecks %run%::%%l
:warned
find "FAILED: " "%report%" >nul
if not errorlevel 1 goto failedlines
if not "%status%"=="0" goto failedstatus
exit /b 0

:failedlines
echo the report has FAILED lines
exit /b 1

:failedstatus
echo LauncherChecks.exe exited %status%
exit /b 1

:noreport
set "why=LauncherChecks.exe wrote no report; its exit status was %status%"
if "%run%"=="without elevation" set "why=LauncherChecks.exe ended without writing a report"
goto failed

:norunas
set "why=the run without elevation could not be made: runas /trustlevel:0x20000 failed or is missing here (errorlevel %errorlevel%)"
goto failed

:neverstarted
set "why=the run without elevation could not be made: no LauncherChecks.exe ran, and no report came, within a minute of runas"
goto failed

:toolong
set "why=LauncherChecks.exe, run without elevation, still ran after 70 minutes"
goto failed

:failed
echo FAILED: %why%
if defined GITHUB_STEP_SUMMARY echo FAILED: %why%>>"%GITHUB_STEP_SUMMARY%"
exit /b 1
