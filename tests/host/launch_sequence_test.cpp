#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "launcher/registry_exception.h"
#include "launcher/uncaught_error.h"
#include "tests/host/fake_platform.h"
#include "tests/shared/install_directory_outcome.h"
#include "tests/shared/registry_value_cases.h"

namespace {

constexpr platform::Dword NormalFile = 0x20;
const std::u16string NothingStarted = u"Launcher: nothing started: ";

void SetSetting(const char16_t* setting, bool in64BitView = false) {
  auto& key = FakeWindows().keys[FakeKeyName(platform::HkeyLocalMachine,
                                             u"Software\\Vantorq Technologies\\SnDriverInstaller", in64BitView)];
  if (setting) key.values[u"InstallDirectory"] = {platform::RegSz, RegistryBytes(setting)};
}

struct LaunchCase {
  const char* name;
  platform::Dword codePage;
  const char16_t* setting;       // nullptr: the value is absent
  const char16_t* presentAt;     // where a file of that name exists (nullptr: nowhere)
  platform::Dword attributes;
  const char* expectedFile;      // narrow, as the shell gets it; nullptr: nothing may be started
  const char* expectedDirectory;
  std::u16string expectedReport;  // the one line on the debugger output
  const char16_t* settingIn64BitView = nullptr;  // what a 64-bit installer wrote; nullptr: nothing
};

TEST(LaunchSequence, WhatIsStartedAndWhere) {
  const std::u16string notQualified = NothingStarted + u"not a fully qualified path: ";
  const std::u16string noFile = NothingStarted + u"no installer file (missing, or a directory): ";
  const std::u16string noSetting =
      NothingStarted + u"no InstallDirectory under HKLM\\Software\\Vantorq Technologies\\SnDriverInstaller\n";
  const std::u16string onlyIn64BitView =
      NothingStarted + u"no InstallDirectory under HKLM\\Software\\Vantorq Technologies\\SnDriverInstaller "
                       u"(32-bit view); the 64-bit view holds one, as a 64-bit installer writes it: ";
  const LaunchCase cases[] = {
      {"typical", 1252, u"C:\\Tools\\", u"C:\\Tools\\SentrelInstaller.exe", NormalFile,
       "C:\\Tools\\SentrelInstaller.exe", "C:\\Tools",
       u"Launcher: starting C:\\Tools\\SentrelInstaller.exe in C:\\Tools\n"},
      {"drive root keeps its backslash", 1252, u"C:\\", u"C:\\SentrelInstaller.exe", NormalFile,
       "C:\\SentrelInstaller.exe", "C:\\", u"Launcher: starting C:\\SentrelInstaller.exe in C:\\\n"},
      {"doubled backslash: one dropped, both kept in the directory", 1252, u"D:\\App\\\\",
       u"D:\\App\\\\SentrelInstaller.exe", NormalFile, "D:\\App\\\\SentrelInstaller.exe", "D:\\App\\\\",
       u"Launcher: starting D:\\App\\\\SentrelInstaller.exe in D:\\App\\\\\n"},
      {"UNC share", 1252, u"\\\\server\\share\\X", u"\\\\server\\share\\X\\SentrelInstaller.exe", NormalFile,
       "\\\\server\\share\\X\\SentrelInstaller.exe", "\\\\server\\share\\X",
       u"Launcher: starting \\\\server\\share\\X\\SentrelInstaller.exe in \\\\server\\share\\X\n"},
      {"device path", 1252, u"\\\\?\\C:\\Tools", u"\\\\?\\C:\\Tools\\SentrelInstaller.exe", NormalFile,
       "\\\\?\\C:\\Tools\\SentrelInstaller.exe", "\\\\?\\C:\\Tools",
       u"Launcher: starting \\\\?\\C:\\Tools\\SentrelInstaller.exe in \\\\?\\C:\\Tools\n"},
      {"forward slash after the drive", 1252, u"C:/Tools", u"C:/Tools\\SentrelInstaller.exe", NormalFile,
       "C:/Tools\\SentrelInstaller.exe", "C:/Tools", u"Launcher: starting C:/Tools\\SentrelInstaller.exe in C:/Tools\n"},
      {"Latin-1 letters under 1252", 1252, u"C:\\Caf\u00E9", u"C:\\Caf\u00E9\\SentrelInstaller.exe", NormalFile,
       "C:\\Caf\xE9\\SentrelInstaller.exe", "C:\\Caf\xE9",
       u"Launcher: starting C:\\Caf\u00E9\\SentrelInstaller.exe in C:\\Caf\u00E9\n"},
      {"installer missing", 1252, u"C:\\Tools", nullptr, 0, nullptr, nullptr,
       noFile + u"C:\\Tools\\SentrelInstaller.exe\n"},
      {"a directory named like the installer", 1252, u"C:\\Tools", u"C:\\Tools\\SentrelInstaller.exe",
       platform::FileAttributeDirectory, nullptr, nullptr, noFile + u"C:\\Tools\\SentrelInstaller.exe\n"},
      // Nothing below may even be probed: each would resolve against what whoever starts the launcher
      // chose, or would not be the path the setting names.
      {"setting absent", 1252, nullptr, u"\\SentrelInstaller.exe", NormalFile, nullptr, nullptr, noSetting},
      {"setting empty", 1252, u"", u"\\SentrelInstaller.exe", NormalFile, nullptr, nullptr, noSetting},
      {"setting a lone backslash", 1252, u"\\", u"\\SentrelInstaller.exe", NormalFile, nullptr, nullptr, noSetting},
      // The 64-bit view is named for the engineer, never started, even with the installer there.
      {"setting only in the 64-bit view", 1252, nullptr, u"C:\\X\\SentrelInstaller.exe", NormalFile, nullptr, nullptr,
       onlyIn64BitView + u"C:\\X\\\n", u"C:\\X\\"},
      {"a lone backslash in both views (32-bit Windows has one)", 1252, u"\\", u"\\SentrelInstaller.exe", NormalFile,
       nullptr, nullptr, noSetting, u"\\"},
      {"setting in both views: the 32-bit one only is read", 1252, u"C:\\Tools", u"C:\\Tools\\SentrelInstaller.exe",
       NormalFile, "C:\\Tools\\SentrelInstaller.exe", "C:\\Tools",
       u"Launcher: starting C:\\Tools\\SentrelInstaller.exe in C:\\Tools\n", u"C:\\X"},
      {"relative", 1252, u"Driver", u"Driver\\SentrelInstaller.exe", NormalFile, nullptr, nullptr,
       notQualified + u"Driver\\SentrelInstaller.exe\n"},
      {"relative to the current directory", 1252, u".\\Driver", u".\\Driver\\SentrelInstaller.exe", NormalFile,
       nullptr, nullptr, notQualified + u".\\Driver\\SentrelInstaller.exe\n"},
      {"rooted on the current drive", 1252, u"\\Apps\\Driver", u"\\Apps\\Driver\\SentrelInstaller.exe", NormalFile,
       nullptr, nullptr, notQualified + u"\\Apps\\Driver\\SentrelInstaller.exe\n"},
      {"drive-relative", 1252, u"C:Driver", u"C:Driver\\SentrelInstaller.exe", NormalFile, nullptr, nullptr,
       notQualified + u"C:Driver\\SentrelInstaller.exe\n"},
      {"UNC without a share", 1252, u"\\\\", u"\\\\SentrelInstaller.exe", NormalFile, nullptr, nullptr,
       notQualified + u"\\\\SentrelInstaller.exe\n"},
      {"REG_SZ holding an environment reference", 1252, u"C:\\%TEMP%", u"C:\\%TEMP%\\SentrelInstaller.exe",
       NormalFile, nullptr, nullptr,
       NothingStarted + u"the shell could expand %...% in: C:\\%TEMP%\\SentrelInstaller.exe\n"},
      {"best-fit look-alike under 1252", 1252, u"C:\\Apps\\W\u0141odek", u"C:\\Apps\\W\u0141odek\\SentrelInstaller.exe",
       NormalFile, nullptr, nullptr,
       NothingStarted + u"code page 1252 cannot spell exactly: C:\\Apps\\W\u0141odek\\SentrelInstaller.exe\n"},
      {"fullwidth reverse solidus under 1252", 1252, u"C:\\Apps\uFF3CDriver",
       u"C:\\Apps\uFF3CDriver\\SentrelInstaller.exe", NormalFile, nullptr, nullptr,
       NothingStarted + u"code page 1252 cannot spell exactly: C:\\Apps\uFF3CDriver\\SentrelInstaller.exe\n"},
      {"no character at all under 1252", 1252, u"C:\\\u0416", u"C:\\\u0416\\SentrelInstaller.exe", NormalFile,
       nullptr, nullptr, NothingStarted + u"code page 1252 cannot spell exactly: C:\\\u0416\\SentrelInstaller.exe\n"},
      // UTF-8 as the ANSI code page ("Use Unicode UTF-8" on): every valid path starts as it is.
      {"UTF-8: Cyrillic", 65001, u"C:\\\u0416", u"C:\\\u0416\\SentrelInstaller.exe", NormalFile,
       "C:\\\xD0\x96\\SentrelInstaller.exe", "C:\\\xD0\x96",
       u"Launcher: starting C:\\\u0416\\SentrelInstaller.exe in C:\\\u0416\n"},
      {"UTF-8: the 1252 look-alike starts as itself", 65001, u"C:\\W\u0141", u"C:\\W\u0141\\SentrelInstaller.exe",
       NormalFile, "C:\\W\xC5\x81\\SentrelInstaller.exe", "C:\\W\xC5\x81",
       u"Launcher: starting C:\\W\u0141\\SentrelInstaller.exe in C:\\W\u0141\n"},
      {"UTF-8: outside the BMP", 65001, u"C:\\\U0001F600", u"C:\\\U0001F600\\SentrelInstaller.exe", NormalFile,
       "C:\\\xF0\x9F\x98\x80\\SentrelInstaller.exe", "C:\\\xF0\x9F\x98\x80",
       u"Launcher: starting C:\\\U0001F600\\SentrelInstaller.exe in C:\\\U0001F600\n"},
      {"UTF-8: an unpaired surrogate", 65001, u"C:\\\xD800X", u"C:\\\xD800X\\SentrelInstaller.exe", NormalFile,
       nullptr, nullptr, NothingStarted + u"code page 65001 cannot spell exactly: C:\\\xD800X\\SentrelInstaller.exe\n"},
      // GB18030 takes WC_ERR_INVALID_CHARS only, like UTF-8, but may be asked about the default character.
      {"GB18030", 54936, u"C:\\Tools", u"C:\\Tools\\SentrelInstaller.exe", NormalFile,
       "C:\\Tools\\SentrelInstaller.exe", "C:\\Tools", u"Launcher: starting C:\\Tools\\SentrelInstaller.exe in C:\\Tools\n"},
  };
  for (const LaunchCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeWindows();
    auto& fake = FakeWindows();
    fake.ansiCodePage = c.codePage;
    SetSetting(c.setting);
    SetSetting(c.settingIn64BitView, true);
    if (c.presentAt) fake.attributes[c.presentAt] = c.attributes;

    EXPECT_EQ(RunLaunchSequence(), 0);
    EXPECT_EQ(Printable(fake.debugOutput), Printable(c.expectedReport));
    EXPECT_EQ(fake.rejectedConversions, 0) << "a conversion Windows would reject";

    if (!c.expectedFile) {
      EXPECT_TRUE(fake.shellCalls.empty()) << "started " << fake.shellCalls[0].file;
      if (c.expectedReport.rfind(noFile, 0) != 0) EXPECT_EQ(fake.probes, 0);
      continue;
    }
    ASSERT_EQ(fake.shellCalls.size(), 1u);
    const FakeShellCall& call = fake.shellCalls[0];
    EXPECT_EQ(call.operation, "");  // empty text, not a null pointer: the default verb
    EXPECT_EQ(call.file, c.expectedFile);
    EXPECT_EQ(call.parameters, "");
    EXPECT_EQ(call.directory, c.expectedDirectory);
    EXPECT_EQ(call.showCommand, platform::SwShowNormal);
  }
}

// Wine's built-in shell32 loads its delay-loaded DLLs without the process's DLL directories, and Wine has
// no registry virtualization (it only stubs the token call), so only here can the order be shown: the
// DLL search is restricted, then virtualization turned off, before the registry is read; a refusal of
// either goes on.
TEST(LaunchSequence, DllSearchAndVirtualizationFirst) {
  const std::string virtualizationOff = "SetTokenVirtualizationEnabled 0";
  const struct {
    const char* name;
    bool hasSetDefaultDllDirectories;
    bool virtualizationSettable;
    std::vector<std::string> expectedFirstCalls;
  } cases[] = {
      {"system directory only", true, true, {"SetDefaultDllDirectories 00000800", virtualizationOff, "RegOpenKeyExW"}},
      {"Windows 7 without KB2533623: the current directory at least is dropped", false, true,
       {"SetDefaultDllDirectories 00000800", "SetDllDirectoryW \"\"", virtualizationOff, "RegOpenKeyExW"}},
      {"UAC off: virtualization cannot be changed, and the run goes on", true, false,
       {"SetDefaultDllDirectories 00000800", virtualizationOff, "RegOpenKeyExW"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeWindows();
    auto& fake = FakeWindows();
    fake.hasSetDefaultDllDirectories = c.hasSetDefaultDllDirectories;
    fake.virtualizationSettable = c.virtualizationSettable;
    SetSetting(u"C:\\Tools");
    fake.attributes[u"C:\\Tools\\SentrelInstaller.exe"] = NormalFile;

    EXPECT_EQ(RunLaunchSequence(), 0);
    ASSERT_GE(fake.calls.size(), c.expectedFirstCalls.size());
    for (std::size_t i = 0; i < c.expectedFirstCalls.size(); ++i)
      EXPECT_EQ(fake.calls[i].substr(0, c.expectedFirstCalls[i].size()), c.expectedFirstCalls[i]) << "call " << i;
    EXPECT_EQ(fake.calls.back(), "ShellExecuteA");
  }
}

TEST(LaunchSequence, UnreadableSettingStopsBeforeTheProbe) {
  ResetFakeWindows();
  auto& fake = FakeWindows();
  fake.keys[FakeKeyName(platform::HkeyLocalMachine, u"Software\\Vantorq Technologies\\SnDriverInstaller")]
      .values[u"InstallDirectory"] = {platform::RegDword, {1, 0, 0, 0}};
  EXPECT_THROW(RunLaunchSequence(), ERegistryException);
  EXPECT_EQ(fake.probes, 0);
  EXPECT_TRUE(fake.shellCalls.empty());
  EXPECT_EQ(fake.openKeys, 0);
  EXPECT_TRUE(fake.debugOutput.empty()) << "the error is reported once, by the top-level handler";
}

TEST(UncaughtError, ReportsTheMessageAndExitsWithOne) {
  const struct {
    const char* name;
    void (*raise)();
    std::u16string expected;
  } cases[] = {
      {"registry error",
       [] { throw ERegistryException(ERegistryException::InvalidDataTypeFormat, u"InstallDirectory"); },
       u"Invalid data type for 'InstallDirectory'\n"},
      {"standard exception", [] { throw std::runtime_error("out of memory"); }, u"out of memory\n"},
      {"bytes above 0x7F", [] { throw std::runtime_error("caf\xE9"); }, u"caf\u00E9\n"},
      {"anything else", [] { throw 42; }, u"Launcher ended on an unknown error\n"},
  };
  for (const auto& c : cases) {
    ResetFakeWindows();
    unsigned exitCode = 0;
    try {
      c.raise();
    } catch (...) {
      try {
        EndProcessOnUncaughtError();
      } catch (const FakeProcessExit& exit) {
        exitCode = exit.exitCode;
      }
    }
    EXPECT_EQ(exitCode, 1u) << c.name;
    EXPECT_EQ(FakeWindows().debugOutput, c.expected) << c.name;
  }
}

}  // namespace
