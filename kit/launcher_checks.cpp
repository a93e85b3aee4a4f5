// LauncherChecks.exe: on a vendor's real Windows machine, runs the test programs that the Wine tests run
// and checks the platform facts the launcher's safety rests on, then writes one report beside itself:
// LauncherChecks-<computer>-<yyyymmdd-hhmmss>.txt, and its JUnit twin, ...-junit.xml. Under Wine, a fact
// where Wine is known to differ from Windows reports "known Wine difference", and fails once Wine
// behaves as Windows does (as todo_wine does), so that the list stays true.
//
// Usage: LauncherChecks.exe [elevated|unelevated]. Each mode exists for some checks: elevated, the test
// programs and the platform facts; unelevated, registry virtualization, which Windows applies only to
// processes without elevation. Without an argument the mode is the token's. A check the mode requires
// that the way the run was made rules out (not elevated, virtualization off) is "not proven", and fails
// the run like a FAILED line; a check that a fixed property of the machine rules out is "skipped".
// Exit status: 0 only when nothing failed and nothing was left unproven; 2 on a usage error.
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "launcher/install_directory.h"
#include "platform/win32_api.h"
#include "kit/check_report.h"
#include "kit/file_contents.h"
#include "kit/setting_backup.h"

namespace {

std::wstring Folder;  // the runner's own, where the kit was unzipped
std::wstring Work;    // the runner's scratch folder; removed at the end
SettingBackup Backup(L"");  // beside the runner, once Folder is known
CheckReport* Report = nullptr;  // made in main, once the folder is known
bool ElevatedMode = true;

void Line(const std::string& text) { Report->Line(text); }

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

// A function that not every Windows has; nullptr where it is missing.
template <typename Function>
Function* Optional(const wchar_t* module, const char* name) {
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name)));
}
auto* WineVersion() { return Optional<const char*()>(L"ntdll.dll", "wine_get_version"); }
bool OnWine() { return WineVersion() != nullptr; }

// The ANSI form of text, or empty when the ANSI code page cannot spell it exactly.
std::string Ansi(const std::wstring& text) {
  char bytes[MAX_PATH * 4] = {};
  wchar_t back[MAX_PATH * 4] = {};
  const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
  const bool exact = length > 0 && MultiByteToWideChar(CP_ACP, 0, bytes, -1, back, MAX_PATH * 4) > 0 && text == back;
  return exact ? std::string(bytes) : std::string();
}

bool TokenFlag(TOKEN_INFORMATION_CLASS kind) {
  HANDLE token = nullptr;
  DWORD value = 0, size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    if (!GetTokenInformation(token, kind, &value, sizeof value, &size)) value = 0;
    CloseHandle(token);
  }
  return value != 0;
}
bool Elevated() { return TokenFlag(TokenElevation); }
// Wine lets every process write HKLM; Windows, an elevated one.
bool CanWriteMachineRegistry() { return Elevated() || OnWine(); }

BOOL IsWow64() {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64;
}

// ---- Report lines ---------------------------------------------------------------------------------
using Outcome = CheckReport::Outcome;
void Ok(const std::string& name) { Report->Result(Outcome::Ok, name); }
void Fail(const std::string& name, const std::string& actual) { Report->Result(Outcome::Failed, name, actual); }
// Ruled out by a fixed property of this machine, or not this mode's to prove.
void Skip(const std::string& name, const std::string& why) { Report->Result(Outcome::Skipped, name, why); }
// Required by this mode, and ruled out by the way the run was made: fails the run.
void NotProven(const std::string& name, const std::string& why) { Report->Result(Outcome::NotProven, name, why); }

// Why Windows does not virtualize this process's registry, for a run that needed it to. Microsoft's
// "Registry Virtualization" names the cases: UAC off, processes that are not interactive (services),
// 64-bit processes, and programs whose manifest asks for an execution level (this runner has none).
std::string WhyNotVirtualized() {
  DWORD lua = 1, size = sizeof lua;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"EnableLUA",
                   RRF_RT_REG_DWORD, nullptr, &lua, &size) == ERROR_SUCCESS && lua == 0)
    return "UAC is off (EnableLUA is 0): Windows virtualizes nothing; run it on a machine with UAC on";
  DWORD session = 1;
  USEROBJECTFLAGS station = {};
  const bool visible = GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &station, sizeof station, nullptr) &&
                       (station.dwFlags & WSF_VISIBLE);
  if ((ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) || !visible)
    return "this process is not interactive (a service's session or window station): run the agent as a logged-on user";
  if (sizeof(void*) == 8) return "this runner is a 64-bit process, which Windows never virtualizes";
  return "Windows did not enable virtualization for this runner's token";
}

