// The same-publisher build's last rule: the installer is started only when its Authenticode signature
// holds and names the publisher that signed this launcher.
#pragma once

#include "pathtext/text.h"
#include "platform/unique_file_handle.h"

// Opens installerPath into *hold, so that nobody can write, rename or delete it while *hold is open,
// then checks the signature of the file so held and of this launcher's own file. Returns an empty
// string where the installer may be started (keep *hold open until the shell has started it), else why
// not, with Windows' status where there is one.
UnicodeString CheckSamePublisher(const UnicodeString& installerPath, platform::UniqueFileHandle* hold);
