#include "kit/setting_backup.h"

#include <cstring>
#include <fstream>

#include "launcher/install_directory.h"
#include "platform/win32_api.h"
#include "kit/file_contents.h"

namespace {

const REGSAM Views[] = {KEY_WOW64_32KEY, platform::KeyWow64_64Key};

std::wstring SettingKey() {
  const std::string key = InstallerKey;
  return std::wstring(key.begin(), key.end());
}

// Deletes every value of an open key; false when one cannot be deleted.
bool DeleteValues(HKEY key) {
  wchar_t name[16384];
  DWORD length = 16384;
  LSTATUS status;
  while ((status = RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr)) == ERROR_SUCCESS) {
    if (RegDeleteValueW(key, name) != ERROR_SUCCESS) return false;
    length = 16384;
  }
  return status == ERROR_NO_MORE_ITEMS;
}

void Put(std::string& out, DWORD value) { out.append(reinterpret_cast<const char*>(&value), sizeof value); }
DWORD Take(const std::string& in, std::size_t& at) {
  DWORD value = 0;
  if (at + sizeof value <= in.size()) std::memcpy(&value, in.data() + at, sizeof value);
  at += sizeof value;
  return value;
}

}  // namespace

bool SettingBackup::Pending() const { return GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SettingBackup::Save() const {
  std::string saved;
  for (REGSAM view : Views) {
    HKEY key = nullptr;
    const bool present = RegOpenKeyExW(HKEY_LOCAL_MACHINE, SettingKey().c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS;
    Put(saved, present);
    std::string values;
    DWORD count = 0;
    for (DWORD i = 0; present; ++i) {
      wchar_t name[16384];
      DWORD nameLength = 16384, type = 0, size = 0;
      if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
      std::string data(size, '\0');
      nameLength = 16384;
      RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
      Put(values, nameLength);
      values.append(reinterpret_cast<const char*>(name), nameLength * sizeof(wchar_t));
      Put(values, type);
      Put(values, size);
      values.append(data.data(), size);
      ++count;
    }
    if (key) RegCloseKey(key);
    Put(saved, count);
    saved += values;
  }
  std::ofstream out(path_.c_str(), std::ios::binary);
  out << saved;
  return static_cast<bool>(out.flush());
}

bool SettingBackup::Remove() const {
  bool removed = true;
  for (REGSAM view : Views) {
    HKEY key = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, SettingKey().c_str(), 0, KEY_READ | KEY_SET_VALUE | view, &key);
    if (status == ERROR_FILE_NOT_FOUND) continue;
    removed &= status == ERROR_SUCCESS && DeleteValues(key);
    if (key) RegCloseKey(key);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, SettingKey().c_str(), view, 0);  // fails, harmlessly, with subkeys
  }
  return removed;
}

bool SettingBackup::Restore() const {
  const std::string saved = FileContents(path_);
  std::size_t at = 0;
  bool restored = !saved.empty();
  for (REGSAM view : Views) {
    const bool present = Take(saved, at) != 0;
    const DWORD count = Take(saved, at);
    if (!present) {
      const LSTATUS status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, SettingKey().c_str(), view, 0);
      restored &= status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
      continue;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, SettingKey().c_str(), 0, nullptr, 0, KEY_READ | KEY_SET_VALUE | view,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
      restored = false;
      continue;
    }
    restored &= DeleteValues(key);
    for (DWORD i = 0; i < count && restored; ++i) {
      const std::size_t nameLength = Take(saved, at);
      if (at + nameLength * sizeof(wchar_t) > saved.size()) restored = false;
      if (!restored) break;
      const std::wstring valueName(reinterpret_cast<const wchar_t*>(saved.data() + at), nameLength);
      at += nameLength * sizeof(wchar_t);
      const DWORD type = Take(saved, at);
      const DWORD size = Take(saved, at);
      restored = at + size <= saved.size() &&
                 RegSetValueExW(key, valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(saved.data() + at), size) ==
                     ERROR_SUCCESS;
      at += size;
    }
    RegCloseKey(key);
  }
  if (restored) DeleteFileW(path_.c_str());
  return restored;
}
