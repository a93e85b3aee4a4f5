// The platform facts the launcher's safety rests on, checked on this machine: code-page conversion,
// ShellExecute, the DLL search functions, the 32-bit registry view, registry virtualization.
#pragma once

namespace runner {

// Checks each fact, one line each. Last in a run: the virtualization check turns virtualization off for
// this process.
void CheckPlatformFacts();

}  // namespace runner
