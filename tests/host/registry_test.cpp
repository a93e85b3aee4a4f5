#include "launcher/registry.h"

#include <gtest/gtest.h>

#include "launcher/install_directory.h"
#include "launcher/registry_exception.h"
#include "tests/host/fake_platform.h"
#include "tests/shared/install_directory_outcome.h"
#include "tests/shared/registry_value_cases.h"

namespace {

const std::u16string SettingKey = u"Software\\Vantorq Technologies\\SnDriverInstaller";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFakeWindows(); }
  void TearDown() override { EXPECT_EQ(FakeWindows().openKeys, 0) << "a registry key was left open"; }

  FakeRegistryKey& SettingKeyValues() { return FakeWindows().keys[FakeKeyName(platform::HkeyLocalMachine, SettingKey)]; }
  void SetSetting(platform::Dword type, std::vector<std::uint8_t> data) {
    SettingKeyValues().values[u"InstallDirectory"] = {type, std::move(data)};
  }
};

TEST_F(RegistryTest, EachKindOfSettingData) {
  for (const RegistryValueCase& c : RegistryValueCases()) {
    ResetFakeWindows();
    SettingKeyValues();
    if (c.present) SetSetting(c.type, c.data);
    EXPECT_EQ(InstallDirectoryOutcome(), ExpectedOutcome(c.expectedDirectory, c.expectedError)) << c.name;
    EXPECT_EQ(FakeWindows().openKeys, 0) << c.name;
  }
}

TEST_F(RegistryTest, ReadsLocalMachineWithReadAccessOnly) {
  SetSetting(platform::RegSz, RegistryBytes(u"C:\\X"));
  EXPECT_TRUE(ReadMachineString(AnsiString(InstallerKey), AnsiString(InstallDirectoryValue)) == u"C:\\X");
  const std::vector<std::string> expected = {
      "RegOpenKeyExW 80000002 Software\\Vantorq Technologies\\SnDriverInstaller 00020019",
      "RegQueryValueExW InstallDirectory size",
      "RegQueryValueExW InstallDirectory data",
      "RegCloseKey 80000002\\Software\\Vantorq Technologies\\SnDriverInstaller",
  };
  EXPECT_EQ(FakeWindows().calls, expected);
}

// Only for the report: read-only in the 64-bit view, as stored, and never an error.
TEST_F(RegistryTest, SettingIn64BitViewForTheReport) {
  const struct {
    const char* name;
    FakeRegistryValue value;
    bool present;
    std::string expected;
  } cases[] = {
      {"text, untrimmed", {platform::RegSz, RegistryBytes(u"C:\\Program Files\\X\\")}, true, "C:\\Program Files\\X\\"},
      {"not text", {platform::RegDword, {1, 0, 0, 0}}, true, ""},
      {"absent", {}, false, ""},
  };
  for (const auto& c : cases) {
    ResetFakeWindows();
    SetSetting(platform::RegSz, RegistryBytes(u"C:\\In the 32-bit view"));
    auto& key64 = FakeWindows().keys[FakeKeyName(platform::HkeyLocalMachine, SettingKey, true)];
    if (c.present) key64.values[u"InstallDirectory"] = c.value;
    EXPECT_EQ(Printable(ReadSettingIn64BitView()), c.expected) << c.name;
    EXPECT_EQ(FakeWindows().calls.at(0),
              "RegOpenKeyExW 80000002 Software\\Vantorq Technologies\\SnDriverInstaller 00020119") << c.name;
    EXPECT_EQ(FakeWindows().openKeys, 0) << c.name;
  }
}

TEST_F(RegistryTest, MissingOrUnopenableKeyGivesEmptyText) {
  for (platform::Status failure : {platform::ErrorSuccess, platform::ErrorAccessDenied}) {
    ResetFakeWindows();
    FakeWindows().failOpenWith = failure;  // ErrorSuccess here: the key simply does not exist
    EXPECT_EQ(InstallDirectoryOutcome(), "") << "open failing with " << failure;
    EXPECT_EQ(FakeWindows().queries, 0);
  }
}

