// The thin layer through which everything above it reaches Windows.
//
// Each function mirrors the Win32 call of the same name, with portable types so that the code above it
// builds on any host: on Windows the calls are forwarded to the system (platform/win32/), and host tests
// link a scripted fake instead. Only platform/win32/ includes <windows.h>; the constants below are the
// documented Win32 values, and the Windows build checks each of them against <windows.h>.
#pragma once

#include <cstdint>

namespace platform {

using Dword = std::uint32_t;
using Status = std::int32_t;  // LSTATUS / Win32 error code

// An HKEY. Predefined root keys are sign-extended 32-bit values, as Windows defines them, so that
// HKEY_LOCAL_MACHINE is the same handle in a 32-bit and a 64-bit process.
using RegistryKeyHandle = std::uintptr_t;
constexpr RegistryKeyHandle PredefinedKey(std::uint32_t value) {
  return static_cast<RegistryKeyHandle>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}
inline constexpr RegistryKeyHandle NoRegistryKey = 0;
inline constexpr RegistryKeyHandle HkeyCurrentUser = PredefinedKey(0x80000001u);
inline constexpr RegistryKeyHandle HkeyLocalMachine = PredefinedKey(0x80000002u);

// A search handle from FindFirstFileW; InvalidFindHandle is INVALID_HANDLE_VALUE.
using FindHandle = std::uintptr_t;
inline constexpr FindHandle InvalidFindHandle = ~static_cast<FindHandle>(0);

inline constexpr Dword KeyRead = 0x00020019;       // KEY_READ
inline constexpr Dword KeyAllAccess = 0x000F003F;  // KEY_ALL_ACCESS
// Added to an access mask: the 64-bit registry view, from a 32-bit process too. Ignored on 32-bit Windows,
// which has one view; without it a 32-bit process on 64-bit Windows reads the 32-bit view (WOW6432Node).
inline constexpr Dword KeyWow64_64Key = 0x0100;    // KEY_WOW64_64KEY
// Likewise the 32-bit view (WOW6432Node), from a 64-bit process too.
inline constexpr Dword KeyWow64_32Key = 0x0200;    // KEY_WOW64_32KEY

inline constexpr Dword RegNone = 0;
inline constexpr Dword RegSz = 1;
inline constexpr Dword RegExpandSz = 2;
inline constexpr Dword RegBinary = 3;
inline constexpr Dword RegDword = 4;
inline constexpr Dword RegMultiSz = 7;

inline constexpr Status ErrorSuccess = 0;
inline constexpr Status ErrorFileNotFound = 2;
inline constexpr Status ErrorPathNotFound = 3;
inline constexpr Status ErrorAccessDenied = 5;
inline constexpr Status ErrorSharingViolation = 32;
inline constexpr Status ErrorInvalidName = 123;
inline constexpr Status ErrorMoreData = 234;

inline constexpr Dword InvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr Dword FileAttributeDirectory = 0x10;

inline constexpr int SwShowNormal = 1;

// Code pages that WideCharToMultiByte treats specially (see there).
inline constexpr Dword CpUtf7 = 65000;
inline constexpr Dword CpUtf8 = 65001;
inline constexpr Dword CpGb18030 = 54936;
inline constexpr Dword CpSymbol = 42;
inline constexpr Dword WcErrInvalidChars = 0x0080;  // WC_ERR_INVALID_CHARS
inline constexpr Dword WcNoBestFitChars = 0x0400;   // WC_NO_BEST_FIT_CHARS

inline constexpr Status ErrorInvalidParameter = 87;
inline constexpr Status ErrorProcNotFound = 127;
inline constexpr Status ErrorInvalidFlags = 1004;
inline constexpr Status ErrorNoUnicodeTranslation = 1113;

inline constexpr Dword LoadLibrarySearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// ---- Registry ----------------------------------------------------------------------------------------
// Each returns the Win32 status; *result is written only on success, as Windows does.
Status RegOpenKeyExW(RegistryKeyHandle base, const char16_t* subKey, Dword access, RegistryKeyHandle* result);
Status RegCreateKeyExW(RegistryKeyHandle base, const char16_t* subKey, Dword access, RegistryKeyHandle* result);
// data may be null to ask for type and size only; *size is the buffer size in bytes on entry and the
// value's size on return.
Status RegQueryValueExW(RegistryKeyHandle key, const char16_t* valueName, Dword* type, std::uint8_t* data,
                        Dword* size);
Status RegFlushKey(RegistryKeyHandle key);
Status RegCloseKey(RegistryKeyHandle key);

// ---- Code pages --------------------------------------------------------------------------------------
Dword GetACP();
// Both return the number of units written (or needed, with capacity 0), 0 on failure (then GetLastError
// tells why).
int MultiByteToWideChar(Dword codePage, const char* bytes, int byteCount, char16_t* units, int capacity);
// flags are WC_* flags. Windows' contract, which Wine does not enforce: for 65001 and 54936 flags may be
// only 0 or WC_ERR_INVALID_CHARS; for 42, 50220-50229, 57002-57011 and 65000 they must be 0; for 65000 and
// 65001 usedDefaultChar must be null. Otherwise the call fails. usedDefaultChar, when not null, is set to
// whether a character had to be replaced by the code page's default character.
int WideCharToMultiByte(Dword codePage, Dword flags, const char16_t* units, int unitCount, char* bytes, int capacity,
                        bool* usedDefaultChar);

// ---- Files -------------------------------------------------------------------------------------------
// Neither shows the "no disk in drive" critical-error box: the probe must never stop at a dialog.
Dword GetFileAttributesW(const char16_t* path);
Dword GetLastError();
// Returns InvalidFindHandle on failure; on success *foundAttributes holds the first entry's attributes.
FindHandle FindFirstFileW(const char16_t* pattern, Dword* foundAttributes);
void FindClose(FindHandle search);

// ---- DLL search --------------------------------------------------------------------------------------
// SetDefaultDllDirectories, looked up in kernel32 at run time: Windows 7 without KB2533623 lacks it. False
// when it is missing (GetLastError then gives ErrorProcNotFound) or fails.
bool SetDefaultDllDirectories(Dword directoryFlags);
// False when it fails.
bool SetDllDirectoryW(const char16_t* directory);

// ---- Process token -----------------------------------------------------------------------------------
// Turns UAC registry and file virtualization of this process on or off: OpenProcessToken with
// TOKEN_ADJUST_DEFAULT | TOKEN_QUERY, then SetTokenInformation(TokenVirtualizationEnabled). False when
// either fails (Windows without UAC does not allow it, and Wine only stubs it).
bool SetTokenVirtualizationEnabled(bool enabled);

// ---- Shell and process -------------------------------------------------------------------------------
// Starts file through the shell with a null owner window; the shell's result is not reported.
void ShellExecuteA(const char* operation, const char* file, const char* parameters, const char* directory,
                   int showCommand);
void OutputDebugStringW(const char16_t* text);
[[noreturn]] void ExitProcess(unsigned exitCode);

// ---- Signatures (the same-publisher build only: platform/win32/signature_check.cpp) ----------------
// A file handle from CreateFileW; InvalidFileHandle is INVALID_HANDLE_VALUE.
using FileHandle = std::uintptr_t;
inline constexpr FileHandle InvalidFileHandle = ~static_cast<FileHandle>(0);

inline constexpr Dword FileAttributeReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT
inline constexpr Dword DriveRemovable = 2;                  // DRIVE_REMOVABLE
inline constexpr Dword DriveRemote = 4;                     // DRIVE_REMOTE
inline constexpr int CstrEqual = 2;                         // CSTR_EQUAL
// WinVerifyTrust's answers that the code above this layer decides on.
inline constexpr Status TrustENoSignature = static_cast<Status>(0x800B0100u);        // TRUST_E_NOSIGNATURE
inline constexpr Status CertERevocationFailure = static_cast<Status>(0x800B010Eu);   // CERT_E_REVOCATION_FAILURE
inline constexpr Status CryptERevocationOffline = static_cast<Status>(0x80092013u);  // CRYPT_E_REVOCATION_OFFLINE
inline constexpr Status CryptENoRevocationCheck = static_cast<Status>(0x80092012u);  // CRYPT_E_NO_REVOCATION_CHECK

// CreateFileW's access, sharing and flags that the code above this layer opens files with.
inline constexpr Dword GenericRead = 0x80000000u;              // GENERIC_READ
inline constexpr Dword ReadControl = 0x00020000;               // READ_CONTROL
inline constexpr Dword FileTraverse = 0x0020;                  // FILE_TRAVERSE
inline constexpr Dword FileShareRead = 0x1, FileShareWrite = 0x2;  // FILE_SHARE_READ, FILE_SHARE_WRITE
inline constexpr Dword FileAttributeNormal = 0x80;             // FILE_ATTRIBUTE_NORMAL
inline constexpr Dword FileFlagBackupSemantics = 0x02000000;   // FILE_FLAG_BACKUP_SEMANTICS: folders too
inline constexpr Dword FileFlagOpenReparsePoint = 0x00200000;  // FILE_FLAG_OPEN_REPARSE_POINT
inline constexpr Dword SecuritySqosPresent = 0x00100000;       // SECURITY_SQOS_PRESENT
inline constexpr Dword SecurityIdentificationFlag = 0x00010000;  // SECURITY_IDENTIFICATION (SecurityIdentification is
                                                                // an enumerator of <windows.h>, which that macro names)

// CreateFileW of an existing file or folder (OPEN_EXISTING, no security attributes, no template) with the
// access, sharing and flags given. InvalidFileHandle on failure (GetLastError tells why). Never shows the
// "no disk in drive" box.
FileHandle CreateFileW(const char16_t* path, Dword access, Dword share, Dword flagsAndAttributes);
void CloseFileHandle(FileHandle file);
// GetModuleFileNameW for this program's own file: the length written, 0 where it fails or would not fit.
Dword GetModuleFileNameW(char16_t* buffer, Dword capacity);
// GetSystemDirectoryW: the length written, 0 where it fails or would not fit (GetLastError may then be 0).
Dword GetSystemDirectoryW(char16_t* buffer, Dword capacity);
// GetDriveTypeW of a drive's root ("C:\" and the like).
Dword GetDriveTypeW(const char16_t* root);
// GetFinalPathNameByHandleW with FILE_NAME_NORMALIZED | VOLUME_NAME_DOS: the path Windows itself gives
// the open file, every link and mount point on the way resolved, in long names ("\\?\C:\..." or
// "\\?\UNC\server\share\..."). The length written, 0 where it fails or would not fit.
Dword GetFinalPathNameByHandleW(FileHandle file, char16_t* buffer, Dword capacity);
// CompareStringOrdinal: CSTR_LESS_THAN, CstrEqual or CSTR_GREATER_THAN; with ignoreCase, as the file
// system compares names (each unit upper-cased by the system's table, no locale, no normalization).
int CompareStringOrdinal(const char16_t* left, int leftLength, const char16_t* right, int rightLength,
                         bool ignoreCase);

// Loads crypt32.dll and wintrust.dll from the paths given, in that order, and finds the entries that
// the trust calls below use. 0, or HRESULT_FROM_WIN32 of why not (never 0 when they are not there).
// Loaded for the process's life; the trust calls fail until this has succeeded.
Status LoadTrustLibraries(const char16_t* crypt32Path, const char16_t* wintrustPath);

// The signer of a file's Authenticode signature: its leaf certificate's Subject, as encoded there, and
// that name as text (CertNameToStrW, X.500 form, cut to fit).
struct SignerSubject {
  std::uint8_t encoded[1024] = {};
  Dword size = 0;
  char16_t text[256] = {};
};
// Revocation as far as Windows has it cached (the whole chain but the root; never fetched: nothing may
// wait on the network), or not checked.
enum class RevocationCheck { Cached, None };
// WinVerifyTrust's hWVTStateData between WTD_STATEACTION_VERIFY and WTD_STATEACTION_CLOSE.
using TrustState = std::uintptr_t;
// WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2, no UI, WTD_STATEACTION_VERIFY) of the signature
// embedded in the file open as file, which path names: digest, signature, certificate chain to a root
// the machine trusts, revocation as asked. Returns its HRESULT, and in *state what CloseTrustState must
// be given back, whatever the result.
// providerFlags is WINTRUST_DATA's dwProvFlags.
inline constexpr Dword WtdRevocationCheckChainExcludeRoot = 0x00000080;  // WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT
inline constexpr Dword WtdCacheOnlyUrlRetrieval = 0x00001000;            // WTD_CACHE_ONLY_URL_RETRIEVAL
inline constexpr Dword WtdDisableMd2Md4 = 0x00002000;                    // WTD_DISABLE_MD2_MD4
Status VerifyTrust(FileHandle file, const char16_t* path, RevocationCheck revocation, Dword providerFlags,
                   TrustState* state);
// The leaf certificate (signer 0, certificate 0) of a VerifyTrust that returned 0; false where there is
// none or its Subject does not fit.
bool GetSignerSubject(TrustState state, SignerSubject* signer);
// WinVerifyTrust with WTD_STATEACTION_CLOSE: frees what VerifyTrust kept, for the same file and path.
void CloseTrustState(FileHandle file, const char16_t* path, TrustState state);

// ---- File security (the same-publisher build only: platform/win32/file_security.cpp) -------------
// What GetSecurityInfo allocated (LocalFree frees it); owner and DACL point into it.
using SecurityDescriptor = std::uintptr_t;
inline constexpr SecurityDescriptor NoSecurityDescriptor = 0;
// GetSecurityInfo(SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION) of the object
// open as file (with READ_CONTROL): its Win32 error; on success *descriptor is set, and *owner (a SID)
// and *dacl (an ACL) point into it, each null where the object has none (a null DACL grants everyone all).
Status GetSecurityInfo(FileHandle file, SecurityDescriptor* descriptor, const std::uint8_t** owner, const void** dacl);
void LocalFree(SecurityDescriptor descriptor);
// GetAclInformation(AclSizeInformation)'s AceCount; false where it fails.
bool GetAclAceCount(const void* acl, Dword* count);
// GetAce: the entry's bytes, from its ACE_HEADER (type, flags, 16-bit size) on; null where it fails.
const std::uint8_t* GetAce(const void* acl, Dword index);
// IsValidSid: revision 1 and at most 15 sub-authorities. Reads 8 + 4 * sid[1] bytes.
bool IsValidSid(const std::uint8_t* sid);
// LookupAccountSidW on this machine: "DOMAIN\name", or "name" where the domain is empty; the length
// written, 0 where the SID has no name here or it does not fit.
Dword LookupAccountSidW(const std::uint8_t* sid, char16_t* buffer, Dword capacity);
inline constexpr Dword FilePersistentAcls = 0x00000008;  // FILE_PERSISTENT_ACLS
// GetVolumeInformationByHandleW's file system flags for the volume of the object open as file; false
// where it fails.
bool GetVolumeFileSystemFlags(FileHandle file, Dword* flags);
// FindFirstFileExW (FindExInfoBasic) and FindNextFileW, giving each entry's name (at most 260 units with
// its terminator) into name and its attributes, as the folder lists them (a link's own, not its
// target's), into *attributes. InvalidFindHandle, or false, where they fail; GetLastError gives
// ERROR_NO_MORE_FILES (18) at the end. Closed with FindClose.
FindHandle FindFirstFileNameW(const char16_t* pattern, char16_t* name, Dword* attributes);
bool FindNextFileNameW(FindHandle search, char16_t* name, Dword* attributes);
inline constexpr Status ErrorNoMoreFiles = 18;

}  // namespace platform
