// The same-publisher build's reading of who may change a file or folder: owners, DACLs, the volume's
// flags, and the entries of a folder (platform/win32_api.h). Linked into that build only.
#include "platform/win32_api.h"

#include <windows.h>
#include <aclapi.h>

namespace platform {
namespace {

static_assert(FilePersistentAcls == FILE_PERSISTENT_ACLS && ErrorNoMoreFiles == ERROR_NO_MORE_FILES);
static_assert(sizeof(WIN32_FIND_DATAW::cFileName) / sizeof(wchar_t) == 260, "FindFirstFileNameW's name is 260 units");

void CopyName(const WIN32_FIND_DATAW& found, char16_t* name, Dword* attributes) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  CopyMemory(name, found.cFileName, sizeof found.cFileName);
  name[259] = u'\0';
  *attributes = found.dwFileAttributes;
}

}  // namespace

Status GetSecurityInfo(FileHandle file, SecurityDescriptor* descriptor, const std::uint8_t** owner, const void** dacl) {
  PSID ownerSid = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR allocated = nullptr;
  const DWORD status = ::GetSecurityInfo(reinterpret_cast<HANDLE>(file), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &ownerSid, nullptr,
                                         &list, nullptr, &allocated);
  if (status != ERROR_SUCCESS) return static_cast<Status>(status);
  *descriptor = reinterpret_cast<SecurityDescriptor>(allocated);
  *owner = static_cast<const std::uint8_t*>(ownerSid);
  *dacl = list;
  return ERROR_SUCCESS;
}

void LocalFree(SecurityDescriptor descriptor) { ::LocalFree(reinterpret_cast<HLOCAL>(descriptor)); }

bool GetAclAceCount(const void* acl, Dword* count) {
  ACL_SIZE_INFORMATION size = {};
  if (!::GetAclInformation(const_cast<PACL>(static_cast<const ACL*>(acl)), &size, sizeof size, AclSizeInformation))
    return false;
  *count = size.AceCount;
  return true;
}

const std::uint8_t* GetAce(const void* acl, Dword index) {
  LPVOID ace = nullptr;
  if (!::GetAce(const_cast<PACL>(static_cast<const ACL*>(acl)), index, &ace)) return nullptr;
  return static_cast<const std::uint8_t*>(ace);
}

bool IsValidSid(const std::uint8_t* sid) { return ::IsValidSid(const_cast<std::uint8_t*>(sid)) != FALSE; }

Dword LookupAccountSidW(const std::uint8_t* sid, char16_t* buffer, Dword capacity) {
  wchar_t name[256], domain[256];
  DWORD nameLength = 256, domainLength = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, const_cast<std::uint8_t*>(sid), name, &nameLength, domain, &domainLength, &use))
    return 0;
  const DWORD length = domainLength == 0 ? nameLength : domainLength + 1 + nameLength;
  if (length >= capacity) return 0;
  char16_t* out = buffer;
  for (DWORD i = 0; i < domainLength; ++i) *out++ = static_cast<char16_t>(domain[i]);
  if (domainLength != 0) *out++ = u'\\';
  for (DWORD i = 0; i < nameLength; ++i) *out++ = static_cast<char16_t>(name[i]);
  *out = u'\0';
  return length;
}

bool GetVolumeFileSystemFlags(FileHandle file, Dword* flags) {
  DWORD systemFlags = 0;
  if (!::GetVolumeInformationByHandleW(reinterpret_cast<HANDLE>(file), nullptr, 0, nullptr, nullptr, &systemFlags,
                                       nullptr, 0))
    return false;
  *flags = systemFlags;
  return true;
}

FindHandle FindFirstFileNameW(const char16_t* pattern, char16_t* name, Dword* attributes) {
  WIN32_FIND_DATAW found = {};
  const HANDLE search = ::FindFirstFileExW(reinterpret_cast<const wchar_t*>(pattern), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return InvalidFindHandle;
  CopyName(found, name, attributes);
  return reinterpret_cast<FindHandle>(search);
}

bool FindNextFileNameW(FindHandle search, char16_t* name, Dword* attributes) {
  WIN32_FIND_DATAW found = {};
  if (!::FindNextFileW(reinterpret_cast<HANDLE>(search), &found)) return false;
  CopyName(found, name, attributes);
  return true;
}

}  // namespace platform
