/* Runs its command line as "Run as administrator" does (ShellExecuteExW with the "runas" verb), waits
 * for it and exits with its status: the kit's test runs run_kit.cmd elevated so. Wine 10 starts
 * programs with a limited token, as Windows does with UAC on, and gives the full one through that verb;
 * Wine 8 starts every program with the full token. */
#include <windows.h>
#include <shellapi.h>

int main(void) {
  /* The program to run is the first argument; the rest are its arguments, as they stand. */
  wchar_t* line = GetCommandLineW();
  int quoted = *line == L'"';
  for (++line; *line && (quoted ? *line != L'"' : *line != L' '); ++line) {}
  if (*line == L'"') ++line;
  while (*line == L' ') ++line;
  wchar_t* arguments = line;
  quoted = *arguments == L'"';
  for (++line; *line && (quoted ? *line != L'"' : *line != L' '); ++line) {}
  if (*line == L'"') ++line;
  wchar_t program[MAX_PATH];
  lstrcpynW(program, arguments + quoted, (int)(line - arguments) - 2 * quoted + 1);
  while (*line == L' ') ++line;

  SHELLEXECUTEINFOW run = {sizeof run};
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NO_CONSOLE | SEE_MASK_FLAG_NO_UI;
  run.lpVerb = L"runas";
  run.lpFile = program;
  run.lpParameters = line;
  run.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&run) || !run.hProcess) return 125;
  WaitForSingleObject(run.hProcess, INFINITE);
  DWORD status = 125;
  GetExitCodeProcess(run.hProcess, &status);
  return (int)status;
}
