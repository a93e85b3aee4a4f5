#include "tests/wine/registry_setting.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace wine_test {
namespace {
const wchar_t SettingKey[] = L"Software\\Vantorq Technologies\\SnDriverInstaller";
REGSAM Flag(View view) { return view == View::Setting ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }
}  // namespace

void WriteSetting(std::uint32_t type, const std::vector<std::uint8_t>& data, View view) {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, SettingKey, 0, nullptr, 0, KEY_SET_VALUE | Flag(view), nullptr, &key, nullptr);
  ASSERT_EQ(status, ERROR_SUCCESS) << "RegCreateKeyExW";
  static const BYTE none = 0;
  status = RegSetValueExW(key, L"InstallDirectory", 0, type, data.empty() ? &none : data.data(),
                          static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  ASSERT_EQ(status, ERROR_SUCCESS) << "RegSetValueExW";
}

void RemoveSettingValue() {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, SettingKey, 0, nullptr, 0, KEY_SET_VALUE | Flag(View::Setting), nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  const LSTATUS status = RegDeleteValueW(key, L"InstallDirectory");
  RegCloseKey(key);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "RegDeleteValueW: " << status;
}

void RemoveSettingKey(View view) {
  const LSTATUS status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, SettingKey, Flag(view), 0);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "RegDeleteKeyExW: " << status;
}

bool HasTwoRegistryViews() {
  BOOL wow64 = FALSE;
  return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

unsigned ExpectedCodePage() {
  // Wine picks the ANSI code page from the Unix locale it was started under.
  const char* locale = std::getenv("LC_ALL");
  if (!locale) return 0;
  const std::string name = locale;
  if (name.rfind("en_US", 0) == 0) return 1252;
  if (name.rfind("ru_RU", 0) == 0) return 1251;
  if (name.rfind("ja_JP", 0) == 0) return 932;
  if (name.rfind("hi_IN", 0) == 0) return 65001;  // a locale with no ANSI code page: Wine uses UTF-8
  return 0;
}

}  // namespace wine_test
