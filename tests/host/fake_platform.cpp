#include "tests/host/fake_platform.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

namespace {

FakeWindowsState state;
std::map<platform::RegistryKeyHandle, std::u16string> openKeyNames;  // handle -> fake key name
platform::RegistryKeyHandle nextKeyHandle = 0x1000;

std::string Narrow(const char16_t* text) {
  std::string out;
  for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

std::string Hex(std::uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%08llx", static_cast<unsigned long long>(value & 0xFFFFFFFFu));
  return buffer;
}

bool IsPredefined(platform::RegistryKeyHandle key) { return key >= 0x80000000u; }

std::u16string KeyNameOf(platform::RegistryKeyHandle key) {
  if (IsPredefined(key)) {
    std::string hex = Hex(key);
    return std::u16string(hex.begin(), hex.end());
  }
  auto found = openKeyNames.find(key);
  return found == openKeyNames.end() ? std::u16string() : found->second;
}

platform::Status OpenOrCreate(const char* call, platform::RegistryKeyHandle base, const char16_t* subKey,
                              platform::Dword access, platform::RegistryKeyHandle* result, bool create) {
  state.calls.push_back(std::string(call) + " " + Hex(base) + " " + Narrow(subKey) + " " + Hex(access));
  if (state.failOpenWith != platform::ErrorSuccess) return state.failOpenWith;
  std::u16string baseName = KeyNameOf(base);
  if (baseName.empty()) return 6;  // ERROR_INVALID_HANDLE
  if (IsPredefined(base) && (access & platform::KeyWow64_64Key)) baseName += u" 64-bit view";
  const std::u16string name = baseName + u"\\" + subKey;
  if (!state.keys.count(name)) {
    if (!create) return platform::ErrorFileNotFound;
    state.keys[name];
  }
  *result = nextKeyHandle++;
  openKeyNames[*result] = name;
  ++state.openKeys;
  return platform::ErrorSuccess;
}

}  // namespace

FakeWindowsState& FakeWindows() { return state; }

void ResetFakeWindows() {
  state = FakeWindowsState();
  openKeyNames.clear();
}

std::u16string FakeKeyName(platform::RegistryKeyHandle root, const std::u16string& path, bool in64BitView) {
  return KeyNameOf(root) + (in64BitView ? u" 64-bit view\\" : u"\\") + path;
}

namespace platform {

Status RegOpenKeyExW(RegistryKeyHandle base, const char16_t* subKey, Dword access, RegistryKeyHandle* result) {
  return OpenOrCreate("RegOpenKeyExW", base, subKey, access, result, false);
}

Status RegCreateKeyExW(RegistryKeyHandle base, const char16_t* subKey, Dword access, RegistryKeyHandle* result) {
  return OpenOrCreate("RegCreateKeyExW", base, subKey, access, result, true);
}

Status RegQueryValueExW(RegistryKeyHandle key, const char16_t* valueName, Dword* type, std::uint8_t* data,
                        Dword* size) {
  state.calls.push_back(std::string("RegQueryValueExW ") + Narrow(valueName) + (data ? " data" : " size"));
  Status status = ErrorSuccess;
  auto name = openKeyNames.find(key);
  if (name == openKeyNames.end()) {
    status = 6;  // ERROR_INVALID_HANDLE
  } else if (data && state.failDataQueryWith != ErrorSuccess) {
    status = state.failDataQueryWith;
  } else if (!data && state.failSizeQueryWith != ErrorSuccess) {
    status = state.failSizeQueryWith;
  } else {
    auto& values = state.keys[name->second].values;
    auto value = values.find(valueName);
    if (value == values.end()) {
      status = ErrorFileNotFound;
    } else {
      const auto needed = static_cast<Dword>(value->second.data.size());
      *type = value->second.type;
      if (data && *size < needed) {
        status = ErrorMoreData;
      } else if (data && needed > 0) {
        std::memcpy(data, value->second.data.data(), needed);  // ASan checks the caller's buffer
      }
      *size = needed + (data && status == ErrorSuccess ? state.overstateReturnedSize : 0);
    }
  }
  ++state.queries;
  if (state.afterQuery) state.afterQuery(state.queries);
  return status;
}

Status RegFlushKey(RegistryKeyHandle key) {
  state.calls.push_back("RegFlushKey " + Narrow(KeyNameOf(key).c_str()));
  return ErrorSuccess;
}

Status RegCloseKey(RegistryKeyHandle key) {
  state.calls.push_back("RegCloseKey " + Narrow(KeyNameOf(key).c_str()));
  if (!openKeyNames.erase(key)) return 6;
  --state.openKeys;
  return ErrorSuccess;
}

Dword GetACP() { return state.ansiCodePage; }

namespace {

int Fail(Status error) {
  state.lastError = static_cast<Dword>(error);
  return 0;
}

// Copies out into the caller's buffer as Windows does: capacity 0 asks for the size, a short buffer fails.
template <typename Unit>
int Deliver(const std::basic_string<Unit>& out, Unit* buffer, int capacity) {
  const int length = static_cast<int>(out.size());
  if (capacity == 0) return length;
  if (capacity < length) return Fail(122);  // ERROR_INSUFFICIENT_BUFFER
  std::copy(out.begin(), out.end(), buffer);
  return length;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Windows' documented contract for WideCharToMultiByte's flags and lpUsedDefaultChar.
bool BreaksConversionContract(Dword codePage, Dword flags, const bool* usedDefaultChar) {
  const bool onlyZero = codePage == CpUtf7 || codePage == CpSymbol || (codePage >= 50220 && codePage <= 50229) ||
                        (codePage >= 57002 && codePage <= 57011);
  const bool zeroOrInvalidChars = codePage == CpUtf8 || codePage == CpGb18030;
  if (onlyZero && flags != 0) return true;
  if (zeroOrInvalidChars && flags != 0 && flags != WcErrInvalidChars) return true;
  return (codePage == CpUtf7 || codePage == CpUtf8) && usedDefaultChar != nullptr;
}

}  // namespace

int MultiByteToWideChar(Dword codePage, const char* bytes, int byteCount, char16_t* units, int capacity) {
  std::u16string out;
  if (codePage == CpUtf8) {
    // Enough of UTF-8 for text this fake encoded itself; a malformed sequence gives U+FFFD.
    for (int i = 0; i < byteCount;) {
      const auto lead = static_cast<unsigned char>(bytes[i]);
      const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
      if (length == 0 || i + length > byteCount) {
        out += u'\xFFFD';
        ++i;
        continue;
      }
      char32_t c = length == 1 ? lead : lead & (0xFF >> (length + 1));
      for (int k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
      if (c >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        out += static_cast<char16_t>(c);
      }
      i += length;
    }
  } else {
    for (int i = 0; i < byteCount; ++i) out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]));
  }
  return Deliver(out, units, capacity);
}

int WideCharToMultiByte(Dword codePage, Dword flags, const char16_t* units, int unitCount, char* bytes, int capacity,
                        bool* usedDefaultChar) {
  if (BreaksConversionContract(codePage, flags, usedDefaultChar)) {
    ++state.rejectedConversions;
    return Fail(usedDefaultChar && (codePage == CpUtf7 || codePage == CpUtf8) ? ErrorInvalidParameter
                                                                                : ErrorInvalidFlags);
  }
  std::string out;
  bool usedDefault = false;
  for (int i = 0; i < unitCount; ++i) {
    const char16_t unit = units[i];
    if (codePage == CpUtf8) {
      if (IsHighSurrogate(unit) && i + 1 < unitCount && IsLowSurrogate(units[i + 1])) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
        ++i;
      } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
        if (flags & WcErrInvalidChars) return Fail(ErrorNoUnicodeTranslation);
        AppendUtf8(out, 0xFFFD);
      } else {
        AppendUtf8(out, unit);
      }
    } else if (unit < 0x100) {
      out += static_cast<char>(unit);
    } else if (!(flags & WcNoBestFitChars) && unit == u'\x0141') {
      out += 'L';  // best fit: a look-alike, and no default character reported
    } else if (!(flags & WcNoBestFitChars) && unit == u'\xFF3C') {
      out += '\\';
    } else {
      out += '?';
      usedDefault = true;
    }
  }
  if (usedDefaultChar) *usedDefaultChar = usedDefault;
  return Deliver(out, bytes, capacity);
}

