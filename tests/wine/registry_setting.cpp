#include "tests/wine/registry_setting.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace wine_test {
namespace {
const wchar_t SettingKey[] = L"Software\\Vantorq Technologies\\SnDriverInstaller";
}

void WriteSetting(std::uint32_t type, const std::vector<std::uint8_t>& data) {
  HKEY key = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, SettingKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  ASSERT_EQ(status, ERROR_SUCCESS) << "RegCreateKeyExW";
  static const BYTE none = 0;
  status = RegSetValueExW(key, L"InstallDirectory", 0, type, data.empty() ? &none : data.data(),
                          static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  ASSERT_EQ(status, ERROR_SUCCESS) << "RegSetValueExW";
}

void RemoveSettingValue() {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, SettingKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const LSTATUS status = RegDeleteValueW(key, L"InstallDirectory");
  RegCloseKey(key);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "RegDeleteValueW: " << status;
}

void RemoveSettingKey() {
  const LSTATUS status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, SettingKey);
  ASSERT_TRUE(status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) << "RegDeleteKeyW: " << status;
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
