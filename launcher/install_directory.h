// Where the companion installer is installed, from its machine-wide registry setting.
#pragma once

#include "pathtext/text.h"
#include "platform/win32_api.h"

// HKEY_LOCAL_MACHINE\<InstallerKey>, value <InstallDirectoryValue>: narrow text, kept as plain arrays so
// that no constant costs an allocation at start-up or a destructor at exit.
inline constexpr char InstallerKey[] = "Software\\Vantorq Technologies\\SnDriverInstaller";
inline constexpr char InstallDirectoryValue[] = "InstallDirectory";

// The text of value under HKEY_LOCAL_MACHINE\key, read with KEY_READ (plus registryView, a KEY_WOW64_*
// flag, when given); empty when the key cannot be opened or the value is absent or empty. Throws
// ERegistryException when the value is not text.
// The text stays wide: a narrow form could only be made by replacing what the code page cannot spell.
UnicodeString ReadMachineString(const AnsiString& key, const AnsiString& valueName, platform::Dword registryView = 0);

// The registry view the setting is read from. The shipped launcher gives no KEY_WOW64_* flag: a 32-bit
// process reads the 32-bit view, where a 32-bit installer records itself. The x86_64 build that stands
// in for it where 32-bit Wine cannot run names that view explicitly, so that it reads the setting, and
// the 64-bit view's hint, from the same places the shipped file does.
#ifdef LAUNCHER_SETTING_IN_32BIT_VIEW
inline constexpr platform::Dword SettingView = platform::KeyWow64_32Key;
#else
inline constexpr platform::Dword SettingView = 0;
#endif

// The installation directory without one trailing backslash; empty when the setting is absent.
// Throws ERegistryException as ReadMachineString does.
UnicodeString GetInstallDirectory();

// The setting as the 64-bit registry view holds it, as stored, to tell a support engineer where a 64-bit
// installer put it; never to be launched. Empty when it is absent, empty or not text there, and when the
// process reads that view anyway (64-bit Windows builds, 32-bit Windows). Never throws a registry error.
UnicodeString ReadSettingIn64BitView();
