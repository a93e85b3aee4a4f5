// LauncherChecks.exe: on a vendor's real Windows machine, runs the test programs that the Wine tests run
// and checks the platform facts the launcher's safety rests on, then writes one report beside itself:
// LauncherChecks-<computer>-<yyyymmdd-hhmmss>.txt, and its JUnit twin, ...-junit.xml. Under Wine, a fact
// where Wine is known to differ from Windows reports "known Wine difference", and fails once Wine
// behaves as Windows does (as todo_wine does), so that the list stays true.
//
// Usage: LauncherChecks.exe [elevated|unelevated] [RUN_ID]. Each mode exists for the checks that
// kit/required_checks.cpp lists: elevated, the test programs and the platform facts; unelevated,
// registry virtualization, which Windows applies only to a Medium-integrity token that allows it.
// Without a mode it is the token's. RUN_ID, which run_kit.cmd makes for each run, goes into the header,
// and the verdict judges no report without it. Run elevated in unelevated mode, the runner starts itself
// again with the desktop shell's token, waits for it and passes its status on; where there is no such
// token it runs the checks itself, and says why in its header.
// A required check that a fact of the run, stated in the header, rules out is "not applicable"; one
// that the way the run was made rules out (not elevated, virtualization off) is "not proven", and fails
// the run like a FAILED line; a check that is not this mode's is "skipped".
// Exit status: 0 only when nothing failed and nothing was left unproven; 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <string>

#include "kit/check_report.h"
#include "kit/optional_function.h"
#include "kit/platform_facts.h"
#include "kit/report_header.h"
#include "kit/report_verdict.h"
#include "kit/runner_run.h"
#include "kit/runner_text.h"
#include "kit/test_programs.h"
#include "kit/token_facts.h"
#include "kit/unelevated_run.h"

using namespace runner;

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc > 3 || (argc >= 2 && mode != "elevated" && mode != "unelevated") || (argc == 3 && !kit::ValidRunId(argv[2]))) {
    std::printf("usage: LauncherChecks.exe [elevated|unelevated] [RUN_ID]   (RUN_ID: letters, digits and -, at most 64)\n");
    return 2;
  }
  ElevatedMode = mode.empty() ? Elevated() : mode == "elevated";
  if (argc == 3) RunId = argv[2];
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  Folder = path;
  Folder = Folder.substr(0, Folder.find_last_of(L'\\'));
  // Elevated, the run without elevation is made as the desktop's user; this process only waits for it.
  // Wine has no such user (it virtualizes nothing): there the checks run here.
  if (!ElevatedMode && Elevated()) {
    DWORD status = 0;
    if (OnWine()) NoUserToken = "Wine has no desktop user's token to start it with";
    else if (RunAsDesktopUser(path, status, NoUserToken)) return static_cast<int>(status);
  }
  Work = Folder + L"\\LauncherChecks-work";
  Backup = SettingBackup(Folder + L"\\LauncherChecks-saved-setting.bin");
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // no dialog may stop a check

  // Held while this process lives, and gone with it however it ends (Windows closes a killed process's
  // handles, and the last close deletes the file): run_kit.cmd waits while it is there. No sharing, so a
  // second runner in this folder stops here instead of mixing its files with this one's.
  const HANDLE running = CreateFileW((Folder + L"\\LauncherChecks-running.lock").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (running == INVALID_HANDLE_VALUE) {
    std::printf("FAILED: another LauncherChecks.exe runs from this folder, or the folder cannot be written (error %lu)\n",
                GetLastError());
    return 1;
  }
  CreateDirectoryW(Work.c_str(), nullptr);

  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(computer, &size);
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[64];
  swprintf(stamp, 64, L"%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  // Written under a name that run_kit.cmd does not take for a report, then renamed: a report under its
  // own name is whole, even to a reader that finds it while this process still runs.
  CheckReport report(Folder, std::wstring(L"LauncherChecks-") + computer + L"-" + stamp);
  Report = &report;

  Header();
  Line(std::string("mode: ") + (ElevatedMode ? "elevated" : "unelevated"));
  // A run that was cut off left the setting saved: put it back before anything else.
  if (Backup.Pending()) {
    if (Backup.Restore()) Line("restored the setting saved by an earlier run that did not finish");
    else Fail("the setting saved by an earlier run restored", "could not write it back; it stays in " + Utf8(Backup.Path()));
  }
  RunTestPrograms();
  CheckPlatformFacts();  // last: the virtualization check turns virtualization off for this process
  RemoveDirectoryW(Work.c_str());

  DWORD error = 0;
  if (!report.Finish(std::string("LauncherChecks ") + (ElevatedMode ? "elevated" : "unelevated"), error)) {
    std::printf("FAILED: cannot write the report %s (error %lu)\n", Utf8(report.ReportPath()).c_str(), error);
    return 1;
  }
  std::printf("report: %s\n", Utf8(report.ReportPath()).c_str());
  return report.Failed() == 0 ? 0 : 1;
}
