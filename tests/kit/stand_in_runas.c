/* Stands in for System32's runas.exe (Wine has none) in the test of run_kit.cmd: for
 * "runas /trustlevel:0x20000 "PROGRAM ARGUMENTS"" it starts PROGRAM ARGUMENTS and returns at once, as
 * runas does, without waiting; with STAND_IN_RUNAS_STARTS=no it starts nothing and still says it did. */
#include <windows.h>

int main(void) {
  wchar_t* line = GetCommandLineW();
  wchar_t* open = wcschr(line, L'"');
  /* The program's own name may be quoted too: the command is the last quoted part. */
  wchar_t* close = wcsrchr(line, L'"');
  if (!open || close == open) return 1;
  open = close - 1;
  while (open > line && *open != L'"') --open;
  *close = L'\0';
  wchar_t value[8];
  if (GetEnvironmentVariableW(L"STAND_IN_RUNAS_STARTS", value, 8) == 2 && lstrcmpiW(value, L"no") == 0) return 0;
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessW(NULL, open + 1, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
