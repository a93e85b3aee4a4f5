// LauncherChecks.exe: on a vendor's real Windows machine, runs the test programs that the Wine tests run
// and checks the platform facts the launcher's safety rests on, then writes one report beside itself:
// LauncherChecks-<computer>-<yyyymmdd-hhmmss>.txt, and its JUnit twin, ...-junit.xml. Under Wine, a fact
// where Wine is known to differ from Windows reports "known Wine difference", and fails once Wine
// behaves as Windows does (as todo_wine does), so that the list stays true.
//
// Usage: LauncherChecks.exe [elevated|unelevated] [RUN_ID]. Each mode exists for the checks that
// kit/required_checks.cpp lists: elevated, the test programs and the platform facts; unelevated,
// registry virtualization, which Windows applies only to a Medium-integrity token that allows it.
// Without a mode it is the token's. RUN_ID, which run_kit.cmd makes for each run, goes into the header,
// and the verdict judges no report without it. Run elevated in unelevated mode, the runner starts itself
// again with the desktop shell's token, waits for it and passes its status on; where there is no such
// token it runs the checks itself, and says why in its header.
// A required check that a fact of the run, stated in the header, rules out is "not applicable"; one
// that the way the run was made rules out (not elevated, virtualization off) is "not proven", and fails
// the run like a FAILED line; a check that is not this mode's is "skipped".
// Exit status: 0 only when nothing failed and nothing was left unproven; 2 on a usage error.
#include <windows.h>
#include <sddl.h>
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
#include "kit/program_output.h"
#include "kit/report_verdict.h"
#include "kit/required_checks.h"
#include "kit/setting_backup.h"

namespace {

#if defined(__x86_64__)
const char BuiltFor[] = "x86_64";
#elif defined(__aarch64__)
const char BuiltFor[] = "arm64";
#else
const char BuiltFor[] = "i686";
#endif

std::wstring Folder;  // the runner's own, where the kit was unzipped
std::wstring Work;    // the runner's scratch folder; removed at the end
SettingBackup Backup(L"");  // beside the runner, once Folder is known
CheckReport* Report = nullptr;  // made in main, once the folder is known
bool ElevatedMode = true;
std::string RunId = "none";
// In unelevated mode, why this process runs the checks with its own token: no desktop user's token.
std::string NoUserToken;

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

// What Windows decides virtualization and elevation by, as a token states it.
struct TokenFacts {
  std::string integrity = "unknown", sid = "none", elevationType = "unknown";
  bool allowed = false, enabled = false;
  // Windows virtualizes a process whose token is Medium integrity and allows it (UAC on, interactive).
  bool Virtualizable() const {
    return sid == "S-1-16-8192" && allowed && (elevationType == "Limited" || elevationType == "Default");
  }
  std::string Line() const {
    return "integrity level " + integrity + " (" + sid + "), elevation type " + elevationType + ", virtualization allowed " +
           (allowed ? "yes" : "no") + ", enabled " + (enabled ? "yes" : "no");
  }
};

TokenFacts FactsOf(HANDLE token) {
  TokenFacts facts;
  DWORD value = 0, size = 0;
  if (GetTokenInformation(token, TokenVirtualizationAllowed, &value, sizeof value, &size)) facts.allowed = value != 0;
  if (GetTokenInformation(token, TokenVirtualizationEnabled, &value, sizeof value, &size)) facts.enabled = value != 0;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  if (GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size))
    facts.elevationType = type == TokenElevationTypeFull ? "Full" : type == TokenElevationTypeLimited ? "Limited" : "Default";
  alignas(TOKEN_MANDATORY_LABEL) BYTE label[64 + SECURITY_MAX_SID_SIZE];
  char* text = nullptr;
  if (GetTokenInformation(token, TokenIntegrityLevel, label, sizeof label, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_MANDATORY_LABEL*>(label)->Label.Sid, &text)) {
    facts.sid = text;
    LocalFree(text);
    // The mandatory label's RID: SECURITY_MANDATORY_*_RID.
    const struct { const char* sid; const char* name; } levels[] = {
        {"S-1-16-0", "Untrusted"}, {"S-1-16-4096", "Low"}, {"S-1-16-8192", "Medium"}, {"S-1-16-8448", "Medium Plus"},
        {"S-1-16-12288", "High"}, {"S-1-16-16384", "System"}, {"S-1-16-20480", "Protected"}};
    for (const auto& level : levels)
      if (facts.sid == level.sid) facts.integrity = level.name;
  }
  return facts;
}

