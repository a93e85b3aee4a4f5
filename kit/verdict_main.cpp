// LauncherChecksVerdict.exe KIT_FOLDER REPORTS_FOLDER MODE RUN_ID RUNNER_STATUS: the verdict on one run
// of the check kit, which run_kit.cmd runs after the runner. It moves this run's report (the one whose
// header holds RUN_ID) and its JUnit twin from the kit's folder into REPORTS_FOLDER, which must hold no
// report yet, reads the report back from there, and judges it by the table of required checks. It says
// so on its console, in the job summary (the file GITHUB_STEP_SUMMARY names, when set), in a JUnit file
// of its own beside the report, and, on GitHub Actions, as annotations on the run's page. It proves only
// reports of a runner of its own build.
// Exit status: 0 proven; 1 failed; 2 not proven, or no report (none, unreadable, unfinished, unmovable,
// another run's, another build's); 2 also on a usage error.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "kit/build_name.h"
#include "kit/check_report.h"
#include "kit/program_output.h"
#include "kit/report_verdict.h"

namespace {

std::string Narrow(const std::wstring& text, UINT codePage) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}
std::wstring Wide(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}
std::string Utf8(const std::wstring& text) { return Narrow(text, CP_UTF8); }

// One line of UTF-8 text on the console. To a console, UTF-16, which shows every character whatever the
// code page. To a file or pipe, in the console's output code page, as cmd writes its own output there:
// that is what whoever reads the pipe decodes (GitHub's runner sets 65001 and reads UTF-8; a plain
// console has its OEM code page, not the ANSI one). Only without a console at all, the ANSI code page.
void Say(const std::string& line) {
  const std::wstring text = Wide(line) + L"\r\n";
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  } else {
    const UINT codePage = GetConsoleOutputCP();
    const std::string bytes = Narrow(text, codePage != 0 ? codePage : CP_ACP);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
}

std::wstring Environment(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  return value;
}

// The whole file, or nullopt where it cannot be opened or read to its end.
std::optional<std::string> ReadWhole(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return bytes;
}

