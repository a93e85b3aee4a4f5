// Who, besides an administrator, may change a file or folder: its owner and the allow entries of its
// DACL, for the rights that matter in the object's place on the installer's path.
#pragma once

#include <cstdint>

#include "pathtext/text.h"

// The object's place, and so the rights that would let someone put or change the installer.
enum class PathRole {
  File,           // the installer and every other entry of its folder: write data, append, write EA,
                  // write attributes, DELETE, WRITE_DAC, WRITE_OWNER
  InstallFolder,  // add file, add subfolder, delete child, write attributes, DELETE, WRITE_DAC, WRITE_OWNER
  FolderAbove,    // delete child, DELETE, WRITE_DAC, WRITE_OWNER
  DriveRoot,      // delete child, WRITE_DAC, WRITE_OWNER (a root cannot be renamed)
};

// Why someone other than BUILTIN\Administrators, SYSTEM or TrustedInstaller could change object (named
// so in the line) in its role, given its owner and DACL as GetSecurityInfo gave them; empty where nobody
// could. Refuses an untrusted or missing owner, a missing (null) DACL, an entry it cannot read whole or
// of another type than access-allowed or access-denied, and any allow entry that applies to the object
// itself (not inherit-only) and grants an untrusted SID one of the role's rights, generic rights mapped
// as for files. Deny entries are not counted: they can only make it err towards refusing.
UnicodeString UntrustedWriterRefusal(const UnicodeString& object, PathRole role, const std::uint8_t* owner,
                                     const void* dacl);
