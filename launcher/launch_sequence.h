// The whole run: find the installer, and start it through the shell if it is there.
#pragma once

#include "pathtext/text.h"

// Appended to the installation directory as it stands; it carries its own separator.
extern const AnsiString InstallerFileName;

// Starts <install directory>\SentrelInstaller.exe in its own directory with SW_SHOWNORMAL and no
// arguments, without waiting for it, when the setting names a directory and the file is there; otherwise
// starts nothing. Returns the exit status, 0. An ERegistryException from the lookup propagates.
int RunLaunchSequence();
