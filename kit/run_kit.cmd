@echo off
rem Runs the check kit as a CI job on a Windows machine does, and passes the verdict on. It only starts
rem programs: the runner, LauncherChecks.exe, in the folder the kit was unzipped into; then the verdict,
rem LauncherChecksVerdict.exe, which moves this run's report (and its JUnit twin) into REPORTS_FOLDER,
rem reads it back from there, judges it by the table of what each mode must prove, writes the job summary
rem (the file GITHUB_STEP_SUMMARY names, when set) and, on GitHub Actions, its warnings. Nothing here
rem reads the report: cmd cannot be relied on to notice that a file it reads from is not there.
rem
rem Each run has its own run id, which the runner writes into its report's header and the verdict
rem requires, so that a report of an earlier run is never judged as this one's.
rem
rem Exit status, the verdict's: 0 proven; 1 failed; 2 not proven, or no report; 2 on a usage error, and
rem where the verdict ended without its JUnit file.
rem
rem Usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
rem   unelevated: the run that proves registry virtualization. Run elevated (as a CI job is), the runner
rem   starts itself again as the desktop's user, with the token of the desktop shell, and waits for it;
rem   where the machine has no such user it says so, and the verdict is "not proven".
rem   REPORTS_FOLDER must hold no report yet.
setlocal EnableExtensions DisableDelayedExpansion
rem A variable set by hand named ERRORLEVEL or RANDOM hides cmd's own: an inherited ERRORLEVEL=0
rem would pass a crashed runner's status on as 0, an inherited RANDOM give every run the same id.
set "ERRORLEVEL="
set "RANDOM="
set "mode=elevated"
if "%~2"=="" goto usage
if not "%~4"=="" goto usage
if "%~3"=="" goto modeknown
if /i not "%~3"=="unelevated" goto usage
set "mode=unelevated"
:modeknown
set "kit=%~f1"
set "reports=%~f2"
rem A folder typed with a trailing backslash (C:\kit\) would reach the verdict as "C:\kit\", where \"
rem is a literal quote to CommandLineToArgvW that runs the arguments together: the backslash goes. A
rem drive root becomes "C:\.", since "C:" alone names the drive's current folder.
if "%kit:~-1%"=="\" set "kit=%kit:~0,-1%"
if "%kit:~-1%"==":" set "kit=%kit%\."
if "%reports:~-1%"=="\" set "reports=%reports:~0,-1%"
if "%reports:~-1%"==":" set "reports=%reports%\."
if not exist "%kit%\LauncherChecks.exe" goto nokit
rem The verdict's 0 counts only beside the JUnit file it writes last (below): one left in a reused reports
rem folder by an earlier run would let a verdict that crashed pass. Only that file goes, before the hour
rem the runner takes; where it cannot, nothing runs.
set "verdictjunit=%reports%\LauncherChecks-verdict-%mode%-junit.xml"
if exist "%verdictjunit%" del /f /q "%verdictjunit%" >nul 2>&1
if exist "%verdictjunit%" goto stalejunit
rem Three draws of cmd's RANDOM, which a new cmd seeds afresh.
set "runid=%RANDOM%-%RANDOM%-%RANDOM%"
"%kit%\LauncherChecks.exe" %mode% %runid%
"%kit%\LauncherChecksVerdict.exe" "%kit%" "%reports%" %mode% %runid% %errorlevel%
rem The verdict's 0 counts only beside the JUnit file it writes last: a verdict that crashed may give 0
rem (Wine's cmd sees 0 after an unhandled exception; Windows gives the exception's code).
if not "%errorlevel%"=="0" exit /b %errorlevel%
if not exist "%verdictjunit%" goto noverdict
exit /b 0

:noverdict
echo run_kit: LauncherChecksVerdict.exe ended without writing its verdict: not proven
exit /b 2

:stalejunit
echo run_kit: an earlier verdict's "%verdictjunit%" could not be removed: not proven
exit /b 2

:usage
echo usage: run_kit.cmd KIT_FOLDER REPORTS_FOLDER [unelevated]
exit /b 2

:nokit
echo run_kit: no LauncherChecks.exe in "%kit%"
exit /b 2
