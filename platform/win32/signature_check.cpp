// The platform calls of the same-publisher build: a file held against change, this program's own path,
// and the Authenticode check of a held file (platform/win32_api.h). Linked into that build only, so the
// default Launcher.exe neither imports nor contains any of it.
//
// wintrust.dll and crypt32.dll are not KnownDLLs: imported, the loader would look for them beside the
// executable first, where a planted copy would run before any of our code. They are loaded here, by full
// path from System32, after the DLL search has been restricted to System32 (their own dependencies then
// come from there too), and crypt32 first, so that wintrust's import of it finds the copy already loaded.
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

// FARPROC is how Windows hands out every entry; the usual cast through a generic function pointer.
template <typename Function>
Function* Entry(HMODULE module, const char* name) {
  const FARPROC entry = ::GetProcAddress(module, name);
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(entry));
}

HMODULE LoadFromSystem32(const wchar_t* name) {
  wchar_t path[MAX_PATH + 32];
  const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  path[length] = L'\\';
  lstrcpynW(path + length + 1, name, 32);
  return ::LoadLibraryW(path);
}

struct TrustEntries {
  decltype(::WinVerifyTrust)* verify = nullptr;
  decltype(::WTHelperProvDataFromStateData)* providerData = nullptr;
  decltype(::WTHelperGetProvSignerFromChain)* signer = nullptr;
  decltype(::WTHelperGetProvCertFromChain)* certificate = nullptr;
  decltype(::CertNameToStrW)* nameToText = nullptr;
};

// 0, or HRESULT_FROM_WIN32 of why the entries are not there. The DLLs stay loaded for the process's life.
HRESULT LoadTrustEntries(TrustEntries* entries) {
  const HMODULE crypt32 = LoadFromSystem32(L"crypt32.dll");
  const HMODULE wintrust = crypt32 ? LoadFromSystem32(L"wintrust.dll") : nullptr;
  if (!wintrust) return HRESULT_FROM_WIN32(::GetLastError());
  entries->verify = Entry<decltype(::WinVerifyTrust)>(wintrust, "WinVerifyTrust");
  entries->providerData = Entry<decltype(::WTHelperProvDataFromStateData)>(wintrust, "WTHelperProvDataFromStateData");
  entries->signer = Entry<decltype(::WTHelperGetProvSignerFromChain)>(wintrust, "WTHelperGetProvSignerFromChain");
  entries->certificate = Entry<decltype(::WTHelperGetProvCertFromChain)>(wintrust, "WTHelperGetProvCertFromChain");
  entries->nameToText = Entry<decltype(::CertNameToStrW)>(crypt32, "CertNameToStrW");
  if (!entries->verify || !entries->providerData || !entries->signer || !entries->certificate || !entries->nameToText)
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  return S_OK;
}

// Revocation is checked against what Windows has cached (CRLs and OCSP answers it fetched before, for
// any program), never fetched: on a machine offline or behind a proxy that drops the CRL servers, a
// fetch waits for its timeouts (15 seconds and more a URL) before the installer could start. Where the
// cache has nothing to say, the check is made again without revocation; a certificate the cache knows
// to be revoked fails (CRYPT_E_REVOKED).
bool RevocationUnknown(LONG status) {
  return status == CERT_E_REVOCATION_FAILURE || status == static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE) ||
         status == static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK);
}

LONG Verify(const TrustEntries& trust, HANDLE file, const wchar_t* path, DWORD revocation, SignerSubject* signer) {
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
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_DISABLE_MD2_MD4 |
                     (revocation == WTD_REVOKE_NONE ? 0 : WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT);
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // INVALID_HANDLE_VALUE as the window: no UI, whatever the policy says.
  LONG status = trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (status == ERROR_SUCCESS) {
    CRYPT_PROVIDER_DATA* provider = trust.providerData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signerInfo = provider ? trust.signer(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* leaf = signerInfo ? trust.certificate(signerInfo, 0) : nullptr;
    const CERT_NAME_BLOB* subject = leaf && leaf->pCert ? &leaf->pCert->pCertInfo->Subject : nullptr;
    if (!subject || subject->cbData == 0 || subject->cbData > sizeof signer->encoded) {
      status = TRUST_E_NOSIGNATURE;
    } else {
      CopyMemory(signer->encoded, subject->pbData, subject->cbData);
      signer->size = subject->cbData;
      trust.nameToText(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(subject), CERT_X500_NAME_STR,
                       reinterpret_cast<wchar_t*>(signer->text), sizeof signer->text / sizeof signer->text[0]);
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return status;
}

}  // namespace

FileHandle OpenFileDenyingWriteAndDelete(const char16_t* path) {
  DWORD previousMode = 0;
  const bool quiet = SetThreadErrorMode(GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &previousMode) != FALSE;
  HANDLE file = ::CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

Status VerifyAuthenticodeSignature(FileHandle file, const char16_t* path, SignerSubject* signer) {
  // Loaded once a run: the launcher checks two files, its own and the installer.
  static TrustEntries trust;
  static const HRESULT loaded = LoadTrustEntries(&trust);
  if (loaded != S_OK) return loaded;
  const HANDLE handle = reinterpret_cast<HANDLE>(file);
  const wchar_t* name = reinterpret_cast<const wchar_t*>(path);
  LONG status = Verify(trust, handle, name, WTD_REVOKE_WHOLECHAIN, signer);
  if (RevocationUnknown(status)) status = Verify(trust, handle, name, WTD_REVOKE_NONE, signer);
  return status;
}

}  // namespace platform
