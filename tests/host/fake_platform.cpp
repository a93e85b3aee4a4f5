#include "tests/host/fake_platform.h"

#include <cstdio>
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
  const std::u16string baseName = KeyNameOf(base);
  if (baseName.empty()) return 6;  // ERROR_INVALID_HANDLE
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

std::u16string FakeKeyName(platform::RegistryKeyHandle root, const std::u16string& path) {
  return KeyNameOf(root) + u"\\" + path;
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

// Code page 1252 stood in by Latin-1: enough for the rules above the platform, which only pass text through.
Dword GetACP() { return 1252; }

int MultiByteToWideChar(Dword, const char* bytes, int byteCount, char16_t* units, int capacity) {
  if (capacity == 0) return byteCount;
  if (capacity < byteCount) return 0;
  for (int i = 0; i < byteCount; ++i) units[i] = static_cast<unsigned char>(bytes[i]);
  return byteCount;
}

int WideCharToMultiByte(Dword, const char16_t* units, int unitCount, char* bytes, int capacity) {
  if (capacity == 0) return unitCount;
  if (capacity < unitCount) return 0;
  for (int i = 0; i < unitCount; ++i) bytes[i] = units[i] < 0x100 ? static_cast<char>(units[i]) : '?';
  return unitCount;
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
  state.shellCalls.push_back({text(operation), text(file), text(parameters), text(directory), showCommand});
}

void OutputDebugStringW(const char16_t* text) { state.debugOutput += text; }

void ExitProcess(unsigned exitCode) { throw FakeProcessExit{exitCode}; }

}  // namespace platform
