// The check kit's verdict, judged on reports as a runner writes them: each row a report, the run it is
// judged for, and the verdict it must get. Also the README's list of checks against the table.
#include "kit/report_verdict.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "kit/program_output.h"
#include "kit/xml_text.h"

namespace {

using kit::Mode;
using kit::Verdict;

const std::string Medium = "integrity level Medium (S-1-16-8192), elevation type Limited, virtualization allowed yes, enabled yes";
const std::string High = "integrity level High (S-1-16-12288), elevation type Full, virtualization allowed no, enabled no";

struct KitRun {
  Mode mode = Mode::Elevated;
  std::string runId = "12345-678", builtFor = "i686", machine = "x64, this runner under WOW64", codePage = "1252";
  std::string token = High, elevated = "yes; registry virtualization: disabled", wine;
  std::vector<std::string> replace;  // "name=line": that check's line instead of "ok: name"; "name=" drops it
  std::vector<std::string> extra;    // more lines before the closing line
  std::string after;                 // a line after the closing line
  bool closing = true;
  int passedDelta = 0;
};

// A report as the runner writes it: the header, one line per required check, the closing line.
std::string Report(const KitRun& run) {
  std::string text = "LauncherChecks, for Launcher commit 0123abc\r\nrun id: " + run.runId + "\r\nrunner built for: " +
                     run.builtFor + "\r\nmachine: " + run.machine + "\r\nANSI code page " + run.codePage +
                     ", OEM code page 437\r\ntoken: " + run.token + "\r\nelevated: " + run.elevated + "\r\n" +
                     (run.wine.empty() ? "" : "Wine " + run.wine + "\r\n") + "mode: " + kit::ModeName(run.mode) + "\r\n";
  std::vector<std::string> lines;
  for (const kit::RequiredCheck& check : kit::RequiredChecks(run.mode)) lines.push_back(std::string("ok: ") + check.name);
  for (const std::string& r : run.replace) {
    const std::string name = r.substr(0, r.find('=')), line = r.substr(r.find('=') + 1);
    for (std::string& l : lines)
      if (l == "ok: " + name) l = line;
  }
  lines.insert(lines.end(), run.extra.begin(), run.extra.end());
  int ok = 0, failed = 0;
  for (const std::string& l : lines) {
    if (l.empty()) continue;
    text += l + "\r\n";
    ok += l.rfind("ok: ", 0) == 0;
    failed += l.rfind("FAILED: ", 0) == 0 || l.rfind("not proven: ", 0) == 0;
  }
  if (run.closing) text += std::to_string(ok + run.passedDelta) + " passed, " + std::to_string(failed) + " failed\r\n";
  if (!run.after.empty()) text += run.after + "\r\n";
  return text;
}

const std::string CodePage = "test program: code page", Wow64 = "a 32-bit process's HKLM\\Software is WOW6432Node";
const std::string Virtualization = "a VirtualStore value overrides HKLM while virtualized, and not once virtualization is off";
const std::string Shell = "ShellExecuteA does not expand environment variables in the file name";

KitRun Unelevated(const std::string& token) {
  KitRun run;
  run.mode = Mode::Unelevated;
  run.token = token;
  run.elevated = "no; registry virtualization: enabled";
  return run;
}

TEST(KitVerdict, EachReport) {
  struct Row {
    const char* name;
    std::optional<std::string> report;
    Verdict want;
    std::string reason;  // a part of the verdict's line
    Mode mode = Mode::Elevated;
    std::string runId = "12345-678";
    long long status = 0;
    std::string verdictBuild = "i686";  // the build of the verdict that judges it
  };
  KitRun r;
  const auto with = [](KitRun run, auto change) { change(run); return Report(run); };
  const Row rows[] = {
      {"a clean elevated report", Report(r), Verdict::Proven, "18 required checks proven, 0 not applicable"},
      {"a clean unelevated report, a user's token", Report(Unelevated(Medium)), Verdict::Proven, "1 required checks proven",
       Mode::Unelevated},
      {"an unreadable report", std::nullopt, Verdict::NotProven, "no report: it could not be read"},
      {"a stale report: an earlier run's id", Report(r), Verdict::NotProven, "not this run's", Mode::Elevated, "999-1"},
      {"a report without a run id", with(r, [](KitRun& x) { x.runId = ""; }), Verdict::NotProven, "its run id: none"},
      {"a not proven line", with(r, [](KitRun& x) { x.replace = {Shell + "=not proven: " + Shell + ": not elevated"}; }),
       Verdict::NotProven, "not proven: " + Shell},
      {"a closing line that is not last", with(r, [](KitRun& x) { x.after = "ok: another check"; }), Verdict::Failed,
       "a line after the closing line"},
      {"an unfinished report: no closing line", with(r, [](KitRun& x) { x.closing = false; }), Verdict::NotProven, "unfinished"},
      {"a closing line whose counts disagree", with(r, [](KitRun& x) { x.passedDelta = 1; }), Verdict::Failed, "does not agree"},
      {"a required line missing", with(r, [](KitRun& x) { x.replace = {Shell + "="}; }), Verdict::NotProven, "no line proves " + Shell},
      {"a required line with more after it", with(r, [](KitRun& x) { x.replace = {Shell + "=ok: " + Shell + " (mostly)"}; }),
       Verdict::NotProven, "no line proves " + Shell},
      {"an empty list", "LauncherChecks, for Launcher commit 0\r\nrun id: 12345-678\r\nmode: elevated\r\n0 passed, 0 failed\r\n",
       Verdict::NotProven, "no line proves test program: registry"},
      {"a FAILED line", with(r, [](KitRun& x) { x.extra = {"FAILED: another check: 2, expected 1"}; }), Verdict::Failed,
       "FAILED: another check: 2, expected 1"},
      {"the runner's exit status 3", Report(r), Verdict::Failed, "LauncherChecks.exe exited 3", Mode::Elevated, "12345-678", 3},
      {"elevated, a header that says elevated: no", with(r, [](KitRun& x) { x.elevated = "no; registry virtualization: enabled"; }),
       Verdict::NotProven, "does not say elevated: yes"},
      {"another mode's report", Report(r), Verdict::NotProven, "mode: elevated, not unelevated", Mode::Unelevated},
      {"not applicable, its fact not in the header (code page 1252)",
       with(r, [](KitRun& x) { x.replace = {CodePage + "=not applicable: " + CodePage + ": code page 1253"}; }),
       Verdict::NotProven, "the header states no fact that rules it out"},
      {"not applicable, the code page unknown",
       with(r, [](KitRun& x) { x.codePage = "unknown"; x.replace = {CodePage + "=not applicable: " + CodePage + ": unknown"}; }),
       Verdict::NotProven, "the header states no fact"},
      {"not applicable, an uncovered code page (1253)",
       with(r, [](KitRun& x) { x.codePage = "1253"; x.replace = {CodePage + "=not applicable: " + CodePage + ": 1253"}; }),
       Verdict::Proven, "17 required checks proven, 1 not applicable"},
      {"the x86_64 twin: WOW64 not applicable by its build, judged by its own verdict",
       with(r, [](KitRun& x) { x.builtFor = "x86_64"; x.machine = "x64, this runner native";
                            x.replace = {Wow64 + "=not applicable: " + Wow64 + ": built for x86_64"}; }),
       Verdict::Proven, "1 not applicable", Mode::Elevated, "12345-678", 0, "x86_64"},
      {"the x86_64 twin's report, judged by the i686 verdict",
       with(r, [](KitRun& x) { x.builtFor = "x86_64"; x.machine = "x64, this runner native";
                            x.replace = {Wow64 + "=not applicable: " + Wow64 + ": built for x86_64"}; }),
       Verdict::NotProven, "the report's runner was built for x86_64, this verdict for i686"},
      {"an arm64 report on an x64 machine, judged by the i686 verdict",
       with(r, [](KitRun& x) { x.builtFor = "arm64"; x.replace = {Wow64 + "=not applicable: " + Wow64 + ": arm64"}; }),
       Verdict::NotProven, "built for arm64, this verdict for i686"},
      {"the i686 report, judged by the x86_64 verdict", Report(r), Verdict::NotProven,
       "built for i686, this verdict for x86_64", Mode::Elevated, "12345-678", 0, "x86_64"},
      // std::regex recursed once a character: 20 KB overflowed Windows' 1 MB stack, 1 MB overflows the host's 8.
      {"a 1 MB code page line",
       with(r, [](KitRun& x) { x.codePage = "1253, OEM code page 437" + std::string(1 << 20, ' ') + "x";
                            x.replace = {CodePage + "=not applicable: " + CodePage + ": 1253"}; }),
       Verdict::Proven, "1 not applicable"},
      {"a 1 MB token line", with(Unelevated(Medium + std::string(1 << 20, ' ') + "x"), [](KitRun&) {}), Verdict::NotProven,
       "proves nothing where the header's token", Mode::Unelevated},
      {"ok and skipped for one check",
       with(r, [](KitRun& x) { x.extra = {"skipped: " + Shell + ": not here"}; }), Verdict::Failed,
       "the report contradicts itself: ok, skipped for " + Shell},
      {"ok and not applicable for one check",
       with(r, [](KitRun& x) { x.codePage = "1253"; x.extra = {"not applicable: " + CodePage + ": 1253"}; }), Verdict::Failed,
       "the report contradicts itself: not applicable, ok for " + CodePage},
      {"an ok line said twice", with(r, [](KitRun& x) { x.extra = {"ok: " + Shell}; }), Verdict::Failed,
       "a line said twice: ok: " + Shell},
      {"the run id none, which the runner writes when given none",
       with(r, [](KitRun& x) { x.runId = "none"; }), Verdict::NotProven, "not this run's", Mode::Elevated, "none"},
      {"a byte-order mark", "\xEF\xBB\xBF" + Report(r), Verdict::NotProven, "the report starts with a byte-order mark"},
      {"a crashed runner's status (0xC00000FD)", Report(r), Verdict::Failed, "LauncherChecks.exe exited -1073741571",
       Mode::Elevated, "12345-678", -1073741571},
      {"the i686 kit on 64-bit Windows: WOW64 not applicable",
       with(r, [](KitRun& x) { x.replace = {Wow64 + "=not applicable: " + Wow64 + ": not WOW64"}; }),
       Verdict::NotProven, "the header states no fact"},
      {"a build the table does not know: WOW64 not applicable",
       with(r, [](KitRun& x) { x.builtFor = "i386"; x.replace = {Wow64 + "=not applicable: " + Wow64 + ": i386"}; }),
       Verdict::NotProven, "the header states no fact"},
      {"code page 932, which the cases cover: not applicable",
       with(r, [](KitRun& x) { x.codePage = "932"; x.replace = {CodePage + "=not applicable: " + CodePage + ": 932"}; }),
       Verdict::NotProven, "the header states no fact"},
      {"a header without the runner's build", with(r, [](KitRun& x) { x.builtFor = ""; }), Verdict::NotProven, "does not state"},
      {"a header without the machine", with(r, [](KitRun& x) { x.machine = ""; }), Verdict::NotProven, "does not state"},
      {"a header without the token", with(r, [](KitRun& x) { x.token = ""; }), Verdict::NotProven, "does not state"},
      {"the i686 kit on 32-bit Windows", with(r, [](KitRun& x) { x.machine = "x86, this runner native";
                                                                x.replace = {Wow64 + "=not applicable: " + Wow64 + ": x86"}; }),
       Verdict::Proven, "1 not applicable"},
      {"a Medium token with virtualization allowed, and not enabled",
       Report(Unelevated("integrity level Medium (S-1-16-8192), elevation type Limited, virtualization allowed yes, enabled no")),
       Verdict::NotProven, "proves nothing where the header's token", Mode::Unelevated},
      {"a Medium token without virtualization allowed",
       with(Unelevated("integrity level Medium (S-1-16-8192), elevation type Limited, virtualization allowed no, enabled yes"),
            [](KitRun&) {}),
       Verdict::NotProven, "proves nothing where the header's token", Mode::Unelevated},
      {"a High-integrity unelevated token", Report(Unelevated(High)), Verdict::NotProven, "proves nothing", Mode::Unelevated},
      {"no user token: not applicable, never a proof",
       with(Unelevated(High), [](KitRun& x) { x.replace = {Virtualization + "=not applicable: " + Virtualization + ": High"}; }),
       Verdict::NotProven, "nothing proven", Mode::Unelevated},
      {"a known Wine difference on Windows",
       with(r, [](KitRun& x) { x.replace = {Shell + "=known Wine difference: " + Shell + ": expanded"}; }),
       Verdict::NotProven, "not a known Wine difference here"},
      {"a known Wine difference under Wine",
       with(r, [](KitRun& x) { x.wine = "8.0"; x.replace = {Shell + "=known Wine difference: " + Shell + ": expanded"}; }),
       Verdict::Proven, "18 required checks proven"},
      {"under Wine, a difference Wine is not known for",
       with(r, [](KitRun& x) { x.wine = "8.0"; x.replace = {CodePage + "=known Wine difference: " + CodePage + ": x"}; }),
       Verdict::NotProven, "not a known Wine difference here"},
  };
  for (const Row& row : rows) {
    const kit::Judgement j = kit::JudgeReport(row.report, row.mode, row.runId, row.status, row.verdictBuild);
    EXPECT_EQ(j.verdict, row.want) << row.name << ": " << kit::Describe(j);
    EXPECT_NE(kit::Describe(j).find(row.reason), std::string::npos) << row.name << ": " << kit::Describe(j);
  }
}

// A failing program's output in the ANSI code page reaches the report, and its JUnit twin, as UTF-8.
TEST(KitVerdict, FailureOutputIsUtf8) {
  const auto latin1 = [](const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) out += c < 0x80 ? std::string(1, static_cast<char>(c))
                                                  : std::string{static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    return out;
  };
  EXPECT_EQ(kit::FailureLines("[ RUN      ] A.B\r\nexpected \xE9t\xE9\r\n", latin1), "\r\n    expected \xC3\xA9t\xC3\xA9");
  EXPECT_EQ(kit::FailureLines("d\xC3\xA9j\xC3\xA0 UTF-8\n", latin1), "\r\n    d\xC3\xA9j\xC3\xA0 UTF-8");
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) EXPECT_FALSE(kit::IsUtf8(bad)) << bad;
}

