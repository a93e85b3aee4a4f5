/* Stands in for LauncherChecks.exe in the test of run_kit.cmd: writes the report that the file named by
 * STAND_IN_REPORT holds (none where it is unset) beside itself as the runner does, under another name
 * first and renamed when complete, and exits with STAND_IN_STATUS (default 0). */
#include <windows.h>

#include <stdlib.h>

int main(void) {
  wchar_t folder[MAX_PATH], partial[MAX_PATH + 64], report[MAX_PATH + 64], source[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, folder, MAX_PATH);
  while (length > 0 && folder[length - 1] != L'\\') --length;
  folder[length] = L'\0';
  lstrcpyW(partial, folder);
  lstrcatW(partial, L"LauncherChecks-report.partial");
  lstrcpyW(report, folder);
  lstrcatW(report, L"LauncherChecks-STANDIN-20000101-000000.txt");
  DWORD n = GetEnvironmentVariableW(L"STAND_IN_REPORT", source, MAX_PATH);
  if (n > 0 && n < MAX_PATH &&
      (!CopyFileW(source, partial, FALSE) || !MoveFileExW(partial, report, MOVEFILE_REPLACE_EXISTING)))
    return 99;
  char status[16];
  n = GetEnvironmentVariableA("STAND_IN_STATUS", status, sizeof status);
  return n > 0 && n < sizeof status ? atoi(status) : 0;
}