bool SetDefaultDllDirectories(Dword directoryFlags) {
  state.calls.push_back("SetDefaultDllDirectories " + Hex(directoryFlags));
  if (!state.hasSetDefaultDllDirectories) return Fail(ErrorProcNotFound) != 0;
  return true;
}

bool SetTokenVirtualizationEnabled(bool enabled) {
  state.calls.push_back(std::string("SetTokenVirtualizationEnabled ") + (enabled ? "1" : "0"));
  return state.virtualizationSettable;
}

bool SetDllDirectoryW(const char16_t* directory) {
  state.calls.push_back(directory ? "SetDllDirectoryW \"" + Narrow(directory) + "\"" : "SetDllDirectoryW (null)");
  return true;
}

Dword GetFileAttributesW(const char16_t* path) {
  ++state.probes;
  auto error = state.attributeErrors.find(path);
  if (error != state.attributeErrors.end()) {
    state.lastError = static_cast<Dword>(error->second);
    return InvalidFileAttributes;
  }
  auto found = state.attributes.find(path);
  if (found == state.attributes.end()) {
    state.lastError = static_cast<Dword>(state.missingError);
    return InvalidFileAttributes;
  }
  return found->second;
}

Dword GetLastError() { return state.lastError; }

FindHandle FindFirstFileW(const char16_t* pattern, Dword* foundAttributes) {
  ++state.searches;
  auto found = state.attributes.find(pattern);
  if (found == state.attributes.end()) return InvalidFindHandle;
  *foundAttributes = found->second;
  ++state.openSearches;
  return 0x2000;
}

