// What the install-directory lookup makes of each kind of data the setting can hold. Shared by the host
// tests (scripted fake registry) and the Wine tests (real registry, data written raw).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32_api.h"

struct RegistryValueCase {
  const char* name;
  bool present;             // false: the key exists but has no such value
  platform::Dword type;
  std::vector<std::uint8_t> data;
  std::u16string expectedDirectory;  // what GetInstallDirectory returns, when no error is expected
  std::u16string expectedError;      // ERegistryException's message, or empty
};

inline std::vector<std::uint8_t> RegistryBytes(const std::u16string& text, bool terminated = true) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

inline std::vector<RegistryValueCase> RegistryValueCases() {
  using namespace platform;
  const std::u16string invalidType = u"Invalid data type for 'InstallDirectory'";
  const std::u16string longDirectory = u"C:\\" + std::u16string(300, u'a');
  std::vector<std::uint8_t> oddByteCount = RegistryBytes(u"C:\\A", false);
  oddByteCount.push_back('B');
  return {
      {"TrailingBackslashDropped", true, RegSz, RegistryBytes(u"C:\\Program Files\\X\\"), u"C:\\Program Files\\X", {}},
      {"NoTrailingBackslash", true, RegSz, RegistryBytes(u"C:\\Program Files\\X"), u"C:\\Program Files\\X", {}},
      {"OnlyOneOfTwoBackslashesDropped", true, RegSz, RegistryBytes(u"D:\\App\\\\"), u"D:\\App\\", {}},
      {"ForwardSlashKept", true, RegSz, RegistryBytes(u"C:\\Tools/"), u"C:\\Tools/", {}},
      {"ExpandSzNotExpanded", true, RegExpandSz, RegistryBytes(u"%ProgramFiles%\\X"), u"%ProgramFiles%\\X", {}},
      {"EmbeddedNulCutsText", true, RegSz, RegistryBytes(std::u16string(u"C:\\A\0C:\\B", 9)), u"C:\\A", {}},
      {"NoStoredTerminator", true, RegSz, RegistryBytes(u"C:\\A", false), u"C:\\A", {}},
      {"OddByteCountKeepsLastByte", true, RegSz, oddByteCount, u"C:\\AB", {}},
      {"LongerThanMaxPath", true, RegSz, RegistryBytes(longDirectory + u"\\"), longDirectory, {}},
      {"ZeroBytes", true, RegSz, {}, u"", {}},
      {"OnlyTerminator", true, RegSz, {0, 0}, u"", {}},
      {"LoneBackslash", true, RegSz, RegistryBytes(u"\\"), u"", {}},
      {"ValueAbsent", false, RegNone, {}, u"", {}},
      {"DwordIsError", true, RegDword, {1, 0, 0, 0}, {}, invalidType},
      {"BinaryIsError", true, RegBinary, RegistryBytes(u"C:\\X"), {}, invalidType},
      {"MultiSzIsError", true, RegMultiSz, RegistryBytes(std::u16string(u"C:\\X\0", 5)), {}, invalidType},
      {"NoneTypeWithDataIsError", true, RegNone, RegistryBytes(u"C:\\X"), {}, invalidType},
  };
}
