#include "launcher/install_directory.h"

#include "launcher/registry.h"
#include "pathtext/path_rules.h"
#include "pathtext/text_conversion.h"

UnicodeString ReadMachineString(const AnsiString& key, const AnsiString& valueName) {
  UnicodeString result;
  // No KEY_WOW64_* flag: a 32-bit launcher reads the 32-bit view, where a 32-bit installer records itself.
  TRegistry registry(platform::KeyRead);
  registry.SetRootKey(platform::HkeyLocalMachine);
  if (registry.OpenKey(ToWide(key), false)) result = registry.ReadString(ToWide(valueName));
  registry.CloseKey();
  return result;
}

UnicodeString GetInstallDirectory() {
  // The trim works on the wide form: in a double-byte code page such as 932 the last narrow byte can be
  // 0x5C while being the trail byte of a character, not a backslash.
  return ExcludeTrailingPathDelimiter(ReadMachineString(AnsiString(InstallerKey), AnsiString(InstallDirectoryValue)));
}
