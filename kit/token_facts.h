// What Windows decides registry virtualization and elevation by, as a process's token states it.
#pragma once

#include <windows.h>

#include <string>

namespace runner {

// Whether this process's token has the flag (TokenElevation, TokenVirtualizationEnabled): false where
// it cannot be read.
bool TokenFlag(TOKEN_INFORMATION_CLASS kind);
bool Elevated();

// What Windows decides virtualization and elevation by, as a token states it.
struct TokenFacts {
  std::string integrity = "unknown", sid = "none", elevationType = "unknown";
  bool allowed = false, enabled = false;
  // Windows virtualizes a process whose token is Medium integrity and allows it (UAC on, interactive).
  bool Virtualizable() const {
    return sid == "S-1-16-8192" && allowed && (elevationType == "Limited" || elevationType == "Default");
  }
  std::string Line() const {
    return "integrity level " + integrity + " (" + sid + "), elevation type " + elevationType + ", virtualization allowed " +
           (allowed ? "yes" : "no") + ", enabled " + (enabled ? "yes" : "no");
  }
};

// The facts of a token opened with TOKEN_QUERY; "unknown" and "no" where one cannot be read.
TokenFacts FactsOf(HANDLE token);
TokenFacts OwnToken();
// Wine lets every process write HKLM; Windows, an elevated one.
bool CanWriteMachineRegistry();

}  // namespace runner