// A platform fact: what Windows does, checked. wineDiffers marks the facts Wine is known to get wrong.
struct Fact {
  const char* name;
  bool wineDiffers;
  std::function<std::string()> skipReason;        // empty when the fact can be checked here; see Check
  std::function<bool(std::string& actual)> holds;  // sets actual to what was seen
};

// skipReason begins "not proven: " where the way the run was made rules out a check its mode requires.
void Check(const Fact& fact) {
  const std::string why = fact.skipReason ? fact.skipReason() : std::string();
  const std::string notProven = "not proven: ";
  if (why.rfind(notProven, 0) == 0) return NotProven(fact.name, why.substr(notProven.size()));
  if (!why.empty()) return Skip(fact.name, why);
  std::string actual;
  const bool holds = fact.holds(actual);
  if (OnWine() && fact.wineDiffers) {
    if (holds) Fail(fact.name, "Wine now behaves as Windows does; take it off the list of known differences");
    else Report->Result(Outcome::KnownWineDifference, fact.name, actual);
  } else if (holds) {
    Ok(fact.name);
  } else {
    Fail(fact.name, actual);
  }
}

// ---- Child processes ------------------------------------------------------------------------------
std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

// An environment variable set for the children started while it lives, and put back as it was after.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value, bool set)
      : name_(name), previous_(Environment(name)), set_(set) {
    if (set_) SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() {
    if (set_) SetEnvironmentVariableW(name_, previous_.empty() ? nullptr : previous_.c_str());
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const wchar_t* name_;
  std::wstring previous_;
  bool set_;
};

struct Run {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0xDEADBEEF;  // sentinel: never exited
  std::string output;
};

Run RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
  Run run;
  const std::wstring outputPath = Work + L"\\output.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  const std::wstring directory = program.substr(0, program.find_last_of(L'\\'));
  run.started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                               directory.c_str(), &startup, &process) != FALSE;
  CloseHandle(output);
  if (!run.started) {
    run.output = "CreateProcessW failed: " + std::to_string(GetLastError());
    return run;
  }
  run.timedOut = WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0;
  if (run.timedOut) TerminateProcess(process.hProcess, 99);
  WaitForSingleObject(process.hProcess, 10000);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  run.output = FileContents(outputPath);
  // Under Wine a handle of the program's can outlive the exit that was waited for, by a moment.
  for (int i = 0; i < 100 && !DeleteFileW(outputPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND; ++i) Sleep(50);
  return run;
}

// What a failing test program said, without the progress lines of a passing test.
std::string FailureLines(const std::string& output) {
  std::istringstream in(output);
  std::string line, kept;
  int count = 0;
  while (std::getline(in, line) && count < 40) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.rfind("[ RUN", 0) == 0 || line.rfind("[       OK", 0) == 0 || line.rfind("[--", 0) == 0) continue;
    kept += "\r\n    " + line;
    ++count;
  }
  return kept;
}

// ---- The header ---------------------------------------------------------------------------------------
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

void Header() {
  Line("LauncherChecks, for Launcher commit " + KitCommit());
  Line("Launcher.exe sha256: " + Sha256Of(Folder + L"\\Launcher.exe"));
  // RtlGetVersion, unlike GetVersionEx, is not shimmed to an older version for a program without a manifest.
  RTL_OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (auto* get = Optional<LONG WINAPI(RTL_OSVERSIONINFOW*)>(L"ntdll.dll", "RtlGetVersion")) get(&version);
  Line("Windows " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + ", build " +
       std::to_string(version.dwBuildNumber));
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
  Line(std::string("machine: ") + machine + (IsWow64() ? ", this runner under WOW64" : ", this runner native"));
  Line("ANSI code page " + std::to_string(GetACP()) + ", OEM code page " + std::to_string(GetOEMCP()));
  Line(std::string("elevated: ") + (Elevated() ? "yes" : "no") + "; registry virtualization: " +
       (TokenFlag(TokenVirtualizationEnabled) ? "enabled" : "disabled"));
  if (OnWine()) Line(std::string("Wine ") + WineVersion()());
}

