#include "launcher/launch_sequence.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/dll_search.h"
#include "launcher/install_directory.h"
#include "pathtext/file_probe.h"
#include "pathtext/path_rules.h"
#include "pathtext/text_conversion.h"
#include "platform/win32_api.h"
#if LAUNCHER_SAME_PUBLISHER_ONLY
#include "launcher/held_file_path.h"
#include "launcher/same_publisher.h"
#endif

namespace {

// The run's one line for a support engineer with a debugger or DebugView: what was started, or why not.
// Joined in one buffer: each allocation is a call into the heap, and start-up costs are counted.
void Report(std::initializer_list<std::u16string_view> parts) {
  constexpr std::u16string_view prefix = u"Launcher: ";
  std::size_t length = prefix.size() + 1;
  for (std::u16string_view part : parts) length += part.size();
  UnicodeString line;
  line.reserve(length);
  line += prefix;
  for (std::u16string_view part : parts) line += part;
  line += u'\n';
  platform::OutputDebugStringW(line.c_str());
}

UnicodeString Decimal(std::uint32_t value) {
  const std::string digits = std::to_string(value);
  return UnicodeString(digits.begin(), digits.end());
}

}  // namespace

int RunLaunchSequence() {
  // First, before the registry or the shell can load a DLL on demand.
  RestrictDllSearchToSystemDirectory();
  // Then, before the setting is read: Windows serves a manifest-less 32-bit program, run without
  // elevation, its reads of HKLM\Software from the user's VirtualStore whenever a copy is there, and any
  // program of that user may write one. Refused where UAC is off (nothing is virtualized then): go on.
  platform::SetTokenVirtualizationEnabled(false);

  const UnicodeString directory = GetInstallDirectory();
  if (directory.empty()) {
    const UnicodeString noSetting = u"nothing started: no InstallDirectory under HKLM\\" + ToWide(AnsiString(InstallerKey));
    // A 64-bit installer (an x64 MSI's 64-bit component, say) writes the other view: say so, but never
    // start what it names. Judged as the setting is: on 32-bit Windows, which has one view, a lone
    // backslash comes back from the same value and names no directory.
    const UnicodeString in64BitView = ReadSettingIn64BitView();
    if (ExcludeTrailingPathDelimiter(in64BitView).empty()) Report({noSetting});
    else Report({noSetting, u" (32-bit view); the 64-bit view holds one, as a 64-bit installer writes it: ", in64BitView});
    return 0;
  }

  const UnicodeString installerPath = directory + InstallerFileName;
  // Anything less would be resolved against the current directory or drive, which whoever starts the
  // launcher chooses (a shortcut's "Start in", a deployment tool, a USB stick).
  if (!IsPathFullyQualified(installerPath)) {
    Report({u"nothing started: not a fully qualified path: ", installerPath});
    return 0;
  }
  if (MayHoldEnvironmentReference(installerPath)) {
    Report({u"nothing started: the shell could expand %...% in: ", installerPath});
    return 0;
  }
  // The shell takes narrow text: the path must be the same path in the ANSI code page, not a look-alike.
  const UnicodeString workingDirectory = ExtractFileDir(installerPath);
  const std::optional<AnsiString> narrowPath = ToNarrowExact(installerPath);
  const std::optional<AnsiString> narrowWorkingDirectory = ToNarrowExact(workingDirectory);
  if (!narrowPath || !narrowWorkingDirectory) {
    Report({u"nothing started: code page ", Decimal(SystemAnsiCodePage()), u" cannot spell exactly: ", installerPath});
    return 0;
  }
#if LAUNCHER_SAME_PUBLISHER_ONLY
  // Before the probe below: GetFileAttributesW of "\\server\share\..." (or "//server/...") is already an
  // SMB open, which hands the server this account's credentials.
  const UnicodeString form = PathFormRefusal(installerPath);
  if (!form.empty()) {
    Report({u"nothing started: ", form, u": ", installerPath});
    return 0;
  }
#endif
  if (!FileExists(installerPath)) {
    Report({u"nothing started: no installer file (missing, or a directory): ", installerPath});
    return 0;
  }

#if LAUNCHER_SAME_PUBLISHER_ONLY
  // Held from the check until the shell has started it: the file checked is the file started.
  HeldInstaller held;
  const UnicodeString refusal = CheckSamePublisher(installerPath, &held);
  if (!refusal.empty()) {
    Report({u"nothing started: ", refusal, u": ", installerPath});
    return 0;
  }
#endif
  Report({u"starting ", installerPath, u" in ", workingDirectory});
  // "" as the operation, not null: the shell then uses the file's default verb.
  platform::ShellExecuteA("", narrowPath->CStr(), "", narrowWorkingDirectory->CStr(), platform::SwShowNormal);
  return 0;
}
