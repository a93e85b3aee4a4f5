// The Windows implementation of the platform layer: each function forwards to the system call of the
// same name. The portable constants in win32_api.h are checked against <windows.h> here.
#include "platform/win32_api.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");
static_assert(KeyRead == KEY_READ && KeyAllAccess == KEY_ALL_ACCESS && KeyWow64_64Key == KEY_WOW64_64KEY &&
              KeyWow64_32Key == KEY_WOW64_32KEY);
static_assert(RegNone == REG_NONE && RegSz == REG_SZ && RegExpandSz == REG_EXPAND_SZ && RegBinary == REG_BINARY &&
              RegDword == REG_DWORD && RegMultiSz == REG_MULTI_SZ);
static_assert(ErrorSuccess == ERROR_SUCCESS && ErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
              ErrorPathNotFound == ERROR_PATH_NOT_FOUND && ErrorAccessDenied == ERROR_ACCESS_DENIED &&
              ErrorSharingViolation == ERROR_SHARING_VIOLATION && ErrorInvalidName == ERROR_INVALID_NAME &&
              ErrorMoreData == ERROR_MORE_DATA);
static_assert(InvalidFileAttributes == INVALID_FILE_ATTRIBUTES && FileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(SwShowNormal == SW_SHOWNORMAL);
static_assert(CpUtf7 == CP_UTF7 && CpUtf8 == CP_UTF8 && CpSymbol == CP_SYMBOL);
static_assert(WcErrInvalidChars == WC_ERR_INVALID_CHARS && WcNoBestFitChars == WC_NO_BEST_FIT_CHARS);
static_assert(ErrorInvalidParameter == ERROR_INVALID_PARAMETER && ErrorProcNotFound == ERROR_PROC_NOT_FOUND &&
              ErrorInvalidFlags == ERROR_INVALID_FLAGS && ErrorNoUnicodeTranslation == ERROR_NO_UNICODE_TRANSLATION);
static_assert(LoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32);

HKEY ToHkey(RegistryKeyHandle key) { return reinterpret_cast<HKEY>(key); }
const wchar_t* ToWchar(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// Touching a removable drive without media (a stale A:\ or an ejected USB stick in the setting) makes
// Windows show a modal "There is no disk in the drive" box unless critical errors are failed. The thread
// error mode is used, not SetErrorMode: the process mode is inherited by the installer we start.
class CriticalErrorBoxesSuppressed {
 public:
  CriticalErrorBoxesSuppressed() {
    suppressed_ = SetThreadErrorMode(GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &previous_) != FALSE;
  }
  ~CriticalErrorBoxesSuppressed() {
    if (!suppressed_) return;
    DWORD error = ::GetLastError();  // restoring the mode must not hide the probe's own error
    SetThreadErrorMode(previous_, nullptr);
    SetLastError(error);
  }
  CriticalErrorBoxesSuppressed(const CriticalErrorBoxesSuppressed&) = delete;
  CriticalErrorBoxesSuppressed& operator=(const CriticalErrorBoxesSuppressed&) = delete;

 private:
  DWORD previous_ = 0;
  bool suppressed_ = false;
};

// Sole owner of a kernel object handle (here, an access token): closed exactly once.
class UniqueKernelHandle {
 public:
  UniqueKernelHandle() = default;
  ~UniqueKernelHandle() {
    if (handle_) CloseHandle(handle_);
  }
  UniqueKernelHandle(const UniqueKernelHandle&) = delete;
  UniqueKernelHandle& operator=(const UniqueKernelHandle&) = delete;

  HANDLE Get() const { return handle_; }
  // For functions that hand out a handle through an out-parameter; only while none is owned.
  HANDLE* Receive() { return &handle_; }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace

Status RegOpenKeyExW(RegistryKeyHandle base, const char16_t* subKey, Dword access, RegistryKeyHandle* result) {
  HKEY opened = nullptr;
  LSTATUS status = ::RegOpenKeyExW(ToHkey(base), ToWchar(subKey), 0, access, &opened);
  if (status == ERROR_SUCCESS) *result = reinterpret_cast<RegistryKeyHandle>(opened);
  return status;
}

Status RegCreateKeyExW(RegistryKeyHandle base, const char16_t* subKey, Dword access, RegistryKeyHandle* result) {
  HKEY created = nullptr;
  LSTATUS status = ::RegCreateKeyExW(ToHkey(base), ToWchar(subKey), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                     nullptr, &created, nullptr);
  if (status == ERROR_SUCCESS) *result = reinterpret_cast<RegistryKeyHandle>(created);
  return status;
}

Status RegQueryValueExW(RegistryKeyHandle key, const char16_t* valueName, Dword* type, std::uint8_t* data,
                        Dword* size) {
  DWORD winType = REG_NONE;
  DWORD winSize = *size;
  LSTATUS status = ::RegQueryValueExW(ToHkey(key), ToWchar(valueName), nullptr, &winType, data, &winSize);
  *type = winType;
  *size = winSize;
  return status;
}

Status RegFlushKey(RegistryKeyHandle key) { return ::RegFlushKey(ToHkey(key)); }
Status RegCloseKey(RegistryKeyHandle key) { return ::RegCloseKey(ToHkey(key)); }

Dword GetACP() { return ::GetACP(); }

int MultiByteToWideChar(Dword codePage, const char* bytes, int byteCount, char16_t* units, int capacity) {
  return ::MultiByteToWideChar(codePage, 0, bytes, byteCount, reinterpret_cast<wchar_t*>(units), capacity);
}

int WideCharToMultiByte(Dword codePage, Dword flags, const char16_t* units, int unitCount, char* bytes, int capacity,
                        bool* usedDefaultChar) {
  BOOL used = FALSE;
  const int result = ::WideCharToMultiByte(codePage, flags, ToWchar(units), unitCount, bytes, capacity, nullptr,
                                           usedDefaultChar ? &used : nullptr);
  if (usedDefaultChar) *usedDefaultChar = used != FALSE;
  return result;
}

Dword GetFileAttributesW(const char16_t* path) {
  CriticalErrorBoxesSuppressed quiet;
  return ::GetFileAttributesW(ToWchar(path));
}

Dword GetLastError() { return ::GetLastError(); }

FindHandle FindFirstFileW(const char16_t* pattern, Dword* foundAttributes) {
  CriticalErrorBoxesSuppressed quiet;
  WIN32_FIND_DATAW found = {};
  HANDLE search = ::FindFirstFileW(ToWchar(pattern), &found);
  if (search == INVALID_HANDLE_VALUE) return InvalidFindHandle;
  *foundAttributes = found.dwFileAttributes;
  return reinterpret_cast<FindHandle>(search);
}

void FindClose(FindHandle search) { ::FindClose(reinterpret_cast<HANDLE>(search)); }

bool SetDefaultDllDirectories(Dword directoryFlags) {
  // kernel32 is mapped in every process, so GetModuleHandle needs no LoadLibrary (which would itself search).
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  const FARPROC entry = kernel32 ? ::GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
  if (!entry) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  // The usual cast through a generic function pointer type: FARPROC is how Windows hands out every entry.
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(entry));
  return setDefaultDllDirectories(directoryFlags) != FALSE;
}

bool SetDllDirectoryW(const char16_t* directory) { return ::SetDllDirectoryW(ToWchar(directory)) != FALSE; }

bool SetTokenVirtualizationEnabled(bool enabled) {
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_DEFAULT | TOKEN_QUERY, token.Receive())) return false;
  DWORD value = enabled ? 1 : 0;
  return ::SetTokenInformation(token.Get(), TokenVirtualizationEnabled, &value, sizeof value) != FALSE;
}

void ShellExecuteA(const char* operation, const char* file, const char* parameters, const char* directory,
                   int showCommand) {
  ::ShellExecuteA(nullptr, operation, file, parameters, directory, showCommand);
}

void OutputDebugStringW(const char16_t* text) { ::OutputDebugStringW(ToWchar(text)); }

void ExitProcess(unsigned exitCode) { ::ExitProcess(exitCode); }

}  // namespace platform
