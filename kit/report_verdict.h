// The verdict on one run of the check kit, made from its report as read back from disk: whether the run
// proved every check its mode requires (kit/required_checks.h). Plain C++: the host tests judge the same
// reports the kit's own test does under Wine.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "kit/required_checks.h"

namespace kit {

// The exit status of the verdict, and its meaning.
enum class Verdict {
  Proven = 0,     // every required check ok, or not applicable where the header states why, and one ok
  Failed = 1,     // a FAILED line, a report that contradicts itself, or a runner that exited non-zero
  NotProven = 2,  // no report for this run (none, unreadable, unfinished, another run's), a check unproven,
                  // or another build's report
};

struct Judgement {
  Verdict verdict = Verdict::NotProven;
  std::vector<std::string> reasons;  // why, one line each; empty when proven
  int proven = 0, notApplicable = 0;
};

// Judges report (nullopt: it could not be read) for the run whose mode and run id are given;
// runnerStatus is the runner's own exit status, verdictBuild the verdict's own build (kit/build_name.h),
// which the report's runner must share.
Judgement JudgeReport(const std::optional<std::string>& report, Mode mode, const std::string& runId, long long runnerStatus,
                      const std::string& verdictBuild);

// "proven", "FAILED", "not proven" or "no report" with its reasons, as one line.
std::string Describe(const Judgement& judgement);

// A report's run id, or empty: how the verdict picks this run's report among those in a folder.
std::string RunIdOf(const std::string& report);

// Run ids are what run_kit.cmd can make and pass on a command line: digits, letters and '-', 1 to 64;
// never "none", which the runner writes when it was given no id.
bool ValidRunId(const std::string& runId);

// A runner's exit status as cmd passes it on (%errorlevel%: decimal, negative for an NTSTATUS such as a
// crash's), or false for anything else, which must never read as 0.
bool ParseRunnerStatus(const std::string& text, long long& status);

}  // namespace kit
