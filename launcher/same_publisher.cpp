#include "launcher/same_publisher.h"

#include <cstring>
#include <string>

#include "launcher/held_file_path.h"
#include "launcher/secure_location.h"
#include "launcher/signature_verification.h"
#include "platform/win32_api.h"

namespace {

UnicodeString Ascii(const char* text) { return UnicodeString(text, text + std::strlen(text)); }

UnicodeString Hex(std::uint32_t value) {
  char digits[11];
  for (int i = 0; i < 8; ++i) digits[2 + i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 0xF];
  digits[0] = '0', digits[1] = 'x', digits[10] = '\0';
  return Ascii(digits);
}

// WinVerifyTrust's answers by name, as Microsoft's documentation and a support engineer's search use them.
UnicodeString StatusText(platform::Status status) {
  struct Named {
    std::uint32_t value;
    const char* name;
  };
  static constexpr Named names[] = {
      {0x800B0100, "TRUST_E_NOSIGNATURE"},         {0x80096010, "TRUST_E_BAD_DIGEST"},
      {0x800B0004, "TRUST_E_SUBJECT_NOT_TRUSTED"}, {0x800B0111, "TRUST_E_EXPLICIT_DISTRUST"},
      {0x800B0003, "TRUST_E_SUBJECT_FORM_UNKNOWN"}, {0x800B0001, "TRUST_E_PROVIDER_UNKNOWN"},
      {0x800B0109, "CERT_E_UNTRUSTEDROOT"},        {0x800B010A, "CERT_E_CHAINING"},
      {0x800B0101, "CERT_E_EXPIRED"},              {0x800B0110, "CERT_E_WRONG_USAGE"},
      {0x800B010C, "CERT_E_REVOKED"},              {0x80092010, "CRYPT_E_REVOKED"},
      {0x80092026, "CRYPT_E_SECURITY_SETTINGS"},   {0x80096019, "TRUST_E_BASIC_CONSTRAINTS"},
      {0x80070002, "ERROR_FILE_NOT_FOUND"},        {0x8007007F, "ERROR_PROC_NOT_FOUND"},
      {0x8007007E, "ERROR_MOD_NOT_FOUND"},
  };
  const auto value = static_cast<std::uint32_t>(status);
  for (const Named& named : names)
    if (named.value == value) return Ascii(named.name) + u", " + Hex(value);
  return Hex(value);
}

UnicodeString ErrorText(platform::Dword error) { return u"error " + Ascii(std::to_string(error).c_str()); }

}  // namespace

UnicodeString CheckSamePublisher(const UnicodeString& installerPath, HeldInstaller* hold) {
  // wintrust.dll's and crypt32.dll's own imports follow the process's DLL search, which only
  // SetDefaultDllDirectories keeps out of this launcher's folder (Windows 7 without KB2533623 lacks it).
  // Asked again, as the launch sequence asked first: it fails the same way where it is missing.
  if (!platform::SetDefaultDllDirectories(platform::LoadLibrarySearchSystem32))
    return u"this Windows cannot keep DLLs beside the launcher from loading (SetDefaultDllDirectories: " +
           ErrorText(platform::GetLastError()) + u"; Windows 7 needs KB2533623)";
  char16_t system[260];
  const platform::Dword systemLength = platform::GetSystemDirectoryW(system, 260);
  if (systemLength == 0)
    return u"the system directory is unknown (" + ErrorText(platform::GetLastError()) + u"), so wintrust.dll cannot be loaded from it";
  const platform::Status loaded = LoadTrustLibrariesFrom(UnicodeString(system, systemLength));
  if (loaded != 0) return u"wintrust.dll or crypt32.dll cannot be loaded from the system directory (" + StatusText(loaded) + u")";

  // This launcher's own signer first: unsigned, it cannot tell whose installer it may start.
  UnicodeString self(32768, u'\0');
  const platform::Dword length = platform::GetModuleFileNameW(self.data(), static_cast<platform::Dword>(self.size()));
  if (length == 0) return u"this launcher cannot find its own file (" + ErrorText(platform::GetLastError()) + u")";
  self.resize(length);
  platform::SignerSubject own;
  {
    const platform::UniqueFileHandle file(OpenFileDenyingWriteAndDelete(self));
    if (!file.IsValid()) return u"this launcher cannot read its own file " + self + u" (" + ErrorText(platform::GetLastError()) + u")";
    const platform::Status status = VerifySignature(file.Get(), self, &own);
    if (status != 0)
      return u"this launcher's own signature does not hold (" + StatusText(status) + u"), so it cannot tell its publisher";
  }

  // The shell opens the path anew: the file checked is the file started only where the path leads to
  // the held file, and nowhere else, for as long as it is held.
  hold->file = platform::UniqueFileHandle(OpenFileDenyingWriteAndDelete(installerPath));
  if (!hold->file.IsValid()) return u"the installer cannot be held against change (" + ErrorText(platform::GetLastError()) + u")";
  const UnicodeString elsewhere = HeldFilePathRefusal(installerPath, hold->file.Get());
  if (!elsewhere.empty()) return elsewhere;
  // A signature says who made the file, not who put it there: whoever can write its folder can put any
  // older installer the vendor signed there, or DLLs beside it.
  const UnicodeString insecure = SecureLocationRefusal(installerPath, hold->file.Get(), &hold->folders);
  if (!insecure.empty()) return insecure;

  platform::SignerSubject theirs;
  const platform::Status status = VerifySignature(hold->file.Get(), installerPath, &theirs);
  if (status != 0) return u"the installer's signature does not hold (" + StatusText(status) + u")";
  // The whole Subject, as encoded in both certificates: it survives the publisher's certificate renewals
  // (a new key each time, on a hardware token), and a trusted CA vouches for it.
  if (own.size != theirs.size || std::memcmp(own.encoded, theirs.encoded, own.size) != 0)
    return u"the installer is signed by another publisher (" + UnicodeString(theirs.text) + u"; this launcher by " +
           UnicodeString(own.text) + u")";
  return {};
}
