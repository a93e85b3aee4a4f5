/* Stands in for LauncherChecks.exe in the test of run_kit.cmd and the verdict: "LauncherChecks.exe MODE
 * RUN_ID". While it runs it holds the runner's lock file, as the runner does; it waits STAND_IN_SECONDS
 * (default 0), then writes beside itself a report: a title line, "run id: " with its RUN_ID (or
 * STAND_IN_RUN_ID, an earlier run's), then what the file named by STAND_IN_REPORT holds (no report where
 * it is unset); as the runner does, under another name first, renamed when complete; with
 * STAND_IN_PARTIAL set it ends before the rename, as a runner that was killed. With STAND_IN_HOLD set, a
 * copy of it keeps the report open, shared with no one, for 20 seconds after it ends: an unreadable
 * report. With STAND_IN_BOM set, the report starts with UTF-8's byte-order mark, as an editor may save
 * it. Exits with STAND_IN_STATUS (default 0). Started as the verdict is (five arguments) with
 * STAND_IN_SILENT_VERDICT set, it exits 0 at once, having judged nothing: what Wine's cmd saw of the
 * verdict that overflowed its stack on a 20 KB line. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static int Number(const char* name) {
  char value[16];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? atoi(value) : 0;
}

int main(int argc, char** argv) {
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
  if (argc == 6 && GetEnvironmentVariableW(L"STAND_IN_SILENT_VERDICT", NULL, 0)) return 0;
  if (argc == 2 && strcmp(argv[1], "hold") == 0) {  /* the copy that keeps the report unreadable */
    HANDLE held = CreateFileW(report, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    Sleep(20000);
    return held == INVALID_HANDLE_VALUE;
  }
  if (CreateFileW(lock, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, NULL) == INVALID_HANDLE_VALUE)
    return 98;
  Sleep(1000 * Number("STAND_IN_SECONDS"));
  DWORD n = GetEnvironmentVariableW(L"STAND_IN_REPORT", source, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return Number("STAND_IN_STATUS");
  char runId[80] = "", body[65536];
  if (!GetEnvironmentVariableA("STAND_IN_RUN_ID", runId, sizeof runId) && argc > 2) lstrcpynA(runId, argv[2], sizeof runId);
  HANDLE in = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  DWORD got = 0, written = 0;
  if (in == INVALID_HANDLE_VALUE || !ReadFile(in, body, sizeof body, &got, NULL)) return 99;
  CloseHandle(in);
  char header[160];
  int size = snprintf(header, sizeof header, "%sLauncherChecks, for Launcher commit stand-in\r\nrun id: %s\r\n",
                      GetEnvironmentVariableW(L"STAND_IN_BOM", NULL, 0) ? "\xEF\xBB\xBF" : "", runId);
  HANDLE out = CreateFileW(partial, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (out == INVALID_HANDLE_VALUE || !WriteFile(out, header, (DWORD)size, &written, NULL) || !WriteFile(out, body, got, &written, NULL))
    return 99;
  CloseHandle(out);
  if (GetEnvironmentVariableW(L"STAND_IN_PARTIAL", NULL, 0)) return Number("STAND_IN_STATUS");
  if (!MoveFileExW(partial, report, MOVEFILE_REPLACE_EXISTING)) return 99;
  if (GetEnvironmentVariableW(L"STAND_IN_HOLD", NULL, 0)) {
    wchar_t self[MAX_PATH], line[MAX_PATH + 16];
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    GetModuleFileNameW(NULL, self, MAX_PATH);
    wsprintfW(line, L"\"%s\" hold", self);
    if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 99;
    Sleep(1000);  /* until the copy has the report open */
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  return Number("STAND_IN_STATUS");
}
