#include "kit/unelevated_run.h"

#include "kit/runner_run.h"
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
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess);
  HANDLE shellToken = nullptr, token = nullptr;
  const bool opened = process && OpenProcessToken(process, TOKEN_DUPLICATE | TOKEN_QUERY, &shellToken);
  const DWORD openError = GetLastError();
  if (process) CloseHandle(process);
  if (!opened) return why = "the desktop shell's token cannot be opened (error " + std::to_string(openError) + ")", false;
  const kit::TokenStatement facts = FactsOf(shellToken);
  const bool duplicated = DuplicateTokenEx(shellToken, TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT |
                                           TOKEN_ADJUST_SESSIONID, nullptr, SecurityImpersonation, TokenPrimary, &token);
  CloseHandle(shellToken);
  if (!kit::VirtualizableToken(facts)) {
    if (duplicated) CloseHandle(token);
    return why = "the desktop shell's token is not one that Windows virtualizes (UAC off, or the shell elevated): " + kit::TokenLine(facts), false;
  }
  if (!duplicated) return why = "the desktop shell's token cannot be duplicated (error " + std::to_string(GetLastError()) + ")", false;
  std::wstring commandLine = L"\"" + program + L"\" unelevated " + std::wstring(RunId.begin(), RunId.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  const bool started = CreateProcessWithTokenW(token, 0, program.c_str(), commandLine.data(), CREATE_NO_WINDOW, nullptr,
                                               Folder.c_str(), &startup, &child);
  const DWORD startError = GetLastError();
  CloseHandle(token);
  if (!started) return why = "CreateProcessWithTokenW with the desktop shell's token failed (error " + std::to_string(startError) + ")", false;
  // Each test program has ten minutes; the unelevated run runs few of them.
  if (WaitForSingleObject(child.hProcess, 70 * 60 * 1000) != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 99);
  WaitForSingleObject(child.hProcess, 10000);
  exitCode = 99;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return true;
}

}  // namespace runner
