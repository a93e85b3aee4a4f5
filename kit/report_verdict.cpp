#include "kit/report_verdict.h"

#include <set>

namespace kit {

namespace {

const char* const ResultPrefixes[] = {"ok: ", "FAILED: ", "not proven: ", "skipped: ", "not applicable: ",
                                      "known Wine difference: "};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// Text is digits alone, at most maxDigits of them; their value goes to value. No std::regex here: its
// matching recurses once per character and overflows the stack on a long line a report may hold.
bool Digits(const std::string& text, std::size_t maxDigits, unsigned long long& value) {
  if (text.empty() || text.size() > maxDigits) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long long>(c - '0');
  }
  return true;
}

// "N passed, M failed", the closing line, with its counts.
bool ClosingLine(const std::string& line, unsigned long long& passed, unsigned long long& failed) {
  const std::size_t comma = line.find(" passed, ");
  const std::string failedSuffix = " failed";
  if (comma == std::string::npos || line.size() < failedSuffix.size() ||
      line.compare(line.size() - failedSuffix.size(), failedSuffix.size(), failedSuffix) != 0)
    return false;
  const std::size_t second = comma + std::string(" passed, ").size();
  if (second + failedSuffix.size() > line.size()) return false;
  return Digits(line.substr(0, comma), 6, passed) &&
         Digits(line.substr(second, line.size() - failedSuffix.size() - second), 6, failed);
}

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
      why = "the header's ANSI code page: " + header.codePage;
      unsigned long long codePage = 0;
      const std::size_t comma = header.codePage.find(", OEM code page ");
      return comma != std::string::npos && Digits(header.codePage.substr(0, comma), 5, codePage) &&
             !CodePageCovered(static_cast<unsigned>(codePage));
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
  if (runId.empty() || runId.size() > 64) return false;
  std::string lower;
  for (const char c : runId) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-')) return false;
    lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return lower != "none";
}

bool ParseRunnerStatus(const std::string& text, long long& status) {
  const bool negative = !text.empty() && text[0] == '-';
  unsigned long long digits = 0;
  // A 32-bit status, as cmd prints it: signed, or an NTSTATUS unsigned, at most 10 digits either way.
  if (!Digits(text.substr(negative ? 1 : 0), 10, digits) || digits > 4294967295ULL) return false;
  status = negative ? -static_cast<long long>(digits) : static_cast<long long>(digits);
  return status >= -2147483648LL;
}

std::string RunIdOf(const std::string& report) { return ReadHeader(Lines(report)).runId; }

Judgement JudgeReport(const std::optional<std::string>& report, Mode mode, const std::string& runId, long long runnerStatus,
                      const std::string& verdictBuild) {
  Judgement j;
  std::vector<std::string> failures, unproven;
  if (!report) {
    j.reasons = {"no report: it could not be read"};
    return j;
  }
  // The runner writes no byte-order mark; one means another program rewrote the report (an editor).
  for (const char* mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
    if (StartsWith(*report, mark)) {
      j.reasons = {"no report: the report starts with a byte-order mark, which the runner never writes: another program "
                   "has rewritten it"};
      return j;
    }
  const std::vector<std::string> lines = Lines(*report);
  const Header header = ReadHeader(lines);
  if (!header.titled) {
    j.reasons = {"no report: it does not begin with the runner's title line \"LauncherChecks, for Launcher commit ...\""};
    return j;
  }
  if (header.runId != runId || !ValidRunId(runId)) {
    j.reasons = {"no report: the report is not this run's (its run id: " + (header.runId.empty() ? "none" : header.runId) +
                 "; this run's: " + runId + ")"};
    return j;
  }
  // The closing line, "N passed, M failed", is the runner's last act: without it the report is unfinished.
  unsigned long long passedCount = 0, failedCount = 0;
  std::size_t closingAt = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (ClosingLine(lines[i], passedCount, failedCount)) closingAt = i;
  if (closingAt == lines.size()) {
    j.reasons = {"no report: it is unfinished (no closing line \"N passed, M failed\")"};
    return j;
  }
  ClosingLine(lines[closingAt], passedCount, failedCount);
  if (header.mode != ModeName(mode)) unproven.push_back("the header says mode: " + header.mode + ", not " + ModeName(mode));
  if (header.token.empty() || header.builtFor.empty() || header.machine.empty() || header.codePage.empty())
    unproven.push_back("the header does not state the runner's build, machine, code page and token");
  // What a build cannot prove it rules out by its own header (the x86_64 twin: WOW6432Node), so a report
  // proves its mode only to the verdict of its own kit.
  if (!header.builtFor.empty() && header.builtFor != verdictBuild)
    unproven.push_back("the report's runner was built for " + header.builtFor + ", this verdict for " + verdictBuild +
                       ": it judges only its own build's reports");
  if (mode == Mode::Elevated && !StartsWith(header.elevated, "yes;"))
    unproven.push_back("the header does not say elevated: yes; run run_kit.cmd as administrator");

  unsigned long long ok = 0, failed = 0;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (i > closingAt && !line.empty()) failures.push_back("a line after the closing line: " + line);
    if (i >= closingAt) continue;  // what the closing line counts
    if (IsResult(line) && !seen.insert(line).second) failures.push_back("a line said twice: " + line);
    if (StartsWith(line, "ok: ")) ++ok;
    if (StartsWith(line, "FAILED: ")) ++failed, failures.push_back(line);
    if (StartsWith(line, "not proven: ")) ++failed, unproven.push_back(line);
  }
  if (passedCount != ok || failedCount != failed)
    failures.push_back("the closing line \"" + lines[closingAt] + "\" does not agree with the report's " + std::to_string(ok) +
                       " ok and " + std::to_string(failed) + " FAILED or not proven lines");

  for (const RequiredCheck& check : RequiredChecks(mode)) {
    std::string facts;
    const bool ruledOut = FactHolds(check.ruledOutBy, header, facts);
    bool said = false;
    std::set<std::string> outcomes;  // each kind of line on this check: more than one contradicts
    for (std::size_t i = 0; i < closingAt; ++i) {
      const std::string& line = lines[i];
      for (const char* prefix : ResultPrefixes)
        if (line == prefix + std::string(check.name) || StartsWith(line, prefix + std::string(check.name) + ": "))
          outcomes.insert(prefix);
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
    if (outcomes.size() > 1) {
      std::string kinds;
      for (const std::string& kind : outcomes) kinds += (kinds.empty() ? "" : ", ") + kind.substr(0, kind.size() - 2);
      failures.push_back("the report contradicts itself: " + kinds + " for " + check.name);
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