// ---- The test programs --------------------------------------------------------------------------------
// The code-page cases cover these; Windows fixes the ANSI code page at boot, and the test program learns
// which to expect from LC_ALL, as under Wine.
const struct {
  UINT codePage;
  const wchar_t* locale;
} CodePageLocales[] = {{1252, L"en_US.UTF-8"}, {1251, L"ru_RU.UTF-8"}, {932, L"ja_JP.UTF-8"}, {65001, L"hi_IN.UTF-8"}};

void RunTestPrograms() {
  const struct {
    const char* name;
    const wchar_t* program;
    bool changesTheSetting;
    const wchar_t* arguments;
    // A program run for one test must say it passed: a filter that matches nothing passes too.
    const char* mustSay = nullptr;
    // What Wine cannot show, where the program cannot run there.
    const char* wineCannot = nullptr;
  } programs[] = {
      {"registry", L"wine_registry_test.exe", true, L""},
      {"file probe", L"wine_file_probe_test.exe", false, L""},
      {"code page", L"wine_code_page_test.exe", false, L""},
      // The kit carries no benchmark: its floor's test stays at home. The same-publisher rows rest on
      // Wine accepting a root nobody trusts; on Windows the kit's own same-publisher checks stand in.
      {"end to end", L"wine_end_to_end_test.exe", true, L"--gtest_filter=-*BenchmarkFloor*:*SamePublisher*"},
      {"DLL search", L"dll-planting\\wine_dll_search_test.exe", false, L""},
      {"runtime", L"wine_runtime_test.exe", false, L""},
      // Launcher-same-publisher.exe against certificates made on this machine, one a trusted root for
      // the run only.
      {"same-publisher build, an untrusted chain: nothing started", L"wine_end_to_end_test.exe", true,
       L"--gtest_filter=SamePublisherOnWindows.UntrustedChainStartsNothing", "[  PASSED  ] 1 test.",
       "its WinVerifyTrust trusts any root, and it has no New-SelfSignedCertificate"},
      {"same-publisher build, a trusted chain: started", L"wine_end_to_end_test.exe", true,
       L"--gtest_filter=SamePublisherOnWindows.TrustedChainStarts", "[  PASSED  ] 1 test.",
       "it has no New-SelfSignedCertificate to make the chain with"},
      {"same-publisher build, a junction on the path: nothing started", L"wine_end_to_end_test.exe", true,
       L"--gtest_filter=SamePublisherOnWindows.JunctionOnThePathStartsNothing", "[  PASSED  ] 1 test.",
       "it makes no junction, and it has no New-SelfSignedCertificate to make the chain with"},
      {"a held file's folder cannot be renamed or made a junction", L"wine_held_file_test.exe", false, L"",
       "[  PASSED  ] 2 tests.", "it renames a folder that holds an open file, and makes no junction"},
  };
  bool saved = false;
  for (const auto& p : programs) {
    const std::string name = std::string("test program: ") + p.name;
    if (p.wineCannot && OnWine()) {
      Report->Result(Outcome::KnownWineDifference, name, std::string("Wine cannot show it: ") + p.wineCannot);
      continue;
    }
    if (p.changesTheSetting && !CanWriteMachineRegistry()) {
      if (ElevatedMode) NotProven(name, "not elevated: it writes HKLM; run the kit as administrator");
      else Skip(name, "writes HKLM: the elevated run checks it");
      continue;
    }
    if (p.changesTheSetting && !saved && !(saved = Backup.Save())) {
      Fail(name, "the setting could not be saved first, so it is not touched");
      continue;
    }
    // A vendor's setting, in either view, must not decide a program's rows: each starts from none.
    if (p.changesTheSetting && !Backup.Remove()) {
      Fail(name, "the setting could not be removed before the program ran");
      continue;
    }
    std::wstring locale;
    if (std::wstring(p.program) == L"wine_code_page_test.exe") {
      for (const auto& known : CodePageLocales) {
        if (known.codePage == GetACP()) locale = known.locale;
        else Skip("code page " + std::to_string(known.codePage), "Windows fixes the ANSI code page at boot; this machine's is " + std::to_string(GetACP()));
      }
      if (locale.empty()) {
        Skip(name, "the code-page cases cover 1252, 1251, 932 and 65001; this machine's is " + std::to_string(GetACP()));
        continue;
      }
    }
    // Wine prefers its built-in DLLs; Windows loads a non-KnownDLL from the program's folder first.
    const bool planted = std::wstring(p.program).find(L"dll-planting") != std::wstring::npos;
    const ScopedEnvironment codePage(L"LC_ALL", locale, !locale.empty());
    const ScopedEnvironment overrides(L"WINEDLLOVERRIDES", Environment(L"WINEDLLOVERRIDES") + L";dwmapi=n,b", planted && OnWine());
    const Run run = RunProgram(Folder + L"\\" + p.program, p.arguments, 600000);
    if (run.started && !run.timedOut && run.exitCode == 0 && p.mustSay && run.output.find(p.mustSay) == std::string::npos)
      Fail(name, std::string("exit status 0, but it did not say ") + p.mustSay + FailureLines(run.output));
    else if (run.started && !run.timedOut && run.exitCode == 0) Ok(name);
    else if (!run.started) Fail(name, "not started: " + run.output);
    else if (run.timedOut) Fail(name, "timed out after 600 s" + FailureLines(run.output));
    else Fail(name, "exit status " + std::to_string(run.exitCode) + FailureLines(run.output));
  }
  if (saved && !Backup.Restore()) Fail("the setting restored", "could not write it back; it stays in " + Utf8(Backup.Path()));
}

