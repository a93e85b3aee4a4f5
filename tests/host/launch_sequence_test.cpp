#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "launcher/registry_exception.h"
#include "launcher/uncaught_error.h"
#include "tests/host/fake_platform.h"
#include "tests/shared/registry_value_cases.h"

namespace {

constexpr platform::Dword NormalFile = 0x20;

struct LaunchCase {
  const char* name;
  const char16_t* setting;     // nullptr: the value is absent
  const char16_t* presentAt;   // where a file of that name exists (nullptr: nowhere)
  platform::Dword attributes;
  const char* expectedFile;    // nullptr: nothing may be started
  const char* expectedDirectory;
};

TEST(LaunchSequence, WhatIsStartedAndWhere) {
  const LaunchCase cases[] = {
      {"typical", u"C:\\Tools\\", u"C:\\Tools\\SentrelInstaller.exe", NormalFile, "C:\\Tools\\SentrelInstaller.exe",
       "C:\\Tools"},
      {"drive root keeps its backslash", u"C:\\", u"C:\\SentrelInstaller.exe", NormalFile, "C:\\SentrelInstaller.exe",
       "C:\\"},
      {"doubled backslash: one dropped, both kept in the directory", u"D:\\App\\\\",
       u"D:\\App\\\\SentrelInstaller.exe", NormalFile, "D:\\App\\\\SentrelInstaller.exe", "D:\\App\\\\"},
      {"UNC share", u"\\\\server\\share\\X", u"\\\\server\\share\\X\\SentrelInstaller.exe", NormalFile,
       "\\\\server\\share\\X\\SentrelInstaller.exe", "\\\\server\\share\\X"},
      {"installer missing", u"C:\\Tools", nullptr, 0, nullptr, nullptr},
      {"a directory named like the installer", u"C:\\Tools", u"C:\\Tools\\SentrelInstaller.exe",
       platform::FileAttributeDirectory, nullptr, nullptr},
      // Without a directory the path would resolve against the current drive's root: never probed.
      {"setting absent", nullptr, u"\\SentrelInstaller.exe", NormalFile, nullptr, nullptr},
      {"setting empty", u"", u"\\SentrelInstaller.exe", NormalFile, nullptr, nullptr},
      {"setting a lone backslash", u"\\", u"\\SentrelInstaller.exe", NormalFile, nullptr, nullptr},
  };
  for (const LaunchCase& c : cases) {
    ResetFakeWindows();
    auto& fake = FakeWindows();
    auto& key = fake.keys[FakeKeyName(platform::HkeyLocalMachine, u"Software\\Vantorq Technologies\\SnDriverInstaller")];
    if (c.setting) key.values[u"InstallDirectory"] = {platform::RegSz, RegistryBytes(c.setting)};
    if (c.presentAt) fake.attributes[c.presentAt] = c.attributes;

    EXPECT_EQ(RunLaunchSequence(), 0) << c.name;

    if (!c.expectedFile) {
      EXPECT_TRUE(fake.shellCalls.empty()) << c.name << ": started " << fake.shellCalls[0].file;
      if (!c.setting || !*c.setting || std::u16string(c.setting) == u"\\") EXPECT_EQ(fake.probes, 0) << c.name;
      continue;
    }
    ASSERT_EQ(fake.shellCalls.size(), 1u) << c.name;
    const FakeShellCall& call = fake.shellCalls[0];
    EXPECT_EQ(call.operation, "") << c.name;  // empty text, not a null pointer: the default verb
    EXPECT_EQ(call.file, c.expectedFile) << c.name;
    EXPECT_EQ(call.parameters, "") << c.name;
    EXPECT_EQ(call.directory, c.expectedDirectory) << c.name;
    EXPECT_EQ(call.showCommand, platform::SwShowNormal) << c.name;
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
