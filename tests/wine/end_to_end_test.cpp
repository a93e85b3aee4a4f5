// Launcher.exe itself under Wine, with FakeInstaller.exe copied in as the installer to record how the
// launcher started it.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/shared/registry_value_cases.h"
#include "tests/wine/debug_output_capture.h"
#include "tests/wine/junction.h"
#include "tests/wine/registry_setting.h"

namespace {

const std::wstring Scratch = L"C:\\launcher-e2e";

std::wstring BinaryDirectory() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring text = path;
  return text.substr(0, text.find_last_of(L'\\'));
}

// For failure messages: ASCII as it is, anything else as '?'.
std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

struct LauncherRun {
  DWORD exitCode = 0xDEADBEEF;  // sentinel: the launcher never exited
  DWORD pid = 0;
  bool exitedInTime = false;
};

LauncherRun RunLauncher(const std::wstring& arguments, WORD showWindow, const std::wstring& currentDirectory,
                        const std::wstring& program = L"Launcher.exe") {
  LauncherRun run;
  // A program named by its full path runs from there; any other from this test's own folder.
  const std::wstring path = program.find(L':') != std::wstring::npos ? program : BinaryDirectory() + L"\\" + program;
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showWindow;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDirectory.c_str(),
                      &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return run;
  }
  run.pid = process.dwProcessId;
  // The launcher must end on its own while the installer it started is still running.
  run.exitedInTime = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
  if (run.exitedInTime) GetExitCodeProcess(process.hProcess, &run.exitCode);
  else TerminateProcess(process.hProcess, 99);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

std::wstring ReadRecord(const std::wstring& path, DWORD waitMs) {
  const DWORD deadline = GetTickCount() + waitMs;
  do {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      std::wstring text(4096, L'\0');
      DWORD read = 0;
      ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
      CloseHandle(file);
      text.resize(read / sizeof(wchar_t));
      return text;
    }
    Sleep(50);
  } while (GetTickCount() < deadline);
  return {};
}

std::wstring Field(const std::wstring& record, const std::wstring& name) {
  const std::size_t start = record.find(name + L"=");
  if (start == std::wstring::npos) return L"(missing)";
  const std::size_t from = start + name.size() + 1;
  return record.substr(from, record.find(L'\n', from) - from);
}

// Only64BitView: no key in the 32-bit view, and the directory in the 64-bit view, as a 64-bit installer
// writes it. Every other row has no setting in the 64-bit view.
enum class Setting { Text, Absent, KeyMissing, Number, Only64BitView };

struct EndToEndCase {
  const char* name;
  unsigned codePage;               // the ANSI code page the row needs; 0: any
  Setting setting;
  std::wstring directory;          // the setting's text
  std::vector<std::wstring> installersAt;  // where FakeInstaller.exe is copied to
  std::wstring directoryAt;        // a directory to create (empty: none)
  std::wstring arguments;          // given to the launcher
  WORD show;                       // the launcher's own show command
  DWORD expectedExit;
  std::wstring expectedDirectory;  // the installer's working directory; empty: nothing may start
  // The one line on the debugger output: the whole of it when it ends in a newline, else its beginning
  // (the rest names a path that the debugger buffer holds in the ANSI code page).
  std::string expectedDebugOutput;
};

void RemoveTree(const std::wstring& path) {
  std::wstring from = path + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationW(&op);
}

// FakeInstaller.exe, copied in as the installer, records how it was started into record_, then blocks
// until release_ is set: an installer still running when the launcher has exited proves that the
// launcher did not wait for it.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t releaseName[64];
    swprintf(releaseName, 64, L"LauncherTestRelease%lu", GetCurrentProcessId());
    release_ = CreateEventW(nullptr, TRUE, FALSE, releaseName);
    ASSERT_NE(release_, nullptr);
    SetEnvironmentVariableW(L"LAUNCHER_TEST_RECORD", record_.c_str());
    SetEnvironmentVariableW(L"LAUNCHER_TEST_RELEASE", releaseName);
    ASSERT_TRUE(debugOutput_.Ready());
  }
  void TearDown() override {
    RemoveTree(Scratch);
    wine_test::RemoveSettingKey(wine_test::View::SixtyFourBit);
    if (release_) CloseHandle(release_);
  }
  // Scratch, empty, with FakeInstaller.exe copied to each of installersAt.
  void PrepareScratch(const std::vector<std::wstring>& installersAt) {
    RemoveTree(Scratch);
    ResetEvent(release_);
    SHCreateDirectoryExW(nullptr, Scratch.c_str(), nullptr);
    for (const std::wstring& installer : installersAt) {
      const std::wstring dir = installer.substr(0, installer.find_last_of(L'\\'));
      if (dir.size() > 3) SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
      ASSERT_TRUE(CopyFileW(fakeInstaller_.c_str(), installer.c_str(), FALSE)) << Narrow(installer);
    }
  }
  // What the installer recorded, if one was started (waiting long only when one is expected); lets it end.
  std::wstring StartedInstaller(bool expected) {
    const std::wstring recorded = ReadRecord(record_, expected ? 20000 : 2000);
    SetEvent(release_);
    if (recorded.empty()) return recorded;
    HANDLE installer = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(Field(recorded, L"pid")));
    if (installer) {
      WaitForSingleObject(installer, 10000);
      CloseHandle(installer);
    }
    return recorded;
  }

  const std::wstring record_ = Scratch + L"\\record.txt";
  const std::wstring fakeInstaller_ = BinaryDirectory() + L"\\FakeInstaller.exe";
  HANDLE release_ = nullptr;
  wine_test::DebugOutputCapture debugOutput_;
};

