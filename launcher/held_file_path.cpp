#include "launcher/held_file_path.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace {

constexpr std::u16string_view LongPathPrefix = u"\\\\?\\";

UnicodeString ErrorText(platform::Dword error) {
  const std::string digits = std::to_string(error);
  return u"error " + UnicodeString(digits.begin(), digits.end());
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}
bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// "C:\..." or "\\?\C:\...": the length of the part before the first name ("C:\" or "\\?\C:\"); 0 for
// any other form (UNC, other device paths).
std::size_t DriveRootLength(std::u16string_view path) {
  const std::size_t at = StartsWith(path, LongPathPrefix) ? LongPathPrefix.size() : 0;
  if (path.size() < at + 3 || !IsDriveLetter(path[at]) || path[at + 1] != u':' || path[at + 2] != u'\\') return 0;
  return at + 3;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// "\\server\share\..." or "//server/share/..." as typed, or "\\?\UNC\..." and "\\.\UNC\..." as devices
// spell it, "UNC" in any case: Windows takes either separator, and the device names without case.
bool IsUncPath(std::u16string_view path) {
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return false;
  if (path.size() < 4 || (path[2] != u'?' && path[2] != u'.') || !IsSeparator(path[3])) return true;
  return path.size() >= 8 && UpperAscii(path[4]) == u'U' && UpperAscii(path[5]) == u'N' && UpperAscii(path[6]) == u'C' &&
         IsSeparator(path[7]);
}

// "\\?\C:\x" is "C:\x": the prefix only turns off the Win32 name rules.
std::u16string_view WithoutLongPathPrefix(std::u16string_view path) {
  return StartsWith(path, LongPathPrefix) && DriveRootLength(path) != 0 ? path.substr(LongPathPrefix.size()) : path;
}

}  // namespace

UnicodeString PathFormRefusal(const UnicodeString& path) {
  if (IsUncPath(path)) return u"the installer is on a network share, whose server could serve the check one file and the shell another";
  const std::size_t root = DriveRootLength(path);
  // Device paths ("\\?\GLOBALROOT\...", "\\.\..."), volume GUIDs and forward slashes: none is a
  // path the shell is known to open as the same file, and some lead to a server.
  if (root == 0) return u"the installer is not named from a drive letter (C:\\...), the only form this launcher starts from";
  const UnicodeString drive = path.substr(root - 3, 3);
  const platform::Dword driveType = platform::GetDriveTypeW(drive.c_str());
  if (driveType == platform::DriveRemote)
    return u"the installer is on a network drive (" + drive + u"), whose server could serve the check one file and the shell another";
  // An NTFS stick prepared on another machine carries whatever owners and DACLs were set there: the
  // secure-location rule would believe them. (An external disk that Windows reports as fixed is not caught.)
  if (driveType == platform::DriveRemovable)
    return u"the installer is on a removable drive (" + drive + u"), whose owners and permissions could have been set on another machine";
  if (root != 3)
    return u"the installer is named in the \\\\?\\ form, which turns off Windows' name rules, and the shell may not open it as the same file";
  return {};
}

platform::FileHandle OpenFileDenyingWriteAndDelete(const UnicodeString& path) {
  // The path is checked for reparse points only once the file is held, so the open may still follow one
  // to a named pipe: SECURITY_IDENTIFICATION keeps such a server from acting as this (maybe elevated)
  // process; it may only learn who opened it.
  return platform::CreateFileW(path.c_str(), platform::GenericRead, platform::FileShareRead,
                               platform::FileAttributeNormal | platform::SecuritySqosPresent | platform::SecurityIdentificationFlag);
}

UnicodeString HeldFilePathRefusal(const UnicodeString& path, platform::FileHandle held) {
  // Each name on the way, the file's own last: none may be a junction, mount point or symbolic link
  // (GetFileAttributesW does not follow the last one, so each is seen as itself).
  for (std::size_t end = DriveRootLength(path); end != 0 && end <= path.size(); ++end) {
    end = std::min(path.find(u'\\', end), path.size());
    if (path[end - 1] == u'\\') continue;  // a doubled separator: the final path will tell
    const UnicodeString prefix = path.substr(0, end);
    const platform::Dword attributes = platform::GetFileAttributesW(prefix.c_str());
    if (attributes == platform::InvalidFileAttributes)
      return u"what " + prefix + u" is cannot be told (" + ErrorText(platform::GetLastError()) + u")";
    if (attributes & platform::FileAttributeReparsePoint)
      return u"a junction, mount point or link is on the way (" + prefix + u"), and the shell would follow it anew";
  }
  UnicodeString final(32768, u'\0');
  const platform::Dword length = platform::GetFinalPathNameByHandleW(held, final.data(), static_cast<platform::Dword>(final.size()));
  if (length == 0) return u"the held file's own path cannot be read (" + ErrorText(platform::GetLastError()) + u")";
  final.resize(length);
  if (IsUncPath(final))
    return u"the installer is on a network share (" + final + u"), whose server could serve the check one file and the shell another";
  const std::u16string_view heldName = WithoutLongPathPrefix(final), named = WithoutLongPathPrefix(path);
  if (platform::CompareStringOrdinal(heldName.data(), static_cast<int>(heldName.size()), named.data(),
                                     static_cast<int>(named.size()), true) != platform::CstrEqual)
    return u"Windows names the held file " + UnicodeString(heldName) +
           u" (a short 8.3 name, a mount point, a link or a doubled separator on the way), and the shell would open the path anew";
  return {};
}
