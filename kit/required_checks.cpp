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

const RequiredCheck* FindCheck(const std::string& name) {
  for (const RequiredCheck& check : RequiredChecks())
    if (name == check.name) return &check;
  return nullptr;
}

const std::vector<CoveredCodePage>& CoveredCodePages() {
  // hi_IN has no ANSI code page of its own: Wine, like Windows with the UTF-8 option, uses 65001.
  static const std::vector<CoveredCodePage> pages = {
      {1252, "en_US.UTF-8"}, {1251, "ru_RU.UTF-8"}, {932, "ja_JP.UTF-8"}, {65001, "hi_IN.UTF-8"}};
  return pages;
}

bool CodePageCovered(unsigned codePage) {
  for (const CoveredCodePage& page : CoveredCodePages())
    if (page.codePage == codePage) return true;
  return false;
}

namespace {

// The mandatory label's RID as a SID (SECURITY_MANDATORY_*_RID), and its name.
const char* IntegrityName(const std::string& sid) {
  const struct { const char* sid; const char* name; } levels[] = {
      {"S-1-16-0", "Untrusted"}, {"S-1-16-4096", "Low"}, {"S-1-16-8192", "Medium"}, {"S-1-16-8448", "Medium Plus"},
      {"S-1-16-12288", "High"}, {"S-1-16-16384", "System"}, {"S-1-16-20480", "Protected"}};
  for (const auto& level : levels)
    if (sid == level.sid) return level.name;
  return "unknown";
}

const char SidStart[] = " (", TypeStart[] = "), elevation type ", AllowedStart[] = ", virtualization allowed ",
           EnabledStart[] = ", enabled ";

}  // namespace

std::string TokenLine(const TokenStatement& token) {
  return std::string("integrity level ") + IntegrityName(token.sid) + SidStart + token.sid + TypeStart + token.elevationType +
         AllowedStart + (token.allowed ? "yes" : "no") + EnabledStart + (token.enabled ? "yes" : "no");
}

bool ParseTokenLine(const std::string& line, TokenStatement& token) {
  const std::size_t sid = line.find(SidStart), type = line.find(TypeStart), allowed = line.find(AllowedStart),
                    enabled = line.rfind(EnabledStart);
  if (sid == std::string::npos || type == std::string::npos || allowed == std::string::npos || enabled == std::string::npos ||
      !(sid < type && type < allowed && allowed < enabled))
    return false;
  const auto between = [&](std::size_t from, std::size_t length, std::size_t to) { return line.substr(from + length, to - from - length); };
  TokenStatement read;
  read.sid = between(sid, sizeof SidStart - 1, type);
  read.elevationType = between(type, sizeof TypeStart - 1, allowed);
  read.allowed = between(allowed, sizeof AllowedStart - 1, enabled) == "yes";
  read.enabled = line.substr(enabled + sizeof EnabledStart - 1) == "yes";
  // Only a line that TokenLine writes from what was read: no "yes" misspelt, no name that is not the SID's.
  if (TokenLine(read) != line) return false;
  token = read;
  return true;
}

bool VirtualizableToken(const TokenStatement& token) {
  return token.sid == "S-1-16-8192" && token.allowed && (token.elevationType == "Limited" || token.elevationType == "Default");
}

bool VirtualizedToken(const TokenStatement& token) { return VirtualizableToken(token) && token.enabled; }

bool NoWow64Runner(const std::string& builtFor, const std::string& machine) {
  // Decided by how the runner was built, or by 32-bit Windows, never by whoever started it.
  return builtFor == "x86_64" || builtFor == "arm64" || (builtFor == "i686" && machine == "x86, this runner native");
}

}  // namespace kit