// ---- The platform facts -------------------------------------------------------------------------------
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

void CheckPlatformFacts() {
  const wchar_t lWithStroke = L'\u0141';
  // The facts this mode exists for, where the way the run was made rules them out, are not proven; see
  // Check. Under Wine the virtualization check runs in either mode: Wine virtualizes nothing, and calls
  // every process elevated.
  const Fact facts[] = {
      // "For the code page 65001 (UTF-8) ..., dwFlags must be set to either 0 or WC_ERR_INVALID_CHARS.
      // Otherwise, the function fails with ERROR_INVALID_FLAGS." (WideCharToMultiByte)
      {"UTF-8 conversion refuses WC_NO_BEST_FIT_CHARS with ERROR_INVALID_FLAGS", true, {},
       [&](std::string& actual) {
         const Conversion c = Convert(CP_UTF8, WC_NO_BEST_FIT_CHARS, L'A', false);
         actual = c.Describe();
         return c.length == 0 && c.error == ERROR_INVALID_FLAGS;
       }},
      // "For the CP_UTF7 and CP_UTF8 settings for CodePage, this parameter [lpUsedDefaultChar] must be set
      // to NULL. Otherwise, the function fails with ERROR_INVALID_PARAMETER."
      {"UTF-8 conversion refuses lpUsedDefaultChar with ERROR_INVALID_PARAMETER", true, {},
       [&](std::string& actual) {
         const Conversion c = Convert(CP_UTF8, 0, L'A', true);
         actual = c.Describe();
         return c.length == 0 && c.error == ERROR_INVALID_PARAMETER;
       }},
      // Best fit, the default: U+0141 (L with stroke) has no place in 1252 and becomes a plain L.
      {"1252 with flags 0 turns U+0141 into L (best fit)", false, {},
       [&](std::string& actual) {
         const Conversion c = Convert(1252, 0, lWithStroke, true);
         actual = c.Describe();
         return c.bytes == "L";
       }},
      {"1252 with WC_NO_BEST_FIT_CHARS turns U+0141 into ? and says the default was used", false, {},
       [&](std::string& actual) {
         const Conversion c = Convert(1252, WC_NO_BEST_FIT_CHARS, lWithStroke, true);
         actual = c.Describe();
         return c.bytes == "?" && c.usedDefault == TRUE;
       }},
      // Windows' ShellExecute takes the file name as it is; Wine's expands %VARIABLES% in it.
      {"ShellExecuteA does not expand environment variables in the file name", true, {},
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
      {"kernel32 has SetDefaultDllDirectories", false, {},
       [&](std::string& actual) {
         actual = "missing: Windows 7 without KB2533623 (the launcher then only drops the current directory)";
         return Optional<BOOL WINAPI(DWORD)>(L"kernel32.dll", "SetDefaultDllDirectories") != nullptr;
       }},
      // On 64-bit Windows, HKLM\Software as a 32-bit process sees it is HKLM\Software\WOW6432Node.
      {"a 32-bit process's HKLM\\Software is WOW6432Node", false,
       [] { return !IsWow64() ? std::string("this runner is not a 32-bit process on 64-bit Windows")
                   : !CanWriteMachineRegistry() ? std::string(ElevatedMode ? "not proven: not elevated: it writes HKLM; run the kit as administrator"
                                                                           : "writes HKLM: the elevated run checks it")
                   : std::string(); },
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
      {"a VirtualStore value overrides HKLM while virtualized, and not once virtualization is off", true,
       [] { return OnWine() ? std::string()
                   : ElevatedMode ? std::string("the run without elevation checks it")
                   : Elevated() ? std::string("not proven: elevated: Windows virtualizes only processes without elevation; run the kit without it")
                   : !TokenFlag(TokenVirtualizationEnabled) ? "not proven: " + WhyNotVirtualized()
                   : std::string(); },
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

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc > 2 || (argc == 2 && mode != "elevated" && mode != "unelevated")) {
    std::printf("usage: LauncherChecks.exe [elevated|unelevated]\n");
    return 2;
  }
  ElevatedMode = mode.empty() ? Elevated() : mode == "elevated";
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  Folder = path;
  Folder = Folder.substr(0, Folder.find_last_of(L'\\'));
  Work = Folder + L"\\LauncherChecks-work";
  Backup = SettingBackup(Folder + L"\\LauncherChecks-saved-setting.bin");
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);  // no dialog may stop a check

  // Held while this process lives, and gone with it however it ends (Windows closes a killed process's
  // handles, and the last close deletes the file): run_kit.cmd waits while it is there. No sharing, so a
  // second runner in this folder stops here instead of mixing its files with this one's.
  const HANDLE running = CreateFileW((Folder + L"\\LauncherChecks-running.lock").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (running == INVALID_HANDLE_VALUE) {
    std::printf("FAILED: another LauncherChecks.exe runs from this folder, or the folder cannot be written (error %lu)\n",
                GetLastError());
    return 1;
  }
  CreateDirectoryW(Work.c_str(), nullptr);

  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(computer, &size);
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[64];
  swprintf(stamp, 64, L"%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  // Written under a name that run_kit.cmd does not take for a report, then renamed: a report under its
  // own name is whole, even to a reader that finds it while this process still runs.
  CheckReport report(Folder, std::wstring(L"LauncherChecks-") + computer + L"-" + stamp);
  Report = &report;

  Header();
  Line(std::string("mode: ") + (ElevatedMode ? "elevated" : "unelevated"));
  // A run that was cut off left the setting saved: put it back before anything else.
  if (Backup.Pending()) {
    if (Backup.Restore()) Line("restored the setting saved by an earlier run that did not finish");
    else Fail("the setting saved by an earlier run restored", "could not write it back; it stays in " + Utf8(Backup.Path()));
  }
  RunTestPrograms();
  CheckPlatformFacts();  // last: the virtualization check turns virtualization off for this process
  RemoveDirectoryW(Work.c_str());

  DWORD error = 0;
  if (!report.Finish(std::string("LauncherChecks ") + (ElevatedMode ? "elevated" : "unelevated"), error)) {
    std::printf("FAILED: cannot write the report %s (error %lu)\n", Utf8(report.ReportPath()).c_str(), error);
    return 1;
  }
  std::printf("report: %s\n", Utf8(report.ReportPath()).c_str());
  return report.Failed() == 0 ? 0 : 1;
}
