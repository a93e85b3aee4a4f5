#include "kit/child_process.h"

#include "kit/file_contents.h"
#include "kit/program_output.h"
#include "kit/runner_run.h"
#include "kit/runner_text.h"

namespace runner {

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

Run RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs) {
  Run run;
  const std::wstring outputPath = Work + L"\\output.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  const std::wstring directory = program.substr(0, program.find_last_of(L'\\'));
  run.started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                               directory.c_str(), &startup, &process) != FALSE;
  CloseHandle(output);
  if (!run.started) {
    run.output = "CreateProcessW failed: " + std::to_string(GetLastError());
    return run;
  }
  run.timedOut = WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0;
  if (run.timedOut) TerminateProcess(process.hProcess, 99);
  WaitForSingleObject(process.hProcess, 10000);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  run.output = FileContents(outputPath);
  // Under Wine a handle of the program's can outlive the exit that was waited for, by a moment.
  for (int i = 0; i < 100 && !DeleteFileW(outputPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND; ++i) Sleep(50);
  return run;
}

// A program's output, where it is not UTF-8, is in the ANSI code page: the C runtime prints in it.
std::string FailureLines(const std::string& output) {
  return kit::FailureLines(output, [](const std::string& bytes) {
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), size);
    return Utf8(wide);
  });
}

}  // namespace runner
