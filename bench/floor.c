/* The floor for the launcher's benchmark: the same Win32 calls, in the same order, in plain C with no
 * C++ runtime, no exceptions and no RAII. Whatever the launcher costs above this is the price of its
 * runtime and its abstractions. (Like the launcher it refuses paths the code page cannot spell; unlike it,
 * it skips the path checks that make no Win32 call.) */
#include <windows.h>
#include <shellapi.h>

/* The launcher's x86_64 test twin reads the setting from the 32-bit view, where the shipped 32-bit file
 * reads it; a floor built beside the twin (the same switch) reads the same place. */
#ifdef LAUNCHER_SETTING_IN_32BIT_VIEW
#define SETTING_ACCESS (KEY_READ | KEY_WOW64_32KEY)
#else
#define SETTING_ACCESS KEY_READ
#endif

static void Report(const WCHAR* what, const WCHAR* path) {
  WCHAR line[MAX_PATH * 4];
  lstrcpyW(line, L"Launcher: ");
  lstrcatW(line, what);
  lstrcatW(line, path);
  lstrcatW(line, L"\n");
  OutputDebugStringW(line);
}

/* Exact narrow form, or 0: no best fit, no default character, and it must decode to the same text. */
static int Narrow(UINT codePage, const WCHAR* wide, int length, char* narrow, int capacity) {
  BOOL usedDefault = FALSE;
  WCHAR back[MAX_PATH * 2 + 32];
  /* Windows refuses WC_NO_BEST_FIT_CHARS and lpUsedDefaultChar for UTF-8 (which has no best fit): there
     an unpaired surrogate must fail the conversion instead. */
  const BOOL utf8 = codePage == CP_UTF8;
  int bytes = WideCharToMultiByte(codePage, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, wide, length, narrow,
                                  capacity, NULL, utf8 ? NULL : &usedDefault);
  if (bytes <= 0 || usedDefault) return 0;
  if (MultiByteToWideChar(codePage, 0, narrow, bytes, back, MAX_PATH * 2 + 32) != length) return 0;
  if (CompareStringOrdinal(back, length, wide, length, FALSE) != CSTR_EQUAL) return 0;
  narrow[bytes] = '\0';
  return bytes;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance, (void)previous, (void)commandLine, (void)show;
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
  SetDefaultDllDirectoriesFunction setDefault =
      (SetDefaultDllDirectoriesFunction)(void (*)(void))GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                       "SetDefaultDllDirectories");
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");

  UINT codePage = GetACP();
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vantorq Technologies\\SnDriverInstaller", 0, SETTING_ACCESS, &key))
    return 0;
  DWORD type = 0, size = 0;
  WCHAR wide[MAX_PATH * 2 + 32] = {0};
  if (RegQueryValueExW(key, L"InstallDirectory", NULL, &type, NULL, &size) || size == 0 || size > MAX_PATH * 4 ||
      RegQueryValueExW(key, L"InstallDirectory", NULL, &type, (BYTE*)wide, &size) || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    RegCloseKey(key);
    return 0;
  }
  RegCloseKey(key);

  int length = lstrlenW(wide);
  if (length > 0 && wide[length - 1] == L'\\') --length;
  int directoryLength = length;
  lstrcpyW(wide + length, L"\\SentrelInstaller.exe");
  length = lstrlenW(wide);

  char narrow[MAX_PATH * 8], directory[MAX_PATH * 8];
  if (!Narrow(codePage, wide, length, narrow, sizeof narrow - 1) ||
      !Narrow(codePage, wide, directoryLength, directory, sizeof directory - 1)) {
    Report(L"nothing started: the code page cannot spell exactly: ", wide);
    return 0;
  }
  DWORD attributes = GetFileAttributesW(wide);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Report(L"nothing started: no installer file (missing, or a directory): ", wide);
    return 0;
  }
  Report(L"starting ", wide);
  ShellExecuteA(NULL, "", narrow, "", directory, SW_SHOWNORMAL);
  return 0;
}