// The value changes between the size query and the data query: the read must neither overrun its
// buffer nor return text the second query did not deliver.
TEST_F(RegistryTest, ValueChangingBetweenTheTwoQueries) {
  const struct {
    const char* name;
    FakeRegistryValue second;  // what the value holds at the data query
    bool removed;
    std::string expected;
  } cases[] = {
      {"grows", {platform::RegSz, RegistryBytes(u"C:\\A much longer directory")}, false,
       "error: Failed to get data for 'InstallDirectory'"},
      {"shrinks", {platform::RegSz, RegistryBytes(u"C:", false)}, false, "C:"},
      {"becomes a number", {platform::RegDword, {7, 0, 0, 0}}, false,
       "error: Invalid data type for 'InstallDirectory'"},
      {"disappears", {}, true, "error: Failed to get data for 'InstallDirectory'"},
  };
  for (const auto& c : cases) {
    ResetFakeWindows();
    SetSetting(platform::RegSz, RegistryBytes(u"C:\\Directory\\"));
    FakeWindows().afterQuery = [&](int queries) {
      if (queries != 1) return;
      auto& values = SettingKeyValues().values;
      if (c.removed) values.erase(u"InstallDirectory");
      else values[u"InstallDirectory"] = c.second;
    };
    EXPECT_EQ(InstallDirectoryOutcome(), c.expected) << c.name;
  }
}

TEST_F(RegistryTest, DataQueryFailingIsAnError) {
  SetSetting(platform::RegSz, RegistryBytes(u"C:\\X"));
  FakeWindows().failDataQueryWith = platform::ErrorAccessDenied;
  EXPECT_EQ(InstallDirectoryOutcome(), "error: Failed to get data for 'InstallDirectory'");
}

TEST_F(RegistryTest, OpenKeyAbsoluteAndRelative) {
  auto& keys = FakeWindows().keys;
  keys[FakeKeyName(platform::HkeyLocalMachine, u"A")];
  keys[FakeKeyName(platform::HkeyLocalMachine, u"A\\B")];
  keys[FakeKeyName(platform::HkeyLocalMachine, u"C")];

  TRegistry registry(platform::KeyRead);
  registry.SetRootKey(platform::HkeyLocalMachine);
  ASSERT_TRUE(registry.OpenKey(u"A", false));
  EXPECT_EQ(registry.CurrentPath(), u"A");
  ASSERT_TRUE(registry.OpenKey(u"B", false));  // relative: under the open key
  EXPECT_EQ(registry.CurrentPath(), u"A\\B");
  const auto openB = registry.CurrentKey();
  EXPECT_FALSE(registry.OpenKey(u"Missing", false));  // failure leaves the state as it was
  EXPECT_EQ(registry.CurrentPath(), u"A\\B");
  EXPECT_EQ(registry.CurrentKey(), openB);
  ASSERT_TRUE(registry.OpenKey(u"\\C", false));  // absolute: under the root, one backslash removed
  EXPECT_EQ(registry.CurrentPath(), u"C");
  EXPECT_EQ(FakeWindows().openKeys, 1) << "opening a key closes the previous one";
  EXPECT_EQ(FakeWindows().calls.at(4), "RegOpenKeyExW 80000002 C 00020019");

  EXPECT_FALSE(registry.OpenKey(u"New", false));
  ASSERT_TRUE(registry.OpenKey(u"New", true));
  EXPECT_EQ(registry.CurrentPath(), u"C\\New");
}

TEST_F(RegistryTest, CloseKeyFlushesOnlyWithoutLazyWrite) {
  FakeWindows().keys[FakeKeyName(platform::HkeyCurrentUser, u"K")];
  for (bool lazy : {true, false}) {
    FakeWindows().calls.clear();
    TRegistry registry(platform::KeyRead);
    registry.SetLazyWrite(lazy);
    ASSERT_TRUE(registry.OpenKey(u"K", false));
    registry.CloseKey();
    registry.CloseKey();  // a second close is a no-op
    const bool flushed = FakeWindows().calls.size() == 3 && FakeWindows().calls[1].rfind("RegFlushKey", 0) == 0;
    EXPECT_EQ(flushed, !lazy) << "LazyWrite " << lazy;
    EXPECT_EQ(registry.CurrentKey(), platform::NoRegistryKey);
    EXPECT_EQ(registry.CurrentPath(), u"");
  }
}

TEST_F(RegistryTest, ChangingRootClosesCurrentKey) {
  FakeWindows().keys[FakeKeyName(platform::HkeyCurrentUser, u"K")];
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(u"K", false));
  registry.SetRootKey(platform::HkeyCurrentUser);
  EXPECT_EQ(FakeWindows().openKeys, 1) << "the same root keeps the key open";
  registry.SetRootKey(platform::HkeyLocalMachine);
  EXPECT_EQ(FakeWindows().openKeys, 0);
  EXPECT_EQ(registry.RootKey(), platform::HkeyLocalMachine);
}

}  // namespace
