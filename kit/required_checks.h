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
  // The runner is no 32-bit process on 64-bit Windows: built for x86_64, or 32-bit Windows itself.
  NoWow64,
  // The token is not one that Windows virtualizes: not Medium integrity, or virtualization not allowed.
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

// The code pages the code-page cases cover.
bool CodePageCovered(unsigned codePage);

}  // namespace kit