std::vector<std::wstring> Matching(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// Text for a GitHub Actions workflow command's message, which ends at a line end.
std::string CommandData(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '%' ? "%25" : c == '\r' ? "%0D" : c == '\n' ? "%0A" : std::string(1, c);
  return out;
}

void Append(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Say("run_kit: the job summary cannot be written: " + Utf8(path));
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

struct Found {
  std::wstring report;   // this run's report, moved into the reports folder; empty where there is none
  std::string noReport;  // why there is none
};

Found MoveThisRunsReport(const std::wstring& kit, const std::wstring& reports, const std::string& runId, long long status) {
  Found found;
  if (!CreateDirectoryW(reports.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return found.noReport = "the reports folder cannot be made (error " + std::to_string(GetLastError()) + ")", found;
  const std::vector<std::wstring> already = Matching(reports, L"LauncherChecks-*");
  if (!already.empty())
    return found.noReport = "the reports folder already holds " + Utf8(already.front()) + ": give each run a folder of its own", found;
  std::vector<std::wstring> ours;
  std::string unreadable;
  for (const std::wstring& name : Matching(kit, L"LauncherChecks-*.txt")) {
    const std::optional<std::string> text = ReadWhole(kit + L"\\" + name);
    if (!text) unreadable = Utf8(name) + " could not be read (error " + std::to_string(GetLastError()) + ")";
    if (text && kit::RunIdOf(*text) == runId) ours.push_back(name);
  }
  if (ours.empty() && !unreadable.empty()) return found.noReport = unreadable, found;
  const std::wstring partial = L"LauncherChecks-report.partial";
  if (ours.empty()) {
    const std::optional<std::string> text = ReadWhole(kit + L"\\" + partial);
    if (text && kit::RunIdOf(*text) == runId) {
      MoveFileExW((kit + L"\\" + partial).c_str(), (reports + L"\\" + partial).c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
      return found.noReport = "incomplete report: LauncherChecks.exe ended before its report was whole; what it wrote is "
                              "LauncherChecks-report.partial in the reports folder", found;
    }
    return found.noReport = "LauncherChecks.exe wrote no report for this run; its exit status was " + std::to_string(status), found;
  }
  if (ours.size() > 1) return found.noReport = "more than one report in the kit's folder holds this run's id", found;
  const std::wstring name = ours.front(), twin = name.substr(0, name.size() - 4) + L"-junit.xml";
  const DWORD move = MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
  if (!MoveFileExW((kit + L"\\" + name).c_str(), (reports + L"\\" + name).c_str(), move))
    return found.noReport = "the report could not be moved into the reports folder (error " + std::to_string(GetLastError()) + ")", found;
  if (GetFileAttributesW((kit + L"\\" + twin).c_str()) != INVALID_FILE_ATTRIBUTES &&
      !MoveFileExW((kit + L"\\" + twin).c_str(), (reports + L"\\" + twin).c_str(), move))
    Say("run_kit: the report's JUnit twin could not be moved (error " + std::to_string(GetLastError()) + ")");
  found.report = reports + L"\\" + name;
  return found;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  kit::Mode mode;
  long long status = 0;
  if (!argv || argc != 6 || !kit::ParseMode(Utf8(argv[3]), mode) || !kit::ValidRunId(Utf8(argv[4])) ||
      !kit::ParseRunnerStatus(Utf8(argv[5]), status)) {
    Say("usage: LauncherChecksVerdict.exe KIT_FOLDER REPORTS_FOLDER elevated|unelevated RUN_ID RUNNER_STATUS");
    Say("  (RUN_ID: letters, digits and -, at most 64, not \"none\"; RUNNER_STATUS: the runner's exit status, a number)");
    return 2;
  }
  const std::wstring kitFolder = argv[1], reports = argv[2];
  const std::string runId = Utf8(argv[4]), modeName = kit::ModeName(mode);

  const Found found = MoveThisRunsReport(kitFolder, reports, runId, status);
  kit::Judgement judgement;
  std::optional<std::string> report;
  if (found.report.empty()) {
    judgement.reasons = {"no report: " + found.noReport};
  } else {
    report = ReadWhole(found.report);
    judgement = kit::JudgeReport(report, mode, runId, status, kit::ThisBuild());
    Say("report: \"" + Utf8(found.report) + "\"");
  }
  const std::string verdict = "verdict of the " + modeName + " run: " + kit::Describe(judgement);
  Say(verdict);

  const std::wstring summary = Environment(L"GITHUB_STEP_SUMMARY");
  if (!summary.empty()) {
    std::string text = "### LauncherChecks " + modeName + ": " + (found.report.empty() ? "no report" : Utf8(found.report)) + "\n";
    if (report) text += "```\n" + *report + (report->empty() || report->back() == '\n' ? "" : "\n") + "```\n";
    Append(summary, kit::ValidUtf8(text + verdict + "\n"));
  }
  if (Environment(L"GITHUB_ACTIONS") == L"true") {
    // GitHub shows only the first ten annotations of each kind in a step, in the order they are written:
    // the verdict's own comes first, and the checks ruled out follow as one, so that the step's
    // annotations (the workflow's own warning after a failed run without elevation too) stay within
    // them. A proven run annotates nothing: its skipped checks are in the report and the summary.
    if (judgement.verdict != kit::Verdict::Proven) {
      Say(std::string(judgement.verdict == kit::Verdict::Failed ? "::error" : "::warning") + " title=LauncherChecks " +
          modeName + "::" + CommandData(verdict));
      std::string ruledOut;
      int skipped = 0, notApplicable = 0;
      std::size_t start = 0;
      const std::string& text = report ? *report : std::string();
      while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool isSkipped = line.rfind("skipped: ", 0) == 0, isNotApplicable = line.rfind("not applicable: ", 0) == 0;
        if (isSkipped || isNotApplicable) ruledOut += "\n" + line, skipped += isSkipped, notApplicable += isNotApplicable;
        start = end + 1;
      }
      if (!ruledOut.empty())
        Say("::notice title=LauncherChecks " + modeName + "::" + std::to_string(skipped) + " skipped, " +
            std::to_string(notApplicable) + " not applicable: " + CommandData(ruledOut));
    }
  }

  // The verdict as one more testcase, in a JUnit file of its own that the same pattern finds.
  const std::string failure = judgement.verdict == kit::Verdict::Proven ? std::string()
                              : "<failure type=\"" + std::string(judgement.verdict == kit::Verdict::Failed ? "failed" : "not proven") +
                                    "\" message=\"" + XmlText(kit::Describe(judgement)) + "\"/>";
  const std::string counts = std::string("tests=\"1\" failures=\"") + (failure.empty() ? "0" : "1") + "\" errors=\"0\" skipped=\"0\"";
  const std::string junit = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites " + counts + ">\n  <testsuite name=\"LauncherChecks verdict\" " +
                            counts + ">\n    <testcase classname=\"LauncherChecks\" name=\"verdict: the " + modeName + " run\"" +
                            (failure.empty() ? "/>\n" : ">" + failure + "</testcase>\n") + "  </testsuite>\n</testsuites>\n";
  DWORD error = 0;
  if (!WriteFileWhole(reports + L"\\LauncherChecks-verdict-" + argv[3] + L"-junit.xml", junit, error))
    Say("run_kit: the verdict's JUnit file cannot be written (error " + std::to_string(error) + ")");
  return static_cast<int>(judgement.verdict);
}