void FindClose(FindHandle) { --state.openSearches; }

void ShellExecuteA(const char* operation, const char* file, const char* parameters, const char* directory,
                   int showCommand) {
  // Null pointers are recorded as "(null)" so that a test can tell them from empty text.
  auto text = [](const char* s) { return s ? std::string(s) : std::string("(null)"); };
  state.calls.push_back("ShellExecuteA");
  state.shellCalls.push_back({text(operation), text(file), text(parameters), text(directory), showCommand});
  for (const auto& open : state.openFiles) {
    state.heldAtShellExecute.push_back(open.second);
    state.handlesHeldAtShellExecute.push_back(open.first);
  }
  for (const auto& open : state.openForSecurity) state.foldersHeldAtShellExecute.push_back(open.second);
  state.folderHandlesHeldAtShellExecute = state.openForSecurity;
}

FileHandle CreateFileW(const char16_t* path, Dword access, Dword share, Dword flagsAndAttributes) {
  state.calls.push_back("CreateFileW " + Narrow(path));
  state.opens.push_back({path, access, share, flagsAndAttributes});
  const auto error = state.openErrors.find(path);
  // A file to read is there unless openErrors says otherwise; an object whose security is read must be scripted.
  const bool exists = (access & GenericRead) || state.attributes.count(path) || state.security.count(path) ||
                      std::u16string(path).size() == 3;
  if (error != state.openErrors.end() || !exists) {
    state.lastError = static_cast<Dword>(error != state.openErrors.end() ? error->second : state.missingError);
    return InvalidFileHandle;
  }
  static FileHandle next = 0x3000;
  const FileHandle file = next += 4;
  (access & GenericRead ? state.openFiles : state.openForSecurity)[file] = path;
  return file;
}

void CloseFileHandle(FileHandle file) {
  if (!state.openFiles.erase(file) && !state.openForSecurity.erase(file)) state.lastError = 6;
}

Dword GetModuleFileNameW(char16_t* buffer, Dword capacity) {
  if (state.modulePath.size() >= capacity) return 0;
  std::copy(state.modulePath.begin(), state.modulePath.end(), buffer);
  buffer[state.modulePath.size()] = u'\0';
  return static_cast<Dword>(state.modulePath.size());
}

Dword GetSystemDirectoryW(char16_t* buffer, Dword capacity) {
  state.calls.push_back("GetSystemDirectoryW");
  if (state.systemDirectory.empty() || state.systemDirectory.size() >= capacity) return Fail(ErrorSuccess);
  std::copy(state.systemDirectory.begin(), state.systemDirectory.end(), buffer);
  buffer[state.systemDirectory.size()] = u'\0';
  return static_cast<Dword>(state.systemDirectory.size());
}