TEST_F(EndToEnd, LauncherStartsTheInstallerOrNothing) {
  const std::wstring typical = Scratch + L"\\Typical";
  const std::wstring typicalInstaller = typical + L"\\SentrelInstaller.exe";
  const std::wstring accented = Scratch + L"\\Program Files\\Caf\u00E9";
  const std::wstring japanese = Scratch + L"\\\u8868\u3042\u30A2";
  const std::wstring cyrillic = Scratch + L"\\\u0416\u0141";
  const std::wstring doubled = Scratch + L"\\Doubled";
  const std::wstring driver = Scratch + L"\\Driver";
  const std::wstring driverInstaller = driver + L"\\SentrelInstaller.exe";
  const std::wstring rootInstaller = L"C:\\SentrelInstaller.exe";
  const std::string starting = "Launcher: starting ";
  const std::string notQualified = "Launcher: nothing started: not a fully qualified path: ";
  const std::string noFile = "Launcher: nothing started: no installer file (missing, or a directory): ";
  const std::string noSettingIn =
      "Launcher: nothing started: no InstallDirectory under HKLM\\Software\\Vantorq Technologies\\SnDriverInstaller";
  const std::string noSetting = noSettingIn + "\n";
  const std::string cannotSpell = "Launcher: nothing started: code page " + std::to_string(GetACP()) +
                                  " cannot spell exactly: ";
  const std::string invalidType = "Invalid data type for 'InstallDirectory'\n";
  const EndToEndCase cases[] = {
      {"typical", 0, Setting::Text, typical + L"\\", {typicalInstaller}, {}, {}, SW_SHOWNORMAL, 0, typical,
       starting + "C:\\launcher-e2e\\Typical\\SentrelInstaller.exe in C:\\launcher-e2e\\Typical\n"},
      {"spaces and a Latin-1 letter", 1252, Setting::Text, accented, {accented + L"\\SentrelInstaller.exe"}, {}, {},
       SW_SHOWNORMAL, 0, accented, starting},
      {"Japanese under 932", 932, Setting::Text, japanese, {japanese + L"\\SentrelInstaller.exe"}, {}, {},
       SW_SHOWNORMAL, 0, japanese, starting},
      {"Cyrillic and a Polish letter under UTF-8", 65001, Setting::Text, cyrillic,
       {cyrillic + L"\\SentrelInstaller.exe"}, {}, {}, SW_SHOWNORMAL, 0, cyrillic, starting},
      {"drive root", 0, Setting::Text, L"C:\\", {rootInstaller}, {}, {}, SW_SHOWNORMAL, 0, L"C:\\",
       starting + "C:\\SentrelInstaller.exe in C:\\\n"},
      {"doubled trailing backslash", 0, Setting::Text, doubled + L"\\\\", {doubled + L"\\SentrelInstaller.exe"}, {},
       {}, SW_SHOWNORMAL, 0, doubled, starting + "C:\\launcher-e2e\\Doubled\\\\SentrelInstaller.exe in "},
      {"arguments and a minimised launcher", 0, Setting::Text, typical, {typicalInstaller}, {},
       L"/S --quiet \"C:\\some path\"", SW_SHOWMINNOACTIVE, 0, typical, starting},
      {"hidden launcher", 0, Setting::Text, typical, {typicalInstaller}, {}, {}, SW_HIDE, 0, typical, starting},
      {"directory named like the installer", 0, Setting::Text, typical, {}, typicalInstaller, {}, SW_SHOWNORMAL, 0,
       {}, noFile + "C:\\launcher-e2e\\Typical\\SentrelInstaller.exe\n"},
      {"installer missing", 0, Setting::Text, typical, {}, typical, {}, SW_SHOWNORMAL, 0, {},
       noFile + "C:\\launcher-e2e\\Typical\\SentrelInstaller.exe\n"},
      // The launcher runs in C:\launcher-e2e, with an installer at the drive root and in .\Driver: none of
      // these settings may start either.
      {"setting absent", 0, Setting::Absent, {}, {rootInstaller}, {}, {}, SW_SHOWNORMAL, 0, {}, noSetting},
      {"setting empty", 0, Setting::Text, L"", {rootInstaller}, {}, {}, SW_SHOWNORMAL, 0, {}, noSetting},
      {"key missing", 0, Setting::KeyMissing, {}, {rootInstaller}, {}, {}, SW_SHOWNORMAL, 0, {}, noSetting},
      // Named on the debugger output, never started, though the installer is there.
      {"setting only in the 64-bit view", 0, Setting::Only64BitView, typical + L"\\", {typicalInstaller}, {}, {},
       SW_SHOWNORMAL, 0, {},
       noSettingIn + " (32-bit view); the 64-bit view holds one, as a 64-bit installer writes it: "
                     "C:\\launcher-e2e\\Typical\\\n"},
      {"relative", 0, Setting::Text, L"Driver", {driverInstaller}, {}, {}, SW_SHOWNORMAL, 0, {},
       notQualified + "Driver\\SentrelInstaller.exe\n"},
      {"relative to the current directory", 0, Setting::Text, L".\\Driver", {driverInstaller}, {}, {}, SW_SHOWNORMAL,
       0, {}, notQualified + ".\\Driver\\SentrelInstaller.exe\n"},
      {"rooted", 0, Setting::Text, L"\\launcher-e2e\\Driver", {driverInstaller}, {}, {}, SW_SHOWNORMAL, 0, {},
       notQualified + "\\launcher-e2e\\Driver\\SentrelInstaller.exe\n"},
      {"drive-relative", 0, Setting::Text, L"C:Driver", {driverInstaller}, {}, {}, SW_SHOWNORMAL, 0, {},
       notQualified + "C:Driver\\SentrelInstaller.exe\n"},
      // Wine's ShellExecute expands environment references in the file name: the file probed and the
      // file started would differ.
      {"environment reference", 0, Setting::Text, Scratch + L"\\%LAUNCHER_E2E_ELSEWHERE%",
       {Scratch + L"\\%LAUNCHER_E2E_ELSEWHERE%\\SentrelInstaller.exe", driverInstaller}, {}, {}, SW_SHOWNORMAL, 0, {},
       "Launcher: nothing started: the shell could expand %...% in: "
       "C:\\launcher-e2e\\%LAUNCHER_E2E_ELSEWHERE%\\SentrelInstaller.exe\n"},
      // Best fit would turn each setting into the path of the look-alike installer, which is there too.
      {"best fit: L with stroke", 1252, Setting::Text, Scratch + L"\\W\u0142odek",
       {Scratch + L"\\W\u0142odek\\SentrelInstaller.exe", Scratch + L"\\Wlodek\\SentrelInstaller.exe"}, {}, {},
       SW_SHOWNORMAL, 0, {}, cannotSpell},
      {"best fit: fullwidth reverse solidus", 1252, Setting::Text, Scratch + L"\uFF3CDriver", {driverInstaller}, {}, {},
       SW_SHOWNORMAL, 0, {}, cannotSpell},
      {"best fit: yen sign under 932", 932, Setting::Text, Scratch + L"\u00A5Driver", {driverInstaller}, {}, {},
       SW_SHOWNORMAL, 0, {}, cannotSpell},
      {"setting not text", 0, Setting::Number, {}, {rootInstaller}, {}, {}, SW_SHOWNORMAL, 1, {}, invalidType},
  };

  SetEnvironmentVariableW(L"LAUNCHER_E2E_ELSEWHERE", L"Driver");

  for (const EndToEndCase& c : cases) {
    if (c.codePage != 0 && c.codePage != GetACP()) continue;
    if (c.setting == Setting::Only64BitView && !wine_test::HasTwoRegistryViews()) continue;
    SCOPED_TRACE(c.name);
    wine_test::RemoveSettingKey(wine_test::View::SixtyFourBit);
    DeleteFileW(rootInstaller.c_str());
    PrepareScratch(c.installersAt);
    if (!c.directoryAt.empty()) SHCreateDirectoryExW(nullptr, c.directoryAt.c_str(), nullptr);

    switch (c.setting) {
      case Setting::Text: wine_test::WriteSetting(REG_SZ, RegistryBytes(std::u16string(c.directory.begin(), c.directory.end()))); break;
      case Setting::Absent: wine_test::RemoveSettingValue(); break;
      case Setting::KeyMissing: wine_test::RemoveSettingKey(); break;
      case Setting::Number: wine_test::WriteSetting(REG_DWORD, {1, 0, 0, 0}); break;
      case Setting::Only64BitView:
        wine_test::RemoveSettingKey();
        wine_test::WriteSetting(REG_SZ, RegistryBytes(std::u16string(c.directory.begin(), c.directory.end())),
                                wine_test::View::SixtyFourBit);
        break;
    }

    const LauncherRun run = RunLauncher(c.arguments, c.show, Scratch);
    EXPECT_TRUE(run.exitedInTime) << "the launcher did not exit: it may be waiting for the installer";
    EXPECT_EQ(run.exitCode, c.expectedExit);
    const std::string debugText = debugOutput_.TextOf(run.pid, true);
    if (c.expectedDebugOutput.back() == '\n') {
      EXPECT_EQ(debugText, c.expectedDebugOutput);
    } else {
      EXPECT_EQ(debugText.substr(0, c.expectedDebugOutput.size()), c.expectedDebugOutput) << debugText;
      EXPECT_EQ(std::count(debugText.begin(), debugText.end(), '\n'), 1) << "one line: " << debugText;
    }

    // The installer, if started, is still blocked on the release event: the launcher did not wait.
    const std::wstring recorded = StartedInstaller(!c.expectedDirectory.empty());
    if (c.expectedDirectory.empty()) {
      EXPECT_TRUE(recorded.empty()) << "something was started: " << Narrow(recorded);
      continue;
    }
    ASSERT_FALSE(recorded.empty()) << "the installer was not started";
    EXPECT_TRUE(Field(recorded, L"directory") == c.expectedDirectory)
        << "working directory " << Narrow(Field(recorded, L"directory")) << ", expected " << Narrow(c.expectedDirectory);
    EXPECT_EQ(Narrow(Field(recorded, L"arguments")), "");
    EXPECT_EQ(Narrow(Field(recorded, L"show")), "1");  // SW_SHOWNORMAL, whatever the launcher got
  }
  DeleteFileW(rootInstaller.c_str());
}

