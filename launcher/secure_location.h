// The same-publisher build's rule that only an administrator could have put the installer where it is,
// or changed it there: Windows' own "secure location", as for UIAccess programs (Program Files, System32).
#pragma once

#include <vector>

#include "pathtext/text.h"
#include "platform/unique_file_handle.h"

// Why someone other than an administrator could have put or changed the installer at path ("X:\...",
// held open as held, its path already checked to lead to it): its volume keeps no permissions, or the
// owner or DACL of the file, of every other entry of its folder, of that folder, or of a folder above it
// up to the drive root lets an untrusted account change it (UntrustedWriterRefusal); or one of them cannot
// be read. Empty where none does. Each folder is read through a handle opened on its name and kept in
// *folders, which the caller keeps open until the shell has started the file: it shares the folder
// without delete, so nobody can rename it meanwhile.
// Opens the folder (or file) at path as itself, a reparse point not followed, to read its owner and DACL,
// at identification level and shared without delete: while it is open nobody can rename or remove it.
// InvalidFileHandle on failure.
platform::FileHandle OpenFolderDenyingDelete(const UnicodeString& path);

UnicodeString SecureLocationRefusal(const UnicodeString& path, platform::FileHandle held,
                                    std::vector<platform::UniqueFileHandle>* folders);
