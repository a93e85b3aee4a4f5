// The same-publisher build's launch sequence against the fake's signatures: what Wine cannot stage (an
// untrusted root, a revoked certificate, a file someone else holds open for writing, a junction, a
// network drive, Windows 7 without SetDefaultDllDirectories) and what it cannot show (the installer
// held, denying write and delete, while the shell starts it; each verification closed).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "launcher/launch_sequence.h"
#include "tests/host/fake_platform.h"
#include "tests/shared/install_directory_outcome.h"
#include "tests/shared/registry_value_cases.h"

namespace {

const std::u16string Tools = u"C:\\Tools";
const std::u16string Installer = u"C:\\Tools\\SentrelInstaller.exe";
const std::string Vendor = "CN=Vantorq Technologies, O=Vantorq Technologies, C=DE";
const std::u16string Refused = u"Launcher: nothing started: ";
constexpr platform::Dword Directory = 0x10, Archive = 0x20, ReparsePoint = 0x400;

platform::Status Hresult(std::uint32_t value) { return static_cast<platform::Status>(value); }

// The setting names directory; the installer is there, signed by Vendor as this launcher is, and each
// folder on the way is a plain folder. A row's script changes what it is about.
void ScriptSignedPair(const std::u16string& directory) {
  auto& fake = FakeWindows();
  fake.keys[FakeKeyName(platform::HkeyLocalMachine, u"Software\\Vantorq Technologies\\SnDriverInstaller")]
      .values[u"InstallDirectory"] = {platform::RegSz, RegistryBytes(directory)};
  for (std::size_t at = directory.find(u'\\', 3); at != std::u16string::npos; at = directory.find(u'\\', at + 1))
    fake.attributes[directory.substr(0, at)] = Directory;
  fake.attributes[directory] = Directory;
  fake.attributes[directory + u"\\SentrelInstaller.exe"] = Archive;
  fake.signatures[u"C:\\Vendor\\Launcher-same-publisher.exe"] = {0, Vendor};
  fake.signatures[directory + u"\\SentrelInstaller.exe"] = {0, Vendor};
}

int Count(const std::vector<std::string>& calls, const std::string& beginning) {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const std::string& call) { return call.rfind(beginning, 0) == 0; }));
}

// What holds after every run, started or not: nothing left open, each verification closed once.
void ExpectEverythingClosed() {
  const auto& fake = FakeWindows();
  EXPECT_TRUE(fake.openFiles.empty()) << "a file left open";
  EXPECT_TRUE(fake.openTrustStates.empty()) << fake.openTrustStates.size() << " verification(s) never closed";
  EXPECT_EQ(fake.strayTrustCloses, 0) << "a verification closed that was not open";
  EXPECT_EQ(Count(fake.calls, "VerifyTrust"), Count(fake.calls, "CloseTrustState"));
}

// Started, and the file verified is the file the shell starts: the installer's last verification was
// made on a handle still held when ShellExecuteA ran, and the trust DLLs came from System32 by path.
void ExpectStartedTheFileVerified(const std::u16string& installer) {
  const auto& fake = FakeWindows();
  ASSERT_EQ(fake.shellCalls.size(), 1u);
  EXPECT_EQ(fake.heldAtShellExecute, std::vector<std::u16string>{installer});
  const auto verified = std::find_if(fake.verifications.rbegin(), fake.verifications.rend(),
                                     [&](const auto& v) { return v.path == installer; });
  ASSERT_NE(verified, fake.verifications.rend()) << "the installer was never verified";
  EXPECT_EQ(fake.handlesHeldAtShellExecute, std::vector<platform::FileHandle>{verified->file})
      << "verified on handle " << verified->file << ", another than the one held while the shell started it";
  EXPECT_EQ(Count(fake.calls, "LoadTrustLibraries C:\\windows\\system32\\crypt32.dll "
                              "C:\\windows\\system32\\wintrust.dll"), 1);
}

