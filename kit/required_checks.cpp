#include "kit/required_checks.h"

namespace kit {

const std::vector<RequiredCheck>& RequiredChecks() {
  using R = RuledOutBy;
  static const std::vector<RequiredCheck> checks = {
      {"test program: registry", Mode::Elevated, R::Nothing, false},
      {"test program: file probe", Mode::Elevated, R::Nothing, false},
      {"test program: code page", Mode::Elevated, R::UncoveredCodePage, false},
      {"test program: end to end", Mode::Elevated, R::Nothing, false},
      {"test program: DLL search", Mode::Elevated, R::Nothing, false},
      {"test program: runtime", Mode::Elevated, R::Nothing, false},
      {"test program: same-publisher build, an untrusted chain: nothing started", Mode::Elevated, R::Nothing, true},
      {"test program: same-publisher build, a trusted chain under Program Files: started", Mode::Elevated, R::Nothing,
       true},
      {"test program: same-publisher build, a trusted chain in a folder under the drive root: nothing started, naming "
       "Authenticated Users or Users", Mode::Elevated, R::Nothing, true},
      {"test program: same-publisher build, a junction on the path: nothing started", Mode::Elevated, R::Nothing,
       true},
      {"test program: a held file's folder cannot be renamed or made a junction", Mode::Elevated, R::Nothing, true},
      {"UTF-8 conversion refuses WC_NO_BEST_FIT_CHARS with ERROR_INVALID_FLAGS", Mode::Elevated, R::Nothing, true},
      {"UTF-8 conversion refuses lpUsedDefaultChar with ERROR_INVALID_PARAMETER", Mode::Elevated, R::Nothing, true},
      {"1252 with flags 0 turns U+0141 into L (best fit)", Mode::Elevated, R::Nothing, false},
      {"1252 with WC_NO_BEST_FIT_CHARS turns U+0141 into ? and says the default was used", Mode::Elevated, R::Nothing, false},
      {"ShellExecuteA does not expand environment variables in the file name", Mode::Elevated, R::Nothing, true},
      {"kernel32 has SetDefaultDllDirectories", Mode::Elevated, R::Nothing, false},
      {"a 32-bit process's HKLM\\Software is WOW6432Node", Mode::Elevated, R::NoWow64, false},
      {"a VirtualStore value overrides HKLM while virtualized, and not once virtualization is off", Mode::Unelevated,
       R::NoVirtualizableToken, true},
  };
  return checks;
}

std::vector<RequiredCheck> RequiredChecks(Mode mode) {
  std::vector<RequiredCheck> ofMode;
  for (const RequiredCheck& check : RequiredChecks())
    if (check.mode == mode) ofMode.push_back(check);
  return ofMode;
}

const char* ModeName(Mode mode) { return mode == Mode::Elevated ? "elevated" : "unelevated"; }

bool ParseMode(const std::string& text, Mode& mode) {
  if (text == "elevated") return mode = Mode::Elevated, true;
  if (text == "unelevated") return mode = Mode::Unelevated, true;
  return false;
}

bool CodePageCovered(unsigned codePage) {
  return codePage == 1252 || codePage == 1251 || codePage == 932 || codePage == 65001;
}

}  // namespace kit
