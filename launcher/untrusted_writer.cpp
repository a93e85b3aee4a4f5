#include "launcher/untrusted_writer.h"

#include <iterator>
#include <string>

#include "platform/win32_api.h"

namespace {

struct Right {
  platform::Dword bits;
  const char16_t* name;
};
constexpr platform::Dword Delete = 0x00010000, WriteDac = 0x00040000, WriteOwner = 0x00080000;
constexpr platform::Dword AddFile = 0x2, AddSubfolder = 0x4, WriteEa = 0x10, DeleteChild = 0x40, WriteAttributes = 0x100;
// The same bits mean other things on files (write data, append) and on folders (add file, add subfolder).
constexpr Right FileRights[] = {{0x2, u"write data"}, {0x4, u"append"}, {WriteEa, u"write EA"},
                                {WriteAttributes, u"write attributes"}, {Delete, u"DELETE"},
                                {WriteDac, u"WRITE_DAC"}, {WriteOwner, u"WRITE_OWNER"}};
constexpr Right InstallFolderRights[] = {{AddFile, u"add file"}, {AddSubfolder, u"add subfolder"},
                                         {DeleteChild, u"delete child"}, {WriteAttributes, u"write attributes"},
                                         {Delete, u"DELETE"}, {WriteDac, u"WRITE_DAC"}, {WriteOwner, u"WRITE_OWNER"}};
// Either DELETE on a folder or delete child on its parent lets someone rename it; adding an entry beside
// it changes nothing on the way.
constexpr Right FolderAboveRights[] = {{DeleteChild, u"delete child"}, {Delete, u"DELETE"}, {WriteDac, u"WRITE_DAC"},
                                       {WriteOwner, u"WRITE_OWNER"}};
constexpr Right DriveRootRights[] = {{DeleteChild, u"delete child"}, {WriteDac, u"WRITE_DAC"},
                                     {WriteOwner, u"WRITE_OWNER"}};

// The file generic mapping (FILE_GENERIC_READ, _WRITE, _EXECUTE, FILE_ALL_ACCESS), as MapGenericMask applies it.
platform::Dword MapGenericFileRights(platform::Dword mask) {
  if (mask & 0x80000000u) mask |= 0x00120089;
  if (mask & 0x40000000u) mask |= 0x00120116;
  if (mask & 0x20000000u) mask |= 0x001200A0;
  if (mask & 0x10000000u) mask |= 0x001F01FF;
  return mask & 0x0FFFFFFFu;
}

UnicodeString Decimal(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  return UnicodeString(digits.begin(), digits.end());
}

std::uint32_t LittleEndian32(const std::uint8_t* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// "S-1-5-32-544", as ConvertSidToStringSidW writes it (authorities of 2^32 and above in hexadecimal).
// Only for a SID that IsValidSid accepted.
UnicodeString SidText(const std::uint8_t* sid) {
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  UnicodeString text = u"S-1-";
  if (authority >> 32) {
    char hex[16];
    for (int i = 0; i < 12; ++i) hex[i] = "0123456789ABCDEF"[(authority >> (44 - 4 * i)) & 0xF];
    text += u"0x" + UnicodeString(hex, hex + 12);
  } else {
    text += Decimal(authority);
  }
  for (int i = 0; i < sid[1]; ++i) text += u"-" + Decimal(LittleEndian32(sid + 8 + 4 * i));
  return text;
}

bool IsTrusted(const UnicodeString& sid) {
  return sid == u"S-1-5-32-544" || sid == u"S-1-5-18" ||
         sid == u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}

// "NT AUTHORITY\Authenticated Users (S-1-5-11: add file)", or "S-1-5-11 (add file)" where the SID has
// no name on this machine.
// What is empty for an owner: "BUILTIN\Users (S-1-5-32-545)", or "S-1-5-32-545".
UnicodeString Who(const std::uint8_t* sid, const UnicodeString& text, const UnicodeString& what) {
  char16_t name[512];
  const platform::Dword length = platform::LookupAccountSidW(sid, name, 512);
  if (length == 0) return what.empty() ? text : text + u" (" + what + u")";
  return UnicodeString(name, length) + u" (" + text + (what.empty() ? u"" : u": " + what) + u")";
}

const char16_t* const Consequence = u", so someone other than an administrator could have put the installer there";

// For icacls on cmd's command line: quoted, but a drive root bare, since the rules by which programs read
// their command line (CommandLineToArgvW's) turn "\"" into a literal quote.
UnicodeString Quoted(const UnicodeString& object) {
  return object.back() == u'\\' ? object : u"\"" + object + u"\"";
}

}  // namespace

UnicodeString UntrustedWriterRefusal(const UnicodeString& object, PathRole role, const std::uint8_t* owner,
                                     const void* dacl) {
  if (!owner || !platform::IsValidSid(owner)) return object + u" has no owner to read" + Consequence;
  const UnicodeString ownerText = SidText(owner);
  // An owner may always change the DACL (unless an OWNER RIGHTS entry says otherwise): refused either way.
  if (!IsTrusted(ownerText))
    return object + u" is owned by " + Who(owner, ownerText, u"") + Consequence + u" (to mend: icacls " +
           Quoted(object) + u" /setowner *S-1-5-32-544" + (role == PathRole::InstallFolder ? u" /T)" : u")");
  if (!dacl) return object + u" has no DACL, which lets everyone change it" + Consequence;

  const Right* rights = FileRights;
  std::size_t rightCount = std::size(FileRights);
  if (role == PathRole::InstallFolder) rights = InstallFolderRights, rightCount = std::size(InstallFolderRights);
  if (role == PathRole::FolderAbove) rights = FolderAboveRights, rightCount = std::size(FolderAboveRights);
  if (role == PathRole::DriveRoot) rights = DriveRootRights, rightCount = std::size(DriveRootRights);

  platform::Dword count = 0;
  if (!platform::GetAclAceCount(dacl, &count)) return object + u"'s DACL cannot be read" + Consequence;
  for (platform::Dword index = 0; index < count; ++index) {
    const std::uint8_t* ace = platform::GetAce(dacl, index);
    const UnicodeString entry = object + u"'s DACL entry " + Decimal(index);
    if (!ace) return entry + u" cannot be read" + Consequence;
    const std::uint8_t type = ace[0], flags = ace[1];
    const std::uint16_t size = static_cast<std::uint16_t>(ace[2] | (ace[3] << 8));
    // Callback, conditional, object and any later types can grant on terms this rule does not read.
    if (type != 0 && type != 1)
      return entry + u" is of type " + Decimal(type) + u", which this launcher does not read" + Consequence;
    // ACE_HEADER, the mask, then the SID, which must lie whole inside the entry.
    const std::uint8_t* sid = ace + 8;
    if (size < 16 || 8u + 8u + 4u * sid[1] > size || !platform::IsValidSid(sid))
      return entry + u" does not hold a whole SID" + Consequence;
    if (type == 1 || (flags & 0x08)) continue;  // a deny entry; or inherit-only, not for the object itself
    const UnicodeString sidText = SidText(sid);
    if (IsTrusted(sidText)) continue;
    const platform::Dword granted = MapGenericFileRights(LittleEndian32(ace + 4));
    for (std::size_t r = 0; r < rightCount; ++r)
      if (granted & rights[r].bits)
        return object + u" can be changed by " + Who(sid, sidText, rights[r].name) + Consequence + u" (to mend: icacls " +
               Quoted(object) + u" /inheritance:d, then icacls " + Quoted(object) + u" /remove:g *" + sidText + u")";
  }
  return {};
}