TEST(SamePublisher, StartsOnlyTheLaunchersOwnPublishersInstaller) {
  const std::u16string signatureFails = u"the installer's signature does not hold ";
  const std::u16string networkServer = u"whose server could serve the check one file and the shell another";
  const std::u16string namedElsewhere = u" (a short 8.3 name, a mount point, a link or a doubled separator on the way), "
                                        u"and the shell would open the path anew";
  const std::u16string followedAnew = u"), and the shell would follow it anew";
  const struct {
    const char* name;
    std::function<void(FakeWindowsState&)> script;
    std::u16string expectedReason;  // empty: started
    std::u16string directory = Tools;
  } cases[] = {
      {"same publisher: started", [](FakeWindowsState&) {}, u""},
      {"the installer unsigned", [](FakeWindowsState& f) { f.signatures.erase(Installer); },
       signatureFails + u"(TRUST_E_NOSIGNATURE, 0x800B0100)"},
      {"the installer changed after signing", [](FakeWindowsState& f) { f.signatures[Installer].status = Hresult(0x80096010); },
       signatureFails + u"(TRUST_E_BAD_DIGEST, 0x80096010)"},
      {"a root this machine does not trust", [](FakeWindowsState& f) { f.signatures[Installer].status = Hresult(0x800B0109); },
       signatureFails + u"(CERT_E_UNTRUSTEDROOT, 0x800B0109)"},
      {"a status without a name: its value", [](FakeWindowsState& f) { f.signatures[Installer].status = Hresult(0x8009200D); },
       signatureFails + u"(0x8009200D)"},
      {"another publisher", [](FakeWindowsState& f) { f.signatures[Installer].subject = "CN=Vantorq Technologies Ltd, O=Someone Else, C=DE"; },
       u"the installer is signed by another publisher (CN=Vantorq Technologies Ltd, O=Someone Else, C=DE; this launcher "
       u"by CN=Vantorq Technologies, O=Vantorq Technologies, C=DE)"},
      // As long as the vendor's, equal but for the last byte: a comparison that stops one byte short, or
      // at a fixed length, lets it through.
      {"another publisher, differing only in the subject's last byte",
       [](FakeWindowsState& f) { f.signatures[Installer].subject = "CN=Vantorq Technologies, O=Vantorq Technologies, C=DF"; },
       u"the installer is signed by another publisher (CN=Vantorq Technologies, O=Vantorq Technologies, C=DF; this "
       u"launcher by CN=Vantorq Technologies, O=Vantorq Technologies, C=DE)"},
      // The same text, encoded as a UTF8String where the launcher's is a PrintableString: another subject
      // to a CA, and one that the rendered texts cannot tell apart.
      {"the same subject text in another string type", [](FakeWindowsState& f) { f.signatures[Installer].stringType = 0x0C; },
       u"the installer is signed by another publisher (" + std::u16string(Vendor.begin(), Vendor.end()) +
           u"; this launcher by " + std::u16string(Vendor.begin(), Vendor.end()) + u")"},
      {"the launcher itself unsigned", [](FakeWindowsState& f) { f.signatures.erase(u"C:\\Vendor\\Launcher-same-publisher.exe"); },
       u"this launcher's own signature does not hold (TRUST_E_NOSIGNATURE, 0x800B0100), so it cannot tell its publisher"},
      {"the installer open for writing elsewhere", [](FakeWindowsState& f) { f.openErrors[Installer] = platform::ErrorSharingViolation; },
       u"the installer cannot be held against change (error 32)"},
      // Where wintrust.dll's own imports could come from the launcher's folder, nothing is verified.
      {"Windows 7 without SetDefaultDllDirectories", [](FakeWindowsState& f) { f.hasSetDefaultDllDirectories = false; },
       u"this Windows cannot keep DLLs beside the launcher from loading (SetDefaultDllDirectories: error 127; "
       u"Windows 7 needs KB2533623)"},
      {"GetSystemDirectoryW fails and sets no error", [](FakeWindowsState& f) { f.systemDirectory.clear(); },
       u"the system directory is unknown (error 0), so wintrust.dll cannot be loaded from it"},
      // The path rule: the shell opens the path anew, so it must lead to the held file and nowhere else.
      {"a junction on the path", [](FakeWindowsState& f) { f.attributes[Tools] = Directory | ReparsePoint; },
       u"a junction, mount point or link is on the way (C:\\Tools" + followedAnew},
      {"a symbolic link as the last component", [](FakeWindowsState& f) { f.attributes[Installer] = Archive | ReparsePoint; },
       u"a junction, mount point or link is on the way (C:\\Tools\\SentrelInstaller.exe" + followedAnew},
      {"a folder on the way that cannot be looked at", [](FakeWindowsState& f) { f.attributeErrors[Tools] = platform::ErrorAccessDenied; },
       u"what C:\\Tools is cannot be told (error 5)"},
      {"a final path that differs (a mount point, or a change under way)",
       [](FakeWindowsState& f) { f.finalPaths[Installer] = u"\\\\?\\D:\\Elsewhere\\SentrelInstaller.exe"; },
       u"Windows names the held file D:\\Elsewhere\\SentrelInstaller.exe" + namedElsewhere},
      {"an 8.3 alias in the setting", [](FakeWindowsState& f) { f.finalPaths[u"C:\\TOOLS~1\\SentrelInstaller.exe"] = u"\\\\?\\C:\\Tools Folder\\SentrelInstaller.exe"; },
       u"Windows names the held file C:\\Tools Folder\\SentrelInstaller.exe" + namedElsewhere, u"C:\\TOOLS~1"},
      {"a final path that cannot be read", [](FakeWindowsState& f) { f.finalPathError = 1; },
       u"the held file's own path cannot be read (error 1)"},
      // Windows compares names without case: the setting may spell them in other cases.
      {"the setting in other cases than the folders: started",
       [](FakeWindowsState& f) { f.finalPaths[u"c:\\tOOLS\\\u00E9t\u00E9\\SentrelInstaller.exe"] = u"\\\\?\\C:\\Tools\\\u00C9T\u00C9\\SENTRELINSTALLER.exe"; },
       u"", u"c:\\tOOLS\\\u00E9t\u00E9"},
      {"a mapped network drive", [](FakeWindowsState& f) { f.driveTypes[u"Z:\\"] = platform::DriveRemote; },
       u"the installer is on a network drive (Z:\\), " + networkServer, u"Z:\\Tools"},
      {"a UNC path", [](FakeWindowsState&) {}, u"the installer is on a network share, " + networkServer,
       u"\\\\server\\share\\Tools"},
      {"a final path on a network share",
       [](FakeWindowsState& f) { f.finalPaths[Installer] = u"\\\\?\\UNC\\server\\share\\SentrelInstaller.exe"; },
       u"the installer is on a network share (\\\\?\\UNC\\server\\share\\SentrelInstaller.exe), " + networkServer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeWindows();
    ScriptSignedPair(c.directory);
    c.script(FakeWindows());
    const auto& fake = FakeWindows();
    const std::u16string installer = c.directory + u"\\SentrelInstaller.exe";

    EXPECT_EQ(RunLaunchSequence(), 0);
    ExpectEverythingClosed();
    if (!c.expectedReason.empty()) {
      EXPECT_EQ(Printable(fake.debugOutput), Printable(Refused + c.expectedReason + u": " + installer + u"\n"));
      EXPECT_TRUE(fake.shellCalls.empty()) << "started " << fake.shellCalls[0].file;
      continue;
    }
    EXPECT_EQ(Printable(fake.debugOutput), Printable(u"Launcher: starting " + installer + u" in " + c.directory + u"\n"));
    ExpectStartedTheFileVerified(installer);
  }
}

// Revocation is checked against Windows' cache only; where the cache has no answer the check is made
// again without it. Any other answer stands, a revoked certificate above all.
TEST(SamePublisher, VerifiesAgainWithoutRevocationOnlyWhereTheCacheHasNoAnswer) {
  const struct {
    const char* name;
    std::uint32_t answerWithRevocation;
    bool retried;
  } cases[] = {
      {"CERT_E_REVOCATION_FAILURE", 0x800B010E, true},
      {"CRYPT_E_REVOCATION_OFFLINE", 0x80092013, true},
      {"CRYPT_E_NO_REVOCATION_CHECK", 0x80092012, true},
      {"CRYPT_E_REVOKED", 0x80092010, false},
      {"CERT_E_REVOKED", 0x800B010C, false},
      {"TRUST_E_NOSIGNATURE", 0x800B0100, false},
      {"0", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeWindows();
    ScriptSignedPair(Tools);
    auto& fake = FakeWindows();
    fake.signatures[Installer].status = Hresult(c.answerWithRevocation);
    fake.signatures[Installer].withoutRevocation = 0;  // a retry would pass

    EXPECT_EQ(RunLaunchSequence(), 0);
    ExpectEverythingClosed();
    std::vector<bool> revocationChecked;
    for (const auto& v : fake.verifications)
      if (v.path == Installer) revocationChecked.push_back(v.revocationChecked);
    const std::vector<bool> expected = c.retried ? std::vector<bool>{true, false} : std::vector<bool>{true};
    EXPECT_EQ(revocationChecked, expected);
    EXPECT_EQ(fake.shellCalls.size(), c.retried || c.answerWithRevocation == 0 ? 1u : 0u) << Printable(fake.debugOutput);
  }
}

}  // namespace
