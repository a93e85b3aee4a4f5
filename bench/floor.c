/* The floor for the launcher's benchmark: the same Win32 calls, in the same order, in plain C with no
 * C++ runtime, no exceptions and no RAII. Whatever the launcher costs above this is the price of its
 * runtime and its abstractions. */
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance, (void)previous, (void)commandLine, (void)show;
  UINT codePage = GetACP();
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vantorq Technologies\\SnDriverInstaller", 0, KEY_READ, &key))
    return 0;
  DWORD type = 0, size = 0;
  WCHAR wide[MAX_PATH * 2 + 2] = {0};
  if (RegQueryValueExW(key, L"InstallDirectory", NULL, &type, NULL, &size) || size == 0 || size > sizeof wide - 2 ||
      RegQueryValueExW(key, L"InstallDirectory", NULL, &type, (BYTE*)wide, &size) || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    RegCloseKey(key);
    return 0;
  }
  RegCloseKey(key);

  int length = lstrlenW(wide);
  char narrow[MAX_PATH * 4];
  int bytes = WideCharToMultiByte(codePage, 0, wide, length, narrow, sizeof narrow, NULL, NULL);
  length = MultiByteToWideChar(codePage, 0, narrow, bytes, wide, MAX_PATH * 2);
  if (length > 0 && wide[length - 1] == L'\\') --length;
  bytes = WideCharToMultiByte(codePage, 0, wide, length, narrow, sizeof narrow - 32, NULL, NULL);
  if (bytes <= 0) return 0;
  lstrcpyA(narrow + bytes, "\\SentrelInstaller.exe");

  WCHAR path[MAX_PATH * 2];
  int units = MultiByteToWideChar(codePage, 0, narrow, -1, path, MAX_PATH * 2);
  if (units <= 0) return 0;
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;

  char directory[MAX_PATH * 4];
  lstrcpyA(directory, narrow);
  directory[bytes] = '\0';
  ShellExecuteA(NULL, "", narrow, "", directory, SW_SHOWNORMAL);
  return 0;
}
