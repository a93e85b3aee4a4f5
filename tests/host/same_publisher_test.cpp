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

// What holds after every run, started or not: nothing left open, each verification closed once; every
// open at identification level (a named pipe behind the path may not act as this process), the folders
// read as themselves and shared without delete, the installer shared for reading only; and no
// verification fetching anything.
void ExpectEverythingClosed() {
  const auto& fake = FakeWindows();
  for (const auto& open : fake.opens) {
    SCOPED_TRACE(Printable(open.path));
    EXPECT_EQ(open.flags & (platform::SecuritySqosPresent | platform::SecurityIdentificationFlag),
              platform::SecuritySqosPresent | platform::SecurityIdentificationFlag);
    if (open.access & platform::GenericRead) {
      EXPECT_EQ(open.share, platform::FileShareRead);
    } else {
      EXPECT_EQ(open.share & 0x4, 0u) << "shared for delete";  // FILE_SHARE_DELETE
      EXPECT_EQ(open.flags & (platform::FileFlagBackupSemantics | platform::FileFlagOpenReparsePoint),
                platform::FileFlagBackupSemantics | platform::FileFlagOpenReparsePoint);
    }
  }
  for (const auto& v : fake.verifications)
    EXPECT_TRUE(v.providerFlags & platform::WtdCacheOnlyUrlRetrieval) << "a verification may fetch: " << Printable(v.path);
  EXPECT_TRUE(fake.openFiles.empty() && fake.openForSecurity.empty()) << "a file or folder left open";
  EXPECT_EQ(fake.openDescriptors, 0) << "a security descriptor never freed";
  EXPECT_EQ(fake.openSearches, 0) << "a folder listing never closed";
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
  // Every folder on the way, the drive root included, still held.
  std::vector<std::u16string> folders;
  for (std::size_t at = 2; at != std::u16string::npos && at < installer.rfind(u'\\'); at = installer.find(u'\\', at + 1))
    folders.push_back(installer.substr(0, at == 2 ? 3 : at));
  folders.push_back(installer.substr(0, installer.rfind(u'\\')));
  std::vector<std::u16string> held = fake.foldersHeldAtShellExecute;
  std::sort(held.begin(), held.end());
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(held, folders);
  // Each descriptor read from the very handle held: one opened anew could be another folder's, renamed in.
  const auto readFrom = [&](platform::FileHandle handle, const std::u16string& path) {
    return std::count(fake.securityReads.begin(), fake.securityReads.end(), std::make_pair(handle, path)) == 1;
  };
  for (const auto& [handle, path] : fake.folderHandlesHeldAtShellExecute)
    EXPECT_TRUE(readFrom(handle, path)) << "the descriptor of " << Printable(path) << " not read once from its held handle";
  if (fake.handlesHeldAtShellExecute.size() == 1)
    EXPECT_TRUE(readFrom(fake.handlesHeldAtShellExecute[0], installer)) << "the installer's descriptor not read from the held file";
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
  const std::u16string longForm = u"the installer is named in the \\\\?\\ form, which turns off Windows' name rules, and "
                                  u"the shell may not open it as the same file";
  const std::u16string notDriveLetter = u"the installer is not named from a drive letter (C:\\...), the only form this "
                                        u"launcher starts from";
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
      // Every name on the way, not only the installer's folder and the file.
      {"a junction two folders up", [](FakeWindowsState& f) { f.attributes[u"C:\\Vendor"] = Directory | ReparsePoint; },
       u"a junction, mount point or link is on the way (C:\\Vendor" + followedAnew, u"C:\\Vendor\\Tools"},
      // A drive letter in lower case is a drive letter: walked, and asked whether it is remote.
      {"a junction, the drive letter in lower case", [](FakeWindowsState& f) { f.attributes[u"c:\\Tools"] |= ReparsePoint; },
       u"a junction, mount point or link is on the way (c:\\Tools" + followedAnew, u"c:\\Tools"},
      // Owners and DACLs set on another machine: believed by the secure-location rule, so refused first.
      {"a removable drive", [](FakeWindowsState& f) { f.driveTypes[u"E:\\"] = 2; },  // DRIVE_REMOVABLE
       u"the installer is on a removable drive (E:\\), whose owners and permissions could have been set on another machine",
       u"E:\\Tools"},
      {"a mapped network drive in lower case", [](FakeWindowsState& f) { f.driveTypes[u"z:\\"] = platform::DriveRemote; },
       u"the installer is on a network drive (z:\\), " + networkServer, u"z:\\Tools"},
      {"a mapped network drive in the \\\\?\\ form", [](FakeWindowsState& f) { f.driveTypes[u"Z:\\"] = platform::DriveRemote; },
       u"the installer is on a network drive (Z:\\), " + networkServer, u"\\\\?\\Z:\\Tools"},
      // Refused before anything is probed or opened: either of a server's path already hands it this
      // account's credentials, and the shell is not known to open the \\?\ form as the same file.
      {"the \\\\?\\ form of a local path", [](FakeWindowsState&) {}, longForm, u"\\\\?\\C:\\Tools"},
      {"a device path's UNC in mixed case", [](FakeWindowsState&) {}, u"the installer is on a network share, " + networkServer,
       u"\\\\?\\Unc\\server\\share\\Tools"},
      {"a UNC path with forward slashes", [](FakeWindowsState&) {}, u"the installer is on a network share, " + networkServer,
       u"//server/share/Tools"},
      {"a share through GLOBALROOT", [](FakeWindowsState&) {}, notDriveLetter,
       u"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\Tools"},
      // A verification that holds but whose signer cannot be read names no publisher: two such would
      // otherwise compare equal (both empty).
      {"neither signer's subject readable",
       [](FakeWindowsState& f) {
         f.signatures[Installer].subjectReadable = false;
         f.signatures[u"C:\\Vendor\\Launcher-same-publisher.exe"].subjectReadable = false;
       },
       u"this launcher's own signature does not hold (TRUST_E_NOSIGNATURE, 0x800B0100), so it cannot tell its publisher"},
      {"the installer's signer's subject unreadable", [](FakeWindowsState& f) { f.signatures[Installer].subjectReadable = false; },
       signatureFails + u"(TRUST_E_NOSIGNATURE, 0x800B0100)"},
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
      if (c.expectedReason.rfind(u"the installer is on a network share, ", 0) == 0 ||
          c.expectedReason.rfind(u"the installer is on a network drive", 0) == 0 ||
          c.expectedReason.rfind(u"the installer is on a removable drive", 0) == 0 || c.expectedReason == longForm ||
          c.expectedReason == notDriveLetter)
      {
        // Not even probed: GetFileAttributesW of a server's path opens it there, handing over this
        // account's credentials as an open would.
        EXPECT_EQ(fake.probes, 0) << "probed before it was refused";
        for (const auto& open : fake.opens) EXPECT_NE(open.path, installer) << "opened before it was refused";
      }
      continue;
    }
    EXPECT_EQ(Printable(fake.debugOutput), Printable(u"Launcher: starting " + installer + u" in " + c.directory + u"\n"));
    ExpectStartedTheFileVerified(installer);
  }
}