// The runner's status as cmd passes it on: a number, or the verdict refuses it (never 0).
TEST(KitVerdict, RunnerStatus) {
  const std::pair<const char*, std::optional<long long>> rows[] = {
      {"0", 0}, {"3", 3}, {"-1073741571", -1073741571LL}, {"3221225725", 3221225725LL}, {"", std::nullopt},
      {"crashed", std::nullopt}, {"0x3", std::nullopt}, {"3 ", std::nullopt}, {"-", std::nullopt}, {"99999999999", std::nullopt}};
  for (const auto& [text, want] : rows) {
    long long status = 12345;
    const bool parsed = kit::ParseRunnerStatus(text, status);
    EXPECT_EQ(parsed, want.has_value()) << "\"" << text << "\"";
    if (parsed && want) EXPECT_EQ(status, *want) << text;
  }
}

// A report's bytes in the JUnit files: valid UTF-8 XML whatever they were.
TEST(KitVerdict, XmlTextIsUtf8) {
  const std::pair<std::string, std::string> rows[] = {
      {"d\xC3\xA9j\xC3\xA0 <a> & \"b\"\r\n", "d\xC3\xA9j\xC3\xA0 &lt;a&gt; &amp; &quot;b&quot;&#10;"},
      {"\xE9t\xE9 (1252)", "\xEF\xBF\xBDt\xEF\xBF\xBD (1252)"},
      {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xEF\xBF\xBE\x01\x1F\t", "\xEF\xBF\xBD\t"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}};
  for (const auto& [text, want] : rows) EXPECT_EQ(XmlText(text), want) << text;
}

// The code pages the table covers are those the code-page cases have rows for, and each one's locale is
// one that the test program takes for it: a page dropped from the table, or a case added without it,
// makes runs on that page unprovable.
TEST(KitVerdict, CoveredCodePagesAreTheCases) {
  const auto text = [](const char* path) {
    std::ifstream in(std::string(LAUNCHER_SOURCE_DIR) + path);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  };
  const std::string cases = text("/tests/wine/code_page_test.cpp"), locales = text("/tests/wine/registry_setting.cpp");
  std::set<unsigned> inCases, inTable;
  std::istringstream lines(cases);
  for (std::string line; std::getline(lines, line);) {
    unsigned page = 0;
    char quote = 0;
    if (std::sscanf(line.c_str(), " {%u, %c", &page, &quote) == 2 && quote == '"') inCases.insert(page);
  }
  for (const kit::CoveredCodePage& page : kit::CoveredCodePages()) {
    inTable.insert(page.codePage);
    const std::string language = std::string(page.locale).substr(0, 5);
    EXPECT_NE(locales.find("rfind(\"" + language + "\", 0) == 0) return " + std::to_string(page.codePage) + ";"), std::string::npos)
        << page.locale << " is not the test program's locale for " << page.codePage;
  }
  EXPECT_EQ(inTable, inCases);
}

// The README's list of each mode's checks is the table's, in its order: no second list drifts.
TEST(KitVerdict, ReadmeListsTheTable) {
  std::ifstream in(LAUNCHER_SOURCE_DIR "/kit/README.md");
  std::stringstream readme;
  readme << in.rdbuf();
  for (Mode mode : {Mode::Elevated, Mode::Unelevated}) {
    std::string want;
    for (const kit::RequiredCheck& check : kit::RequiredChecks(mode)) want += std::string("- `") + check.name + "`\n";
    const std::string heading = std::string("**The ") + kit::ModeName(mode) + " run requires:**\n\n";
    const std::size_t at = readme.str().find(heading);
    ASSERT_NE(at, std::string::npos) << heading;
    const std::string list = readme.str().substr(at + heading.size());
    EXPECT_EQ(list.substr(0, list.find("\n\n") + 1), want) << kit::ModeName(mode);
  }
}

}  // namespace
