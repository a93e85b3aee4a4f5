#include "launcher/install_directory.h"

#include "launcher/registry.h"
#include "launcher/registry_exception.h"
#include "pathtext/path_rules.h"
#include "pathtext/text_conversion.h"

UnicodeString ReadMachineString(const AnsiString& key, const AnsiString& valueName, platform::Dword registryView) {
  UnicodeString result;
  TRegistry registry(platform::KeyRead | registryView);
  registry.SetRootKey(platform::HkeyLocalMachine);
  if (registry.OpenKey(ToWide(key), false)) result = registry.ReadString(ToWide(valueName));
  registry.CloseKey();
  return result;
}

UnicodeString GetInstallDirectory() {
  // The trim works on the wide form: in a double-byte code page such as 932 the last narrow byte can be
  // 0x5C while being the trail byte of a character, not a backslash.
  return ExcludeTrailingPathDelimiter(
      ReadMachineString(AnsiString(InstallerKey), AnsiString(InstallDirectoryValue), SettingView));
}

UnicodeString ReadSettingIn64BitView() {
  try {
    return ReadMachineString(AnsiString(InstallerKey), AnsiString(InstallDirectoryValue), platform::KeyWow64_64Key);
  } catch (const ERegistryException&) {
    return {};  // only a hint for the report: a value there that is not text names no directory
  }
}
