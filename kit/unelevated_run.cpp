#include "kit/unelevated_run.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>

#include "kit/file_contents.h"
#include "kit/owned_handle.h"
#include "kit/report_verdict.h"
#include "kit/runner_run.h"
#include "kit/runner_text.h"
#include "kit/token_facts.h"

namespace runner {

// Why Windows does not virtualize this process's registry, for a run that needed it to. Microsoft's
// "Registry Virtualization" names the cases: UAC off, processes that are not interactive (services),
// 64-bit processes, and programs whose manifest asks for an execution level (this runner has none).
std::string WhyNotVirtualized() {
  DWORD lua = 1, size = sizeof lua;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"EnableLUA",
                   RRF_RT_REG_DWORD, nullptr, &lua, &size) == ERROR_SUCCESS && lua == 0)
    return "UAC is off (EnableLUA is 0): Windows virtualizes nothing; run it on a machine with UAC on";
  DWORD session = 1;
  USEROBJECTFLAGS station = {};
  const bool visible = GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &station, sizeof station, nullptr) &&
                       (station.dwFlags & WSF_VISIBLE);
  if ((ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) || !visible)
    return "this process is not interactive (a service's session or window station): run the agent as a logged-on user";
  if (sizeof(void*) == 8) return "this runner is a 64-bit process, which Windows never virtualizes";
  return "Windows did not enable virtualization for this runner's token";
}

namespace {

// Whether folder holds a report (LauncherChecks-*.txt) whose header names this run's id.
bool HoldsThisRunsReport(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\LauncherChecks-*.txt").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool held = false;
  do held = held || kit::RunIdOf(FileContents(folder + L"\\" + found.cFileName)) == RunId;
  while (FindNextFileW(search, &found));
  FindClose(search);
  return held;
}

// Where Windows puts the writes of a virtualized process of token's user to folder, where that user may
// not write (UAC file virtualization: Program Files, Windows): the user's VirtualStore copy of it. Empty
// where it cannot be named.
std::wstring VirtualStoreOf(HANDLE token, const std::wstring& folder) {
  PWSTR local = nullptr;
  std::wstring store;
  if (folder.size() > 2 && folder[1] == L':' &&
      SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DONT_VERIFY, token, &local)))
    store = std::wstring(local) + L"\\VirtualStore" + folder.substr(2);
  CoTaskMemFree(local);
  return store;
}

// The child's output, line by line, into this process's own, which run_kit.cmd's log shows.
void Relay(const std::string& output) {
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::printf("unelevated run: %s\n", line.c_str());
    start = end + 1;
  }
}

}  // namespace

// Starts this runner again, in unelevated mode, as the desktop's user: with a primary token duplicated
// from the shell's process, which an elevated administrator may open, through CreateProcessWithTokenW
// (its caller needs SeImpersonatePrivilege, which administrators hold). Not the token TokenLinkedToken
// gives: without SeTcbPrivilege that is an identification token, no use for a process. Waits for the
// run and gives its exit status; false, with why, where the machine has no shell token that Windows
// would virtualize (no shell in this session, UAC off, a service's session).
bool RunAsDesktopUser(const std::wstring& program, DWORD& exitCode, std::string& why) {
  const HWND shell = GetShellWindow();
  DWORD shellProcess = 0;
  if (!shell || !GetWindowThreadProcessId(shell, &shellProcess) || shellProcess == 0)
    return why = "no desktop shell runs in this session (a service's session, or no one logged on)", false;
  OwnedHandle shellToken, token;
  const OwnedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess));
  const bool opened = process.Valid() && OpenProcessToken(process.Get(), TOKEN_DUPLICATE | TOKEN_QUERY, shellToken.Out());
  const DWORD openError = GetLastError();
  if (!opened) return why = "the desktop shell's token cannot be opened (error " + std::to_string(openError) + ")", false;
  const kit::TokenStatement facts = FactsOf(shellToken.Get());
  // TOKEN_IMPERSONATE: SHGetKnownFolderPath finds the user's own folders with it.
  const bool duplicated = DuplicateTokenEx(shellToken.Get(), TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE |
                                           TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID, nullptr, SecurityImpersonation,
                                           TokenPrimary, token.Out());
  const DWORD duplicateError = GetLastError();
  if (!kit::VirtualizableToken(facts))
    return why = "the desktop shell's token is not one that Windows virtualizes (UAC off, or the shell elevated): " + kit::TokenLine(facts), false;
  if (!duplicated) return why = "the desktop shell's token cannot be duplicated (error " + std::to_string(duplicateError) + ")", false;
  std::wstring commandLine = L"\"" + program + L"\" unelevated " + std::wstring(RunId.begin(), RunId.end());
  // CreateProcessWithTokenW gives the child a console of its own, and ignores CREATE_NO_WINDOW: SW_HIDE
  // keeps that console off the desktop. Its output, "cannot write the report" too, would then reach no
  // one: it goes to a file that this process makes (in a folder that virtualizes the child's writes, the
  // child's own file would land in its VirtualStore) and hands it as its standard handles, which the
  // secondary logon service duplicates into the child.
  const std::wstring outputPath = Folder + L"\\LauncherChecks-unelevated-output.log";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  OwnedHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr));
  const OwnedHandle nothing(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  if (output.Valid() && nothing.Valid()) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = nothing.Get();
    startup.hStdOutput = startup.hStdError = output.Get();
  } else {
    std::printf("LauncherChecks: the run without elevation's output cannot be caught (error %lu): only its report will show it\n",
                GetLastError());
  }
  PROCESS_INFORMATION child = {};
  const bool started = CreateProcessWithTokenW(token.Get(), 0, program.c_str(), commandLine.data(), 0, nullptr, Folder.c_str(),
                                               &startup, &child);
  const DWORD startError = GetLastError();
  output.Reset();
  if (!started) {
    DeleteFileW(outputPath.c_str());
    return why = "CreateProcessWithTokenW with the desktop shell's token failed (error " + std::to_string(startError) + ")", false;
  }
  const OwnedHandle childProcess(child.hProcess), childThread(child.hThread);
  // Each test program has ten minutes; the unelevated run runs few of them.
  if (WaitForSingleObject(childProcess.Get(), 70 * 60 * 1000) != WAIT_OBJECT_0) TerminateProcess(childProcess.Get(), 99);
  WaitForSingleObject(childProcess.Get(), 10000);
  exitCode = 99;
  GetExitCodeProcess(childProcess.Get(), &exitCode);
  Relay(FileContents(outputPath));
  DeleteFileW(outputPath.c_str());
  if (!HoldsThisRunsReport(Folder)) {
    // The verdict finds no report; say why here, where the log shows it above the verdict's line.
    const std::wstring store = VirtualStoreOf(token.Get(), Folder);
    if (!store.empty() && HoldsThisRunsReport(store))
      std::printf("LauncherChecks: the run without elevation wrote its report into %s, not into the kit's folder: Windows "
                  "virtualizes that user's writes to %s (UAC file virtualization, as under Program Files or Windows). Unzip "
                  "the kit into a folder of its own that the user may write, such as C:\\LauncherChecks, and run it again.\n",
                  Utf8(store).c_str(), Utf8(Folder).c_str());
    else
      std::printf("LauncherChecks: the run without elevation left no report of this run in the kit's folder (its output, if "
                  "any, is above)\n");
    // A run that leaves no report did not succeed, whatever its own status says.
    if (exitCode == 0) exitCode = 1;
  }
  return true;
}

}  // namespace runner