// Only where no one but an administrator could have put the installer there or changed it: the owner and
// DACL of the installer, of every other entry of its folder, of that folder, and of each folder above it
// up to the drive root. Each row changes one of them (SDDL) from an administrators-only descriptor.
// icacls's argument: quoted, a drive root bare ("C:\" would end in a literal quote).
std::u16string Quoted(const std::u16string& object) { return object.back() == u'\\' ? object : u"\"" + object + u"\""; }
std::u16string Changed(const std::u16string& object, const std::u16string& who, const std::u16string& sid,
                       const std::u16string& right) {
  return object + u" can be changed by " + (who.empty() ? sid + u" (" : who + u" (" + sid + u": ") + right +
         u"), so someone other than an administrator could have put the installer there (to mend: icacls " + Quoted(object) +
         u" /inheritance:d, then icacls " + Quoted(object) + u" /remove:g *" + sid + u")";
}
// recursive: the install folder, whose entries take the same owner (/T); never a folder above it.
std::u16string Owned(const std::u16string& object, const std::u16string& who, bool recursive = false) {
  return object + u" is owned by " + who + u", so someone other than an administrator could have put the installer "
         u"there (to mend: icacls " + Quoted(object) + u" /setowner *S-1-5-32-544" + (recursive ? u" /T)" : u")");
}

