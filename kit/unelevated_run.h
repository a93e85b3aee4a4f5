// The run without elevation, as an elevated runner makes it: started again as the desktop's user; and
// why Windows does not virtualize a run that needed it to.
#pragma once

#include <windows.h>

#include <string>

namespace runner {

// Why Windows does not virtualize this process's registry, for a run that needed it to.
std::string WhyNotVirtualized();

// Starts program again, in unelevated mode with this run's id, as the desktop's user, waits for it and
// gives its exit status; false, with why, where the machine has no shell token that Windows would
// virtualize or the start fails.
bool RunAsDesktopUser(const std::wstring& program, DWORD& exitCode, std::string& why);

}  // namespace runner
