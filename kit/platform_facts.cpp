#include "kit/platform_facts.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <functional>
#include <string>

#include "platform/win32_api.h"
#include "kit/child_process.h"
#include "kit/optional_function.h"
#include "kit/report_header.h"
#include "kit/required_checks.h"
#include "kit/runner_build.h"
#include "kit/runner_run.h"
#include "kit/runner_text.h"
#include "kit/token_facts.h"
#include "kit/unelevated_run.h"

namespace runner {

namespace {

// A platform fact: what Windows does, checked. The table says where Wine is known to get it wrong.
struct Fact {
  const char* name;
  std::function<std::string()> skipReason;        // empty when the fact can be checked here; see Check
  std::function<bool(std::string& actual)> holds;  // sets actual to what was seen
};

// skipReason begins "not proven: " where the way the run was made rules out a check its mode requires,
// "skipped: " where the check is the other mode's; otherwise it names the fact that rules it out.
void Check(const Fact& fact) {
  // Every check is in the table, so that a new one is required somewhere.
  const kit::RequiredCheck* entry = kit::FindCheck(fact.name);
  if (!entry) return Fail(fact.name, "not in the table of required checks (kit/required_checks.cpp)");
  const std::string why = fact.skipReason ? fact.skipReason() : std::string();
  const std::string notProven = "not proven: ", skipped = "skipped: ";
  if (why.rfind(notProven, 0) == 0) return NotProven(fact.name, why.substr(notProven.size()));
  if (why.rfind(skipped, 0) == 0) return Skip(fact.name, why.substr(skipped.size()));
  if (!why.empty()) return RuledOut(fact.name, why);
  std::string actual;
  const bool holds = fact.holds(actual);
  if (OnWine() && entry->wineDiffers) {
    if (holds) Fail(fact.name, "Wine now behaves as Windows does; take it off the list of known differences");
    else Report->Result(Outcome::KnownWineDifference, fact.name, actual);
  } else if (holds) {
    Ok(fact.name);
  } else {
    Fail(fact.name, actual);
  }
}

std::string Hex(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X ", b);
    out += pair;
  }
  return out.empty() ? "(none)" : out.substr(0, out.size() - 1);
}

// One character converted: what came out, whether the default character was used, the error.
struct Conversion {
  int length = -1;
  std::string bytes;
  BOOL usedDefault = 0x5A5A;  // sentinel: never written
  DWORD error = 0;
  std::string Describe() const {
    return "returned " + std::to_string(length) + ", bytes " + Hex(bytes) + ", default used " +
           (usedDefault == 0x5A5A ? "untouched" : std::to_string(usedDefault)) + ", error " + std::to_string(error);
  }
};
Conversion Convert(UINT codePage, DWORD flags, wchar_t character, bool askUsedDefault) {
  Conversion c;
  char bytes[8] = {};
  SetLastError(0);
  c.length = WideCharToMultiByte(codePage, flags, &character, 1, bytes, sizeof bytes, nullptr,
                                 askUsedDefault ? &c.usedDefault : nullptr);
  c.error = GetLastError();
  if (c.length > 0) c.bytes.assign(bytes, static_cast<std::size_t>(c.length));
  return c;
}

bool RegistryRead(REGSAM view, const std::wstring& path, std::wstring& value) {
  wchar_t data[256] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  const bool read = RegQueryValueExW(key, L"Probe", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS;
  RegCloseKey(key);
  value = data;
  return read;
}
bool RegistryWrite(REGSAM view, const std::wstring& path, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const bool written = RegSetValueExW(key, L"Probe", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}
const wchar_t ProbeKey[] = L"Software\\LauncherChecks-probe";

}  // namespace

void CheckPlatformFacts() {
  const wchar_t lWithStroke = L'\u0141';
  // The facts this mode exists for, where the way the run was made rules them out, are not proven; see
  // Check. Under Wine the virtualization check runs in either mode: Wine virtualizes nothing, and calls
  // every process elevated.
  const Fact facts[] = {
      // "For the code page 65001 (UTF-8) ..., dwFlags must be set to either 0 or WC_ERR_INVALID_CHARS.
      // Otherwise, the function fails with ERROR_INVALID_FLAGS." (WideCharToMultiByte)
      {"UTF-8 conversion refuses WC_NO_BEST_FIT_CHARS with ERROR_INVALID_FLAGS", {},
       [&](std::string& actual) {
         const Conversion c = Convert(CP_UTF8, WC_NO_BEST_FIT_CHARS, L'A', false);
         actual = c.Describe();
         return c.length == 0 && c.error == ERROR_INVALID_FLAGS;
       }},
      // "For the CP_UTF7 and CP_UTF8 settings for CodePage, this parameter [lpUsedDefaultChar] must be set
      // to NULL. Otherwise, the function fails with ERROR_INVALID_PARAMETER."
      {"UTF-8 conversion refuses lpUsedDefaultChar with ERROR_INVALID_PARAMETER", {},
       [&](std::string& actual) {
         const Conversion c = Convert(CP_UTF8, 0, L'A', true);
         actual = c.Describe();
         return c.length == 0 && c.error == ERROR_INVALID_PARAMETER;
       }},
      // Best fit, the default: U+0141 (L with stroke) has no place in 1252 and becomes a plain L.
      {"1252 with flags 0 turns U+0141 into L (best fit)", {},
       [&](std::string& actual) {
         const Conversion c = Convert(1252, 0, lWithStroke, true);
         actual = c.Describe();
         return c.bytes == "L";
       }},
      {"1252 with WC_NO_BEST_FIT_CHARS turns U+0141 into ? and says the default was used", {},
       [&](std::string& actual) {
         const Conversion c = Convert(1252, WC_NO_BEST_FIT_CHARS, lWithStroke, true);
         actual = c.Describe();
         return c.bytes == "?" && c.usedDefault == TRUE;
       }},
      // Windows' ShellExecute takes the file name as it is; Wine's expands %VARIABLES% in it.
      {"ShellExecuteA does not expand environment variables in the file name", {},
       [&](std::string& actual) {
         const std::wstring literal = Work + L"\\%LAUNCHER_CHECKS_ELSEWHERE%";
         const std::wstring record = Work + L"\\shell-record.txt";
         CreateDirectoryW(literal.c_str(), nullptr);
         CopyFileW((Folder + L"\\FakeInstaller.exe").c_str(), (literal + L"\\probe.exe").c_str(), FALSE);
         const ScopedEnvironment elsewhere(L"LAUNCHER_CHECKS_ELSEWHERE", L"elsewhere", true);
         const ScopedEnvironment recordTo(L"LAUNCHER_TEST_RECORD", record, true);
         const std::string file = Ansi(literal + L"\\probe.exe");
         if (file.empty()) {
           actual = "the kit's folder cannot be spelled in the ANSI code page: unzip it into a folder named in ASCII";
           return false;
         }
         const INT_PTR result = reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, nullptr, file.c_str(), nullptr, nullptr, SW_HIDE));
         bool started = false;
         for (int i = 0; i < 200 && !started; ++i, Sleep(50)) started = GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES;
         actual = "ShellExecuteA returned " + std::to_string(result) + (started ? ", the file was started" : ", nothing started");
         DeleteFileW(record.c_str());
         // The probe ends once it has written its record (no release event is named): its file then
         // comes free.
         for (int i = 0; i < 200 && !DeleteFileW((literal + L"\\probe.exe").c_str()); ++i) Sleep(50);
         RemoveDirectoryW(literal.c_str());
         return result > 32 && started;
       }},
      // Windows 7 gains it with KB2533623; the launcher falls back to SetDllDirectoryW(L"") without it.
      {"kernel32 has SetDefaultDllDirectories", {},
       [&](std::string& actual) {
         actual = "missing: Windows 7 without KB2533623 (the launcher then only drops the current directory)";
         return Optional<BOOL WINAPI(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories") != nullptr;
       }},
      // On 64-bit Windows, HKLM\Software as a 32-bit process sees it is HKLM\Software\WOW6432Node.
      {"a 32-bit process's HKLM\\Software is WOW6432Node",
       // Decided by this runner's own build, and by the machine as the header states it: an x86_64 or
       // ARM64 runner is no 32-bit process, wherever it runs.
       [] {
         if (!ElevatedMode) return std::string("skipped: writes HKLM: the elevated run checks it");
         if (kit::NoWow64Runner(BuiltFor, Machine()))
           return sizeof(void*) == 8 ? std::string("this runner is built for ") + BuiltFor + ": only the i686 runner is a 32-bit process on 64-bit Windows"
                                     : std::string("32-bit Windows: there is no 64-bit registry view");
         return CanWriteMachineRegistry() ? std::string() : std::string("not proven: not elevated: it writes HKLM; run the kit as administrator");
       },
       [&](std::string& actual) {
         std::wstring seen;
         const bool written = RegistryWrite(0, ProbeKey, L"32-bit view");
         const bool read = RegistryRead(platform::KeyWow64_64Key, std::wstring(L"Software\\WOW6432Node\\") + (ProbeKey + 9), seen);
         RegDeleteKeyW(HKEY_LOCAL_MACHINE, ProbeKey);
         actual = std::string("written ") + (written ? "yes" : "no") + ", read back through WOW6432Node: " +
                  (read ? Utf8(seen) : std::string("nothing"));
         return written && read && seen == L"32-bit view";
       }},
      // "Virtual values take precedence over global values when present" (Registry Virtualization): a
      // virtualized process's write to HKLM\Software lands in the user's VirtualStore, and its reads
      // come from there; once it turns virtualization off it sees the machine's registry only.
      {"a VirtualStore value overrides HKLM while virtualized, and not once virtualization is off",
       [] {
         if (OnWine()) return std::string();
         if (ElevatedMode) return std::string("skipped: the run without elevation checks it");
         const kit::TokenStatement token = OwnToken();
         if (!kit::VirtualizableToken(token))
           return "this run's token is not one that Windows virtualizes: " + kit::TokenLine(token) +
                  (NoUserToken.empty() ? std::string() : "; " + NoUserToken);
         return kit::VirtualizedToken(token) ? std::string() : "not proven: " + WhyNotVirtualized();
       },
       [&](std::string& actual) {
         std::wstring before, after;
         const bool written = RegistryWrite(0, ProbeKey, L"per-user copy");
         const bool readBefore = RegistryRead(0, ProbeKey, before);
         platform::SetTokenVirtualizationEnabled(false);
         const bool readAfter = RegistryRead(0, ProbeKey, after);
         // Remove it wherever it went: the user's VirtualStore, or HKLM itself where nothing is virtualized.
         const std::wstring store = std::wstring(L"Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\") +
                                    (IsWow64() ? L"WOW6432Node\\" : L"") + (ProbeKey + 9);
         RegDeleteKeyW(HKEY_CURRENT_USER, store.c_str());
         RegDeleteKeyW(HKEY_LOCAL_MACHINE, ProbeKey);
         actual = std::string("written ") + (written ? "yes" : "no") + ", read while virtualized: " +
                  (readBefore ? Utf8(before) : std::string("nothing")) + ", read with virtualization off: " +
                  (readAfter ? Utf8(after) : std::string("nothing"));
         return written && readBefore && before == L"per-user copy" && !readAfter;
       }},
  };
  for (const Fact& fact : facts) Check(fact);
}

}  // namespace runner