TokenFacts OwnToken() {
  TokenFacts facts;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    facts = FactsOf(token);
    CloseHandle(token);
  }
  return facts;
}
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

bool Required(const std::string& name) {
  for (const kit::RequiredCheck& check : kit::RequiredChecks(ElevatedMode ? kit::Mode::Elevated : kit::Mode::Unelevated))
    if (name == check.name) return true;
  return false;
}
bool InTable(const std::string& name) {
  for (const kit::RequiredCheck& check : kit::RequiredChecks())
    if (name == check.name) return true;
  return false;
}
// Ruled out by a fact of this run that the header states: "not applicable" where this mode requires the
// check (the verdict holds the fact against the header), "skipped" where it does not.
void RuledOut(const std::string& name, const std::string& facts) {
  Report->Result(Required(name) ? Outcome::NotApplicable : Outcome::Skipped, name, facts);
}

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

// skipReason begins "not proven: " where the way the run was made rules out a check its mode requires,
// "skipped: " where the check is the other mode's; otherwise it names the fact that rules it out.
void Check(const Fact& fact) {
  // Every check is in the table, so that a new one is required somewhere.
  if (!InTable(fact.name)) return Fail(fact.name, "not in the table of required checks (kit/required_checks.cpp)");
  const std::string why = fact.skipReason ? fact.skipReason() : std::string();
  const std::string notProven = "not proven: ", skipped = "skipped: ";
  if (why.rfind(notProven, 0) == 0) return NotProven(fact.name, why.substr(notProven.size()));
  if (why.rfind(skipped, 0) == 0) return Skip(fact.name, why.substr(skipped.size()));
  if (!why.empty()) return RuledOut(fact.name, why);
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

// A program's output, where it is not UTF-8, is in the ANSI code page: the C runtime prints in it.
std::string FailureLines(const std::string& output) {
  return kit::FailureLines(output, [](const std::string& bytes) {
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
    return Utf8(wide);
  });
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
  // What Windows decides virtualization by: the token's integrity level (by its SID), its elevation
  // type, whether virtualization is allowed on it and enabled; then UAC and the session.
  Line("token: " + OwnToken().Line());
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
    if (!InTable(name)) {
      Fail(name, "not in the table of required checks (kit/required_checks.cpp)");
      continue;
    }
    if (p.wineCannot && OnWine()) {
      Report->Result(Outcome::KnownWineDifference, name, std::string("Wine cannot show it: ") + p.wineCannot);
      continue;
    }
    // The run without elevation leaves the setting alone, also where its token could write it (no
    // desktop user's token to run with): the elevated run checks these, and once is enough.
    if (p.changesTheSetting && !ElevatedMode) {
      Skip(name, "writes HKLM: the elevated run checks it");
      continue;
    }
    if (p.changesTheSetting && !CanWriteMachineRegistry()) {
      NotProven(name, "not elevated: it writes HKLM; run the kit as administrator");
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
        RuledOut(name, "the code-page cases cover 1252, 1251, 932 and 65001; this machine's ANSI code page is " + std::to_string(GetACP()));
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
       // Decided by this runner's own build: an x86_64 or ARM64 runner is no 32-bit process, wherever it runs.
       [] { return !ElevatedMode ? std::string("skipped: writes HKLM: the elevated run checks it")
                   : sizeof(void*) == 8 ? std::string("this runner is built for ") + BuiltFor + ": only the i686 runner is a 32-bit process on 64-bit Windows"
                   : !IsWow64() ? std::string("32-bit Windows: there is no 64-bit registry view")
                   : !CanWriteMachineRegistry() ? std::string("not proven: not elevated: it writes HKLM; run the kit as administrator")
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
       [] {
         if (OnWine()) return std::string();
         if (ElevatedMode) return std::string("skipped: the run without elevation checks it");
         const TokenFacts token = OwnToken();
         if (!token.Virtualizable())
           return "this run's token is not one that Windows virtualizes: " + token.Line() +
                  (NoUserToken.empty() ? std::string() : "; " + NoUserToken);
         return token.enabled ? std::string() : "not proven: " + WhyNotVirtualized();
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

// ---- The run without elevation ------------------------------------------------------------------------
// Starts this runner again, in unelevated mode, as the desktop's user: with a primary token duplicated
// from the shell's process, which an elevated administrator may open, through CreateProcessWithTokenW
// (its caller needs SeImpersonatePrivilege, which administrators hold). Not the token TokenLinkedToken
// gives: without SeTcbPrivilege that is an identification token, no use for a process. Waits for the
// run and gives its exit status; false, with why, where the machine has no shell token that Windows
// would virtualize (no shell in this session, UAC off, a service's session).
bool RunAsDesktopUser(const std::wstring& program, DWORD& exitCode, std::string& why) {
  const HWND shell = GetShellWindow();
  DWORD shellProcess = 0;
  if (!shell || !GetWindowThreadProcessId(shell, &shellProcess) || shellProcess == 0)
    return why = "no desktop shell runs in this session (a service's session, or no one logged on)", false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess);
  HANDLE shellToken = nullptr, token = nullptr;
  const bool opened = process && OpenProcessToken(process, TOKEN_DUPLICATE | TOKEN_QUERY, &shellToken);
  const DWORD openError = GetLastError();
  if (process) CloseHandle(process);
  if (!opened) return why = "the desktop shell's token cannot be opened (error " + std::to_string(openError) + ")", false;
  const TokenFacts facts = FactsOf(shellToken);
  const bool duplicated = DuplicateTokenEx(shellToken, TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_ADJUST_DEFAULT |
                                           TOKEN_ADJUST_SESSIONID, nullptr, SecurityImpersonation, TokenPrimary, &token);
  CloseHandle(shellToken);
  if (!facts.Virtualizable()) {
    if (duplicated) CloseHandle(token);
    return why = "the desktop shell's token is not one that Windows virtualizes (UAC off, or the shell elevated): " + facts.Line(), false;
  }
  if (!duplicated) return why = "the desktop shell's token cannot be duplicated (error " + std::to_string(GetLastError()) + ")", false;
  std::wstring commandLine = L"\"" + program + L"\" unelevated " + std::wstring(RunId.begin(), RunId.end());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  const bool started = CreateProcessWithTokenW(token, 0, program.c_str(), commandLine.data(), CREATE_NO_WINDOW, nullptr,
                                               Folder.c_str(), &startup, &child);
  const DWORD startError = GetLastError();
  CloseHandle(token);
  if (!started) return why = "CreateProcessWithTokenW with the desktop shell's token failed (error " + std::to_string(startError) + ")", false;
  // Each test program has ten minutes; the unelevated run runs few of them.
  if (WaitForSingleObject(child.hProcess, 70 * 60 * 1000) != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 99);
  WaitForSingleObject(child.hProcess, 10000);
  exitCode = 99;
  GetExitCodeProcess(child.hProcess, &exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc > 3 || (argc >= 2 && mode != "elevated" && mode != "unelevated") || (argc == 3 && !kit::ValidRunId(argv[2]))) {
    std::printf("usage: LauncherChecks.exe [elevated|unelevated] [RUN_ID]   (RUN_ID: letters, digits and -, at most 64)\n");
    return 2;
  }
  ElevatedMode = mode.empty() ? Elevated() : mode == "elevated";
  if (argc == 3) RunId = argv[2];
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  Folder = path;
  Folder = Folder.substr(0, Folder.find_last_of(L'\\'));
  // Elevated, the run without elevation is made as the desktop's user; this process only waits for it.
  // Wine has no such user (it virtualizes nothing): there the checks run here.
  if (!ElevatedMode && Elevated()) {
    DWORD status = 0;
    if (OnWine()) NoUserToken = "Wine has no desktop user's token to start it with";
    else if (RunAsDesktopUser(path, status, NoUserToken)) return static_cast<int>(status);
  }
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
