// What each mode of the check kit must prove: the one list that the runner writes its lines by and that
// the verdict judges a report by. A required check that a fact of the run rules out may say "not
// applicable", and only where its header states that fact. Plain C++: the host tests read it too.
#pragma once

#include <string>
#include <vector>

namespace kit {

enum class Mode { Elevated, Unelevated };

// The facts, each stated in a report's header, under which a required check is not applicable.
enum class RuledOutBy {
  Nothing,
  // The ANSI code page is one that the code-page cases do not cover (a known one, not "unknown").
  UncoveredCodePage,
  // The runner is no 32-bit process on 64-bit Windows: NoWow64Runner.
  NoWow64,
  // The run's token is not virtualized: VirtualizedToken is false.
  NoVirtualizableToken,
};

struct RequiredCheck {
  const char* name;
  Mode mode;
  RuledOutBy ruledOutBy;
  // Under Wine, where Wine is known to differ or cannot stage the check: its "known Wine difference"
  // line stands in for "ok".
  bool wineDiffers;
};

// Every required check, in the order the runner writes them.
const std::vector<RequiredCheck>& RequiredChecks();
std::vector<RequiredCheck> RequiredChecks(Mode mode);

const char* ModeName(Mode mode);
// False for anything but "elevated" and "unelevated".
bool ParseMode(const std::string& text, Mode& mode);

// The table's check of that name, or nullptr: what the runner writes a line for must be in the table.
const RequiredCheck* FindCheck(const std::string& name);

// A code page that the code-page cases (tests/wine/code_page_test.cpp) cover, and the locale that has
// the test program expect it (LC_ALL, as under Wine; Windows fixes the ANSI code page at boot).
struct CoveredCodePage {
  unsigned codePage;
  const char* locale;
};
const std::vector<CoveredCodePage>& CoveredCodePages();
bool CodePageCovered(unsigned codePage);

// What a report's header says of the runner's token, on its "token: " line. The runner decides by the
// statement it writes there, so that the verdict, reading the line back, decides the same.
struct TokenStatement {
  std::string sid = "none", elevationType = "unknown";  // the integrity level's SID; Full, Limited or Default
  bool allowed = false, enabled = false;                  // registry virtualization, as the token states it
};
// "integrity level Medium (S-1-16-8192), elevation type Limited, virtualization allowed yes, enabled yes"
std::string TokenLine(const TokenStatement& token);
// The statement a header's token line makes; false where the line is not one TokenLine writes.
bool ParseTokenLine(const std::string& line, TokenStatement& token);
// Windows virtualizes a process started with such a token, unless the program's manifest asks for an
// execution level: Medium integrity, virtualization allowed, and not an elevated token. Whether it is
// enabled is the process's own (the desktop shell's, which has such a manifest, is not).
bool VirtualizableToken(const TokenStatement& token);
// A process with this token is virtualized: a virtualizable token, with virtualization enabled.
bool VirtualizedToken(const TokenStatement& token);

// A runner that is no 32-bit process on 64-bit Windows, as the header states its build ("runner built
// for: ") and its machine ("machine: "): built for x86_64 or arm64, or built for i686 and running natively
// on 32-bit Windows. False for any build or machine it does not know.
bool NoWow64Runner(const std::string& builtFor, const std::string& machine);

}  // namespace kit
