// What Launcher.exe's own runtime pieces do when they are reached, on a real Win32 implementation: the
// stack protector's guard (seeded at the entry point, different in every process) and its failure, the
// replaced std::__throw_* functions and the replaced default terminate handler. RuntimeProbe.exe is
// built as Launcher.exe is, and started here once per case.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/wine/debug_output_capture.h"

namespace {

struct ProbeRun {
  DWORD exitCode = 0xDEADBEEF;  // sentinel: the probe never exited
  std::string debugOutput;
};

ProbeRun RunProbe(const std::string& mode, wine_test::DebugOutputCapture& capture, bool expectingOutput) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string commandLine = path;
  commandLine = "\"" + commandLine.substr(0, commandLine.find_last_of('\\')) + "\\RuntimeProbe.exe\" " + mode;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ProbeRun run;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "CreateProcessA failed: " << GetLastError();
    return run;
  }
  // A dialog (abort's message box, a crash report) would keep the probe running: it must end by itself.
  if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &run.exitCode);
  else TerminateProcess(process.hProcess, 99);
  run.debugOutput = capture.TextOf(process.dwProcessId, expectingOutput);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}

TEST(Runtime, StackGuardIsSeededPerProcess) {
  wine_test::DebugOutputCapture capture;
  ASSERT_TRUE(capture.Ready());
  const DWORD unseeded = 0x2DDFA232u;  // the low 32 bits of the guard's initial value
  const DWORD first = RunProbe("guard", capture, false).exitCode;
  const DWORD second = RunProbe("guard", capture, false).exitCode;
  EXPECT_NE(first, unseeded) << "the guard was not seeded";
  EXPECT_NE(first, 0xDEADBEEFu);
  EXPECT_NE(first, second) << "two processes got the same guard: " << first;
}

TEST(Runtime, FailuresEndTheProcessQuietly) {
  const struct {
    const char* mode;
    DWORD expectedExit;
    std::string expectedOutput;  // the beginning of the debugger output
  } cases[] = {
      // As an uncaught std::out_of_range would, through the terminate handler: its what() and status 1.
      {"out-of-range", 1, "basic_string::substr: __pos (which is 12) > this->size() (which is 1)\n"},
      // The default terminate handler is the launcher's own, even before any set_terminate.
      {"throw", 1, "Launcher ended on an unknown error\n"},
      // No report and no handler: the stack is not to be trusted.
      {"overrun", 0xC0000409u /* STATUS_STACK_BUFFER_OVERRUN */, ""},
  };
  wine_test::DebugOutputCapture capture;
  ASSERT_TRUE(capture.Ready());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const ProbeRun run = RunProbe(c.mode, capture, !c.expectedOutput.empty());
    EXPECT_EQ(run.exitCode, c.expectedExit) << std::hex << "exit status 0x" << run.exitCode;
    EXPECT_EQ(run.debugOutput.substr(0, c.expectedOutput.size()), c.expectedOutput) << run.debugOutput;
    if (c.expectedOutput.empty()) EXPECT_EQ(run.debugOutput, "");
  }
}

}  // namespace