TEST(SamePublisher, StartsOnlyWhereNoOneButAnAdministratorCouldHavePutIt) {
  const std::u16string Root = u"C:\\", Above = u"C:\\Vendor", Folder = u"C:\\Vendor\\Tools";
  const std::u16string File = Folder + u"\\SentrelInstaller.exe", Dll = Folder + u"\\vendor.dll";
  const std::string Admins = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", Ti = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const std::u16string Users = u"BUILTIN\\Users", UsersSid = u"S-1-5-32-545", Au = u"NT AUTHORITY\\Authenticated Users";
  const std::u16string noDacl = u" has no DACL, which lets everyone change it, so someone other than an administrator could have "
                                u"put the installer there";
  const std::u16string unread = u", which this launcher does not read, so someone other than an administrator could have put "
                                u"the installer there";
  // Windows' defaults, as icacls lists them (Program Files: its listing on Windows 10 and 11; the drive
  // root: DISA's Windows 10 STIG, V-220717, and KB 949608 for Vista's change to Authenticated Users):
  // no Microsoft document gives them as SDDL, so these are written from those listings, and the check
  // kit prints the real ones on its first Windows run. Objects created by a member of Administrators
  // from an elevated token are owned by Administrators ("How Security Descriptors are Set on New
  // Directory Objects", the default owner SID); CREATOR OWNER's inherit-only entry then becomes the
  // owner's own full control.
  const std::string rootSddl = "O:" + Ti + "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)";
  const std::string programFiles = "O:" + Ti + "D:PAI(A;;FA;;;" + Ti + ")(A;CIIO;GA;;;" + Ti + ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)"
                                   "(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)"
                                   "(A;;0x1200a9;;;S-1-15-2-1)(A;OICIIO;GXGR;;;S-1-15-2-1)";
  const auto vendorFolder = [&](const std::string& owner) {
    return "O:" + owner + "D:AI(A;ID;FA;;;" + Ti + ")(A;CIIOID;GA;;;" + Ti + ")(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)"
           "(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)(A;ID;FA;;;" + owner + ")";
  };
  const auto vendorFile = [](const std::string& owner) {
    return "O:" + owner + "D:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;FA;;;" + owner + ")";
  };
  const std::u16string x86 = u"C:\\Program Files (x86)", vantorq = x86 + u"\\Vantorq";
  const std::u16string underRoot = u"C:\\Vendor2";
  const struct {
    const char* name;
    std::vector<std::pair<std::u16string, std::string>> descriptors;  // SDDL by path; the rest as Admins
    std::u16string expectedReason;                                     // empty: started
    std::function<void(FakeWindowsState&)> script = [](FakeWindowsState&) {};
    std::u16string directory = u"C:\\Vendor\\Tools";
  } cases[] = {
      {"administrators only: started", {}, u""},
      // The installer, and every other entry of its folder: a DLL beside it is as good as planted.
      {"file: write data", {{File, Admins + "(A;;0x2;;;BU)"}}, Changed(File, Users, UsersSid, u"write data")},
      {"file: append", {{File, Admins + "(A;;0x4;;;AU)"}}, Changed(File, Au, u"S-1-5-11", u"append")},
      {"file: write EA", {{File, Admins + "(A;;0x10;;;WD)"}}, Changed(File, u"Everyone", u"S-1-1-0", u"write EA")},
      // An administrator's own SID too: their unelevated programs hold it.
      {"file: write attributes, to the installing user's own SID", {{File, Admins + "(A;;0x100;;;S-1-5-21-1-2-3-1001)"}},
       Changed(File, u"VANTORQ-PC\\installer", u"S-1-5-21-1-2-3-1001", u"write attributes")},
      {"file: DELETE", {{File, Admins + "(A;;SD;;;BU)"}}, Changed(File, Users, UsersSid, u"DELETE")},
      {"file: WRITE_DAC", {{File, Admins + "(A;;WD;;;BU)"}}, Changed(File, Users, UsersSid, u"WRITE_DAC")},
      {"file: WRITE_OWNER", {{File, Admins + "(A;;WO;;;BU)"}}, Changed(File, Users, UsersSid, u"WRITE_OWNER")},
      {"file: GENERIC_WRITE, mapped", {{File, Admins + "(A;;GW;;;BU)"}}, Changed(File, Users, UsersSid, u"write data")},
      {"file: read and execute: started", {{File, Admins + "(A;;0x1200a9;;;BU)"}}, u""},
      {"another entry of the folder: write data", {{Dll, Admins + "(A;;0x2;;;BU)"}}, Changed(Dll, Users, UsersSid, u"write data")},
      {"another entry of the folder owned by a user", {{Dll, "O:BUD:(A;;FA;;;BA)"}}, Owned(Dll, Users + u" (" + UsersSid + u")")},
      // Read as itself (FILE_FLAG_OPEN_REPARSE_POINT), while the installer's loads follow it.
      {"another entry of the folder a symbolic link", {}, Dll + u", beside the installer, is a symbolic link, junction or other "
       u"reparse point, and what the installer would load through it was never checked",
       [=](FakeWindowsState& f) { f.attributes[Dll] = Archive | ReparsePoint; }},
      // The install folder.
      {"install folder: add file", {{Folder, Admins + "(A;;0x2;;;AU)"}}, Changed(Folder, Au, u"S-1-5-11", u"add file")},
      {"install folder: add subfolder", {{Folder, Admins + "(A;;0x4;;;BU)"}}, Changed(Folder, Users, UsersSid, u"add subfolder")},
      {"install folder: delete child", {{Folder, Admins + "(A;;0x40;;;BU)"}}, Changed(Folder, Users, UsersSid, u"delete child")},
      {"install folder: write attributes", {{Folder, Admins + "(A;;0x100;;;BU)"}}, Changed(Folder, Users, UsersSid, u"write attributes")},
      {"install folder: DELETE", {{Folder, Admins + "(A;;SD;;;BU)"}}, Changed(Folder, Users, UsersSid, u"DELETE")},
      {"install folder: WRITE_DAC", {{Folder, Admins + "(A;;WD;;;BU)"}}, Changed(Folder, Users, UsersSid, u"WRITE_DAC")},
      {"install folder: WRITE_OWNER", {{Folder, Admins + "(A;;WO;;;BU)"}}, Changed(Folder, Users, UsersSid, u"WRITE_OWNER")},
      {"install folder: GENERIC_ALL, mapped", {{Folder, Admins + "(A;;GA;;;AU)"}}, Changed(Folder, Au, u"S-1-5-11", u"add file")},
      {"install folder: full control, inherit-only: started", {{Folder, Admins + "(A;OICIIO;FA;;;AU)"}}, u""},
      // Generic rights for the object itself, through the file mapping: read and execute hold no write
      // right; write holds add file.
      {"install folder: GENERIC_READ and GENERIC_EXECUTE: started", {{Folder, Admins + "(A;;GRGX;;;BU)"}}, u""},
      {"install folder: GENERIC_WRITE, mapped", {{Folder, Admins + "(A;;GW;;;BU)"}}, Changed(Folder, Users, UsersSid, u"add file")},
      {"install folder: a deny entry earns nothing", {{Folder, Admins + "(D;;FA;;;AU)(A;;0x2;;;AU)"}},
       Changed(Folder, Au, u"S-1-5-11", u"add file")},
      // Folders above: renaming one (DELETE on it, delete child on its parent) moves the whole way.
      {"folder above: delete child (the install folder's parent)", {{Above, Admins + "(A;;0x40;;;BU)"}},
       Changed(Above, Users, UsersSid, u"delete child")},
      {"folder above: DELETE", {{Above, Admins + "(A;;SD;;;BU)"}}, Changed(Above, Users, UsersSid, u"DELETE")},
      {"folder above: WRITE_DAC", {{Above, Admins + "(A;;WD;;;BU)"}}, Changed(Above, Users, UsersSid, u"WRITE_DAC")},
      {"folder above: WRITE_OWNER", {{Above, Admins + "(A;;WO;;;BU)"}}, Changed(Above, Users, UsersSid, u"WRITE_OWNER")},
      {"folder above: add file and add subfolder: started", {{Above, Admins + "(A;;0x6;;;AU)"}}, u""},
      // Every folder on the way, not only the install folder's parent and the drive root.
      {"three folders deep, the middle one loose", {{u"C:\\A\\B", Admins + "(A;;0x40;;;BU)"}},
       Changed(u"C:\\A\\B", Users, UsersSid, u"delete child"), [](FakeWindowsState&) {}, u"C:\\A\\B\\C\\Install"},
      {"three folders deep, administrators only: started", {}, u"", [](FakeWindowsState&) {}, u"C:\\A\\B\\C\\Install"},
      {"drive root: DELETE: started (a root is never renamed)", {{Root, Admins + "(A;;SD;;;AU)"}}, u""},
      {"drive root: delete child", {{Root, Admins + "(A;;0x40;;;AU)"}}, Changed(Root, Au, u"S-1-5-11", u"delete child")},
      {"drive root: WRITE_DAC", {{Root, Admins + "(A;;WD;;;AU)"}}, Changed(Root, Au, u"S-1-5-11", u"WRITE_DAC")},
      {"drive root owned by Users", {{Root, "O:BUD:(A;;FA;;;BA)"}}, Owned(Root, Users + u" (" + UsersSid + u")")},
      // Owners: only Administrators, SYSTEM and TrustedInstaller.
      {"file owned by the installing user", {{File, "O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)"}},
       Owned(File, u"VANTORQ-PC\\installer (S-1-5-21-1-2-3-1001)")},
      {"folder above owned by a SID without a name here", {{Above, "O:S-1-5-21-9-9-9-1001D:(A;;FA;;;BA)"}},
       Owned(Above, u"S-1-5-21-9-9-9-1001")},
      {"owned by SYSTEM and TrustedInstaller: started", {{Root, "O:" + Ti + "D:(A;;FA;;;BA)"}, {Above, "O:SYD:(A;;FA;;;SY)"}}, u""},
      {"no owner", {{Folder, "D:(A;;FA;;;BA)"}}, Folder + u" has no owner to read, so someone other than an administrator "
                                                       u"could have put the installer there"},
      {"file: a NULL DACL", {{File, "O:BAD:NO_ACCESS_CONTROL"}}, File + noDacl},
      {"folder above: no DACL", {{Above, "O:BA"}}, Above + noDacl},
      {"file: a callback entry, even granting read", {{File, Admins + "(XA;;FR;;;BU)"}}, File + u"'s DACL entry 2 is of type 9" + unread},
      {"install folder: an object entry, even inherit-only", {{Folder, Admins + "(OA;IO;FR;;;BU)"}},
       Folder + u"'s DACL entry 2 is of type 5" + unread},
      {"file: an entry too short for its SID", {{File, Admins + "(A;;FR;;;BU)"}},
       File + u"'s DACL entry 2 does not hold a whole SID, so someone other than an administrator could have put the installer there",
       [=](FakeWindowsState& f) { f.aceCutShortOn = File; }},
      {"a volume without ACLs (FAT, exFAT)", {}, u"the installer's volume keeps no permissions (FAT or exFAT), so anyone could have put it there",
       [](FakeWindowsState& f) { f.volumeFlags = 0x3; }},
      {"a folder on the way that cannot be opened", {}, u"who may change C:\\Vendor cannot be read (error 5)",
       [=](FakeWindowsState& f) { f.openErrors[Above] = platform::ErrorAccessDenied; }},
      // Windows' defaults: a per-machine install under Program Files (x86) passes when it was made from an
      // elevated token or as SYSTEM (msiexec's service), not where the installing account owns what it
      // made (the built-in Administrator, UAC off, or the policy "System objects: Default owner for
      // objects created by members of the Administrators group" set to "Object creator").
      {"default: Program Files (x86), installed elevated: started",
       {{Root, rootSddl}, {x86, programFiles}, {vantorq, vendorFolder("BA")}, {vantorq + u"\\SentrelInstaller.exe", vendorFile("BA")}},
       u"", [](FakeWindowsState&) {}, vantorq},
      {"default: Program Files (x86), installed as SYSTEM: started",
       {{Root, rootSddl}, {x86, programFiles}, {vantorq, vendorFolder("SY")}, {vantorq + u"\\SentrelInstaller.exe", vendorFile("SY")}},
       u"", [](FakeWindowsState&) {}, vantorq},
      {"default: Program Files (x86), owned by the installing account",
       {{Root, rootSddl}, {x86, programFiles}, {vantorq, vendorFolder("S-1-5-21-1-2-3-500")},
        {vantorq + u"\\SentrelInstaller.exe", vendorFile("S-1-5-21-1-2-3-500")}},
       Owned(vantorq, u"VANTORQ-PC\\Administrator (S-1-5-21-1-2-3-500)", true), [](FakeWindowsState&) {}, vantorq},
      // A folder made under a volume's root inherits the root's inherit-only "Authenticated Users: Modify".
      {"default: a folder under the drive root, installed elevated",
       {{Root, rootSddl},
        {underRoot, "O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)"},
        {underRoot + u"\\SentrelInstaller.exe", "O:BAD:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)(A;ID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"}},
       Changed(underRoot, Au, u"S-1-5-11", u"add file"), [](FakeWindowsState&) {}, underRoot},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeWindows();
    ScriptSignedPair(c.directory);
    auto& fake = FakeWindows();
    fake.attributes[c.directory + u"\\vendor.dll"] = Archive;
    for (const auto& [path, sddl] : c.descriptors) fake.security[path] = sddl;
    c.script(fake);
    const std::u16string installer = c.directory + u"\\SentrelInstaller.exe";

    EXPECT_EQ(RunLaunchSequence(), 0);
    ExpectEverythingClosed();
    if (!c.expectedReason.empty()) {
      EXPECT_EQ(Printable(fake.debugOutput), Printable(Refused + c.expectedReason + u": " + installer + u"\n"));
      EXPECT_TRUE(fake.shellCalls.empty());
      EXPECT_TRUE(fake.verifications.size() <= 1) << "the installer verified, though refused before";
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
