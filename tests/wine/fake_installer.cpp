// Stands in for SentrelInstaller.exe in the end-to-end tests and the demo. Records how it was started
// (its path, working directory, command line, show command) in the file that LAUNCHER_TEST_RECORD names, then stays
// running until the event LAUNCHER_TEST_RELEASE is set, so the test can see that the launcher did not
// wait for it.
#include <windows.h>

#include <algorithm>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
  return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

// The command line without its first token, the program: what the installer was given as arguments.
std::wstring ArgumentsOf(const std::wstring& commandLine) {
  std::size_t end = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    end = commandLine.find(L'"', 1);
    end = end == std::wstring::npos ? commandLine.size() : end + 1;
  } else {
    end = std::min(commandLine.find(L' '), commandLine.size());
  }
  const std::size_t start = commandLine.find_first_not_of(L' ', end);
  return start == std::wstring::npos ? std::wstring() : commandLine.substr(start);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  const std::wstring recordPath = Environment(L"LAUNCHER_TEST_RECORD");
  if (recordPath.empty()) return 2;

  wchar_t directory[MAX_PATH * 4] = {};
  GetCurrentDirectoryW(MAX_PATH * 4, directory);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const bool showGiven = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;

  wchar_t program[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH * 4);

  std::wstring record = L"program=" + std::wstring(program) + L"\n";
  record += L"directory=" + std::wstring(directory) + L"\n";
  record += L"commandline=" + std::wstring(GetCommandLineW()) + L"\n";
  record += L"arguments=" + ArgumentsOf(GetCommandLineW()) + L"\n";
  record += L"show=" + (showGiven ? std::to_wstring(startup.wShowWindow) : std::wstring(L"none")) + L"\n";
  record += L"pid=" + std::to_wstring(GetCurrentProcessId()) + L"\n";

  // Written under another name and renamed, so the test never reads half a record.
  const std::wstring partial = recordPath + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(partial.c_str(), recordPath.c_str(), MOVEFILE_REPLACE_EXISTING);

  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, Environment(L"LAUNCHER_TEST_RELEASE").c_str());
  if (release) {
    WaitForSingleObject(release, 60000);
    CloseHandle(release);
  }
  return 0;
}
