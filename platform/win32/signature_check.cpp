// The platform calls of the same-publisher build: a file held against change, the path Windows gives it,
// and the Authenticode check of a held file (platform/win32_api.h). Linked into that build only, so the
// default Launcher.exe neither imports nor contains any of it.
//
// wintrust.dll and crypt32.dll are not KnownDLLs: imported, the loader would look for them beside the
// executable first, where a planted copy would run before any of our code. They are loaded at run time
// by the full System32 paths the caller gives, after the DLL search has been restricted to System32
// (their own dependencies then come from there too), and crypt32 first, so that wintrust's import of it
// finds the copy already loaded.
#include "platform/win32_api.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

// The Windows SDK's wintrust.h has it; mingw-w64's does not.
#ifndef WTD_DISABLE_MD2_MD4
#define WTD_DISABLE_MD2_MD4 0x00002000
#endif

namespace platform {
namespace {

static_assert(FileAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT && DriveRemote == DRIVE_REMOTE && DriveRemovable == DRIVE_REMOVABLE &&
              CstrEqual == CSTR_EQUAL);
static_assert(GenericRead == GENERIC_READ && ReadControl == READ_CONTROL && FileTraverse == FILE_TRAVERSE &&
              FileShareRead == FILE_SHARE_READ && FileShareWrite == FILE_SHARE_WRITE &&
              FileAttributeNormal == FILE_ATTRIBUTE_NORMAL && FileFlagBackupSemantics == FILE_FLAG_BACKUP_SEMANTICS &&
              FileFlagOpenReparsePoint == FILE_FLAG_OPEN_REPARSE_POINT && SecuritySqosPresent == SECURITY_SQOS_PRESENT &&
              SecurityIdentificationFlag == SECURITY_IDENTIFICATION);
static_assert(WtdRevocationCheckChainExcludeRoot == WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT &&
              WtdCacheOnlyUrlRetrieval == WTD_CACHE_ONLY_URL_RETRIEVAL && WtdDisableMd2Md4 == WTD_DISABLE_MD2_MD4);
static_assert(TrustENoSignature == TRUST_E_NOSIGNATURE && CertERevocationFailure == CERT_E_REVOCATION_FAILURE &&
              CryptERevocationOffline == static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE) &&
              CryptENoRevocationCheck == static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK));

// FARPROC is how Windows hands out every entry; the usual cast through a generic function pointer.
template <typename Function>
Function* Entry(HMODULE module, const char* name) {
  const FARPROC entry = ::GetProcAddress(module, name);
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(entry));
}

struct TrustEntries {
  decltype(::WinVerifyTrust)* verify = nullptr;
  decltype(::WTHelperProvDataFromStateData)* providerData = nullptr;
  decltype(::WTHelperGetProvSignerFromChain)* signer = nullptr;
  decltype(::WTHelperGetProvCertFromChain)* certificate = nullptr;
  decltype(::CertNameToStrW)* nameToText = nullptr;
};
TrustEntries trust;  // all set by LoadTrustLibraries, or none

// An error to report even where the failing call left none.
HRESULT LastErrorStatus() {
  const DWORD error = ::GetLastError();
  return HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND);
}

// Everything but the state action, the revocation choice and the provider's flags, for both halves of a
// verification.
LONG CallWinVerifyTrust(HANDLE file, const wchar_t* path, DWORD action, DWORD revocation, DWORD providerFlags,
                        HANDLE* state) {
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = path;
  fileInfo.hFile = file;  // the held file is read, not the path opened anew
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = revocation;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = action;
  data.hWVTStateData = *state;
  data.dwProvFlags = providerFlags;
  GUID guid = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // INVALID_HANDLE_VALUE as the window: no UI, whatever the policy says.
  const LONG status = trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &guid, &data);
  *state = data.hWVTStateData;
  return status;
}

}  // namespace

FileHandle CreateFileW(const char16_t* path, Dword access, Dword share, Dword flagsAndAttributes) {
  DWORD previousMode = 0;
  const bool quiet = SetThreadErrorMode(GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &previousMode) != FALSE;
  HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path), access, share, nullptr, OPEN_EXISTING,
                              flagsAndAttributes, nullptr);
  const DWORD error = ::GetLastError();
  if (quiet) SetThreadErrorMode(previousMode, nullptr);
  ::SetLastError(error);
  return file == INVALID_HANDLE_VALUE ? InvalidFileHandle : reinterpret_cast<FileHandle>(file);
}

void CloseFileHandle(FileHandle file) { ::CloseHandle(reinterpret_cast<HANDLE>(file)); }

