@echo off
rem Runs the check kit as a CI job on a Windows runner does: LauncherChecks.exe in the folder the kit was
rem unzipped into; then its report is moved into REPORTS_FOLDER, appended to the job summary (the file
rem GITHUB_STEP_SUMMARY names, when set) and read for FAILED lines.
rem Exit status: 0 when the runner exited 0 and its report has no FAILED line; 1 otherwise; 2 on a usage
rem error.
rem
rem Usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
rem   unelevated: run it with a Basic User token (runas /trustlevel:0x20000) instead, for the check that
rem   Windows can run only without elevation (registry virtualization). runas does not wait and gives
rem   no exit status, so the report is waited for and judged alone. Where runas refuses, the summary
rem   says the run was skipped and why, and the status is 0: the elevated run's report already names
rem   the check it could not run.
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
if errorlevel 1 (
  set "why=runas /trustlevel:0x20000 was refused here"
  goto skipped
)
rem Some 20 minutes at the most: ping waits about a second per echo request.
for /l %%i in (1,1,240) do (
  ping -n 6 127.0.0.1 >nul
  for %%r in (LauncherChecks-*-*.txt) do goto judge
)
set "why=no report within 20 minutes of runas"
goto skipped

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
echo FAILED: %why%
if defined GITHUB_STEP_SUMMARY echo FAILED: %why%>>"%GITHUB_STEP_SUMMARY%"
exit /b 1

:skipped
echo skipped: the run without elevation: %why%
if defined GITHUB_STEP_SUMMARY echo skipped: the run without elevation: %why%>>"%GITHUB_STEP_SUMMARY%"
exit /b 0
