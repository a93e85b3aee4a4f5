// The same-publisher build's use of Windows' trust provider: where its DLLs come from, and when a
// verification is made again.
#pragma once

#include "pathtext/text.h"
#include "platform/win32_api.h"

// Loads crypt32.dll and wintrust.dll by their full paths in systemDirectory, never by bare name: 0, else
// HRESULT_FROM_WIN32 of why not.
platform::Status LoadTrustLibrariesFrom(const UnicodeString& systemDirectory);

// Whether a verification that checked revocation against the cache is made again without it: only
// where the cache has no answer (CERT_E_REVOCATION_FAILURE, CRYPT_E_REVOCATION_OFFLINE,
// CRYPT_E_NO_REVOCATION_CHECK). A revoked certificate, or any other answer, stands.
bool RetriesWithoutRevocation(platform::Status status);

// The signature of the file open as file (which path names): 0 and *signer filled where it holds, else
// WinVerifyTrust's answer (TRUST_E_NOSIGNATURE where it held without a signer's subject to read).
// Every verification is closed before this returns.
platform::Status VerifySignature(platform::FileHandle file, const UnicodeString& path, platform::SignerSubject* signer);