Dword GetDriveTypeW(const char16_t* root) {
  state.calls.push_back("GetDriveTypeW " + Narrow(root));
  const auto found = state.driveTypes.find(root);
  return found == state.driveTypes.end() ? 3 : found->second;  // DRIVE_FIXED
}

Dword GetFinalPathNameByHandleW(FileHandle file, char16_t* buffer, Dword capacity) {
  state.calls.push_back("GetFinalPathNameByHandleW");
  const auto open = state.openFiles.find(file);
  if (open == state.openFiles.end()) return static_cast<Dword>(Fail(6));  // ERROR_INVALID_HANDLE
  if (state.finalPathError != 0) return static_cast<Dword>(Fail(state.finalPathError));
  const auto found = state.finalPaths.find(open->second);
  const std::u16string path = found != state.finalPaths.end() ? found->second : u"\\\\?\\" + open->second;
  if (path.size() >= capacity) return 0;
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = u'\0';
  return static_cast<Dword>(path.size());
}

namespace {
// The system's upper-case table, for the letters the tests use: ASCII, Latin-1, Greek and Cyrillic.
char16_t UpperCase(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F))
    return static_cast<char16_t>(c - 0x20);
  return c;
}
}  // namespace

int CompareStringOrdinal(const char16_t* left, int leftLength, const char16_t* right, int rightLength,
                         bool ignoreCase) {
  state.calls.push_back("CompareStringOrdinal");
  for (int i = 0; i < leftLength && i < rightLength; ++i) {
    const char16_t l = ignoreCase ? UpperCase(left[i]) : left[i], r = ignoreCase ? UpperCase(right[i]) : right[i];
    if (l != r) return l < r ? 1 : 3;
  }
  return leftLength == rightLength ? CstrEqual : leftLength < rightLength ? 1 : 3;
}

Status LoadTrustLibraries(const char16_t* crypt32Path, const char16_t* wintrustPath) {
  state.calls.push_back("LoadTrustLibraries " + Narrow(crypt32Path) + " " + Narrow(wintrustPath));
  state.trustLibrariesLoaded = true;
  return 0;
}

// Checks what Windows would: the handle is open, on the file that path names.
Status VerifyTrust(FileHandle file, const char16_t* path, RevocationCheck revocation, Dword providerFlags,
                   TrustState* trustState) {
  const bool revocationChecked = revocation == RevocationCheck::Cached;
  state.calls.push_back(std::string("VerifyTrust ") + (revocationChecked ? "cached revocation" : "no revocation"));
  static TrustState next = 0x5000;
  *trustState = next += 4;
  state.openTrustStates[*trustState] = path;
  state.verifications.push_back({file, path, revocationChecked, providerFlags});
  if (!state.trustLibrariesLoaded) return static_cast<Status>(0x8007007Fu);  // ERROR_PROC_NOT_FOUND
  const auto open = state.openFiles.find(file);
  if (open == state.openFiles.end() || open->second != path) return static_cast<Status>(0xBAD0F11Eu);
  const auto found = state.signatures.find(path);
  if (found == state.signatures.end()) return TrustENoSignature;
  return revocationChecked ? found->second.status : found->second.withoutRevocation;
}

bool GetSignerSubject(TrustState trustState, SignerSubject* signer) {
  const auto verified = state.openTrustStates.find(trustState);
  if (verified == state.openTrustStates.end()) return false;
  const auto found = state.signatures.find(verified->second);
  if (found == state.signatures.end() || !found->second.subjectReadable) return false;
  // The subject's "encoding": a string-type tag, then its text.
  const std::string& subject = found->second.subject;
  signer->encoded[0] = found->second.stringType;
  std::copy(subject.begin(), subject.end(), signer->encoded + 1);
  signer->size = static_cast<Dword>(subject.size() + 1);
  std::copy(subject.begin(), subject.end(), signer->text);
  signer->text[subject.size()] = u'\0';
  return true;
}

void CloseTrustState(FileHandle, const char16_t*, TrustState trustState) {
  state.calls.push_back("CloseTrustState");
  if (!state.openTrustStates.erase(trustState)) ++state.strayTrustCloses;
}

