// The same-publisher build's rule that the file the shell starts is the file that was checked: the
// shell opens the path again, so the path must lead to the held file and nowhere else, and no server
// may serve the two opens different bytes.
#pragma once

#include "pathtext/text.h"
#include "platform/win32_api.h"

// Why a fully qualified path is not one to open: on a remote volume (a UNC path in any spelling, a mapped
// network drive) or a removable one, or in another form than "X:\..." (a device path, "\\?\X:\...");
// or empty. Opens nothing.
UnicodeString PathFormRefusal(const UnicodeString& path);

// Opens the file at path to read, sharing it for reading only, at identification level: while it is
// open, nobody can open the file to write, rename or delete it (ERROR_SHARING_VIOLATION), and where
// someone has it open so already, this fails with that error. InvalidFileHandle on failure.
platform::FileHandle OpenFileDenyingWriteAndDelete(const UnicodeString& path);

// Why path does not name the file held open as held by itself, or empty: a junction, mount point or
// link on the way (the folders' and the file's own attributes), or the path Windows gives the held file
// (GetFinalPathNameByHandleW) other than path, compared as the file system compares names. Call while
// the file is held: then nothing on the way can be renamed or replaced.
UnicodeString HeldFilePathRefusal(const UnicodeString& path, platform::FileHandle held);