Dword GetModuleFileNameW(char16_t* buffer, Dword capacity) {
  const DWORD length = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), capacity);
  // A full buffer means the name was cut (and, before Windows Vista, left without its terminator).
  return length >= capacity ? 0 : length;
}

Dword GetSystemDirectoryW(char16_t* buffer, Dword capacity) {
  const UINT length = ::GetSystemDirectoryW(reinterpret_cast<wchar_t*>(buffer), capacity);
  return length >= capacity ? 0 : length;  // too small: the size needed, not a length written
}

Dword GetDriveTypeW(const char16_t* root) {
  DWORD previousMode = 0;  // an empty card reader must not stop the run at a dialog
  const bool quiet = SetThreadErrorMode(GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &previousMode) != FALSE;
  const UINT type = ::GetDriveTypeW(reinterpret_cast<const wchar_t*>(root));
  if (quiet) SetThreadErrorMode(previousMode, nullptr);
  return type;
}

Dword GetFinalPathNameByHandleW(FileHandle file, char16_t* buffer, Dword capacity) {
  const DWORD length = ::GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(file), reinterpret_cast<wchar_t*>(buffer),
                                                   capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length >= capacity ? 0 : length;
}

int CompareStringOrdinal(const char16_t* left, int leftLength, const char16_t* right, int rightLength,
                         bool ignoreCase) {
  return ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(left), leftLength,
                                reinterpret_cast<const wchar_t*>(right), rightLength, ignoreCase);
}

Status LoadTrustLibraries(const char16_t* crypt32Path, const char16_t* wintrustPath) {
  const HMODULE crypt32 = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(crypt32Path));
  if (!crypt32) return LastErrorStatus();
  const HMODULE wintrust = ::LoadLibraryW(reinterpret_cast<const wchar_t*>(wintrustPath));
  if (!wintrust) return LastErrorStatus();
  TrustEntries entries;
  entries.verify = Entry<decltype(::WinVerifyTrust)>(wintrust, "WinVerifyTrust");
  entries.providerData = Entry<decltype(::WTHelperProvDataFromStateData)>(wintrust, "WTHelperProvDataFromStateData");
  entries.signer = Entry<decltype(::WTHelperGetProvSignerFromChain)>(wintrust, "WTHelperGetProvSignerFromChain");
  entries.certificate = Entry<decltype(::WTHelperGetProvCertFromChain)>(wintrust, "WTHelperGetProvCertFromChain");
  entries.nameToText = Entry<decltype(::CertNameToStrW)>(crypt32, "CertNameToStrW");
  if (!entries.verify || !entries.providerData || !entries.signer || !entries.certificate || !entries.nameToText)
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  trust = entries;
  return S_OK;
}

Status VerifyTrust(FileHandle file, const char16_t* path, RevocationCheck revocation, Dword providerFlags,
                   TrustState* state) {
  *state = 0;
  if (!trust.verify) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  HANDLE data = nullptr;
  const LONG status = CallWinVerifyTrust(reinterpret_cast<HANDLE>(file), reinterpret_cast<const wchar_t*>(path),
                                         WTD_STATEACTION_VERIFY,
                                         revocation == RevocationCheck::None ? WTD_REVOKE_NONE : WTD_REVOKE_WHOLECHAIN,
                                         providerFlags, &data);
  *state = reinterpret_cast<TrustState>(data);
  return status;
}

bool GetSignerSubject(TrustState state, SignerSubject* signer) {
  CRYPT_PROVIDER_DATA* provider = trust.providerData(reinterpret_cast<HANDLE>(state));
  CRYPT_PROVIDER_SGNR* signerInfo = provider ? trust.signer(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signerInfo ? trust.certificate(signerInfo, 0) : nullptr;
  const CERT_NAME_BLOB* subject = leaf && leaf->pCert ? &leaf->pCert->pCertInfo->Subject : nullptr;
  if (!subject || subject->cbData == 0 || subject->cbData > sizeof signer->encoded) return false;
  CopyMemory(signer->encoded, subject->pbData, subject->cbData);
  signer->size = subject->cbData;
  trust.nameToText(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(subject), CERT_X500_NAME_STR,
                   reinterpret_cast<wchar_t*>(signer->text), sizeof signer->text / sizeof signer->text[0]);
  return true;
}

void CloseTrustState(FileHandle file, const char16_t* path, TrustState state) {
  if (!trust.verify) return;
  HANDLE data = reinterpret_cast<HANDLE>(state);
  CallWinVerifyTrust(reinterpret_cast<HANDLE>(file), reinterpret_cast<const wchar_t*>(path), WTD_STATEACTION_CLOSE,
                     WTD_REVOKE_NONE, WTD_CACHE_ONLY_URL_RETRIEVAL, &data);
}

}  // namespace platform
