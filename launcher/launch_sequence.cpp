#include "launcher/launch_sequence.h"

#include "launcher/install_directory.h"
#include "pathtext/file_probe.h"
#include "pathtext/path_rules.h"
#include "pathtext/text_conversion.h"
#include "platform/win32_api.h"

const AnsiString InstallerFileName("\\SentrelInstaller.exe");

int RunLaunchSequence() {
  const AnsiString directory = GetInstallDirectory();
  // Without a directory the path would be "\SentrelInstaller.exe", relative to the root of whatever drive
  // we were started from: anyone who can write there would get their program run.
  if (directory.IsEmpty()) return 0;

  const AnsiString installerPath = directory + InstallerFileName;
  if (!FileExists(ToWide(installerPath))) return 0;

  const AnsiString workingDirectory = ToNarrow(ExtractFileDir(ToWide(installerPath)));
  // "" as the operation, not null: the shell then uses the file's default verb.
  platform::ShellExecuteA("", installerPath.CStr(), "", workingDirectory.CStr(), platform::SwShowNormal);
  return 0;
}