namespace {

using Bytes = std::vector<std::uint8_t>;

void AppendLittleEndian32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A SID's bytes from SDDL: an alias, or "S-1-<authority>-<sub>...".
Bytes SidBytes(const std::string& text) {
  static const std::map<std::string, std::string> aliases = {{"BA", "S-1-5-32-544"}, {"SY", "S-1-5-18"},
      {"BU", "S-1-5-32-545"}, {"AU", "S-1-5-11"}, {"CO", "S-1-3-0"}, {"WD", "S-1-1-0"}};
  const auto alias = aliases.find(text);
  std::string sid = alias != aliases.end() ? alias->second : text;
  std::vector<std::uint64_t> parts;
  for (std::size_t at = 2; at < sid.size(); at = sid.find('-', at) + 1) {
    parts.push_back(std::stoull(sid.substr(at)));
    if (sid.find('-', at) == std::string::npos) break;
  }
  Bytes out = {static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts.size() - 2)};
  for (int i = 5; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(parts[1] >> (8 * i)));
  for (std::size_t i = 2; i < parts.size(); ++i) AppendLittleEndian32(out, static_cast<std::uint32_t>(parts[i]));
  return out;
}

std::uint32_t Codes(const std::string& text, const std::map<std::string, std::uint32_t>& codes) {
  if (text.rfind("0x", 0) == 0) return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
  std::uint32_t value = 0;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) value |= codes.at(text.substr(i, 2));
  return value;
}

struct FakeDescriptor {
  Bytes owner;
  bool hasDacl = false;
  std::vector<Bytes> aces;
};

FakeDescriptor ParseSddl(const std::string& sddl) {
  static const std::map<std::string, std::uint32_t> types = {{"A", 0}, {"D", 1}, {"OA", 5}, {"XA", 9}};
  static const std::map<std::string, std::uint32_t> flags = {{"OI", 1}, {"CI", 2}, {"NP", 4}, {"IO", 8}, {"ID", 0x10}};
  static const std::map<std::string, std::uint32_t> rights = {{"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000},
      {"GX", 0x20000000}, {"FA", 0x1F01FF}, {"FR", 0x120089}, {"FW", 0x120116}, {"FX", 0x1200A0},
      {"SD", 0x10000}, {"RC", 0x20000}, {"WD", 0x40000}, {"WO", 0x80000}};
  FakeDescriptor out;
  const std::size_t owner = sddl.find("O:"), group = sddl.find("G:"), dacl = sddl.find("D:");
  if (owner != std::string::npos) out.owner = SidBytes(sddl.substr(owner + 2, std::min(group, dacl) - owner - 2));
  if (dacl == std::string::npos || sddl.compare(dacl + 2, 17, "NO_ACCESS_CONTROL") == 0) return out;
  out.hasDacl = true;
  for (std::size_t open = sddl.find('(', dacl); open != std::string::npos; open = sddl.find('(', open + 1)) {
    std::vector<std::string> field;
    for (std::size_t at = open + 1;; ++at) {
      const std::size_t end = sddl.find_first_of(";)", at);
      field.push_back(sddl.substr(at, end - at));
      if (sddl[at = end] == ')') break;
    }
    const Bytes sid = SidBytes(field[5]);
    Bytes ace = {static_cast<std::uint8_t>(types.at(field[0])), static_cast<std::uint8_t>(Codes(field[1], flags)),
                 static_cast<std::uint8_t>(8 + sid.size()), 0};
    AppendLittleEndian32(ace, Codes(field[2], rights));
    ace.insert(ace.end(), sid.begin(), sid.end());
    out.aces.push_back(ace);
  }
  return out;
}

std::string SidString(const std::uint8_t* sid) {
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::string text = "S-1-" + std::to_string(authority);
  for (int i = 0; i < sid[1]; ++i) {
    const std::uint8_t* sub = sid + 8 + 4 * i;
    text += "-" + std::to_string(sub[0] | (sub[1] << 8) | (sub[2] << 16) | (static_cast<std::uint32_t>(sub[3]) << 24));
  }
  return text;
}

}  // namespace

