// The test programs as child processes of the runner: started in their own folder without a window,
// their output caught in a file, waited for with a time limit; and the environment they are started in.
#pragma once

#include <windows.h>

#include <string>

namespace runner {

// An environment variable's value; empty where it is not set or longer than 4095 characters.
std::wstring Environment(const wchar_t* name);

// An environment variable set for the children started while it lives, and put back as it was after.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value, bool set)
      : name_(name), previous_(Environment(name)), set_(set) {
    if (set_) SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() {
    if (set_) SetEnvironmentVariableW(name_, previous_.empty() ? nullptr : previous_.c_str());
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const wchar_t* name_;
  std::wstring previous_;
  bool set_;
};

struct Run {
  bool started = false;
  bool timedOut = false;
  DWORD exitCode = 0xDEADBEEF;  // sentinel: never exited
  std::string output;
};

// Runs program with arguments in its own folder, its output (stdout and stderr) caught in the scratch
// folder; one that outlives timeoutMs is ended.
Run RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs);

// What a failing program said, as the report carries it (UTF-8, indented lines; see kit::FailureLines).
std::string FailureLines(const std::string& output);

}  // namespace runner
