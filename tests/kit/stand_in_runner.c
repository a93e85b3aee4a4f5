/* Stands in for LauncherChecks.exe in the test of run_kit.cmd. While it runs it holds the runner's lock
 * file, as the runner does; it waits STAND_IN_SECONDS (default 0), then writes the report that the file
 * named by STAND_IN_REPORT holds (none where it is unset) beside itself, as the runner does: under
 * another name first, renamed when complete; with STAND_IN_PARTIAL set it ends before the rename, as a
 * runner that was killed. Exits with STAND_IN_STATUS (default 0). */
#include <windows.h>

#include <stdlib.h>

static int Number(const char* name) {
  char value[16];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? atoi(value) : 0;
}

int main(void) {
  wchar_t folder[MAX_PATH], lock[MAX_PATH + 64], partial[MAX_PATH + 64], report[MAX_PATH + 64], source[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, folder, MAX_PATH);
  while (length > 0 && folder[length - 1] != L'\\') --length;
  folder[length] = L'\0';
  lstrcpyW(lock, folder);
  lstrcatW(lock, L"LauncherChecks-running.lock");
  lstrcpyW(partial, folder);
  lstrcatW(partial, L"LauncherChecks-report.partial");
  lstrcpyW(report, folder);
  lstrcatW(report, L"LauncherChecks-STANDIN-20000101-000000.txt");
  if (CreateFileW(lock, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, NULL) == INVALID_HANDLE_VALUE)
    return 98;
  Sleep(1000 * Number("STAND_IN_SECONDS"));
  DWORD n = GetEnvironmentVariableW(L"STAND_IN_REPORT", source, MAX_PATH);
  if (n > 0 && n < MAX_PATH && !CopyFileW(source, partial, FALSE)) return 99;
  if (n > 0 && n < MAX_PATH && !GetEnvironmentVariableW(L"STAND_IN_PARTIAL", NULL, 0) &&
      !MoveFileExW(partial, report, MOVEFILE_REPLACE_EXISTING))
    return 99;
  return Number("STAND_IN_STATUS");
}
