// The same-publisher build's last rule: the installer is started only when its Authenticode signature
// holds and names the publisher that signed this launcher.
#pragma once

#include "pathtext/text.h"
#include "platform/unique_file_handle.h"

// Refuses where this Windows cannot keep the DLL search to System32, loads the trust DLLs from there,
// checks this launcher's own signature; then, unless installerPath is on a remote volume, opens it into
// *hold, so that nobody can write, rename or delete it (or the folders above it) while *hold is open,
// requires that the path lead to the held file and nowhere else, and checks the signature of the file
// so held. Returns an empty string where the installer may be started (keep *hold open until the shell
// has started it), else why not, with Windows' status where there is one.
UnicodeString CheckSamePublisher(const UnicodeString& installerPath, platform::UniqueFileHandle* hold);
