// The same-publisher build's last rule: the installer is started only when its Authenticode signature
// holds and names the publisher that signed this launcher.
#pragma once

#include <vector>

#include "pathtext/text.h"
#include "platform/unique_file_handle.h"

// The installer and the folders on its way, held open from the check until the shell has started it.
struct HeldInstaller {
  platform::UniqueFileHandle file;
  std::vector<platform::UniqueFileHandle> folders;
};

// Refuses where this Windows cannot keep the DLL search to System32, loads the trust DLLs from there,
// checks this launcher's own signature; then (installerPath already passed PathFormRefusal: "X:\...",
// on a local volume) opens it into hold->file, so that nobody can write, rename or delete it (or the folders
// above it) while it is open, requires that the path lead to the held file and nowhere else, and that
// only an administrator could have put it there or changed it (SecureLocationRefusal, which holds the
// folders in hold->folders), and checks the signature of the file so held. Returns an empty string where
// the installer may be started (keep *hold until the shell has started it), else why not, with
// Windows' status where there is one.
UnicodeString CheckSamePublisher(const UnicodeString& installerPath, HeldInstaller* hold);
