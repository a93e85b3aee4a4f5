#include "launcher/signature_verification.h"

#include "platform/unique_trust_state.h"

namespace {

platform::Status VerifyOnce(platform::FileHandle file, const UnicodeString& path, platform::RevocationCheck revocation,
                            platform::SignerSubject* signer) {
  // Never fetched (cache only), MD2 and MD4 refused; revocation, where asked, for the whole chain but the root.
  const platform::Dword providerFlags =
      platform::WtdCacheOnlyUrlRetrieval | platform::WtdDisableMd2Md4 |
      (revocation == platform::RevocationCheck::Cached ? platform::WtdRevocationCheckChainExcludeRoot : 0);
  const platform::UniqueTrustState verification(file, path.c_str(), revocation, providerFlags);
  if (verification.Status() != 0) return verification.Status();
  return platform::GetSignerSubject(verification.Get(), signer) ? 0 : platform::TrustENoSignature;
}

}  // namespace

platform::Status LoadTrustLibrariesFrom(const UnicodeString& systemDirectory) {
  const UnicodeString crypt32 = systemDirectory + u"\\crypt32.dll";
  const UnicodeString wintrust = systemDirectory + u"\\wintrust.dll";
  return platform::LoadTrustLibraries(crypt32.c_str(), wintrust.c_str());
}

bool RetriesWithoutRevocation(platform::Status status) {
  return status == platform::CertERevocationFailure || status == platform::CryptERevocationOffline ||
         status == platform::CryptENoRevocationCheck;
}

// Revocation is checked against what Windows has cached (CRLs and OCSP answers it fetched before, for
// any program), never fetched: on a machine offline or behind a proxy that drops the CRL servers, a
// fetch waits for its timeouts (15 seconds and more a URL) before the installer could start. Where the
// cache has nothing to say, the check is made again without revocation; a certificate the cache knows
// to be revoked fails (CRYPT_E_REVOKED).
platform::Status VerifySignature(platform::FileHandle file, const UnicodeString& path, platform::SignerSubject* signer) {
  const platform::Status status = VerifyOnce(file, path, platform::RevocationCheck::Cached, signer);
  if (!RetriesWithoutRevocation(status)) return status;
  return VerifyOnce(file, path, platform::RevocationCheck::None, signer);
}
