// The runner's report, written as the checks run: each line goes to a .partial file at once (flushed),
// so that a runner killed part-way leaves what it had checked; at the end the file is closed, the close
// checked, and only then renamed to the report's own name. Beside it, from the same results, a JUnit XML
// file that CI systems read without a plugin.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "kit/xml_text.h"

class CheckReport {
 public:
  enum class Outcome { Ok, Failed, NotProven, Skipped, KnownWineDifference, NotApplicable };

  // baseName: the report's name without ".txt", in folder; the .partial file is made at once.
  CheckReport(const std::wstring& folder, const std::wstring& baseName);
  ~CheckReport();
  CheckReport(const CheckReport&) = delete;
  CheckReport& operator=(const CheckReport&) = delete;

  // False when the .partial file could not be made; lines still reach the console.
  bool Opened() const { return file_ != INVALID_HANDLE_VALUE; }
  // One line of the report, also printed.
  void Line(const std::string& text);
  // One check's line ("ok: name", "FAILED: name: detail", ...), counted and kept for the JUnit file.
  void Result(Outcome outcome, const std::string& name, const std::string& detail = {});
  int Passed() const { return passed_; }
  // Failed and not proven alike: either makes the run fail.
  int Failed() const { return failed_; }
  // The closing line, then both files closed and renamed; the JUnit file first, so that a report under
  // its own name has its JUnit file beside it. False, with the Windows error, when any step fails.
  bool Finish(const std::string& suiteName, DWORD& error);
  const std::wstring& ReportPath() const { return reportPath_; }

 private:
  struct Check {
    Outcome outcome;
    std::string name, detail;
  };
  std::wstring partialPath_, reportPath_, junitPath_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool writeFailed_ = false;
  std::vector<Check> checks_;
  int passed_ = 0, failed_ = 0;
};

// Written, flushed and closed: false, with the error, when any of it fails (a full disk shows at the
// flush or the close).
bool WriteFileWhole(const std::wstring& path, const std::string& bytes, DWORD& error);