bool OnWine() {
  HKEY wine = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wine", 0, KEY_READ, &wine) != ERROR_SUCCESS) return false;
  RegCloseKey(wine);
  return true;
}

// The known Wine difference of the same-publisher build's secure-location rule: Wine keeps no owner or
// DACL of its own for a file (SetKernelObjectSecurity succeeds, yet the owner read back is the Unix
// user's S-1-5-21-0-0-0-1000 and the DACL comes from the mode bits), so everything, the drive root
// first, belongs to that account, and nothing is started: after the launcher's own signature is
// checked, before the installer's. On Windows the check kit's rows show the rule with real owners and
// DACLs.
bool IsWineDifference(const std::string& line, const std::string& installer) {
  const std::string start = "Launcher: nothing started: C:\\ is owned by ", end = ": " + installer + "\n";
  return line.rfind(start, 0) == 0 && line.find(" (S-1-5-21-0-0-0-1000), so someone other than an administrator") !=
         std::string::npos && line.size() > end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0;
}

// Launcher-same-publisher.exe, with copies signed at build time by throwaway certificates
// (sign_for_same_publisher.sh). Wine's WinVerifyTrust accepts a root nobody trusts, so the untrusted
// chain is the check kit's row on Windows, and the host tests' with the fake. The rows that reach the
// secure-location rule (all but an unsigned launcher and a file held elsewhere, which come first) meet
// the Wine difference under Wine, and there say so: their signatures are the host rows' and, on
// Windows, the check kit's.
TEST_F(EndToEnd, SamePublisherBuildStartsOnlyItsOwnPublishersInstaller) {
  const std::wstring installer = Scratch + L"\\SentrelInstaller.exe";
  const std::string refused = "Launcher: nothing started: ";
  const std::string tail = ": " + Narrow(installer) + "\n";
  const struct {
    const char* name;
    const wchar_t* launcher;
    const wchar_t* installer;
    bool openForWritingElsewhere;
    std::string expectedDebugOutput;  // the whole line
    bool wineDifference = true;       // under Wine, the secure-location rule refuses first
  } cases[] = {
      {"same publisher: started", L"Launcher-same-publisher-signed.exe", L"FakeInstaller-signed.exe", false,
       "Launcher: starting " + Narrow(installer) + " in " + Narrow(Scratch) + "\n"},
      {"the installer unsigned", L"Launcher-same-publisher-signed.exe", L"FakeInstaller.exe", false,
       refused + "the installer's signature does not hold (TRUST_E_NOSIGNATURE, 0x800B0100)" + tail},
      {"one byte of the installer changed after signing", L"Launcher-same-publisher-signed.exe",
       L"FakeInstaller-tampered.exe", false,
       refused + "the installer's signature does not hold (TRUST_E_BAD_DIGEST, 0x80096010)" + tail},
      {"another publisher's certificate", L"Launcher-same-publisher-signed.exe", L"FakeInstaller-other-publisher.exe",
       false,
       refused + "the installer is signed by another publisher (C=DE, O=Someone Else, CN=Vantorq Technologies Ltd; "
                 "this launcher by C=DE, O=Vantorq Technologies, CN=Vantorq Technologies)" + tail},
      {"the launcher itself unsigned", L"Launcher-same-publisher.exe", L"FakeInstaller-signed.exe", false,
       refused + "this launcher's own signature does not hold (TRUST_E_NOSIGNATURE, 0x800B0100), so it cannot tell "
                 "its publisher" + tail, false},
      {"the installer open for writing by another process", L"Launcher-same-publisher-signed.exe",
       L"FakeInstaller-signed.exe", true, refused + "the installer cannot be held against change (error 32)" + tail, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PrepareScratch({});
    ASSERT_TRUE(CopyFileW((BinaryDirectory() + L"\\" + c.installer).c_str(), installer.c_str(), FALSE));
    wine_test::WriteSetting(REG_SZ, RegistryBytes(u"C:\\launcher-e2e"));
    HANDLE writer = c.openForWritingElsewhere
                        ? CreateFileW(installer.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr)
                        : INVALID_HANDLE_VALUE;
    const LauncherRun run = RunLauncher(L"", SW_SHOWNORMAL, Scratch, c.launcher);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_TRUE(run.exitedInTime);
    EXPECT_EQ(run.exitCode, 0u);
    if (c.wineDifference && OnWine()) {
      const std::string line = debugOutput_.TextOf(run.pid, true);
      EXPECT_TRUE(IsWineDifference(line, Narrow(installer))) << "not the known Wine difference: " << line;
      EXPECT_TRUE(StartedInstaller(false).empty()) << "started under Wine, where no owner is trusted";
      continue;
    }
    EXPECT_EQ(debugOutput_.TextOf(run.pid, true), c.expectedDebugOutput);
    const bool expectStarted = c.expectedDebugOutput.rfind("Launcher: starting ", 0) == 0;
    const std::wstring recorded = StartedInstaller(expectStarted);
    EXPECT_EQ(recorded.empty(), !expectStarted) << Narrow(recorded);
  }
}

// Launcher-same-publisher.exe where the setting's path does not lead straight to the installer, which
// is there and signed by the launcher's own publisher: the shell would open the path anew, so nothing
// starts. Wine 8 makes no junction (neither `mklink /j` nor FSCTL_SET_REPARSE_POINT: ERROR_NOT_SUPPORTED),
// but it shows a Linux symbolic link to a folder as a reparse point, and resolves it in the held file's
// final path, as Windows does a junction: the build makes one beside bin/ (tests/wine/CMakeLists.txt).
// Windows makes a real junction here. The 8.3 alias is a name with no reparse point on the way, only a
// final path that differs.
TEST_F(EndToEnd, SamePublisherBuildStartsNothingThroughALinkOrAnAlias) {
  const std::wstring tree = BinaryDirectory().substr(0, BinaryDirectory().find_last_of(L'\\'));
  const std::wstring refused = L"Launcher: nothing started: ";
  PrepareScratch({});
  const std::wstring table = L"-" + std::to_wstring(GetACP());  // the build's link of this table's own
  std::wstring link = tree + L"\\link-stand-in" + table, target = tree + L"\\link-target" + table;
  DWORD error = 0;
  const std::wstring junction = Scratch + L"\\junction", junctionTarget = Scratch + L"\\junction-target";
  CreateDirectoryW(junction.c_str(), nullptr);
  CreateDirectoryW(junctionTarget.c_str(), nullptr);
  if (MakeJunction(junction, junctionTarget, &error)) link = junction, target = junctionTarget;
  else if (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES)
    FAIL() << "no junction (error " << error << ") and no stand-in link at " << Narrow(link);
  const std::wstring longFolder = Scratch + L"\\Long Folder Name";
  SHCreateDirectoryExW(nullptr, longFolder.c_str(), nullptr);
  wchar_t alias[MAX_PATH] = {};
  GetShortPathNameW(longFolder.c_str(), alias, MAX_PATH);
  ASSERT_NE(std::wstring(alias), longFolder) << "no 8.3 alias for " << Narrow(longFolder);
  ASSERT_NE(alias[0], L'\0') << "GetShortPathNameW failed: " << GetLastError();
  const struct {
    const char* name;
    std::wstring setting, folder;  // the setting, and where the installer really is
    std::wstring expectedLine;
  } cases[] = {
      {"a junction (or link) on the way", link, target,
       refused + L"a junction, mount point or link is on the way (" + link +
           L"), and the shell would follow it anew: " + link + L"\\SentrelInstaller.exe\n"},
      {"an 8.3 alias", alias, longFolder,
       refused + L"Windows names the held file " + longFolder + L"\\SentrelInstaller.exe (a short 8.3 name, a mount "
           L"point, a link or a doubled separator on the way), and the shell would open the path anew: " + alias +
           L"\\SentrelInstaller.exe\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring installer = c.folder + L"\\SentrelInstaller.exe";
    ASSERT_TRUE(CopyFileW((BinaryDirectory() + L"\\FakeInstaller-signed.exe").c_str(), installer.c_str(), FALSE))
        << Narrow(installer);
    wine_test::WriteSetting(REG_SZ, RegistryBytes(std::u16string(c.setting.begin(), c.setting.end())));
    const LauncherRun run = RunLauncher(L"", SW_SHOWNORMAL, Scratch, L"Launcher-same-publisher-signed.exe");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(debugOutput_.TextOf(run.pid, true), Narrow(c.expectedLine));
    EXPECT_TRUE(StartedInstaller(false).empty()) << "started through " << Narrow(c.setting);
    DeleteFileW(installer.c_str());
  }
  RemoveDirectoryW(junction.c_str());
}

// The kit's folders and files as an elevated installer (or SYSTEM) leaves them: owned by
// BUILTIN\Administrators. A process of an administrator whose token is not UAC-split (the built-in
// Administrator, UAC off: GitHub's hosted runners) owns what it creates itself, and the rule rightly
// refuses that owner; it would also turn an inherited CREATOR OWNER entry (Program Files has one) into
// full control for itself. So each is created with a descriptor that names only the owner, O:BA: the
// DACL is still inherited, and CREATOR OWNER becomes Administrators, as for an elevated installer. An
// elevated token's Administrators group is SE_GROUP_OWNER, so no privilege is needed. Empty, or why the
// owner is not Administrators: the owner is read back, since Wine accepts an owner and keeps none.
std::string OwnedByAdministrators(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID owner = nullptr;
  const DWORD status = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                             nullptr, nullptr, &descriptor);
  std::string problem;
  wchar_t* text = nullptr;
  if (status != ERROR_SUCCESS) problem = "its owner cannot be read (error " + std::to_string(status) + ")";
  else if (!IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
    problem = std::string("its owner is ") + (ConvertSidToStringSidW(owner, &text) ? Narrow(text) : "unreadable");
  LocalFree(text);
  LocalFree(descriptor);
  if (problem.empty()) return {};
  return "the test could not make BUILTIN\\Administrators the owner of " + Narrow(path) + ": " + problem +
         " (the test's own setup, not the launcher: run the kit elevated)";
}

class AdministratorsAsOwner {
 public:
  AdministratorsAsOwner() {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BA", SDDL_REVISION_1, &descriptor_, nullptr);
    attributes_.lpSecurityDescriptor = descriptor_;
  }
  ~AdministratorsAsOwner() { LocalFree(descriptor_); }
  // Empty, or what went wrong.
  std::string MakeFolder(const std::wstring& folder) {
    if (!descriptor_) return "O:BA could not be made into a security descriptor (error " + std::to_string(GetLastError()) + ")";
    if (!CreateDirectoryW(folder.c_str(), &attributes_) && GetLastError() != ERROR_ALREADY_EXISTS)
      return "the test could not create " + Narrow(folder) + " owned by BUILTIN\\Administrators (error " +
             std::to_string(GetLastError()) + "; run the kit elevated)";
    return OwnedByAdministrators(folder);
  }
  // A new file: CreateFileW ignores a descriptor where the file is already there, and CopyFileW takes none.
  std::string CopyInto(const std::wstring& from, const std::wstring& to) {
    if (!descriptor_) return "O:BA could not be made into a security descriptor (error " + std::to_string(GetLastError()) + ")";
    HANDLE source = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE) return "the test could not read " + Narrow(from) + " (error " + std::to_string(GetLastError()) + ")";
    std::vector<char> bytes(GetFileSize(source, nullptr));
    DWORD read = 0;
    const bool wasRead = ReadFile(source, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size();
    CloseHandle(source);
    if (!wasRead) return "the test could not read " + Narrow(from);
    DeleteFileW(to.c_str());
    HANDLE target = CreateFileW(to.c_str(), GENERIC_WRITE, 0, &attributes_, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE)
      return "the test could not create " + Narrow(to) + " owned by BUILTIN\\Administrators (error " +
             std::to_string(GetLastError()) + "; run the kit elevated)";
    DWORD written = 0;
    const bool wasWritten = WriteFile(target, bytes.data(), read, &written, nullptr) && written == read;
    CloseHandle(target);
    if (!wasWritten) return "the test could not write " + Narrow(to);
    return OwnedByAdministrators(to);
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

// On Windows only (the check kit runs these): the same-publisher build against chains that Windows
// itself judges. Two certificates with the vendor's subject, made here by PowerShell's
// New-SelfSignedCertificate, sign copies of the launcher and the stand-in installer; their private keys
// are deleted at once, so nothing can be signed with them afterwards. One is made a trusted root of
// the machine for the run (LocalMachine\Root: administrators only, no prompt) and removed afterwards;
// the other never is. Wine has no New-SelfSignedCertificate, and its WinVerifyTrust trusts any root.
class SamePublisherOnWindows : public EndToEnd {
 protected:
  void SetUp() override {
    HKEY wine = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wine", 0, KEY_READ, &wine) == ERROR_SUCCESS) {
      RegCloseKey(wine);
      GTEST_SKIP() << "Windows only: Wine has no New-SelfSignedCertificate, and its WinVerifyTrust trusts any root";
    }
    EndToEnd::SetUp();
    PrepareScratch({});
    // Scratch itself is the folder under the drive root whose inherited "Modify" a row names.
    RemoveDirectoryW(Scratch.c_str());
    ASSERT_EQ(owner_.MakeFolder(Scratch), "");
    const std::wstring signing = Scratch + L"\\signing";
    SHCreateDirectoryExW(nullptr, signing.c_str(), nullptr);
    // Signed here, then copied where the rows run them: signing may write the file anew.
    for (const wchar_t* name : {L"trusted", L"untrusted"})
      ASSERT_TRUE(CopyFileW(fakeInstaller_.c_str(), (signing + L"\\" + name + L"-SentrelInstaller.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((BinaryDirectory() + L"\\Launcher-same-publisher.exe").c_str(), launcher_.c_str(), FALSE));
    const std::wstring script =
        L"$ErrorActionPreference = 'Stop'\n"
        L"function New-Signer { New-SelfSignedCertificate -Type CodeSigningCert -CertStoreLocation Cert:\\CurrentUser\\My "
        L"-Subject 'CN=Vantorq Technologies, O=Vantorq Technologies, C=DE' -KeyAlgorithm RSA -KeyLength 2048 "
        L"-HashAlgorithm SHA256 -NotAfter (Get-Date).AddDays(1) }\n"
        L"$trusted = New-Signer; $untrusted = New-Signer\n"
        L"try {\n"
        L"  foreach ($pair in @(@($trusted, '" + launcher_ + L"'), @($trusted, '" + signing + L"\\trusted-SentrelInstaller.exe'),"
        L" @($untrusted, '" + signing + L"\\untrusted-SentrelInstaller.exe'))) {\n"
        L"    $signed = Set-AuthenticodeSignature -FilePath $pair[1] -Certificate $pair[0] -HashAlgorithm SHA256\n"
        L"    if (-not $signed.SignerCertificate) { throw \"not signed: $($pair[1]): $($signed.StatusMessage)\" } }\n"
        L"  Export-Certificate -Cert $trusted -FilePath '" + certificate_ + L"' -Type CERT | Out-Null\n"
        L"} finally { foreach ($c in @($trusted, $untrusted)) { Remove-Item ('Cert:\\CurrentUser\\My\\' + $c.Thumbprint) -DeleteKey } }\n";
    ASSERT_EQ(RunPowerShell(script), 0u) << "PowerShell could not make the certificates and sign";
    // The trusted one becomes a root of this machine for the run.
    HANDLE file = CreateFileW(certificate_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    BYTE der[8192];
    DWORD size = 0;
    ReadFile(file, der, sizeof der, &size, nullptr);
    CloseHandle(file);
    root_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    ASSERT_NE(root_, nullptr) << "LocalMachine\\Root: " << GetLastError() << " (run as administrator)";
    ASSERT_TRUE(CertAddEncodedCertificateToStore(root_, X509_ASN_ENCODING, der, size, CERT_STORE_ADD_NEW, &added_))
        << "the test root could not be added: " << GetLastError();
    // The signed installers in a per-machine install folder, made as an elevated installer makes it: the
    // secure-location rule passes it with Windows' default ACLs. The trusted one also under Scratch.
    ASSERT_EQ(owner_.MakeFolder(Scratch + L"\\trusted"), "");
    ASSERT_EQ(owner_.CopyInto(signing + L"\\trusted-SentrelInstaller.exe", Scratch + L"\\trusted\\SentrelInstaller.exe"), "");
    ASSERT_EQ(owner_.MakeFolder(programFiles_), "");
    for (const wchar_t* name : {L"trusted", L"untrusted"}) {
      const std::wstring folder = programFiles_ + L"\\" + name;
      ASSERT_EQ(owner_.MakeFolder(folder), "");
      ASSERT_EQ(owner_.CopyInto(signing + L"\\" + name + L"-SentrelInstaller.exe", folder + L"\\SentrelInstaller.exe"), "");
    }
  }
  void TearDown() override {
    for (const wchar_t* name : {L"trusted", L"untrusted"}) {
      DeleteFileW((programFiles_ + L"\\" + name + L"\\SentrelInstaller.exe").c_str());
      RemoveDirectoryW((programFiles_ + L"\\" + name).c_str());
    }
    RemoveDirectoryW(programFiles_.c_str());
    if (added_) CertDeleteCertificateFromStore(added_);  // frees the context too
    if (root_) CertCloseStore(root_, 0);
    EndToEnd::TearDown();
  }
  // Runs the launcher against the installer in directory; returns whether it was started, and its
  // debugger line.
  bool Launch(const std::wstring& directory, std::string* line) {
    wine_test::WriteSetting(REG_SZ, RegistryBytes(std::u16string(directory.begin(), directory.end())));
    const LauncherRun run = RunLauncher(L"", SW_SHOWNORMAL, Scratch, launcher_);
    EXPECT_EQ(run.exitCode, 0u);
    *line = debugOutput_.TextOf(run.pid, true);
    return !StartedInstaller(line->rfind("Launcher: starting ", 0) == 0).empty();
  }
  static DWORD RunPowerShell(const std::wstring& script) {
    // -EncodedCommand: the script as base64 of UTF-16LE, so that no quoting of cmd or PowerShell applies.
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    for (wchar_t unit : script) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    std::wstring encoded;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
      const std::uint32_t n = (static_cast<unsigned char>(bytes[i]) << 16) |
                              (i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0) |
                              (i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0);
      for (std::size_t k = 0; k < 4; ++k) encoded += k <= (bytes.size() - i) ? digits[(n >> (18 - 6 * k)) & 63] : '=';
    }
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(system) + L"\\WindowsPowerShell\\v1.0\\powershell.exe\" -NoProfile "
                           L"-NonInteractive -ExecutionPolicy Bypass -EncodedCommand " + encoded;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process))
      return GetLastError();
    WaitForSingleObject(process.hProcess, 300000);
    DWORD status = 259;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
  }

  // For the check kit's report: the owner and DACL of each folder on the way, as (Get-Acl).Sddl gives them.
  static void PrintSddl(const std::wstring& directory) {
    for (std::size_t at = 2; at != std::wstring::npos; at = directory.find(L'\\', at + 1)) {
      const std::wstring folder = directory.substr(0, at == 2 ? 3 : at);
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      wchar_t* sddl = nullptr;
      if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
          ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr))
        std::printf("SDDL of %s: %s\n", Narrow(folder).c_str(), Narrow(sddl).c_str());
      else
        std::printf("SDDL of %s: cannot be read (error %lu)\n", Narrow(folder).c_str(), GetLastError());
      LocalFree(sddl);
      LocalFree(descriptor);
    }
    std::fflush(stdout);
  }
  static std::wstring ProgramFiles() {
    wchar_t path[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles", path, MAX_PATH);  // Program Files (x86) in a 32-bit process on x64
    return path;
  }

  const std::wstring launcher_ = Scratch + L"\\signing\\Launcher-same-publisher.exe";
  const std::wstring programFiles_ = ProgramFiles() + L"\\launcher-e2e";
  const std::wstring certificate_ = Scratch + L"\\signing\\trusted.cer";
  HCERTSTORE root_ = nullptr;
  PCCERT_CONTEXT added_ = nullptr;
  AdministratorsAsOwner owner_;
};

TEST_F(SamePublisherOnWindows, UntrustedChainStartsNothing) {
  std::string line;
  EXPECT_FALSE(Launch(programFiles_ + L"\\untrusted", &line)) << line;
  EXPECT_EQ(line, "Launcher: nothing started: the installer's signature does not hold (CERT_E_UNTRUSTEDROOT, "
                  "0x800B0109): " + Narrow(programFiles_) + "\\untrusted\\SentrelInstaller.exe\n");
}

// Installed per machine under Program Files, as an elevated installer installs: the secure-location
// rule passes it with Windows' default ACLs.
TEST_F(SamePublisherOnWindows, TrustedChainUnderProgramFilesStarts) {
  const std::wstring folder = programFiles_ + L"\\trusted";
  PrintSddl(folder + L"\\SentrelInstaller.exe");
  std::string line;
  EXPECT_TRUE(Launch(folder, &line)) << line;
  EXPECT_EQ(line, "Launcher: starting " + Narrow(folder) + "\\SentrelInstaller.exe in " + Narrow(folder) + "\n");
}

// The same signed installer in a folder made under the drive root, which inherits "Authenticated Users:
// Modify" (on Windows Server, Users may add files and folders there): anyone could have put it there.
TEST_F(SamePublisherOnWindows, TrustedChainUnderTheDriveRootStartsNothing) {
  PrintSddl(Scratch + L"\\trusted\\SentrelInstaller.exe");
  std::string line;
  EXPECT_FALSE(Launch(Scratch + L"\\trusted", &line)) << line;
  EXPECT_EQ(line.rfind("Launcher: nothing started: C:\\launcher-e2e", 0), 0u) << line;
  EXPECT_TRUE(line.find("NT AUTHORITY\\Authenticated Users (S-1-5-11: ") != std::string::npos ||
              line.find("BUILTIN\\Users (S-1-5-32-545: ") != std::string::npos)
      << "names neither Authenticated Users nor Users: " << line;
  EXPECT_NE(line.find("so someone other than an administrator could have put the installer there"), std::string::npos) << line;
}

TEST_F(SamePublisherOnWindows, JunctionOnThePathStartsNothing) {
  const std::wstring junction = Scratch + L"\\junction";
  ASSERT_TRUE(CreateDirectoryW(junction.c_str(), nullptr)) << GetLastError();
  DWORD error = 0;
  ASSERT_TRUE(MakeJunction(junction, Scratch + L"\\trusted", &error)) << "no junction: " << error;
  std::string line;
  EXPECT_FALSE(Launch(junction, &line)) << line;
  EXPECT_EQ(line, "Launcher: nothing started: a junction, mount point or link is on the way (C:\\launcher-e2e\\junction), "
                  "and the shell would follow it anew: C:\\launcher-e2e\\junction\\SentrelInstaller.exe\n");
  RemoveDirectoryW(junction.c_str());
}

// The benchmark times Launcher.exe against its plain-C floor (floor.exe, built beside it) on two paths;
// its numbers compare like with like only while both programs take the path being timed. Both must read
// the setting from the same view, probe the same file, and say so on the debugger output.
TEST_F(EndToEnd, TheBenchmarkFloorTakesEachPathTheLauncherTakes) {
  const std::wstring installer = Scratch + L"\\SentrelInstaller.exe";
  const struct {
    const char* path;
    bool installerPresent;
    std::string expectedDebugOutput;  // the line's beginning: the launcher adds " in <dir>" when starting
  } paths[] = {
      {"setting set, installer missing", false,
       "Launcher: nothing started: no installer file (missing, or a directory): " + Narrow(installer) + "\n"},
      {"installer launched", true, "Launcher: starting " + Narrow(installer)},
  };
  for (const auto& path : paths) {
    for (const wchar_t* program : {L"Launcher.exe", L"floor.exe"}) {
      SCOPED_TRACE(Narrow(program) + ", " + path.path);
      PrepareScratch(path.installerPresent ? std::vector<std::wstring>{installer} : std::vector<std::wstring>{});
      wine_test::WriteSetting(REG_SZ, RegistryBytes(u"C:\\launcher-e2e\\"));
      const LauncherRun run = RunLauncher(L"", SW_SHOWNORMAL, Scratch, program);
      EXPECT_TRUE(run.exitedInTime);
      EXPECT_EQ(run.exitCode, 0u);
      const std::string debugText = debugOutput_.TextOf(run.pid, true);
      EXPECT_EQ(debugText.substr(0, path.expectedDebugOutput.size()), path.expectedDebugOutput) << debugText;
      EXPECT_EQ(StartedInstaller(path.installerPresent).empty(), !path.installerPresent);
    }
  }
}

}  // namespace
