#include "kit/check_report.h"

#include <cstdio>

namespace {

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}

}  // namespace

bool WriteFileWhole(const std::wstring& path, const std::string& bytes, DWORD& error) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return error = GetLastError(), false;
  const bool written = WriteAll(file, bytes) && FlushFileBuffers(file);
  if (!written) error = GetLastError();
  if (!CloseHandle(file) && written) return error = GetLastError(), false;
  return written;
}

CheckReport::CheckReport(const std::wstring& folder, const std::wstring& baseName)
    : partialPath_(folder + L"\\LauncherChecks-report.partial"),
      reportPath_(folder + L"\\" + baseName + L".txt"),
      junitPath_(folder + L"\\" + baseName + L"-junit.xml") {
  file_ = CreateFileW(partialPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
}

CheckReport::~CheckReport() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void CheckReport::Line(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  if (file_ == INVALID_HANDLE_VALUE) return;
  if (!WriteAll(file_, text + "\r\n") || !FlushFileBuffers(file_)) writeFailed_ = true;
}

void CheckReport::Result(Outcome outcome, const std::string& name, const std::string& detail) {
  static const char* const Prefix[] = {"ok: ", "FAILED: ", "not proven: ", "skipped: ", "known Wine difference: ",
                                       "not applicable: "};
  checks_.push_back({outcome, name, detail});
  if (outcome == Outcome::Ok) ++passed_;
  if (outcome == Outcome::Failed || outcome == Outcome::NotProven) ++failed_;
  Line(Prefix[static_cast<int>(outcome)] + name + (detail.empty() ? "" : ": " + detail));
}

bool CheckReport::Finish(const std::string& suiteName, DWORD& error) {
  error = 0;
  Line(std::to_string(passed_) + " passed, " + std::to_string(failed_) + " failed");
  int skipped = 0;
  std::string cases;
  for (const Check& check : checks_) {
    cases += "    <testcase classname=\"LauncherChecks\" name=\"" + XmlText(check.name) + "\"";
    switch (check.outcome) {
      case Outcome::Ok: cases += "/>\n"; continue;
      case Outcome::Failed: cases += "><failure message=\"" + XmlText(check.detail) + "\"/>"; break;
      case Outcome::NotProven: cases += "><failure type=\"not proven\" message=\"" + XmlText(check.detail) + "\"/>"; break;
      case Outcome::Skipped: cases += "><skipped message=\"" + XmlText(check.detail) + "\"/>", ++skipped; break;
      case Outcome::NotApplicable:
        cases += "><skipped message=\"not applicable: " + XmlText(check.detail) + "\"/>", ++skipped;
        break;
      case Outcome::KnownWineDifference:
        cases += "><skipped message=\"known Wine difference: " + XmlText(check.detail) + "\"/>", ++skipped;
        break;
    }
    cases += "</testcase>\n";
  }
  const std::string counts = "tests=\"" + std::to_string(checks_.size()) + "\" failures=\"" + std::to_string(failed_) +
                             "\" errors=\"0\" skipped=\"" + std::to_string(skipped) + "\"";
  const std::string junit = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites " + counts + ">\n  <testsuite name=\"" +
                            XmlText(suiteName) + "\" " + counts + ">\n" + cases + "  </testsuite>\n</testsuites>\n";
  const std::wstring junitPartial = junitPath_ + L".partial";
  if (!Opened() || writeFailed_) return error = Opened() ? ERROR_WRITE_FAULT : ERROR_OPEN_FAILED, false;
  const BOOL closed = CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  if (!closed) return error = GetLastError(), false;
  const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (!WriteFileWhole(junitPartial, junit, error) || !MoveFileExW(junitPartial.c_str(), junitPath_.c_str(), replace)) {
    if (error == 0) error = GetLastError();
    DeleteFileW(junitPartial.c_str());
    return false;
  }
  if (!MoveFileExW(partialPath_.c_str(), reportPath_.c_str(), replace)) return error = GetLastError(), false;
  return true;
}
