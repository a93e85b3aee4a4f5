#include "kit/report_header.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>

#include "kit/file_contents.h"
#include "kit/optional_function.h"
#include "kit/runner_build.h"
#include "kit/runner_run.h"
#include "kit/token_facts.h"

namespace runner {

namespace {

std::string Sha256Of(const std::wstring& path) {
  const std::string data = FileContents(path);
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  BYTE digest[32];
  DWORD size = sizeof digest;
  std::string hex = "unknown";
  if (!data.empty() && CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
      hex.clear();
      for (BYTE b : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        hex += pair;
      }
    }
    if (hash) CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
  }
  return hex;
}

std::string KitCommit() {  // README.txt's first line names it
  std::ifstream in((Folder + L"\\README.txt").c_str());
  std::string first;
  std::getline(in, first);
  const std::size_t at = first.rfind(' ');
  return at == std::string::npos ? "unknown" : first.substr(at + 1);
}

}  // namespace

std::string Machine() {
  USHORT process = 0, native = 0;
  // IsWow64Process2 (Windows 10 1511 on) names ARM64 also to an x86 process that ARM64 Windows emulates.
  auto* wow64Process2 = Optional<BOOL WINAPI(HANDLE, USHORT*, USHORT*)>(L"kernel32.dll", "IsWow64Process2");
  if (!wow64Process2 || !wow64Process2(GetCurrentProcess(), &process, &native)) {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    native = info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? IMAGE_FILE_MACHINE_AMD64
             : info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? 0xAA64
                                                                            : IMAGE_FILE_MACHINE_I386;
  }
  const char* machine = native == IMAGE_FILE_MACHINE_AMD64 ? "x64" : native == 0xAA64 ? "ARM64" : "x86";
  return std::string(machine) + (IsWow64() ? ", this runner under WOW64" : ", this runner native");
}

void Header() {
  Line("LauncherChecks, for Launcher commit " + KitCommit());
  Line("run id: " + RunId);
  // What the WOW6432Node fact's applicability is decided by: this runner's own build, and the machine.
  Line(std::string("runner built for: ") + BuiltFor);
  Line("Launcher.exe sha256: " + Sha256Of(Folder + L"\\Launcher.exe"));
  // RtlGetVersion, unlike GetVersionEx, is not shimmed to an older version for a program without a manifest.
  RTL_OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (auto* get = Optional<LONG WINAPI(RTL_OSVERSIONINFOW*)>(L"ntdll.dll", "RtlGetVersion")) get(&version);
  Line("Windows " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + ", build " +
       std::to_string(version.dwBuildNumber));
  Line("machine: " + Machine());
  Line("ANSI code page " + std::to_string(GetACP()) + ", OEM code page " + std::to_string(GetOEMCP()));
  // What Windows decides virtualization by: the token's integrity level (by its SID), its elevation
  // type, whether virtualization is allowed on it and enabled; then UAC and the session.
  Line("token: " + kit::TokenLine(OwnToken()));
  Line(std::string("elevated: ") + (Elevated() ? "yes" : "no") + "; registry virtualization: " +
       (TokenFlag(TokenVirtualizationEnabled) ? "enabled" : "disabled"));
  DWORD lua = 0, size = sizeof lua, session = 0;
  const bool luaRead = RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"EnableLUA",
                                    RRF_RT_REG_DWORD, nullptr, &lua, &size) == ERROR_SUCCESS;
  const bool sessionRead = ProcessIdToSessionId(GetCurrentProcessId(), &session);
  Line("UAC (EnableLUA): " + (luaRead ? std::to_string(lua) : std::string("unknown")) + "; session " +
       (sessionRead ? std::to_string(session) : std::string("unknown")));
  if (!ElevatedMode)
    Line("user token: " + (NoUserToken.empty() ? std::string("this process's own") : "none, the checks run with this process's own: " + NoUserToken));
  if (OnWine()) Line(std::string("Wine ") + WineVersion()());
}

}  // namespace runner
