#include "launcher/secure_location.h"

#include <string>

#include "launcher/untrusted_writer.h"
#include "platform/unique_find_handle.h"
#include "platform/unique_security_descriptor.h"

namespace {

// A handle with READ_CONTROL alone would not count in the file system's share check (only data and
// DELETE access do), so its share mode would refuse nobody: traverse makes it count, and Users have it
// wherever they may read. The reparse point itself, never what it leads to; at identification level, as
// the installer is opened.
constexpr platform::Dword FolderAccess = platform::ReadControl | platform::FileTraverse;
constexpr platform::Dword ReadItselfFlags = platform::FileFlagBackupSemantics | platform::FileFlagOpenReparsePoint |
                                            platform::SecuritySqosPresent | platform::SecurityIdentificationFlag;

UnicodeString ErrorText(platform::Dword error) {
  const std::string digits = std::to_string(error);
  return u"error " + UnicodeString(digits.begin(), digits.end());
}

UnicodeString Check(const UnicodeString& object, platform::FileHandle open, PathRole role) {
  const platform::UniqueSecurityDescriptor descriptor(open);
  if (descriptor.Status() != 0)
    return u"who may change " + object + u" cannot be read (" + ErrorText(static_cast<platform::Dword>(descriptor.Status())) + u")";
  return UntrustedWriterRefusal(object, role, descriptor.Owner(), descriptor.Dacl());
}

// Each entry of folder but the installer itself (named installerName): a DLL beside the installer with a
// loose DACL is as good as a planted one. Read and closed: a new entry would need add file or add
// subfolder on the folder. An entry that is a symbolic link, junction or other reparse point is refused:
// it is read as itself, while the installer's loads follow it to what was never checked.
UnicodeString CheckOtherEntries(const UnicodeString& folder, const UnicodeString& installerName) {
  char16_t name[260];
  platform::Dword attributes = 0;
  const platform::UniqueFindHandle search(platform::FindFirstFileNameW((folder + u"\\*").c_str(), name, &attributes));
  if (!search.IsValid()) return u"the entries of " + folder + u" cannot be listed (" + ErrorText(platform::GetLastError()) + u")";
  do {
    const UnicodeString entry(name);
    if (entry == u"." || entry == u".." ||
        platform::CompareStringOrdinal(entry.data(), static_cast<int>(entry.size()), installerName.data(),
                                       static_cast<int>(installerName.size()), true) == platform::CstrEqual)
      continue;
    const UnicodeString path = folder + u"\\" + entry;
    if (attributes & platform::FileAttributeReparsePoint)
      return path + u", beside the installer, is a symbolic link, junction or other reparse point, and what the installer "
                    u"would load through it was never checked";
    const platform::UniqueFileHandle open(platform::CreateFileW(path.c_str(), platform::ReadControl,
                                                                platform::FileShareRead | platform::FileShareWrite,
                                                                ReadItselfFlags));
    if (!open.IsValid()) return u"who may change " + path + u" cannot be read (" + ErrorText(platform::GetLastError()) + u")";
    const UnicodeString refusal = Check(path, open.Get(), PathRole::File);
    if (!refusal.empty()) return refusal;
  } while (platform::FindNextFileNameW(search.Get(), name, &attributes));
  const platform::Dword error = platform::GetLastError();
  if (error != static_cast<platform::Dword>(platform::ErrorNoMoreFiles))
    return u"the entries of " + folder + u" cannot be listed (" + ErrorText(error) + u")";
  return {};
}

}  // namespace

platform::FileHandle OpenFolderDenyingDelete(const UnicodeString& path) {
  return platform::CreateFileW(path.c_str(), FolderAccess, platform::FileShareRead | platform::FileShareWrite, ReadItselfFlags);
}

UnicodeString SecureLocationRefusal(const UnicodeString& path, platform::FileHandle held,
                                    std::vector<platform::UniqueFileHandle>* folders) {
  platform::Dword volumeFlags = 0;
  if (!platform::GetVolumeFileSystemFlags(held, &volumeFlags))
    return u"whether the installer's volume keeps permissions cannot be told (" + ErrorText(platform::GetLastError()) + u")";
  if (!(volumeFlags & platform::FilePersistentAcls))
    return u"the installer's volume keeps no permissions (FAT or exFAT), so anyone could have put it there";

  // "X:\" first, then each folder on the way; the last is the installer's own.
  const std::size_t nameStart = path.rfind(u'\\') + 1;
  for (std::size_t end = 3;; end = path.find(u'\\', end + 1)) {
    const bool installFolder = end + 1 >= nameStart;
    const UnicodeString folder = path.substr(0, end);
    const PathRole role = installFolder ? PathRole::InstallFolder : end == 3 ? PathRole::DriveRoot : PathRole::FolderAbove;
    folders->emplace_back(OpenFolderDenyingDelete(folder));
    if (!folders->back().IsValid())
      return u"who may change " + folder + u" cannot be read (" + ErrorText(platform::GetLastError()) + u")";
    const UnicodeString refusal = Check(folder, folders->back().Get(), role);
    if (!refusal.empty()) return refusal;
    if (installFolder) break;
  }
  const UnicodeString refusal = Check(path, held, PathRole::File);
  if (!refusal.empty()) return refusal;
  return CheckOtherEntries(path.substr(0, nameStart == 3 ? 2 : nameStart - 1), path.substr(nameStart));
}
