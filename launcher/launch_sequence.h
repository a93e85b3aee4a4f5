// The whole run: find the installer, and start it through the shell if it is there.
#pragma once

#include "pathtext/text.h"

// Appended to the installation directory as it stands; it carries its own separator.
inline constexpr char16_t InstallerFileName[] = u"\\SentrelInstaller.exe";

// Starts <install directory>\SentrelInstaller.exe in its own directory with SW_SHOWNORMAL and no
// arguments, without waiting for it, when that is a fully qualified path which the ANSI code page spells
// exactly and the file is there; otherwise starts nothing. Either way writes one line saying what it did,
// or why not, to the debugger output. Returns the exit status, 0. An ERegistryException from the lookup
// propagates. Built with LAUNCHER_SAME_PUBLISHER_ONLY, it refuses a path of
// another form than a local "X:\..." (PathFormRefusal) before it probes it, and also requires
// CheckSamePublisher's consent.
int RunLaunchSequence();
