#include "kit/report_verdict.h"

#include <regex>

namespace kit {

namespace {

const char* const ResultPrefixes[] = {"ok: ", "FAILED: ", "not proven: ", "skipped: ", "not applicable: ",
                                      "known Wine difference: "};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool IsResult(const std::string& line) {
  for (const char* prefix : ResultPrefixes)
    if (StartsWith(line, prefix)) return true;
  return false;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The header's statements, each a whole line of its own before the first check's line.
struct Header {
  std::string runId, mode, builtFor, machine, codePage, token, elevated;
  bool titled = false, wine = false;
};

Header ReadHeader(const std::vector<std::string>& lines) {
  Header header;
  for (const std::string& line : lines) {
    if (IsResult(line)) break;
    const auto take = [&](const char* prefix, std::string& field) {
      if (StartsWith(line, prefix)) field = line.substr(std::string(prefix).size());
    };
    if (StartsWith(line, "LauncherChecks, for Launcher commit ")) header.titled = true;
    if (StartsWith(line, "Wine ")) header.wine = true;
    take("run id: ", header.runId);
    take("mode: ", header.mode);
    take("runner built for: ", header.builtFor);
    take("machine: ", header.machine);
    take("ANSI code page ", header.codePage);
    take("token: ", header.token);
    take("elevated: ", header.elevated);
  }
  return header;
}

// Whether the header states the fact that rules a check out; what it states goes to why.
bool FactHolds(RuledOutBy fact, const Header& header, std::string& why) {
  switch (fact) {
    case RuledOutBy::Nothing:
      return false;
    case RuledOutBy::UncoveredCodePage: {
      std::smatch m;
      why = "the header's ANSI code page: " + header.codePage;
      return std::regex_match(header.codePage, m, std::regex(R"((\d{1,5}), OEM code page .*)")) &&
             !CodePageCovered(static_cast<unsigned>(std::stoul(m[1])));
    }
    case RuledOutBy::NoWow64:
      why = "the header: runner built for " + header.builtFor + "; machine: " + header.machine;
      return NoWow64Runner(header.builtFor, header.machine);
    case RuledOutBy::NoVirtualizableToken: {
      why = "the header's token: " + header.token;
      TokenStatement token;
      return !ParseTokenLine(header.token, token) || !VirtualizedToken(token);
    }
  }
  return false;
}

}  // namespace

bool ValidRunId(const std::string& runId) {
  return std::regex_match(runId, std::regex("[0-9A-Za-z-]{1,64}"));
}

std::string RunIdOf(const std::string& report) { return ReadHeader(Lines(report)).runId; }

Judgement JudgeReport(const std::optional<std::string>& report, Mode mode, const std::string& runId, long runnerStatus) {
  Judgement j;
  std::vector<std::string> failures, unproven;
  if (!report) {
    j.reasons = {"no report: it could not be read"};
    return j;
  }
  const std::vector<std::string> lines = Lines(*report);
  const Header header = ReadHeader(lines);
  if (!header.titled || header.runId != runId || !ValidRunId(runId)) {
    j.reasons = {"no report: the report is not this run's (its run id: " + (header.runId.empty() ? "none" : header.runId) +
                 "; this run's: " + runId + ")"};
    return j;
  }
  // The closing line, "N passed, M failed", is the runner's last act: without it the report is unfinished.
  const std::regex closing(R"((\d{1,6}) passed, (\d{1,6}) failed)");
  std::smatch counts;
  std::size_t closingAt = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (std::regex_match(lines[i], closing)) closingAt = i;
  if (closingAt == lines.size()) {
    j.reasons = {"no report: it is unfinished (no closing line \"N passed, M failed\")"};
    return j;
  }
  if (header.mode != ModeName(mode)) unproven.push_back("the header says mode: " + header.mode + ", not " + ModeName(mode));
  if (header.token.empty() || header.builtFor.empty() || header.machine.empty() || header.codePage.empty())
    unproven.push_back("the header does not state the runner's build, machine, code page and token");
  if (mode == Mode::Elevated && !StartsWith(header.elevated, "yes;"))
    unproven.push_back("the header does not say elevated: yes; run run_kit.cmd as administrator");

  int ok = 0, failed = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (i > closingAt && !line.empty()) failures.push_back("a line after the closing line: " + line);
    if (i >= closingAt) continue;  // what the closing line counts
    if (StartsWith(line, "ok: ")) ++ok;
    if (StartsWith(line, "FAILED: ")) ++failed, failures.push_back(line);
    if (StartsWith(line, "not proven: ")) ++failed, unproven.push_back(line);
  }
  const std::string& closingLine = lines[closingAt];
  std::regex_match(closingLine, counts, closing);
  if (std::stoi(counts[1]) != ok || std::stoi(counts[2]) != failed)
    failures.push_back("the closing line \"" + closingLine + "\" does not agree with the report's " + std::to_string(ok) +
                       " ok and " + std::to_string(failed) + " FAILED or not proven lines");

  for (const RequiredCheck& check : RequiredChecks(mode)) {
    std::string facts;
    const bool ruledOut = FactHolds(check.ruledOutBy, header, facts);
    bool said = false;
    for (const std::string& line : lines) {
      if (line == std::string("ok: ") + check.name) {
        said = true;
        if (!ruledOut) ++j.proven;
        else unproven.push_back(std::string("ok: ") + check.name + ": proves nothing where " + facts);
      } else if (StartsWith(line, std::string("not applicable: ") + check.name + ": ")) {
        said = true;
        if (ruledOut) ++j.notApplicable;
        else unproven.push_back(line + ": the header states no fact that rules it out");
      } else if (StartsWith(line, std::string("known Wine difference: ") + check.name + ": ")) {
        said = true;
        if (header.wine && check.wineDiffers) ++j.proven;
        else unproven.push_back(line + ": not a known Wine difference here");
      }
    }
    if (!said) unproven.push_back(std::string("no line proves ") + check.name);
  }
  if (j.proven == 0) unproven.push_back("nothing proven: this run proves none of the checks its mode requires");
  if (runnerStatus != 0) failures.push_back("LauncherChecks.exe exited " + std::to_string(runnerStatus));

  if (!failures.empty()) j.verdict = Verdict::Failed;
  else if (!unproven.empty()) j.verdict = Verdict::NotProven;
  else j.verdict = Verdict::Proven;
  j.reasons = failures;
  j.reasons.insert(j.reasons.end(), unproven.begin(), unproven.end());
  return j;
}

std::string Describe(const Judgement& j) {
  if (j.verdict == Verdict::Proven)
    return "proven: " + std::to_string(j.proven) + " required checks proven, " + std::to_string(j.notApplicable) +
           " not applicable";
  std::string text = j.verdict == Verdict::Failed ? "FAILED" : "not proven";
  for (std::size_t i = 0; i < j.reasons.size(); ++i) text += (i ? "; " : ": ") + j.reasons[i];
  return text;
}

}  // namespace kit
