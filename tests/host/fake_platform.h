// A scripted stand-in for the Windows platform layer, linked into the host tests instead of
// platform/win32. Each test scripts FakeWindows() and reads back what the code under test asked of it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/win32_api.h"

struct FakeRegistryValue {
  platform::Dword type = platform::RegSz;
  std::vector<std::uint8_t> data;
};

struct FakeRegistryKey {
  std::map<std::u16string, FakeRegistryValue> values;
};

struct FakeShellCall {
  std::string operation, file, parameters, directory;
  int showCommand = 0;
};

struct FakeProcessExit {
  unsigned exitCode;
};

struct FakeWindowsState {
  // Registry: keys by "<root>\<path>" (root as hex), e.g. "80000002\Software\X"; a key that a 32-bit
  // process opens with KEY_WOW64_64KEY lives in the 64-bit view, "80000002 64-bit view\Software\X".
  std::map<std::u16string, FakeRegistryKey> keys;
  platform::Status failOpenWith = platform::ErrorSuccess;  // when set, every open/create fails with it
  platform::Status failSizeQueryWith = platform::ErrorSuccess;  // when set, queries without a buffer fail
  platform::Status failDataQueryWith = platform::ErrorSuccess;  // when set, queries with a buffer fail
  platform::Dword overstateReturnedSize = 0;  // a misbehaving platform: reports more bytes than it wrote
  // Runs after every RegQueryValueExW that returned, with the number of queries made so far: lets a
  // test change a value between the size query and the data query.
  std::function<void(int queriesSoFar)> afterQuery;
  int queries = 0;
  // "RegOpenKeyExW 80000002 Software\X 00020019", "SetDefaultDllDirectories 00000800", "ShellExecuteA"...
  std::vector<std::string> calls;
  int openKeys = 0;                // opened minus closed; must be 0 when the code under test is done

  // Files: attributes by exact path; a path absent here fails with missingError.
  std::map<std::u16string, platform::Dword> attributes;
  platform::Status missingError = platform::ErrorFileNotFound;
  // Paths whose GetFileAttributesW fails with the given error even though a search finds them.
  std::map<std::u16string, platform::Status> attributeErrors;
  int searches = 0;  // FindFirstFileW calls
  int openSearches = 0;
  int probes = 0;

  // Code pages: GetACP's answer. 1252 is modelled as Latin-1 with a best-fit table of two look-alikes
  // (U+0141 to "L", U+FF3C to "\\"), 65001 as UTF-8; WideCharToMultiByte enforces Windows' documented
  // flag contract, which Wine does not, and counts each call it rejects.
  platform::Dword ansiCodePage = 1252;
  int rejectedConversions = 0;

  // DLL search: whether kernel32 has SetDefaultDllDirectories (Windows 7 without KB2533623 does not).
  bool hasSetDefaultDllDirectories = true;
  // Whether the token lets virtualization be turned off (not where UAC is off; Wine only stubs it).
  bool virtualizationSettable = true;

  // Signatures (the same-publisher build): this program's own path, each file's WinVerifyTrust answers
  // and signer subject by path (absent: TRUST_E_NOSIGNATURE), and the open files by handle. An open
  // fails with openErrors' error where a path has one (someone else has it open for writing, say).
  struct Signature {
    platform::Status status = 0;             // the answer with revocation checked against the cache
    std::string subject;
    std::uint8_t stringType = 0x13;          // the subject's encoding: its text after this tag (PrintableString)
    platform::Status withoutRevocation = 0;  // the answer with revocation not checked
    bool subjectReadable = true;             // false: the verification holds, its signer's subject cannot be read
  };
  std::u16string modulePath = u"C:\\Vendor\\Launcher-same-publisher.exe";
  std::u16string systemDirectory = u"C:\\windows\\system32";  // empty: GetSystemDirectoryW fails, last error 0
  std::map<std::u16string, Signature> signatures;
  std::map<std::u16string, platform::Status> openErrors;
  // CreateFileW: the files opened to read (GENERIC_READ) and the objects opened to read their security,
  // each by handle; every open with its access, sharing and flags.
  struct Open {
    std::u16string path;
    platform::Dword access, share, flags;
  };
  std::vector<Open> opens;
  std::map<platform::FileHandle, std::u16string> openFiles, openForSecurity;
  std::vector<std::u16string> heldAtShellExecute;  // the files open when ShellExecuteA was called
  std::vector<platform::FileHandle> handlesHeldAtShellExecute;
  std::vector<std::u16string> foldersHeldAtShellExecute;  // the objects open for their security then
  std::map<platform::FileHandle, std::u16string> folderHandlesHeldAtShellExecute;  // the same, by handle
  // Each GetSecurityInfo: the handle it was given, and the path that handle was opened with.
  std::vector<std::pair<platform::FileHandle, std::u16string>> securityReads;

  // Who may change each file and folder, as SDDL ("O:BAD:PAI(A;OICI;FA;;;SY)..."; no "D:", or
  // "D:NO_ACCESS_CONTROL": no DACL), by path; absent: defaultSecurity. Aliases BA SY BU AU CO WD; ACE types
  // A, D, XA, OA; flags OI CI NP IO ID; rights in hex or GA GR GW GX FA FR FW FX SD RC WD WO.
  std::map<std::u16string, std::string> security;
  std::string defaultSecurity = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  std::u16string aceCutShortOn;  // this path's last entry claims 12 bytes: too few for its SID
  platform::Dword volumeFlags = 0x0000000F;  // FILE_PERSISTENT_ACLS among them
  int openDescriptors = 0;  // GetSecurityInfo's not yet freed
  bool trustLibrariesLoaded = false;  // no verification answers before LoadTrustLibraries
  // Each verification asked for: the handle, the path, whether revocation was checked; the states not
  // yet closed, by state; closes of a state never opened or already closed.
  struct Verification {
    platform::FileHandle file;
    std::u16string path;
    bool revocationChecked;
    platform::Dword providerFlags;
  };
  std::vector<Verification> verifications;
  std::map<platform::TrustState, std::u16string> openTrustStates;
  int strayTrustCloses = 0;
  // Where each file is: GetFinalPathNameByHandleW by the path the handle was opened with (absent: that
  // path after "\\?\"), failing with finalPathError where set; GetDriveTypeW by root (absent: DRIVE_FIXED).
  std::map<std::u16string, std::u16string> finalPaths;
  platform::Status finalPathError = 0;
  std::map<std::u16string, platform::Dword> driveTypes;

  platform::Dword lastError = 0;
  std::vector<FakeShellCall> shellCalls;
  std::u16string debugOutput;
};

FakeWindowsState& FakeWindows();
void ResetFakeWindows();

// The fake's key name for a path under a root, for scripting FakeWindowsState::keys.
std::u16string FakeKeyName(platform::RegistryKeyHandle root, const std::u16string& path, bool in64BitView = false);
