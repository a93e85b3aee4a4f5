// The same-publisher build's launch sequence against the fake's signatures: what Wine cannot stage (an
// untrusted root, a revoked certificate, a file someone else holds open for writing) and what it
// cannot show (the installer held, denying write and delete, while the shell starts it).
#include <gtest/gtest.h>

#include "launcher/launch_sequence.h"
#include "tests/host/fake_platform.h"
#include "tests/shared/install_directory_outcome.h"
#include "tests/shared/registry_value_cases.h"

namespace {

const std::u16string Installer = u"C:\\Tools\\SentrelInstaller.exe";
const std::u16string Launcher = u"C:\\Vendor\\Launcher-same-publisher.exe";
const std::string Vendor = "CN=Vantorq Technologies, O=Vantorq Technologies, C=DE";
const std::u16string Refused = u"Launcher: nothing started: ";

TEST(SamePublisher, StartsOnlyTheLaunchersOwnPublishersInstaller) {
  const struct {
    const char* name;
    platform::Status launcherStatus;  // 0: signed by Vendor; 1: no signature at all
    platform::Status installerStatus;
    std::string installerSubject;
    platform::Status installerOpenError;
    std::u16string expectedReport;  // empty: started
  } cases[] = {
      {"same publisher: started", 0, 0, Vendor, 0, u""},
      {"the installer unsigned", 0, 1, "", 0,
       Refused + u"the installer's signature does not hold (TRUST_E_NOSIGNATURE, 0x800B0100): " + Installer + u"\n"},
      {"the installer changed after signing", 0, static_cast<platform::Status>(0x80096010u), "", 0,
       Refused + u"the installer's signature does not hold (TRUST_E_BAD_DIGEST, 0x80096010): " + Installer + u"\n"},
      {"a root this machine does not trust", 0, static_cast<platform::Status>(0x800B0109u), "", 0,
       Refused + u"the installer's signature does not hold (CERT_E_UNTRUSTEDROOT, 0x800B0109): " + Installer + u"\n"},
      {"a certificate the cache knows revoked", 0, static_cast<platform::Status>(0x80092010u), "", 0,
       Refused + u"the installer's signature does not hold (CRYPT_E_REVOKED, 0x80092010): " + Installer + u"\n"},
      {"a status without a name: its value", 0, static_cast<platform::Status>(0x8009200Du), "", 0,
       Refused + u"the installer's signature does not hold (0x8009200D): " + Installer + u"\n"},
      {"another publisher", 0, 0, "CN=Vantorq Technologies Ltd, O=Someone Else, C=DE", 0,
       Refused + u"the installer is signed by another publisher (CN=Vantorq Technologies Ltd, O=Someone Else, "
                 u"C=DE; this launcher by CN=Vantorq Technologies, O=Vantorq Technologies, C=DE): " + Installer + u"\n"},
      {"the launcher itself unsigned", 1, 0, Vendor, 0,
       Refused + u"this launcher's own signature does not hold (TRUST_E_NOSIGNATURE, 0x800B0100), so it cannot "
                 u"tell its publisher: " + Installer + u"\n"},
      {"the installer open for writing elsewhere", 0, 0, Vendor, platform::ErrorSharingViolation,
       Refused + u"the installer cannot be held against change (error 32): " + Installer + u"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeWindows();
    auto& fake = FakeWindows();
    fake.keys[FakeKeyName(platform::HkeyLocalMachine, u"Software\\Vantorq Technologies\\SnDriverInstaller")]
        .values[u"InstallDirectory"] = {platform::RegSz, RegistryBytes(u"C:\\Tools")};
    fake.attributes[Installer] = 0x20;
    if (c.launcherStatus == 0) fake.signatures[Launcher] = {0, Vendor};
    if (c.installerStatus != 1) fake.signatures[Installer] = {c.installerStatus, c.installerSubject};
    if (c.installerOpenError != 0) fake.openErrors[Installer] = c.installerOpenError;

    EXPECT_EQ(RunLaunchSequence(), 0);
    EXPECT_TRUE(fake.openFiles.empty()) << "a file left open";
    if (!c.expectedReport.empty()) {
      EXPECT_EQ(Printable(fake.debugOutput), Printable(c.expectedReport));
      EXPECT_TRUE(fake.shellCalls.empty()) << "started " << fake.shellCalls[0].file;
      continue;
    }
    EXPECT_EQ(Printable(fake.debugOutput), Printable(u"Launcher: starting " + Installer + u" in C:\\Tools\n"));
    ASSERT_EQ(fake.shellCalls.size(), 1u);
    // The file checked is the file started: still held, so that nobody could write, rename or delete it.
    EXPECT_EQ(fake.heldAtShellExecute, std::vector<std::u16string>{Installer});
  }
}

}  // namespace