Status GetSecurityInfo(FileHandle file, SecurityDescriptor* descriptor, const std::uint8_t** owner, const void** dacl) {
  const auto open = state.openForSecurity.count(file) ? state.openForSecurity.find(file) : state.openFiles.find(file);
  if (open == state.openFiles.end()) return 6;  // ERROR_INVALID_HANDLE
  state.securityReads.emplace_back(file, open->second);
  const auto scripted = state.security.find(open->second);
  auto* parsed = new FakeDescriptor(ParseSddl(scripted != state.security.end() ? scripted->second : state.defaultSecurity));
  if (open->second == state.aceCutShortOn) parsed->aces.back()[2] = 12;
  ++state.openDescriptors;
  *descriptor = reinterpret_cast<SecurityDescriptor>(parsed);
  *owner = parsed->owner.empty() ? nullptr : parsed->owner.data();
  *dacl = parsed->hasDacl ? parsed : nullptr;
  return 0;
}

void LocalFree(SecurityDescriptor descriptor) {
  delete reinterpret_cast<FakeDescriptor*>(descriptor);
  --state.openDescriptors;
}

bool GetAclAceCount(const void* acl, Dword* count) {
  *count = static_cast<Dword>(static_cast<const FakeDescriptor*>(acl)->aces.size());
  return true;
}

const std::uint8_t* GetAce(const void* acl, Dword index) {
  const auto& aces = static_cast<const FakeDescriptor*>(acl)->aces;
  return index < aces.size() ? aces[index].data() : nullptr;
}

bool IsValidSid(const std::uint8_t* sid) { return sid[0] == 1 && sid[1] <= 15; }

Dword LookupAccountSidW(const std::uint8_t* sid, char16_t* buffer, Dword capacity) {
  static const std::map<std::string, std::string> names = {{"S-1-5-11", "NT AUTHORITY\\Authenticated Users"},
      {"S-1-5-32-545", "BUILTIN\\Users"}, {"S-1-1-0", "Everyone"}, {"S-1-5-21-1-2-3-1001", "VANTORQ-PC\\installer"},
      {"S-1-5-21-1-2-3-500", "VANTORQ-PC\\Administrator"}};
  const auto found = names.find(SidString(sid));
  if (found == names.end() || found->second.size() >= capacity) return 0;
  std::copy(found->second.begin(), found->second.end(), buffer);
  buffer[found->second.size()] = u'\0';
  return static_cast<Dword>(found->second.size());
}

bool GetVolumeFileSystemFlags(FileHandle, Dword* flags) {
  *flags = state.volumeFlags;
  return true;
}

namespace {
std::vector<std::u16string> listing;  // the entries FindFirstFileNameW found, last first
std::u16string listed;                 // their folder
bool NextName(char16_t* name, Dword* attributes) {
  if (listing.empty()) return Fail(ErrorNoMoreFiles) != 0;
  std::copy(listing.back().begin(), listing.back().end(), name);
  name[listing.back().size()] = u'\0';
  const auto found = state.attributes.find(listed + u"\\" + listing.back());
  *attributes = found != state.attributes.end() ? found->second : FileAttributeDirectory;  // "." and ".."
  listing.pop_back();
  return true;
}
}  // namespace

// The entries of "<folder>\*": the scripted paths directly in it, with "." and "..".
FindHandle FindFirstFileNameW(const char16_t* pattern, char16_t* name, Dword* attributes) {
  const std::u16string folder = std::u16string(pattern).substr(0, std::u16string(pattern).size() - 2);
  listed = folder;
  listing = {u"..", u"."};
  for (const auto& entry : state.attributes)
    if (entry.first.size() > folder.size() + 1 && entry.first.compare(0, folder.size() + 1, folder + u"\\") == 0 &&
        entry.first.find(u'\\', folder.size() + 1) == std::u16string::npos)
      listing.insert(listing.begin(), entry.first.substr(folder.size() + 1));
  ++state.openSearches;
  NextName(name, attributes);
  return 0x2004;
}

bool FindNextFileNameW(FindHandle, char16_t* name, Dword* attributes) { return NextName(name, attributes); }

void OutputDebugStringW(const char16_t* text) { state.debugOutput += text; }

void ExitProcess(unsigned exitCode) { throw FakeProcessExit{exitCode}; }

}  // namespace platform
